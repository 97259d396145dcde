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
    for (int a : {1, 2, 7, 50}) {
        std::vector<int> hits(a, 0);
        int events = 0;
        drawPrepared(rng, prepareRate(a, 1.0L), [&](int32_t pos) {
            ASSERT_GE(pos, 0);
            ASSERT_LT(pos, a);
            ++hits[pos];
            ++events;
        });
        EXPECT_EQ(events, a);
    }
    int events = 0;
    for (int g = 0; g < 1000; ++g)
        drawPrepared(rng, prepareRate(20, 0.0L), [&](int32_t) { ++events; });
    EXPECT_EQ(events, 0);
}

TEST(MutationDraw, BinomialTermsSumToOneOnBothFormulas) {
    for (int a : {5, 100, 1754, 1755, 5000}) {
        const long double p = 0.003L;
        long double sum = 0;
        for (int c = 1; c <= a; ++c)
            sum += binomialTerm(a, c, p);
        EXPECT_NEAR(static_cast<double>(sum), static_cast<double>(probabilityOfAny(a, p)), 1e-12)
            << "a=" << a;
    }
    // Both evaluations agree where they overlap.
    EXPECT_NEAR(static_cast<double>(binomialTerm(1754, 3, 0.001L)),
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
    int events = 0;
    drawPrepared(rng, prepareRate(4, 0.0001L), [&](int32_t) { ++events; });
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
        const uint64_t threshold = prepareRate(a, p).threshold;
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
            drawFresh(r1, a, p, [&](int32_t pos) { e1.push_back(pos); });
            drawPrepared(r2, prepareRate(a, p), [&](int32_t pos) { e2.push_back(pos); });
            ASSERT_EQ(e1, e2) << "a=" << a << " p=" << static_cast<double>(p) << " x=" << x;
            ASSERT_EQ(r1.state(), r2.state());
            ++compared;
            withEvents += !e1.empty();
        }
    }
    EXPECT_GT(withEvents, compared / 10); // the threshold's neighbourhood was reached
}

// The terms of one generation keep the log parts of its a and p: in any order of c they are
// exactly the plain terms.
TEST(MutationDraw, KeptLogTermsAreExact) {
    std::mt19937 pick(5);
    const int32_t as[] = {1755, 1756, 5000, 1000000, 40};
    const long double ps[] = {1e-4L, 0.3L, 1e-9L, 0, 1};
    for (int i = 0; i < 400; ++i) {
        const PreparedRate rate = prepareRate(as[pick() % 5], ps[pick() % 5]);
        BinomialTerms terms(rate);
        for (int n = 0; n < 10; ++n) {
            const int32_t c = 1 + static_cast<int32_t>(pick() % 40);
            ASSERT_EQ(terms.term(c), binomialTerm(rate.a, c, rate.p))
                << "a=" << rate.a << " c=" << c << " p=" << static_cast<double>(rate.p);
        }
    }
}

// The kept rates, over more probabilities than are kept and interleaved lineage counts, are
// exactly the rates prepared afresh with their first term.
TEST(MutationDraw, KeptRatesAreThePreparedOnes) {
    std::mt19937_64 pick(8);
    PreparedRates kept;
    std::vector<long double> ps;
    for (int i = 0; i < 12; ++i)
        ps.push_back(static_cast<long double>(std::pow(10.0, -1.0 - static_cast<double>(i % 9)) *
                                              (1 + static_cast<double>(i))));
    ps.push_back(0);
    ps.push_back(1);
    for (int i = 0; i < 5000; ++i) {
        const long double p = ps[pick() % ps.size()];
        const int32_t a = 1 + static_cast<int32_t>(pick() % (i % 2 ? 3000 : 60));
        const PreparedRate got = kept.get(a, p);
        const PreparedRate plain = prepareRate(a, p);
        ASSERT_EQ(got.a, a);
        ASSERT_EQ(got.p, p);
        ASSERT_EQ(got.any, plain.any);
        ASSERT_EQ(got.threshold, plain.threshold);
        ASSERT_TRUE(got.firstKnown);
        ASSERT_EQ(got.first, binomialTerm(a, 1, p));
        // The kept first term draws exactly what the plain draw does.
        RunRandom r1(static_cast<uint32_t>(pick())), r2 = r1;
        std::vector<int32_t> e1, e2;
        drawPrepared(r1, got, [&](int32_t pos) { e1.push_back(pos); });
        drawPrepared(r2, plain, [&](int32_t pos) { e2.push_back(pos); });
        ASSERT_EQ(e1, e2);
        ASSERT_EQ(r1.state(), r2.state());
    }
}
