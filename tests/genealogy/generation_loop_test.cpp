// The generation loop against a plain replay of the process: every draw one at a time, the
// parents sorted and scanned for the first tie, the mutation count by inversion. The loop
// draws in blocks, compares few parents pair by pair and many through a bit set or a hash
// table; every path must give the same events, the same final size and leave the
// generator in the same state.
#include "genealogy/genealogy.h"
#include "base/run_error.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace quenlith;

namespace {

struct Replayed {
    std::vector<CoalEvent> coal;
    std::vector<MutEvent> mut;
    int32_t generation = 0;
    int32_t popSize = 0;
    uint32_t finalState = 0;
};

Replayed replay(int32_t k, int32_t popSize, const Demography& d, const MutationProbability& m,
                uint32_t seed) {
    RunRandom rng(seed);
    MutationDraw terms;
    Replayed out;
    int32_t a = k;
    int32_t generation = 0;
    while (a > 1) {
        if (d.fluctuating && d.growthStart < generation && generation < d.growthEnd)
            popSize = fluctuatedSize(popSize, d.changePercent, d.singleExpression);
        ++generation;
        std::vector<int32_t> parents(static_cast<size_t>(a));
        for (int32_t& v : parents)
            v = rng.Random(popSize);
        std::sort(parents.begin(), parents.end());
        int32_t j = -1;
        for (int32_t i = 0; i + 1 < a; ++i)
            if (parents[i] == parents[i + 1]) {
                j = i;
                break;
            }
        const long double p = m.perGeneration ? m.perGeneration(rng) : m.constant;
        const long double u = rng.RandomFloat();
        const long double any = 1 - std::pow(1 - p, static_cast<long double>(a));
        long double s = 0;
        for (int32_t c = 1; c <= a && u < any - s; ++c) {
            out.mut.push_back({generation, rng.Random(a)});
            s += terms.binomialTerm(a, c, p);
        }
        if (j >= 0) {
            out.coal.push_back({generation, j, j + 1});
            --a;
        }
    }
    out.generation = generation;
    out.popSize = popSize;
    out.finalState = rng.state();
    return out;
}

void expectSameAsReplay(int32_t k, int32_t popSize, const Demography& d,
                        const MutationProbability& m, uint32_t seed) {
    SCOPED_TRACE(::testing::Message()
                 << "k=" << k << " N=" << popSize << " p=" << m.constant << " seed=" << seed);
    const Replayed expected = replay(k, popSize, d, m, seed);
    GenealogySimulator sim;
    Genealogy g;
    RunRandom rng(seed);
    int32_t n = popSize;
    int32_t coalescences = 0;
    sim.simulate(g, k, n, d, m, rng, [&] { ++coalescences; });
    ASSERT_EQ(g.CoalEvents.size(), expected.coal.size());
    for (size_t e = 0; e < expected.coal.size(); ++e) {
        ASSERT_EQ(g.CoalEvents[e].generation, expected.coal[e].generation) << "event " << e;
        ASSERT_EQ(g.CoalEvents[e].first, expected.coal[e].first) << "event " << e;
    }
    ASSERT_EQ(g.MutEvents.size(), expected.mut.size());
    for (size_t i = 0; i < expected.mut.size(); ++i) {
        ASSERT_EQ(g.MutEvents[i].generation, expected.mut[i].generation) << "mutation " << i;
        ASSERT_EQ(g.MutEvents[i].position, expected.mut[i].position) << "mutation " << i;
    }
    EXPECT_EQ(coalescences, static_cast<int32_t>(expected.coal.size()));
    EXPECT_EQ(g.Generation, expected.generation);
    EXPECT_EQ(n, expected.popSize);
    EXPECT_EQ(rng.state(), expected.finalState);
}

MutationProbability constant(long double p) {
    MutationProbability m;
    m.constant = p;
    return m;
}

} // namespace

TEST(RandomMany, SameValuesAndStateAsSingleDraws) {
    for (uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        for (int32_t n : {0, 1, 7, 10000, 2147483647}) {
            for (int32_t count = 0; count <= 27; ++count) {
                RunRandom single(seed), batch(seed);
                std::vector<uint32_t> expected, got(static_cast<size_t>(count) + 1, 99);
                for (int32_t i = 0; i < count; ++i)
                    expected.push_back(static_cast<uint32_t>(single.Random(n)));
                RandomMany(batch, n, count, got.data());
                for (int32_t i = 0; i < count; ++i)
                    ASSERT_EQ(got[i], expected[i]) << "seed " << seed << " n " << n << " i " << i;
                EXPECT_EQ(got[count], 99u) << "wrote past the end";
                EXPECT_EQ(batch.state(), single.state());
            }
        }
    }
}

// Few and many lineages, small sizes with frequent ties (three on one parent, two separate
// ties), sizes for the bit set, and mutation probabilities from none to certain.
TEST(GenerationLoop, MatchesThePlainReplay) {
    const Demography constantSize;
    for (int32_t k : {2, 3, 5, 8, 9, 13, 40}) {
        for (int32_t n : {1, 2, 5, 12, 300, 5000}) {
            for (long double p : {0.0L, 0.001L, 0.3L, 1.0L}) {
                if (p == 1.0L && n > 300) continue; // a events every generation: keep it short
                for (uint32_t seed : {7u, 2024u}) {
                    expectSameAsReplay(k, n, constantSize, constant(p), seed);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

// A size beyond the bit set's limit takes the hash table; shrinking it quickly keeps the
// genealogy short and passes it through every other path on the way down.
TEST(GenerationLoop, HashTableSizesAndFluctuatingSizes) {
    Demography shrinking;
    shrinking.fluctuating = true;
    shrinking.growthStart = 0;
    shrinking.growthEnd = 300;
    shrinking.changePercent = -15;
    for (int32_t k : {9, 600, 3000}) {
        for (bool single : {false, true}) {
            shrinking.singleExpression = single;
            expectSameAsReplay(k, 40000000, shrinking, constant(0.0005L), 99u);
            if (HasFatalFailure()) return;
        }
    }
    Demography growing;
    growing.fluctuating = true;
    growing.growthStart = 2;
    growing.growthEnd = 20;
    growing.changePercent = 40;
    expectSameAsReplay(30, 3, growing, constant(0.01L), 5u);
}

// Many lineages on few parents: the smallest repeat is looked for among the smallest draws
// first, and the generation drawn again in full when none of them repeats.
TEST(GenerationLoop, ManyLineagesOnFewParents) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        expectSameAsReplay(1500, 4000, Demography{}, constant(0.0001L), seed);
        if (HasFatalFailure()) return;
    }
    expectSameAsReplay(400, 1, Demography{}, constant(0.01L), 4u);
}

// The last generation allowed holds in every path: a genealogy whose common ancestor lies
// in that generation completes, one generation less stops the run.
TEST(GenerationLoop, LastGenerationHoldsInEveryPath) {
    struct Case {
        int32_t k, n;
    };
    // Pairs of draws, stamps, many lineages on few parents, a size beyond the stamps.
    for (const Case c : {Case{3, 5000}, Case{20, 5000}, Case{600, 2000}, Case{30, 300000}}) {
        SCOPED_TRACE(::testing::Message() << "k=" << c.k << " N=" << c.n);
        GenealogySimulator sim;
        Genealogy g;
        RunRandom rng(11);
        int32_t n = c.n;
        sim.simulate(g, c.k, n, Demography{}, constant(0.001L), rng, nullptr);
        const int32_t tmrca = g.tmrca();
        const size_t mutations = g.MutEvents.size();

        sim.lastGeneration = tmrca;
        rng.setState(11);
        n = c.n;
        sim.simulate(g, c.k, n, Demography{}, constant(0.001L), rng, nullptr);
        EXPECT_EQ(g.tmrca(), tmrca);
        EXPECT_EQ(g.MutEvents.size(), mutations);

        sim.lastGeneration = tmrca - 1;
        rng.setState(11);
        n = c.n;
        EXPECT_THROW(sim.simulate(g, c.k, n, Demography{}, constant(0.001L), rng, nullptr),
                     RunError);
    }
}

// A per-generation probability draws before the mutation count, from the same generator.
TEST(GenerationLoop, PerGenerationProbabilityDrawsInItsPlace) {
    MutationProbability m;
    m.perGeneration = [](RunRandom& rng) -> long double {
        // One or two draws, so that the count of draws varies from generation to generation.
        const long double first = rng.RandomFloat();
        return first < 0.5L ? first * 0.2L : rng.RandomFloat() * 0.1L;
    };
    for (int32_t k : {2, 8, 9, 30})
        for (uint32_t seed : {3u, 4u}) {
            expectSameAsReplay(k, 200, Demography{}, m, seed);
            if (HasFatalFailure()) return;
        }
}
