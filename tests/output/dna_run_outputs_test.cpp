// Whole DNA runs: the sequence, Arlequin, summary and log files a run writes, when it
// writes them, and what stays on disk when a run ends early.
#include "base/run_error.h"
#include "cli/cli_run.h"
#include "run/run_driver.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> split(const std::string& args) {
    std::istringstream in(args);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// The date and the two times of the log vary from run to run.
std::string maskedLog(const std::string& log) {
    std::vector<std::string> lines;
    for (size_t at = 0; at <= log.size();) {
        const size_t end = log.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(log.substr(at));
            break;
        }
        lines.push_back(log.substr(at, end - at));
        at = end + 2;
    }
    if (lines.size() > 5) {
        lines[3] = "YYYY-MM-DD";
        lines[4] = "Started at: HH:MM:SS";
        lines[5] = "Finished at: HH:MM:SS";
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i)
        out += (i ? "\r\n" : "") + lines[i];
    return out;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

bool localTimeShape(const std::string& log) {
    std::istringstream in(log);
    std::string l1, l2, l3, date, start, end;
    std::getline(in, l1), std::getline(in, l2), std::getline(in, l3);
    std::getline(in, date), std::getline(in, start), std::getline(in, end);
    auto digitsAt = [](const std::string& s, size_t from, const std::string& shape) {
        if (s.size() != from + shape.size() + 1 || s.back() != '\r') return false;
        for (size_t i = 0; i < shape.size(); ++i)
            if (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(s[from + i]))
                                : s[from + i] != shape[i])
                return false;
        return true;
    };
    return digitsAt(date, 0, "dddd-dd-dd") && start.starts_with("Started at: ") &&
           digitsAt(start, 12, "dd:dd:dd") && end.starts_with("Finished at: ") &&
           digitsAt(end, 13, "dd:dd:dd");
}

struct StopAfter : RunObserver {
    int32_t after;
    int32_t started = 0;
    explicit StopAfter(int32_t n) : after(n) {}
    void simulationStarted(int32_t) override { ++started; }
    bool stopRequested() override { return started >= after; }
};

FormValues seqOutForm(const TempDir& dir) {
    FormValues f;
    f.WorkDir = dir.str();
    f.edtSampleSize = "6";
    f.edtPopulationSize = "150";
    f.edtSeqLength = "50";
    f.edtMutationRate = "0.0005";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "4";
    f.chkSeqOut = true;
    return f;
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

} // namespace

// Seeded runs in every layout write exactly the checked-in files.
TEST(DnaRunOutputs, SeededRunsMatchTheExpectedFiles) {
    const struct {
        const char* name;
        const char* args;
    } cases[] = {
        {"mrbayes_diploid",
         "--seed 11 --sims 3 --sample-size 5 --pop-size 200 --seq-length 40 --mutation-rate "
         "0.0005 --seq-out --format MrBayes --diploid --seq-diversity --arlequin --gamma 0.5 "
         "--model HKY85 --freq-a 0.4 --freq-c 0.2 --freq-g 0.2 --titv 4"},
        {"nexus_haploid",
         "--seed 12 --sims 2 --sample-size 4 --pop-size 100 --seq-length 30 --mutation-rate "
         "0.001 --seq-out --format Nexus --model K2P --arlequin --seq-diversity --fluctuating "
         "--growth-end 50 --change-percent 5 --var-rep-success 1.5"},
        {"fasta_haploid",
         "--seed 13 --sims 2 --sample-size 4 --pop-size 100 --seq-length 40 --mutation-rate "
         "0.001 --seq-out --format Fasta --model F81 --invariable 0.25 --seq-diversity"},
        {"clustal_diploid",
         "--seed 14 --sims 2 --sample-size 4 --pop-size 100 --seq-length 30 --mutation-rate "
         "0.001 --seq-out --format Clustal --diploid --no-seg-sites --arlequin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path expected = fs::path(QUENLITH_TEST_DATA) / "dna" / c.name;
        TempDir dir;
        std::vector<std::string> args = split(c.args);
        args.insert(args.end(), {"--workdir", dir.str(), "--quiet"});
        std::ostringstream out, err;
        ASSERT_EQ(runCli(args, out, err, false), 0) << err.str();
        size_t compared = 0;
        for (const auto& entry : fs::recursive_directory_iterator(expected)) {
            if (!entry.is_regular_file()) continue;
            const std::string rel = fs::relative(entry.path(), expected).string();
            std::string want = quenlith::testing::readFile(entry.path());
            std::string got = dir.read(rel);
            if (rel == "logFile.txt") {
                EXPECT_TRUE(localTimeShape(got)) << got;
                got = maskedLog(got);
            }
            if (rel == "ArlequinBatch.arp") want = replaceAll(want, "WORKDIR", dir.str());
            EXPECT_EQ(got, want) << rel;
            ++compared;
        }
        EXPECT_GE(compared, 4u);
        // Exactly the expected project files, no more.
        if (fs::exists(expected / "Arlequin")) {
            size_t projects = 0;
            for (const auto& e : fs::directory_iterator(dir.path() / "Arlequin"))
                (void)e, ++projects;
            size_t wanted = 0;
            for (const auto& e : fs::directory_iterator(expected / "Arlequin"))
                (void)e, ++wanted;
            EXPECT_EQ(projects, wanted);
        }
    }
}

TEST(DnaRunOutputs, WhichFilesEachCheckBoxWrites) {
    {
        // Sequence output without the scatter: no sequence file; Arlequin prepared but empty;
        // every copy equals the root, so both indices are 0.
        TempDir dir;
        FormValues f = seqOutForm(dir);
        f.chkScatterMut = false;
        f.chkArlequin = true;
        f.chkSeqDiversity = true;
        RunObserver obs;
        ASSERT_EQ(RunSimulation(f, 5, obs).status, RunStatus::Completed);
        EXPECT_FALSE(dir.exists("seqout.txt"));
        EXPECT_TRUE(fs::is_directory(dir.path() / "Arlequin"));
        EXPECT_TRUE(fs::is_empty(dir.path() / "Arlequin"));
        EXPECT_EQ(dir.read("ArlequinBatch.arp"), "");
        const std::string table = dir.read("outfile.csv");
        EXPECT_EQ(countOf(table, ", 0, 0.00000, 0.00000\r\n"), 4u) << table;
        EXPECT_EQ(countOf(dir.read("logFile.txt"), "Sequence data output file"), 1u);
    }
    {
        // Arlequin without sequence output in a DNA run: nothing of it.
        TempDir dir;
        FormValues f = seqOutForm(dir);
        f.chkSeqOut = false;
        f.chkArlequin = true;
        RunObserver obs;
        ASSERT_EQ(RunSimulation(f, 5, obs).status, RunStatus::Completed);
        EXPECT_FALSE(dir.exists("Arlequin"));
        EXPECT_FALSE(dir.exists("ArlequinBatch.arp"));
        EXPECT_FALSE(dir.exists("seqout.txt"));
        EXPECT_EQ(dir.read("outfile.csv").substr(0, 43),
                  "Simulation #, Tmrca, Infinite s, Finite s\r\n");
        EXPECT_EQ(countOf(dir.read("logFile.txt"), "Sequence data output file"), 0u);
    }
    {
        // Ten Nexus blocks, one per simulation, each complete; ten projects in the batch.
        TempDir dir;
        FormValues f = seqOutForm(dir);
        f.edtNumberSimulations = "10";
        f.chkArlequin = true;
        RunObserver obs;
        ASSERT_EQ(RunSimulation(f, 8, obs).status, RunStatus::Completed);
        const std::string seq = dir.read("seqout.txt");
        EXPECT_EQ(countOf(seq, "#NEXUS\r\n\r\nBEGIN DATA;\r\n"), 10u);
        EXPECT_EQ(countOf(seq, ";\r\nend;\r\n\r\n"), 10u);
        // Copies named by number and simulation: the last block names copy 6 of simulation 10.
        EXPECT_EQ(countOf(seq, "\r\n6_10\r\n"), 1u);
        EXPECT_EQ(countOf(seq, "\r\n1_1\r\n"), 1u);
        const std::string batch = dir.read("ArlequinBatch.arp");
        EXPECT_EQ(countOf(batch, "\r\n"), 10u);
        EXPECT_TRUE(batch.ends_with(dir.str() + "/Arlequin/sim_10.arp\r\n"));
        EXPECT_TRUE(dir.exists("Arlequin/sim_10.arp"));
    }
}

// The pairing is drawn only for diploid runs that write sequences, after the Newick line:
// its draws shift the genealogies of the following simulations, and of nothing else.
TEST(DnaRunOutputs, PairingDrawsFollowTheNewickLine) {
    auto newick = [](bool diploid, bool seqOut) {
        TempDir dir;
        FormValues f = seqOutForm(dir);
        f.chkDiploid = diploid;
        f.chkSeqOut = seqOut;
        RunObserver obs;
        EXPECT_EQ(RunSimulation(f, 21, obs).status, RunStatus::Completed);
        return dir.read("NewickTrees.tre");
    };
    const std::string haploidOut = newick(false, true), haploid = newick(false, false);
    EXPECT_EQ(haploidOut, haploid);
    const std::string diploidOut = newick(true, true), diploid = newick(true, false);
    const std::string firstLine = diploid.substr(0, diploid.find("\r\n") + 2);
    EXPECT_TRUE(diploidOut.starts_with(firstLine)); // the first genealogy comes before any draw
    EXPECT_NE(diploidOut, diploid);
}

TEST(DnaRunOutputs, FailuresKeepWrittenBlocksAndWriteNoTableOrLog) {
    {
        // The Arlequin folder cannot be made (a file has its name): the first project fails
        // after the first sequence block and batch line are written.
        TempDir dir;
        dir.write("Arlequin", "in the way");
        FormValues f = seqOutForm(dir);
        f.chkArlequin = true;
        RunObserver obs;
        try {
            RunSimulation(f, 3, obs);
            FAIL() << "no error";
        } catch (const RunError& e) {
            EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
            EXPECT_EQ(e.detail(), dir.str() + "/Arlequin/sim_1.arp");
        }
        EXPECT_EQ(countOf(dir.read("seqout.txt"), "#NEXUS"), 1u);
        EXPECT_EQ(dir.read("ArlequinBatch.arp"), dir.str() + "/Arlequin/sim_1.arp\r\n");
        EXPECT_FALSE(dir.exists("outfile.csv"));
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
    if (fs::exists("/dev/full")) {
        // A full disk under the sequence file.
        TempDir dir;
        fs::create_symlink("/dev/full", dir.path() / "seqout.txt");
        FormValues f = seqOutForm(dir);
        RunObserver obs;
        try {
            RunSimulation(f, 3, obs);
            FAIL() << "no error";
        } catch (const RunError& e) {
            EXPECT_EQ(e.code(), ErrorCode::DiskFull);
        }
        EXPECT_FALSE(dir.exists("outfile.csv"));
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
    {
        // The summary table's name is a folder: the table fails, so no log is written; every
        // simulation's blocks are on disk.
        TempDir dir;
        fs::create_directory(dir.path() / "outfile.csv");
        FormValues f = seqOutForm(dir);
        RunObserver obs;
        EXPECT_THROW(RunSimulation(f, 3, obs), RunError);
        EXPECT_EQ(countOf(dir.read("seqout.txt"), "#NEXUS"), 4u);
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
    {
        // Stopped after the second simulation: two complete blocks, no table, no log.
        TempDir dir;
        FormValues f = seqOutForm(dir);
        StopAfter obs(2);
        EXPECT_EQ(RunSimulation(f, 3, obs).status, RunStatus::Stopped);
        EXPECT_EQ(countOf(dir.read("seqout.txt"), ";\r\nend;\r\n\r\n"), 2u);
        EXPECT_FALSE(dir.exists("outfile.csv"));
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
}

TEST(DnaRunOutputs, LogShowsTheSizesOfTheRun) {
    TempDir dir;
    FormValues f = seqOutForm(dir);
    f.edtPopulationSize = "10000";
    f.chkDiploid = true;
    f.chkInvarSites = true;
    f.edtI = "0.1";
    RunObserver obs;
    ASSERT_EQ(RunSimulation(f, 4, obs).status, RunStatus::Completed);
    const std::string log = dir.read("logFile.txt");
    EXPECT_NE(log.find("\r\nPopulation size: 20000\r\nNumber of samples: 6\r\nNumber of "
                       "simulations: 4\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("\r\nSequence Length: 45\r\n"), std::string::npos);
    EXPECT_NE(log.find("\r\nMutation rate:  5.00000000000000E-0004\r\n"), std::string::npos);
    // Zero simulations still write the header of the table and the log.
    TempDir none;
    FormValues z = seqOutForm(none);
    z.edtNumberSimulations = "0";
    ASSERT_EQ(RunSimulation(z, 4, obs).status, RunStatus::Completed);
    EXPECT_EQ(none.read("outfile.csv"), "Simulation #, Tmrca, Infinite s, Finite s\r\n");
    EXPECT_EQ(none.read("seqout.txt"), "");
    EXPECT_NE(none.read("logFile.txt").find("Number of simulations: 0\r\n"), std::string::npos);
}
