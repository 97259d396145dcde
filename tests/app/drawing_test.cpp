// Geometry of the genealogy drawing, checked on its primitives.
#include "app/genealogy_browser.h"
#include "app/genealogy_drawing.h"

#include <gtest/gtest.h>

using namespace quenlith;

namespace quenlith {

void PrintTo(const DrawLine& l, std::ostream* os) {
    *os << "line (" << l.x1 << "," << l.y1 << ")-(" << l.x2 << "," << l.y2 << ") colour "
        << std::hex << l.colour << std::dec << " width " << l.width;
}

void PrintTo(const DrawText& t, std::ostream* os) {
    *os << "text '" << t.text << "' at (" << t.x << "," << t.y << ") colour " << std::hex
        << t.colour << std::dec << " size " << t.pointSize;
}

} // namespace quenlith

namespace {

struct Tables {
    std::vector<CoalEvent> coal;
    std::vector<MutEvent> mut;
};

Drawing draw(int32_t k, const Tables& t, int32_t popSize, bool drawMutations = true) {
    Genealogy g;
    g.SampleSize = k;
    g.CoalEvents = t.coal;
    g.MutEvents = t.mut;
    Drawing d;
    drawGenealogy(pictureOf(g, popSize, drawMutations), d);
    return d;
}

size_t countColour(const Drawing& d, uint32_t colour) {
    size_t n = 0;
    for (const auto& l : d.lines)
        n += l.colour == colour;
    for (const auto& t : d.texts)
        n += t.colour == colour;
    return n;
}

} // namespace

TEST(GenealogyDrawing, TwoTipsCoalescingAtGeneration12345) {
    const Tables t{{{12345, 0, 1}}, {}};
    const Drawing d = draw(2, t, 10000);
    const std::vector<DrawLine> lines = {
        {270, 490, 270, 288, kBlack, 1},
        {520, 490, 520, 288, kBlack, 1},
        {270, 288, 520, 288, kBlack, 1},
    };
    const std::vector<DrawText> texts = {
        {510, 278, "     12345", kBlue, 10},
        {250, 510, "TMRCA = 12345", kBlack, 12},
    };
    EXPECT_EQ(d.lines, lines);
    EXPECT_EQ(d.texts, texts);
}

TEST(GenealogyDrawing, SevenTipsAreSpaced71Apart) {
    // Every merge at the front of the list; the first level stands on the tips.
    Tables t;
    for (int32_t e = 0; e < 6; ++e)
        t.coal.push_back({100 * (e + 1), 0, 1});
    const Drawing d = draw(7, t, 10000);
    const int32_t tips[] = {91, 162, 233, 304, 375, 446, 517};
    ASSERT_GE(d.lines.size(), 8u);
    for (int q = 0; q < 7; ++q) {
        EXPECT_EQ(d.lines[q].x1, tips[q]);
        EXPECT_EQ(d.lines[q].x2, tips[q]);
        EXPECT_EQ(d.lines[q].y1, 490);
    }
    EXPECT_EQ(d.lines[7], (DrawLine{91, d.lines[7].y1, 162, d.lines[7].y1, kBlack, 1}));
    // Six levels of 7, 6, ..., 2 verticals plus a bar each.
    EXPECT_EQ(d.lines.size(), 7u + 6 + 5 + 4 + 3 + 2 + 6);
}

TEST(GenealogyDrawing, ThreeTipsWithMutationsLevelByLevel) {
    const Tables t{{{412, 1, 2}, {980, 0, 1}}, {{77, 2}, {980, 1}}};
    const Drawing d = draw(3, t, 10000);
    const std::vector<DrawLine> lines = {
        // first level, y = 483: verticals from the tips, the bar, then the tick of generation 77
        {186, 490, 186, 483, kBlack, 1},
        {352, 490, 352, 483, kBlack, 1},
        {518, 490, 518, 483, kBlack, 1},
        {352, 483, 518, 483, kBlack, 1},
        {514, 488, 522, 488, kRed, 3},
        // second level, y = 473: the list is now 186, 435
        {186, 483, 186, 473, kBlack, 1},
        {435, 483, 435, 473, kBlack, 1},
        {186, 473, 435, 473, kBlack, 1},
        // generation 980 equals the coalescence: drawn at the position before the merge
        {431, 473, 439, 473, kRed, 3},
    };
    const std::vector<DrawText> texts = {
        {510, 473, "       412", kBlue, 10},
        // 980's label would stand 10 pixels above 412's and overlap it: left out
        {5, 478, "77", kRed, 10},
        {5, 463, "980", kRed, 10},
        {250, 510, "TMRCA = 980", kBlack, 12},
    };
    EXPECT_EQ(d.lines, lines);
    EXPECT_EQ(d.texts, texts);
}

TEST(GenealogyDrawing, MutationsHiddenOrAbsentLeaveTimeLabels) {
    const Tables with{{{412, 1, 2}, {980, 0, 1}}, {{77, 2}, {980, 1}}};
    const Drawing hidden = draw(3, with, 10000, false);
    const Tables without{{{412, 1, 2}, {980, 0, 1}}, {}};
    const Drawing none = draw(3, without, 10000, true);
    for (const Drawing* d : {&hidden, &none}) {
        EXPECT_EQ(countColour(*d, kRed), 0u);
        EXPECT_EQ(countColour(*d, kBlue), 1u); // the second label would overlap the first
        EXPECT_EQ(d->lines.size(), 7u);
        EXPECT_EQ(d->texts.back().text, "TMRCA = 980");
    }
}

TEST(GenealogyDrawing, CoalescenceAbove3NScalesToTheRoot) {
    EXPECT_EQ(generationY(31000, 10000), -16); // the scale of 3N: 490 - 506.33, truncated
    EXPECT_EQ(generationY(30000, 10000), 0);
    EXPECT_EQ(generationY(0, 10000), 490);
    // Up to TMRCA = 3N the scale is that of 3N.
    for (int32_t t : {0, 1, 12345, 29999, 30000})
        EXPECT_EQ((VerticalScale{10000, 30000}.y(t)), generationY(t, 10000)) << t;
    // Above, the root stands at y = 10 with its label at the top edge.
    const Tables t{{{31000, 0, 1}}, {}};
    const Drawing d = draw(2, t, 10000);
    EXPECT_EQ(d.lines[0], (DrawLine{270, 490, 270, 10, kBlack, 1}));
    EXPECT_EQ(d.texts[0], (DrawText{510, 0, "     31000", kBlue, 10}));
    // Tips at 186, 352, 518; after the first merge the first lineage stands at 269.
    const Tables two{{{15000, 0, 1}, {90000, 0, 1}}, {{60000, 0}}};
    const Drawing e = draw(3, two, 10000);
    EXPECT_EQ(e.lines[0].y2, 410); // 490 - 15000 * 480 / 90000
    EXPECT_EQ(e.lines.back(), (DrawLine{265, 170, 273, 170, kRed, 3}));
    for (const DrawLine& l : e.lines) {
        EXPECT_GE(std::min(l.y1, l.y2), 10);
        EXPECT_LE(std::max(l.y1, l.y2), 490);
    }
    // Far beyond the image the value stays representable.
    EXPECT_LT(generationY(2147483647, 1), -100000);
}

TEST(GenealogyDrawing, PopulationBelowOneDrawsWithTheScaleOfOne) {
    const Tables t{{{1, 0, 1}, {2, 0, 1}}, {{2, 1}}};
    const Drawing one = draw(3, t, 1);
    for (int32_t n : {0, -5}) {
        const Drawing d = draw(3, t, n);
        EXPECT_EQ(d.lines, one.lines);
        EXPECT_EQ(d.texts, one.texts);
    }
    EXPECT_EQ(one.lines[0].y2, 326); // 490 - 490 / 3
}

TEST(GenealogyDrawing, SingleTipAndEmptyTables) {
    const Tables none;
    const Drawing d = draw(1, none, 100);
    EXPECT_TRUE(d.lines.empty());
    ASSERT_EQ(d.texts.size(), 1u);
    EXPECT_EQ(d.texts[0], (DrawText{250, 510, "TMRCA = 0", kBlack, 12}));
}

TEST(GenealogyDrawing, TablesNotFromThisSampleAreNotReadOutside) {
    // A mutation on a lineage that does not exist at its level is left out; an event whose
    // positions do not fit ends the tree there, and the TMRCA written is that of the tree
    // drawn.
    const Tables t{{{10, 0, 1}, {20, 5, 6}}, {{5, 9}, {5, 1}, {15, 0}}};
    const Drawing d = draw(3, t, 100);
    EXPECT_EQ(d.lines.size(), 5u); // first level and one tick
    EXPECT_EQ(countColour(d, kRed), 2u);
    EXPECT_EQ(d.texts.back().text, "TMRCA = 10");

    // Events out of time order: each interval takes the mutations between its two times.
    const Tables shuffled{{{50, 0, 1}, {30, 0, 1}}, {{40, 0}, {45, 0}}};
    const Drawing s = draw(3, shuffled, 100);
    // Both in the first interval (0, 50], none in (50, 30]; the label of 45 would overlap 40's.
    EXPECT_EQ(countColour(s, kRed), 3u);
}

TEST(GenealogyDrawing, AMergeOfThreeLineagesIsOneJoin) {
    // Lineages 1, 2 and 3 merge in generation 10 (two events there at position 1), then
    // lineage 0 joins them: one horizontal line per merge, from the first lineage to the last,
    // the parent midway between them, and no vertical line of zero length.
    const Tables t{{{10, 1, 2}, {10, 1, 2}, {20, 0, 1}}, {}};
    const Drawing d = draw(4, t, 10);
    std::vector<DrawLine> joins;
    for (const DrawLine& l : d.lines) {
        EXPECT_FALSE(l.x1 == l.x2 && l.y1 == l.y2) << ::testing::PrintToString(l);
        if (l.y1 == l.y2) joins.push_back(l);
    }
    ASSERT_EQ(joins.size(), 2u);
    EXPECT_EQ(std::vector<int32_t>({joins[0].x1, joins[0].x2, joins[1].x1, joins[1].x2}),
              std::vector<int32_t>({270, 520, 145, 395}));
    EXPECT_EQ(d.lines.size(), 4u + 1 + 2 + 1);
}
