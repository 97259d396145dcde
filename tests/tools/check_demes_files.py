#!/usr/bin/env python3
"""The files of runs with a demographic model read by the tools of the field: the sequence
file in its four layouts by Biopython (haploid and diploid) and as FASTA by R's ape, the
Arlequin projects parsed for their samples and structure, the genotype table by Biopython's
GenePop parser and R's adegenet (one population per deme).

usage: check_demes_files.py QUENLITH_CLI WORKDIR
"""
import io
import os
import re
import subprocess
import sys

from Bio import AlignIO, SeqIO
from Bio.PopGen import GenePop

MODEL = ("time_units: generations\ndemes:\n  - {name: North, epochs: [{start_size: 300}]}\n"
         "  - {name: South_2, epochs: [{start_size: 200}]}\n"
         "migrations:\n  - {demes: [North, South_2], rate: 0.001}\n")
SIMS = 3


def run(cli, out, args):
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "m.yaml"), "w") as f:
        f.write(MODEL)
    subprocess.run([cli, "--demes", "m.yaml", "--seed", "5", "--sims", str(SIMS), "--arlequin",
                    "--workdir", out, "--quiet"] + args, check=True)
    return out


def text(path):
    with open(path, "rb") as f:
        return f.read().decode("ascii")


def alignments(data, layout):
    """Per simulation: [(name, sequence)]."""
    if layout == "Clustal":
        records = [(r.id, str(r.seq)) for r in SeqIO.parse(io.StringIO(data), "fasta")]
        return [[r for r in records if r[0].endswith("_%d" % s)] for s in range(1, SIMS + 1)]
    if layout == "Fasta":
        return [[(r.id, str(r.seq)) for r in a]
                for a in AlignIO.parse(io.StringIO(data), "phylip-relaxed")]
    return [[(r.id, str(r.seq)) for r in AlignIO.read(io.StringIO("#NEXUS" + part), "nexus")]
            for part in data.split("#NEXUS")[1:]]


def arlequin(path):
    """A project's samples as [(name, size, data lines)] and the names its one group lists."""
    lines = [l.strip() for l in text(path).split("\r\n")]
    heads = [i for i, l in enumerate(lines) if l.startswith("SampleName=")]
    assert lines[2] == "NbSamples=%d" % len(heads), lines[2]
    samples = [(lines[i].split("=")[1].strip('"'), int(lines[i + 1].split("=")[1]),
                lines[i + 3:lines.index("}", i)]) for i in heads]
    at = lines.index("[[Structure]]")
    assert lines[at + 2:at + 4] == ["NbGroups=1", "Group={"], lines[at:]
    return samples, [g.strip('"') for g in lines[at + 4:lines.index("}", at)]]


def check_dna(cli, work, samples, diploid):
    for layout in ["Clustal", "Nexus", "Fasta", "MrBayes"]:
        out = run(cli, os.path.join(work, "%s-%s" % (diploid, layout)),
                  ["--samples", ",".join("%s:%d" % d for d in samples), "--seq-out", "--format",
                   layout, "--seq-length", "80", "--mutation-rate", "0.0002", "--each-sim",
                   "each"] + (["--diploid"] if diploid else []))
        # The per-simulation files name the copies by deme too: D_i, or D_ja and D_jb.
        each = [r.id for r in SeqIO.parse(os.path.join(out, "each", "sim_000001.fasta"), "fasta")]
        assert each == [("%s_%d%s" % (d, (i + 1) // 2, "ab"[(i + 1) % 2]) if diploid else
                         "%s_%d" % (d, i)) for d, n in samples for i in range(1, n + 1)], each
        leaves = set(re.findall(r"[(,]([A-Za-z_0-9]+):", text(os.path.join(out, "each",
                                                                            "sim_000001.nwk"))))
        assert leaves == set(each), (leaves, each)
        read = alignments(text(os.path.join(out, "seqout.txt")), layout)
        assert len(read) == SIMS and any(len({q for _, q in b}) > 1 for b in read), layout
        for s, block in enumerate(read, start=1):
            # Copy i of deme D: D_i_s; diploid D_j_i_s (the Fasta layout's individuals D_j_s).
            want = [("%s_%d_%d" % (d, i, s)) if not diploid else
                    ("%s_%d_%d" % (d, (i + 1) // 2, s)) if layout == "Fasta" else
                    ("%s_%d_%d_%d" % (d, (i + 1) // 2, i, s))
                    for d, n in samples for i in range(1, n + 1)]
            assert [n for n, _ in block] == want, (layout, [n for n, _ in block])
            projects, group = arlequin(os.path.join(out, "Arlequin", "sim_%d.arp" % s))
            assert group == [d for d, _ in samples], group
            assert [(n, z) for n, z, _ in projects] == [(d, n // 2 if diploid else n)
                                                         for d, n in samples], projects
            assert [l.split()[-1] for _, _, data in projects for l in data] == \
                [q for _, q in block], (layout, s)
    return os.path.join(out, "seqout.txt")


def main():
    cli, work = sys.argv[1], sys.argv[2]
    check_dna(cli, work, [("North", 3), ("South_2", 4)], False)
    fasta = check_dna(cli, work, [("North", 4), ("South_2", 2)], True).replace("MrBayes", "Clustal")
    out = os.path.join(work, "msat")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "msatparam.txt"), "w", newline="") as f:
        f.write("1 150 250 2 0.001\r\n2 300 400 3 0.002\r\n")
    run(cli, out, ["--samples", "North:4,South_2:6", "--msat", "--loci", "2", "--msat-model",
                   "stepwise", "--msat-out", "--each-sim", "each"])
    with open(os.path.join(out, "each", "sim_000001.gen")) as f:
        each = GenePop.read(f)
    assert [[n.strip() for n, _ in pop] for pop in each.populations] == \
        [["North_1", "North_2"], ["South_2_%d" % j for j in (1, 2, 3)]], each.populations
    blocks = text(os.path.join(out, "MsatData.csv")).split("\r\n\r\n")[:SIMS]
    with open(os.path.join(out, "sim1.gen"), "w", newline="") as f:
        f.write(blocks[0] + "\r\n")
    for s, block in enumerate(blocks, start=1):
        # Biopython does not take the locus names' leading blanks (check_genepop_msat.py).
        rec = GenePop.read(io.StringIO("\n".join(l.strip() for l in block.split("\r\n")) + "\n"))
        got = [[name.strip() for name, _ in pop] for pop in rec.populations]
        assert got == [["North_1", "North_2"], ["South_2_%d" % j for j in (1, 2, 3)]], got
        projects, group = arlequin(os.path.join(out, "Arlequin", "sim_%d.arp" % s))
        assert group == ["North", "South_2"] and [len(d) for _, _, d in projects] == [4, 6]
        # The project's first line of each individual holds one of its alleles per locus.
        assert [[int(a) for a in d[2 * j].split()[2:]] for _, _, d in projects
                for j in range(len(d) // 2)] == [[x[0] for x in loci] for pop in
                                                 rec.populations for _, loci in pop], s
    script = """suppressMessages({library(ape); library(adegenet)})
a <- read.FASTA("%s")
stopifnot(length(a) == 18, identical(names(a)[1:6], paste0(rep(c("North", "South_2"), c(4, 2)),
                                     "_", c(1, 1, 2, 2, 1, 1), "_", c(1:4, 1:2), "_1")))
x <- read.genepop("%s", ncode = 3, quiet = TRUE)
stopifnot(nPop(x) == 2, identical(as.vector(table(pop(x))), c(2L, 3L)),
          identical(indNames(x), c("North_1", "North_2", "South_2_1", "South_2_2", "South_2_3")))
""" % (fasta, os.path.join(out, "sim1.gen"))
    subprocess.run(["Rscript", "-e", script], check=True)
    print("model runs: names, samples, structure and populations read")


if __name__ == "__main__":
    main()
