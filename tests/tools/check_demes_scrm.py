#!/usr/bin/env python3
"""Demographic models run by quenlith-cli against scrm under the same model in ms syntax.

In the coalescent limit (N0 = 10^4 individuals, ten sampled copies) the discrete-generation
genealogies of quenlith-cli and scrm's continuous-time ones have the same laws. For an
island model, a split, a bottleneck, exponential growth and an admixture pulse, both
programs run 2000 replicates; the two-sample Kolmogorov-Smirnov distance of the TMRCA, the
segregating sites, the mean differences within deme A and between A and B must stay below
the 0.1 % critical value, and the means within five standard errors.

usage: check_demes_scrm.py QUENLITH_CLI WORKDIR
"""
import csv
import math
import os
import re
import subprocess
import sys

N0 = 10000          # individuals; scrm's time unit is 4 N0 generations
LENGTH = 10000      # sites
U = 2.5e-8          # per site and generation: theta = 4 N0 U L = 10
REPLICATES = 2000

HEADER = "time_units: generations\n"


def deme(name, epochs, start=None, ancestors=None, proportions=None):
    text = "  - name: %s\n" % name
    if start is not None:
        text += "    start_time: %s\n" % start
    if ancestors:
        text += "    ancestors: [%s]\n" % ", ".join(ancestors)
    if proportions:
        text += "    proportions: [%s]\n" % ", ".join(map(str, proportions))
    text += "    epochs:\n"
    for e in epochs:
        text += "      - {%s}\n" % ", ".join("%s: %s" % kv for kv in e.items())
    return text


ALPHA = math.log(10) / 0.1  # growth from N0/10 to N0 over 0.1 units of 4 N0 generations

MODELS = {
    # Two islands, 4 N0 m = 1 each way.
    "island": (HEADER + "demes:\n" + deme("A", [{"start_size": N0}]) +
               deme("B", [{"start_size": N0}]) +
               "migrations:\n  - {demes: [A, B], rate: %g}\n" % (1 / (4 * N0)),
               "A:5,B:5", ["-I", "2", "5", "5", "1"]),
    # A and B split from X 4000 generations ago.
    "split": (HEADER + "demes:\n" + deme("X", [{"start_size": N0, "end_time": 4000}]) +
              deme("A", [{"start_size": N0}], ancestors=["X"]) +
              deme("B", [{"start_size": N0}], ancestors=["X"]),
              "A:5,B:5", ["-I", "2", "5", "5", "-ej", "0.1", "2", "1"]),
    # N0 / 10 from 2000 to 4000 generations ago.
    "bottleneck": (HEADER + "demes:\n" +
                   deme("A", [{"start_size": N0, "end_time": 4000},
                              {"start_size": N0 // 10, "end_time": 2000},
                              {"start_size": N0, "end_time": 0}]),
                   "A:10", ["-eN", "0.05", "0.1", "-eN", "0.1", "1"]),
    # Growth from N0 / 10, 4000 generations ago, to N0 now.
    "growth": (HEADER + "demes:\n" +
               deme("A", [{"start_size": N0 // 10, "end_time": 4000},
                          {"start_size": N0 // 10, "end_size": N0, "end_time": 0}]),
               "A:10", ["-G", "%.10g" % ALPHA, "-eG", "0.1", "0"]),
    # A and B split from X 8000 generations ago; 1000 generations ago 30 % of B came from A.
    "admixture": (HEADER + "demes:\n" + deme("X", [{"start_size": N0, "end_time": 8000}]) +
                  deme("A", [{"start_size": N0}], ancestors=["X"]) +
                  deme("B", [{"start_size": N0}], ancestors=["X"]) +
                  "pulses:\n  - {sources: [A], dest: B, proportions: [0.3], time: 1000}\n",
                  "A:5,B:5", ["-I", "2", "5", "5", "-es", "0.025", "2", "0.7",
                              "-ej", "0.025", "3", "1", "-ej", "0.2", "2", "1"]),
}


def ms_blocks(text):
    """Per replicate: (segsites, rows)."""
    out = []
    for block in text.split("//")[1:]:
        lines = [l.strip() for l in block.strip().split("\n")]
        s = int(re.search(r"segsites: (\d+)", block).group(1))
        rows = [l for l in lines if l and set(l) <= {"0", "1"} and len(l) == s] if s else []
        out.append((s, rows))
    return out


def differences(a, b):
    return sum(x != y for x, y in zip(a, b))


def summaries(blocks, n_a):
    """Segregating sites, mean differences within the first n_a rows, and between them and
    the others (when there are others)."""
    seg, within, between = [], [], []
    for s, rows in blocks:
        seg.append(s)
        if s == 0:
            rows = [""] * 10
        a, b = rows[:n_a], rows[n_a:]
        pairs = [(i, j) for i in range(len(a)) for j in range(i + 1, len(a))]
        within.append(sum(differences(a[i], a[j]) for i, j in pairs) / len(pairs))
        if b:
            between.append(sum(differences(x, y) for x in a for y in b) / (len(a) * len(b)))
    return seg, within, between


def leftmost_depth(newick):
    s = newick.strip().rstrip(";")
    total = 0.0
    while s.startswith("("):
        # The closing parenthesis of this group and its branch length.
        level = 0
        for i, c in enumerate(s):
            level += c == "("
            level -= c == ")"
            if level == 0:
                close = i
                break
        m = re.match(r":([0-9.eE+-]+)", s[close + 1:])
        total += float(m.group(1)) if m else 0.0
        inner = s[1:close]
        # Its first child.
        level = 0
        for i, c in enumerate(inner):
            level += c == "("
            level -= c == ")"
            if c == "," and level == 0:
                inner = inner[:i]
                break
        s = inner
    m = re.search(r":([0-9.eE+-]+)$", s)
    return total + (float(m.group(1)) if m else 0.0)


def ks(a, b):
    a, b = sorted(a), sorted(b)
    i = j = 0
    worst = 0.0
    while i < len(a) and j < len(b):
        x = min(a[i], b[j])
        while i < len(a) and a[i] <= x:
            i += 1
        while j < len(b) and b[j] <= x:
            j += 1
        worst = max(worst, abs(i / len(a) - j / len(b)))
    return worst


def mean_se(x):
    m = sum(x) / len(x)
    v = sum((y - m) ** 2 for y in x) / (len(x) - 1)
    return m, math.sqrt(v / len(x))


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    theta = 4 * N0 * U * LENGTH
    critical = 1.95 * math.sqrt(2.0 / REPLICATES)
    failures = []
    for seed, (name, (model, samples, ms_args)) in enumerate(sorted(MODELS.items()), 1):
        out = os.path.join(work, name)
        os.makedirs(out, exist_ok=True)
        with open(os.path.join(out, "model.yaml"), "w") as f:
            f.write(model)
        subprocess.run([cli, "--demes", "model.yaml", "--samples", samples, "--sims",
                        str(REPLICATES), "--seed", str(seed), "--seq-length", str(LENGTH),
                        "--mutation-rate", "%g" % U, "--ms", "sites.ms", "--threads", "2",
                        "--workdir", out, "--quiet"], check=True)
        with open(os.path.join(out, "outfile.csv"), newline="") as f:
            rows = list(csv.reader(f))
        ours_tmrca = [int(r[1]) / (4 * N0) for r in rows[1:] if len(r) > 1]
        with open(os.path.join(out, "sites.ms")) as f:
            ours = summaries(ms_blocks(f.read()), int(samples.split(",")[0].split(":")[1]))
        scrm = subprocess.run(["scrm", "10", str(REPLICATES), "-t", "%g" % theta, "-T"] +
                              ms_args + ["-seed", str(seed), "7", "11"], check=True,
                              capture_output=True, text=True).stdout
        with open(os.path.join(out, "scrm.out"), "w") as f:
            f.write(scrm)
        peer_tmrca = [leftmost_depth(l) for l in scrm.split("\n") if l.startswith("(")]
        n_a = int(samples.split(",")[0].split(":")[1])
        peer = summaries(ms_blocks(scrm), n_a)
        assert len(ours_tmrca) == len(peer_tmrca) == REPLICATES, (len(ours_tmrca),
                                                                 len(peer_tmrca))
        report = []
        for label, x, y in [("TMRCA", ours_tmrca, peer_tmrca), ("S", ours[0], peer[0]),
                            ("pi_A", ours[1], peer[1]), ("dxy", ours[2], peer[2])]:
            if not x:
                continue
            d = ks(x, y)
            (mx, sx), (my, sy) = mean_se(x), mean_se(y)
            z = abs(mx - my) / math.sqrt(sx * sx + sy * sy)
            report.append("%s %.3f/%.3f KS %.3f" % (label, mx, my, d))
            if d > critical or z > 5:
                failures.append("%s %s: quenlith mean %.4f, scrm %.4f, KS %.4f (critical %.4f)"
                                % (name, label, mx, my, d, critical))
        print("%-10s %s" % (name, "; ".join(report)))
    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print("quenlith-cli and scrm agree on %d models, %d replicates each" % (len(MODELS),
                                                                          REPLICATES))


if __name__ == "__main__":
    main()
