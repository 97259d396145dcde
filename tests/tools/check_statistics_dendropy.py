#!/usr/bin/env python3
"""The statistics table against DendroPy's population-genetic statistics computed on the
sequence file of the same simulations.

A root sequence file gives the ancestral state to both sides. The mutation rate is high
enough that many sites are hit more than once, so sites with three or four bases occur:
both sides count such a site once as segregating, count pairwise differences base by base,
and, in the unfolded spectrum, count every copy whose base is not the root's as derived.
DendroPy's spectrum takes the first sequence as ancestral unless told otherwise: it is
given the root here. DendroPy's Tajima's D divides by zero without a segregating site,
where the table writes NA. Watterson's theta is per sequence in DendroPy and per site in
the table. The haplotype count and diversity are recomputed here from the sequences.

usage: check_statistics_dendropy.py QUENLITH_CLI WORKDIR
"""
import csv
import math
import os
import random
import subprocess
import sys

import dendropy
from dendropy.calculate import popgenstat

K, SIMS, LENGTH = 12, 40, 300
TOL = 1e-9


largest = [0.0]


def close(a, b):
    largest[0] = max(largest[0], abs(a - b) / max(1.0, abs(a), abs(b)))
    return abs(a - b) <= TOL * max(1.0, abs(a), abs(b))


def run(cli, work, diploid, rate):
    out = os.path.join(work, ("diploid-" if diploid else "haploid-") + rate)
    os.makedirs(out, exist_ok=True)
    rng = random.Random(8)
    root = "".join(rng.choice("ACGT") for _ in range(LENGTH))
    with open(os.path.join(out, "root.txt"), "w") as f:
        f.write(root)
    args = [cli, "--seed", "17", "--sims", str(SIMS), "--sample-size", str(K), "--pop-size",
            "150", "--seq-input", "root.txt", "--mutation-rate", rate, "--model", "K2P",
            "--seq-out", "--stats", "stats.csv", "--workdir", out, "--quiet"]
    if diploid:
        args.append("--diploid")
    subprocess.run(args, check=True)
    return out, root


def nexus_blocks(path):
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    parts = data.split("#NEXUS")[1:]
    assert len(parts) == SIMS
    return [dendropy.DnaCharacterMatrix.get(data="#NEXUS" + p, schema="nexus") for p in parts]


def main():
    cli, work = sys.argv[1], sys.argv[2]
    compared = triallelic = undefined_d = 0
    # A high rate (many sites hit more than once) and a low one (some simulations without a
    # segregating site).
    for diploid, rate in ((False, "0.0004"), (True, "0.0004"), (False, "0.000005")):
        out, root = run(cli, work, diploid, rate)
        ancestral = dendropy.DnaCharacterMatrix.from_dict({"root": root})[0]
        with open(os.path.join(out, "stats.csv"), newline="") as f:
            rows = list(csv.DictReader(f))
        assert len(rows) == SIMS
        assert list(rows[0])[-1] == "sfs_%d" % (K - 1)
        for s, (row, matrix) in enumerate(zip(rows, nexus_blocks(os.path.join(out, "seqout.txt"))),
                                          start=1):
            assert int(row["simulation"]) == s
            seqs = [str(matrix[t]) for t in matrix]
            assert len(seqs) == K
            S = popgenstat.num_segregating_sites(matrix)
            assert int(row["segregating_sites"]) == S, (s, row["segregating_sites"], S)
            khat = popgenstat.average_number_of_pairwise_differences(matrix)
            assert close(float(row["pairwise_differences"]), khat), (s, row, khat)
            assert close(float(row["theta_W"]) * LENGTH, popgenstat.wattersons_theta(matrix))
            assert close(float(row["theta_pi"]) * LENGTH, khat)
            if S > 0:
                assert close(float(row["tajima_D"]), popgenstat.tajimas_d(matrix)), s
            else:
                assert row["tajima_D"] == "NA"
                undefined_d += 1
            sfs = popgenstat.unfolded_site_frequency_spectrum(matrix, ancestral_sequence=ancestral)
            for i in range(1, K):
                assert int(row["sfs_%d" % i]) == sfs[i], (s, i, row["sfs_%d" % i], sfs[i])
            # Haplotypes, from the sequences.
            counts = {}
            for q in seqs:
                counts[q] = counts.get(q, 0) + 1
            assert int(row["haplotypes"]) == len(counts)
            hd = 1 - sum(c * (c - 1) for c in counts.values()) / (K * (K - 1))
            assert close(float(row["haplotype_diversity"]), hd)
            triallelic += sum(1 for j in range(LENGTH) if len({q[j] for q in seqs}) > 2)
            for name in ("fu_li_D_star", "fu_li_F_star", "fay_wu_H"):
                assert row[name] == "NA" or math.isfinite(float(row[name]))
            compared += 1
    assert triallelic > 0, "no site with three bases: the check would not cover them"
    assert undefined_d > 0, "no simulation without segregating site"
    print("statistics of %d simulations equal DendroPy's (to %g; largest difference %.2g); %d "
          "sites with three or more bases; %d without segregating site (Tajima's D NA)"
          % (compared, TOL, largest[0], triallelic, undefined_d))


if __name__ == "__main__":
    main()
