#!/usr/bin/python3
"""Writes the example nested design: examples/nested_design.csv and .xls.

    make_nested_design.py [SEED]      (default 15, the seed of the files in this folder)

Twelve sires with non-consecutive codes, 3 to 6 dams each, 3 to 8 offspring per dam,
three traits. Sire, dam and residual effects are drawn from a normal model whose additive
variances give heritabilities of 0.45, 0.35 and 0.5 and genetic correlations of 0.5 (traits
1 and 2) and 0.3 (traits 1 and 3); the dam effects carry a small common-environment
variance besides. Seed 15 was chosen because its report shows every variance component
positive and its male test significant, the heritabilities between 0 and 1 and every
correlation defined. The .xls is
written by xlwt (Debian's python3-xlwt).
"""
import math
import os
import random
import sys

import xlwt

MALES = [3, 5, 8, 11, 14, 17, 21, 26, 30, 34, 39, 45]
MEANS = [250.0, 24.5, 36.0]
PHENOTYPIC = [400.0, 4.0, 25.0]  # phenotypic variances
HERITABILITY = [0.45, 0.35, 0.5]
COMMON = [40.0, 0.3, 2.0]  # common-environment variance of full sibs


def correlated(rnd, sd, r12, r13):
    """Three normal deviates with standard deviations sd and correlations r12, r13 with the first."""
    z = [rnd.gauss(0, 1) for _ in range(3)]
    return [sd[0] * z[0],
            sd[1] * (r12 * z[0] + math.sqrt(1 - r12 * r12) * z[1]),
            sd[2] * (r13 * z[0] + math.sqrt(1 - r13 * r13) * z[2])]


def generate(seed):
    rnd = random.Random(seed)
    sire_sd = [math.sqrt(0.25 * h * p) for h, p in zip(HERITABILITY, PHENOTYPIC)]
    dam_sd = [math.sqrt(0.25 * h * p + c) for h, p, c in zip(HERITABILITY, PHENOTYPIC, COMMON)]
    residual_sd = [math.sqrt(p * (1 - 0.5 * h)) for h, p in zip(HERITABILITY, PHENOTYPIC)]
    rows = []
    for male in MALES:
        sire = correlated(rnd, sire_sd, 0.5, 0.3)
        for female in range(1, rnd.randint(3, 6) + 1):
            dam = correlated(rnd, dam_sd, 0.4, 0.2)
            for _ in range(rnd.randint(3, 8)):
                residual = correlated(rnd, residual_sd, 0.2, 0.0)
                values = [MEANS[t] + sire[t] + dam[t] + residual[t] for t in range(3)]
                rows.append((male, female, *(round(v, 2) for v in values)))
    return rows


def main():
    seed = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    rows = generate(seed)
    folder = os.path.dirname(os.path.abspath(__file__))
    header = ["Male", "Female", "Trait1", "Trait2", "Trait3"]
    with open(os.path.join(folder, "nested_design.csv"), "w") as out:
        out.write(",".join(header) + "\n")
        for row in rows:
            out.write("%d,%d,%.2f,%.2f,%.2f\n" % row)
    book = xlwt.Workbook()
    sheet = book.add_sheet("Sheet1")
    for column, name in enumerate(header):
        sheet.write(0, column, name)
    for r, row in enumerate(rows, start=1):
        for column, value in enumerate(row):
            sheet.write(r, column, value)
    book.save(os.path.join(folder, "nested_design.xls"))
    print(f"{len(rows)} offspring of {len(MALES)} sires")


if __name__ == "__main__":
    main()
