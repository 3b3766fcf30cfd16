#!/usr/bin/python3
"""Checks the exports of one analysis against each other and against a report.

    check_exports.py SCHEMA REPORT RESULT.json RESULT.csv RESULT.xlsx [KNOWN ...]

- RESULT.json is valid under SCHEMA (JSON Schema 2020-12);
- every number of the JSON agrees with the number REPORT prints for it, to the printed
  digits (1.5 units of the last decimal; a value that is not finite is null where the
  report prints nan or inf), and the stars of the male differences agree with their p;
- every confidence interval of the JSON is whole or absent (both bounds numbers or both
  null), holds its estimate, has the method of its row and the level of the run, and is
  absent exactly where its method has none (a random component at or below zero);
- RESULT.csv holds exactly the JSON's numbers (full precision, empty for null);
- RESULT.xlsx, read by openpyxl, holds the same numbers (to the 16 significant digits the
  format stores) with a bold, frozen header row and 4 decimals shown.
KNOWN names numbers known to differ from REPORT ("trait 1 Sigma_E se"), which are not
compared with it. Exits 1 with the differences on standard error, 0 when all agree.
"""
import csv
import json
import math
import re
import sys

import jsonschema
import openpyxl

NUMBER = re.compile(r"^\(?(-?(?:\d+\.\d+|nan|inf))\)?(\*{0,2})$")
failures = []
known = set()


def fail(message):
    failures.append(message)


def parse_report(text):
    """Maps (trait, section, row, column) to the printed text of every number."""
    printed = {}
    trait = None
    section = None
    male_columns = []
    matrix_row = None
    for line in text.split("\r\n"):
        header = re.match(r"   (Testing the model|Testing factors|Parameter estimates) for trait (\d+):", line)
        if header:
            section = {"Testing the model": "model", "Testing factors": "factors",
                       "Parameter estimates": "estimates"}[header.group(1)]
            trait = int(header.group(2))
            continue
        header = re.match(r"   T values of test for difference between two males for trait (\d+) \(\d+\):", line)
        if header:
            section, trait, male_columns = "males", int(header.group(1)), None
            continue
        header = re.match(r"   Estimates of variance components and heritabilites for trait (\d+):", line)
        if header:
            section, trait = "random", int(header.group(1))
            continue
        header = re.match(r"   Genetic correlation matrix of (male|female|repeat x female) effects", line)
        if header:
            section = {"male": "male", "female": "female", "repeat x female": "female_by_repeat"}[header.group(1)]
            section = "correlation:" + section
            matrix_row = None
            continue
        tokens = re.sub(r"\(\s+", "(", line).split()
        if not tokens or tokens[0].startswith(("=", "-", "*")) or section is None:
            continue
        if section == "males":
            if male_columns is None:
                male_columns = tokens
                continue
            if tokens[0] == "*p<0.05,":
                continue
            for k, token in enumerate(tokens[1:]):
                printed[(trait, "males", tokens[0], male_columns[k])] = token
        elif section.startswith("correlation:"):
            effect = section.split(":")[1]
            if tokens[0] == "Trait":
                continue
            if re.fullmatch(r"\d+", tokens[0]):
                matrix_row = int(tokens[0])
                for k, token in enumerate(tokens[1:]):
                    printed[(matrix_row, effect, "r", k + 1)] = token
            elif matrix_row is not None:
                for k, token in enumerate(tokens):
                    printed[(matrix_row, effect, "se", k + 1)] = token
        else:
            numbers = [t for t in tokens if NUMBER.match(t) or re.fullmatch(r"-?\d+", t)]
            label = tokens[0]
            if section in ("model", "factors", "estimates", "random"):
                for k, token in enumerate(tokens[1:]):
                    printed[(trait, section, label, k)] = token
    return printed


def agree(value, token, what):
    if what in known:
        return
    match = NUMBER.match(token)
    if re.fullmatch(r"-?\d+", token):
        if value != int(token):
            fail(f"{what}: {value} against the report's {token}")
        return
    if not match:
        fail(f"{what}: the report prints '{token}'")
        return
    text = match.group(1)
    if text.endswith("nan") or text.endswith("inf"):
        if value is not None:
            fail(f"{what}: {value} where the report prints {text}")
        return
    if value is None:
        fail(f"{what}: null where the report prints {text}")
        return
    decimals = len(text.split(".")[1])
    if abs(value - float(text)) > 1.5 * 10 ** -decimals + 1e-12:
        fail(f"{what}: {value!r} against the report's {text}")


def check_against_report(result, printed):
    for t, trait in enumerate(result["traits"], start=1):
        fixed = trait["fixed"]
        for label, entry, keys in (("Model", fixed["model"], ["df", "ss", "ms", "f", "p"]),
                                   ("Error", fixed["error"], ["df", "ss", "ms"]),
                                   ("Total", fixed["total"], ["df", "ss"])):
            for k, key in enumerate(keys):
                agree(entry[key], printed.get((t, "model", label, k), "missing"), f"trait {t} {label} {key}")
        for factor in fixed["factors"]:
            for k, key in enumerate(["df", "ss", "ms", "f", "p"]):
                agree(factor[key], printed.get((t, "factors", factor["source"], k), "missing"),
                      f"trait {t} factor {factor['source']} {key}")
        for estimate in fixed["estimates"]:
            for k, key in enumerate(["estimate", "se", "t", "p"]):
                agree(estimate[key], printed.get((t, "estimates", estimate["parameter"], k), "missing"),
                      f"trait {t} {estimate['parameter']} {key}")
        for pair in fixed["male_differences"]:
            token = printed.get((t, "males", pair["male"], pair["versus"]), "missing")
            what = f"trait {t} {pair['male']} - {pair['versus']}"
            agree(pair["t"], token.rstrip("*"), what + " t")
            stars = len(token) - len(token.rstrip("*"))
            p = pair["p"]
            if p is not None:
                expected_stars = 2 if p < 0.01 else 1 if p <= 0.05 else 0
                # p within rounding of a class boundary may fall either side.
                near = min(abs(p - 0.01), abs(p - 0.05)) < 1e-9
                if stars != expected_stars and not near:
                    fail(f"{what}: p {p} but the report prints {stars} stars")
        for component in trait["random"]["components"]:
            keys = ["estimate", "se", "f", "p"] if "f" in component else ["estimate", "se"]
            for k, key in enumerate(keys):
                agree(component[key], printed.get((t, "random", component["parameter"], k), "missing"),
                      f"trait {t} {component['parameter']} {key}")
        for h in trait["random"]["heritabilities"]:
            for k, key in enumerate(["estimate", "se"]):
                agree(h[key], printed.get((t, "random", h["parameter"], k), "missing"), f"trait {t} {h['parameter']} {key}")
    names = [trait["name"] for trait in result["traits"]]
    for c in result["correlations"]:
        i, j = names.index(c["trait"]) + 1, names.index(c["with"]) + 1
        for key in ("r", "se"):
            for a, b in ((i, j), (j, i)):
                agree(c[key], printed.get((a, c["effect"], key, b), "missing"), f"{c['effect']} r({a},{b}) {key}")


def json_numbers(result):
    """The JSON's numbers keyed as the CSV's rows are: (trait, table, row, column)."""
    numbers = {}
    for trait in result["traits"]:
        name = trait["name"]
        fixed = trait["fixed"]
        for row, entry in (("Model", fixed["model"]), ("Error", fixed["error"]), ("Total", fixed["total"])):
            for key, value in entry.items():
                numbers[(name, "model", row, key.upper())] = value
        for factor in fixed["factors"]:
            for key in ("df", "ss", "ms", "f", "p"):
                numbers[(name, "factors", factor["source"], key.upper())] = factor[key]
        for e in fixed["estimates"]:
            for key, column in (("estimate", "Estimate"), ("se", "SE"), ("t", "T"), ("p", "P")):
                numbers[(name, "estimates", e["parameter"], column)] = e[key]
            numbers[(name, "estimates", e["parameter"], "Lower")] = e["ci"]["lower"]
            numbers[(name, "estimates", e["parameter"], "Upper")] = e["ci"]["upper"]
        for pair in fixed["male_differences"]:
            row = f"{pair['male']} vs {pair['versus']}"
            numbers[(name, "male_differences", row, "T")] = pair["t"]
            numbers[(name, "male_differences", row, "P")] = pair["p"]
        for c in trait["random"]["components"]:
            for key, column in (("estimate", "Estimate"), ("se", "SE"), ("f", "F"), ("p", "P")):
                if key in c:
                    numbers[(name, "components", c["parameter"], column)] = c[key]
            numbers[(name, "components", c["parameter"], "Lower")] = c["ci"]["lower"]
            numbers[(name, "components", c["parameter"], "Upper")] = c["ci"]["upper"]
        for h in trait["random"]["heritabilities"]:
            numbers[(name, "heritabilities", h["parameter"], "Estimate")] = h["estimate"]
            numbers[(name, "heritabilities", h["parameter"], "SE")] = h["se"]
            numbers[(name, "heritabilities", h["parameter"], "Lower")] = h["ci"]["lower"]
            numbers[(name, "heritabilities", h["parameter"], "Upper")] = h["ci"]["upper"]
    for c in result["correlations"]:
        numbers[(c["trait"], "correlations_" + c["effect"], c["with"], "R")] = c["r"]
        numbers[(c["trait"], "correlations_" + c["effect"], c["with"], "SE")] = c["se"]
    return numbers


def check_intervals(result):
    """Each interval against its own row: whole or absent, around its estimate, of the
    row's method and the run's level, absent exactly where the method defines none."""
    levels = set()

    def check(what, row, method):
        ci = row["ci"]
        levels.add(ci["level"])
        if ci["method"] != method:
            fail(f"{what}: interval method {ci['method']}, expected {method}")
        lower, upper, estimate = ci["lower"], ci["upper"], row["estimate"]
        if (lower is None) != (upper is None):
            fail(f"{what}: half an interval {ci}")
            return
        if method in ("chisq", "satterthwaite"):
            se = row["se"]
            positive = estimate is not None and estimate > 0 and se is not None and se > 0
            # Satterthwaite's df 2 (estimate / se)^2 below about 0.01 puts the upper limit
            # beyond the largest double: then the interval is absent too.
            tiny_df = positive and 2 * (estimate / se) ** 2 < 0.05
            if lower is not None and not positive or lower is None and positive and not tiny_df:
                fail(f"{what}: interval {ci} for estimate {estimate} and se {se}")
        if lower is not None and not (lower <= estimate <= upper):
            fail(f"{what}: interval {ci} does not hold its estimate {estimate}")
        if lower is not None and method in ("chisq", "satterthwaite") and lower <= 0:
            fail(f"{what}: a variance interval reaching {lower}")

    for trait in result["traits"]:
        name = trait["name"]
        for e in trait["fixed"]["estimates"]:
            check(f"{name} {e['parameter']}", e, "t")
        for c in trait["random"]["components"]:
            check(f"{name} {c['parameter']}", c, "chisq" if c["parameter"] == "Sigma_E" else "satterthwaite")
        for h in trait["random"]["heritabilities"]:
            check(f"{name} {h['parameter']}", h, "wald")
    if len(levels) > 1:
        fail(f"intervals of different levels {sorted(levels)}")


def check_csv(path, numbers):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    if rows[0] != ["trait", "table", "row", "column", "value"]:
        fail(f"CSV header {rows[0]}")
    seen = {}
    for row in rows[1:]:
        key = tuple(row[:4])
        seen[key] = None if row[4] == "" else float(row[4])
    only_json = [k for k in numbers if k not in seen]
    only_csv = [k for k in seen if k not in numbers]
    if only_json or only_csv:
        fail(f"CSV rows differ from the JSON: {only_json[:3]} missing, {only_csv[:3]} extra")
    for key, value in numbers.items():
        if key in seen and seen[key] != (None if value is None else float(value)):
            fail(f"CSV {key}: {seen[key]!r} against the JSON's {value!r}")


def close(a, b):
    if a is None or b is None:
        return a is None and b is None
    return a == b or abs(a - b) <= 2e-16 * max(abs(a), abs(b)) * 8


def check_xlsx(path, result):
    book = openpyxl.load_workbook(path)
    expected_sheets = ["Analysis", "Model tests", "Factor tests", "Estimates", "Male differences",
                       "Components", "Heritabilities", "Correlations"]
    if book.sheetnames[: len(expected_sheets)] != expected_sheets:
        fail(f"xlsx sheets {book.sheetnames}")
        return
    for name in expected_sheets:
        sheet = book[name]
        if sheet.freeze_panes != "A2":
            fail(f"xlsx {name}: header not frozen ({sheet.freeze_panes})")
        if not all(cell.font.bold for cell in sheet[1]):
            fail(f"xlsx {name}: header not bold")
        header = [cell.value for cell in sheet[1]]
        if name in ("Estimates", "Components", "Heritabilities") and header[-2:] != ["Lower", "Upper"]:
            fail(f"xlsx {name}: header {header} without the interval's Lower and Upper")
    rows = {name: [[c.value for c in row] for row in book[name].iter_rows(min_row=2)] for name in expected_sheets}
    expected = {"Estimates": [], "Components": [], "Heritabilities": [], "Correlations": [], "Male differences": []}
    for trait in result["traits"]:
        n = trait["name"]
        expected["Estimates"] += [[n, e["parameter"], e["estimate"], e["se"], e["t"], e["p"],
                                   e["ci"]["lower"], e["ci"]["upper"]] for e in trait["fixed"]["estimates"]]
        expected["Components"] += [[n, c["parameter"], c["estimate"], c["se"], c.get("f"), c.get("p"),
                                    c["ci"]["lower"], c["ci"]["upper"]] for c in trait["random"]["components"]]
        expected["Heritabilities"] += [[n, h["parameter"], h["estimate"], h["se"], h["ci"]["lower"], h["ci"]["upper"]]
                                       for h in trait["random"]["heritabilities"]]
        expected["Male differences"] += [[n, d["male"], d["versus"], d["t"], d["p"]] for d in trait["fixed"]["male_differences"]]
    expected["Correlations"] = [[c["effect"], c["trait"], c["with"], c["r"], c["se"]] for c in result["correlations"]]
    for name, table in expected.items():
        got = [row[: len(table[0])] for row in rows[name]] if table else rows[name]
        if len(got) != len(table):
            fail(f"xlsx {name}: {len(got)} rows against {len(table)}")
            continue
        for r, (a, b) in enumerate(zip(got, table)):
            for x, y in zip(a, b):
                same = x == y if isinstance(y, str) else close(x, y)
                if not same:
                    fail(f"xlsx {name} row {r + 2}: {a} against {b}")
                    break
    for row in book["Estimates"].iter_rows(min_row=2, max_row=2, min_col=3, max_col=3):
        if row[0].value is not None and row[0].number_format != "0.0000":
            fail(f"xlsx numbers shown as {row[0].number_format}")


def main():
    schema_path, report_path, json_path, csv_path, xlsx_path = sys.argv[1:6]
    known.update(sys.argv[6:])
    with open(schema_path) as f:
        schema = json.load(f)
    with open(json_path) as f:
        result = json.load(f)
    try:
        jsonschema.validate(result, schema, cls=jsonschema.Draft202012Validator)
    except jsonschema.ValidationError as error:
        fail(f"JSON not valid under the schema: {error.message} at {list(error.absolute_path)}")
    with open(report_path, encoding="latin-1", newline="") as f:
        check_against_report(result, parse_report(f.read()))
    check_intervals(result)
    numbers = json_numbers(result)
    check_csv(csv_path, numbers)
    check_xlsx(xlsx_path, result)
    for message in failures[:20]:
        print(message, file=sys.stderr)
    if failures:
        print(f"{len(failures)} differences", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
