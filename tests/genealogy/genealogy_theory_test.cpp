// Seeded statistical checks of the generation process against its exact theory: with a
// lineages in N gene copies a generation merges with probability
// q_a = 1 - prod_{i=1}^{a-1} (1 - i/N), so the TMRCA is a sum of geometric waiting times.
#include "genealogy/genealogy.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace quenlith;

namespace {

struct Theory {
    double meanTmrca = 0, varTmrca = 0, meanMutations = 0;
};

Theory exactTheory(int k, int n, double p) {
    Theory t;
    for (int a = 2; a <= k; ++a) {
        double noRepeat = 1;
        for (int i = 1; i < a; ++i)
            noRepeat *= 1 - static_cast<double>(i) / n;
        const double q = 1 - noRepeat;
        t.meanTmrca += 1 / q;
        t.varTmrca += (1 - q) / (q * q);
        t.meanMutations += a * p / q;
    }
    return t;
}

struct Case {
    int k;
    int n;
    double p;
    uint32_t seed;
};

class TheoryTest : public ::testing::TestWithParam<Case> {};

// The simulations of one case; newGenerator(r) gives the generator of replicate r (the one
// run generator throughout, or a stream of its own per replicate).
template <typename Rng, typename NewGenerator>
void expectMeansAgree(const Case c, NewGenerator&& newGenerator) {
    const int replicates = 2000;
    GenealogySimulator sim;
    Genealogy g;
    MutationProbability mutation;
    mutation.constant = c.p;
    double sumT = 0, sumT2 = 0, sumM = 0, sumM2 = 0;
    for (int r = 0; r < replicates; ++r) {
        int32_t n = c.n;
        Rng& rng = newGenerator(r);
        sim.simulate(g, c.k, n, Demography{}, mutation, rng, nullptr);
        ASSERT_EQ(g.CoalEvents.size(), static_cast<size_t>(c.k - 1));
        ASSERT_EQ(g.tmrca(), g.Generation);
        const double t = g.tmrca();
        const double m = g.MutEventCount();
        sumT += t;
        sumT2 += t * t;
        sumM += m;
        sumM2 += m * m;
    }
    const Theory th = exactTheory(c.k, c.n, c.p);
    const double meanT = sumT / replicates;
    const double seT = std::sqrt(th.varTmrca / replicates);
    EXPECT_NEAR(meanT, th.meanTmrca, 4 * seT) << "k=" << c.k << " N=" << c.n;
    const double varT = sumT2 / replicates - meanT * meanT;
    // The sample variance of a sum of geometrics: a loose check that catches gross errors.
    EXPECT_NEAR(varT / th.varTmrca, 1.0, 0.25);
    const double meanM = sumM / replicates;
    const double sdM = std::sqrt(sumM2 / replicates - meanM * meanM);
    EXPECT_NEAR(meanM, th.meanMutations, 4 * sdM / std::sqrt(replicates));
}

TEST_P(TheoryTest, MeansAgreeWithinFourStandardErrors) {
    const Case c = GetParam();
    RunRandom rng(c.seed);
    expectMeansAgree<RunRandom>(c, [&](int) -> RunRandom& { return rng; });
}

// Counter-based streams, one per simulation as a streams run draws them.
TEST_P(TheoryTest, StreamMeansAgreeWithinFourStandardErrors) {
    const Case c = GetParam();
    StreamRandom rng(0x5eed00000000ull + c.seed, 1);
    expectMeansAgree<StreamRandom>(c, [&](int r) -> StreamRandom& {
        rng = StreamRandom(0x5eed00000000ull + c.seed, static_cast<uint32_t>(r + 1));
        return rng;
    });
}

INSTANTIATE_TEST_SUITE_P(SmallCases, TheoryTest,
                         ::testing::Values(Case{2, 200, 0.01, 11}, Case{2, 5000, 0.0005, 12},
                                           Case{10, 1000, 0.001, 13}, Case{10, 5000, 0.0002, 14},
                                           Case{40, 200, 0.01, 15}, Case{40, 5000, 0.0001, 16}));

// The positions of the mutated lineages are uniform over the a lineages of the generation,
// and a generation with p = 1 carries exactly a events.
TEST(MutationDraw, CertainMutationGivesOneEventPerLineage) {
    RunRandom rng(3);
    MutationDraw draw;
    for (int a : {1, 2, 7, 50}) {
        std::vector<int> hits(a, 0);
        int events = 0;
        draw.draw(rng, a, 1.0L, [&](int32_t pos) {
            ASSERT_GE(pos, 0);
            ASSERT_LT(pos, a);
            ++hits[pos];
            ++events;
        });
        EXPECT_EQ(events, a);
    }
    int events = 0;
    for (int g = 0; g < 1000; ++g)
        draw.draw(rng, 20, 0.0L, [&](int32_t) { ++events; });
    EXPECT_EQ(events, 0);
}

TEST(MutationDraw, BinomialTermsSumToOneOnBothFormulas) {
    MutationDraw draw;
    for (int a : {5, 100, 1754, 1755, 5000}) {
        const long double p = 0.003L;
        long double sum = 0;
        for (int c = 1; c <= a; ++c)
            sum += draw.binomialTerm(a, c, p);
        EXPECT_NEAR(static_cast<double>(sum), static_cast<double>(draw.probabilityOfAny(a, p)),
                    1e-12)
            << "a=" << a;
    }
    // Both evaluations agree where they overlap.
    EXPECT_NEAR(static_cast<double>(draw.binomialTerm(1754, 3, 0.001L)),
                std::exp(std::lgamma(1755.0) - std::lgamma(4.0) - std::lgamma(1752.0) +
                         3 * std::log(0.001) + 1751 * std::log1p(-0.001)),
                1e-12);
}

// A generation whose uniform draw is exactly 0 must still end (the count never passes a).
TEST(MutationDraw, ZeroUniformStopsAtTheLineageCount) {
    // Find a state whose next RandomFloat is 0: state * 134775813 + 1 == 0 (mod 2^32).
    uint32_t inverse = 1;
    for (int i = 0; i < 31; ++i)
        inverse *= 2 - 134775813u * inverse; // Newton step mod 2^32
    const uint32_t state = static_cast<uint32_t>(0u - 1u) * inverse;
    RunRandom rng(state);
    MutationDraw draw;
    int events = 0;
    draw.draw(rng, 4, 0.0001L, [&](int32_t) { ++events; });
    EXPECT_LE(events, 4);
    EXPECT_GE(events, 1);
}

} // namespace
