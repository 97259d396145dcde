// Stopping a run, inside a long genealogy or between simulations, and what the outcome keeps
// for the window's report and plots.
#include "run/run_driver.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <numeric>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

// Raises the stop flag when simulation `at` starts (0: before the run).
struct FlagObserver : RunObserver {
    std::atomic<bool> flag{false};
    int32_t at = 0;
    void simulationStarted(int32_t s) override {
        if (at > 0 && s == at) flag.store(true);
    }
    const std::atomic<bool>* stopFlag() override { return &flag; }
    bool stopRequested() override { return flag.load(); }
};

size_t lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

// N = 10^7: the flag raised before the run abandons the first genealogy; raised when the
// fourth simulation starts, the run ends with three whole simulations.
TEST(RunStop, FlagEndsTheRunAfterTheLastWholeSimulation) {
    {
        TempDir dir;
        FormValues f;
        f.WorkDir = dir.str();
        f.edtPopulationSize = "10000000";
        FlagObserver obs;
        obs.flag.store(true);
        const RunOutcome out = RunSimulation(f, 8, obs);
        EXPECT_EQ(out.status, RunStatus::Stopped);
        EXPECT_EQ(out.simsDone, 0);
        EXPECT_EQ(out.recordCount, 0);
        EXPECT_EQ(out.seed, 8u);
        EXPECT_EQ(dir.read("NewickTrees.tre"), "");
        EXPECT_FALSE(dir.exists("logFile.txt"));
        EXPECT_FALSE(dir.exists("outfile.csv"));
    }
    for (const bool msats : {false, true}) {
        SCOPED_TRACE(msats ? "microsatellites" : "DNA");
        TempDir dir;
        FormValues f;
        f.WorkDir = dir.str();
        f.edtSampleSize = "8";
        f.chkMultipleSims = true;
        f.edtNumberSimulations = "50";
        if (msats) {
            dir.write("msatparam.txt", "1 100 140 2 0.0005\r\n2 100 140 2 0.0005\r\n");
            f.chkMsats = true;
            f.edtNumLoci = "2";
        }
        f.edtPopulationSize = "1000000"; // about 10^6 generations a genealogy
        FlagObserver obs;
        obs.at = 4;
        const RunOutcome out = RunSimulation(f, 21, obs);
        EXPECT_EQ(out.status, RunStatus::Stopped);
        const int32_t loci = msats ? 2 : 1;
        EXPECT_EQ(out.simsDone, 3); // the fourth, begun, is abandoned inside its genealogy
        EXPECT_EQ(out.recordCount, out.simsDone * loci);
        EXPECT_EQ(lines(dir.read("NewickTrees.tre")), static_cast<size_t>(out.recordCount));
        EXPECT_EQ(out.tmrcaPerRecord.size(), static_cast<size_t>(out.recordCount));
        EXPECT_EQ(out.MutCountPerSim.size(), static_cast<size_t>(out.recordCount));
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
}

// The summed waiting times add up to the TMRCAs, per genealogy count, for both kinds of run;
// the per-locus means are averages of values a genealogy can have.
TEST(RunStop, OutcomeTablesForThePlots) {
    for (const bool msats : {false, true}) {
        SCOPED_TRACE(msats ? "microsatellites" : "DNA");
        TempDir dir;
        FormValues f;
        f.WorkDir = dir.str();
        f.edtSampleSize = "7";
        f.edtPopulationSize = "150";
        f.chkMultipleSims = true;
        f.edtNumberSimulations = "30";
        if (msats) {
            dir.write("msatparam.txt", "1 100 140 2 0.001\r\n2 100 140 2 0.002\r\n");
            f.chkMsats = true;
            f.edtNumLoci = "2";
            f.msatModel = MsatModel::Stepwise;
        }
        FlagObserver obs;
        const RunOutcome out = RunSimulation(f, 5, obs);
        ASSERT_EQ(out.status, RunStatus::Completed);
        EXPECT_EQ(out.simsDone, 30);
        const size_t records = msats ? 60 : 30;
        ASSERT_EQ(out.tmrcaPerRecord.size(), records);
        ASSERT_EQ(out.waitingTimeSum.size(), 8u);
        const int64_t tmrcas =
            std::accumulate(out.tmrcaPerRecord.begin(), out.tmrcaPerRecord.end(), int64_t{0});
        EXPECT_EQ(std::accumulate(out.waitingTimeSum.begin(), out.waitingTimeSum.end(), int64_t{0}),
                  tmrcas);
        for (size_t a = 2; a <= 7; ++a)
            EXPECT_GE(out.waitingTimeSum[a], static_cast<int64_t>(records)) << a; // >= 1 each
        EXPECT_TRUE(out.constantSize);
        if (msats) {
            ASSERT_EQ(out.meanAllelesPerLocus.size(), 2u);
            ASSERT_EQ(out.meanGeneDiversityPerLocus.size(), 2u);
            for (double a : out.meanAllelesPerLocus)
                EXPECT_TRUE(a >= 1 && a <= 7) << a;
            for (double h : out.meanGeneDiversityPerLocus)
                EXPECT_TRUE(h >= 0 && h <= 1) << h;
        } else {
            EXPECT_GT(out.mutationProbability, 0);
            EXPECT_TRUE(out.meanAllelesPerLocus.empty());
        }
    }
}
