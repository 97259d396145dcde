// The size draw, the three allele models on a genealogy, and the diversity of a locus.
#include "base/run_error.h"
#include "msat/allele_models.h"

#include <gtest/gtest.h>
#include <map>

using namespace quenlith;

namespace {

// k = 4 with events (3, j = 0), (4, j = 1), (10, j = 0): nodes 4 = (0,1), 5 = (2,3),
// 6 = the root. Mutations are given as (generation, node), in record order.
Genealogy fourCopies(std::vector<std::pair<int32_t, int32_t>> mutations) {
    Genealogy g;
    g.SampleSize = 4;
    g.CoalEvents = {{3, 0, 1}, {4, 1, 2}, {10, 0, 1}};
    g.Generation = 10;
    g.rebuildTree();
    for (auto [generation, node] : mutations) {
        g.MutEvents.push_back({generation, 0});
        g.mutationNodes.push_back(node);
    }
    return g;
}

// The state that makes the next RandomFloat return exactly 0.5.
uint32_t stateBeforeHalf() {
    // s * 134775813 + 1 = 2^31 (mod 2^32); the multiplier's inverse by Newton's iteration.
    uint32_t inverse = 134775813u;
    for (int i = 0; i < 5; ++i)
        inverse *= 2u - 134775813u * inverse;
    return (0x80000000u - 1u) * inverse;
}

} // namespace

TEST(DrawSizeInRange, RangeOneHundredToOneHundredTenWithRepeatFour) {
    const MsatLocusParams locus{1, 100, 110, 4, 0};
    RunRandom rng(2024);
    std::map<int32_t, int> counts;
    const int draws = 30000;
    for (int i = 0; i < draws; ++i) {
        // Each call draws Random(10) until the offset is a multiple of 4.
        RunRandom replay(rng.state());
        int32_t o;
        do
            o = replay.Random(10);
        while (o % 4 != 0);
        const int32_t size = DrawSizeInRange(locus, rng);
        ASSERT_EQ(size, 100 + o);
        ASSERT_EQ(rng.state(), replay.state());
        ++counts[size];
    }
    ASSERT_EQ(counts.size(), 3u); // 100, 104, 108; never 110
    for (int32_t size : {100, 104, 108})
        EXPECT_NEAR(counts[size], draws / 3.0, 400) << size;
}

TEST(DrawSizeInRange, EmptyRangeAndZeroRepeat) {
    RunRandom rng(1);
    EXPECT_EQ(DrawSizeInRange({1, 120, 120, 3, 0}, rng), 120);
    EXPECT_EQ(rng.state(), RunRandom(1).state() * 134775813u + 1u); // one Random(0) drawn
    try {
        DrawSizeInRange({1, 100, 140, 0, 0}, rng);
        FAIL() << "a repeat unit of 0 must stop the draw";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::DivisionByZero);
    }
}

TEST(StepwiseMutate, OneRepeatUpAboveOneHalfElseDown) {
    const MsatLocusParams locus{1, 100, 140, 3, 0};
    RunRandom half(stateBeforeHalf());
    ASSERT_EQ(RunRandom(stateBeforeHalf()).RandomFloat(), 0.5L);
    EXPECT_EQ(StepwiseMutate(100, locus, half), 97); // exactly 0.5 shrinks
    RunRandom rng(77);
    for (int i = 0; i < 1000; ++i) {
        const long double u = RunRandom(rng.state()).RandomFloat();
        ASSERT_EQ(StepwiseMutate(100, locus, rng), u > 0.5L ? 103 : 97);
    }
    // Sizes are not bounded by the range and may reach zero or below.
    EXPECT_EQ(StepwiseMutate(1, locus, half = RunRandom(stateBeforeHalf())), -2);
    RunRandom edge(stateBeforeHalf());
    EXPECT_THROW(StepwiseMutate(-2147483647, locus, edge), RunError);
}

TEST(AlleleModels, MutationsReachTheCopiesBelowTheirLineage) {
    const MsatLocusParams locus{1, 100, 140, 2, 0};
    AlleleSizes sizes;
    sizes.recreate(4, 2);
    for (int32_t i = 0; i < 4; ++i)
        sizes.at(i, 1) = 120;

    // Records: copy 3 at generation 2, node (0,1) at 5, the leaf 2 at 1 (recorded first,
    // the most recent), and one on node (2,3) at 7 (recorded last, the oldest).
    const Genealogy g = fourCopies({{1, 2}, {2, 3}, {5, 4}, {7, 5}});
    int32_t largest = 120;
    RunRandom rng(5);
    applyLocusMutations(GeneTree(g), MsatModel::InfiniteAlleles, locus, 1, sizes, largest, rng);
    EXPECT_EQ(rng.state(), 5u); // nothing drawn
    // Oldest first: (2,3) -> 122, (0,1) -> 124, copy 3 -> 126, copy 2 -> 128.
    EXPECT_EQ(sizes.at(0, 1), 124);
    EXPECT_EQ(sizes.at(1, 1), 124);
    EXPECT_EQ(sizes.at(2, 1), 128);
    EXPECT_EQ(sizes.at(3, 1), 126);
    EXPECT_EQ(largest, 128);
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_EQ(sizes.at(i, 0), 0); // the other locus is untouched

    // Stepwise: each mutation moves its lineage's current size by one repeat.
    for (int32_t i = 0; i < 4; ++i)
        sizes.at(i, 0) = 100;
    RunRandom stepRng(9), replay(9);
    std::vector<int32_t> step;
    for (int i = 0; i < 4; ++i)
        step.push_back(replay.RandomFloat() > 0.5L ? 2 : -2);
    applyLocusMutations(GeneTree(g), MsatModel::Stepwise, locus, 0, sizes, largest, stepRng);
    EXPECT_EQ(stepRng.state(), replay.state()); // one RandomFloat per mutation
    const int32_t pair23 = 100 + step[0];
    EXPECT_EQ(sizes.at(0, 0), 100 + step[1]);
    EXPECT_EQ(sizes.at(1, 0), 100 + step[1]);
    EXPECT_EQ(sizes.at(3, 0), pair23 + step[2]);
    EXPECT_EQ(sizes.at(2, 0), pair23 + step[3]);

    // Random alleles with an empty range: every new size is MinSize, one draw each.
    const MsatLocusParams fixed{1, 130, 130, 2, 0};
    for (int32_t i = 0; i < 4; ++i)
        sizes.at(i, 0) = 100;
    RunRandom randomRng(3);
    const Genealogy one = fourCopies({{1, 1}});
    applyLocusMutations(GeneTree(one), MsatModel::RandomAlleles, fixed, 0, sizes, largest,
                        randomRng);
    EXPECT_EQ(sizes.at(0, 0), 100);
    EXPECT_EQ(sizes.at(1, 0), 130); // a single copy's own branch
    EXPECT_EQ(sizes.at(2, 0), 100);
    EXPECT_EQ(randomRng.state(), RunRandom(3).state() * 134775813u + 1u);
}

TEST(LocusDiversity, AlleleCountAndGeneDiversity) {
    AlleleSizes sizes;
    sizes.recreate(4, 3);
    const int32_t columns[4][3] = {
        {100, 100, 104}, {100, 102, 100}, {100, 104, 102}, {100, 106, 104}};
    for (int32_t i = 0; i < 4; ++i)
        for (int32_t l = 0; l < 3; ++l)
            sizes.at(i, l) = columns[i][l];
    std::vector<int32_t> scratch;
    LocusDiversity d = locusDiversity(sizes, 0, scratch);
    EXPECT_EQ(d.alleleCount, 1);
    EXPECT_EQ(d.geneDiversity, 0.0);
    d = locusDiversity(sizes, 1, scratch); // all different: k/(k-1) (1 - 1/k) = 1
    EXPECT_EQ(d.alleleCount, 4);
    EXPECT_DOUBLE_EQ(d.geneDiversity, 1.0);
    d = locusDiversity(sizes, 2, scratch); // 104 twice: 4/3 (1 - 0.375)
    EXPECT_EQ(d.alleleCount, 3);
    EXPECT_DOUBLE_EQ(d.geneDiversity, 4.0 / 3.0 * 0.625);
    EXPECT_EQ(sizes.at(0, 2), 104); // the table itself is not reordered
}
