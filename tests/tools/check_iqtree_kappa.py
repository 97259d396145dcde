#!/usr/bin/env python3
"""IQ-TREE reads the sequence file of a long K2P alignment and, on the true genealogy from
NewickTrees.tre (topology fixed, branch lengths re-estimated), estimates the
transition/transversion rate ratio kappa within 15 % of the Ti:Tv value R of the run.

Under K2P the program's base change is the K80 jump chain with kappa = R: a mutated base
becomes its transition partner with probability R / (R + 2) and each transversion with
1 / (R + 2). One simulation of 8 copies, N = 1000, L = 20000 and u = 2.5e-5 carries about
2000 mutation events (the count is checked), so the estimate has a relative error of
about 5 %.

usage: check_iqtree_kappa.py QUENLITH_CLI WORKDIR
"""
import os
import re
import shutil
import subprocess
import sys

K = 8


def iqtree():
    for name in ("iqtree2", "iqtree", "iqtree3"):
        if shutil.which(name):
            return name
    sys.exit("IQ-TREE not found (Debian package iqtree)")


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    tool = iqtree()
    found = []
    for R in ("0.5", "2", "8"):
        out = os.path.join(work, "R" + R)
        os.makedirs(out, exist_ok=True)
        subprocess.run([cli, "--seed", "101", "--sample-size", str(K), "--pop-size", "1000",
                        "--seq-length", "20000", "--mutation-rate", "0.000025", "--model", "K2P",
                        "--titv", R, "--seq-out", "--workdir", out, "--quiet"], check=True)
        with open(os.path.join(out, "outfile.csv")) as f:
            mutations = int(f.read().splitlines()[1].split(", ")[2])
        assert 1500 <= mutations <= 3000, mutations
        # Leaf i of the tree is copy i + 1, named "<copy>_1" in the sequence file.
        with open(os.path.join(out, "NewickTrees.tre")) as f:
            tree = f.read().strip()
        tree = re.sub(r"([(,])(\d+):", lambda m: "%s%d_1:" % (m.group(1), int(m.group(2)) + 1),
                      tree)
        with open(os.path.join(out, "true.nwk"), "w") as f:
            f.write(tree + "\n")
        prefix = os.path.join(out, "iq")
        subprocess.run([tool, "-s", os.path.join(out, "seqout.txt"), "-m", "K2P", "-te",
                        os.path.join(out, "true.nwk"), "-pre", prefix, "-redo", "-quiet", "-nt",
                        "1", "-seed", "1"], check=True)
        with open(prefix + ".iqtree") as f:
            report = f.read()
        kappa = float(re.search(r"A-G: ([0-9.]+)", report).group(1))
        assert re.search(r"A-C: 1\.0+", report)
        error = abs(kappa - float(R)) / float(R)
        found.append("R=%s: kappa %.4f (%.1f %%, %d mutations)" % (R, kappa, 100 * error,
                                                                   mutations))
        assert error <= 0.15, found[-1]
    print("IQ-TREE on the true genealogy: " + "; ".join(found))


if __name__ == "__main__":
    main()
