#!/usr/bin/env python3
"""The VCF read by bcftools and the ms file read here, against the sequence file and the
statistics table of the same run.

- `bcftools stats` counts as many records as the statistics table has segregating sites, and
  `bcftools view` reads the file and writes the same records back (plain and bgzipped);
  `bcftools index` accepts the bgzipped file (it needs BGZF blocks).
- `bcftools query` gives the genotypes: haploid runs one allele per copy; diploid runs with a
  sequence file the phased pair of each individual of the sequence file's names
  (Ind_J_c_s), in its order; diploid runs without one a pairing of their own, each copy used
  once.
- The ms file: two header lines, then per simulation "//", segsites, positions (site / L)
  and one 0/1 line per copy, 1 exactly where the copy's base is not the root's (REF).

usage: check_vcf_ms.py QUENLITH_CLI WORKDIR
"""
import csv
import os
import re
import subprocess
import sys

K, SIMS, LENGTH = 9, 6, 500


def sh(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def run(cli, work, name, extra, vcf):
    out = os.path.join(work, name)
    os.makedirs(out, exist_ok=True)
    args = [cli, "--seed", "23", "--sims", str(SIMS), "--sample-size", str(K), "--pop-size",
            "200", "--seq-length", str(LENGTH), "--mutation-rate", "0.0002", "--stats",
            "stats.csv", "--vcf", vcf, "--ms", "sites.ms", "--workdir", out, "--quiet"] + extra
    subprocess.run(args, check=True)
    return out


def clustal(path):
    """sim -> {copy number: sequence} and sim -> [[copies of individual 1], ...]."""
    with open(path) as f:
        lines = f.read().split("\n")
    seqs, individuals = {}, {}
    for name, seq in zip(lines, lines[1:]):
        m = re.fullmatch(r">Ind_(\d+)_(\d+)_(\d+)\r?", name)
        if m:
            J, c, s = map(int, m.groups())
            seqs.setdefault(s, {})[c] = seq.strip()
            ind = individuals.setdefault(s, [])
            while len(ind) < J:
                ind.append([])
            ind[J - 1].append(c)
        m = re.fullmatch(r">(\d+)_(\d+)\r?", name)
        if m:
            c, s = map(int, m.groups())
            seqs.setdefault(s, {})[c] = seq.strip()
    return seqs, individuals


def records(path):
    body = [l for l in sh("bcftools", "view", "-H", path).split("\n") if l]
    return body


def check_vcf(out, vcf, diploid, segsites):
    """bcftools stats, view and index; returns sim -> [(site, REF, alleles, genotypes)]."""
    path = os.path.join(out, vcf)
    n = int(re.search(r"number of records:\t(\d+)", sh("bcftools", "stats", path)).group(1))
    assert n == sum(segsites), (n, segsites)
    # Round trip: bcftools view writes what it read, record for record.
    again = os.path.join(out, "again.vcf")
    sh("bcftools", "view", "-o", again, path)
    assert records(again) == records(path)
    header = sh("bcftools", "view", "-h", path).split("\n")
    assert "##contig=<ID=sim1,length=%d>" % LENGTH in header
    samples = header[-2].split("\t")[9:]
    expected = ["ind%d" % i for i in range(1, (K + 1) // 2 + 1)] if diploid else \
        ["copy%d" % i for i in range(1, K + 1)]
    assert samples == expected, samples
    if vcf.endswith(".gz"):
        sh("bcftools", "index", "-f", path)
    query = sh("bcftools", "query", "-f", "%CHROM\t%POS\t%REF\t%ALT[\t%GT]\n", path)
    sites = {s: [] for s in range(1, SIMS + 1)}
    for line in query.strip().split("\n") if query.strip() else []:
        chrom, pos, ref, alt, *gts = line.split("\t")
        alleles = [ref] + alt.split(",")
        assert len(set(alleles)) == len(alleles) and len(alleles) >= 2
        if diploid:
            assert all("/" not in g for g in gts), gts
        calls = [[alleles[int(a)] for a in g.split("|")] for g in gts]
        sites[int(chrom[3:])].append((int(pos) - 1, ref, calls))
    assert [len(sites[s]) for s in range(1, SIMS + 1)] == segsites
    return sites


def check_against_sequences(sites, seqs, individuals, diploid):
    for s, rows in sites.items():
        for j, ref, calls in rows:
            column = [seqs[s][c][j] for c in range(1, K + 1)]
            assert len(set(column)) > 1, (s, j)
            if not diploid:
                assert [c[0] for c in calls] == column
                continue
            for J, call in enumerate(calls):
                assert call == [seqs[s][c][j] for c in individuals[s][J]], (s, j, J)


def check_ms(out, sites, first_line, seqs=None):
    """The ms file against the VCF's sites (and the sequences where given); returns
    sim -> the 0/1 lines."""
    with open(os.path.join(out, "sites.ms")) as f:
        lines = f.read().split("\n")
    assert lines[0] == first_line, lines[0]
    assert lines[1] == "23"
    at = 2
    haplotypes = {}
    for s in range(1, SIMS + 1):
        assert lines[at] == "" and lines[at + 1] == "//"
        S = int(lines[at + 2].split(": ")[1])
        assert S == len(sites[s])
        at += 3
        haplotypes[s] = []
        if S == 0:
            continue
        positions = [float(x) for x in lines[at].split(":")[1].split()]
        assert positions == sorted(positions) and len(set(positions)) == S
        for p, (j, _, _) in zip(positions, sites[s]):
            assert abs(p - j / LENGTH) <= 0.5e-4
        haplotypes[s] = lines[at + 1:at + 1 + K]
        if seqs:
            for c in range(1, K + 1):
                assert haplotypes[s][c - 1] == "".join(
                    "0" if seqs[s][c][j] == ref else "1" for j, ref, _ in sites[s])
        at += 1 + K
    assert lines[at:] == [""]
    return haplotypes


def main():
    cli, work = sys.argv[1], sys.argv[2]
    first = "quenlith-cli %d %d --pop-size 200 --seq-length %d --mutation-rate 0.0002" % (
        K, SIMS, LENGTH)
    cases = [
        ("haploid", ["--seq-out", "--format", "Clustal"], "sites.vcf", False, True),
        ("diploid", ["--seq-out", "--format", "Clustal", "--diploid"], "sites.vcf.gz", True, True),
        ("diploid-own", ["--diploid"], "sites.vcf.gz", True, False),
    ]
    records_checked = 0
    for name, extra, vcf, diploid, seq_file in cases:
        out = run(cli, work, name, extra, vcf)
        with open(os.path.join(out, "stats.csv"), newline="") as f:
            segsites = [int(r["segregating_sites"]) for r in csv.DictReader(f)]
        sites = check_vcf(out, vcf, diploid, segsites)
        records_checked += sum(segsites)
        line = first + (" --diploid" if diploid else "")
        if seq_file:
            seqs, individuals = clustal(os.path.join(out, "seqout.txt"))
            check_against_sequences(sites, seqs, individuals, diploid)
            check_ms(out, sites, line, seqs)
            continue
        # No sequence file: the VCF pairs the copies itself. Every allele slot of every
        # individual must carry the whole 0/1 line of one copy of the ms file, each copy once.
        haplotypes = check_ms(out, sites, line)
        for s, rows in sites.items():
            if not rows:
                continue
            slots = len(rows[0][2]) * 2
            lines = []
            for slot in range(slots):
                J, a = divmod(slot, 2)
                if a >= len(rows[0][2][J]):
                    continue
                lines.append("".join("0" if row[2][J][a] == row[1] else "1" for row in rows))
            assert sorted(lines) == sorted(haplotypes[s]), s
    print("bcftools read %d records of three VCF files; genotypes and ms lines agree"
          % records_checked)


if __name__ == "__main__":
    main()
