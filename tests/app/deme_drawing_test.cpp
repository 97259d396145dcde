// A genealogy of a two-deme model drawn in its demes: every segment of every branch in the
// colour of the deme its lineage is in at that height, as the simulator moved it; a cross at
// every move and nowhere else; the tips underlined and named by deme; the legend.
#include "app/deme_colours.h"
#include "app/genealogy_browser.h"
#include "app/genealogy_drawing.h"
#include "base/random.h"
#include "genealogy/structured_genealogy.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

using namespace quenlith;

namespace {

DiscreteHistory islandModel() {
    DiscreteHistory h;
    for (const char* name : {"A", "B"}) {
        DiscreteDeme d;
        d.name = name;
        DiscreteEpoch e;
        e.startSize = e.endSize = 15;
        d.epochs.push_back(e);
        h.demes.push_back(d);
    }
    h.migrations = {{1, 0, kForeverGeneration, 0, 0.03}, {0, 1, kForeverGeneration, 0, 0.01}};
    return h;
}

auto key(const DrawLine& l) {
    return std::make_tuple(l.x1, l.y1, l.x2, l.y2, l.colour, l.width);
}

void expectSameLines(std::vector<DrawLine> a, std::vector<DrawLine> b, const char* what) {
    auto less = [](const DrawLine& x, const DrawLine& y) { return key(x) < key(y); };
    std::sort(a.begin(), a.end(), less);
    std::sort(b.begin(), b.end(), less);
    EXPECT_EQ(a, b) << what;
}

} // namespace

TEST(DemeDrawing, BranchesMarksAndTipsFollowTheSimulatedDemes) {
    const DiscreteHistory h = islandModel();
    std::vector<StructuredSample> samples(7, {0, 0});
    samples.resize(12, {1, 0});
    const auto k = static_cast<int32_t>(samples.size());
    const std::vector<std::string> names = {"A", "B"};
    StructuredSimulator sim;
    StructuredTree tree;
    Genealogy g;
    std::vector<int32_t> order;
    BranchDemes demes;
    size_t moves = 0;
    for (uint32_t s = 0; s < 40; ++s) {
        StreamRandom rng(3, s);
        sim.simulate(h, samples, rng, tree);
        structuredGenealogy(tree, 0.01L, rng, g, order, &demes);
        GenealogyPicture picture = pictureOf(g, 1, true);
        picture.demes = &demes;
        picture.demeNames = &names;
        Drawing drawing;
        drawGenealogy(picture, drawing);
        ASSERT_EQ(drawing.width, kImageWidth + kLegendWidth);
        const std::vector<int32_t> column = demeColumns(picture);
        ASSERT_EQ(column.size(), tree.time.size());
        const VerticalScale scale{1, static_cast<int32_t>(tree.tmrca())};
        auto y = [&](int64_t t) { return scale.y(static_cast<int32_t>(t)); };

        // What the tree says, node by node (tree node t is genealogy node x).
        std::vector<int32_t> geneOf(tree.time.size());
        for (size_t x = 0; x < geneOf.size(); ++x)
            geneOf[x < static_cast<size_t>(k) ? static_cast<size_t>(order[x]) : x] =
                static_cast<int32_t>(x);
        std::vector<DrawLine> branches, bars, marks;
        for (int32_t x = 0; x < static_cast<int32_t>(tree.time.size()); ++x) {
            const int32_t t = x < k ? order[static_cast<size_t>(x)] : x;
            const int32_t X = column[static_cast<size_t>(x)];
            if (x >= k) {
                const int32_t a = tree.left[static_cast<size_t>(t - k)];
                const int32_t b = tree.right[static_cast<size_t>(t - k)];
                const int32_t xa = column[static_cast<size_t>(geneOf[static_cast<size_t>(a)])],
                              xb = column[static_cast<size_t>(geneOf[static_cast<size_t>(b)])];
                bars.push_back({std::min(xa, xb), y(tree.time[static_cast<size_t>(t)]),
                                std::max(xa, xb), y(tree.time[static_cast<size_t>(t)]),
                                demeColour(tree.deme[static_cast<size_t>(t)]), 2});
                EXPECT_EQ(X, std::min(xa, xb) + (std::max(xa, xb) - std::min(xa, xb)) / 2);
            }
            if (t == tree.root()) continue;
            int64_t from = tree.time[static_cast<size_t>(t)];
            int32_t deme = tree.deme[static_cast<size_t>(t)];
            for (const StructuredTree::Move& m : tree.moves) {
                if (m.node != t) continue;
                branches.push_back({X, y(from), X, y(m.generation), demeColour(deme), 2});
                const int32_t ym = y(m.generation), r = kMoveMarkSize;
                marks.push_back({X - r, ym - r, X + r, ym + r, kMoveMarkColour, 1});
                marks.push_back({X - r, ym + r, X + r, ym - r, kMoveMarkColour, 1});
                from = m.generation;
                deme = m.to;
                ++moves;
            }
            branches.push_back(
                {X, y(from), X,
                 y(tree.time[static_cast<size_t>(tree.parent[static_cast<size_t>(t)])]),
                 demeColour(deme), 2});
        }
        std::vector<DrawLine> vertical, diagonal, horizontal, groups;
        for (const DrawLine& l : drawing.lines) {
            if (l.x1 == l.x2)
                vertical.push_back(l);
            else if (l.y1 != l.y2)
                diagonal.push_back(l);
            else if (l.y1 == kDemeGroupY)
                groups.push_back(l);
            else if (l.colour != kRed && l.x1 < kImageWidth)
                horizontal.push_back(l);
        }
        expectSameLines(vertical, branches, "branches");
        expectSameLines(diagonal, marks, "marks");
        expectSameLines(horizontal, bars, "merges");

        // Every tip under exactly one group line, of its deme's colour; names under groups.
        for (int32_t x = 0; x < k; ++x) {
            const int32_t X = column[static_cast<size_t>(x)];
            int under = 0;
            for (const DrawLine& l : groups)
                if (l.x1 + 2 <= X && X <= l.x2 - 2) {
                    ++under;
                    EXPECT_EQ(
                        l.colour,
                        demeColour(
                            samples[static_cast<size_t>(order[static_cast<size_t>(x)])].deme));
                }
            EXPECT_EQ(under, 1) << "tip " << x;
        }
        int named = 0, legend = 0;
        for (const DrawText& t : drawing.texts) {
            if (t.x > kImageWidth && (t.text == "A" || t.text == "B")) ++legend;
            if (t.y != kDemeGroupY + 2) continue;
            ++named;
            const int32_t d = t.text == "A" ? 0 : 1;
            ASSERT_TRUE(t.text == "A" || t.text == "B") << t.text;
            EXPECT_EQ(t.colour, demeColour(d));
            EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [&](const DrawLine& l) {
                return l.x1 == t.x && l.colour == t.colour;
            }));
        }
        EXPECT_GE(named, 2);
        EXPECT_EQ(legend, 2);
    }
    EXPECT_GT(moves, 40u);
}
