#!/usr/bin/env python3
"""Runs quenlith-cli on microsatellites (stepwise and random alleles, even and odd samples)
and reads every block of the genotype table with Biopython's GenePop parser. The table keeps
its own layout, which the parser does not take as written: each block is handed over with
the leading blanks of its locus lines stripped and without the empty line that ends it.
All sizes lie between 100 and 999, so every allele code has three digits. The genotypes
read must be the sizes of the same individuals in the Arlequin project file.

usage: check_genepop_msat.py QUENLITH_CLI WORKDIR
"""
import io
import os
import subprocess
import sys

from Bio.PopGen import GenePop

LOCI, SIMS = 3, 4
# Ranges inside 100 .. 999; the stepwise sizes start mid-range with few mutations.
PARAMS = ("1 100 999 1 0.002\r\n"
          "2 300 700 3 0.004\r\n"
          "3 500 520 2 0.01\r\n")
TITLE = "Simulated microsatellite data"


def run(cli, work, model, k):
    out = os.path.join(work, "%s-%d" % (model, k))
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "msatparam.txt"), "w", newline="") as f:
        f.write(PARAMS)
    subprocess.run([cli, "--seed", str(40 + k), "--msat", "--loci", str(LOCI), "--sims",
                    str(SIMS), "--msat-model", model, "--sample-size", str(k), "--pop-size",
                    "400", "--msat-out", "--arlequin", "--workdir", out, "--quiet"], check=True)
    return out


def text_of(path):
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    assert data.endswith("\r\n"), path
    return data


def genepop_blocks(path):
    """The table's blocks, each made readable as described above."""
    lines = text_of(path).split("\r\n")[:-1]
    starts = [i for i, line in enumerate(lines) if line == TITLE]
    assert starts and starts[0] == 0, "every block starts with its title line"
    blocks = []
    for n, start in enumerate(starts):
        end = starts[n + 1] if n + 1 < len(starts) else len(lines)
        block = lines[start:end]
        assert block[-1] == "", "a block ends with an empty line"
        pop = block.index("POP")
        fixed = [block[0]] + [name.lstrip(" ") for name in block[1:pop]] + block[pop:-1]
        blocks.append("\n".join(fixed) + "\n")
    return blocks


def arlequin_individuals(path):
    """(first copy sizes, second copy sizes) per individual, in file order."""
    lines = text_of(path).split("\r\n")
    data = lines[lines.index("   SampleData= {") + 1:lines.index("}")]
    copies = [[int(v) for v in line[13:].split()] for line in data]
    for line in data[0::2]:
        assert line[:13].strip().endswith("1"), line
    return [(copies[i], copies[i + 1]) for i in range(0, len(copies) - 1, 2)], copies


def check(cli, work, model, k):
    out = run(cli, work, model, k)
    blocks = genepop_blocks(os.path.join(out, "MsatData.csv"))
    assert len(blocks) == SIMS, (model, k, len(blocks))
    for s, block in enumerate(blocks, start=1):
        record = GenePop.read(io.StringIO(block))
        assert record.comment_line == TITLE
        assert record.loci_list == ["Locus%d" % l for l in range(1, LOCI + 1)], record.loci_list
        assert len(record.populations) == 1
        individuals = record.populations[0]
        assert len(individuals) == k // 2, (len(individuals), k)
        assert record.marker_len == 3
        pairs, copies = arlequin_individuals(
            os.path.join(out, "Arlequin", "sim_%d.arp" % s))
        assert len(copies) == k
        for size in (v for copy in copies for v in copy):
            assert 100 <= size <= 999, "the run must keep every size in 100 .. 999: %d" % size
        for number, ((name, genotypes), (first, second)) in enumerate(zip(individuals, pairs),
                                                                      start=1):
            assert name.strip() == str(number), name
            assert genotypes == [(a, b) for a, b in zip(first, second)], (s, number)
    sizes = sorted({v for copy in copies for v in copy})
    return len(sizes)


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    for model in ("stepwise", "random"):
        for k in (12, 9):
            distinct = check(cli, work, model, k)
            # A table of one size everywhere would prove little.
            assert distinct > LOCI, (model, k, distinct)
    print("genotype tables read by Bio.PopGen.GenePop: ok")


if __name__ == "__main__":
    main()
