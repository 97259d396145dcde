// The program's limits under extreme values: numbers beyond the range of a double, the
// 32-bit generation counter, gamma draws that would turn infinite, microsatellite size draws
// that would take billions of tries, and runs too large for the machine's memory.
#include "base/convert.h"
#include "base/memory_check.h"
#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "fault/fault_support.h"
#include "genealogy/genealogy.h"
#include "msat/msat_params.h"
#include "support/temp_dir.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace quenlith;
using namespace quenlith::testing;

namespace {

// The generator state whose next draw is exactly 0, stepped back `draws - 1` more draws:
// seeded with it, a run's draw number `draws` is a uniform of exactly 0.
uint32_t seedWhoseDrawIsZero(int draws) {
    // Inverse of the multiplier modulo 2^32 by Newton's iteration.
    const uint32_t a = 134775813u;
    uint32_t inverse = a;
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - a * inverse;
    uint32_t state = 0;
    for (int i = 0; i < draws; ++i)
        state = (state - 1) * inverse;
    return state;
}

} // namespace

TEST(NumberLimits, OutOfRangeRealsByTheirMagnitude) {
    const std::string zeros(400, '0');
    const std::string manyZeros(5000, '0');
    const double inf = std::numeric_limits<double>::infinity();
    // Long forms: the written exponent alone does not tell overflow from underflow.
    EXPECT_EQ(lenientDouble("0." + zeros + "1"), 0.0);
    EXPECT_TRUE(std::signbit(lenientDouble("-0." + zeros + "1")));
    EXPECT_EQ(lenientDouble("1" + zeros + "e-10"), inf);
    EXPECT_EQ(lenientDouble("-1" + zeros + "e-10"), -inf);
    EXPECT_EQ(lenientDouble("0.0" + zeros + "1e+30"), 0.0);
    EXPECT_EQ(lenientDouble("1" + zeros + "e-380"), 1e20); // in range once scaled
    EXPECT_EQ(lenientDouble("1e-400"), 0.0);
    EXPECT_EQ(lenientDouble("1e400"), inf);
    EXPECT_EQ(lenientDouble("1e99999999999999999999"), inf);
    EXPECT_EQ(lenientDouble("1e-99999999999999999999"), 0.0);
    EXPECT_EQ(lenientExtended("0." + manyZeros + "1"), 0.0L);
    EXPECT_EQ(lenientExtended("9" + manyZeros), std::numeric_limits<long double>::infinity());
    EXPECT_EQ(lenientExtended("1" + zeros), 1e400L);
}

TEST(GenerationLimit, AGenealogyPastTheLastGenerationStopsTheRun) {
    GenealogySimulator simulator;
    Genealogy g;
    RunRandom rng(3);
    int32_t popSize = 1000000000;
    simulator.lastGeneration = 1000;
    try {
        simulator.simulate(g, 2, popSize, Demography{}, MutationProbability{}, rng, {});
        FAIL() << "a pair in 10^9 copies coalesced within 1000 generations";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::RangeCheck);
        EXPECT_NE(e.detail().find("passed generation 1000"), std::string::npos) << e.detail();
    }
    // Up to the last generation itself a genealogy completes: N = 1 merges one pair a
    // generation, so 3 copies need generations 1 and 2.
    popSize = 1;
    simulator.lastGeneration = 2;
    simulator.simulate(g, 3, popSize, Demography{}, MutationProbability{}, rng, {});
    EXPECT_EQ(g.tmrca(), 2);
    simulator.lastGeneration = 1;
    EXPECT_THROW(simulator.simulate(g, 3, popSize, Demography{}, MutationProbability{}, rng, {}),
                 RunError);
}

TEST(GammaLimits, ProbabilityStaysAProbability) {
    // Large rates with large draws make the per-site probability pass 1.
    RunRandom rng(17);
    for (double alpha : {0.05, 0.5, 1.0, 2.5, 500.0})
        for (long double u : {1e-7L, 0.01L, 0.5L, 1.0L})
            for (int32_t length : {1, 2, 1000}) {
                for (int i = 0; i < 300; ++i) {
                    const double p = gammaSeqMutProb(alpha, u, length, rng);
                    ASSERT_TRUE(p >= 0 && p <= 1)
                        << alpha << " " << static_cast<double>(u) << " " << length << ": " << p;
                }
            }
    // A uniform of exactly 0 gives an infinite draw: a certain mutation, none at rate 0.
    RunRandom zero(seedWhoseDrawIsZero(1));
    EXPECT_TRUE(std::isinf(gammaVariate(1.0, zero)));
    zero.setState(seedWhoseDrawIsZero(1));
    EXPECT_EQ(gammaSeqMutProb(1.0, 1e-7L, 1000, zero), 1.0);
    zero.setState(seedWhoseDrawIsZero(1));
    EXPECT_EQ(gammaSeqMutProb(1.0, 0.0L, 1000, zero), 0.0);
}

TEST(GammaLimits, InfiniteDrawInARunMutatesEveryLineage) {
    // With a root from a file nothing draws before the genealogy: generation 1 draws the
    // 4 parents, then the gamma uniform, which this seed makes exactly 0.
    TempDir dir;
    dir.write("seqin.txt", "acgtacgtac");
    FormValues f;
    f.WorkDir = dir.str();
    f.chkSeqInput = true;
    f.edtSampleSize = "4";
    f.edtPopulationSize = "1000";
    f.chkShapeParameter = true;
    f.edtAlpha = "1";
    const RunOutcome out = runGuarded(f, seedWhoseDrawIsZero(5));
    ASSERT_EQ(out.status, RunStatus::Completed);
    int32_t firstGeneration = 0;
    for (const MutEvent& m : out.lastGenealogy.MutEvents)
        firstGeneration += m.generation == 1;
    EXPECT_EQ(firstGeneration, 4);
}

TEST(MsatLimits, SizeDrawsThatWouldTakeBillionsOfTriesAreRefused) {
    auto check = [](int32_t min, int32_t max, int32_t repeat) {
        const MsatLocusParams p{1, min, max, repeat, 0.001};
        try {
            checkLocusParams(p, 1, "p.txt");
        } catch (const RunError& e) {
            return e.text();
        }
        return std::string("accepted");
    };
    EXPECT_EQ(check(0, 2000000000, 2000000000),
              "Locus 1: RepeatUnit (2000000000) leaves 1 size in the range MinSize .. MaxSize: "
              "drawing one would take about 2000000000 tries (at most 100000)");
    EXPECT_EQ(check(0, 200002, 100001).rfind("Locus 1: RepeatUnit (100001) leaves 2 sizes", 0), 0u);
    EXPECT_EQ(check(0, 200000, 100000), "accepted");  // 100000 tries on average
    EXPECT_EQ(check(100, 140, 99999999), "accepted"); // only MinSize, found within 40 tries
    EXPECT_EQ(check(-2147483647, 0, 2), "accepted");
    EXPECT_EQ(check(100, 100, 7), "accepted");

    // Through quenlith-cli the run stops at once at that locus instead of drawing for minutes.
    TempDir dir;
    dir.write("p.txt", "1 100 140 2 0.001\r\n2 0 2000000000 2000000000 0.001\r\n");
    const CliRun r =
        runCli({"--quiet", "--seed", "1", "--workdir", dir.str(), "--msat", "--loci", "2", "--sims",
                "20", "--msat-params", "p.txt", "--msat-model", "random"},
               30);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: Locus 2: RepeatUnit (2000000000) leaves 1 size", 0), 0u) << r.err;
    EXPECT_EQ(textLines(dir.read("NewickTrees.tre")).size(), 1u);
    EXPECT_FALSE(dir.exists("logFile.txt"));
}

TEST(MemoryLimits, RunsTooLargeForTheMachineEndWithOutOfMemory) {
    const uint64_t limit = memoryLimitBytes();
    ASSERT_GT(limit, 0u);
    EXPECT_THROW(checkFitsInMemory(2.0 * static_cast<double>(limit), "test"), RunError);
    EXPECT_NO_THROW(checkFitsInMemory(0.5 * static_cast<double>(limit), "test"));

    // Without a simulation nothing of the sample's size is needed: the run completes.
    TempDir dir;
    FormValues f;
    f.WorkDir = dir.str();
    f.edtSampleSize = "2147483647";
    f.edtSeqLength = "0";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "0";
    EXPECT_EQ(runGuarded(f, 1).status, RunStatus::Completed);
    // One simulation of 2147483647 copies needs tens of gigabytes.
    if (static_cast<double>(limit) >= 3.4e10) GTEST_SKIP() << "this machine could hold the run";
    TempDir other;
    const CliRun r = runCli({"--quiet", "--seed", "1", "--workdir", other.str(), "--sample-size",
                             "2147483647", "--seq-length", "0"},
                            30);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: Out of memory: sample size 2147483647", 0), 0u) << r.err;
    EXPECT_EQ(other.read("NewickTrees.tre"), "");
    EXPECT_FALSE(other.exists("logFile.txt"));
}
