#!/usr/bin/env python3
"""The manual's ways of running many workbooks, run as a user would copy them.

Each case takes the shell code of the manual's blocks marked "<!-- tested: NAME -->",
runs it on a folder of trial workbooks (accepted and refused) with quorvel-cli on the
PATH, and checks the combined summary against one quorvel-cli call on all of them:

  gnu-parallel  the GNU parallel example, then the merge (skipped without parallel)
  slurm-array   the Slurm job script, run once per task with SLURM_ARRAY_TASK_ID set
                as Slurm sets it, then the merge
  readers       the summary's .csv and .xlsx read by Python's csv module and openpyxl
                hold the same values as its .json

Usage: scale_out_test.py CASE --cli PATH --manual docs/manual.md --fixtures DIR --modern DIR
Exit status 77 means skipped.
"""

import argparse
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
TRIALS = [
    "nested_unbalanced.lo.xls",
    "blocked_unbalanced.gn.xls",
    "repeat_balanced.xlwt.xls",
    "blocked_no_traits.xlwt.xls",
    "cell_text_in_factor.xlwt.xls",  # refused: its message is a summary row
    "hdr_block_lowercase.lo.xls",    # refused
]
MODERN_TRIALS = [
    "nested_balanced.gn.ods",
    "blocked_balanced.semicolon.csv",
    "repeat_unbalanced.opx.xlsx",
]


def manual_block(manual, name):
    """The code of the fenced block right after the marker of `name`."""
    match = re.search(r"<!-- tested: " + re.escape(name) + r" -->\n```[a-z]*\n(.*?)```",
                      manual, re.S)
    if not match:
        sys.exit(f"the manual has no block marked 'tested: {name}'")
    return match.group(1)


def run(script, cwd, env, check=True):
    result = subprocess.run(["bash", "-c", script], cwd=cwd, env=env, capture_output=True,
                            text=True)
    if check and result.returncode != 0:
        sys.exit(f"failed ({result.returncode}):\n{script}\n{result.stdout}{result.stderr}")
    return result


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def check(condition, message):
    if not condition:
        sys.exit("FAILED: " + message)


class Workspace:
    """A folder with trials/ holding copies of the fixtures and quorvel-cli on the PATH."""

    def __init__(self, args):
        self.root = tempfile.mkdtemp(prefix="scale_out_")
        os.mkdir(os.path.join(self.root, "trials"))
        for name in TRIALS:
            shutil.copy(os.path.join(args.fixtures, name), os.path.join(self.root, "trials"))
        for name in MODERN_TRIALS:
            shutil.copy(os.path.join(args.modern, name), os.path.join(self.root, "trials"))
        cli_dir = os.path.dirname(os.path.abspath(args.cli))
        self.env = dict(os.environ, PATH=cli_dir + os.pathsep + os.environ.get("PATH", ""),
                        SOURCE_DATE_EPOCH="0", TZ="UTC", LC_ALL="C")
        self.env.pop("SLURM_ARRAY_TASK_ID", None)
        with open(args.manual, encoding="utf-8") as f:
            self.manual = f.read()

    def direct_summary(self, extension="csv"):
        """One batch call on every trial, in the same folder and with the same paths."""
        run(f"quorvel-cli analyze trials/* --jobs 2 --output-dir direct "
            f"--summary direct.{extension}", self.root, self.env, check=False)
        return os.path.join(self.root, "direct." + extension)

    def expect_same_as_direct(self, merged):
        header, rows = read_csv(os.path.join(self.root, merged))
        direct_header, direct_rows = read_csv(self.direct_summary())
        check(header == direct_header, f"headers differ: {header} / {direct_header}")
        check(sorted(rows) == sorted(direct_rows),
              f"rows differ:\n{sorted(rows)}\n{sorted(direct_rows)}")
        statuses = {row[0]: row[-1] for row in rows}
        check(statuses["trials/cell_text_in_factor.xlwt.xls"] == "Data Error!\n At Row 6 Col 1 ",
              f"refused workbook's status: {statuses}")
        accepted = {row[0] for row in rows if row[-1] == "ok"}
        check(len(accepted) == len(TRIALS) + len(MODERN_TRIALS) - 2,
              f"every workbook but the two refused: {sorted(accepted)}")
        for stem in ("nested_unbalanced.lo", "blocked_unbalanced.gn", "repeat_balanced.xlwt",
                     "nested_balanced.gn", "blocked_balanced.semicolon", "repeat_unbalanced.opx"):
            for name in ("result.txt", "tmp.txt"):
                with open(os.path.join(self.root, "results", stem, name), "rb") as a, \
                        open(os.path.join(self.root, "direct", stem, name), "rb") as b:
                    check(a.read() == b.read(), f"{stem}/{name} differs from the direct run")

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def gnu_parallel(ws):
    if shutil.which("parallel") is None:
        print("skipped: GNU parallel is not installed (scripts/setup.sh installs it)")
        return SKIP
    # parallel exits with the number of failed calls: the refused workbooks fail.
    result = run(manual_block(ws.manual, "gnu-parallel"), ws.root, ws.env, check=False)
    check(result.returncode == 2, f"parallel's exit status {result.returncode}:\n{result.stderr}")
    check(len(os.listdir(os.path.join(ws.root, "summaries"))) == len(TRIALS) + len(MODERN_TRIALS),
          "a summary per call")
    run(manual_block(ws.manual, "merge"), ws.root, ws.env)
    ws.expect_same_as_direct("all.csv")
    return 0


def slurm_array(ws):
    with open(os.path.join(ws.root, "quorvel-array.sh"), "w", encoding="utf-8") as f:
        f.write(manual_block(ws.manual, "slurm-array"))
    run("ls trials/* > trials.txt", ws.root, ws.env)
    with open(os.path.join(ws.root, "trials.txt"), encoding="utf-8") as f:
        tasks = len(f.read().splitlines())
    check(tasks == len(TRIALS) + len(MODERN_TRIALS), "one line per workbook")
    for task in range(1, tasks + 1):
        env = dict(ws.env, SLURM_ARRAY_TASK_ID=str(task), SLURM_ARRAY_JOB_ID="4242")
        result = subprocess.run(["bash", "quorvel-array.sh"], cwd=ws.root, env=env,
                                capture_output=True, text=True)
        summary = os.path.join(ws.root, "summaries", f"{task}.csv")
        check(os.path.exists(summary), f"task {task} wrote no summary:\n{result.stderr}")
        _, rows = read_csv(summary)
        refused = any(row[-1] not in ("ok",) for row in rows)
        # A refused workbook fails its task, as Slurm should see it.
        check((result.returncode != 0) == refused, f"task {task}: exit {result.returncode}")
    run(manual_block(ws.manual, "merge"), ws.root, ws.env)
    ws.expect_same_as_direct("all.csv")
    return 0


def readers(ws):
    try:
        import openpyxl
    except ImportError:
        print("skipped: python3-openpyxl is not installed (scripts/setup.sh installs it)")
        return SKIP
    with open(ws.direct_summary("json"), encoding="utf-8") as f:
        document = json.load(f)
    columns = list(document["rows"][0].keys())
    expected = [[row[c] for c in columns] for row in document["rows"]]

    header, rows = read_csv(ws.direct_summary("csv"))
    check(header == columns, "CSV header = JSON keys")

    def from_csv(text, like):
        if text == "":
            return None
        if isinstance(like, str) or like is None:
            return text
        return int(text) if isinstance(like, int) else float(text)

    check([[from_csv(t, e) for t, e in zip(row, exp)] for row, exp in zip(rows, expected)]
          == expected, "CSV values = JSON values, numbers to the last bit")

    book = openpyxl.load_workbook(ws.direct_summary("xlsx"), read_only=True)
    check(book.sheetnames == ["Summary"], f"sheets {book.sheetnames}")
    sheet_rows = [list(r) for r in book["Summary"].iter_rows(values_only=True)]
    check(sheet_rows[0] == columns, "xlsx header = JSON keys")
    body = [[None if v == "" else v for v in r] + [None] * (len(columns) - len(r))
            for r in sheet_rows[1:]]
    check(len(body) == len(expected), "xlsx rows")
    # The .xlsx writer stores a number with 16 significant digits, one short of what
    # every double needs to read back exactly: a relative difference of 1e-15 at most.
    def same(got, want):
        if isinstance(want, float) and isinstance(got, (int, float)):
            return abs(got - want) <= 1e-15 * abs(want)
        return got == want and type(got) is type(want)

    for got, want in zip(body, expected):
        check(len(got) == len(want) and all(same(g, w) for g, w in zip(got, want)),
              f"xlsx row {got}\n  != {want}")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["gnu-parallel", "slurm-array", "readers"])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--manual", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--modern", required=True)
    args = parser.parse_args()
    ws = Workspace(args)
    try:
        status = {"gnu-parallel": gnu_parallel, "slurm-array": slurm_array,
                  "readers": readers}[args.case](ws)
    finally:
        ws.close()
    if status == 0:
        print("passed")
    return status


if __name__ == "__main__":
    sys.exit(main())
