#!/usr/bin/env python3
"""Runs quenlith-cli in every sequence layout, haploid and diploid, and reads the sequence
files with Biopython: "Clustal" as FASTA, "Fasta" as relaxed PHYLIP, every "Nexus" and
"MrBayes" block as NEXUS. The sequences read must agree across layouts and with the
Arlequin project files, and the summary table's finite segregating sites and diversity
indices are recomputed here from them.

usage: check_sequence_files.py QUENLITH_CLI WORKDIR
"""
import io
import os
import subprocess
import sys
from fractions import Fraction

from Bio import AlignIO, SeqIO

K, SIMS, LENGTH = 7, 5, 60
LAYOUTS = ["Clustal", "Nexus", "Fasta", "MrBayes"]


def run(cli, work, layout, diploid):
    out = os.path.join(work, layout + ("-diploid" if diploid else "-haploid"))
    os.makedirs(out, exist_ok=True)
    args = [cli, "--seed", "31", "--sims", str(SIMS), "--sample-size", str(K), "--pop-size",
            "300", "--seq-length", str(LENGTH), "--mutation-rate", "0.0005", "--seq-out",
            "--format", layout, "--seq-diversity", "--arlequin", "--workdir", out, "--quiet"]
    if diploid:
        args.append("--diploid")
    subprocess.run(args, check=True)
    return out


def text(path):
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    lines = data.split("\r\n")
    assert lines[-1] == "" and "\n" not in data.replace("\r\n", ""), path
    return data


def nexus_blocks(path):
    """Each "#NEXUS" block parsed on its own: a list of [(name, sequence)]."""
    data = text(path)
    parts = data.split("#NEXUS")
    assert parts[0] == "", path
    blocks = []
    for part in parts[1:]:
        alignment = AlignIO.read(io.StringIO("#NEXUS" + part), "nexus")
        assert alignment.get_alignment_length() == LENGTH
        blocks.append([(r.id, str(r.seq)) for r in alignment])
    assert len(blocks) == SIMS, (path, len(blocks))
    return blocks


def fasta_records(path):
    records = [(r.id, str(r.seq)) for r in SeqIO.parse(io.StringIO(text(path)), "fasta")]
    assert len(records) == SIMS * K, (path, len(records))
    return [records[i * K:(i + 1) * K] for i in range(SIMS)]


def phylip_blocks(path):
    blocks = []
    for alignment in AlignIO.parse(io.StringIO(text(path)), "phylip-relaxed"):
        assert len(alignment) == K and alignment.get_alignment_length() == LENGTH
        blocks.append([(r.id, str(r.seq)) for r in alignment])
    assert len(blocks) == SIMS, (path, len(blocks))
    return blocks


def read_layout(out, layout):
    path = os.path.join(out, "seqout.txt")
    if layout == "Clustal":
        return fasta_records(path)
    if layout == "Fasta":
        return phylip_blocks(path)
    return nexus_blocks(path)


def copy_number(name, layout, diploid, s):
    """The copy number a name carries, or None where the layout names individuals only."""
    parts = name.replace("Ind_", "Ind").split("_")
    assert parts[-1] == str(s), name
    if not diploid:
        assert len(parts) == 2, name
        return int(parts[0])
    if layout == "Fasta":
        assert len(parts) == 2, name
        return None
    assert len(parts) == 3 and parts[0].startswith("Ind"), name
    return int(parts[1])


def individual(name):
    first = name.replace("Ind_", "Ind").split("_")[0]
    return int(first[3:] if first.startswith("Ind") else first)


def arlequin_sequences(out, s, diploid):
    path = os.path.join(out, "Arlequin", "sim_%d.arp" % s)
    lines = text(path).split("\r\n")[:-1]
    start = lines.index("   SampleData= {") + 1
    assert lines[-1] == "}"
    size = int([l for l in lines if l.startswith("   SampleSize=")][0].split("=")[1])
    assert size == (K // 2 if diploid else K)
    seqs = []
    for p, line in enumerate(lines[start:-1]):
        if diploid and p % 2 == 1:
            assert line[:13] == " " * 13, line
        else:
            assert line[:13] == ("%d " % (p // 2 + 1 if diploid else p + 1)).rjust(10) + " 1 "
        seqs.append(line[13:])
    assert len(seqs) == K
    return seqs


def diversity(seqs):
    pairs = [(a, b) for a in range(len(seqs)) for b in range(a + 1, len(seqs))]
    dist = [Fraction(sum(x != y for x, y in zip(seqs[a], seqs[b])), LENGTH) for a, b in pairs]
    return (Fraction(sum(1 for d in dist if d != 0), len(pairs)), sum(dist) / len(pairs))


def check_table(out, blocks_by_copy):
    rows = text(os.path.join(out, "outfile.csv")).split("\r\n")[:-1]
    assert rows[0] == "Simulation#, Tmrca, Infinite s, Finite s, Allelic Div, Nucleotide Div"
    assert len(rows) == SIMS + 1
    for s in range(1, SIMS + 1):
        fields = rows[s].split(", ")
        assert int(fields[0]) == s
        seqs = blocks_by_copy[s - 1]
        segregating = sum(1 for j in range(LENGTH) if len({q[j] for q in seqs}) > 1)
        assert int(fields[3]) == segregating, (s, fields, segregating)
        haplotype, nucleotide = diversity(seqs)
        for printed, exact in ((fields[4], haplotype), (fields[5], nucleotide)):
            assert len(printed.split(".")[1]) == 5, printed
            assert abs(Fraction(printed) - exact) <= Fraction(1, 200000), (s, printed, exact)


def main():
    cli, work = sys.argv[1], sys.argv[2]
    checked = 0
    for diploid in (False, True):
        outs = {layout: run(cli, work, layout, diploid) for layout in LAYOUTS}
        read = {layout: read_layout(outs[layout], layout) for layout in LAYOUTS}
        # The Nexus blocks in copy order are the reference.
        reference = []
        orders = []
        for s, block in enumerate(read["Nexus"], start=1):
            by_copy = {copy_number(n, "Nexus", diploid, s): q for n, q in block}
            assert sorted(by_copy) == list(range(1, K + 1))
            assert all(set(q) <= set("ACGT") for q in by_copy.values())
            reference.append([by_copy[c] for c in range(1, K + 1)])
            orders.append([q for _, q in block])
            if diploid:
                assert [individual(n) for n, _ in block] == [p // 2 + 1 for p in range(K)]
        for layout in LAYOUTS:
            for s, block in enumerate(read[layout], start=1):
                assert [q for _, q in block] == orders[s - 1], (layout, s)
                for name, seq in block:
                    c = copy_number(name, layout, diploid, s)
                    if c is not None:
                        assert seq == reference[s - 1][c - 1], (layout, s, name)
                checked += 1
            for s in range(1, SIMS + 1):
                assert arlequin_sequences(outs[layout], s, diploid) == orders[s - 1]
            batch = text(os.path.join(outs[layout], "ArlequinBatch.arp")).split("\r\n")[:-1]
            assert batch == [outs[layout] + "/Arlequin/sim_%d.arp" % s
                             for s in range(1, SIMS + 1)]
        assert any(len(set(seqs)) > 1 for seqs in reference), "no mutation in any simulation"
        check_table(outs["Nexus"], reference)
    print("read %d blocks in four layouts" % checked)


if __name__ == "__main__":
    main()
