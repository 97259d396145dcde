#!/usr/bin/env python3
"""The files of runs with a demographic model read by the tools of the field: the sequence
file in its four layouts by Biopython (haploid and diploid), its FASTA layout by R's ape, the
Arlequin projects parsed for their samples and structure, the genotype table by Biopython's
GenePop parser and R's adegenet (one population per deme).

usage: check_demes_files.py QUENLITH_CLI WORKDIR
"""
import io
import os
import subprocess
import sys

from Bio import AlignIO, SeqIO
from Bio.PopGen import GenePop

MODEL = ("time_units: generations\ndemes:\n"
         "  - name: North\n    epochs: [{start_size: 300}]\n"
         "  - name: South_2\n    epochs: [{start_size: 200}]\n"
         "migrations:\n  - {demes: [North, South_2], rate: 0.001}\n")
SIMS, LENGTH = 3, 80
LAYOUTS = ["Clustal", "Nexus", "Fasta", "MrBayes"]


def run(cli, out, args):
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "m.yaml"), "w") as f:
        f.write(MODEL)
    subprocess.run([cli, "--demes", "m.yaml", "--seed", "5", "--sims", str(SIMS), "--arlequin",
                    "--workdir", out, "--quiet"] + args, check=True)


def text(path):
    with open(path, "rb") as f:
        return f.read().decode("ascii")


def alignments(path, layout):
    """Per simulation: [(name, sequence)]."""
    data = text(path)
    if layout == "Clustal":
        records = [(r.id, str(r.seq)) for r in SeqIO.parse(io.StringIO(data), "fasta")]
        return [[r for r in records if r[0].endswith("_%d" % s)] for s in range(1, SIMS + 1)]
    if layout == "Fasta":
        return [[(r.id, str(r.seq)) for r in a]
                for a in AlignIO.parse(io.StringIO(data), "phylip-relaxed")]
    return [[(r.id, str(r.seq)) for r in AlignIO.read(io.StringIO("#NEXUS" + part), "nexus")]
            for part in data.split("#NEXUS")[1:]]


def names(samples, diploid, layout, s):
    out = []
    for deme, count in samples:
        for i in range(1, count + 1):
            if not diploid:
                out.append("%s_%d_%d" % (deme, i, s))
            elif layout == "Fasta":
                out.append("%s_%d_%d" % (deme, (i + 1) // 2, s))
            else:
                out.append("%s_%d_%d_%d" % (deme, (i + 1) // 2, i, s))
    return out


def arlequin(path):
    """The samples of a project as [(name, size, [data lines])] and its structure's group."""
    lines = text(path).split("\r\n")
    samples, group, i = [], None, 0
    assert lines[lines.index("[Profile]") + 2].strip() == "NbSamples=2", lines[:4]
    while i < len(lines):
        line = lines[i].strip()
        if line.startswith("SampleName="):
            name = line.split("=", 1)[1].strip('"')
            size = int(lines[i + 1].strip().split("=")[1])
            assert lines[i + 2].strip() == "SampleData= {"
            end = lines.index("}", i)
            samples.append((name, size, lines[i + 3:end]))
            i = end
        elif line == "[[Structure]]":
            assert lines[i + 2].strip() == "NbGroups=1"
            end = lines.index("   }", i)
            group = [g.strip().strip('"') for g in lines[i + 4:end]]
            i = end
        i += 1
    return samples, group


def check_dna(cli, work, samples, diploid):
    spec = ",".join("%s:%d" % d for d in samples)
    read = {}
    for layout in LAYOUTS:
        out = os.path.join(work, ("diploid-" if diploid else "haploid-") + layout)
        run(cli, out, ["--samples", spec, "--seq-out", "--format", layout, "--seq-length",
                       str(LENGTH), "--mutation-rate", "0.0002"] + (["--diploid"] if diploid else []))
        read[layout] = alignments(os.path.join(out, "seqout.txt"), layout)
        assert len(read[layout]) == SIMS, (layout, len(read[layout]))
        for s, block in enumerate(read[layout], start=1):
            assert [n for n, _ in block] == names(samples, diploid, layout, s), (layout, block)
            # The projects: one sample per deme, its sequences those of the deme's copies.
            ps, group = arlequin(os.path.join(out, "Arlequin", "sim_%d.arp" % s))
            assert group == [d for d, _ in samples], group
            at = 0
            for (name, size, data), (deme, count) in zip(ps, samples):
                assert (name, size) == (deme, count // 2 if diploid else count), (name, size)
                assert [l.split()[-1] for l in data] == [q for _, q in block[at:at + count]]
                at += count
    seqs = [[[q for _, q in b] for b in read[layout]] for layout in LAYOUTS]
    assert all(x == seqs[0] for x in seqs), "the layouts hold other sequences"
    assert any(len(set(b)) > 1 for b in seqs[0]), "no mutation"
    return os.path.join(work, ("diploid-" if diploid else "haploid-") + "Clustal", "seqout.txt")


def main():
    cli, work = sys.argv[1], sys.argv[2]
    haploid = [("North", 3), ("South_2", 4)]
    fasta = check_dna(cli, work, haploid, False)
    check_dna(cli, work, [("North", 4), ("South_2", 2)], True)

    out = os.path.join(work, "msat")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "msatparam.txt"), "w", newline="") as f:
        f.write("1 150 250 2 0.001\r\n2 300 400 3 0.002\r\n")
    run(cli, out, ["--samples", "North:4,South_2:6", "--msat", "--loci", "2", "--msat-model",
                   "stepwise", "--msat-out"])
    blocks = text(os.path.join(out, "MsatData.csv")).split("\r\n\r\n")[:SIMS]
    first = os.path.join(out, "sim1.gen")
    with open(first, "w", newline="") as f:
        f.write(blocks[0] + "\r\n")
    for s, block in enumerate(blocks, start=1):
        # Biopython does not take the locus names' leading blanks (check_genepop_msat.py).
        rec = GenePop.read(io.StringIO("\n".join(l.strip() for l in block.split("\r\n")) + "\n"))
        got = [[name.strip() for name, _ in pop] for pop in rec.populations]
        assert got == [["North_%d" % j for j in (1, 2)],
                       ["South_2_%d" % j for j in (1, 2, 3)]], got
        ps, group = arlequin(os.path.join(out, "Arlequin", "sim_%d.arp" % s))
        assert [(n, z) for n, z, _ in ps] == [("North", 2), ("South_2", 3)], ps
        assert group == ["North", "South_2"]
        # The same genotypes: the project's two lines per individual against the table's codes.
        for pop, (_, _, data) in zip(rec.populations, ps):
            for j, (_, loci) in enumerate(pop):
                a, b = data[2 * j].split()[2:], data[2 * j + 1].split()
                assert [tuple(sorted(x)) for x in loci] == [
                    tuple(sorted((int(p), int(q)))) for p, q in zip(a, b)], (s, j)

    # R: ape reads the FASTA layout with the deme names, adegenet the GenePop populations.
    script = """
suppressMessages({library(ape); library(adegenet)})
a <- read.FASTA("%s")
stopifnot(identical(names(a)[1:7], paste0(c(rep("North", 3), rep("South_2", 4)),
                                        "_", c(1:3, 1:4), "_1")), length(a) == 21)
x <- read.genepop("%s", ncode = 3, quiet = TRUE)
stopifnot(nPop(x) == 2, nInd(x) == 5, identical(as.vector(table(pop(x))), c(2L, 3L)),
          identical(indNames(x), c("North_1", "North_2", "South_2_1", "South_2_2", "South_2_3")))
cat("R read", length(a), "sequences and", nPop(x), "populations\\n")
""" % (fasta, first)
    subprocess.run(["Rscript", "-e", script], check=True)
    print("read the model runs' files in four layouts, Arlequin and GenePop")


if __name__ == "__main__":
    main()
