#!/usr/bin/env python3
"""Watterson's theta and theta_pi of the statistics table estimate the same theta under the
neutral model: over 2000 simulations with a constant size, k much smaller than N and a
mutation rate low enough that a site is rarely hit twice, their means agree within 4
standard errors of their mean difference. Both are also compared with the expected value:
theta = 2 N p per sequence for a haploid run of N gene copies (pairs of lineages meet with
probability 1 / N per generation; p = 1 - (1 - u)^L is the per-lineage mutation
probability), within 4 standard errors.

usage: check_theta_estimators.py QUENLITH_CLI WORKDIR
"""
import csv
import math
import os
import subprocess
import sys

SIMS, K, N, L, U = 2000, 10, 1000, 1000, 2.5e-6


def mean_se(values):
    m = sum(values) / len(values)
    var = sum((v - m) ** 2 for v in values) / (len(values) - 1)
    return m, math.sqrt(var / len(values))


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    subprocess.run([cli, "--seed", "2024", "--sims", str(SIMS), "--sample-size", str(K),
                    "--pop-size", str(N), "--seq-length", str(L), "--mutation-rate", str(U),
                    "--stats", "stats.csv", "--workdir", work, "--quiet"], check=True)
    with open(os.path.join(work, "stats.csv"), newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == SIMS
    w = [float(r["theta_W"]) * L for r in rows]
    p = [float(r["theta_pi"]) * L for r in rows]
    mw, sw = mean_se(w)
    mp, sp = mean_se(p)
    md, sd = mean_se([a - b for a, b in zip(w, p)])
    theta = 2 * N * (1 - (1 - U) ** L)
    print("theta_W %.4f (SE %.4f), theta_pi %.4f (SE %.4f), difference %.4f (SE %.4f, %.2f SE); "
          "expected theta %.4f" % (mw, sw, mp, sp, md, sd, md / sd, theta))
    assert abs(md) <= 4 * sd, "theta_W and theta_pi disagree"
    assert abs(mw - theta) <= 4 * sw and abs(mp - theta) <= 4 * sp, "not the expected theta"
    # Tajima's D is centred near 0 under the neutral model.
    d = [float(r["tajima_D"]) for r in rows if r["tajima_D"] != "NA"]
    md_, sd_ = mean_se(d)
    print("Tajima's D mean %.4f (SE %.4f) over %d simulations" % (md_, sd_, len(d)))
    assert abs(md_) < 0.15


if __name__ == "__main__":
    main()
