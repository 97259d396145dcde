// The genealogy checker: every engine's genealogies pass it over many random inputs, and each
// kind of damage to a sound genealogy is reported.
#include "genealogy/genealogy_check.h"

#include "genealogy/event_genealogy.h"
#include "genealogy/genealogy.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace quenlith;

namespace {

struct Case {
    int32_t k, n;
    long double p;
    MergeRule rule;
    Demography demography;
};

Case randomCase(std::mt19937_64& random) {
    Case c;
    c.k = std::uniform_int_distribution<int32_t>(1, 60)(random);
    const int digits = std::uniform_int_distribution<int>(0, 4)(random);
    c.n =
        std::max<int32_t>(1, static_cast<int32_t>(std::pow(10.0, digits) *
                                                  std::uniform_real_distribution<>(1, 9)(random)));
    c.p = std::uniform_real_distribution<>(0, 0.05)(random) / std::max(1.0, c.n / 1000.0);
    c.rule = random() % 2 ? MergeRule::All : MergeRule::One;
    if (random() % 3 == 0) {
        c.demography.fluctuating = true;
        c.demography.growthStart = std::uniform_int_distribution<int32_t>(0, 20)(random);
        c.demography.growthEnd = c.demography.growthStart + 200;
        c.demography.changePercent = std::uniform_real_distribution<>(-1, 1)(random);
    }
    return c;
}

// One genealogy of each engine: the walk on both generators and the event-driven one.
template <typename Simulator, typename Rng> Genealogy simulated(const Case& c, Rng rng) {
    Simulator sim;
    sim.mergers = c.rule;
    Genealogy g;
    int32_t size = c.n;
    MutationProbability mutation;
    mutation.constant = c.p;
    sim.simulate(g, c.k, size, c.demography, mutation, rng, {});
    return g;
}

} // namespace

TEST(GenealogyCheck, EveryEngineBuildsSoundGenealogies) {
    std::mt19937_64 random(2024);
    for (int trial = 0; trial < 400; ++trial) {
        const Case c = randomCase(random);
        const auto s = static_cast<uint32_t>(trial);
        for (const Genealogy& g : {simulated<GenealogySimulator>(c, RunRandom(s)),
                                   simulated<GenealogySimulator>(c, StreamRandom(9, s)),
                                   simulated<EventGenealogySimulator>(c, StreamRandom(9, s))})
            ASSERT_EQ(genealogyFault(g), "") << "trial " << trial << " k " << c.k << " N " << c.n
                                             << " rule " << static_cast<int>(c.rule);
    }
}

TEST(GenealogyCheck, DamageIsReported) {
    // A sound genealogy with mutations and, under the all-mergers rule on few copies, merges
    // that share a generation.
    Case c{12, 4, 0.2L, MergeRule::All, {}};
    Genealogy sound;
    for (uint32_t s = 0; sound.MutEvents.size() < 4 || sound.CoalEvents.size() < 3; ++s)
        sound = simulated<GenealogySimulator>(c, RunRandom(s));
    ASSERT_EQ(genealogyFault(sound), "");

    const auto damaged = [&](auto change) {
        Genealogy g = sound;
        change(g);
        return genealogyFault(g);
    };
    EXPECT_NE(damaged([](Genealogy& g) { g.CoalEvents.pop_back(); }), "");
    EXPECT_NE(damaged([](Genealogy& g) { g.CoalEvents.back().generation = 0; }), "");
    EXPECT_NE(damaged([](Genealogy& g) { g.CoalEvents[0].first = g.SampleSize - 1; }), "");
    EXPECT_NE(damaged([](Genealogy& g) { ++g.CoalEvents[1].second; }), "");
    EXPECT_NE(damaged([](Genealogy& g) { std::swap(g.childA[0], g.childB[0]); }), "");
    EXPECT_NE(damaged([](Genealogy& g) { ++g.leafHi[static_cast<size_t>(g.SampleSize)]; }), "");
    EXPECT_NE(damaged([](Genealogy& g) { g.MutEvents[0].generation = g.tmrca() + 1; }), "");
    EXPECT_NE(damaged([](Genealogy& g) { g.MutEvents[0].position = g.SampleSize; }), "");
    EXPECT_NE(damaged([](Genealogy& g) {
                  int32_t& node = g.mutationNodes[0];
                  node = (node + 1) % static_cast<int32_t>(g.leafLo.size());
              }),
              "");
    EXPECT_NE(damaged([](Genealogy& g) { g.Generation = g.tmrca() - 1; }), "");
    // Matrix files hold no mutation nodes: positions alone are checked then.
    EXPECT_EQ(damaged([](Genealogy& g) { g.mutationNodes.clear(); }), "");
}
