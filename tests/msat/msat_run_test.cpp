// Whole microsatellite runs through the driver: the records of every locus, the per-run
// tables, the genotype files, and every way the parameter file can stop a run.
#include "base/run_error.h"
#include "run/run_driver.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

const char* kThreeLoci = "1   100 140   2   0.0005\r\n"
                         "2   180 220   4   0.001\r\n"
                         "3   90  150   3   0.0001\r\n";

struct Recorder : RunObserver {
    std::vector<int32_t> started;
    std::vector<int64_t> positionAtStart;
    int64_t position = 0, maximum = 0;
    int stopAfter = -1;
    std::function<void(int32_t)> onStart;
    void simulationStarted(int32_t s) override {
        started.push_back(s);
        positionAtStart.push_back(position);
        if (onStart) onStart(s);
    }
    void progress(int64_t p, int64_t m) override {
        position = p;
        maximum = m;
    }
    bool stopRequested() override {
        return stopAfter >= 0 && static_cast<int>(started.size()) >= stopAfter;
    }
};

FormValues msatForm(const TempDir& dir, const std::string& params, int loci, int sims,
                    MsatModel model) {
    dir.write("p.txt", params);
    FormValues f;
    f.WorkDir = dir.str();
    f.chkMsats = true;
    f.edtMsatIn = "p.txt";
    f.edtNumLoci = std::to_string(loci);
    f.chkMultipleSims = true;
    f.edtNumberSimulations = std::to_string(sims);
    f.edtSampleSize = "6";
    f.edtPopulationSize = "50";
    f.msatModel = model;
    return f;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text must end with CR LF";
    return out;
}

std::vector<std::string> fields(const std::string& line, char sep) {
    std::vector<std::string> out;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, sep);)
        out.push_back(f);
    return out;
}

// Records of a matrix file: header number -> rows of integers.
std::vector<std::pair<int, std::vector<std::vector<int>>>> records(const std::string& text) {
    std::vector<std::pair<int, std::vector<std::vector<int>>>> out;
    for (const std::string& line : lines(text)) {
        if (line[0] == '#') {
            out.push_back({std::stoi(line.substr(1)), {}});
            continue;
        }
        std::vector<int> row;
        std::stringstream ss(line);
        for (int v; ss >> v;)
            row.push_back(v);
        out.back().second.push_back(row);
    }
    return out;
}

// Allele sizes of an Arlequin project, in file order: one row per data line.
std::vector<std::vector<int>> arlequinSizes(const std::string& project) {
    std::vector<std::vector<int>> rows;
    bool inData = false;
    for (const std::string& line : lines(project)) {
        if (line == "}") break;
        if (inData) {
            std::stringstream ss(line.size() > 13 ? line.substr(13) : "");
            std::vector<int> row;
            for (int v; ss >> v;)
                row.push_back(v);
            rows.push_back(row);
        }
        if (line == "   SampleData= {") inData = true;
    }
    return rows;
}

RunError runError(const FormValues& f, Recorder& obs) {
    try {
        RunSimulation(f, 11, obs);
    } catch (const RunError& e) {
        return e;
    }
    ADD_FAILURE() << "the run did not stop";
    return RunError("");
}

} // namespace

TEST(MsatRun, OneRecordPerLocusNumberedBySimulationAndLocus) {
    TempDir dir;
    FormValues f = msatForm(dir, kThreeLoci, 3, 2, MsatModel::Stepwise);
    f.chkMSatOut = true;
    f.chkMSatDiversity = true;
    f.chkArlequin = true;
    Recorder obs;
    const RunOutcome out = RunSimulation(f, 5, obs);
    ASSERT_EQ(out.status, RunStatus::Completed);
    EXPECT_EQ(obs.started, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(obs.positionAtStart, (std::vector<int64_t>{0, 15}));
    EXPECT_EQ(obs.position, 30); // (k - 1) L SimCount
    EXPECT_EQ(obs.maximum, 30);
    EXPECT_EQ(out.recordCount, 6);
    EXPECT_EQ(out.shownRecord, 6);
    EXPECT_EQ(out.popSize, 100); // every locus in 2N gene copies
    ASSERT_EQ(out.MutCountPerSim.size(), 6u);
    EXPECT_EQ(out.lastGenealogy.CoalEvents.size(), 5u);

    const auto tree = records(dir.read("TreeMatFile.txt"));
    const auto mut = records(dir.read("MutMatFile.txt"));
    ASSERT_EQ(tree.size(), 6u);
    ASSERT_EQ(mut.size(), 6u);
    EXPECT_EQ(lines(dir.read("NewickTrees.tre")).size(), 6u);
    const auto summary = lines(dir.read("outfile.csv"));
    ASSERT_EQ(summary.size(), 3u);
    for (int g = 1; g <= 6; ++g) {
        EXPECT_EQ(tree[g - 1].first, g);
        EXPECT_EQ(mut[g - 1].first, g);
        ASSERT_EQ(tree[g - 1].second.size(), 5u);
        EXPECT_EQ(static_cast<int>(mut[g - 1].second.size()), out.MutCountPerSim[g - 1]);
        // Row s of the summary, locus l: TMRCA and MutEventCount + 1 of record (s-1) L + l.
        const int s = (g - 1) / 3 + 1, l = (g - 1) % 3 + 1;
        const auto row = fields(summary[s], ',');
        ASSERT_EQ(row.size(), 1u + 3 * 5 + 1); // every line ends with ", "
        EXPECT_EQ(std::stoi(row[1 + (l - 1) * 5]), tree[g - 1].second.back()[0]);
        EXPECT_EQ(std::stoi(row[2 + (l - 1) * 5]), out.MutCountPerSim[g - 1] + 1);
    }
    EXPECT_EQ(out.lastGenealogy.tmrca(), tree[5].second.back()[0]);

    EXPECT_EQ(lines(dir.read("ArlequinBatch.arp")),
              (std::vector<std::string>{dir.str() + "/Arlequin/sim_1.arp",
                                        dir.str() + "/Arlequin/sim_2.arp"}));
    const auto genotypes = lines(dir.read("MsatData.csv"));
    ASSERT_EQ(genotypes.size(), 2u * (1 + 3 + 1 + 3 + 1));
    // The allele counts of the summary agree with the sizes of the Arlequin file.
    for (int s = 1; s <= 2; ++s) {
        const auto sizes = arlequinSizes(dir.read("Arlequin/sim_" + std::to_string(s) + ".arp"));
        ASSERT_EQ(sizes.size(), 6u);
        const auto row = fields(summary[s], ',');
        for (int l = 0; l < 3; ++l) {
            std::set<int> distinct;
            for (const auto& copy : sizes)
                distinct.insert(copy.at(l));
            EXPECT_EQ(std::stoi(row[3 + l * 5]), static_cast<int>(distinct.size()));
        }
    }
}

TEST(MsatRun, RateZeroKeepsTheAncestralSizeAndRandomSizesStayInTheRange) {
    TempDir dir;
    FormValues f =
        msatForm(dir, "1 100 140 2 0\n2 180 220 4 0.01\n", 2, 3, MsatModel::RandomAlleles);
    f.chkMSatDiversity = true;
    f.chkMSatOut = true;
    f.chkArlequin = true;
    Recorder obs;
    ASSERT_EQ(RunSimulation(f, 8, obs).status, RunStatus::Completed);
    const auto summary = lines(dir.read("outfile.csv"));
    for (int s = 1; s <= 3; ++s) {
        const auto row = fields(summary[s], ',');
        EXPECT_EQ(row[2], " 1");      // Inf a
        EXPECT_EQ(row[3], " 1");      // Fin a
        EXPECT_EQ(row[4], "  0.167"); // 1 / k
        EXPECT_EQ(row[5], "  0.000"); // gene diversity
        const auto sizes = arlequinSizes(dir.read("Arlequin/sim_" + std::to_string(s) + ".arp"));
        for (const auto& copy : sizes) {
            EXPECT_EQ(copy[0], sizes[0][0]);
            EXPECT_TRUE(copy[0] >= 100 && copy[0] < 140 && copy[0] % 2 == 0) << copy[0];
            EXPECT_TRUE(copy[1] >= 180 && copy[1] < 220 && copy[1] % 4 == 0) << copy[1];
        }
    }
}

TEST(MsatRun, PairingIsDrawnOnlyForTheFilesThatNeedIt) {
    auto newick = [](bool msatOut, bool arlequin, MsatModel model) {
        TempDir dir;
        FormValues f = msatForm(dir, kThreeLoci, 2, 3, model);
        f.chkMSatOut = msatOut;
        f.chkArlequin = arlequin;
        Recorder obs;
        EXPECT_EQ(RunSimulation(f, 21, obs).status, RunStatus::Completed);
        EXPECT_EQ(dir.exists("ArlequinBatch.arp"), arlequin && msatOut);
        return dir.read("NewickTrees.tre");
    };
    const std::string plain = newick(false, false, MsatModel::Stepwise);
    // The Arlequin box alone prepares no batch file: nothing is paired, nothing drawn.
    EXPECT_EQ(newick(false, true, MsatModel::Stepwise), plain);
    // Under infinite alleles the table receives nothing: no pairing either.
    EXPECT_EQ(newick(true, false, MsatModel::InfiniteAlleles),
              newick(false, false, MsatModel::InfiniteAlleles));
    // A written table draws its pairing between simulations, so later genealogies change.
    const std::string paired = newick(true, false, MsatModel::Stepwise);
    EXPECT_EQ(lines(paired)[0], lines(plain)[0]);
    EXPECT_NE(paired, plain);
    EXPECT_EQ(newick(true, true, MsatModel::Stepwise), paired); // one pairing for both
}

TEST(MsatRun, FluctuatingSizeRestartsAtEveryLocusAndDiploidIsIgnored) {
    TempDir dir;
    FormValues f = msatForm(dir, kThreeLoci, 3, 2, MsatModel::Stepwise);
    f.chkFluctuatingN = true;
    f.edtGrowthStart = "0";
    f.edtGrowthEnd = "6";
    f.edtChangeN = "1";
    Recorder obs;
    const RunOutcome out = RunSimulation(f, 4, obs);
    ASSERT_EQ(out.status, RunStatus::Completed);
    ASSERT_GE(out.lastGenealogy.Generation, 6);
    // From 100 copies, generations 2 .. 6 each add 1 %: 101, 102, 103, 104, 105.
    EXPECT_EQ(out.popSize, 105);

    TempDir other;
    FormValues plain = msatForm(other, kThreeLoci, 3, 2, MsatModel::Stepwise);
    FormValues diploid = plain;
    diploid.chkDiploid = true;
    RunSimulation(plain, 4, obs);
    const std::string haploidTrees = other.read("NewickTrees.tre");
    RunSimulation(diploid, 4, obs);
    EXPECT_EQ(other.read("NewickTrees.tre"), haploidTrees);
}

TEST(MsatRun, NoLociStillWritesEverySimulationsGenotypeBlock) {
    TempDir dir;
    FormValues f = msatForm(dir, "", 0, 2, MsatModel::Stepwise);
    f.chkMSatOut = true;
    Recorder obs;
    const RunOutcome out = RunSimulation(f, 1, obs);
    ASSERT_EQ(out.status, RunStatus::Completed);
    EXPECT_EQ(out.recordCount, 0);
    EXPECT_EQ(out.shownRecord, 0);
    EXPECT_TRUE(out.lastGenealogy.CoalEvents.empty());
    EXPECT_EQ(out.popSize, 50);
    const std::string block = "Simulated microsatellite data\r\nPOP\r\n      1 ,  \r\n"
                              "      2 ,  \r\n      3 ,  \r\n\r\n";
    EXPECT_EQ(dir.read("MsatData.csv"), block + block);
    EXPECT_EQ(dir.read("NewickTrees.tre"), "");
    EXPECT_EQ(lines(dir.read("outfile.csv")),
              (std::vector<std::string>{"Simulation #, ", "1, ", "2, "}));
    EXPECT_TRUE(dir.exists("logFile.txt"));

    // The file is still opened by every simulation, so it must exist.
    std::filesystem::remove(dir.file("p.txt"));
    EXPECT_EQ(runError(f, obs).code(), ErrorCode::FileNotFound);
}

TEST(MsatRun, AMissingParameterFileLeavesTheCreatedFilesEmpty) {
    TempDir dir;
    FormValues f = msatForm(dir, "", 3, 2, MsatModel::Stepwise);
    f.edtMsatIn = "absent.txt";
    f.chkMSatOut = true;
    Recorder obs;
    const RunError e = runError(f, obs);
    EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
    EXPECT_EQ(e.detail(), dir.str() + "/absent.txt");
    for (const char* name : {"CoalDistrib.csv", "MutDistrib.csv", "NewickTrees.tre", "MsatData.csv",
                             "TreeMatFile.txt", "MutMatFile.txt"}) {
        EXPECT_TRUE(dir.exists(name)) << name;
        EXPECT_EQ(dir.read(name), "") << name;
    }
    EXPECT_FALSE(dir.exists("outfile.csv"));
    EXPECT_FALSE(dir.exists("logFile.txt"));
}

TEST(MsatRun, ParameterErrorsStopTheRunAtTheirLocus) {
    struct Case {
        std::string params;
        std::string text;
        std::string detailPart;
        size_t newickLines; // genealogies written before the stop
    };
    const std::vector<Case> cases = {
        {"1 100 140 2 0.001\n2 180 2x0 4 0.001\n3 90 150 3 0.001\n", "Invalid numeric input",
         "locus 2, MaxSize \"2x0\"", 1},
        {"1,100,140,2,0.0005\n", "Invalid numeric input", "locus 1, LocusLabel", 0},
        {"1 100 140 2 0.001\n2 180 220 0 0.001\n3 90 150 3 0.001\n", "Division by zero",
         "locus 2, RepeatUnit 0", 1},
        // Fewer lines than loci: locus 3 reads zeros and stops at its repeat unit.
        {"1 100 140 2 0.001\n2 180 220 4 0.001\n", "Division by zero", "locus 3, RepeatUnit 0", 2},
        {"1 100 140 2 0.001\n2 180 170 4 0.001\n", "Locus 2: MaxSize (170) is below MinSize (180)",
         "p.txt", 1},
        {"1 100 140 -2 0.001\n", "Locus 1: RepeatUnit (-2) is negative", "p.txt", 0},
        {"1 100 140 2 0.001\n2 180 220 4 0.001\n3 90 150 3 2\n",
         "Locus 3: LocusMutationRate is outside [0, 1]", "p.txt", 2},
    };
    for (const Case& c : cases) {
        TempDir dir;
        FormValues f = msatForm(dir, c.params, 3, 2, MsatModel::Stepwise);
        Recorder obs;
        const RunError e = runError(f, obs);
        EXPECT_EQ(e.text(), c.text) << c.params;
        EXPECT_NE(e.detail().find(c.detailPart), std::string::npos) << e.detail();
        EXPECT_EQ(lines(dir.read("NewickTrees.tre")).size(), c.newickLines) << c.params;
        EXPECT_EQ(records(dir.read("TreeMatFile.txt")).size(), c.newickLines);
        EXPECT_FALSE(dir.exists("logFile.txt"));
        EXPECT_FALSE(dir.exists("outfile.csv"));
    }

    // A locus that lacks only its rate runs with rate 0.
    TempDir dir;
    FormValues f = msatForm(dir, "1 100 140 2", 1, 1, MsatModel::Stepwise);
    Recorder obs;
    const RunOutcome out = RunSimulation(f, 2, obs);
    ASSERT_EQ(out.status, RunStatus::Completed);
    EXPECT_EQ(out.MutCountPerSim, (std::vector<int32_t>{0}));
}

TEST(MsatRun, AFileRemovedDuringTheRunStopsTheNextSimulation) {
    TempDir dir;
    FormValues f = msatForm(dir, kThreeLoci, 3, 4, MsatModel::Stepwise);
    Recorder obs;
    obs.onStart = [&](int32_t s) {
        if (s == 3) std::filesystem::remove(dir.file("p.txt"));
    };
    const RunError e = runError(f, obs);
    EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
    EXPECT_EQ(obs.started, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(lines(dir.read("NewickTrees.tre")).size(), 6u);
    EXPECT_FALSE(dir.exists("logFile.txt"));
}

TEST(MsatRun, AStopRequestEndsAfterTheCurrentSimulationWithoutLog) {
    TempDir dir;
    FormValues f = msatForm(dir, kThreeLoci, 3, 4, MsatModel::Stepwise);
    Recorder obs;
    obs.stopAfter = 2;
    const RunOutcome out = RunSimulation(f, 6, obs);
    EXPECT_EQ(out.status, RunStatus::Stopped);
    EXPECT_EQ(out.recordCount, 6);
    EXPECT_EQ(out.MutCountPerSim.size(), 6u);
    EXPECT_EQ(lines(dir.read("NewickTrees.tre")).size(), 6u);
    EXPECT_FALSE(dir.exists("logFile.txt"));
    EXPECT_FALSE(dir.exists("outfile.csv"));
}

TEST(MsatRun, NegativeSimulationCountIsARangeError) {
    TempDir dir;
    FormValues f = msatForm(dir, kThreeLoci, 3, -1, MsatModel::Stepwise);
    Recorder obs;
    EXPECT_EQ(runError(f, obs).code(), ErrorCode::RangeCheck);
    EXPECT_EQ(dir.read("NewickTrees.tre"), "");
}

// The parameter file is read again for every simulation: a change between simulations
// reaches the next simulation, and a bad number written in between stops the run at its
// locus with the loci before it written.
TEST(MsatRun, AFileChangedDuringTheRunReachesTheNextSimulation) {
    TempDir dir;
    FormValues f = msatForm(dir, kThreeLoci, 3, 4, MsatModel::Stepwise);
    f.edtSampleSize = "30";
    Recorder obs;
    obs.onStart = [&](int32_t s) {
        if (s == 3)
            dir.write("p.txt",
                      "1   100 140   2   0\r\n2   180 220   4   0\r\n3   90  150   3   0\r\n");
    };
    const RunOutcome out = RunSimulation(f, 5, obs);
    ASSERT_EQ(out.status, RunStatus::Completed);
    ASSERT_EQ(out.MutCountPerSim.size(), 12u);
    int32_t before = 0;
    for (size_t g = 0; g < 6; ++g)
        before += out.MutCountPerSim[g];
    EXPECT_GT(before, 0);
    for (size_t g = 6; g < 12; ++g)
        EXPECT_EQ(out.MutCountPerSim[g], 0) << "genealogy " << g + 1;

    TempDir again;
    FormValues g = msatForm(again, kThreeLoci, 3, 4, MsatModel::Stepwise);
    Recorder obs2;
    obs2.onStart = [&](int32_t s) {
        if (s == 2) again.write("p.txt", "1   100 140   2   0.0005\r\n2   180 2x0   4   0.001\r\n");
    };
    const RunError e = runError(g, obs2);
    EXPECT_EQ(e.code(), ErrorCode::InvalidNumericInput);
    EXPECT_NE(e.detail().find("locus 2, MaxSize \"2x0\""), std::string::npos) << e.detail();
    EXPECT_EQ(lines(again.read("NewickTrees.tre")).size(), 4u);
}
