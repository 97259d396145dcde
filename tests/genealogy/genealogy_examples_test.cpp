// Worked examples of one genealogy: N = 1, the label rows, the Newick lines, and the
// equivalence of the node tree with the text labels that describe the same genealogy.
#include "genealogy/genealogy.h"
#include "output/newick.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace quenlith;

namespace {

Genealogy fromEvents(int32_t k, std::vector<CoalEvent> events) {
    Genealogy g;
    g.SampleSize = k;
    g.CoalEvents = std::move(events);
    g.Generation = g.tmrca();
    g.rebuildTree();
    return g;
}

std::string newick(const Genealogy& g) {
    std::string line;
    appendNewickLine(GeneTree(g), line);
    return line;
}

// The text labels: row e lists the labels of the lineages after e events, each merge
// written "(" A "," B "):" generation.
std::vector<std::vector<std::string>> labelRows(const Genealogy& g) {
    const int32_t k = g.SampleSize;
    std::vector<std::vector<std::string>> rows(1);
    for (int32_t i = 0; i < k; ++i)
        rows[0].push_back(std::to_string(i));
    for (const CoalEvent& e : g.CoalEvents) {
        std::vector<std::string> next = rows.back();
        next[e.first] =
            "(" + next[e.first] + "," + next[e.second] + "):" + std::to_string(e.generation);
        next.erase(next.begin() + e.second);
        rows.push_back(next);
    }
    return rows;
}

// Leaves of a label: runs of characters other than ( ) , : that do not follow a ":".
std::vector<int> leavesOf(const std::string& label) {
    std::vector<int> leaves;
    size_t i = 0;
    while (i < label.size()) {
        const char c = label[i];
        if (c == '(' || c == ')' || c == ',' || c == ':') {
            ++i;
            if (c == ':')
                while (i < label.size() && std::isdigit(static_cast<unsigned char>(label[i])))
                    ++i;
            continue;
        }
        size_t j = i;
        while (j < label.size() && std::string("(),:").find(label[j]) == std::string::npos)
            ++j;
        leaves.push_back(std::stoi(label.substr(i, j - i)));
        i = j;
    }
    return leaves;
}

} // namespace

TEST(GenealogyExamples, PopulationOfOneMergesEveryGeneration) {
    RunRandom rng(99);
    GenealogySimulator sim;
    Genealogy g;
    int32_t n = 1;
    int coalescences = 0;
    sim.simulate(g, 4, n, Demography{}, MutationProbability{}, rng, [&] { ++coalescences; });
    ASSERT_EQ(g.CoalEvents.size(), 3u);
    for (int e = 0; e < 3; ++e) {
        EXPECT_EQ(g.CoalEvents[e].generation, e + 1);
        EXPECT_EQ(g.CoalEvents[e].first, 0);
        EXPECT_EQ(g.CoalEvents[e].second, 1);
    }
    EXPECT_EQ(coalescences, 3);
    EXPECT_EQ(g.tmrca(), 3);
    EXPECT_EQ(labelRows(g).back()[0], "(((0,1):1,2):2,3):3");
    EXPECT_EQ(newick(g), "(((0:1,1:1):1,2:2):1,3:3);\r\n");

    // N = 0 draws Random(0) = 0 for everyone: the same genealogy.
    int32_t zero = 0;
    sim.simulate(g, 4, zero, Demography{}, MutationProbability{}, rng, nullptr);
    EXPECT_EQ(newick(g), "(((0:1,1:1):1,2:2):1,3:3);\r\n");
}

TEST(GenealogyExamples, NewickLines) {
    EXPECT_EQ(newick(fromEvents(2, {{7, 0, 1}})), "(0:7,1:7);\r\n");
    const Genealogy three = fromEvents(3, {{5, 1, 2}, {12, 0, 1}});
    EXPECT_EQ(labelRows(three)[1][1], "(1,2):5");
    EXPECT_EQ(labelRows(three)[2][0], "(0,(1,2):5):12");
    EXPECT_EQ(newick(three), "(0:12,(1:5,2:5):7);\r\n");
    EXPECT_EQ(newick(fromEvents(4, {{3, 0, 1}, {4, 1, 2}, {10, 0, 1}})),
              "((0:3,1:3):7,(2:4,3:4):6);\r\n");
    // Multi-digit leaves, and internal children on both sides of the root.
    EXPECT_EQ(newick(fromEvents(12, {{1, 10, 11},
                                     {2, 9, 10},
                                     {3, 0, 1},
                                     {4, 0, 1},
                                     {5, 0, 1},
                                     {6, 0, 1},
                                     {7, 0, 1},
                                     {8, 0, 1},
                                     {9, 0, 1},
                                     {10, 0, 1},
                                     {11, 0, 1}})),
              "(((((((((0:3,1:3):1,2:4):1,3:5):1,4:6):1,5:7):1,6:8):1,7:9):1,8:10):1,"
              "(9:2,(10:1,11:1):1):9);\r\n");
}

// Each mutation's lineage, found through the label rows (the row of the events of earlier
// generations, the label at the mutation's position), covers exactly the sample copies of
// the node the simulation attached it to; its first leaf is the lowest copy.
TEST(GenealogyExamples, NodeRangesMatchTheLabels) {
    RunRandom rng(2024);
    GenealogySimulator sim;
    Genealogy g;
    MutationProbability mutation;
    mutation.constant = 0.002L;
    for (int rep = 0; rep < 30; ++rep) {
        const int32_t k = 3 + rep * 2;
        int32_t n = 300;
        sim.simulate(g, k, n, Demography{}, mutation, rng, nullptr);
        const auto rows = labelRows(g);
        ASSERT_EQ(g.mutationNodes.size(), g.MutEvents.size());
        for (size_t m = 0; m < g.MutEvents.size(); ++m) {
            const MutEvent& ev = g.MutEvents[m];
            size_t e = 0;
            while (e < g.CoalEvents.size() && g.CoalEvents[e].generation < ev.generation)
                ++e;
            const std::string& label = rows[e][ev.position];
            const std::vector<int> leaves = leavesOf(label);
            const int32_t node = g.mutationNodes[m];
            ASSERT_EQ(leaves.front(), g.leafLo[node]) << label;
            ASSERT_EQ(static_cast<int>(leaves.size()), g.leafHi[node] - g.leafLo[node] + 1);
            for (size_t i = 0; i < leaves.size(); ++i)
                ASSERT_EQ(leaves[i], g.leafLo[node] + static_cast<int>(i)) << label;
        }
    }
}

TEST(GenealogyExamples, FluctuatingSize) {
    EXPECT_EQ(fluctuatedSize(100, 0.1, false), 100);
    EXPECT_EQ(fluctuatedSize(10000, 0.1, false), 10010);
    EXPECT_EQ(fluctuatedSize(10010, 0.1, false), 10020);
    EXPECT_EQ(fluctuatedSize(1, -0.1, false), 0);
    EXPECT_EQ(fluctuatedSize(0, 5, false), 0);
    EXPECT_EQ(fluctuatedSize(2000000000, 50, false), 2147483647);
    EXPECT_EQ(fluctuatedSize(2147483647, 0.1, true), 2147483647);
    EXPECT_EQ(fluctuatedSize(10000, 0.1, true), 10010);

    // Inside the window 0 < generation < 500 the size changes before generations 2..500.
    Demography d;
    d.fluctuating = true;
    d.growthStart = 0;
    d.growthEnd = 500;
    d.changePercent = 0.1;
    RunRandom rng(1);
    GenealogySimulator sim;
    Genealogy g;
    int32_t n = 1; // merges every generation: k - 1 generations
    sim.simulate(g, 4, n, d, MutationProbability{}, rng, nullptr);
    EXPECT_EQ(n, 1); // Trunc(1.001) = 1
    int32_t big = 10000;
    int32_t expected = 10000;
    sim.simulate(g, 2, big, d, MutationProbability{}, rng, nullptr);
    for (int gen = 1; gen < std::min(g.tmrca(), 500); ++gen)
        expected = fluctuatedSize(expected, 0.1, false);
    EXPECT_EQ(big, expected);
    // No generation qualifies when the window is empty.
    d.growthStart = 10;
    d.growthEnd = 11;
    int32_t fixed = 10000;
    sim.simulate(g, 2, fixed, d, MutationProbability{}, rng, nullptr);
    EXPECT_EQ(fixed, 10000);
}

// Generations with ties: three lineages on one parent give one event; of two ties the one
// of the smaller parent value merges. Checked against a sort of the same draws.
TEST(GenealogyExamples, FirstTieOfTheSmallestRepeatedParent) {
    for (uint32_t seed = 1; seed < 400; ++seed) {
        RunRandom rng(seed), replay(seed);
        GenealogySimulator sim;
        Genealogy g;
        int32_t n = 12; // many ties
        const int32_t k = 8;
        sim.simulate(g, k, n, Demography{}, MutationProbability{}, rng, nullptr);
        // Replay the draws: every generation draws a parents then one RandomFloat.
        int32_t a = k;
        size_t e = 0;
        for (int32_t gen = 1; gen <= g.tmrca(); ++gen) {
            std::vector<int32_t> draws(a);
            for (auto& v : draws)
                v = replay.Random(n);
            replay.RandomFloat();
            std::sort(draws.begin(), draws.end());
            int32_t j = -1;
            for (int32_t i = 0; i + 1 < a; ++i)
                if (draws[i] == draws[i + 1]) {
                    j = i;
                    break;
                }
            if (j >= 0) {
                ASSERT_LT(e, g.CoalEvents.size());
                ASSERT_EQ(g.CoalEvents[e].generation, gen);
                ASSERT_EQ(g.CoalEvents[e].first, j);
                ++e;
                --a;
            }
        }
        ASSERT_EQ(e, g.CoalEvents.size());
    }
}
