#!/usr/bin/env python3
"""The VCF read by bcftools and the ms file read here, against the sequence file and the
statistics table of the same run.

- `bcftools stats` counts as many records as the statistics table has segregating sites, and
  `bcftools view` reads the file and writes the same records back (plain and bgzipped);
  `bcftools index` accepts the bgzipped file (it needs BGZF blocks).
- `bcftools query` gives the genotypes: haploid runs one allele per copy, the copies in an
  order of their own; diploid runs with a sequence file the phased pair of each individual of
  the sequence file's names (Ind_J_c_s), in its order; diploid runs without one a pairing of
  their own, each copy used once.
- The ms file: a first line that, run as a command, writes the same ms file again; the seed;
  then per simulation "//", segsites, positions (site / L) and one 0/1 line per copy in the
  VCF's order of the copies, for the sites that hold REF and exactly one other base, 1
  exactly where the copy's base is not REF.

usage: check_vcf_ms.py QUENLITH_CLI WORKDIR
"""
import csv
import os
import re
import shlex
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
        if not diploid and rows:
            # Each sample is one copy, each copy once: its calls over the simulation's sites.
            calls = ["".join(row[2][i][0] for row in rows) for i in range(K)]
            copies = ["".join(seqs[s][c][j] for j, _, _ in rows) for c in range(1, K + 1)]
            assert sorted(calls) == sorted(copies), s
        for j, ref, calls in rows:
            column = [seqs[s][c][j] for c in range(1, K + 1)]
            assert len(set(column)) > 1, (s, j)
            if not diploid:
                assert sorted(c[0] for c in calls) == sorted(column)
                continue
            for J, call in enumerate(calls):
                assert call == [seqs[s][c][j] for c in individuals[s][J]], (s, j, J)


def check_ms(out, sites, cli):
    """The ms file against the VCF's calls: its rows are the VCF's copies in their order.
    Returns the number of sites left out (a third base, or no copy with REF)."""
    with open(os.path.join(out, "sites.ms")) as f:
        text = f.read()
    lines = text.split("\n")
    assert lines[0].startswith("quenlith-cli %d %d --seed 23 " % (K, SIMS)), lines[0]
    assert lines[1] == "23"
    at = 2
    left_out = 0
    for s in range(1, SIMS + 1):
        assert lines[at] == "" and lines[at + 1] == "//"
        kept = [(j, ref, [a for call in calls for a in call]) for j, ref, calls in sites[s]]
        kept = [r for r in kept if len(set(r[2])) == 2 and r[1] in r[2]]
        left_out += len(sites[s]) - len(kept)
        S = int(lines[at + 2].split(": ")[1])
        assert S == len(kept), (s, S, len(kept))
        at += 3
        if S == 0:
            continue
        positions = [float(x) for x in lines[at].split(":")[1].split()]
        assert positions == sorted(positions) and len(set(positions)) == S
        for p, (j, _, _) in zip(positions, kept):
            assert abs(p - j / LENGTH) <= 0.5e-4
        rows = lines[at + 1:at + 1 + K]
        for r in range(K):
            assert rows[r] == "".join("0" if a[r] == ref else "1" for _, ref, a in kept), (s, r)
        at += 1 + K
    assert lines[at:] == [""]
    # The first line repeats the run: run in a fresh folder, it writes the same ms file.
    again = os.path.join(out, "again")
    os.makedirs(again, exist_ok=True)
    words = shlex.split(lines[0])
    subprocess.run([cli] + words[1:] + ["--workdir", again, "--quiet"], check=True)
    with open(os.path.join(again, "sites.ms")) as f:
        assert f.read() == text
    return left_out


def main():
    cli, work = sys.argv[1], sys.argv[2]
    cases = [
        ("haploid", ["--seq-out", "--format", "Clustal"], "sites.vcf", False, True),
        ("diploid", ["--seq-out", "--format", "Clustal", "--diploid"], "sites.vcf.gz", True, True),
        ("diploid-own", ["--diploid"], "sites.vcf.gz", True, False),
        ("streams", ["--rng", "streams", "--threads", "2"], "sites.vcf", False, False),
    ]
    records_checked = 0
    left_out = 0
    for name, extra, vcf, diploid, seq_file in cases:
        out = run(cli, work, name, extra, vcf)
        with open(os.path.join(out, "stats.csv"), newline="") as f:
            segsites = [int(r["segregating_sites"]) for r in csv.DictReader(f)]
        sites = check_vcf(out, vcf, diploid, segsites)
        records_checked += sum(segsites)
        if seq_file:
            seqs, individuals = clustal(os.path.join(out, "seqout.txt"))
            check_against_sequences(sites, seqs, individuals, diploid)
        left_out += check_ms(out, sites, cli)
    print("bcftools read %d records of four VCF files; genotypes and ms lines agree "
          "(%d sites not biallelic with REF left out of the ms files); each ms file's first "
          "line wrote it again" % (records_checked, left_out))


if __name__ == "__main__":
    main()
