// Joins of slices through whole runs of quenlith-cli, tried as a hostile user would: a join
// into a folder where a run writes, into a folder an earlier run left, of slices that are
// missing, empty, cut or changed, with outputs over its own inputs, with options it cannot
// honour, and stopped by a signal.
#include "base/file_io.h"
#include "base/run_error.h"
#include "base/run_lock.h"
#include "cli/cli_run.h"
#include "fault/fault_support.h"
#include "run/slice_manifest.h"
#include "support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quenlith;
using namespace quenlith::testing;
namespace fs = std::filesystem;

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A streams DNA run with every output a join handles: sequences, Arlequin projects, the
// statistics table, the VCF and the ms file.
std::vector<std::string> sliceArgs(const std::string& dir, int first, int sims, int of,
                                   std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--quiet",
                                     "--rng",
                                     "streams",
                                     "--seed",
                                     "77",
                                     "--sample-size",
                                     "6",
                                     "--pop-size",
                                     "40",
                                     "--seq-length",
                                     "300",
                                     "--sims",
                                     std::to_string(sims),
                                     "--seq-out",
                                     "--arlequin",
                                     "--stats",
                                     "st.csv",
                                     "--vcf",
                                     "v.vcf.gz",
                                     "--ms",
                                     "s.ms",
                                     "--mutation-rate",
                                     "0.0005",
                                     "--workdir",
                                     dir};
    if (first > 0) args.insert(args.end(), {"--first-sim", std::to_string(first)});
    if (of > 0) args.insert(args.end(), {"--of", std::to_string(of)});
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<std::string> joinArgs(const std::vector<std::string>& slices, const std::string& out) {
    std::vector<std::string> args = {"--quiet", "--join"};
    args.insert(args.end(), slices.begin(), slices.end());
    args.insert(args.end(), {"--workdir", out});
    return args;
}

// The files of a folder without the log's three lines of date and times.
std::map<std::string, std::string> withoutTimes(const fs::path& dir) {
    auto files = filesBelow(dir);
    if (files.count("logFile.txt")) {
        std::istringstream in(files["logFile.txt"]);
        std::string line, kept;
        for (int n = 1; std::getline(in, line); ++n)
            if (n < 4 || n > 6) kept += line + "\n";
        files["logFile.txt"] = kept;
    }
    return files;
}

// The names of the files that differ between two folders, or are in one only.
// `b` is a folder that was renamed from `a`: the paths it holds name `a`.
std::string differences(const fs::path& a, const fs::path& b) {
    const auto fa = withoutTimes(a);
    auto fb = withoutTimes(b);
    for (auto& [name, text] : fb)
        for (size_t at = text.find(a.string()); at != std::string::npos;
             at = text.find(a.string(), at))
            text.replace(at, a.string().size(), "<workdir>");
    std::string out;
    for (const auto& [name, text] : fa)
        if (!fb.count(name) || fb.at(name) != text) out += name + " ";
    for (const auto& [name, text] : fb)
        if (!fa.count(name)) out += name + " ";
    return out;
}

std::string manifestState(const fs::path& dir) {
    SliceManifest m;
    std::string error;
    if (!parseSliceManifest(readFile(dir / kSliceManifestName), m, error)) return "unreadable";
    return m.complete ? "complete" : "running";
}

struct Slices {
    TempDir root;
    std::string dir(const std::string& name) const { return root.file(name); }
    // Simulations 1..12 of a run of 20 in a, 13..20 in b; the whole run in "run", kept as
    // "whole", so that paths inside the files agree with a join into "run".
    Slices() {
        EXPECT_EQ(runCli(sliceArgs(dir("run"), 0, 20, 0)).status, 0);
        fs::rename(dir("run"), dir("whole"));
        EXPECT_EQ(runCli(sliceArgs(dir("a"), 1, 12, 20)).status, 0);
        EXPECT_EQ(runCli(sliceArgs(dir("b"), 13, 8, 20)).status, 0);
    }
};

} // namespace

// A join into a folder where a run holds the lock is refused before it writes; one into a
// folder an earlier, larger run left keeps nothing of that run.
TEST(JoinFault, TakesTheLockAndClearsAnEarlierRun) {
    Slices s;
    fs::create_directories(s.dir("run"));
    {
        RunLock held(s.dir("run"));
        const CliRun r = runCli(joinArgs({s.dir("a"), s.dir("b")}, s.dir("run")));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("error: Working directory in use: " + s.dir("run"), 0), 0u) << r.err;
        EXPECT_EQ(filesBelow(s.dir("run")).size(), 1u); // the lock file alone
    }
    // Nor does it read a slice into which a run writes.
    {
        RunLock held(s.dir("b"));
        const CliRun r = runCli(joinArgs({s.dir("a"), s.dir("b")}, s.dir("run")));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("error: Working directory in use: " + s.dir("b"), 0), 0u) << r.err;
        EXPECT_EQ(filesBelow(s.dir("run")).size(), 0u);
    }
    // An earlier run of 50 with its projects 1..50, its log and a complete manifest.
    ASSERT_EQ(runCli(sliceArgs(s.dir("run"), 0, 50, 0)).status, 0);
    ASSERT_TRUE(fs::exists(s.dir("run") + "/Arlequin/sim_50.arp"));
    CliRun r = runCli(joinArgs({s.dir("b"), s.dir("a")}, s.dir("run")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(differences(s.dir("run"), s.dir("whole")), "");

    // A join that fails midway leaves no log and a manifest that says it did not finish, so
    // that no later join takes the folder for a finished run.
    ASSERT_EQ(runCli(sliceArgs(s.dir("run"), 0, 50, 0)).status, 0);
    fs::remove(fs::path(s.dir("run")) / "MutMatFile.txt");
    fs::create_directories(fs::path(s.dir("run")) / "MutMatFile.txt");
    r = runCli(joinArgs({s.dir("a"), s.dir("b")}, s.dir("run")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: File access denied: " + s.dir("run") + "/MutMatFile.txt\n");
    EXPECT_FALSE(fs::exists(s.dir("run") + "/logFile.txt"));
    EXPECT_FALSE(fs::exists(s.dir("run") + "/Arlequin/sim_50.arp"));
    EXPECT_EQ(manifestState(s.dir("run")), "running");
    r = runCli(joinArgs({s.dir("run")}, s.dir("again")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("incomplete slice: the run in " + s.dir("run")), std::string::npos)
        << r.err;
}

// Slices of no simulation, first or last, change nothing: the joined files are the whole
// run's, their counts and the VCF's contig lengths included.
TEST(JoinFault, EmptySlicesAndTheWholeRunsSize) {
    Slices s;
    ASSERT_EQ(runCli(sliceArgs(s.dir("none-first"), 1, 0, 20)).status, 0);
    ASSERT_EQ(runCli(sliceArgs(s.dir("none-last"), 20, 0, 20)).status, 0);
    const CliRun r = runCli(
        joinArgs({s.dir("none-last"), s.dir("none-first"), s.dir("b"), s.dir("a")}, s.dir("run")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(differences(s.dir("run"), s.dir("whole")), "");

    // Without its last slice the run is incomplete; a slice of another run size is refused.
    CliRun missing = runCli(joinArgs({s.dir("a")}, s.dir("out")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("missing slice: simulations 13 to 20 of the run of 20 are in no "
                               "slice (the last slice is missing)"),
              std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(s.dir("out")));
    ASSERT_EQ(runCli(sliceArgs(s.dir("c"), 13, 8, 30)).status, 0);
    missing = runCli(joinArgs({s.dir("a"), s.dir("c")}, s.dir("out")));
    EXPECT_NE(missing.err.find("different runs"), std::string::npos) << missing.err;
    // A slice needs its run's size.
    const CliRun noOf = runCli(sliceArgs(s.dir("d"), 13, 8, 0));
    EXPECT_EQ(noOf.status, 1);
    EXPECT_NE(noOf.err.find("needs --of S"), std::string::npos) << noOf.err;
}

// Every file of a slice cut, emptied or changed after its run is named, before the output
// folder is touched.
TEST(JoinFault, CutEmptiedOrChangedFilesAreRefusedByName) {
    Slices s;
    struct Damage {
        const char* file;
        const char* kind;
        std::function<std::string(std::string)> apply;
    };
    const std::vector<Damage> damages = {
        {"NewickTrees.tre", "cut",
         [](std::string t) { return t.substr(0, t.rfind('\n', t.size() - 2) + 1); }},
        {"st.csv", "emptied", [](std::string) { return std::string(); }},
        {"v.vcf.gz", "cut", [](std::string t) { return t.substr(0, t.size() / 2); }},
        {"outfile.csv", "changed",
         [](std::string t) {
             t[t.size() / 2] = t[t.size() / 2] == '1' ? '2' : '1';
             return t;
         }},
        {"Arlequin/sim_3.arp", "changed", [](std::string t) { return t + " "; }},
        {"s.ms", "changed", [](std::string t) { return t + "\n"; }},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.file);
        const fs::path path = fs::path(s.dir("a")) / d.file;
        const std::string kept = readFile(path);
        writeBytes(path.string(), d.apply(kept));
        const CliRun r = runCli(joinArgs({s.dir("a"), s.dir("b")}, s.dir("out")));
        EXPECT_EQ(r.status, 1);
        const std::string named = std::string(d.file).rfind("Arlequin", 0) == 0
                                      ? s.dir("a") + "/Arlequin/"
                                      : path.string();
        EXPECT_EQ(
            r.err.rfind(std::string("error: Cannot join the slices: ") + d.kind + " file: " + named,
                        0),
            0u)
            << r.err;
        EXPECT_FALSE(fs::exists(s.dir("out")));
        writeBytes(path.string(), kept);
    }
    fs::remove(fs::path(s.dir("b")) / "TreeMatFile.txt");
    const CliRun r = runCli(joinArgs({s.dir("a"), s.dir("b")}, s.dir("out")));
    EXPECT_EQ(r.err.rfind("error: Cannot join the slices: missing file: " + s.dir("b") +
                              "/TreeMatFile.txt",
                          0),
              0u)
        << r.err;
    // A manifest of the earlier format knows neither the run's size nor the digests.
    writeBytes(s.dir("b") + "/" + kSliceManifestName, "quenlith-slice 1\nstate complete\n");
    const CliRun old = runCli(joinArgs({s.dir("a"), s.dir("b")}, s.dir("out")));
    EXPECT_NE(old.err.find("earlier version of quenlith"), std::string::npos) << old.err;
}

// Names that leave the working folder: refused for a slice; a join that would write over a
// file of a slice is refused and the file kept.
TEST(JoinFault, OutputsOutsideTheFolderAndOverTheInputs) {
    TempDir root;
    const std::string a = root.file("a"), b = root.file("b");
    CliRun r = runCli(sliceArgs(a, 1, 5, 10, {"--stats", "../st.csv"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("../st.csv"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(root.file("st.csv")));
    // A whole streams run may write there; joining it into a neighbour folder would empty it.
    ASSERT_EQ(runCli(sliceArgs(a, 0, 5, 0, {"--stats", "../st.csv"})).status, 0);
    const std::string table = readFile(root.file("st.csv"));
    ASSERT_FALSE(table.empty());
    r = runCli(joinArgs({a}, b));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("would overwrite " + a + "/../st.csv"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(root.file("st.csv")), table);
}

// Options that a join cannot honour are refused with their names; so is a join without
// folders, which once took "--workdir" for one.
TEST(JoinFault, OptionsItCannotHonourAreRefused) {
    TempDir dir;
    CliRun r = runCli({"--join", dir.file("a"), "--vcf", "x.vcf", "--sims", "5", "--msat", "--seed",
                       "3", "--workdir", dir.file("out")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "error: --join takes only --workdir and --quiet: the slices' manifests fix "
                     "the run, so --vcf, --sims, --msat, --seed cannot be honoured\n");
    r = runCli({"--join", "--workdir", dir.file("out")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "error: option --join needs one or more slice folders DIR...\n");
    r = runCli({"--rng", "streams", "--threads", "10000000000", "--workdir", dir.str()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "error: --threads: '10000000000' is too large (at most 2147483647)\n");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// SIGINT and SIGTERM stop a join between blocks; its folder is left as after a failed join.
TEST(JoinFault, SignalsStopAJoinPromptly) {
    TempDir root;
    const std::vector<std::string> big = {"--sample-size", "100",          "--pop-size",
                                          "100",           "--seq-length", "100000"};
    std::vector<std::string> slices;
    for (int i = 0; i < 4; ++i) {
        slices.push_back(root.file("s" + std::to_string(i)));
        std::vector<std::string> args = sliceArgs(slices.back(), 5 * i + 1, 5, 20, big);
        ASSERT_EQ(runCli(args).status, 0);
    }
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        const std::string out = root.file("out" + std::to_string(sig));
        const std::string errPath = root.file("stderr.txt");
        const pid_t pid = ::fork();
        if (pid == 0) {
            installStopSignals();
            // The signal once the join writes into its folder.
            std::thread interrupter([&] {
                while (!fs::exists(out + "/" + kSliceManifestName))
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                ::kill(::getpid(), sig);
            });
            std::ostringstream o, e;
            const int status = runCli(joinArgs(slices, out), o, e, false);
            interrupter.join();
            writeBytes(errPath, e.str());
            ::_exit(status);
        }
        Watchdog watchdog(60, "the stopped join");
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
        EXPECT_EQ(readFile(errPath), std::string("quenlith-cli: stopped by ") +
                                         (sig == SIGTERM ? "SIGTERM" : "SIGINT") +
                                         ": the join did not finish; no run log was written\n");
        EXPECT_FALSE(fs::exists(out + "/logFile.txt"));
        EXPECT_FALSE(fs::exists(out + "/" + kRunLockName));
        EXPECT_EQ(manifestState(out), "running");
    }
}

// Slices agree by the values that reach their files, not by the text of their controls: a
// number written another way, or a ratio that the model does not read.
TEST(JoinFault, SlicesAgreeByTheValuesThatReachTheFiles) {
    Slices s;
    ASSERT_EQ(runCli(sliceArgs(s.dir("b06"), 13, 8, 20,
                               {"--sample-size", "06", "--titv", "3", "--pop-size", "040",
                                "--mutation-rate", "5e-4"}))
                  .status,
              0);
    CliRun r = runCli(joinArgs({s.dir("a"), s.dir("b06")}, s.dir("run")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(differences(s.dir("run"), s.dir("whole")), "");
    // Under K2P the ratio is read: another one is another run.
    ASSERT_EQ(runCli(sliceArgs(s.dir("k1"), 1, 12, 20, {"--model", "K2P"})).status, 0);
    ASSERT_EQ(runCli(sliceArgs(s.dir("k2"), 13, 8, 20, {"--model", "K2P", "--titv", "3"})).status,
              0);
    r = runCli(joinArgs({s.dir("k1"), s.dir("k2")}, s.dir("out")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("different parameters: edtTiTv is '2' in " + s.dir("k1") + " and '3'"),
              std::string::npos)
        << r.err;
}

// The joined folder holds the input file its log names: the root sequence of a DNA run, the
// parameter file of a microsatellite run.
TEST(JoinFault, JoinedFolderHoldsTheInputFileItsLogNames) {
    TempDir root;
    struct Input {
        std::string name, content;
        std::vector<std::string> options;
    };
    const std::vector<Input> inputs = {
        {"seqin.txt", "ACGTTGCAACGTACGTAAGGCCTT\r\n", {"--seq-input", "seqin.txt"}},
        {"msatparam.txt",
         "1 100 140 2 0.001\r\n2 50 90 4 0.0005\r\n",
         {"--msat", "--loci", "2", "--msat-out", "--stats", "st.csv"}},
    };
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.name);
        std::vector<std::string> slices;
        for (const int first : {1, 4}) {
            const std::string dir = root.file(in.name + std::to_string(first));
            fs::create_directories(dir);
            writeBytes(dir + "/" + in.name, in.content);
            std::vector<std::string> args = {"--quiet",
                                             "--rng",
                                             "streams",
                                             "--seed",
                                             "5",
                                             "--sample-size",
                                             "6",
                                             "--pop-size",
                                             "40",
                                             "--sims",
                                             "3",
                                             "--first-sim",
                                             std::to_string(first),
                                             "--of",
                                             "6",
                                             "--workdir",
                                             dir};
            args.insert(args.end(), in.options.begin(), in.options.end());
            ASSERT_EQ(runCli(args).status, 0);
            slices.push_back(dir);
        }
        const std::string out = root.file(in.name + "-joined");
        const CliRun r = runCli(joinArgs(slices, out));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(out + "/" + in.name), in.content);
        // The DNA log names the root file; the microsatellite log shows the loci it read.
        const std::string log = readFile(out + "/logFile.txt");
        EXPECT_NE(log.find(in.name == "seqin.txt" ? "Root sequence provided in seqin.txt"
                                                  : "  2        50   90       4"),
                  std::string::npos)
            << log;
        EXPECT_EQ(manifestState(out), "complete");
        // The joined folder is itself a finished run that a join takes.
        const CliRun again = runCli(joinArgs({out}, out + "-again"));
        EXPECT_EQ(again.status, 0) << again.err;
    }
}

// What a run leaves for the next: optional files it did not ask for are removed (a file of
// the run under such a name is kept), a microsatellite run writes no sequence file, and a
// symbolic link in place of the lock file is named as such.
TEST(RunStartFault, StaleOptionalFilesAndTheLockFileLink) {
    TempDir dir;
    const std::vector<std::string> base = {"--quiet", "--seed",     "5",      "--sample-size",
                                           "6",       "--pop-size", "40",     "--sims",
                                           "3",       "--workdir",  dir.str()};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), base.begin(), base.end());
        return more;
    };
    ASSERT_EQ(
        runCli(with({"--stats", "stats.csv", "--vcf", "sites.vcf", "--ms", "sites.ms"})).status, 0);
    ASSERT_TRUE(dir.exists("stats.csv") && dir.exists("sites.vcf") && dir.exists("sites.ms"));
    ASSERT_EQ(runCli(with({"--stats", "stats.csv"})).status, 0);
    EXPECT_TRUE(dir.exists("stats.csv"));
    EXPECT_FALSE(dir.exists("sites.vcf"));
    EXPECT_FALSE(dir.exists("sites.ms"));
    // A root sequence file named like the unasked table is the run's input: kept.
    dir.write("sites.ms", "ACGTACGTACGTAAAA");
    ASSERT_EQ(runCli(with({"--seq-input", "sites.ms"})).status, 0);
    EXPECT_EQ(dir.read("sites.ms"), "ACGTACGTACGTAAAA");
    EXPECT_FALSE(dir.exists("stats.csv"));

    TempDir msat;
    msat.write("msatparam.txt", "1 100 140 2 0.001\r\n");
    const CliRun m = runCli(
        {"--quiet", "--seed", "5", "--msat", "--seq-out", "--msat-out", "--workdir", msat.str()});
    EXPECT_EQ(m.status, 0) << m.err;
    EXPECT_FALSE(msat.exists("seqout.txt"));
    EXPECT_TRUE(msat.exists("MsatData.csv"));

    TempDir locked;
    fs::create_symlink(dir.file("elsewhere"), locked.path() / kRunLockName);
    const CliRun l = runCli({"--quiet", "--seed", "1", "--workdir", locked.str()});
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.err, "error: File access denied: " + locked.file(kRunLockName) +
                         " (a symbolic link in place of the run's lock file: remove it)\n");
    EXPECT_FALSE(dir.exists("elsewhere"));
}

// A part file that cannot take its name says why: gone (deleted during the run), or the
// system's reason for the name it was to take.
TEST(RunStartFault, RenameOfAPartFileNamesTheRealCause) {
    TempDir dir;
    const auto error = [](const std::string& from, const std::string& to) {
        try {
            renameWrittenFile(from, to);
        } catch (const RunError& e) {
            return e.text() + ": " + e.detail();
        }
        return std::string("renamed");
    };
    EXPECT_EQ(error(dir.file("gone.part"), dir.file("gone")),
              "File not found: " + dir.file("gone.part") + " (deleted during the run)");
    dir.write("t.part", "x");
    EXPECT_EQ(error(dir.file("t.part"), dir.file("no/such/folder/t")),
              "File not found: " + dir.file("no/such/folder/t"));
    fs::create_directories(dir.path() / "full" / "x");
    dir.write("full/x/y", "z");
    EXPECT_EQ(error(dir.file("t.part"), dir.file("full/x")),
              "File access denied: " + dir.file("full/x"));
    EXPECT_EQ(error(dir.file("t.part"), dir.file("t")), "renamed");
}
