#!/usr/bin/env python3
"""The per-simulation files of --each-sim read by one tool of the field, as they are.

usage: check_each_sim_readers.py QUENLITH_CLI WORKDIR TOOL

TOOL is one of ape, phangorn, adegenet (R, through check_each_sim_readers.R), raxml, phyml,
iqtree, biopython, dendropy. Runs quenlith-cli on three data sets (diploid DNA with an even
sample, haploid DNA with an odd one, microsatellites with an odd one and the genotype table;
for ape also a run under --mergers all, whose trees hold polytomies), then has the tool read
the files. Exits 77 (a skipped test) only when the tool is not
installed.
"""
import csv
import os
import re
import shutil
import subprocess
import sys

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
DNA_RUNS = {
    # name: (sample size, diploid)
    "diploid": (12, True),
    "haploid": (9, False),
}
SIMS, SITES, LOCI = 3, 600, 3
MSAT_K = 9
MSAT_PARAMS = ("1 100 999 1 0.002\r\n"
               "2 300 700 3 0.004\r\n"
               "3 500 520 2 0.01\r\n")


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


def run_cli(cli, work):
    """The three data sets; returns their working directories."""
    dirs = {}
    for name, (k, diploid) in DNA_RUNS.items():
        out = os.path.join(work, name)
        os.makedirs(out, exist_ok=True)
        args = [cli, "--seed", "17", "--sample-size", str(k), "--sims", str(SIMS),
                "--seq-length", str(SITES), "--mutation-rate", "0.000001", "--each-sim", "E",
                "--each-sim-format", "fasta,phylip,nexus", "--workdir", out, "--quiet"]
        if diploid:
            args.append("--diploid")
        subprocess.run(args, check=True)
        dirs[name] = out
    out = os.path.join(work, "msat")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "msatparam.txt"), "w", newline="") as f:
        f.write(MSAT_PARAMS)
    subprocess.run([cli, "--seed", "23", "--msat", "--loci", str(LOCI), "--sims", str(SIMS),
                    "--msat-model", "stepwise", "--sample-size", str(MSAT_K), "--pop-size",
                    "400", "--msat-out", "--each-sim", "G", "--workdir", out, "--quiet"],
                   check=True)
    dirs["msat"] = out
    # Every set of lineages on one parent merging, on few parents: polytomies in the trees.
    out = os.path.join(work, "polytomy")
    os.makedirs(out, exist_ok=True)
    subprocess.run([cli, "--seed", "29", "--sample-size", "12", "--sims", str(SIMS),
                    "--pop-size", "4", "--mergers", "all", "--seq-length", "50", "--each-sim",
                    "E", "--workdir", out, "--quiet"], check=True)
    dirs["polytomy"] = out
    return dirs


def manifest(folder):
    with open(os.path.join(folder, "manifest.tsv")) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    assert len(rows) == SIMS, rows
    return rows


def expected_names(k, diploid):
    if not diploid:
        return {"ind%d" % (i + 1) for i in range(k)}
    return {"ind%d%s" % (p // 2 + 1, "ab"[p % 2]) for p in range(k)}


def genotype_table(path):
    """The run's own genotype table: per simulation, per individual its codes per locus."""
    with open(path, "rb") as f:
        lines = f.read().decode("ascii").split("\r\n")
    blocks, current = [], None
    for line in lines:
        if line == "POP":
            current = []
            blocks.append(current)
        elif current is not None and "," in line:
            codes = line.split(",", 1)[1].split()
            current.append([(c[:3], c[3:]) for c in codes])
        elif line == "":
            current = None
    return blocks


def dna_files(dirs):
    """(run name, k, diploid, folder, manifest row) of every DNA simulation."""
    for name, (k, diploid) in DNA_RUNS.items():
        folder = os.path.join(dirs[name], "E")
        for row in manifest(folder):
            assert int(row["copies"]) == k and int(row["sites"]) == SITES, row
            yield name, k, diploid, folder, row


def tree_tips(text):
    return set(re.findall(r"[(,]([A-Za-z0-9]+):", text))


def check_tree_tool(dirs, tool, infer):
    """A tree inference tool on the first simulation of every DNA set: its tree names every
    taxon of that simulation and no other."""
    seen = 0
    for name, k, diploid, folder, row in dna_files(dirs):
        if row["simulation"] != "1":
            continue
        for column in infer[0]:
            path = os.path.join(folder, row[column])
            out = os.path.join(os.path.dirname(folder), tool + "-" + column)
            os.makedirs(out, exist_ok=True)
            tree = infer[1](path, out)
            tips = tree_tips(tree)
            assert tips == expected_names(k, diploid), (tool, name, column, sorted(tips))
            print("%s read %s (%s): %d taxa, all of them" % (tool, row[column], name, len(tips)))
            seen += 1
    assert seen >= 2


def raxml(path, out):
    subprocess.run(["raxmlHPC", "-s", path, "-n", "t", "-m", "GTRCAT", "-p", "1", "-w",
                    os.path.abspath(out)], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(out, "RAxML_bestTree.t")) as f:
        return f.read()


def phyml(path, out):
    local = os.path.join(out, os.path.basename(path))
    shutil.copy(path, local)
    env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
    subprocess.run(["phyml", "-i", local, "-d", "nt", "-q", "-m", "JC69", "-b", "0", "-o", "tl",
                    "--quiet"], check=True, stdout=subprocess.DEVNULL, env=env)
    with open(local + "_phyml_tree.txt") as f:
        return f.read()


def iqtree(path, out):
    prefix = os.path.join(out, "t")
    subprocess.run(["iqtree2", "-s", path, "-m", "JC", "-redo", "-nt", "1", "-seed", "1",
                    "-pre", prefix, "-quiet"], check=True, stdout=subprocess.DEVNULL)
    with open(prefix + ".treefile") as f:
        return f.read()


def biopython(dirs):
    from Bio import AlignIO, Phylo
    from Bio.PopGen import GenePop
    for name, k, diploid, folder, row in dna_files(dirs):
        alignments = [AlignIO.read(os.path.join(folder, row[c]), f)
                      for c, f in (("fasta", "fasta"), ("phylip", "phylip-relaxed"),
                                   ("nexus", "nexus"))]
        first = {r.id: str(r.seq).upper() for r in alignments[0]}
        assert set(first) == expected_names(k, diploid), sorted(first)
        for a in alignments:
            assert a.get_alignment_length() == SITES
            assert {r.id: str(r.seq).upper() for r in a} == first, (name, row)
        tree = Phylo.read(os.path.join(folder, row["tree"]), "newick")
        assert {t.name for t in tree.get_terminals()} == set(first)
    print("Biopython AlignIO read every FASTA, PHYLIP and NEXUS file alike; Phylo every tree")
    blocks = genotype_table(os.path.join(dirs["msat"], "MsatData.csv"))
    for s, row in enumerate(manifest(os.path.join(dirs["msat"], "G"))):
        with open(os.path.join(dirs["msat"], "G", row["genepop"])) as f:
            record = GenePop.read(f)
        assert record.loci_list == ["locus%d" % (l + 1) for l in range(LOCI)], record.loci_list
        assert len(record.populations) == 1
        people = record.populations[0]
        assert [p[0] for p in people] == ["ind%d" % (i + 1) for i in range(MSAT_K // 2)]
        got = [[("%03d" % a, "%03d" % b) for a, b in p[1]] for p in people]
        assert got == blocks[s], (s, got, blocks[s])
        # One genealogy per locus, every copy at its tips.
        trees = list(Phylo.parse(os.path.join(dirs["msat"], "G", row["tree"]), "newick"))
        assert len(trees) == LOCI
        for tree in trees:
            assert {t.name for t in tree.get_terminals()} == expected_names(MSAT_K, True)
    print("Biopython GenePop read every GenePop file: the genotypes of the genotype table")


def dendropy_check(dirs):
    import dendropy
    for name, k, diploid, folder, row in dna_files(dirs):
        # One namespace for the three alignments and the tree: a name read differently by
        # any of them would add a taxon.
        ns = dendropy.TaxonNamespace()
        for column, schema in (("fasta", "fasta"), ("phylip", "phylip"), ("nexus", "nexus")):
            m = dendropy.DnaCharacterMatrix.get(path=os.path.join(folder, row[column]),
                                                schema=schema, taxon_namespace=ns)
            assert len(m) == k and m.max_sequence_size == SITES, (name, column)
        dendropy.Tree.get(path=os.path.join(folder, row["tree"]), schema="newick",
                          taxon_namespace=ns)
        assert {t.label for t in ns} == expected_names(k, diploid), sorted(t.label for t in ns)
    print("DendroPy read every alignment and tree with one taxon set of k names")


def main():
    cli, work, tool = sys.argv[1], sys.argv[2], sys.argv[3]
    if tool in ("ape", "phangorn", "adegenet"):
        if not shutil.which("Rscript"):
            skip("Rscript is not installed (r-base-core)")
        probe = subprocess.run(["Rscript", "-e", "quit(status = !requireNamespace('%s', "
                                "quietly = TRUE))" % tool], capture_output=True)
        if probe.returncode != 0:
            skip("the R package %s is not installed (r-cran-%s)" % (tool, tool))
    elif tool in ("raxml", "phyml", "iqtree"):
        program = {"raxml": "raxmlHPC", "phyml": "phyml", "iqtree": "iqtree2"}[tool]
        if not shutil.which(program):
            skip(program + " is not installed")
    elif tool == "biopython":
        try:
            import Bio  # noqa: F401
        except ImportError:
            skip("Biopython is not installed (python3-biopython)")
    elif tool == "dendropy":
        try:
            import dendropy  # noqa: F401
        except ImportError:
            skip("DendroPy is not installed (python3-dendropy)")
    else:
        sys.exit("unknown tool " + tool)

    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    dirs = run_cli(cli, work)
    if tool in ("ape", "phangorn", "adegenet"):
        subprocess.run(["Rscript", os.path.join(HERE, "check_each_sim_readers.R"), tool,
                        dirs["diploid"], dirs["haploid"], dirs["msat"], dirs["polytomy"]],
                       check=True)
    elif tool == "raxml":
        check_tree_tool(dirs, tool, (["phylip"], raxml))
    elif tool == "phyml":
        check_tree_tool(dirs, tool, (["phylip"], phyml))
    elif tool == "iqtree":
        check_tree_tool(dirs, tool, (["nexus", "fasta", "phylip"], iqtree))
    elif tool == "biopython":
        biopython(dirs)
    else:
        dendropy_check(dirs)


if __name__ == "__main__":
    main()
