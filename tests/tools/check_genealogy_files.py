#!/usr/bin/env python3
"""Runs quenlith-cli and checks its genealogy files against each other, independently of the
program: the Newick lines and both distribution tables are rebuilt here from the event
tables of TreeMatFile.txt and MutMatFile.txt.

usage: check_genealogy_files.py QUENLITH_CLI WORKDIR
"""
import os
import subprocess
import sys


def records(path):
    """Records of a matrix file: number -> list of integer rows."""
    out, current = {}, None
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    assert data == "" or data.endswith("\r\n"), path
    for line in data.split("\r\n")[:-1]:
        if line.startswith("#"):
            current = int(line[1:])
            out[current] = []
        else:
            assert line.endswith(" "), repr(line)
            out[current].append([int(x) for x in line.split()])
    return out


def newick(k, events):
    nodes = [(str(i), 0) for i in range(k)]  # (text, height)
    for g, j, j2 in events:
        assert j2 == j + 1
        (a, ha), (b, hb) = nodes[j], nodes[j + 1]
        nodes[j:j + 2] = [("(%s:%d,%s:%d)" % (a, g - ha, b, g - hb), g)]
    assert len(nodes) == 1
    return nodes[0][0] + ";"


def blocks(path, header):
    with open(path, "rb") as f:
        lines = f.read().decode("ascii").split("\r\n")
    assert lines[-1] == ""
    out = []
    for line in lines[:-1]:
        if line == header:
            out.append([])
        else:
            out[-1].append(tuple(int(x) for x in line.split(",")))
    return out


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    k = 13
    subprocess.run([cli, "--seed", "99", "--sims", "20", "--sample-size", str(k), "--pop-size",
                    "700", "--mutation-rate", "0.00002", "--fluctuating", "--growth-end", "100",
                    "--change-percent", "0.05", "--workdir", work, "--quiet"], check=True)
    tree = records(os.path.join(work, "TreeMatFile.txt"))
    mut = records(os.path.join(work, "MutMatFile.txt"))
    assert sorted(tree) == list(range(1, 21)) == sorted(mut)
    with open(os.path.join(work, "NewickTrees.tre"), "rb") as f:
        lines = f.read().decode("ascii").split("\r\n")
    assert lines[-1] == "" and len(lines) == 21
    coal = blocks(os.path.join(work, "CoalDistrib.csv"), "Time of Coalescence, Total genealogy length")
    muts = blocks(os.path.join(work, "MutDistrib.csv"), "Time of mutation, Total tree length")
    total_mutations = 0
    for n in range(1, 21):
        events = tree[n]
        assert len(events) == k - 1
        gens = [e[0] for e in events]
        assert gens == sorted(set(gens)), "one event per generation, ascending"
        assert lines[n - 1] == newick(k, events), n
        # Total genealogy length after each event.
        length, prev, rows = 0, 0, []
        for e, t in enumerate(gens):
            length += (k - e) * (t - prev)
            prev = t
            rows.append((t, length))
        assert coal[n - 1] == rows, n
        # Mutation values, walked as the table defines them.
        weights = [0] + [(k - e) * (gens[e] - gens[e - 1]) for e in range(1, k - 1)]
        expected = []
        for d, pos in mut[n]:
            assert 1 <= d <= gens[-1]
            lineages = k - sum(1 for t in gens if t < d)
            assert 0 <= pos < lineages, (n, d, pos)
            if d < gens[0]:
                m = k * (gens[0] - d)
            else:
                e, m = 0, 0
                while d > gens[e]:
                    m += weights[e]
                    e += 1
                if gens[e] > d:
                    m += (k - e) * (d - gens[e - 1])
            expected.append((d, m))
        assert muts[n - 1] == expected, n
        total_mutations += len(mut[n])
    assert total_mutations > 0
    print("checked 20 genealogies, %d mutations" % total_mutations)


if __name__ == "__main__":
    main()
