#!/usr/bin/env python3
"""Runs quenlith-cli and reads every Newick line with DendroPy: each tree has the k sample
copies as leaves and branch lengths, is ultrametric, and its height is the TMRCA of the same
simulation in the summary table.

usage: check_newick_dendropy.py QUENLITH_CLI WORKDIR
"""
import os
import subprocess
import sys

import dendropy

K, SIMS = 12, 25


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    subprocess.run([cli, "--seed", "5", "--sims", str(SIMS), "--sample-size", str(K),
                    "--pop-size", "400", "--seq-diversity", "--workdir", work, "--quiet"],
                   check=True)
    with open(os.path.join(work, "outfile.csv"), "rb") as f:
        rows = f.read().decode("ascii").split("\r\n")
    assert rows[-1] == "" and len(rows) == SIMS + 2
    tmrca = [int(r.split(", ")[1]) for r in rows[1:-1]]
    with open(os.path.join(work, "NewickTrees.tre"), "rb") as f:
        lines = f.read().decode("ascii").split("\r\n")
    assert lines[-1] == "" and len(lines) == SIMS + 1
    for s, line in enumerate(lines[:-1], start=1):
        # Leaf names are numbers: keep them as labels, not as taxon indices.
        tree = dendropy.Tree.get(data=line, schema="newick", preserve_underscores=True,
                                 suppress_leaf_node_taxa=False)
        leaves = sorted(int(n.taxon.label) for n in tree.leaf_node_iter())
        assert leaves == list(range(K)), (s, leaves)
        for node in tree.preorder_node_iter():
            if node is tree.seed_node:
                continue
            assert node.edge.length is not None and node.edge.length > 0, (s, node)
            assert float(node.edge.length).is_integer()
        heights = {round(n.distance_from_root(), 6) for n in tree.leaf_node_iter()}
        assert len(heights) == 1, (s, heights)  # ultrametric
        tree.calc_node_ages(is_force_max_age=False)
        assert tree.seed_node.age == tmrca[s - 1], (s, tree.seed_node.age, tmrca[s - 1])
        assert heights.pop() == tmrca[s - 1]
    print("read %d trees" % SIMS)


if __name__ == "__main__":
    main()
