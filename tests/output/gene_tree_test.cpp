// The genealogy as a tree: the Newick writer, the substitution step and the allele models
// read from it give the bytes of plain range-based versions (kept here) over many random
// genealogies of every engine, both merge rules and a demographic model; leaves renumbered
// at random are written at their rows; trees numbered in any order are written correctly;
// the tree checker passes sound trees and reports each kind of damage.
#include "dna/substitution.h"
#include "genealogy/event_genealogy.h"
#include "genealogy/gene_tree.h"
#include "genealogy/genealogy_check.h"
#include "genealogy/structured_genealogy.h"
#include "msat/allele_models.h"
#include "output/newick.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace quenlith;

namespace {

// A plain recursive Newick writer on the genealogy's children and event generations: leaf i
// named names[i]; a child merged in its parent's generation is listed among its parent's.
void plainNewick(const Genealogy& g, int32_t node, int32_t parentGeneration,
                 const std::vector<std::string>& names, bool flat, std::string& out) {
    const int32_t k = g.SampleSize;
    if (node < k) {
        out += names[static_cast<size_t>(node)] + ":" + std::to_string(parentGeneration);
        return;
    }
    const auto e = static_cast<size_t>(node - k);
    const int32_t generation = g.CoalEvents[e].generation;
    const auto isFlat = [&](int32_t child) {
        return child >= k && g.CoalEvents[static_cast<size_t>(child - k)].generation == generation;
    };
    if (!flat) out += '(';
    plainNewick(g, g.childA[e], generation, names, isFlat(g.childA[e]), out);
    out += ',';
    plainNewick(g, g.childB[e], generation, names, isFlat(g.childB[e]), out);
    if (flat) return;
    out += ')';
    if (parentGeneration >= 0) out += ":" + std::to_string(parentGeneration - generation);
}

std::string plainNewick(const Genealogy& g, const std::vector<std::string>& names) {
    std::string out;
    if (g.SampleSize == 1) out = names[0];
    if (g.SampleSize > 1)
        plainNewick(g, g.SampleSize + static_cast<int32_t>(g.CoalEvents.size()) - 1, -1, names,
                    false, out);
    return out + ";";
}

// The range-based scatter: leaf c of g in row rowOf[c].
void plainScatter(const Genealogy& g, SampleSequences& seqs, const BaseChanger& model,
                  RunRandom& rng, const std::vector<int32_t>& rowOf) {
    for (size_t m = g.MutEvents.size(); m-- > 0;) {
        const auto node = static_cast<size_t>(g.mutationNodes[m]);
        const int32_t lo = g.leafLo[node], hi = g.leafHi[node];
        const int32_t site = rng.Random(seqs.length);
        const char next = model.change(seqs.at(site, rowOf[static_cast<size_t>(lo)]), rng);
        for (int32_t c = lo; c <= hi; ++c)
            seqs.copy(rowOf[static_cast<size_t>(c)])[site] = next;
        if (!seqs.siteHit[static_cast<size_t>(site)]) {
            seqs.siteHit[static_cast<size_t>(site)] = true;
            seqs.hitSites.push_back(site);
        }
    }
}

std::vector<int32_t> identity(int32_t k) {
    std::vector<int32_t> rows(static_cast<size_t>(k));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

std::vector<std::string> decimalNames(const std::vector<int32_t>& rows) {
    std::vector<std::string> names;
    for (const int32_t r : rows)
        names.push_back(std::to_string(r));
    return names;
}

template <typename Simulator, typename Rng>
Genealogy simulated(int32_t k, int32_t n, long double p, MergeRule rule, Rng rng) {
    Simulator sim;
    sim.mergers = rule;
    Genealogy g;
    MutationProbability mutation;
    mutation.constant = p;
    sim.simulate(g, k, n, Demography{}, mutation, rng, {});
    return g;
}

DiscreteDeme constantDeme(const std::string& name, double size) {
    DiscreteDeme d;
    d.name = name;
    d.start = kForeverGeneration;
    DiscreteEpoch e;
    e.startSize = e.endSize = size;
    e.startTime = static_cast<double>(kForeverGeneration);
    d.epochs.push_back(e);
    return d;
}

// Genealogies of every engine under both rules, and of a two-deme model whose samples are
// renumbered by the model's walk (order: the sample of each leaf).
struct Sampled {
    Genealogy g;
    std::vector<int32_t> order;
};

std::vector<Sampled> randomGenealogies(int count) {
    std::vector<Sampled> out;
    std::mt19937_64 random(77);
    DiscreteHistory h;
    h.demes = {constantDeme("A", 40), constantDeme("B", 60)};
    h.migrations = {{1, 0, kForeverGeneration, 0, 0.02}, {0, 1, kForeverGeneration, 0, 0.01}};
    StructuredSimulator structured;
    StructuredTree tree;
    for (int trial = 0; trial < count; ++trial) {
        const auto k = std::uniform_int_distribution<int32_t>(1, 40)(random);
        const auto n = std::uniform_int_distribution<int32_t>(2, 2000)(random);
        const long double p = std::uniform_real_distribution<>(0, 0.02)(random);
        const MergeRule rule = trial % 2 ? MergeRule::All : MergeRule::One;
        const auto s = static_cast<uint32_t>(trial);
        out.push_back({simulated<GenealogySimulator>(k, n, p, rule, RunRandom(s)), identity(k)});
        out.push_back(
            {simulated<GenealogySimulator>(k, n, p, rule, StreamRandom(5, s)), identity(k)});
        out.push_back(
            {simulated<EventGenealogySimulator>(k, n, p, rule, StreamRandom(6, s)), identity(k)});
        std::vector<StructuredSample> samples;
        for (int32_t i = 0; i < std::max(k, 2); ++i)
            samples.push_back({i % 2, 0});
        StreamRandom rng(7, s);
        structured.mergers = rule;
        structured.simulate(h, samples, rng, tree);
        Sampled model;
        structuredGenealogy(tree, p, rng, model.g, model.order);
        out.push_back(std::move(model));
    }
    return out;
}

// Rows 0 .. k - 1 in a random order.
std::vector<int32_t> shuffledRows(int32_t k, std::mt19937_64& random) {
    std::vector<int32_t> rows = identity(k);
    std::shuffle(rows.begin(), rows.end(), random);
    return rows;
}

} // namespace

TEST(GeneTree, NewickFromTheTreeMatchesThePlainWriter) {
    std::mt19937_64 random(3);
    for (const Sampled& s : randomGenealogies(150)) {
        ASSERT_EQ(genealogyFault(s.g), "");
        GeneTree tree(s.g);
        ASSERT_EQ(treeFault(tree), "");
        ASSERT_TRUE(tree.inOrder);
        const int32_t k = s.g.SampleSize;
        std::string line;
        appendNewickLine(tree, line);
        ASSERT_EQ(line, plainNewick(s.g, decimalNames(identity(k))) + "\r\n");

        // The model's numbering, and a random one: every leaf is written at its row.
        for (const std::vector<int32_t>& rows : {s.order, shuffledRows(k, random)}) {
            tree.relabel(rows);
            ASSERT_EQ(treeFault(tree), "");
            std::string renumbered;
            appendNewickTree(tree, nullptr, renumbered);
            ASSERT_EQ(renumbered, plainNewick(s.g, decimalNames(rows)));
            std::vector<std::string> rowNames;
            for (int32_t r = 0; r < k; ++r)
                rowNames.push_back("s" + std::to_string(r));
            std::vector<std::string> leafNames;
            for (const int32_t r : rows)
                leafNames.push_back(rowNames[static_cast<size_t>(r)]);
            std::string named;
            appendNewickTree(tree, &rowNames, named);
            ASSERT_EQ(named, plainNewick(s.g, leafNames));
        }
    }
}

TEST(GeneTree, ScatterFromTheTreePutsEveryLeafInItsRow) {
    std::mt19937_64 random(4);
    const BaseChanger hky(SubstitutionModel::HKY85, 0.1, 0.2, 0.3, 3);
    const std::string root = "acgtacgtacgtaacc";
    uint32_t seed = 0;
    int64_t hitSites = 0;
    for (const Sampled& s : randomGenealogies(100)) {
        const int32_t k = s.g.SampleSize;
        GeneTree tree(s.g);
        for (const std::vector<int32_t>& rows : {identity(k), s.order, shuffledRows(k, random)}) {
            tree.relabel(rows);
            SampleSequences expected, actual;
            expected.reset(root, k);
            actual.reset(root, k);
            RunRandom a(++seed), b(seed);
            plainScatter(s.g, expected, hky, a, rows);
            ScatterMutations(tree, actual, hky, b);
            ASSERT_EQ(actual.data, expected.data);
            ASSERT_EQ(actual.hitSites, expected.hitSites);
            ASSERT_EQ(a.state(), b.state());
            hitSites += static_cast<int64_t>(actual.hitSites.size());
        }
    }
    EXPECT_GT(hitSites, 100); // the genealogies carry mutations
}

TEST(GeneTree, AlleleSizesFromTheTreeAreTheRangeSizesMovedToTheRows) {
    std::mt19937_64 random(5);
    const MsatLocusParams locus{1, 100, 140, 2, 0};
    uint32_t seed = 100;
    for (const Sampled& s : randomGenealogies(100)) {
        const int32_t k = s.g.SampleSize;
        GeneTree plain(s.g), tree(s.g);
        const std::vector<int32_t> rows = shuffledRows(k, random);
        tree.relabel(rows);
        for (const MsatModel model :
             {MsatModel::Stepwise, MsatModel::RandomAlleles, MsatModel::InfiniteAlleles}) {
            AlleleSizes byLeaf, byRow;
            byLeaf.recreate(k, 1);
            byRow.recreate(k, 1);
            for (int32_t i = 0; i < k; ++i)
                byLeaf.at(i, 0) = byRow.at(i, 0) = 120;
            int32_t largestA = 120, largestB = 120;
            RunRandom a(++seed), b(seed);
            applyLocusMutations(plain, model, locus, 0, byLeaf, largestA, a);
            applyLocusMutations(tree, model, locus, 0, byRow, largestB, b);
            ASSERT_EQ(largestA, largestB);
            ASSERT_EQ(a.state(), b.state());
            for (int32_t i = 0; i < k; ++i)
                ASSERT_EQ(byRow.at(rows[static_cast<size_t>(i)], 0), byLeaf.at(i, 0));
        }
    }
}

// A tree whose leaves are not numbered along its walk: ((0,2),(1,3)) with leaf x in row x.
TEST(GeneTree, ATreeNumberedInAnyOrderIsWrittenAtItsLeaves) {
    GeneTree t;
    t.leaves = 4;
    t.time = {0, 0, 0, 0, 5, 8, 20};
    t.left = {0, 1, 4};
    t.right = {2, 3, 5};
    t.label = {0, 1, 2, 3};
    t.mutationNode = {4};
    t.mutationTime = {6};
    t.rebuildWalk();
    ASSERT_EQ(treeFault(t), "");
    EXPECT_EQ(t.walk, (std::vector<int32_t>{0, 2, 1, 3}));
    EXPECT_FALSE(t.inOrder);
    std::string line;
    appendNewickTree(t, nullptr, line);
    EXPECT_EQ(line, "((0:5,2:5):15,(1:8,3:8):12);");

    // The mutation above node 4 reaches rows 0 and 2 alone.
    const BaseChanger jc(SubstitutionModel::JC69, 0.25, 0.25, 0.25, 2);
    SampleSequences seqs;
    seqs.reset("a", 4);
    RunRandom rng(1);
    ScatterMutations(t, seqs, jc, rng);
    EXPECT_NE(seqs.at(0, 0), 'a');
    EXPECT_EQ(seqs.at(0, 2), seqs.at(0, 0));
    EXPECT_EQ(seqs.at(0, 1), 'a');
    EXPECT_EQ(seqs.at(0, 3), 'a');
}

TEST(GeneTree, DamageIsReported) {
    Genealogy g;
    for (uint32_t s = 0; g.MutEvents.size() < 3 || g.SampleSize == 0; ++s)
        g = simulated<GenealogySimulator>(10, 20, 0.05L, MergeRule::All, RunRandom(s));
    GeneTree sound(g);
    std::vector<int32_t> reversed = identity(sound.leaves);
    std::reverse(reversed.begin(), reversed.end());
    sound.relabel(reversed);
    ASSERT_FALSE(sound.inOrder);
    ASSERT_EQ(treeFault(sound), "");
    const auto damaged = [&](auto change) {
        GeneTree t = sound;
        change(t);
        return treeFault(t);
    };
    EXPECT_NE(damaged([](GeneTree& t) { t.label[0] = t.label[1]; }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.label[0] = t.leaves; }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.time[static_cast<size_t>(t.root())] = 0; }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.parent[0] = -1; }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.right.back() = t.left.back(); }), "");
    EXPECT_NE(damaged([](GeneTree& t) { std::swap(t.left.back(), t.right.back()); }), "");
    EXPECT_NE(damaged([](GeneTree& t) { std::swap(t.walk[0], t.walk[1]); }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.rowAtPosition.assign(t.walk.size(), 0); }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.inOrder = true; }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.mutationNode[0] = t.root(); }), "");
    EXPECT_NE(damaged([](GeneTree& t) {
                  t.mutationTime[0] = t.time[static_cast<size_t>(t.mutationNode[0])];
              }),
              "");
    EXPECT_NE(damaged([](GeneTree& t) { t.mutationNode[0] = t.nodeCount(); }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.deme = {0}; }), "");
    EXPECT_NE(damaged([](GeneTree& t) { t.time.pop_back(); }), "");
}

// A genealogy read back from its files has positions only: the tree of its tables is the
// simulator's, mutations on the same nodes, for every engine and rule and a model. Damaged
// tables give the part that is a tree: the merges before the first that does not fit, and
// only mutations on the lineages of those merges.
TEST(GeneTree, TheTablesAloneGiveTheSimulatorsTree) {
    std::mt19937_64 random(11);
    for (const Sampled& s : randomGenealogies(120)) {
        Genealogy read = s.g;
        read.mutationNodes.clear();
        GeneTree t;
        t.assignTables(read);
        const GeneTree expected(s.g);
        ASSERT_EQ(treeFault(t), "");
        EXPECT_EQ(t.time, expected.time);
        EXPECT_EQ(t.parent, expected.parent);
        EXPECT_EQ(t.left, expected.left);
        EXPECT_EQ(t.right, expected.right);
        EXPECT_EQ(t.walk, expected.walk);
        EXPECT_EQ(t.first, expected.first);
        EXPECT_EQ(t.last, expected.last);
        EXPECT_EQ(t.mutationNode, expected.mutationNode);
        EXPECT_EQ(t.mutationTime, expected.mutationTime);

        const int32_t k = read.SampleSize;
        if (k < 3) continue;
        const auto cut = std::uniform_int_distribution<int32_t>(0, k - 2)(random);
        read.CoalEvents[static_cast<size_t>(cut)].first = k - cut - 1; // no right neighbour
        // Some mutations moved off every lineage.
        size_t kept = 0;
        for (MutEvent& m : read.MutEvents) {
            if (std::uniform_int_distribution<int>(0, 9)(random) == 0)
                m.position += k;
            else if (cut > 0 &&
                     m.generation <= read.CoalEvents[static_cast<size_t>(cut - 1)].generation)
                ++kept;
        }
        t.assignTables(read);
        ASSERT_EQ(t.nodeCount(), k + cut);
        for (int32_t x = 0; x < t.nodeCount(); ++x) {
            const int32_t p = t.parent[static_cast<size_t>(x)];
            if (p >= 0) {
                EXPECT_TRUE(t.left[static_cast<size_t>(p - k)] == x ||
                            t.right[static_cast<size_t>(p - k)] == x);
            }
        }
        EXPECT_EQ(t.mutationNode.size(), kept);
        for (size_t m = 0; m < t.mutationNode.size(); ++m) {
            const auto x = static_cast<size_t>(t.mutationNode[m]);
            ASSERT_LT(x, static_cast<size_t>(t.nodeCount()));
            EXPECT_LT(t.time[x], t.mutationTime[m]);
            if (t.parent[x] >= 0) {
                EXPECT_LE(t.mutationTime[m], t.time[static_cast<size_t>(t.parent[x])]);
            }
        }
    }
}
