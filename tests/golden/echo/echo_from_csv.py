#!/usr/bin/env python3
"""Writes the data echo ("tmp.txt") that an import of a sheet should produce, computed
from the sheet's CSV source instead of the workbook, as an independent check of the
program's echo. Usage: echo_from_csv.py SHEET.csv > NAME.tmp.txt"""
import csv
import math
import sys

FORMULAS = {
    2: "yijk = u + Mi + Fij + eijk. ",
    3: "yijkl = u + Bi + Mj + Fjk + eijkl. ",
    4: "yijklm = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklm. ",
}


def factor_count(header):
    if header[:4] == ["Block", "Male", "Female", "Repeat"]:
        return 4
    if header[:3] == ["Block", "Male", "Female"]:
        return 3
    if header[:2] == ["Male", "Female"]:
        return 2
    raise SystemExit("not a data sheet")


def main(path):
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f)]
    header, data = rows[0], [r for r in rows[1:] if any(c.strip() for c in r)]
    factors = factor_count(header)
    traits = len(header) - factors
    codes = [[math.trunc(float(r[f])) for r in data] for f in range(factors)]
    values = [[float(r[factors + t]) for r in data] for t in range(traits)]

    out = "\r\n   The data can be analyzed with the following model: \r\n"
    out += "\r\n   " + FORMULAS[factors] + "\r\n\r\n"
    out += "   Factor Levels:\r\n\r\n"
    for f in range(factors):
        out += "   " + header[f] + ": " + "".join("%d " % c for c in sorted(set(codes[f]))) + "\r\n"
    out += "\r\n\r\n" + "   Individual data: \r\n\r\n\r\n" + "\r\n"
    out += "".join("   " + header[f] for f in range(factors))
    out += "".join(("%18s" % header[factors + t])[:18] for t in range(traits)) + "\r\n"
    for i in range(len(data)):
        out += "".join(("%8d" % codes[f][i])[:8] for f in range(factors)) + "  "
        out += "".join(("%16.4f  " % values[t][i])[:18] for t in range(traits)) + "\r\n"
    sys.stdout.buffer.write(out.encode("latin-1"))


if __name__ == "__main__":
    main(sys.argv[1])
