// Whole runs through the driver: what a press of "Run Simulation" creates, refuses and reports.
#include "base/run_error.h"
#include "run/run_driver.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

struct Recorder : RunObserver {
    std::vector<int32_t> started;
    std::vector<int64_t> positionAtStart;
    int64_t position = 0, maximum = 0;
    int stopAfter = -1;
    void simulationStarted(int32_t s) override {
        started.push_back(s);
        positionAtStart.push_back(position);
    }
    void progress(int64_t p, int64_t m) override {
        position = p;
        maximum = m;
    }
    bool stopRequested() override {
        return stopAfter >= 0 && static_cast<int>(started.size()) >= stopAfter;
    }
};

FormValues formIn(const TempDir& dir) {
    FormValues f;
    f.WorkDir = dir.str();
    return f;
}

size_t fileCount(const TempDir& dir) {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        (void)e, ++n;
    return n;
}

} // namespace

TEST(RunDriver, RefusedSizesLeaveOnlyTheTwoEmptyDistributionFiles) {
    for (const char* size : {"0", "-5", "", "abc"}) {
        TempDir dir;
        FormValues f = formIn(dir);
        f.edtSampleSize = size;
        Recorder obs;
        RunOutcome out = RunSimulation(f, 1, obs);
        EXPECT_EQ(out.status, RunStatus::Rejected);
        EXPECT_EQ(out.warning, "Please insert Sample and Population Sizes");
        EXPECT_EQ(fileCount(dir), 2u);
        EXPECT_EQ(dir.read("CoalDistrib.csv"), "");
        EXPECT_EQ(dir.read("MutDistrib.csv"), "");
        EXPECT_TRUE(obs.started.empty());
    }
}

TEST(RunDriver, ProgressRunsOverAllSimulations) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.edtSampleSize = "10";
    f.edtPopulationSize = "500";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "3";
    Recorder obs;
    RunOutcome out = RunSimulation(f, 42, obs);
    ASSERT_EQ(out.status, RunStatus::Completed);
    EXPECT_EQ(obs.started, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(obs.positionAtStart, (std::vector<int64_t>{0, 9, 18}));
    EXPECT_EQ(obs.position, 27);
    EXPECT_EQ(obs.maximum, 27);
    EXPECT_EQ(out.recordCount, 3);
    EXPECT_EQ(out.shownRecord, 3);
    EXPECT_EQ(out.MutCountPerSim.size(), 3u);
    EXPECT_EQ(out.lastGenealogy.CoalEvents.size(), 9u);
    EXPECT_EQ(out.MutCountPerSim[2], out.lastGenealogy.MutEventCount());
}

TEST(RunDriver, ZeroAndNegativeSimulationCounts) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "0";
    Recorder obs;
    RunOutcome out = RunSimulation(f, 1, obs);
    EXPECT_EQ(out.status, RunStatus::Completed);
    EXPECT_EQ(out.recordCount, 0);
    for (const char* name : {"NewickTrees.tre", "TreeMatFile.txt", "MutMatFile.txt"}) {
        EXPECT_TRUE(dir.exists(name)) << name;
        EXPECT_EQ(dir.read(name), "") << name;
    }

    TempDir neg;
    f = formIn(neg);
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "-1";
    try {
        RunSimulation(f, 1, obs);
        FAIL() << "a negative count must stop the run";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::RangeCheck);
    }
    EXPECT_TRUE(neg.exists("NewickTrees.tre"));
    EXPECT_EQ(neg.read("TreeMatFile.txt"), "");
}

TEST(RunDriver, SameSeedSameFiles) {
    TempDir a, b;
    FormValues f = formIn(a);
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "4";
    f.edtSampleSize = "12";
    f.edtPopulationSize = "800";
    f.edtMutationRate = "0.00001";
    f.chkShapeParameter = true;
    f.edtAlpha = "0.7";
    f.chkFluctuatingN = true;
    Recorder obs;
    RunSimulation(f, 2024, obs);
    f.WorkDir = b.str();
    RunSimulation(f, 2024, obs);
    for (const char* name : {"NewickTrees.tre", "CoalDistrib.csv", "MutDistrib.csv",
                             "TreeMatFile.txt", "MutMatFile.txt"})
        EXPECT_EQ(a.read(name), b.read(name)) << name;
    EXPECT_NE(a.read("MutMatFile.txt").size(), 4 * 4u); // mutations happened
}

TEST(RunDriver, DiploidAndEffectiveSizesDoubleTheGeneCopies) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.edtSampleSize = "4";
    f.chkDiploid = true;
    Recorder obs;
    EXPECT_EQ(RunSimulation(f, 3, obs).popSize, 20000);
    f.chkVarRepSuc = true;
    EXPECT_EQ(RunSimulation(f, 3, obs).popSize, 26664);
    f.chkDiploid = false;
    EXPECT_EQ(RunSimulation(f, 3, obs).popSize, 6666);
}

TEST(RunDriver, StopsAfterTheCurrentSimulationWhenAsked) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "10";
    f.edtSampleSize = "5";
    Recorder obs;
    obs.stopAfter = 2;
    RunOutcome out = RunSimulation(f, 5, obs);
    EXPECT_EQ(out.status, RunStatus::Stopped);
    EXPECT_EQ(obs.started.size(), 2u);
    // The two simulations run so far are complete on disk.
    const std::string newick = dir.read("NewickTrees.tre");
    EXPECT_EQ(std::count(newick.begin(), newick.end(), '\n'), 2);
}

TEST(RunDriver, RootSequenceFile) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.chkSeqInput = true;
    f.edtSampleSize = "4";
    Recorder obs;
    try {
        RunSimulation(f, 1, obs);
        FAIL() << "missing root file";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
        EXPECT_NE(e.detail().find("seqin.txt"), std::string::npos);
    }
    EXPECT_FALSE(dir.exists("NewickTrees.tre"));
    dir.write("seqin.txt", "\r\n  \n");
    RunOutcome out = RunSimulation(f, 1, obs);
    EXPECT_EQ(out.status, RunStatus::Rejected);
    EXPECT_EQ(out.warning, "The input DNA sequence file holds no sequence");
    dir.write("seqin.txt", "ACGTACGTAC\r\n");
    EXPECT_EQ(RunSimulation(f, 1, obs).status, RunStatus::Completed);
}

TEST(RunDriver, MissingWorkingDirectory) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.WorkDir = dir.file("nowhere");
    Recorder obs;
    try {
        RunSimulation(f, 1, obs);
        FAIL();
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
    }
}

// A seed whose draws once gave a uniform of exactly 0 in the first generation.
TEST(RunDriver, ZeroUniformDoesNotHang) {
    TempDir dir;
    FormValues f = formIn(dir);
    f.edtSampleSize = "4";
    Recorder obs;
    EXPECT_EQ(RunSimulation(f, 1163977807u, obs).status, RunStatus::Completed);
}
