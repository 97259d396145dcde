// The genealogy engines of a streams run: the choice reaches every genealogy of DNA and
// microsatellite runs, the two engines give one distribution, the choice is recorded in the
// slice manifest so that slices of different engines never join, and it is refused without
// streams.
#include "base/run_error.h"
#include "run/run_driver.h"
#include "run/slice_join.h"
#include "support/temp_dir.h"

#include "support/two_sample.h"
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

struct Quiet : RunObserver {};

// A DNA run with gamma rates and a fluctuating size, or a microsatellite run of two loci.
FormValues form(bool msat, GenealogyEngine engine, int sims) {
    FormValues f;
    f.rngKind = RandomKind::Streams;
    f.engine = engine;
    f.edtSampleSize = "7";
    f.edtPopulationSize = "150";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = std::to_string(sims);
    if (msat) {
        f.chkMsats = true;
        f.edtNumLoci = "2";
        f.msatModel = MsatModel::Stepwise;
    } else {
        f.edtSeqLength = "100";
        f.edtMutationRate = "0.00002";
        f.chkShapeParameter = true;
        f.edtAlpha = "0.7";
        f.chkFluctuatingN = true;
        f.edtGrowthEnd = "100";
        f.edtChangeN = "2";
    }
    return f;
}

RunOutcome runIn(FormValues f, const fs::path& dir, uint64_t seed, int64_t first = 1) {
    fs::create_directories(dir);
    if (f.chkMsats)
        std::ofstream(dir / "msatparam.txt") << "1 100 140 2 0.002\r\n2 50 90 4 0.0005\r\n";
    f.WorkDir = dir.string();
    f.firstSim = first;
    f.threads = 2;
    Quiet quiet;
    return RunSimulation(f, seed, quiet);
}

using quenlith::testing::ksDistance;

} // namespace

// Both engines, through the whole run: TMRCA and mutation counts of every record agree in
// two-sample tests, while the files differ (each engine draws its own way) and the default
// of a streams run is the event-driven one.
TEST(EngineRun, BothEnginesGiveOneDistributionInDnaAndMicrosatelliteRuns) {
    for (const bool msat : {false, true}) {
        TempDir root;
        const int sims = 1500;
        const RunOutcome events =
            runIn(form(msat, GenealogyEngine::Events, sims), root.path() / "events", 8);
        const RunOutcome walk =
            runIn(form(msat, GenealogyEngine::Generations, sims), root.path() / "walk", 8);
        const RunOutcome byDefault =
            runIn(form(msat, GenealogyEngine::Default, 40), root.path() / "default", 8);
        ASSERT_EQ(events.status, RunStatus::Completed) << events.warning;
        ASSERT_EQ(walk.status, RunStatus::Completed) << walk.warning;
        ASSERT_EQ(byDefault.status, RunStatus::Completed);
        const size_t records = static_cast<size_t>(sims * (msat ? 2 : 1));
        ASSERT_EQ(events.tmrcaPerRecord.size(), records);
        ASSERT_EQ(walk.tmrcaPerRecord.size(), records);
        const double critical = 1.95 * std::sqrt(2.0 / static_cast<double>(records));
        EXPECT_LT(ksDistance(events.tmrcaPerRecord, walk.tmrcaPerRecord), critical) << msat;
        EXPECT_LT(ksDistance(events.MutCountPerSim, walk.MutCountPerSim), critical) << msat;
        const auto newick = [&](const char* run) {
            return quenlith::testing::readFile(root.path() / run / "NewickTrees.tre");
        };
        EXPECT_NE(newick("events"), newick("walk"));
        EXPECT_EQ(newick("events").substr(0, newick("default").size()), newick("default"));
    }
}

// The manifest names the engine the slice ran (the default as events), so a slice of each
// engine never joins, while a default slice joins one that names events.
TEST(EngineRun, SlicesOfDifferentEnginesDoNotJoin) {
    TempDir root;
    FormValues f = form(false, GenealogyEngine::Default, 3);
    f.ofSims = 6; // slices of one run of 6
    ASSERT_EQ(runIn(f, root.path() / "a", 5, 1).status, RunStatus::Completed);
    f.engine = GenealogyEngine::Events;
    ASSERT_EQ(runIn(f, root.path() / "b", 5, 4).status, RunStatus::Completed);
    f.engine = GenealogyEngine::Generations;
    ASSERT_EQ(runIn(f, root.path() / "c", 5, 4).status, RunStatus::Completed);
    EXPECT_NE(quenlith::testing::readFile(root.path() / "a" / "QuenlithSlice.txt")
                  .find("form.engine 1\n"),
              std::string::npos);
    EXPECT_NO_THROW(joinSlices({(root.path() / "a").string(), (root.path() / "b").string()},
                               (root.path() / "ab").string()));
    std::string error;
    try {
        joinSlices({(root.path() / "a").string(), (root.path() / "c").string()},
                   (root.path() / "ac").string());
    } catch (const RunError& e) {
        error = e.detail();
    }
    EXPECT_NE(error.find("engine"), std::string::npos) << error;
}

// An engine named for the default generator is refused before anything is written.
TEST(EngineRun, RefusedWithTheDefaultGenerator) {
    TempDir dir;
    FormValues f;
    f.WorkDir = dir.str();
    f.engine = GenealogyEngine::Generations;
    Quiet quiet;
    const RunOutcome out = RunSimulation(f, 1, quiet);
    EXPECT_EQ(out.status, RunStatus::Rejected);
    EXPECT_NE(out.warning.find("needs --rng streams"), std::string::npos) << out.warning;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}
