// Seeded statistical checks of the generation process against its exact theory: with a
// lineages in N gene copies a generation merges with probability
// q_a = 1 - prod_{i=1}^{a-1} (1 - i/N), so the TMRCA is a sum of geometric waiting times.
#include "genealogy/genealogy.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

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

namespace {

// The state whose next draw gives the state x: the step x = s * A + 1 undone.
uint32_t stateBefore(uint32_t x) {
    uint32_t inverse = 1;
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - 134775813u * inverse; // Newton steps mod 2^32
    return (x - 1u) * inverse;
}

} // namespace

// A probability drawn afresh every generation skips the extended power for uniforms above
// the bound a p; the events must be those of the full computation, uniforms at and around
// the threshold of "any event" included, for probabilities from tiny to certain.
TEST(MutationDraw, FreshProbabilityGivesTheSameEventsAsTheFullComputation) {
    std::mt19937_64 pick(99);
    MutationDraw fresh, full, reference;
    int compared = 0, withEvents = 0;
    for (int r = 0; r < 800; ++r) {
        const int32_t a = r % 3 == 0 ? 1 + static_cast<int32_t>(pick() % 8)
                                     : 1 + static_cast<int32_t>(pick() % 3000000);
        const double scale = std::pow(10.0, -static_cast<double>(pick() % 14));
        long double p = static_cast<long double>(scale * std::uniform_real_distribution<>()(pick));
        // At most about 5 events expected, so that the binomial terms stay few.
        if (p * a > 5) p = 5.0L / a * std::uniform_real_distribution<>()(pick);
        if (r % 50 == 0 && a <= 8) p = 1;
        if (r % 50 == 1) p = 0;
        reference.prepare(a, p, false);
        const uint64_t threshold = reference.anyThreshold();
        // Uniform states around the threshold, around the bound a p, and anywhere.
        const double bound = static_cast<double>(a) * static_cast<double>(p) * 4294967296.0;
        std::vector<uint64_t> states;
        for (int64_t d = -3; d <= 3; ++d) {
            states.push_back(threshold + d);
            states.push_back(static_cast<uint64_t>(std::min(bound, 4294967295.0)) + d);
        }
        states.push_back(pick() >> 32);
        for (uint64_t x : states) {
            if (x > 0xFFFFFFFFull) continue;
            RunRandom r1(stateBefore(static_cast<uint32_t>(x))), r2 = r1;
            ASSERT_EQ(RunRandom(r1).RandomFloat(), static_cast<long double>(x) * 0x1p-32L);
            std::vector<int32_t> e1, e2;
            fresh.drawFresh(r1, a, p, [&](int32_t pos) { e1.push_back(pos); });
            full.draw(r2, a, p, [&](int32_t pos) { e2.push_back(pos); });
            ASSERT_EQ(e1, e2) << "a=" << a << " p=" << static_cast<double>(p) << " x=" << x;
            ASSERT_EQ(r1.state(), r2.state());
            ++compared;
            withEvents += !e1.empty();
        }
    }
    EXPECT_GT(withEvents, compared / 10); // the threshold's neighbourhood was reached
}

// The large-sample terms keep the parts of the last a and p: interleaved a, p and c give
// exactly the terms of a fresh computation.
TEST(MutationDraw, KeptLogTermsAreExact) {
    std::mt19937 pick(5);
    MutationDraw kept;
    const int32_t as[] = {1755, 1756, 5000, 1000000};
    const long double ps[] = {1e-4L, 0.3L, 1e-9L};
    for (int i = 0; i < 2000; ++i) {
        const int32_t a = as[pick() % 4];
        const long double p = ps[pick() % 3];
        const int32_t c = 1 + static_cast<int32_t>(pick() % 40);
        MutationDraw fresh;
        ASSERT_EQ(kept.binomialTerm(a, c, p), fresh.binomialTerm(a, c, p))
            << "a=" << a << " c=" << c << " p=" << static_cast<double>(p);
    }
}
