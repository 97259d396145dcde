// Runs that must not mix, cut or lose data, hang or crash, through whole runs of quenlith-cli:
// two runs in one working directory, colliding and unusable file names, the files an earlier
// run leaves, a full disk (a small tmpfs) and a file-size limit, SIGINT and SIGTERM during a
// run, output files deleted during a run, input files that are not regular files or too
// large, parameters that are not used or that would overflow, and a missing working
// directory.
#include "base/run_error.h"
#include "base/run_lock.h"
#include "cli/cli_run.h"
#include "fault/fault_support.h"
#include "run/run_start.h"
#include "support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quenlith;
using namespace quenlith::testing;
namespace fs = std::filesystem;

namespace {

// Simulations that write every DNA output: sequences, Arlequin projects, summary, log.
std::vector<std::string> dnaArgs(const std::string& dir, const std::string& sims = "3") {
    return {"--quiet", "--seed",     "5",          "--workdir",       dir,    "--sample-size",
            "6",       "--pop-size", "40",         "--seq-length",    "30",   "--sims",
            sims,      "--seq-out",  "--arlequin", "--mutation-rate", "0.001"};
}

std::vector<std::string> plus(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Waits until `path` holds at least `lines` line ends (or `seconds` pass).
bool waitForLines(const std::string& path, size_t lines, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        if (count(ss.str(), "\n") >= lines) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The files of `dir` but the log (which holds the time of the run).
std::map<std::string, std::string> filesWithoutLog(const fs::path& dir) {
    auto files = filesBelow(dir);
    files.erase("logFile.txt");
    return files;
}

} // namespace

// ---- One run at a time per working directory ----

TEST(RunLockFault, SecondRunInTheDirectoryIsRefusedBeforeItTouchesAFile) {
    TempDir dir;
    {
        RunLock held(dir.str()); // another run, in this process
        const CliRun r = runCli(dnaArgs(dir.str()));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error: Working directory in use: " + dir.str() +
                             " (another run, process " + std::to_string(::getpid()) +
                             ", is writing there)\n");
        const auto files = filesBelow(dir.path());
        ASSERT_EQ(files.size(), 1u); // the lock file only
        EXPECT_EQ(files.begin()->first, kRunLockName);
    }
    // Released: the lock file is gone and the next run works, leaving no lock file behind.
    EXPECT_FALSE(dir.exists(kRunLockName));
    const CliRun r = runCli(dnaArgs(dir.str()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(dir.exists(kRunLockName));
    EXPECT_TRUE(dir.exists("logFile.txt"));

    // A lock file left by a run that was killed holds no lock.
    writeBytes(dir.file(kRunLockName), "999999\n");
    EXPECT_EQ(runCli(dnaArgs(dir.str())).status, 0);
}

// The case that was found: two large runs started together into one folder.
TEST(RunLockFault, TwoRunsStartedTogetherNeverInterleave) {
    TempDir dir;
    auto args = [&](const char* seed, const char* k) {
        return std::vector<std::string>{"--quiet",       "--seed",    seed,           "--sims",
                                        "20000",         "--seq-out", "--seq-length", "100",
                                        "--sample-size", k,           "--workdir",    dir.str()};
    };
    CliChild first = startCli(args("11", "50"));
    ASSERT_TRUE(waitForLines(dir.file("NewickTrees.tre"), 1));
    const CliRun second = runCli(args("12", "20"));
    const CliRun done = finishCli(first, 120);
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err.rfind("error: Working directory in use: " + dir.str(), 0), 0u)
        << second.err;
    const auto files = filesBelow(dir.path());
    EXPECT_EQ(count(files.at("NewickTrees.tre"), "\n"), 20000u);
    EXPECT_EQ(count(files.at("seqout.txt"), "NTAX=50 "), 20000u);
    EXPECT_EQ(count(files.at("seqout.txt"), "NTAX=20 "), 0u);
}

// A folder where no file can be created is locked as a folder.
TEST(RunLockFault, ReadOnlyDirectoryIsLockedWithoutALockFile) {
    if (!permissionsApply() && !canRunUnprivileged()) GTEST_SKIP() << "cannot drop to nobody";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0555));
    const CliRun r = runCli(dnaArgs(dir.str()), 60, !permissionsApply());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: File access denied: " + dir.file("CoalDistrib.csv") + "\n");
    EXPECT_TRUE(filesBelow(dir.path()).empty());
}

// ---- File names ----

TEST(FileNameFault, CollidingNamesAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        std::vector<std::string> args;
        std::string warning;
    };
    const std::vector<Case> cases = {
        {{"--log-file", "NewickTrees.tre"},
         "NewickTrees.tre is the Newick tree file and the run log"},
        {{"--seq-out-file", "TreeMatFile.txt"},
         "TreeMatFile.txt is the sequence output file and the genealogy matrix file"},
        {{"--summary-file", "./sub/../CoalDistrib.csv"},
         "./sub/../CoalDistrib.csv is the coalescence time distribution and the summary table"},
        {{"--newick-file", "Arlequin/sim_2.arp"},
         "Arlequin/sim_2.arp is an Arlequin project of the run and the Newick tree file"},
        {{"--log-file", "ArlequinBatch.arp"},
         "ArlequinBatch.arp is the Arlequin batch file and the run log"},
        {{"--seq-input", "seqin.txt", "--seq-out-file", "seqin.txt"},
         "seqin.txt is the input DNA sequence file and the sequence output file"},
        {{"--mut-distrib-file", ".quenlith.lock"},
         ".quenlith.lock is the lock file of the run and the mutation time distribution"},
        {{"--summary-file", "hard.csv", "--log-file", "link.txt"},
         "link.txt is the summary table and the run log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        TempDir dir;
        writeBytes(dir.file("seqin.txt"), "ACGT\n");
        writeBytes(dir.file("hard.csv"), "old");
        fs::create_hard_link(dir.path() / "hard.csv", dir.path() / "link.txt");
        const auto before = filesBelow(dir.path());
        const CliRun r = runCli(plus(dnaArgs(dir.str()), c.args));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "WARNING: Two files of the run have one name: " + c.warning + "\n");
        EXPECT_EQ(filesBelow(dir.path()), before);
    }
    // The microsatellite data file over the parameter file would destroy the run's input.
    TempDir dir;
    writeBytes(dir.file("msatparam.txt"), "1 100 140 2 0.001\n");
    const CliRun r =
        runCli({"--quiet", "--seed", "1", "--workdir", dir.str(), "--msat", "--msat-model",
                "stepwise", "--msat-out", "--msat-out-file", "msatparam.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "WARNING: Two files of the run have one name: msatparam.txt is the "
                     "microsatellite parameter file and the microsatellite data file\n");
    EXPECT_EQ(dir.read("msatparam.txt"), "1 100 140 2 0.001\n");
}

// The statistics, VCF and ms files take part when their boxes are checked.
TEST(FileNameFault, ExtraOutputsCollideWhenChecked) {
    FormValues f;
    f.WorkDir = "/nowhere";
    f.edtStats = "outfile.csv";
    f.edtVcf = "NewickTrees.tre";
    f.edtMs = "sites.ms";
    const RunParameters p = readRunParameters(f).params;
    EXPECT_EQ(checkRunFileNames(f, p), "");
    f.chkStats = true;
    EXPECT_EQ(checkRunFileNames(f, p),
              "Two files of the run have one name: outfile.csv is the statistics table and the "
              "summary table");
    f.chkStats = false;
    f.chkVcf = true;
    EXPECT_EQ(checkRunFileNames(f, p), "Two files of the run have one name: NewickTrees.tre is "
                                       "the Newick tree file and the VCF file");
    f.chkVcf = false;
    f.chkMs = true;
    f.edtMs = "";
    EXPECT_EQ(checkRunFileNames(f, p), "The name of the ms file is empty");
}

TEST(FileNameFault, EmptyAndTooLongNamesAreRefusedBeforeTheRun) {
    const std::vector<std::pair<std::string, std::string>> options = {
        {"--summary-file", "the summary table"},
        {"--newick-file", "the Newick tree file"},
        {"--log-file", "the run log"},
        {"--coal-distrib-file", "the coalescence time distribution"},
        {"--mut-distrib-file", "the mutation time distribution"},
        {"--seq-out-file", "the sequence output file"},
    };
    for (const auto& [option, role] : options) {
        SCOPED_TRACE(option);
        TempDir dir;
        CliRun r = runCli(plus(dnaArgs(dir.str()), {option, ""}));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "WARNING: The name of " + role + " is empty\n");
        EXPECT_TRUE(filesBelow(dir.path()).empty());

        const std::string longName(300, 'x');
        r = runCli(plus(dnaArgs(dir.str()), {option, longName}));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error: File name too long: " + dir.file(longName) + "\n");
        EXPECT_TRUE(filesBelow(dir.path()).empty());
    }
    // A working directory whose own name is too long.
    TempDir dir;
    const std::string deep = dir.file(std::string(300, 'd'));
    const CliRun r = runCli(dnaArgs(deep));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: ", 0), 0u);
    EXPECT_NE(r.err.find("File name too long"), std::string::npos) << r.err;
}

// ---- What an earlier run left ----

TEST(StaleFileFault, ALogIsThereOnlyWhenItsRunCompleted) {
    TempDir dir;
    ASSERT_EQ(runCli(dnaArgs(dir.str(), "10")).status, 0);
    ASSERT_TRUE(dir.exists("Arlequin/sim_10.arp"));
    writeBytes(dir.file("Arlequin/notes.txt"), "mine");
    writeBytes(dir.file("Arlequin/sim_01.arp"), "not a name of the program");

    // A run of 3: the projects 4 to 10 of the earlier run go.
    ASSERT_EQ(runCli(dnaArgs(dir.str(), "3")).status, 0);
    TempDir fresh;
    ASSERT_EQ(runCli(dnaArgs(fresh.str(), "3")).status, 0);
    auto files = filesWithoutLog(dir.path());
    EXPECT_EQ(files["Arlequin/notes.txt"], "mine");
    EXPECT_EQ(files["Arlequin/sim_01.arp"], "not a name of the program");
    files.erase("Arlequin/notes.txt");
    files.erase("Arlequin/sim_01.arp");
    EXPECT_EQ(files, filesWithoutLog(fresh.path()));

    // A refused run truncates the distribution files: the log and the table go with them.
    CliRun r = runCli(plus(dnaArgs(dir.str()), {"--sample-size", "0"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(dir.exists("logFile.txt"));
    EXPECT_FALSE(dir.exists("outfile.csv"));
    EXPECT_FALSE(dir.exists("Arlequin/sim_1.arp"));

    // A run that fails midway leaves no log and no table of an earlier run.
    ASSERT_EQ(runCli(dnaArgs(dir.str(), "3")).status, 0);
    fs::remove(dir.path() / "Arlequin" / "sim_2.arp");
    fs::create_directories(dir.path() / "Arlequin" / "sim_2.arp");
    r = runCli(dnaArgs(dir.str(), "3"));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("logFile.txt"));
    EXPECT_FALSE(dir.exists("outfile.csv"));
    fs::remove(dir.path() / "Arlequin" / "sim_2.arp");

    // A run without Arlequin files leaves none of an earlier run, nor its batch file.
    ASSERT_EQ(runCli(dnaArgs(dir.str(), "3")).status, 0);
    r = runCli({"--quiet", "--seed", "5", "--workdir", dir.str(), "--sample-size", "6"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(dir.exists("ArlequinBatch.arp"));
    EXPECT_FALSE(dir.exists("Arlequin/sim_1.arp"));
}

// ---- A failed write leaves whole blocks ----

// The found case, on a small tmpfs where the test may mount one (root), else the run's
// largest file on /dev/full is the full disk.
TEST(WholeBlockFault, FullDiskCutsEveryFileBackToItsLastWholeBlock) {
    const std::vector<std::string> extra = {
        "--seq-length", "500",   "--sample-size",   "50",
        "--pop-size",   "10000", "--mutation-rate", "0.0000001"};
    TempDir reference;
    ASSERT_EQ(runCli(plus(dnaArgs(reference.str(), "40"), extra)).status, 0);
    const auto want = filesBelow(reference.path());

    TempDir dir;
    const fs::path small = dir.path() / "small";
    fs::create_directories(small);
    const bool mounted = ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=200k") == 0;
    struct Unmount {
        const fs::path& at;
        bool mounted;
        ~Unmount() {
            if (mounted) ::umount(at.c_str());
        }
    } unmount{small, mounted};
    if (!mounted) fs::create_symlink("/dev/full", small / "seqout.txt");
    const CliRun r = runCli(plus(dnaArgs(small.string(), "40"), extra));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: Disk full: " + small.string() + "/", 0), 0u) << r.err;
    const auto files = filesBelow(small);
    EXPECT_EQ(brokenFiles(files, want), "");
    EXPECT_FALSE(files.count("logFile.txt"));
    if (mounted) {
        // Every file is cut back to a whole block, and enough was written to fill the disk.
        EXPECT_GT(files.at("seqout.txt").size(), 50000u);
        EXPECT_LT(files.at("seqout.txt").size(), want.at("seqout.txt").size());
    } else {
        std::cerr << "[ note ] tmpfs not mountable here: the full disk is /dev/full\n";
    }
}

TEST(WholeBlockFault, FileSizeLimitGivesFileTooLargeAndWholeFiles) {
    const std::vector<std::string> extra = {"--seq-length", "5000"};
    TempDir reference;
    ASSERT_EQ(runCli(plus(dnaArgs(reference.str(), "60"), extra)).status, 0);
    TempDir dir;
    CliChild child = startCli(plus(dnaArgs(dir.str(), "60"), extra), [] {
        const rlimit limit{200000, 200000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    const CliRun r = finishCli(child);
    EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: File too large: " + dir.file("seqout.txt") + "\n");
    const auto files = filesBelow(dir.path());
    EXPECT_EQ(brokenFiles(files, filesBelow(reference.path())), "");
    EXPECT_LE(files.at("seqout.txt").size(), 200000u);
    EXPECT_GT(files.at("seqout.txt").size(), 0u);
}

// ---- SIGINT and SIGTERM ----

// A run of large blocks is stopped by the signal: it ends by that signal after a whole
// simulation, says how many simulations the files hold, and they are those of a run of that
// many simulations.
TEST(SignalFault, StopAfterAWholeSimulation) {
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        TempDir dir;
        const std::vector<std::string> extra = {"--seq-length", "200000", "--sample-size", "20"};
        CliChild child = startCli(plus(dnaArgs(dir.str(), "200"), extra));
        ASSERT_TRUE(waitForLines(dir.file("NewickTrees.tre"), 2));
        ::kill(child.pid, sig);
        const CliRun r = finishCli(child);
        EXPECT_EQ(r.signal, sig);
        const size_t whole = count(filesBelow(dir.path()).at("NewickTrees.tre"), "\n");
        EXPECT_GE(whole, 2u);
        EXPECT_LT(whole, 200u);
        EXPECT_EQ(r.err, std::string("quenlith-cli: stopped by ") +
                             (sig == SIGTERM ? "SIGTERM" : "SIGINT") + ": the files hold " +
                             std::to_string(whole) +
                             " whole simulation(s); no run log was written\n");
        TempDir reference;
        ASSERT_EQ(runCli(plus(dnaArgs(reference.str(), std::to_string(whole)), extra)).status, 0);
        auto want = filesWithoutLog(reference.path());
        want.erase("outfile.csv");
        EXPECT_TRUE(filesBelow(dir.path()) == want) << "the files differ from a run of " << whole;
    }
}

// On a terminal the progress line is ended before the message; the status is 128 + n.
TEST(SignalFault, ProgressLineIsEndedAndStatusIs128PlusTheSignal) {
    TempDir dir;
    const std::string errPath = dir.file("stderr.txt");
    const pid_t pid = ::fork();
    if (pid == 0) {
        installStopSignals();
        std::thread interrupter([&] {
            waitForLines(dir.file("run/NewickTrees.tre"), 1);
            ::kill(::getpid(), SIGINT);
        });
        std::ostringstream out, err;
        const int status = runCli({"--seed", "3", "--sims", "100000", "--workdir", dir.file("run")},
                                  out, err, true);
        interrupter.join();
        writeBytes(errPath, err.str());
        ::_exit(status);
    }
    Watchdog watchdog(60, "the interrupted run");
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    std::ifstream in(errPath);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string err = ss.str();
    const size_t stop = err.find("quenlith-cli: stopped by SIGINT: the files hold ");
    ASSERT_NE(stop, std::string::npos) << err;
    EXPECT_NE(err.find("\rsimulations "), std::string::npos) << err;
    EXPECT_EQ(err[stop - 1], '\n') << err;
}

// ---- Output files deleted during a run ----

namespace {

// Deletes (or renames) a file of the run when simulation `at` starts.
class Deleter : public RunObserver {
  public:
    Deleter(std::string path, int32_t at, bool rename)
        : path_(std::move(path)), at_(at), rename_(rename) {}
    void simulationStarted(int32_t s) override {
        if (s != at_) return;
        if (rename_)
            fs::rename(path_, path_ + ".moved");
        else
            fs::remove(path_);
    }

  private:
    std::string path_;
    int32_t at_;
    bool rename_;
};

// Three small DNA simulations with a sequence file and Arlequin projects.
FormValues threeSimulationsWithArlequin(const TempDir& dir) {
    FormValues f;
    f.WorkDir = dir.str();
    f.edtSampleSize = "6";
    f.edtPopulationSize = "40";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "3";
    f.chkSeqOut = true;
    f.chkArlequin = true;
    return f;
}

} // namespace

TEST(DeletedFileFault, NoRunSucceedsWithAFileOfItsOwnGone) {
    // Through quenlith-cli: a block file deleted while the run writes it.
    {
        TempDir dir;
        CliChild child = startCli(plus(dnaArgs(dir.str(), "5000"), {"--seq-length", "2000"}));
        ASSERT_TRUE(waitForLines(dir.file("NewickTrees.tre"), 1));
        fs::remove(dir.path() / "NewickTrees.tre");
        const CliRun r = finishCli(child);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error: File not found: " + dir.file("NewickTrees.tre") +
                             " (deleted during the run)\n");
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
    // In the run: every file, deleted or moved at the start of the last simulation, after
    // some of them received their last block (the Arlequin project 1, written whole).
    for (const char* name :
         {"CoalDistrib.csv", "MutDistrib.csv", "seqout.txt", "NewickTrees.tre", "TreeMatFile.txt",
          "MutMatFile.txt", "ArlequinBatch.arp", "Arlequin/sim_1.arp"}) {
        for (const bool rename : {false, true}) {
            SCOPED_TRACE(std::string(name) + (rename ? " moved" : " deleted"));
            TempDir dir;
            const FormValues f = threeSimulationsWithArlequin(dir);
            Deleter observer(dir.file(name), 3, rename);
            Watchdog watchdog(60, "the run");
            try {
                RunSimulation(f, 5, observer);
                ADD_FAILURE() << "the run succeeded";
            } catch (const RunError& e) {
                EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
                EXPECT_EQ(e.detail().rfind(dir.file(name) + " (", 0), 0u) << e.detail();
            }
            EXPECT_FALSE(dir.exists("logFile.txt"));
        }
    }
}

// Two runs in one process keep their own record of the files they wrote: a run started
// while another is under way (here from its observer) neither fails for the other's lost
// file nor clears the other's record at its start. The Arlequin project of simulation 1 is
// written whole and never touched again, so only the record can notice it gone.
TEST(DeletedFileFault, EachRunChecksItsOwnFilesAlone) {
    struct During : RunObserver {
        int32_t at;
        std::function<void()> act;
        During(int32_t s, std::function<void()> f) : at(s), act(std::move(f)) {}
        void simulationStarted(int32_t s) override {
            if (s == at) act();
        }
    };
    const auto failure = [](const FormValues& f, RunObserver& observer) {
        try {
            const RunOutcome o = RunSimulation(f, 5, observer);
            return std::string(o.status == RunStatus::Completed ? "completed" : "not completed");
        } catch (const RunError& e) {
            return e.text() + ": " + e.detail();
        }
    };
    Watchdog watchdog(120, "the nested runs");
    const std::string gone = " (deleted during the run)";
    {
        // The inner run loses a file; the outer one, checked after it, completes.
        TempDir outer, inner;
        std::string innerResult;
        During loseOwn(3, [&] { fs::remove(inner.file("Arlequin/sim_1.arp")); });
        During runInner(
            2, [&] { innerResult = failure(threeSimulationsWithArlequin(inner), loseOwn); });
        EXPECT_EQ(failure(threeSimulationsWithArlequin(outer), runInner), "completed");
        EXPECT_EQ(innerResult, "File not found: " + inner.file("Arlequin/sim_1.arp") + gone);
        EXPECT_TRUE(outer.exists("logFile.txt"));
        EXPECT_FALSE(inner.exists("logFile.txt"));
    }
    {
        // The outer run loses a file, then an inner run starts and completes: the outer one
        // still fails.
        TempDir outer, inner;
        std::string innerResult;
        During nothing(0, [] {});
        During loseThenRun(3, [&] {
            fs::remove(outer.file("Arlequin/sim_1.arp"));
            innerResult = failure(threeSimulationsWithArlequin(inner), nothing);
        });
        EXPECT_EQ(failure(threeSimulationsWithArlequin(outer), loseThenRun),
                  "File not found: " + outer.file("Arlequin/sim_1.arp") + gone);
        EXPECT_EQ(innerResult, "completed");
        EXPECT_TRUE(inner.exists("logFile.txt"));
        EXPECT_FALSE(outer.exists("logFile.txt"));
    }
}

// ---- Input files ----

TEST(InputFileFault, NotRegularFilesAreRefusedWithoutWaiting) {
    struct Input {
        std::vector<std::string> args;
        std::string name;
    };
    const std::vector<Input> inputs = {
        {{"--seq-input", "seqin.txt"}, "seqin.txt"},
        {{"--msat", "--msat-params", "msatparam.txt"}, "msatparam.txt"},
    };
    for (const Input& input : inputs) {
        for (const char* kind : {"fifo", "/dev/zero", "/dev/null"}) {
            SCOPED_TRACE(input.name + " " + kind);
            TempDir dir;
            if (std::string(kind) == "fifo")
                ASSERT_EQ(::mkfifo(dir.file(input.name).c_str(), 0666), 0);
            else
                fs::create_symlink(kind, dir.path() / input.name);
            const CliRun r =
                runCli(plus({"--quiet", "--seed", "1", "--workdir", dir.str()}, input.args), 20);
            EXPECT_FALSE(r.timedOut);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "error: File access denied: " + dir.file(input.name) +
                                 " (not a regular file)\n");
        }
    }
}

TEST(InputFileFault, ReadsAreBoundedByWhatARunCanUse) {
    TempDir dir;
    // Sparse files: their size costs no disk.
    auto sparse = [&](const std::string& name, off_t size) {
        const int fd = ::open(dir.file(name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    };
    sparse("seqin.txt", 2147483648LL);
    CliRun r =
        runCli({"--quiet", "--seed", "1", "--workdir", dir.str(), "--seq-input", "seqin.txt"}, 20);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: File too large: " + dir.file("seqin.txt") +
                         " (more than 2147483647 bytes, the longest sequence a run can use)\n");
    sparse("msatparam.txt", 300000000);
    r = runCli({"--quiet", "--seed", "1", "--workdir", dir.str(), "--msat"}, 20);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: File too large: " + dir.file("msatparam.txt") +
                              " (more than 268435456 bytes",
                          0),
              0u)
        << r.err;
}

// ---- Parameters ----

TEST(ParameterFault, UnusedTiTvIsNeverConverted) {
    // JC69 and F81 do not use the ratio: the files equal those of the default ratio.
    for (const char* model : {"JC69", "F81"}) {
        TempDir plain;
        ASSERT_EQ(runCli(plus(dnaArgs(plain.str()), {"--model", model})).status, 0);
        for (const char* ratio : {"3e7", "1e308", "-5", "1e400"}) {
            SCOPED_TRACE(std::string(model) + " " + ratio);
            TempDir dir;
            const CliRun r = runCli(plus(dnaArgs(dir.str()), {"--model", model, "--titv", ratio}));
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(filesWithoutLog(dir.path()), filesWithoutLog(plain.path()));
        }
    }
    // K2P uses it: refused as before.
    TempDir dir;
    const CliRun r = runCli(plus(dnaArgs(dir.str()), {"--model", "K2P", "--titv", "1e308"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "WARNING: The Ti:Tv ratio is too large\n");
}

TEST(ParameterFault, GrowthPastThe32BitSizeIsRefusedBeforeTheRun) {
    TempDir dir;
    CliRun r = runCli({"--quiet", "--seed", "1", "--workdir", dir.str(), "--fluctuating",
                       "--change-percent", "1e300", "--growth-end", "100000"},
                      20);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "WARNING: The population size grows past 2147483647 in generation 2, "
                     "before the genealogy can have ended\n");
    EXPECT_EQ(filesBelow(dir.path()), (std::map<std::string, std::string>{{"CoalDistrib.csv", ""},
                                                                          {"MutDistrib.csv", ""}}));
    // 10 % a generation from 10000 passes the range in generation 130; 50 copies are sure to
    // run only to generation 49, so the run is not refused (its genealogies may end before).
    const auto sizes = [](const char* k, const char* change, bool msat) {
        FormValues f;
        f.edtSampleSize = k;
        f.chkFluctuatingN = true;
        f.edtChangeN = change;
        f.edtGrowthEnd = "100000";
        f.chkMsats = msat;
        return readRunParameters(f).warning;
    };
    EXPECT_EQ(sizes("50", "10", false), "");
    EXPECT_EQ(sizes("200", "10", false),
              "The population size grows past 2147483647 in generation 130, before the "
              "genealogy can have ended");
    // A microsatellite locus starts from 2N: one generation earlier.
    EXPECT_EQ(sizes("200", "10", true),
              "The population size grows past 2147483647 in generation 123, before the "
              "genealogy can have ended");
    EXPECT_EQ(sizes("2", "1e300", false), ""); // two copies may meet in the first generation
    EXPECT_EQ(sizes("200", "-50", false), "");
}

// ---- The working directory ----

TEST(WorkingDirectoryFault, MissingDirectoryIsCreatedByTheCommandLineAndNamedByTheRun) {
    TempDir dir;
    const std::string missing = dir.file("a/b");
    CliRun r = runCli(dnaArgs(missing));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, ""); // --quiet: nothing but errors (the message is checked in the CLI's tests)
    EXPECT_TRUE(fs::exists(fs::path(missing) / "logFile.txt"));

    // The run itself (the window) names the directory, not a file in it.
    FormValues f;
    f.WorkDir = dir.file("absent");
    try {
        runGuarded(f, 1);
        ADD_FAILURE() << "the run succeeded";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
        EXPECT_EQ(e.detail(), dir.file("absent") + " (the working directory does not exist)");
    }
    EXPECT_FALSE(fs::exists(dir.file("absent")));

    // A file in place of the directory.
    writeBytes(dir.file("plain"), "x");
    r = runCli(dnaArgs(dir.file("plain")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: File not found: " + dir.file("plain") +
                         " (the working directory is not a directory)\n");
}

// A thread count far above the simulations holds no more finished simulations than the run
// has: the memory of --threads 999999 --sims 3 stays that of a small run (a buffer sized by
// the threads alone took about 600 MB), and its files are those of one thread.
TEST(ThreadsFault, HugeThreadCountHoldsOnlyTheRunsSimulations) {
    const std::vector<std::string> common = {"--quiet", "--rng", "streams",       "--seed", "5",
                                             "--sims",  "3",     "--sample-size", "8"};
    TempDir one, many;
    ASSERT_EQ(runCli(plus(common, {"--workdir", one.str(), "--threads", "1"})).status, 0);
    const CliRun r = runCli(plus(common, {"--workdir", many.str(), "--threads", "999999"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesWithoutLog(many.path()), filesWithoutLog(one.path()));
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 300 * 1024) << "peak resident kB of a child";
}
