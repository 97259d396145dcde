// The drawing of simulated genealogies: labels never overlap and are left out only for an
// overlap, large samples keep their shape against a plain real-valued layout, and the exact
// expectations of the plots against enumeration and the simulator.
#include "app/genealogy_browser.h"
#include "app/genealogy_drawing.h"
#include "app/run_theory.h"
#include "base/random.h"
#include "genealogy/gene_tree.h"
#include "genealogy/genealogy.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <tuple>

using namespace quenlith;

namespace {

Genealogy simulate(int32_t k, int32_t popSize, long double mutation, uint32_t seed) {
    GenealogySimulator simulator;
    Genealogy g;
    MutationProbability p;
    p.constant = mutation;
    RunRandom rng(seed);
    simulator.simulate(g, k, popSize, Demography{}, p, rng, [] {});
    return g;
}

Drawing drawOf(const Genealogy& g, int32_t k, int32_t popSize) {
    EXPECT_EQ(g.SampleSize, k);
    Drawing d;
    drawGenealogy(pictureOf(g, popSize, true), d);
    return d;
}

} // namespace

// Every label drawn keeps clear of every other of its column, and a label is missing only
// where it would overlap one drawn before it.
TEST(GenealogyDrawingShape, LabelsNeverOverlapAndAreLeftOutOnlyForAnOverlap) {
    uint32_t seed = 1;
    for (int32_t k : {4, 12, 50, 200}) {
        for (int32_t n : {50, 1000, 10000}) {
            for (int rep = 0; rep < 6; ++rep) {
                const Genealogy g = simulate(k, n, 0.002L, seed++);
                const Drawing d = drawOf(g, k, n);
                const VerticalScale scale{n, g.CoalEvents.back().generation};
                for (uint32_t colour : {kBlue, kRed}) {
                    std::vector<int32_t> shown;
                    std::map<int32_t, int> shownAt;
                    for (const DrawText& t : d.texts)
                        if (t.colour == colour) shown.push_back(t.y);
                    for (size_t i = 0; i < shown.size(); ++i)
                        for (size_t j = i + 1; j < shown.size(); ++j)
                            ASSERT_GE(std::abs(shown[i] - shown[j]), kLabelSpacing)
                                << "k " << k << " N " << n;
                    // Walk the wanted labels in drawing order: each is shown or overlaps one
                    // shown before it.
                    std::vector<int32_t> wanted;
                    if (colour == kBlue)
                        for (const CoalEvent& c : g.CoalEvents)
                            wanted.push_back(scale.y(c.generation) - 10);
                    else
                        for (const MutEvent& m : g.MutEvents)
                            wanted.push_back(scale.y(m.generation) - 10);
                    size_t next = 0;
                    std::vector<int32_t> before;
                    for (int32_t y : wanted) {
                        bool overlaps = false;
                        for (int32_t b : before)
                            overlaps = overlaps || std::abs(b - y) < kLabelSpacing;
                        if (overlaps) continue;
                        ASSERT_LT(next, shown.size());
                        EXPECT_EQ(shown[next++], y);
                        before.push_back(y);
                    }
                    EXPECT_EQ(next, shown.size());
                }
            }
        }
    }
}

// Above 500 tips every tip, bar and vertical stands within a pixel of the layout computed in
// real numbers (tips at 20 + (j + 1) * 500 / k, a merged lineage midway between its two),
// with one vertical per lineage, and no root is cut off.
TEST(GenealogyDrawingShape, ManyTipsKeepTheTreeShape) {
    for (int32_t k : {501, 1000, 5000}) {
        const int32_t n = 20000;
        const Genealogy g = simulate(k, n, 0, 77u + static_cast<uint32_t>(k));
        const Drawing d = drawOf(g, k, n);
        EXPECT_EQ(d.lines.size(), static_cast<size_t>(3 * (k - 1))) << k;

        std::vector<double> xs(static_cast<size_t>(k));
        for (int32_t j = 0; j < k; ++j)
            xs[static_cast<size_t>(j)] = 20 + (j + 1) * 500.0 / k;
        // Each event draws the verticals of its two lineages, then its bar.
        std::vector<DrawLine> bars;
        for (size_t i = 2; i < d.lines.size(); i += 3)
            bars.push_back(d.lines[i]);
        ASSERT_EQ(bars.size(), static_cast<size_t>(k - 1));
        const VerticalScale scale{n, g.CoalEvents.back().generation};
        for (size_t e = 0; e < g.CoalEvents.size(); ++e) {
            const size_t j = static_cast<size_t>(g.CoalEvents[e].first);
            EXPECT_NEAR(bars[e].x1, xs[j], 1.0) << "event " << e;
            EXPECT_NEAR(bars[e].x2, xs[j + 1], 1.0) << "event " << e;
            EXPECT_EQ(bars[e].y1, scale.y(g.CoalEvents[e].generation));
            xs[j] = (xs[j] + xs[j + 1]) / 2;
            xs.erase(xs.begin() + static_cast<std::ptrdiff_t>(j) + 1);
        }
        EXPECT_GE(bars.back().y1, 0);
        // The tips spread over the 500 pixels: the outermost bars are far apart.
        int32_t lo = 1000, hi = 0;
        for (const DrawLine& l : d.lines)
            lo = std::min(lo, l.x1), hi = std::max(hi, l.x2);
        EXPECT_LE(lo, 21);
        EXPECT_GE(hi, 519);
    }
}

// A tree whose children stand in any order is drawn along its own walk: every bar joins the
// places of its two children and every mutation is a tick on its node, as a plain recursive
// layout puts them (tips 500 / k apart in walk order, each node midway between its children).
TEST(GenealogyDrawingShape, ATreeInAnyOrderIsDrawnAlongItsWalk) {
    std::mt19937_64 random(5);
    uint32_t seed = 900;
    for (int32_t k : {2, 3, 9, 40, 150}) {
        for (int rep = 0; rep < 8; ++rep) {
            const int32_t n = 500;
            GenealogyPicture picture;
            picture.tree.assign(simulate(k, n, 0.004L, seed++));
            picture.popSize = n;
            GeneTree& t = picture.tree;
            for (size_t e = 0; e < t.left.size(); ++e)
                if (random() % 2) std::swap(t.left[e], t.right[e]);
            t.rebuildWalk();
            ASSERT_EQ(treeFault(t), "");
            Drawing d;
            drawGenealogy(picture, d);

            std::vector<int32_t> x(static_cast<size_t>(t.nodeCount()));
            for (int32_t j = 0; j < k; ++j)
                x[static_cast<size_t>(t.walk[static_cast<size_t>(j)])] = 20 + (j + 1) * (500 / k);
            const VerticalScale scale{n, t.time.back()};
            std::multiset<std::tuple<int32_t, int32_t, int32_t>> bars, ticks, drawnBars, drawnTicks;
            for (size_t e = 0; e < t.left.size(); ++e) {
                const auto a = static_cast<size_t>(t.left[e]), b = static_cast<size_t>(t.right[e]);
                x[static_cast<size_t>(k) + e] = x[a] + (x[b] - x[a]) / 2;
                bars.insert({x[a], x[b], scale.y(t.time[static_cast<size_t>(k) + e])});
            }
            for (size_t m = 0; m < t.mutationNode.size(); ++m)
                ticks.insert({x[static_cast<size_t>(t.mutationNode[m])] - 4,
                              x[static_cast<size_t>(t.mutationNode[m])] + 4,
                              scale.y(t.mutationTime[m])});
            for (const DrawLine& l : d.lines) {
                if (l.y1 != l.y2 || l.x1 == l.x2) continue; // no vertical, even of length 0
                (l.colour == kRed ? drawnTicks : drawnBars).insert({l.x1, l.x2, l.y1});
            }
            EXPECT_EQ(drawnBars, bars) << "k " << k << " rep " << rep;
            EXPECT_EQ(drawnTicks, ticks) << "k " << k << " rep " << rep;
        }
    }
}

// The probability that a draws among N parents repeat one, against counting all N^a draws.
TEST(RunTheory, CoalescenceProbabilityAgainstEnumeration) {
    for (int64_t n : {1, 2, 3, 5, 7}) {
        for (int64_t a = 2; a <= 6; ++a) {
            int64_t total = 1;
            for (int64_t i = 0; i < a; ++i)
                total *= n;
            int64_t repeats = 0;
            for (int64_t code = 0; code < total; ++code) {
                std::vector<bool> seen(static_cast<size_t>(n));
                bool repeat = false;
                for (int64_t c = code, i = 0; i < a; ++i, c /= n) {
                    repeat = repeat || seen[static_cast<size_t>(c % n)];
                    seen[static_cast<size_t>(c % n)] = true;
                }
                repeats += repeat;
            }
            EXPECT_NEAR(coalescenceProbability(a, n), double(repeats) / double(total), 1e-15)
                << "a " << a << " N " << n;
        }
    }
    EXPECT_EQ(coalescenceProbability(1, 10), 0.0);
    EXPECT_DOUBLE_EQ(expectedWaitingTime(2, 10000), 10000.0);
    EXPECT_DOUBLE_EQ(expectedTmrca(2, 50), 50.0);
    EXPECT_DOUBLE_EQ(expectedTmrca(3, 50), 50.0 + 1.0 / (1 - 49.0 * 48.0 / 2500.0));
}

// The generation loop's mean times and mutation counts agree with the exact expectations
// (within four standard errors over 4000 genealogies).
TEST(RunTheory, SimulatedMeansAgreeWithTheExpectations) {
    const int32_t k = 6, n = 40, reps = 4000;
    const double p = 0.01;
    std::vector<double> sum(k + 1), sumSq(k + 1);
    double tSum = 0, tSq = 0, mSum = 0, mSq = 0;
    for (int32_t r = 0; r < reps; ++r) {
        const Genealogy g = simulate(k, n, p, 1000u + static_cast<uint32_t>(r));
        int32_t previous = 0;
        for (int32_t e = 0; e < k - 1; ++e) {
            const double w = g.CoalEvents[static_cast<size_t>(e)].generation - previous;
            previous = g.CoalEvents[static_cast<size_t>(e)].generation;
            sum[static_cast<size_t>(k - e)] += w;
            sumSq[static_cast<size_t>(k - e)] += w * w;
        }
        tSum += previous, tSq += double(previous) * previous;
        const double m = static_cast<double>(g.MutEvents.size());
        mSum += m, mSq += m * m;
    }
    auto within = [reps](double s, double sq, double expected, const char* what) {
        const double mean = s / reps;
        const double se = std::sqrt((sq / reps - mean * mean) / reps);
        EXPECT_NEAR(mean, expected, 4 * se) << what;
    };
    for (int32_t a = 2; a <= k; ++a)
        within(sum[static_cast<size_t>(a)], sumSq[static_cast<size_t>(a)],
               expectedWaitingTime(a, n), "waiting time");
    within(tSum, tSq, expectedTmrca(k, n), "TMRCA");
    within(mSum, mSq, expectedMutationEvents(k, n, p), "mutation events");
}

TEST(RunTheory, HistogramCoversEveryValueOnce) {
    const std::vector<int32_t> values = {5, 7, 7, 9, 100, 5, 64};
    const Histogram h = makeHistogram(values, 10);
    EXPECT_EQ(h.start, 5);
    EXPECT_EQ(h.width, 10);
    int64_t total = 0;
    for (int64_t c : h.counts)
        total += c;
    EXPECT_EQ(total, 7);
    EXPECT_EQ(h.counts.front(), 5);
    EXPECT_EQ(h.counts.back(), 1);
    EXPECT_LE(h.start + static_cast<int64_t>(h.counts.size()) * h.width, 5 + 100);
    EXPECT_TRUE(makeHistogram({}, 10).counts.empty());
    EXPECT_DOUBLE_EQ(meanOf(values), 197.0 / 7);
}

// The exact TMRCA distribution: geometric for two tips, and for more tips a distribution
// whose total and mean match, and whose distribution function the simulator follows.
TEST(RunTheory, TmrcaDistributionAgainstClosedFormAndSimulator) {
    const std::vector<double> two = tmrcaDistribution(2, 50, 400);
    ASSERT_EQ(two.size(), 401u);
    EXPECT_EQ(two[0], 0.0);
    for (int t = 1; t <= 400; ++t)
        EXPECT_NEAR(two[static_cast<size_t>(t)], 0.02 * std::pow(0.98, t - 1), 1e-15) << t;

    const int32_t k = 5, n = 30, reps = 4000;
    const std::vector<double> pmf = tmrcaDistribution(k, n, 3000);
    double total = 0, mean = 0;
    for (size_t t = 0; t < pmf.size(); ++t)
        total += pmf[t], mean += static_cast<double>(t) * pmf[t];
    EXPECT_NEAR(total, 1.0, 1e-12);
    EXPECT_NEAR(mean, expectedTmrca(k, n), 1e-9);
    EXPECT_EQ(pmf[3], 0.0); // four merges take at least four generations
    EXPECT_GT(pmf[4], 0.0);

    std::vector<int32_t> tmrcas;
    for (int32_t r = 0; r < reps; ++r)
        tmrcas.push_back(
            simulate(k, n, 0, 5000u + static_cast<uint32_t>(r)).CoalEvents.back().generation);
    for (int32_t at : {20, 40, 60, 100, 160}) {
        double exact = 0;
        for (int32_t t = 0; t <= at; ++t)
            exact += pmf[static_cast<size_t>(t)];
        const double seen =
            static_cast<double>(
                std::count_if(tmrcas.begin(), tmrcas.end(), [at](int32_t t) { return t <= at; })) /
            reps;
        EXPECT_NEAR(seen, exact, 4 * std::sqrt(exact * (1 - exact) / reps) + 1e-9) << at;
    }
    EXPECT_TRUE(tmrcaDistribution(5000, 10000, 1000000).empty()); // too large to compute
}

// The probabilities computed together agree with each one computed alone.
TEST(RunTheory, ProbabilitiesTogetherAndAlone) {
    for (int64_t n : {1, 2, 7, 100, 10000}) {
        const std::vector<double> all = coalescenceProbabilities(60, n);
        ASSERT_EQ(all.size(), 61u);
        for (int64_t a = 2; a <= 60; ++a)
            EXPECT_NEAR(all[static_cast<size_t>(a)], coalescenceProbability(a, n), 1e-15)
                << a << " " << n;
    }
}
