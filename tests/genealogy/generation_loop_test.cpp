// The generation loop against a plain replay of the process (plainGeneration): every draw one
// at a time, the parents sorted and scanned for the first tie, the mutation count by inversion. The
// loop draws in blocks, compares few parents pair by pair and many through a bit set or a hash
// table; every path must give the same events, the same final size and leave the
// generator in the same state. The loop's paths for any generator (PlainRunRandom draws the
// run generator's numbers but takes none of its shortcuts) are held to the same.
#include "base/run_error.h"
#include "genealogy/genealogy.h"
#include "genealogy/generation_step.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace quenlith;

namespace {

struct Replayed {
    std::vector<CoalEvent> coal;
    std::vector<MutEvent> mut;
    int32_t generation = 0;
    int32_t popSize = 0;
    uint32_t finalState = 0;
    int32_t mergingGenerations = 0;
};

// The rate of a genealogy: a constant, or one or two draws every generation before the
// mutation count (so that the number of draws varies from generation to generation).
struct Rate {
    long double constant = 0;
    bool perGeneration = false;
};

template <typename Rng> long double drawnRate(Rng& rng) {
    const long double first = rng.RandomFloat();
    return first < 0.5L ? first * 0.2L : rng.RandomFloat() * 0.1L;
}

// The loop's view of the rate, drawing from the generator the loop passes.
MutationProbability probability(const Rate& rate) {
    MutationProbability m;
    m.constant = rate.constant;
    if (rate.perGeneration) m.perGeneration = [](auto& rng) { return drawnRate(rng); };
    return m;
}

Replayed replay(int32_t k, int32_t popSize, const Demography& d, const Rate& m, uint32_t seed,
                MergeRule rule) {
    RunRandom rng(seed);
    const MutationProbability probabilities = probability(m);
    GenerationEvents events;
    Replayed out;
    int32_t a = k;
    int32_t generation = 0;
    while (a > 1) {
        if (d.fluctuating && d.growthStart < generation && generation < d.growthEnd)
            popSize = fluctuatedSize(popSize, d.changePercent, d.singleExpression);
        ++generation;
        plainGeneration(rng, a, popSize, probabilities, rule, events);
        for (const int32_t position : events.mutations)
            out.mut.push_back({generation, position});
        for (const int32_t j : events.merges)
            out.coal.push_back({generation, j, j + 1});
        a -= static_cast<int32_t>(events.merges.size());
        out.mergingGenerations += !events.merges.empty();
    }
    out.generation = generation;
    out.popSize = popSize;
    out.finalState = rng.state();
    return out;
}

struct Simulated {
    Genealogy g;
    int32_t popSize = 0;
    uint32_t finalState = 0;
    int32_t coalescences = 0;
};

template <typename Rng>
Simulated simulateWith(GenealogySimulator& sim, int32_t k, int32_t popSize, const Demography& d,
                       const Rate& rate, uint32_t seed, MergeRule rule) {
    Simulated out;
    Rng rng(seed);
    sim.mergers = rule;
    out.popSize = popSize;
    const MutationProbability m = probability(rate);
    sim.simulate(out.g, k, out.popSize, d, m, rng, [&] { ++out.coalescences; });
    out.finalState = rng.state();
    return out;
}

void expectSame(const Simulated& got, const Replayed& expected) {
    const Genealogy& g = got.g;
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
    EXPECT_EQ(got.coalescences, expected.mergingGenerations);
    EXPECT_EQ(g.Generation, expected.generation);
    EXPECT_EQ(got.popSize, expected.popSize);
    EXPECT_EQ(got.finalState, expected.finalState);
}

// The run generator's loop and the loop for any generator against the replay, each on a
// simulator of its own (fresh unless given).
// Returns the generations in which more than eight lineages were left.
int32_t expectSameAsReplay(int32_t k, int32_t popSize, const Demography& d, const Rate& m,
                           uint32_t seed, GenealogySimulator* congruential = nullptr,
                           GenealogySimulator* generic = nullptr, MergeRule rule = MergeRule::One) {
    SCOPED_TRACE(::testing::Message() << "k=" << k << " N=" << popSize << " p=" << m.constant
                                      << (m.perGeneration ? " drawn" : "") << " seed=" << seed
                                      << " fluctuating=" << d.fluctuating
                                      << (rule == MergeRule::All ? " all mergers" : ""));
    const Replayed expected = replay(k, popSize, d, m, seed, rule);
    GenealogySimulator fresh1, fresh2;
    {
        SCOPED_TRACE("RunRandom");
        expectSame(simulateWith<RunRandom>(congruential ? *congruential : fresh1, k, popSize, d, m,
                                           seed, rule),
                   expected);
    }
    {
        SCOPED_TRACE("PlainRunRandom");
        expectSame(
            simulateWith<PlainRunRandom>(generic ? *generic : fresh2, k, popSize, d, m, seed, rule),
            expected);
    }
    return k > 8 ? expected.coal[static_cast<size_t>(k - 9)].generation : 0;
}

Rate constant(long double p) {
    Rate m;
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

TEST(RandomMany, StateAfterAnyNumberOfDraws) {
    for (uint32_t seed : {0u, 1u, 0xDEADBEEFu}) {
        RunRandom single(seed);
        for (uint64_t count = 0; count <= 5000; ++count) {
            ASSERT_EQ(runStateAfter(seed, count), single.state()) << "count " << count;
            single.RandomFloat();
        }
    }
    // The congruence has period 2^32.
    EXPECT_EQ(runStateAfter(12345u, uint64_t{1} << 32), 12345u);
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
    // Beyond the stamps: the cutoff's repeats found with a bit set, the rest with a hash
    // table.
    expectSameAsReplay(3000, 60000, Demography{}, constant(0.0001L), 5u);
}

// The last generation allowed holds in every path: a genealogy whose common ancestor lies
// in that generation completes, one generation less stops the run.
template <typename Rng> void expectLastGenerationHolds() {
    struct Case {
        int32_t k, n;
    };
    MutationProbability m;
    m.constant = 0.001L;
    // Pairs of draws, stamps, many lineages on few parents, a size beyond the stamps.
    for (const Case c : {Case{3, 5000}, Case{20, 5000}, Case{600, 2000}, Case{30, 300000}}) {
        SCOPED_TRACE(::testing::Message() << "k=" << c.k << " N=" << c.n);
        GenealogySimulator sim;
        Genealogy g;
        Rng rng(11);
        int32_t n = c.n;
        sim.simulate(g, c.k, n, Demography{}, m, rng, nullptr);
        const int32_t tmrca = g.tmrca();
        const size_t mutations = g.MutEvents.size();

        sim.lastGeneration = tmrca;
        rng = Rng(11);
        n = c.n;
        sim.simulate(g, c.k, n, Demography{}, m, rng, nullptr);
        EXPECT_EQ(g.tmrca(), tmrca);
        EXPECT_EQ(g.MutEvents.size(), mutations);

        sim.lastGeneration = tmrca - 1;
        rng = Rng(11);
        n = c.n;
        EXPECT_THROW(sim.simulate(g, c.k, n, Demography{}, m, rng, nullptr), RunError);
    }
}

TEST(GenerationLoop, LastGenerationHoldsInEveryPath) {
    expectLastGenerationHolds<RunRandom>();
    expectLastGenerationHolds<PlainRunRandom>();
}

// A per-generation probability draws before the mutation count, from the same generator.
TEST(GenerationLoop, PerGenerationProbabilityDrawsInItsPlace) {
    Rate m;
    m.perGeneration = true;
    for (int32_t k : {2, 8, 9, 30})
        for (uint32_t seed : {3u, 4u}) {
            expectSameAsReplay(k, 200, Demography{}, m, seed);
            if (HasFatalFailure()) return;
        }
}

// One simulator per generator reused across hundreds of genealogies of random sample sizes,
// population sizes, rates and demographies, as a run reuses it: the stamps of the parents
// wrap round their 16-bit epoch many times over and more rates come and go than the
// mutation draw keeps, and every genealogy must still match the replay.
namespace {

// Random inputs on two reused simulators, under one merge rule.
void expectRandomInputsMatchTheReplay(MergeRule rule, uint32_t seed, int32_t cases) {
    std::mt19937 pick(seed);
    auto uniform = [&](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(pick);
    };
    // More constant rates than the mutation draw keeps, so that kept rates are evicted and
    // computed again.
    const long double rates[] = {0,     1e-5L, 5e-5L, 1e-4L, 3e-4L, 1e-3L, 2e-3L,
                                 5e-3L, 0.01L, 0.02L, 0.05L, 0.1L,  0.3L,  1};
    GenealogySimulator congruential, generic;
    int64_t stampedGenerations = 0;
    for (int32_t r = 0; r < cases; ++r) {
        int32_t k, n;
        const int32_t shape = uniform(0, 9);
        if (shape < 4) { // few lineages: the pairwise paths
            k = uniform(2, 8);
            n = uniform(1, 3000);
        } else if (shape < 8) { // the stamps
            k = uniform(9, 60);
            n = uniform(1, 20000);
        } else if (shape < 9) { // many lineages on few parents
            k = uniform(100, 700);
            n = uniform(1, k * k / 100);
        } else if (uniform(0, 1) == 0) { // sizes for the bit set, shrinking
            k = uniform(9, 40);
            n = uniform(140000, 200000);
        } else { // sizes beyond the stamps, constant: the hashed stamps
            k = uniform(9, 70);
            n = uniform(131073, 160000);
        }
        Rate rate;
        rate.constant = rates[uniform(0, 13)];
        if (rate.constant == 1 && n > 300) rate.constant = 0.3L; // a events every generation
        rate.perGeneration = uniform(0, 5) == 0;
        Demography d;
        if (uniform(0, 4) == 0) {
            // Growth kept within a factor of about 20, so that the genealogy stays short.
            d.fluctuating = true;
            d.growthStart = uniform(0, 20);
            d.growthEnd = d.growthStart + uniform(0, 60);
            d.changePercent = uniform(-30, 5) + uniform(0, 9) / 10.0;
            d.singleExpression = uniform(0, 1) == 1;
            n = std::min(n, 2000);
        }
        if (n > 100000 && k <= 40 && !d.fluctuating) { // shrink, to keep the replay short
            d.fluctuating = true;
            d.growthStart = 0;
            d.growthEnd = 200;
            d.changePercent = -5;
        }
        const int32_t generations = expectSameAsReplay(k, n, d, rate, static_cast<uint32_t>(pick()),
                                                       &congruential, &generic, rule);
        if (::testing::Test::HasFatalFailure()) return;
        stampedGenerations += generations;
    }
    // The 16-bit stamp epoch went round several times.
    EXPECT_GT(stampedGenerations, 3 * 65536);
}

} // namespace

TEST(GenerationLoop, ReusedSimulatorsMatchTheReplayOverRandomInputs) {
    expectRandomInputsMatchTheReplay(MergeRule::One, 20261208, 400);
}

// Every set of lineages on one parent merges: the quiet paths step back to draw the
// generation again, the others draw it again from its first state.
TEST(GenerationLoop, AllMergersMatchThePlainReplay) {
    expectRandomInputsMatchTheReplay(MergeRule::All, 20261209, 300);
    // Many lineages on few parents: several sets, some of three or more, every generation.
    for (uint32_t seed : {1u, 2u}) {
        expectSameAsReplay(1500, 4000, Demography{}, constant(0.0001L), seed, nullptr, nullptr,
                           MergeRule::All);
        expectSameAsReplay(300, 40, Demography{}, constant(0.01L), seed, nullptr, nullptr,
                           MergeRule::All);
        if (HasFatalFailure()) return;
    }
}

// A raised stop flag ends a long genealogy within kStopCheckGenerations generations on
// every path; a lowered one changes nothing.
template <typename Rng> void expectStopFlagSeen(int32_t k) {
    SCOPED_TRACE(::testing::Message() << "k=" << k);
    MutationProbability m;
    m.constant = 0.0001L;
    GenealogySimulator sim;
    Genealogy g;
    std::atomic<bool> stop{true};
    Rng rng(5);
    int32_t n = 1000000000; // a TMRCA of about 10^9 generations: only the flag ends it
    EXPECT_THROW(sim.simulate(g, k, n, Demography{}, m, rng, nullptr, &stop), RunStopped);

    stop = false;
    Rng again(5), plain(5);
    int32_t n1 = 3000, n2 = 3000;
    Genealogy withFlag;
    sim.simulate(withFlag, k, n1, Demography{}, m, again, nullptr, &stop);
    GenealogySimulator other;
    other.simulate(g, k, n2, Demography{}, m, plain, nullptr);
    EXPECT_EQ(withFlag.tmrca(), g.tmrca());
    EXPECT_EQ(withFlag.MutEventCount(), g.MutEventCount());
    EXPECT_EQ(again.state(), plain.state());
}

TEST(GenerationLoop, StopFlagSeenOnEveryPath) {
    for (int32_t k : {2, 5, 20}) {
        expectStopFlagSeen<RunRandom>(k);
        expectStopFlagSeen<PlainRunRandom>(k);
    }
    MutationProbability m;
    m.constant = 0.0001L;
    GenealogySimulator sim;
    Genealogy g;
    std::atomic<bool> stop{true};
    StreamRandom rng(5, 1);
    int32_t n = 1000000000;
    EXPECT_THROW(sim.simulate(g, 2, n, Demography{}, m, rng, nullptr, &stop), RunStopped);
}

// The lineage order against a plain list: random merges of neighbours, and the node at
// every position after each.
TEST(LineageOrder, MatchesAPlainListUnderRandomMerges) {
    std::mt19937 pick(7);
    for (int32_t k : {1, 2, 3, 7, 8, 9, 64, 65, 1000}) {
        LineageOrder order;
        order.reset(k);
        std::vector<int32_t> plain(static_cast<size_t>(k));
        for (int32_t i = 0; i < k; ++i)
            plain[i] = i;
        for (int32_t e = 0; e + 1 < k; ++e) {
            const int32_t lineages = k - e;
            const int32_t j = std::uniform_int_distribution<int32_t>(0, lineages - 2)(pick);
            const auto [left, right] = order.merge(j, k + e);
            ASSERT_EQ(left, plain[j]);
            ASSERT_EQ(right, plain[j + 1]);
            plain[j] = k + e;
            plain.erase(plain.begin() + j + 1);
            for (int32_t i = 0; i < lineages - 1; ++i)
                ASSERT_EQ(order.nodeAt(i), plain[i]) << "k=" << k << " event " << e;
        }
    }
}
