// File faults through whole runs of quenlith-cli: a working directory missing or read-only,
// input files missing, unreadable, directories or binary garbage, output files that cannot be
// created or written (a directory in their place, a full disk), and matrix files changed
// between the run and a browse. Each fault ends the run with the standard text and the path,
// exit status 1, the files written before it whole and no log; the next run works.
#include "base/run_error.h"
#include "cli/cli_options.h"
#include "fault/fault_support.h"
#include "output/matrix_files.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace quenlith;
using namespace quenlith::testing;
namespace fs = std::filesystem;

namespace {

// Three simulations that write every DNA output: sequences, Arlequin projects, summary, log.
std::vector<std::string> dnaArgs(const std::string& dir) {
    return {"--quiet", "--seed",     "5",          "--workdir",       dir,    "--sample-size",
            "6",       "--pop-size", "40",         "--seq-length",    "30",   "--sims",
            "3",       "--seq-out",  "--arlequin", "--mutation-rate", "0.001"};
}

// The files of the run without a fault.
const std::map<std::string, std::string>& dnaReference() {
    static const std::map<std::string, std::string> files = [] {
        TempDir dir;
        const CliRun r = runCli(dnaArgs(dir.str()));
        EXPECT_EQ(r.status, 0) << r.err;
        return filesBelow(dir.path());
    }();
    return files;
}

std::string errorLine(const std::string& text, const std::string& path) {
    return "error: " + text + ": " + path + "\n";
}

// After the fault is removed the same run writes the files of the run without it.
void expectNextRunWorks(const TempDir& dir) {
    const CliRun again = runCli(dnaArgs(dir.str()));
    ASSERT_EQ(again.status, 0) << again.err;
    auto files = filesBelow(dir.path());
    auto want = dnaReference();
    EXPECT_TRUE(files.count("logFile.txt"));
    files.erase("logFile.txt"); // holds the time of the run
    want.erase("logFile.txt");
    EXPECT_EQ(files, want);
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string garbage(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

// Names of the files the DNA run writes, in the order it first writes them.
const std::vector<std::string> kDnaOutputs = {
    "CoalDistrib.csv",    "MutDistrib.csv",  "seqout.txt",     "ArlequinBatch.arp",
    "NewickTrees.tre",    "TreeMatFile.txt", "MutMatFile.txt", "Arlequin/sim_1.arp",
    "Arlequin/sim_3.arp", "outfile.csv",     "logFile.txt"};

} // namespace

// An empty directory name (an unset shell variable) would put every file in "/".
TEST(WorkingDirectoryFault, EmptyDirectoryNameIsRefused) {
    EXPECT_EQ(parseCliOptions({"--workdir", ""}).error, "--workdir: the directory name is empty");
    EXPECT_EQ(parseCliOptions({"--workdir="}).error, "--workdir: the directory name is empty");
    EXPECT_EQ(parseCliOptions({"--workdir", "."}).error, "");
}

// Root bypasses permissions: the read-only cases run the program as user "nobody" then.
TEST(WorkingDirectoryFault, ReadOnlyDirectory) {
    const bool unprivileged = canRunUnprivileged();
    if (!permissionsApply() && !unprivileged)
        GTEST_SKIP() << "running as root without the right to drop to user nobody: a read-only "
                        "directory cannot stop this process";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0555));
    CliRun r = runCli(dnaArgs(dir.str()), 60, unprivileged);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errorLine("File access denied", dir.file("CoalDistrib.csv")));
    EXPECT_TRUE(filesBelow(dir.path()).empty());

    // The two distribution files may be there and writable: the run truncates them and
    // stops at the first file it has to create.
    fs::permissions(dir.path(), fs::perms(0777));
    writeBytes(dir.file("CoalDistrib.csv"), "old");
    writeBytes(dir.file("MutDistrib.csv"), "old");
    fs::permissions(dir.file("CoalDistrib.csv"), fs::perms(0666));
    fs::permissions(dir.file("MutDistrib.csv"), fs::perms(0666));
    fs::permissions(dir.path(), fs::perms(0555));
    r = runCli(dnaArgs(dir.str()), 60, unprivileged);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errorLine("File access denied", dir.file("seqout.txt")));
    EXPECT_EQ(filesBelow(dir.path()), (std::map<std::string, std::string>{{"CoalDistrib.csv", ""},
                                                                          {"MutDistrib.csv", ""}}));

    fs::permissions(dir.path(), fs::perms(0777));
    r = runCli(dnaArgs(dir.str()), 60, unprivileged);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(dir.exists("logFile.txt"));
}

TEST(OutputFault, DirectoryInPlaceOfEachOutputFile) {
    for (const std::string& name : kDnaOutputs) {
        SCOPED_TRACE(name);
        TempDir dir;
        fs::create_directories(dir.path() / name);
        const CliRun r = runCli(dnaArgs(dir.str()));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, errorLine("File access denied", dir.file(name)));
        const auto files = filesBelow(dir.path());
        EXPECT_EQ(brokenFiles(files, dnaReference()), "");
        EXPECT_FALSE(files.count("logFile.txt"));
        // Everything the run writes before the blocked file is there and complete.
        if (name == "outfile.csv") {
            for (const char* done : {"NewickTrees.tre", "TreeMatFile.txt", "seqout.txt"})
                EXPECT_EQ(files.at(done), dnaReference().at(done)) << done;
        }
        fs::remove_all(dir.path() / name);
        expectNextRunWorks(dir);
    }
}

TEST(OutputFault, FileInPlaceOfTheArlequinFolder) {
    TempDir dir;
    writeBytes(dir.file("Arlequin"), "not a folder");
    const CliRun r = runCli(dnaArgs(dir.str()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errorLine("File not found", dir.file("Arlequin/sim_1.arp")));
    auto files = filesBelow(dir.path());
    EXPECT_EQ(files["Arlequin"], "not a folder");
    files.erase("Arlequin");
    EXPECT_EQ(brokenFiles(files, dnaReference()), "");
    EXPECT_FALSE(files.count("logFile.txt"));
    fs::remove(dir.file("Arlequin"));
    expectNextRunWorks(dir);
}

TEST(OutputFault, FullDisk) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    for (const std::string& name : kDnaOutputs) {
        SCOPED_TRACE(name);
        TempDir dir;
        fs::create_directories((dir.path() / name).parent_path());
        fs::create_symlink("/dev/full", dir.path() / name);
        const CliRun r = runCli(dnaArgs(dir.str()));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, errorLine("Disk full", dir.file(name)));
        const auto files = filesBelow(dir.path());
        EXPECT_EQ(brokenFiles(files, dnaReference()), "");
        EXPECT_FALSE(files.count("logFile.txt"));
        fs::remove(dir.path() / name);
        expectNextRunWorks(dir);
    }
}

TEST(InputFault, RootSequenceFile) {
    auto args = [](const TempDir& dir) {
        std::vector<std::string> a = dnaArgs(dir.str());
        a.insert(a.end(), {"--seq-input", "root.txt"});
        return a;
    };
    // The root is read right after the sizes are checked: nothing but the two distribution
    // files exists when it cannot be.
    const std::map<std::string, std::string> onlyDistributions = {{"CoalDistrib.csv", ""},
                                                                  {"MutDistrib.csv", ""}};
    {
        TempDir dir;
        const CliRun r = runCli(args(dir));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, errorLine("File not found", dir.file("root.txt")));
        EXPECT_EQ(filesBelow(dir.path()), onlyDistributions);
        writeBytes(dir.file("root.txt"), "acgtacgtac\r\n");
        EXPECT_EQ(runCli(args(dir)).status, 0);
    }
    {
        TempDir dir;
        fs::create_directory(dir.file("root.txt"));
        const CliRun r = runCli(args(dir));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, errorLine("File access denied", dir.file("root.txt")));
        EXPECT_EQ(filesBelow(dir.path()), onlyDistributions);
    }
    if (permissionsApply() || canRunUnprivileged()) {
        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0777));
        writeBytes(dir.file("root.txt"), "acgtacgtac\r\n");
        fs::permissions(dir.file("root.txt"), fs::perms::none);
        const CliRun r = runCli(args(dir), 60, !permissionsApply());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, errorLine("File access denied", dir.file("root.txt")));
        fs::permissions(dir.file("root.txt"), fs::perms(0644));
        EXPECT_EQ(runCli(args(dir), 60, !permissionsApply()).status, 0);
    }
    {
        // Binary garbage is a sequence like any other: every byte but line breaks, blanks and
        // tabs is a site, up to the first byte 26.
        TempDir dir;
        std::string bytes = garbage(5000, 11);
        for (char& c : bytes)
            if (c == 26) c = 'x';
        bytes[4000] = 26;
        size_t sites = 0;
        for (size_t i = 0; i < 4000; ++i)
            sites += bytes[i] != '\r' && bytes[i] != '\n' && bytes[i] != ' ' && bytes[i] != '\t';
        writeBytes(dir.file("root.txt"), bytes);
        const CliRun r = runCli(args(dir));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(
            dir.read("logFile.txt").find("Sequence Length: " + std::to_string(sites) + "\r\n"),
            std::string::npos);
        // A file of nothing but line breaks and blanks holds no sequence.
        writeBytes(dir.file("root.txt"), " \r\n\t\n");
        const CliRun empty = runCli(args(dir));
        EXPECT_EQ(empty.status, 2);
        EXPECT_EQ(empty.err, "WARNING: The input DNA sequence file holds no sequence\n");
    }
}

TEST(InputFault, MicrosatelliteParameterFile) {
    auto args = [](const TempDir& dir) {
        return std::vector<std::string>{"--quiet",
                                        "--seed",
                                        "3",
                                        "--workdir",
                                        dir.str(),
                                        "--msat",
                                        "--loci",
                                        "2",
                                        "--sample-size",
                                        "6",
                                        "--pop-size",
                                        "30",
                                        "--msat-model",
                                        "stepwise",
                                        "--msat-out",
                                        "--sims",
                                        "2",
                                        "--msat-params",
                                        "p.txt"};
    };
    // Before the first simulation opens the file, the run has created these, all empty.
    const std::map<std::string, std::string> createdEmpty = {
        {"CoalDistrib.csv", ""}, {"MutDistrib.csv", ""},  {"NewickTrees.tre", ""},
        {"MsatData.csv", ""},    {"TreeMatFile.txt", ""}, {"MutMatFile.txt", ""}};
    const std::string good = "1 100 140 2 0.001\r\n2 180 220 4 0.01\r\n";
    struct Case {
        std::string what;
        std::function<void(const TempDir&)> make;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"missing", [](const TempDir&) {}, "File not found"},
        {"directory", [](const TempDir& d) { fs::create_directory(d.file("p.txt")); },
         "File access denied"},
        {"binary garbage", [](const TempDir& d) { writeBytes(d.file("p.txt"), garbage(3000, 5)); },
         "Invalid numeric input"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        c.make(dir);
        const CliRun r = runCli(args(dir));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("error: " + c.text + ": " + dir.file("p.txt"), 0), 0u) << r.err;
        auto files = filesBelow(dir.path());
        files.erase("p.txt");
        EXPECT_EQ(files, createdEmpty);
        fs::remove_all(dir.file("p.txt"));
        writeBytes(dir.file("p.txt"), good);
        const CliRun again = runCli(args(dir));
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_TRUE(dir.exists("logFile.txt"));
    }
    if (permissionsApply() || canRunUnprivileged()) {
        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0777));
        writeBytes(dir.file("p.txt"), good);
        fs::permissions(dir.file("p.txt"), fs::perms::none);
        const CliRun r = runCli(args(dir), 60, !permissionsApply());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, errorLine("File access denied", dir.file("p.txt")));
    }
}

// Each bad row of a parameter file stops the run at its locus, after the genealogies of the
// loci before it are in the files, whole; with the file mended the run is the fault-free one.
TEST(InputFault, MicrosatelliteParameterRows) {
    const std::string line1 = "1 100 140 2 0.001\r\n";
    const std::string line3 = "3 90 150 3 0.005\r\n";
    const std::string good = line1 + "2 180 220 4 0.01\r\n" + line3;
    auto args = [](const TempDir& dir) {
        return std::vector<std::string>{"--quiet",
                                        "--seed",
                                        "8",
                                        "--workdir",
                                        dir.str(),
                                        "--msat",
                                        "--loci",
                                        "3",
                                        "--sample-size",
                                        "6",
                                        "--pop-size",
                                        "30",
                                        "--msat-model",
                                        "stepwise",
                                        "--msat-out",
                                        "--arlequin",
                                        "--sims",
                                        "2",
                                        "--msat-params",
                                        "p.txt"};
    };
    TempDir reference;
    reference.write("p.txt", good);
    ASSERT_EQ(runCli(args(reference)).status, 0);
    const auto want = filesBelow(reference.path());

    const std::vector<std::pair<std::string, std::string>> rows = {
        {"2 180 2x0 4 0.01\r\n", "Invalid numeric input: <dir>/p.txt: locus 2, MaxSize \"2x0\""},
        {"2 180 220 4 abc\r\n", "Invalid numeric input: <dir>/p.txt: locus 2, LocusMutationRate"},
        {"2 180 220 4 0,01\r\n", "Invalid numeric input: <dir>/p.txt: locus 2, LocusMutationRate"},
        {"2,180,220,4,0.01\r\n", "Invalid numeric input: <dir>/p.txt: locus 2, LocusLabel"},
        {"", "Division by zero: <dir>/p.txt: locus 2, RepeatUnit 0"},
        {"2 180 220 0 0.01\r\n", "Division by zero: <dir>/p.txt: locus 2, RepeatUnit 0"},
        {"2 180 170 4 0.01\r\n", "Locus 2: MaxSize (170) is below MinSize (180): <dir>/p.txt"},
        {"2 180 220 -4 0.01\r\n", "Locus 2: RepeatUnit (-4) is negative: <dir>/p.txt"},
        {"2 180 220 4 1.5\r\n", "Locus 2: LocusMutationRate is outside [0, 1]: <dir>/p.txt"},
        // Four numbers: the rate is the 3 that starts the next line, the rest of it is skipped.
        {"2 180 220 4\r\n", "Locus 2: LocusMutationRate is outside [0, 1]: <dir>/p.txt"},
    };
    for (const auto& [row, message] : rows) {
        SCOPED_TRACE(row);
        TempDir dir;
        dir.write("p.txt", line1 + row + (row.empty() ? "" : line3));
        const CliRun r = runCli(args(dir));
        EXPECT_EQ(r.status, 1);
        std::string err = r.err;
        for (size_t at = err.find(dir.str()); at != std::string::npos; at = err.find(dir.str()))
            err.replace(at, dir.str().size(), "<dir>");
        EXPECT_EQ(err.rfind("error: " + message, 0), 0u) << err;
        auto files = filesBelow(dir.path());
        files.erase("p.txt");
        EXPECT_EQ(brokenFiles(files, want), "");
        EXPECT_EQ(textLines(files["NewickTrees.tre"]).size(), 1u); // locus 1 only
        EXPECT_FALSE(files.count("logFile.txt"));
        dir.write("p.txt", good);
        ASSERT_EQ(runCli(args(dir)).status, 0);
        auto again = filesBelow(dir.path());
        auto expected = want;
        again.erase("logFile.txt");
        expected.erase("logFile.txt");
        EXPECT_EQ(again, expected);
    }
    // A range of one size is valid: every copy has that size.
    TempDir dir;
    dir.write("p.txt", line1 + "2 180 180 4 0\r\n" + line3);
    const CliRun r = runCli(args(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    size_t copies = 0;
    for (const std::string& line : textLines(dir.read("Arlequin/sim_1.arp"))) {
        if (line.size() <= 13 || line.find_first_not_of(" 0123456789") != std::string::npos)
            continue; // not a data line
        std::istringstream sizes(line.substr(13));
        int32_t first = 0, second = 0;
        sizes >> first >> second;
        EXPECT_EQ(second, 180) << line;
        ++copies;
    }
    EXPECT_EQ(copies, 6u);
}

// The browser reads the genealogies back from the matrix files; a file changed or removed
// after the run gives "File not found", "File access denied" or a record not found (the
// window's "Genealogy <n> not found"), never a crash or a record read wrongly.
TEST(MatrixFileFault, ChangedOrRemovedBetweenRunAndBrowse) {
    TempDir dir;
    FormValues f;
    f.WorkDir = dir.str();
    f.edtSampleSize = "8";
    f.edtPopulationSize = "60";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "3";
    f.edtMutationRate = "0.0005";
    const RunOutcome run = runGuarded(f, 9);
    ASSERT_EQ(run.status, RunStatus::Completed);
    const std::string tree = dir.read(kTreeMatFile);
    const std::string mut = dir.read(kMutMatFile);
    auto read = [&](int32_t n, Genealogy& g) {
        return readMatrixRecord(dir.str(), n, run.sampleSize, run.MutCountPerSim[n - 1], g);
    };
    Genealogy g;
    for (int32_t n = 1; n <= 3; ++n)
        ASSERT_TRUE(read(n, g)) << n;
    EXPECT_EQ(g.CoalEvents.size(), 7u);
    EXPECT_EQ(g.MutEventCount(), run.MutCountPerSim[2]);
    EXPECT_EQ(g.tmrca(), run.lastGenealogy.tmrca());

    auto errorText = [&](int32_t n) {
        try {
            read(n, g);
        } catch (const RunError& e) {
            return e.text() + ": " + e.detail();
        }
        return std::string("no error");
    };
    fs::remove(dir.file(kTreeMatFile));
    EXPECT_EQ(errorText(1), "File not found: " + dir.file(kTreeMatFile));
    fs::create_directory(dir.file(kTreeMatFile));
    EXPECT_EQ(errorText(1), "File access denied: " + dir.file(kTreeMatFile));
    fs::remove(dir.file(kTreeMatFile));

    // Cut, emptied, garbage, or the records of another run: not found, nothing read.
    const std::vector<std::pair<std::string, std::string>> changed = {
        {tree.substr(0, tree.size() / 2), mut},
        {tree, mut.substr(0, mut.size() / 3)},
        {"", ""},
        {garbage(20000, 1), garbage(20000, 2)},
        {"#1\r\n#2\r\n#3\r\n", "#1\r\n#2\r\n#3\r\n"},
        {"#3\r\n99999999999 0 1 \r\n-5 7 8 \r\n", mut},
        {"#3\r\n1 0 1\r\n2 5 6\r\n", mut},
    };
    for (size_t c = 0; c < changed.size(); ++c) {
        writeBytes(dir.file(kTreeMatFile), changed[c].first);
        writeBytes(dir.file(kMutMatFile), changed[c].second);
        Genealogy loaded;
        EXPECT_FALSE(read(3, loaded)) << "change " << c;
        EXPECT_TRUE(loaded.CoalEvents.empty());
    }

    // The next run writes the files again and every record reads back.
    const RunOutcome again = runGuarded(f, 9);
    ASSERT_EQ(again.status, RunStatus::Completed);
    EXPECT_EQ(dir.read(kTreeMatFile), tree);
    for (int32_t n = 1; n <= 3; ++n)
        EXPECT_TRUE(read(n, g)) << n;
}
