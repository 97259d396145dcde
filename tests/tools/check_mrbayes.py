#!/usr/bin/env python3
"""Runs quenlith-cli with the "MrBayes" layout and has MrBayes (mb) execute the whole sequence
file in batch mode: each simulation's data block is read, the lset and mcmc commands run and
each chain's samples are written to files of that simulation's own name, none overwritten by
the next, with no error. MrBayes needs at least four taxa.

usage: check_mrbayes.py QUENLITH_CLI WORKDIR
"""
import os
import shutil
import subprocess
import sys

K = 6


SIMS = 2


def check_blocks(path, lset):
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    blocks = ["#NEXUS" + part for part in data.split("#NEXUS")[1:]]
    assert len(blocks) == SIMS, len(blocks)
    for s, b in enumerate(blocks, 1):
        assert b.endswith("begin mrbayes;\r\nset autoclose=yes;\r\n"
                          + lset +
                          "mcmc ngen=1000 printfreq=100 samplefreq=10 nchains=4 "
                          "savebrlens=yes filename=sim_%d;\r\nend;\r\n" % s), b


def main():
    cli, work = sys.argv[1], sys.argv[2]
    mb = shutil.which("mb")
    if mb is None:
        sys.exit("mb (MrBayes) not found on PATH")
    # The equal-frequency models fix the frequencies with a prset line that MrBayes must accept.
    cases = [(False, "HKY85", True, "lset nst=2 rates=gamma;\r\n"),
             (True, "HKY85", True, "lset nst=2 rates=gamma;\r\n"),
             (False, "K2P", False, "lset nst=2 ;\r\nprset statefreqpr=fixed(equal);\r\n")]
    for diploid, model, gamma, lset in cases:
        out = os.path.join(work, ("diploid" if diploid else "haploid") + "_" + model)
        if os.path.isdir(out):
            shutil.rmtree(out)
        os.makedirs(out)
        args = [cli, "--seed", "17", "--sims", str(SIMS), "--sample-size", str(K), "--pop-size", "300",
                "--seq-length", "200", "--mutation-rate", "0.0002", "--model", model,
                "--seq-out", "--format", "MrBayes", "--workdir", out, "--quiet"]
        if diploid:
            args.append("--diploid")
        if gamma:
            args += ["--gamma", "0.7"]
        subprocess.run(args, check=True)
        check_blocks(os.path.join(out, "seqout.txt"), lset)
        result = subprocess.run([mb, "seqout.txt"], cwd=out, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        log = result.stdout.decode("utf-8", "replace")
        assert result.returncode == 0, log
        assert "error" not in log.lower(), log
        assert log.count("Defining new matrix with %d taxa and 200 characters" % K) == SIMS, log
        for s in range(1, SIMS + 1):
            # One header line, one column line, then samples 0, 10, ..., 1000, per run.
            for run in (1, 2):
                with open(os.path.join(out, "sim_%d.run%d.p" % (s, run))) as f:
                    samples = [l for l in f.read().splitlines() if l[:1].isdigit()]
                assert len(samples) == 101, (s, run, len(samples))
            assert os.path.getsize(os.path.join(out, "sim_%d.run1.t" % s)) > 0
    print("MrBayes ran every block, haploid and diploid, HKY85 and K2P; each simulation's files kept")


if __name__ == "__main__":
    main()
