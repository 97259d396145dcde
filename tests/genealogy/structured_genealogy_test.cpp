// Genealogies in several demes: the event-driven simulation against exact discrete-time
// theory, and against a plain generation-by-generation simulation of the same history.
#include "base/random.h"
#include "genealogy/deme_statistics.h"
#include "genealogy/genealogy_check.h"
#include "genealogy/structured_genealogy.h"
#include "support/two_sample.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace quenlith;

namespace {

DiscreteDeme constantDeme(const std::string& name, double size, int64_t start = kForeverGeneration,
                          int64_t end = 0) {
    DiscreteDeme d;
    d.name = name;
    d.start = start;
    d.end = end;
    DiscreteEpoch e;
    e.end = end;
    e.startSize = e.endSize = size;
    e.startTime = static_cast<double>(start);
    e.endTime = static_cast<double>(end);
    d.epochs.push_back(e);
    return d;
}

// Two demes with backward migration rates m[0] (a copy in deme 0 moves to 1) and m[1].
DiscreteHistory twoDemes(double size0, double size1, double m0, double m1) {
    DiscreteHistory h;
    h.demes = {constantDeme("A", size0), constantDeme("B", size1)};
    h.migrations = {{1, 0, kForeverGeneration, 0, m0}, {0, 1, kForeverGeneration, 0, m1}};
    return h;
}

// The law of the coalescence time of two copies, from the chain of their demes: per
// generation migration, then a shared parent with probability 1 / copies. Returns P(T > t)
// for t = 0, 1, ... until it is negligible.
std::vector<double> pairSurvival(const DiscreteHistory& h, int startState) {
    const double n0 = static_cast<double>(h.copies(0, 1)), n1 = static_cast<double>(h.copies(1, 1));
    const double m0 = h.migrations[0].rate, m1 = h.migrations[1].rate;
    // States: 0 both in A, 1 both in B, 2 one in each.
    double M[3][3] = {{(1 - m0) * (1 - m0), m0 * m0, 2 * m0 * (1 - m0)},
                      {m1 * m1, (1 - m1) * (1 - m1), 2 * m1 * (1 - m1)},
                      {(1 - m0) * m1, m0 * (1 - m1), (1 - m0) * (1 - m1) + m0 * m1}};
    const double stay[3] = {1 - 1 / n0, 1 - 1 / n1, 1};
    std::vector<double> survival = {1};
    double p[3] = {0, 0, 0};
    p[startState] = 1;
    while (survival.back() > 1e-13 && survival.size() < 10000000) {
        double next[3] = {0, 0, 0};
        for (int s = 0; s < 3; ++s)
            for (int r = 0; r < 3; ++r)
                next[r] += p[s] * M[s][r] * stay[r];
        std::copy(next, next + 3, p);
        survival.push_back(p[0] + p[1] + p[2]);
    }
    return survival;
}

// The mean and standard deviation of a time from its survival function P(T > t).
std::pair<double, double> meanAndSd(const std::vector<double>& survival) {
    double mean = 0, second = 0;
    for (size_t t = 0; t < survival.size(); ++t) {
        mean += survival[t];
        second += (2.0 * static_cast<double>(t) + 1) * survival[t];
    }
    return {mean, std::sqrt(second - mean * mean)};
}

// TMRCAs of n genealogies of two copies, simulation s drawing from stream s of `seed`.
std::vector<int64_t> pairTimes(const DiscreteHistory& h,
                               const std::vector<StructuredSample>& samples, uint64_t seed, int n) {
    StructuredSimulator sim;
    StructuredTree tree;
    std::vector<int64_t> times;
    for (int s = 0; s < n; ++s) {
        StreamRandom rng(seed, static_cast<uint32_t>(s));
        sim.simulate(h, samples, rng, tree);
        times.push_back(tree.time.size() == 3 ? tree.tmrca() : -1);
    }
    return times;
}

double ksAgainst(std::vector<int64_t> sample, const std::vector<double>& survival) {
    std::sort(sample.begin(), sample.end());
    const double n = static_cast<double>(sample.size());
    double worst = 0;
    size_t i = 0;
    for (size_t t = 0; t < survival.size() && i < sample.size(); ++t) {
        while (i < sample.size() && sample[i] <= static_cast<int64_t>(t))
            ++i;
        const double exact = 1 - survival[t];
        worst = std::max(worst, std::fabs(static_cast<double>(i) / n - exact));
    }
    return worst;
}

// The sample's mean against the exact mean (within four standard errors) and its law against
// the exact one (Kolmogorov-Smirnov at the 0.1 % level).
void expectLaw(const std::vector<int64_t>& times, const std::vector<double>& survival) {
    const auto [mean, sd] = meanAndSd(survival);
    double sum = 0;
    for (const int64_t t : times) {
        ASSERT_GE(t, 1) << "not one merge of the two copies";
        sum += static_cast<double>(t);
    }
    const double n = static_cast<double>(times.size());
    EXPECT_NEAR(sum / n, mean, 4 * sd / std::sqrt(n));
    EXPECT_LT(ksAgainst(times, survival), 1.95 / std::sqrt(n));
}

} // namespace

// Two copies in two demes with migration: the coalescence time's mean and distribution
// against the chain, from each starting configuration, at sizes where every generation
// counts and where the stretches are long.
TEST(StructuredTheory, TwoDemesWithMigration) {
    struct Case {
        double size0, size1, m0, m1;
    };
    for (const Case& c :
         {Case{10, 25, 0.02, 0.05}, Case{1000, 400, 0.0005, 0.002}, Case{5e4, 5e4, 1e-5, 1e-5}}) {
        const DiscreteHistory h = twoDemes(c.size0, c.size1, c.m0, c.m1);
        ASSERT_EQ(h.check(), "");
        for (const int state : {0, 2}) {
            const std::vector<double> survival = pairSurvival(h, state);
            SCOPED_TRACE(std::to_string(c.size0) + " " + std::to_string(state));
            expectLaw(pairTimes(h, {{0, 0}, {state == 0 ? 0 : 1, 0}}, 77 + state, 4000), survival);
        }
    }
}

// A split without migration: two copies from two demes meet only in the ancestor, after the
// split and a geometric wait there.
TEST(StructuredTheory, SplitWithoutMigration) {
    DiscreteHistory h;
    h.demes = {constantDeme("X", 50), constantDeme("A", 200, 300), constantDeme("B", 10, 300)};
    h.demes[0].end = 300;
    h.demes[0].epochs[0].end = 300;
    h.demes[1].ancestors = h.demes[2].ancestors = {0};
    h.demes[1].proportions = h.demes[2].proportions = {1.0};
    ASSERT_EQ(h.check(), "");
    StructuredSimulator sim;
    StructuredTree tree;
    const int n = 4000;
    double sum = 0, sumSq = 0;
    for (int s = 0; s < n; ++s) {
        StreamRandom rng(5, static_cast<uint32_t>(s));
        sim.simulate(h, {{1, 0}, {2, 0}}, rng, tree);
        const double wait = static_cast<double>(tree.tmrca() - 300);
        ASSERT_GE(wait, 1);
        sum += wait;
        sumSq += wait * wait;
    }
    // Geometric on 1, 2, ... with p = 1/100: mean 100, variance (1 - p) / p^2 = 9900.
    const double mean = sum / n, var = sumSq / n - mean * mean;
    EXPECT_NEAR(mean, 100, 4 * std::sqrt(9900.0 / n));
    EXPECT_NEAR(var, 9900, 0.15 * 9900);
}

// Two copies in one deme whose size changes by epochs (a bottleneck) and grows: the chance to
// meet in generation t is 1 / copies(t), with the copies worked out here from the epochs.
TEST(StructuredTheory, EpochsOfOneDeme) {
    DiscreteHistory h;
    h.demes = {constantDeme("A", 500)};
    DiscreteEpoch oldest, bottleneck, growth;
    oldest.end = 400;
    oldest.startSize = oldest.endSize = 500;
    bottleneck.end = 200;
    bottleneck.startSize = bottleneck.endSize = 20;
    bottleneck.startTime = 400;
    bottleneck.endTime = 200;
    growth.end = 0;
    growth.function = SizeFunction::Exponential;
    growth.startSize = 50;
    growth.endSize = 400;
    growth.startTime = 200;
    growth.endTime = 0;
    h.demes[0].epochs = {oldest, bottleneck, growth};
    ASSERT_EQ(h.check(), "");
    auto copies = [](int64_t t) {
        if (t > 400) return 1000.0;
        if (t > 200) return 40.0;
        return std::round(2 * 50 * std::pow(400.0 / 50.0, (200.0 - t) / 200.0));
    };
    for (const int64_t t : {1, 100, 200, 201, 400, 401, 5000})
        EXPECT_EQ(static_cast<double>(h.copies(0, t)), copies(t)) << t;
    std::vector<double> survival = {1};
    while (survival.back() > 1e-13)
        survival.push_back(survival.back() *
                           (1 - 1 / copies(static_cast<int64_t>(survival.size()))));
    expectLaw(pairTimes(h, {{0, 0}, {0, 0}}, 9, 4000), survival);
}

namespace {

// The plain process, one generation after the other, with a generator of its own.
struct PlainStructured {
    std::mt19937_64 rng;
    double uniform() { return (static_cast<double>(rng() >> 11) + 1) * 0x1p-53; }
    int64_t below(int64_t n) { return std::uniform_int_distribution<int64_t>(0, n - 1)(rng); }

    struct Result {
        double tmrca, length, moves;
    };
    Result run(const DiscreteHistory& h, const std::vector<StructuredSample>& samples) {
        struct L {
            int64_t born;
            int32_t deme;
        };
        std::vector<L> lineages;
        for (const auto& s : samples)
            lineages.push_back({0, s.deme});
        double length = 0, moves = 0;
        for (int64_t t = 0;; ++t) {
            if (lineages.size() == 1) return {static_cast<double>(t), length, moves};
            for (L& l : lineages) {
                while (h.demes[static_cast<size_t>(l.deme)].start <= t) {
                    const auto& d = h.demes[static_cast<size_t>(l.deme)];
                    double u = uniform();
                    size_t a = 0;
                    while (a + 1 < d.ancestors.size() && u > d.proportions[a])
                        u -= d.proportions[a++];
                    l.deme = d.ancestors[a];
                    ++moves;
                }
            }
            for (const auto& p : h.pulses) {
                if (p.time != t) continue;
                for (L& l : lineages) {
                    if (l.deme != p.dest) continue;
                    double u = uniform();
                    for (size_t s = 0; s < p.sources.size(); ++s) {
                        if (u <= p.proportions[s]) {
                            l.deme = p.sources[s];
                            ++moves;
                            break;
                        }
                        u -= p.proportions[s];
                    }
                }
            }
            const int64_t g = t + 1;
            std::vector<int32_t> before;
            for (const L& l : lineages)
                before.push_back(l.deme);
            for (size_t i = 0; i < lineages.size(); ++i) {
                double u = uniform();
                for (const auto& m : h.migrations) {
                    if (m.dest != before[i] || !(m.end < g && g <= m.start)) continue;
                    if (u <= m.rate) {
                        lineages[i].deme = m.source;
                        ++moves;
                        break;
                    }
                    u -= m.rate;
                }
            }
            std::vector<size_t> gone;
            for (int32_t d = 0; d < static_cast<int32_t>(h.demes.size()); ++d) {
                std::map<int64_t, std::vector<size_t>> byParent;
                for (size_t i = 0; i < lineages.size(); ++i)
                    if (lineages[i].deme == d) byParent[below(h.copies(d, g))].push_back(i);
                for (const auto& [parent, who] : byParent)
                    if (who.size() > 1) {
                        for (const size_t i : {who[0], who[1]})
                            length += static_cast<double>(g - lineages[i].born);
                        lineages[who[0]].born = g;
                        gone.push_back(who[1]);
                        break;
                    }
            }
            std::sort(gone.rbegin(), gone.rend());
            for (const size_t i : gone)
                lineages.erase(lineages.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
};

// Every construct at once: a root, three demes split from it with growth, a constant size
// and a linear decline, a deme founded by all three with proportions, migrations that start
// and end, and a pulse from two sources.
DiscreteHistory everyConstruct() {
    DiscreteHistory h;
    h.demes = {constantDeme("R", 100, kForeverGeneration, 300), constantDeme("A", 50, 300),
               constantDeme("B", 30, 300), constantDeme("C", 40, 300), constantDeme("D", 20, 40)};
    h.demes[1].epochs[0].function = SizeFunction::Exponential;
    h.demes[1].epochs[0].startSize = 20;
    h.demes[1].epochs[0].endSize = 120;
    h.demes[3].epochs[0].function = SizeFunction::Linear;
    h.demes[3].epochs[0].startSize = 60;
    h.demes[3].epochs[0].endSize = 15;
    for (const int d : {1, 2, 3}) {
        h.demes[static_cast<size_t>(d)].ancestors = {0};
        h.demes[static_cast<size_t>(d)].proportions = {1.0};
    }
    h.demes[4].ancestors = {1, 2, 3};
    h.demes[4].proportions = {0.2, 0.3, 0.5};
    h.migrations = {{1, 2, 150, 20, 0.01}, {2, 1, 300, 0, 0.005}, {3, 4, 40, 0, 0.02}};
    h.pulses = {{100, 3, {1, 2}, {0.3, 0.2}}};
    return h;
}

// The TMRCA, tree length and moves of the event-driven simulator against the plain walk:
// two-sample Kolmogorov-Smirnov at the 0.1 % level, 1.95 sqrt(2 / n).
void expectPlainWalkLaw(const DiscreteHistory& h,
                        const std::vector<std::pair<int32_t, int>>& perDeme, int n, uint64_t seed) {
    ASSERT_EQ(h.check(), "");
    std::vector<StructuredSample> samples;
    for (const auto& [deme, count] : perDeme)
        for (int i = 0; i < count; ++i)
            samples.push_back({deme, 0});
    std::vector<double> tmrca[2], length[2], moves[2];
    PlainStructured plain{std::mt19937_64(seed)};
    StructuredSimulator sim;
    StructuredTree tree;
    for (int s = 0; s < n; ++s) {
        const auto r = plain.run(h, samples);
        tmrca[0].push_back(r.tmrca);
        length[0].push_back(r.length);
        moves[0].push_back(r.moves);
        StreamRandom rng(static_cast<uint32_t>(seed + 1), static_cast<uint32_t>(s));
        sim.simulate(h, samples, rng, tree);
        ASSERT_EQ(tree.time.size(), 2 * samples.size() - 1);
        double total = 0;
        for (size_t x = 0; x + 1 < tree.time.size(); ++x)
            total +=
                static_cast<double>(tree.time[static_cast<size_t>(tree.parent[x])] - tree.time[x]);
        tmrca[1].push_back(static_cast<double>(tree.tmrca()));
        length[1].push_back(total);
        moves[1].push_back(static_cast<double>(tree.moves.size()));
    }
    const double critical = 1.95 * std::sqrt(2.0 / n);
    EXPECT_LT(quenlith::testing::ksDistance(tmrca[0], tmrca[1]), critical);
    EXPECT_LT(quenlith::testing::ksDistance(length[0], length[1]), critical);
    EXPECT_LT(quenlith::testing::ksDistance(moves[0], moves[1]), critical);
}

} // namespace

TEST(StructuredTheory, EventDrivenEqualsThePlainWalk) {
    expectPlainWalkLaw(everyConstruct(), {{4, 5}, {1, 3}, {2, 3}, {3, 3}}, 3000, 11);
}

// Sizes that change many-fold within a few generations (the growth windows then hold many
// rejected candidates): a deme growing from 10 to 4000 in 60 generations and one shrinking
// linearly from 3000 to 5, with migration between them, before a common constant ancestor.
TEST(StructuredTheory, FastGrowthEqualsThePlainWalk) {
    DiscreteHistory h;
    h.demes = {constantDeme("R", 30, kForeverGeneration, 60), constantDeme("A", 4000, 60),
               constantDeme("B", 5, 60)};
    h.demes[1].epochs[0].function = SizeFunction::Exponential;
    h.demes[1].epochs[0].startSize = 10;
    h.demes[2].epochs[0].function = SizeFunction::Linear;
    h.demes[2].epochs[0].startSize = 3000;
    for (const int d : {1, 2}) {
        h.demes[static_cast<size_t>(d)].ancestors = {0};
        h.demes[static_cast<size_t>(d)].proportions = {1.0};
    }
    h.migrations = {{1, 2, 60, 0, 0.01}, {2, 1, 60, 0, 0.02}};
    expectPlainWalkLaw(h, {{1, 6}, {2, 6}}, 3000, 21);
}

namespace {

// P(a -> b) of a lineages in a deme of n copies: under the all-mergers rule S2(a, b) n (n - 1)
// ... (n - b + 1) / n^a (S2 by its recurrence), under the one-merge rule a - 1 with the
// probability of a repeat.
double mergeTransition(int a, int b, int n, MergeRule rule) {
    double s2[8][8] = {{1}}, falling = 1, distinct = 1;
    for (int x = 1; x <= a; ++x)
        for (int y = 1; y <= x; ++y)
            s2[x][y] = y * s2[x - 1][y] + s2[x - 1][y - 1];
    for (int i = 0; i < b; ++i)
        falling *= static_cast<double>(n - i) / n;
    for (int i = 1; i < a; ++i)
        distinct *= std::max(0.0, 1 - static_cast<double>(i) / n);
    if (rule == MergeRule::All) return s2[a][b] * falling / std::pow(n, a - b);
    return b == a ? distinct : b == a - 1 ? 1 - distinct : 0;
}

// P(TMRCA > t) of a0 + a1 <= 7 samples in the two demes of twoDemes: per generation the
// migrations (binomial in each deme), then the merges of each deme by `rule`.
std::vector<double> twoDemeSurvival(const DiscreteHistory& h, int a0, int a1, MergeRule rule) {
    const int n[2] = {static_cast<int>(h.copies(0, 1)), static_cast<int>(h.copies(1, 1))};
    const double m[2] = {h.migrations[0].rate, h.migrations[1].rate};
    const auto binomial = [](int x, int k, double p) {
        return std::tgamma(x + 1) / (std::tgamma(k + 1) * std::tgamma(x - k + 1)) * std::pow(p, k) *
               std::pow(1 - p, x - k);
    };
    using State = std::map<std::pair<int, int>, double>;
    State p = {{{a0, a1}, 1.0}};
    std::vector<double> survival = {1};
    while (survival.back() > 1e-13) {
        State moved, next;
        for (const auto& [s, q] : p)
            for (int out0 = 0; out0 <= s.first; ++out0)
                for (int out1 = 0; out1 <= s.second; ++out1)
                    moved[{s.first - out0 + out1, s.second - out1 + out0}] +=
                        q * binomial(s.first, out0, m[0]) * binomial(s.second, out1, m[1]);
        double alive = 0;
        for (const auto& [s, q] : moved)
            for (int c = std::min(s.first, 1); c <= s.first; ++c)
                for (int d = std::min(s.second, 1); d <= s.second; ++d)
                    if (c + d > 1) {
                        const double r = q * mergeTransition(s.first, c, n[0], rule) *
                                         mergeTransition(s.second, d, n[1], rule);
                        next[{c, d}] += r;
                        alive += r;
                    }
        p.swap(next);
        survival.push_back(alive);
    }
    return survival;
}

} // namespace

// Copies in two small demes with migration, where merges of several copies and of both demes
// in one generation are common: the TMRCA's mean and law under each rule against the chain of
// the lineage counts of the two demes, and not against the other rule's.
TEST(StructuredTheory, TwoDemesUnderBothMergeRules) {
    const DiscreteHistory h = twoDemes(2, 4, 0.05, 0.1);
    StructuredSimulator sim;
    StructuredTree tree;
    for (const MergeRule rule : {MergeRule::One, MergeRule::All})
        for (const auto& [a0, a1] : {std::pair{6, 0}, std::pair{2, 3}}) {
            SCOPED_TRACE(::testing::Message() << (rule == MergeRule::All) << " " << a0);
            sim.mergers = rule;
            std::vector<StructuredSample> samples(static_cast<size_t>(a0), {0, 0});
            samples.insert(samples.end(), static_cast<size_t>(a1), {1, 0});
            std::vector<int64_t> times;
            for (int s = 0; s < 4000; ++s) {
                StreamRandom rng(31 + static_cast<uint64_t>(rule), static_cast<uint32_t>(s));
                sim.simulate(h, samples, rng, tree);
                ASSERT_EQ(tree.time.size(), 2 * samples.size() - 1);
                times.push_back(tree.tmrca());
            }
            expectLaw(times, twoDemeSurvival(h, a0, a1, rule));
            const MergeRule other = rule == MergeRule::All ? MergeRule::One : MergeRule::All;
            if (a1 == 0) { // the split start is ruled by migration: the two laws stay close
                EXPECT_GT(ksAgainst(times, twoDemeSurvival(h, a0, a1, other)), 0.1);
            }
        }
}

// The exact pair times of the two-deme chain (a linear system) against the plain
// generation-by-generation recursion of its law, over random sizes and rates.
TEST(StructuredTheory, PairTimesOfTheTwoDemeChain) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> rate(0.002, 0.4);
    std::uniform_int_distribution<int> size(1, 40);
    for (int trial = 0; trial < 60; ++trial) {
        const DiscreteHistory h = twoDemes(size(random), size(random), rate(random), rate(random));
        TwoDemeChain chain;
        ASSERT_TRUE(twoDemeChainOf(h, chain));
        const std::array<double, 3> e = twoDemePairTimes(chain);
        for (int start = 0; start < 3; ++start) {
            const double plain = meanAndSd(pairSurvival(h, start)).first;
            EXPECT_NEAR(e[static_cast<size_t>(start)], plain, 1e-7 * plain)
                << "trial " << trial << " start " << start;
        }
    }
    // Without migration copies of different demes never meet; a pulse or a split is no chain.
    TwoDemeChain isolated{20, 20, 0, 0};
    EXPECT_TRUE(std::isinf(twoDemePairTimes(isolated)[2]));
    EXPECT_NEAR(twoDemePairTimes(isolated)[0], 20, 1e-9);
    TwoDemeChain chain;
    EXPECT_FALSE(twoDemeChainOf(everyConstruct(), chain));
    DiscreteHistory pulsed = twoDemes(10, 10, 0.1, 0.1);
    pulsed.pulses = {{5, 0, {1}, {0.5}}};
    EXPECT_FALSE(twoDemeChainOf(pulsed, chain));
}

// The deme history given to the genealogy is the tree's: every node's bottom deme and its
// changes are the moves of the simulator for that node, in order, and they chain up (a
// change leaves the deme the previous one entered, and two lineages merge in one deme).
// The pairwise statistics against the count over every pair of copies.
TEST(StructuredTheory, BranchDemesAndPairStatisticsOfTheGenealogy) {
    const DiscreteHistory h = everyConstruct();
    std::vector<StructuredSample> samples;
    for (const auto& [deme, count] :
         std::vector<std::pair<int32_t, int>>{{4, 4}, {1, 3}, {2, 3}, {3, 2}})
        for (int i = 0; i < count; ++i)
            samples.push_back({deme, 0});
    const auto k = static_cast<int32_t>(samples.size());
    StructuredSimulator sim;
    StructuredTree tree;
    Genealogy g;
    std::vector<int32_t> order;
    BranchDemes demes;
    size_t moves = 0;
    for (int s = 0; s < 200; ++s) {
        StreamRandom rng(31, static_cast<uint32_t>(s));
        sim.mergers = s % 2 ? MergeRule::All : MergeRule::One;
        sim.simulate(h, samples, rng, tree);
        structuredGenealogy(tree, 0.002L, rng, g, order, &demes);
        ASSERT_EQ(genealogyFault(g), "") << "simulation " << s;
        const auto nodes = static_cast<int32_t>(tree.time.size());
        ASSERT_EQ(demes.nodes(), nodes);
        moves += tree.moves.size();
        size_t changes = 0;
        for (int32_t x = 0; x < nodes; ++x) {
            // The tree's node behind genealogy node x.
            const int32_t t = x < k ? order[static_cast<size_t>(x)] : x;
            ASSERT_EQ(demes.bottom[static_cast<size_t>(x)], tree.deme[static_cast<size_t>(t)]);
            std::vector<BranchDemes::Change> expected;
            int32_t deme = tree.deme[static_cast<size_t>(t)];
            for (const StructuredTree::Move& m : tree.moves)
                if (m.node == t) {
                    EXPECT_EQ(m.from, deme);
                    deme = m.to;
                    expected.push_back({m.generation, m.to});
                }
            ASSERT_EQ(std::vector<BranchDemes::Change>(demes.changesBegin(x), demes.changesEnd(x)),
                      expected);
            changes += expected.size();
            if (x + 1 < nodes) {
                const int32_t parent = tree.parent[static_cast<size_t>(t)];
                EXPECT_EQ(demes.topDeme(x), tree.deme[static_cast<size_t>(parent)]);
                for (const BranchDemes::Change& c : expected) {
                    EXPECT_GE(c.generation, tree.time[static_cast<size_t>(t)]);
                    EXPECT_LT(c.generation, tree.time[static_cast<size_t>(parent)]);
                }
            }
        }
        EXPECT_EQ(changes, tree.moves.size());

        // Every pair of copies: the mutations on the path between them.
        const int32_t D = static_cast<int32_t>(h.demes.size());
        std::vector<int32_t> leafDeme(demes.bottom.begin(), demes.bottom.begin() + k);
        const DemePairStatistics stats = demePairStatistics(g, leafDeme, D);
        std::vector<double> sum(static_cast<size_t>(D * D), 0), pairs(sum.size(), 0);
        for (int32_t i = 0; i < k; ++i)
            for (int32_t j = i + 1; j < k; ++j) {
                int differences = 0;
                for (const int32_t node : g.mutationNodes) {
                    const bool hasI = g.leafLo[static_cast<size_t>(node)] <= i &&
                                      i <= g.leafHi[static_cast<size_t>(node)];
                    const bool hasJ = g.leafLo[static_cast<size_t>(node)] <= j &&
                                      j <= g.leafHi[static_cast<size_t>(node)];
                    differences += hasI != hasJ;
                }
                const int32_t a =
                    std::min(leafDeme[static_cast<size_t>(i)], leafDeme[static_cast<size_t>(j)]);
                const int32_t b =
                    std::max(leafDeme[static_cast<size_t>(i)], leafDeme[static_cast<size_t>(j)]);
                sum[static_cast<size_t>(a * D + b)] += differences;
                ++pairs[static_cast<size_t>(a * D + b)];
            }
        for (int32_t a = 0; a < D; ++a) {
            const double n = pairs[static_cast<size_t>(a * D + a)];
            if (n == 0) {
                EXPECT_TRUE(std::isnan(stats.pi[static_cast<size_t>(a)]));
            } else {
                EXPECT_NEAR(stats.pi[static_cast<size_t>(a)],
                            sum[static_cast<size_t>(a * D + a)] / n, 1e-12);
            }
            for (int32_t b = a + 1; b < D; ++b) {
                const double m = pairs[static_cast<size_t>(a * D + b)];
                const size_t i = static_cast<size_t>(demePairIndex(a, b, D));
                if (m == 0) {
                    EXPECT_TRUE(std::isnan(stats.dxy[i]));
                    continue;
                }
                const double dxy = sum[static_cast<size_t>(a * D + b)] / m;
                EXPECT_NEAR(stats.dxy[i], dxy, 1e-12);
                const double within =
                    (stats.pi[static_cast<size_t>(a)] + stats.pi[static_cast<size_t>(b)]) / 2;
                if (dxy > 0 && std::isfinite(within)) {
                    EXPECT_NEAR(stats.fst[i], 1 - within / dxy, 1e-12);
                }
            }
        }
    }
    EXPECT_GT(moves, 200u); // the history moves lineages: splits, migrations and the pulse
}
