#!/usr/bin/env python3
"""Runs quenlith-cli with the "MrBayes" layout and has MrBayes (mb) execute the first block
of the sequence file in batch mode: the data block is read, the lset and mcmc commands run
and the chain's samples are written, with no error. MrBayes needs at least four taxa.

usage: check_mrbayes.py QUENLITH_CLI WORKDIR
"""
import os
import shutil
import subprocess
import sys

K = 6


def first_block(path):
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    blocks = ["#NEXUS" + part for part in data.split("#NEXUS")[1:]]
    assert len(blocks) >= 2
    assert blocks[0].endswith("begin mrbayes;\r\nset autoclose=yes;\r\n"
                              "lset nst=2 rates=gamma;\r\n"
                              "mcmc ngen=1000 printfreq=100 samplefreq=10 nchains=4 "
                              "savebrlens=yes;\r\nend;\r\n"), blocks[0]
    return blocks[0]


def main():
    cli, work = sys.argv[1], sys.argv[2]
    mb = shutil.which("mb")
    if mb is None:
        sys.exit("mb (MrBayes) not found on PATH")
    for diploid in (False, True):
        out = os.path.join(work, "diploid" if diploid else "haploid")
        if os.path.isdir(out):
            shutil.rmtree(out)
        os.makedirs(out)
        args = [cli, "--seed", "17", "--sims", "2", "--sample-size", str(K), "--pop-size", "300",
                "--seq-length", "200", "--mutation-rate", "0.0002", "--model", "HKY85",
                "--gamma", "0.7", "--seq-out", "--format", "MrBayes", "--workdir", out, "--quiet"]
        if diploid:
            args.append("--diploid")
        subprocess.run(args, check=True)
        nexus = os.path.join(out, "first.nex")
        with open(nexus, "wb") as f:
            f.write(first_block(os.path.join(out, "seqout.txt")).encode("ascii"))
        result = subprocess.run([mb, "first.nex"], cwd=out, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        log = result.stdout.decode("utf-8", "replace")
        assert result.returncode == 0, log
        assert "error" not in log.lower(), log
        assert "Defining new matrix with %d taxa and 200 characters" % K in log, log
        # One header line, one column line, then samples 0, 10, ..., 1000.
        with open(os.path.join(out, "first.nex.run1.p")) as f:
            samples = [l for l in f.read().splitlines() if l[:1].isdigit()]
        assert len(samples) == 101, len(samples)
    print("MrBayes ran the first block, haploid and diploid")


if __name__ == "__main__":
    main()
