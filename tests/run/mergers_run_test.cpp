// The merge rule of a run (--mergers): it reaches both generators, both engines and DNA and
// microsatellite runs, the files hold a merge of several lineages as events of one
// generation, and the log and the ms header name it.
#include "run/run_driver.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>

using namespace quenlith;
using quenlith::testing::readFile;
namespace fs = std::filesystem;

namespace {

struct Quiet : RunObserver {};

// Few copies for 16 samples, so that a generation often merges several sets.
RunOutcome runIn(bool msat, RandomKind kind, GenealogyEngine engine, MergeRule rule,
                 const fs::path& dir, uint64_t seed) {
    FormValues f;
    f.rngKind = kind;
    f.engine = engine;
    f.mergers = rule;
    f.edtSampleSize = "16";
    f.edtPopulationSize = msat ? "6" : "12";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "40";
    f.chkMsats = msat;
    f.edtNumLoci = "2";
    f.edtMutationRate = "0.001";
    f.chkMs = !msat;
    fs::create_directories(dir);
    std::ofstream(dir / "msatparam.txt") << "1 100 140 2 0.002\r\n2 50 90 4 0.0005\r\n";
    f.WorkDir = dir.string();
    Quiet quiet;
    return RunSimulation(f, seed, quiet);
}

} // namespace

// The rule reaches the 32-bit generator and both engines of a streams run: TreeMatFile repeats
// the generation and position of a merge of three or more lineages under `all` only.
TEST(MergersRun, TheRuleReachesEveryGeneratorEngineAndStaging) {
    const std::regex repeatedRow("\n(\\d+ \\d+) \\d+ \r\n\\1 ");
    for (const bool msat : {false, true}) {
        SCOPED_TRACE(msat ? "microsatellites" : "DNA");
        quenlith::testing::TempDir root;
        const auto at = [&](const char* name) { return root.path() / name; };
        const auto streams = RandomKind::Streams;
        const RunOutcome runs[] = {
            runIn(msat, RandomKind::Lcg, GenealogyEngine::Default, MergeRule::All, at("lcg"), 3),
            runIn(msat, streams, GenealogyEngine::Events, MergeRule::All, at("events"), 3),
            runIn(msat, streams, GenealogyEngine::Generations, MergeRule::All, at("walk"), 4),
            runIn(msat, streams, GenealogyEngine::Events, MergeRule::One, at("one"), 5)};
        for (const RunOutcome& o : runs)
            ASSERT_EQ(o.status, RunStatus::Completed) << o.warning;
        for (const char* run : {"lcg", "events", "walk", "one"})
            EXPECT_EQ(std::regex_search(readFile(at(run) / "TreeMatFile.txt"), repeatedRow),
                      std::string(run) != "one")
                << run;
        EXPECT_NE(readFile(at("lcg") / "logFile.txt")
                      .find("Merges per generation: every set of lineages on one parent"),
                  std::string::npos);
        EXPECT_EQ(readFile(at("one") / "logFile.txt").find("Merges per"), std::string::npos);
        if (msat) continue;
        const auto header = [&](const char* run) {
            const std::string ms = readFile(at(run) / "sites.ms");
            return ms.substr(0, ms.find('\n'));
        };
        EXPECT_NE(header("lcg").find(" --mergers all"), std::string::npos) << header("lcg");
        EXPECT_EQ(header("one").find("--mergers"), std::string::npos) << header("one");
    }
}
