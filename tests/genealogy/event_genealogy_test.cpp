// The event-driven genealogy against exact theory (N from 2 to 10^9) and against the
// generation walk in two-sample tests (constant and fluctuating size, gamma rates, the
// microsatellite staging), and the structure it fills: tree, positions, mutation nodes,
// the generation limit and the stop flag.
#include "genealogy/event_genealogy.h"

#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "genealogy/genealogy.h"

#include "support/two_sample.h"
#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

using namespace quenlith;

namespace {

// Moments of the one-merge process: with a lineages a stretch lasts T_a ~ Geometric(q_a)
// generations with a draws each, so the TMRCA is sum T_a and the mutation count M, given the
// T_a, is Binomial(sum a T_a, p).
struct Moments {
    long double meanT = 0, varT = 0, meanM = 0, varM = 0;
};

// The moments up to the merge that leaves `until` lineages (1: the TMRCA).
Moments exactMoments(int k, int n, long double p, int until = 1) {
    Moments m;
    for (int a = until + 1; a <= k; ++a) {
        const long double q = EventGenealogySimulator::repeatProbability(a, n);
        // The product of (1 - i/n), computed apart from q's own code.
        long double distinct = 1;
        for (int i = 1; i < a; ++i)
            distinct *= n <= 1 || a > n ? 0 : 1 - static_cast<long double>(i) / n;
        if (n > 1000) {
            long double s = 0;
            for (int i = 1; i < a; ++i)
                s += std::log1p(-static_cast<long double>(i) / n);
            EXPECT_NEAR(static_cast<double>(q / -std::expm1(s)), 1.0, 1e-15);
        } else {
            EXPECT_NEAR(static_cast<double>(q), static_cast<double>(1 - distinct), 1e-15);
        }
        const long double meanTa = 1 / q, varTa = (1 - q) / (q * q);
        m.meanT += meanTa;
        m.varT += varTa;
        m.meanM += a * p * meanTa;
        m.varM += a * p * (1 - p) * meanTa + a * a * p * p * varTa;
    }
    return m;
}

// The same moments under the all-mergers rule, from its chain on the lineage count: a
// lineages go to b with P(a -> b) = S2(a, b) N (N - 1) ... (N - b + 1) / N^a (S2: Stirling
// numbers of the second kind); first-step analysis of the hitting time of `until` or fewer
// lineages and of the mutations on the way (Binomial(a, p) each generation), solved in long
// double.
Moments allMergersMoments(int k, int n, long double p, int until = 1) {
    std::vector<std::vector<long double>> s2(static_cast<size_t>(k) + 1,
                                             std::vector<long double>(static_cast<size_t>(k) + 1));
    s2[0][0] = 1;
    for (int a = 1; a <= k; ++a)
        for (int b = 1; b <= a; ++b)
            s2[a][b] = b * s2[a - 1][b] + s2[a - 1][b - 1];
    const long double logN = std::log(static_cast<long double>(n));
    const auto transition = [&](int a, int b) -> long double {
        if (b > n) return 0;
        long double logFalling = 0;
        for (int i = 1; i < b; ++i)
            logFalling += std::log1p(-static_cast<long double>(i) / n);
        if (b == a) return std::exp(logFalling);
        return std::exp(std::log(s2[a][b]) + (b - a) * logN + logFalling);
    };
    std::vector<long double> t1(static_cast<size_t>(k) + 1, 0), t2 = t1, m1 = t1, m2 = t1;
    for (int a = until + 1; a <= k; ++a) {
        long double leave = 0;
        long double sumT1 = 0, sumT2 = 0, sumM1 = 0, sumM2 = 0;
        for (int b = 1; b <= a; ++b) {
            if (b == a) continue;
            const long double pab = transition(a, b);
            leave += pab;
            sumT1 += pab * t1[b];
            sumT2 += pab * t2[b];
            sumM1 += pab * m1[b];
            sumM2 += pab * m2[b];
        }
        // 1 - stay without cancellation, checked against the sum of the others.
        long double logStay = 0;
        for (int i = 1; i < a; ++i)
            logStay += a > n ? 0 : std::log1p(-static_cast<long double>(i) / n);
        const long double out = a > n ? 1 : -std::expm1(logStay);
        EXPECT_NEAR(static_cast<double>(leave / out), 1.0, 1e-12) << "a=" << a << " N=" << n;
        // R_a = X + R_next: (1 - P(a -> a)) E[R_a] = E[X] + sum_{b<a} P(a -> b) E[R_b] and
        // (1 - P(a -> a)) E[R_a^2] = E[X^2] + 2 E[X] (E[R_a] - E[X]) + sum P(a -> b) E[R_b^2].
        t1[a] = (1 + sumT1) / out;
        t2[a] = (1 + 2 * (t1[a] - 1) + sumT2) / out;
        const long double ex = a * p, ex2 = a * p * (1 - p) + ex * ex;
        m1[a] = (ex + sumM1) / out;
        m2[a] = (ex2 + 2 * ex * (m1[a] - ex) + sumM2) / out;
    }
    Moments m;
    m.meanT = t1[k];
    m.varT = t2[k] - t1[k] * t1[k];
    m.meanM = m1[k];
    m.varM = m2[k] - m1[k] * m1[k];
    return m;
}

struct Sample {
    std::vector<double> tmrca, length, mutations, rootSmaller, firstJ;
    // The time of the merge that leaves `until` lineages and the mutations up to it.
    std::vector<double> partialTime, partialMutations;
};

// Total branch length: sum over events of (g_e - g_{e-1}) times the lineages before it.
double branchLength(const Genealogy& g) {
    double total = 0;
    int32_t previous = 0;
    for (size_t e = 0; e < g.CoalEvents.size(); ++e) {
        total += static_cast<double>(g.CoalEvents[e].generation - previous) *
                 static_cast<double>(g.SampleSize - static_cast<int32_t>(e));
        previous = g.CoalEvents[e].generation;
    }
    return total;
}

void addPartial(Sample& s, const Genealogy& g, int32_t until) {
    const int32_t partial = g.CoalEvents[static_cast<size_t>(g.SampleSize - 1 - until)].generation;
    s.partialTime.push_back(partial);
    s.partialMutations.push_back(static_cast<double>(
        std::count_if(g.MutEvents.begin(), g.MutEvents.end(),
                      [&](const MutEvent& e) { return e.generation <= partial; })));
}

void add(Sample& s, const Genealogy& g) {
    s.tmrca.push_back(g.tmrca());
    s.length.push_back(branchLength(g));
    s.mutations.push_back(g.MutEventCount());
    const int32_t left = g.childA.back(), right = g.childB.back();
    const int32_t sizeLeft = g.leafHi[left] - g.leafLo[left] + 1;
    const int32_t sizeRight = g.leafHi[right] - g.leafLo[right] + 1;
    s.rootSmaller.push_back(std::min(sizeLeft, sizeRight) + 0.001 * sizeLeft);
    s.firstJ.push_back(g.CoalEvents.front().first);
}

struct Setting {
    int32_t k = 10;
    int32_t n = 500;
    long double p = 0.001L;
    Demography demography;
    double gammaShape = 0; // > 0: gamma rates per generation on a 100-site sequence
    int32_t until = 1;
    MergeRule mergers = MergeRule::One;
};

// `replicates` genealogies of one engine, replicate r on stream r of `seed`.
Sample simulateMany(const Setting& c, bool events, uint64_t seed, int replicates) {
    GenealogySimulator walk;
    EventGenealogySimulator skip;
    walk.mergers = skip.mergers = c.mergers;
    Genealogy g;
    Sample s;
    for (int r = 0; r < replicates; ++r) {
        StreamRandom rng(seed, static_cast<uint32_t>(r + 1));
        MutationProbability mutation;
        mutation.constant = c.p;
        if (c.gammaShape > 0) {
            const double alpha = c.gammaShape;
            const long double u = c.p / 100;
            mutation.perGeneration = [alpha, u](auto& draws) -> long double {
                return gammaSeqMutProb(alpha, u, 100, draws);
            };
            mutation.gamma = {alpha, u, 100}; // the event engine skips by it
        }
        int32_t n = c.n;
        // A genealogy followed down to `until` lineages only ends there.
        struct Enough {};
        const std::function<void()> onMerge = [&] {
            if (c.until > 1 && static_cast<int32_t>(g.CoalEvents.size()) >= c.k - c.until)
                throw Enough{};
        };
        try {
            if (events)
                skip.simulate(g, c.k, n, c.demography, mutation, rng, onMerge);
            else
                walk.simulate(g, c.k, n, c.demography, mutation, rng, onMerge);
            add(s, g);
        } catch (const Enough&) {
        }
        addPartial(s, g, c.until);
    }
    return s;
}

using quenlith::testing::ksDistance;

// The critical distance at the 0.001 level.
double ksCritical(size_t n, size_t m) {
    return 1.95 * std::sqrt(static_cast<double>(n + m) / (static_cast<double>(n) * m));
}

void expectSameDistributions(const Sample& a, const Sample& b, const std::string& what) {
    const double critical = ksCritical(a.tmrca.size(), b.tmrca.size());
    EXPECT_LT(ksDistance(a.tmrca, b.tmrca), critical) << what << ": TMRCA";
    EXPECT_LT(ksDistance(a.length, b.length), critical) << what << ": total length";
    EXPECT_LT(ksDistance(a.mutations, b.mutations), critical) << what << ": mutations";
    EXPECT_LT(ksDistance(a.rootSmaller, b.rootSmaller), critical) << what << ": root subtrees";
    EXPECT_LT(ksDistance(a.firstJ, b.firstJ), critical) << what << ": first merge position";
}

double mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v)
        s += x;
    return s / static_cast<double>(v.size());
}

// The sample variance is within five of its standard errors (from the fourth moment).
void expectVariance(const std::vector<double>& v, double expected, const std::string& what) {
    const double m = mean(v);
    double m2 = 0, m4 = 0;
    for (double x : v) {
        const double d = (x - m) * (x - m);
        m2 += d;
        m4 += d * d;
    }
    m2 /= static_cast<double>(v.size());
    m4 /= static_cast<double>(v.size());
    const double se = std::sqrt(std::max(m4 - m2 * m2, 0.0) / static_cast<double>(v.size()));
    EXPECT_NEAR(m2, expected, 5 * se) << what;
}

} // namespace

// Mean and variance of the TMRCA and of the mutation count against their exact values under
// both merge rules, for population sizes from 2 to 10^9 (beyond any generation walk's reach)
// and samples from 2 to 200; the mutation probability gives about 20 events per genealogy. At
// N = 10^9 the TMRCA often passes the 32-bit generation counter, so the time down to 10 or 20
// lineages is tested there. Where several merges per generation are common (N <= 10) the
// all-mergers rule is markedly faster; at N >= 10^8 the two rules agree.
TEST(EventGenealogy, MomentsAgreeWithTheTheoryOfBothRules) {
    struct Case {
        int32_t k, n, until;
    };
    const Case cases[] = {{2, 2, 1},
                          {5, 2, 1},
                          {3, 3, 1},
                          {12, 10, 1},
                          {30, 100, 1},
                          {60, 1000, 1},
                          {8, 100000, 1},
                          {50, 1000000, 1},
                          {20, 100000000, 1},
                          {50, 1000000000, 10},
                          {200, 1000000000, 20}};
    const int replicates = 3000;
    for (const MergeRule rule : {MergeRule::One, MergeRule::All})
        for (const Case& c : cases) {
            Setting s;
            s.k = c.k;
            s.n = c.n;
            s.until = c.until;
            s.mergers = rule;
            const bool all = rule == MergeRule::All;
            const auto theory = all ? allMergersMoments : exactMoments;
            const Moments plain = theory(c.k, c.n, 1, c.until);
            s.p = 20 / plain.meanT;
            if (s.p > 0.5L) s.p = 0.5L;
            const Moments th = theory(c.k, c.n, s.p, c.until);
            const std::string what =
                "k=" + std::to_string(c.k) + " N=" + std::to_string(c.n) + (all ? " all" : "");
            const long double oneMean = exactMoments(c.k, c.n, s.p, c.until).meanT;
            if (all && c.k > 2 && c.n <= 10) {
                EXPECT_LT(th.meanT, 0.97L * oneMean) << what;
            }
            if (all && c.n >= 100000000) {
                EXPECT_NEAR(static_cast<double>(th.meanT / oneMean), 1, 1e-3) << what;
            }
            const Sample got =
                simulateMany(s, true, 77 + static_cast<uint64_t>(c.n) + all, replicates);
            EXPECT_NEAR(mean(got.partialTime), static_cast<double>(th.meanT),
                        4 * std::sqrt(static_cast<double>(th.varT) / replicates))
                << what;
            expectVariance(got.partialTime, static_cast<double>(th.varT), what + " time variance");
            EXPECT_NEAR(mean(got.partialMutations), static_cast<double>(th.meanM),
                        4 * std::sqrt(static_cast<double>(th.varM) / replicates))
                << what;
            expectVariance(got.partialMutations, static_cast<double>(th.varM),
                           what + " mutation variance");
        }
}

// Two-sample tests against the generation walk on the same kind of stream: the shapes of
// the trees (first merge position, root subtrees), the times and the mutations, with a
// constant size in the conditioned regime (q_a < 1/2) and where repeats are common, a size
// fluctuating in both stagings (DNA and microsatellite), and gamma rates.
TEST(EventGenealogy, DistributionsAgreeWithTheGenerationWalk) {
    const int replicates = 2500;
    std::vector<std::pair<std::string, Setting>> settings;
    Setting rare;
    rare.k = 8;
    rare.n = 400;
    rare.p = 0.002L;
    settings.emplace_back("rare repeats", rare);
    Setting common;
    common.k = 30;
    common.n = 40;
    common.p = 0.05L;
    settings.emplace_back("common repeats", common);
    Setting growing;
    growing.k = 10;
    growing.n = 100;
    growing.p = 0.003L;
    growing.demography.fluctuating = true;
    growing.demography.growthStart = 20;
    growing.demography.growthEnd = 400;
    growing.demography.changePercent = 1;
    settings.emplace_back("growing size, DNA staging", growing);
    Setting shrinking = growing;
    shrinking.n = 3000;
    shrinking.demography.changePercent = -0.8;
    shrinking.demography.singleExpression = true;
    settings.emplace_back("shrinking size, microsatellite staging", shrinking);
    Setting gamma;
    gamma.k = 9;
    gamma.n = 300;
    gamma.p = 0.004L;
    gamma.gammaShape = 0.5;
    settings.emplace_back("gamma rates", gamma);
    Setting gammaGrowing = growing;
    gammaGrowing.k = 12;
    gammaGrowing.p = 0.01L;
    gammaGrowing.gammaShape = 2.5;
    settings.emplace_back("gamma rates of shape 2.5, growing size", gammaGrowing);
    // Every set on one parent merging: several sets in a generation, and a size fluctuating
    // in both stagings.
    for (size_t i : {1, 2, 3}) {
        Setting all = settings[i].second;
        all.mergers = MergeRule::All;
        all.n = i == 3 ? 300 : 30; // shrinking towards 15 copies
        settings.emplace_back(settings[i].first + ", all mergers", all);
    }
    for (const auto& [what, setting] : settings) {
        const Sample events = simulateMany(setting, true, 500, replicates);
        const Sample walk = simulateMany(setting, false, 600, replicates);
        expectSameDistributions(events, walk, what);
    }
    // The tests see a real difference: the walk at 20 % more copies.
    Setting larger = rare;
    larger.n = 480;
    const Sample events = simulateMany(rare, true, 500, 4 * replicates);
    const Sample walk = simulateMany(larger, false, 600, 4 * replicates);
    EXPECT_GT(ksDistance(events.tmrca, walk.tmrca),
              ksCritical(events.tmrca.size(), walk.tmrca.size()));
}

// Every genealogy is a proper one: the tree is the one CoalEvents give, events stay within
// the lineages of their generation, at most a per generation, in generation order, and each
// mutation's node is the lineage at its position before that generation's merge.
TEST(EventGenealogy, TablesTreeAndMutationNodesAgree) {
    EventGenealogySimulator sim;
    Genealogy g;
    int withSameGenerationMutation = 0;
    for (uint32_t r = 0; r < 400; ++r) {
        StreamRandom rng(9, r);
        const int32_t k = 2 + static_cast<int32_t>(r % 40);
        int32_t n = 1 + static_cast<int32_t>(rng.Random(r % 3 == 0 ? 30 : 5000));
        MutationProbability mutation;
        mutation.constant = r % 7 == 0 ? 1.0L : 0.02L;
        Demography d;
        d.fluctuating = r % 5 == 0;
        d.growthEnd = 60;
        d.changePercent = 3;
        sim.simulate(g, k, n, d, mutation, rng, nullptr);
        ASSERT_EQ(g.CoalEvents.size(), static_cast<size_t>(k - 1));
        ASSERT_EQ(g.Generation, g.tmrca());
        Genealogy rebuilt = g;
        rebuilt.rebuildTree();
        ASSERT_EQ(rebuilt.childA, g.childA);
        ASSERT_EQ(rebuilt.childB, g.childB);
        ASSERT_EQ(rebuilt.leafLo, g.leafLo);
        ASSERT_EQ(rebuilt.leafHi, g.leafHi);
        ASSERT_EQ(g.mutationNodes.size(), g.MutEvents.size());
        LineageOrder order;
        order.reset(k);
        size_t merged = 0;
        int32_t lastGeneration = 0;
        std::map<int32_t, int32_t> perGeneration;
        for (size_t m = 0; m < g.MutEvents.size(); ++m) {
            const MutEvent& e = g.MutEvents[m];
            ASSERT_GE(e.generation, std::max(lastGeneration, 1));
            ASSERT_LE(e.generation, g.tmrca());
            lastGeneration = e.generation;
            // The merges of earlier generations only.
            while (merged < g.CoalEvents.size() && g.CoalEvents[merged].generation < e.generation) {
                order.merge(g.CoalEvents[merged].first, k + static_cast<int32_t>(merged));
                ++merged;
            }
            const int32_t lineages = k - static_cast<int32_t>(merged);
            ASSERT_LT(e.position, lineages);
            ASSERT_LE(++perGeneration[e.generation], lineages);
            ASSERT_EQ(g.mutationNodes[m], order.nodeAt(e.position));
            if (merged < g.CoalEvents.size() && g.CoalEvents[merged].generation == e.generation)
                ++withSameGenerationMutation;
        }
        if (mutation.constant == 1.0L) {
            // Every slot mutates: a events in every generation.
            int64_t expected = 0;
            int32_t previous = 0;
            for (size_t e = 0; e < g.CoalEvents.size(); ++e) {
                expected +=
                    int64_t{g.CoalEvents[e].generation - previous} * (k - static_cast<int32_t>(e));
                previous = g.CoalEvents[e].generation;
            }
            EXPECT_EQ(g.MutEventCount(), expected);
        }
    }
    // Mutations in a generation that merges were seen, so their positions were checked.
    EXPECT_GT(withSameGenerationMutation, 50);
}

// One copy (or none): every lineage draws parent 0, so the merges are j = 0 in generations
// 1 .. k - 1, as in the walk; and the fluctuating size ends where the walk's ends.
TEST(EventGenealogy, SmallPopulationsAndTheSizeAtTheEnd) {
    EventGenealogySimulator sim;
    GenealogySimulator walk;
    Genealogy g, w;
    for (int32_t start : {0, 1}) {
        StreamRandom rng(1, 1), rng2(1, 2);
        int32_t n = start, m = start;
        sim.simulate(g, 6, n, Demography{}, MutationProbability{}, rng, nullptr);
        walk.simulate(w, 6, m, Demography{}, MutationProbability{}, rng2, nullptr);
        for (int e = 0; e < 5; ++e) {
            EXPECT_EQ(g.CoalEvents[e].generation, e + 1);
            EXPECT_EQ(g.CoalEvents[e].first, 0);
            EXPECT_EQ(g.CoalEvents[e].generation, w.CoalEvents[e].generation);
        }
    }
    // The size after a genealogy is the size of its last generation.
    Demography d;
    d.fluctuating = true;
    d.growthStart = 3;
    d.growthEnd = 1000000;
    d.changePercent = -0.2; // down by 1 a generation below 500 copies, to 0
    for (uint32_t r = 0; r < 50; ++r) {
        StreamRandom rng(4, r);
        int32_t n = 1000;
        sim.simulate(g, 5, n, d, MutationProbability{}, rng, nullptr);
        int32_t expected = 1000;
        for (int32_t c = 0; c < g.tmrca(); ++c)
            if (d.growthStart < c && c < d.growthEnd)
                expected = fluctuatedSize(expected, -0.2, false);
        EXPECT_EQ(n, expected);
    }
}

// The generation limit stops the run with the walk's error, and a set stop flag stops it.
TEST(EventGenealogy, GenerationLimitAndStopFlag) {
    for (const bool perGeneration : {false, true}) {
        EventGenealogySimulator sim;
        GenealogySimulator walk;
        sim.lastGeneration = walk.lastGeneration = 40;
        Genealogy g;
        MutationProbability mutation;
        mutation.constant = 0.01L;
        StreamRandom rng(3, 3), rng2(3, 4);
        if (perGeneration) mutation.perGeneration = [](auto&) { return 0.01L; };
        std::string eventsError, walkError;
        try {
            int32_t n = 100000000;
            sim.simulate(g, 5, n, Demography{}, mutation, rng, nullptr);
        } catch (const RunError& e) {
            eventsError = e.text() + ": " + e.detail();
        }
        try {
            int32_t n = 100000000;
            walk.simulate(g, 5, n, Demography{}, mutation, rng2, nullptr);
        } catch (const RunError& e) {
            walkError = e.text() + ": " + e.detail();
        }
        EXPECT_EQ(eventsError, walkError);
        EXPECT_EQ(eventsError.rfind("Range check error: the genealogy passed generation 40", 0), 0u)
            << eventsError;
        // Within the limit nothing is refused: N = 1 ends at generation k - 1 = 40.
        sim.lastGeneration = 40;
        int32_t one = 1;
        sim.simulate(g, 41, one, Demography{}, mutation, rng, nullptr);
        EXPECT_EQ(g.tmrca(), 40);
        std::atomic<bool> stop{true};
        int32_t n = 1000;
        EXPECT_THROW(sim.simulate(g, 5, n, Demography{}, mutation, rng, nullptr, &stop),
                     RunStopped);
    }
}

namespace {

// The 0.9995 quantile of chi-square with df degrees of freedom (Wilson-Hilferty).
double chiSquareCritical(int df) {
    const double z = 3.29, v = 2.0 / (9.0 * df);
    return df * std::pow(1 - v + z * std::sqrt(v), 3);
}

} // namespace

// The generation that ends a stretch has the law of a generation of the walk given that it
// holds a repeat: against the exact law by enumeration of every draw (N^a tuples), on the
// merge position j, the number of distinct parents and the smallest repeated parent together.
TEST(EventGenealogy, RepeatingGenerationHasTheConditionalLaw) {
    struct Case {
        int32_t a, n;
    };
    for (const Case c : {Case{2, 9}, Case{4, 10}, Case{5, 8}, Case{6, 12}}) {
        const auto category = [&](const std::vector<uint32_t>& v) {
            std::vector<uint32_t> sorted = v;
            std::sort(sorted.begin(), sorted.end());
            int32_t j = -1, distinct = 1;
            for (size_t i = 0; i + 1 < sorted.size(); ++i) {
                if (sorted[i] == sorted[i + 1] && j < 0) j = static_cast<int32_t>(i);
                distinct += sorted[i] != sorted[i + 1];
            }
            const int32_t smallest = j < 0 ? -1 : static_cast<int32_t>(sorted[j]);
            return (j * 16 + distinct) * 16 + smallest;
        };
        std::map<int32_t, double> exact;
        double repeating = 0;
        std::vector<uint32_t> v(static_cast<size_t>(c.a), 0);
        for (int64_t t = 0; t < static_cast<int64_t>(std::pow(c.n, c.a)); ++t) {
            int64_t x = t;
            for (int32_t i = 0; i < c.a; ++i, x /= c.n)
                v[static_cast<size_t>(i)] = static_cast<uint32_t>(x % c.n);
            const int32_t cat = category(v);
            if (cat < 0) continue; // all distinct
            exact[cat] += 1;
            repeating += 1;
        }
        EXPECT_NEAR(repeating / std::pow(c.n, c.a),
                    static_cast<double>(EventGenealogySimulator::repeatProbability(c.a, c.n)),
                    1e-15);
        const int draws = 40000;
        std::map<int32_t, double> seen;
        EventGenealogySimulator sim;
        StreamRandom rng(21, static_cast<uint32_t>(c.a * 100 + c.n));
        for (int d = 0; d < draws; ++d)
            seen[category(sim.repeatingGeneration(rng, c.a, c.n))] += 1;
        // Cells expected below 5 pooled into one.
        double chi = 0, pooledExpected = 0, pooledSeen = 0;
        int cells = 0;
        for (const auto& [cat, count] : exact) {
            const double expected = count / repeating * draws;
            const double got = seen.count(cat) ? seen[cat] : 0;
            if (expected < 5) {
                pooledExpected += expected;
                pooledSeen += got;
                continue;
            }
            chi += (got - expected) * (got - expected) / expected;
            ++cells;
        }
        if (pooledExpected > 0) {
            chi += (pooledSeen - pooledExpected) * (pooledSeen - pooledExpected) / pooledExpected;
            ++cells;
        }
        for (const auto& [cat, count] : seen)
            ASSERT_TRUE(exact.count(cat)) << "a category of no repeat: " << cat;
        EXPECT_LT(chi, chiSquareCritical(std::max(cells - 1, 1)))
            << "a=" << c.a << " N=" << c.n << " cells=" << cells;
    }
}
