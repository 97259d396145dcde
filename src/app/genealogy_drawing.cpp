#include "app/genealogy_drawing.h"

#include "app/deme_colours.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quenlith {

namespace {

constexpr int32_t kBaseline = 490;
constexpr int32_t kLabelFont = 10;
constexpr int32_t kTmrcaFont = 12;

// Generation label of a coalescence: right-justified in 10 characters.
std::string coalescenceLabel(int32_t t) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%10d", t);
    return buffer;
}

// The root at the top: the scale of a population of one copy.
VerticalScale demeScale(const GenealogyPicture& picture) {
    return {1, picture.tree.time.back()};
}

// The places of a genealogy drawn in its demes.
struct DemeLayout {
    std::vector<int32_t> left, right; // per merge: its children, left one first
    std::vector<int32_t> generation;  // per node
    std::vector<int32_t> order;       // the tips from left to right
    std::vector<int32_t> column;      // per node: its x in pixels
    std::vector<std::pair<int32_t, int32_t>> mutationNode; // (mutation, node) in their order
};

DemeLayout demeLayout(const GenealogyPicture& picture) {
    const GeneTree& tree = picture.tree;
    const BranchDemes& demes = *picture.demes;
    const int32_t k = tree.leaves;
    const auto events = static_cast<size_t>(k - 1);
    const auto nodes = static_cast<size_t>(2 * k - 1);
    DemeLayout out;
    std::vector<int32_t>& left = out.left;
    std::vector<int32_t>& right = out.right;
    left = tree.left;
    right = tree.right;
    out.generation = tree.time;
    if (picture.drawMutations)
        for (size_t m = 0; m < tree.mutationNode.size(); ++m)
            out.mutationNode.emplace_back(static_cast<int32_t>(m), tree.mutationNode[m]);
    // Tips of one deme side by side where the tree allows: at every merge the child whose
    // tips have the lower mean deme goes left.
    std::vector<double> key(nodes, 0), tips(nodes, 1);
    for (size_t x = 0; x < static_cast<size_t>(k); ++x)
        key[x] = demes.bottom[x];
    for (size_t e = 0; e < events; ++e) {
        const auto a = static_cast<size_t>(left[e]), b = static_cast<size_t>(right[e]);
        tips[static_cast<size_t>(k) + e] = tips[a] + tips[b];
        key[static_cast<size_t>(k) + e] = key[a] + key[b];
        if (key[b] / tips[b] < key[a] / tips[a]) std::swap(left[e], right[e]);
    }
    std::vector<int32_t>& order = out.order;
    std::vector<int32_t> todo = {static_cast<int32_t>(nodes) - 1};
    while (!todo.empty()) {
        const int32_t x = todo.back();
        todo.pop_back();
        if (x < k) {
            order.push_back(x);
            continue;
        }
        todo.push_back(right[static_cast<size_t>(x - k)]);
        todo.push_back(left[static_cast<size_t>(x - k)]);
    }
    // Horizontal places as in the plain drawing: whole pixels up to kWholePixelTips tips,
    // 1/1024 pixel beyond.
    const bool fractional = k > kWholePixelTips;
    const int64_t unit = fractional ? 1024 : 1;
    const int64_t dx = 500 / k;
    std::vector<int64_t> xs(nodes);
    for (int32_t j = 0; j < k; ++j)
        xs[static_cast<size_t>(order[static_cast<size_t>(j)])] =
            fractional ? 20 * unit + (int64_t{j} + 1) * 500 * unit / k : 20 + (j + 1) * dx;
    for (size_t e = 0; e < events; ++e) {
        const int64_t a = xs[static_cast<size_t>(left[e])], b = xs[static_cast<size_t>(right[e])];
        xs[static_cast<size_t>(k) + e] = a + (b - a) / 2;
    }
    out.column.resize(nodes);
    for (size_t x = 0; x < nodes; ++x)
        out.column[x] = static_cast<int32_t>(xs[x] / unit);
    return out;
}

// The genealogy of a model in its demes (see genealogy_drawing.h).
void drawInDemes(const GenealogyPicture& picture, DrawingSink& sink) {
    const BranchDemes& demes = *picture.demes;
    const int32_t k = picture.tree.leaves;
    const auto events = static_cast<size_t>(k - 1);
    const auto nodes = static_cast<size_t>(2 * k - 1);
    const int32_t demeCount =
        picture.demeNames ? static_cast<int32_t>(picture.demeNames->size()) : 0;
    sink.canvas(kImageWidth + kLegendWidth, kImageHeight);
    const DemeLayout layout = demeLayout(picture);
    const std::vector<int32_t>&left = layout.left, &right = layout.right;
    const std::vector<int32_t>& generation = layout.generation;
    const std::vector<int32_t>& order = layout.order;
    const VerticalScale scale = demeScale(picture);
    auto y = [&](int64_t t) {
        return scale.y(static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX)));
    };
    auto px = [&](size_t x) { return layout.column[x]; };
    const int32_t width = k <= 200 ? 2 : 1;

    // Every branch from its node up to its parent, in the colour of its deme, cut where the
    // deme changes.
    std::vector<int32_t> parent(nodes, -1);
    for (size_t e = 0; e < events; ++e)
        parent[static_cast<size_t>(left[e])] = parent[static_cast<size_t>(right[e])] =
            k + static_cast<int32_t>(e);
    std::vector<DrawLine> marks;
    for (size_t x = 0; x + 1 < nodes; ++x) {
        const int32_t top = generation[static_cast<size_t>(parent[x])];
        int64_t from = generation[x];
        int32_t deme = demes.bottom[x];
        const int32_t at = px(x);
        for (const BranchDemes::Change* c = demes.changesBegin(static_cast<int32_t>(x));
             c != demes.changesEnd(static_cast<int32_t>(x)); ++c) {
            const int64_t to = std::min<int64_t>(c->generation, top);
            sink.line({at, y(from), at, y(to), demeColour(deme), width});
            const int32_t ym = y(to);
            marks.push_back({at - kMoveMarkSize, ym - kMoveMarkSize, at + kMoveMarkSize,
                             ym + kMoveMarkSize, kMoveMarkColour, 1});
            marks.push_back({at - kMoveMarkSize, ym + kMoveMarkSize, at + kMoveMarkSize,
                             ym - kMoveMarkSize, kMoveMarkColour, 1});
            from = to;
            deme = c->deme;
        }
        sink.line({at, y(from), at, y(top), demeColour(deme), width});
    }
    std::vector<int32_t> coalLabels;
    auto readable = [](std::vector<int32_t>& written, int32_t at) {
        for (int32_t w : written)
            if (std::abs(static_cast<int64_t>(w) - at) < kLabelSpacing) return false;
        written.push_back(at);
        return true;
    };
    for (size_t e = 0; e < events; ++e) {
        const size_t x = static_cast<size_t>(k) + e;
        const int32_t ye = y(generation[x]);
        sink.line({px(static_cast<size_t>(left[e])), ye, px(static_cast<size_t>(right[e])), ye,
                   demeColour(demes.bottom[x]), width});
        if (readable(coalLabels, ye - 10))
            sink.text({510, ye - 10, coalescenceLabel(generation[x]), kBlue, kLabelFont});
    }
    for (const DrawLine& m : marks)
        sink.line(m);
    std::vector<int32_t> mutLabels;
    for (const auto& [i, node] : layout.mutationNode) {
        const int32_t at = px(static_cast<size_t>(node));
        const int32_t g = picture.tree.mutationTime[static_cast<size_t>(i)];
        const int32_t ym = y(g);
        sink.line({at - 4, ym, at + 4, ym, kRed, 3});
        if (readable(mutLabels, ym - 10))
            sink.text({5, ym - 10, std::to_string(g), kRed, kLabelFont});
    }

    // The tips' groups: each run of tips of one deme underlined in its colour, and named
    // below where the name (about 6 pixels a letter) fits before the next run.
    std::vector<size_t> runs; // the first tip of every run, and the end
    for (size_t j = 0; j < order.size(); ++j)
        if (j == 0 || demes.bottom[static_cast<size_t>(order[j])] !=
                          demes.bottom[static_cast<size_t>(order[j - 1])])
            runs.push_back(j);
    runs.push_back(order.size());
    int32_t freeFrom = 0;
    for (size_t r = 0; r + 1 < runs.size(); ++r) {
        const int32_t deme = demes.bottom[static_cast<size_t>(order[runs[r]])];
        const int32_t x1 = px(static_cast<size_t>(order[runs[r]])) - 2;
        const int32_t x2 = px(static_cast<size_t>(order[runs[r + 1] - 1])) + 2;
        sink.line({x1, kDemeGroupY, x2, kDemeGroupY, demeColour(deme), 3});
        if (deme < 0 || deme >= demeCount) continue;
        const std::string& name = (*picture.demeNames)[static_cast<size_t>(deme)];
        const auto textWidth = static_cast<int32_t>(6 * name.size());
        const int32_t room =
            r + 2 < runs.size() ? px(static_cast<size_t>(order[runs[r + 1]])) - 2 : kImageWidth;
        if (x1 >= freeFrom && x1 + textWidth <= room) {
            sink.text({x1, kDemeGroupY + 2, name, demeColour(deme), kLabelFont});
            freeFrom = x1 + textWidth + 4;
        }
    }

    // The legend, to the right of the tree.
    const int32_t legendX = kImageWidth + 8;
    sink.text({legendX, 8, "Demes", kBlack, kLabelFont});
    for (int32_t d = 0; d < demeCount; ++d) {
        const int32_t at = 28 + 16 * d;
        if (at > kImageHeight - 20) break;
        sink.line({legendX, at + 7, legendX + 16, at + 7, demeColour(d), 8});
        sink.text(
            {legendX + 22, at, (*picture.demeNames)[static_cast<size_t>(d)], kBlack, kLabelFont});
    }

    sink.text({250, 510, "TMRCA = " + std::to_string(generation[nodes - 1]), kBlack, kTmrcaFont});
}

} // namespace

std::vector<int32_t> demeColumns(const GenealogyPicture& picture) {
    return drawnInDemes(picture) ? demeLayout(picture).column : std::vector<int32_t>();
}

bool drawnInDemes(const GenealogyPicture& p) {
    const GeneTree& t = p.tree;
    const int32_t k = t.leaves;
    if (!p.demes || k < 2) return false;
    if (p.demes->nodes() != 2 * k - 1 || p.demes->first.size() != static_cast<size_t>(2 * k) ||
        t.nodeCount() != 2 * k - 1)
        return false;
    // One tree, its merges in time order.
    for (int32_t x = k + 1; x < t.nodeCount(); ++x)
        if (t.time[static_cast<size_t>(x)] < t.time[static_cast<size_t>(x - 1)]) return false;
    return true;
}

int32_t generationY(int32_t t, int32_t popSize) {
    const int32_t n = std::max<int32_t>(popSize, 1);
    const double scale = static_cast<double>(490.0L / (3.0L * static_cast<long double>(n)));
    const long double y = std::trunc(kBaseline - static_cast<long double>(t) * scale);
    // Far off the image either way; keeps the value representable.
    return static_cast<int32_t>(std::clamp(y, -1.0e9L, 1.0e9L));
}

int32_t VerticalScale::y(int32_t t) const {
    const int64_t top = 3 * static_cast<int64_t>(std::max<int32_t>(popSize, 1));
    if (tmrca <= top) return generationY(t, popSize);
    // The root at y = 10, 480 pixels above the tips.
    const double scale = static_cast<double>(480.0L / static_cast<long double>(tmrca));
    const long double y = std::trunc(kBaseline - static_cast<long double>(t) * scale);
    return static_cast<int32_t>(std::clamp(y, -1.0e9L, 1.0e9L));
}

void drawGenealogy(const GenealogyPicture& picture, DrawingSink& sink) {
    if (drawnInDemes(picture)) {
        drawInDemes(picture, sink);
        return;
    }
    sink.canvas(kImageWidth, kImageHeight);
    const GeneTree& tree = picture.tree;
    const int32_t k = std::max<int32_t>(tree.leaves, 0);
    // The merges, oldest last: node k + e is merge e.
    const size_t events = std::min(tree.left.size(), static_cast<size_t>(k > 1 ? k - 1 : 0));
    auto timeOf = [&](size_t e) { return tree.time[static_cast<size_t>(k) + e]; };
    int32_t highest = 0;
    for (size_t e = 0; e < events; ++e)
        highest = std::max(highest, timeOf(e));
    const VerticalScale scale{picture.popSize, highest};
    auto y = [&](int32_t t) { return scale.y(t); };

    // A label is written unless it would overlap one written before it.
    auto readable = [](std::vector<int32_t>& written, int32_t at) {
        for (int32_t w : written)
            if (std::abs(static_cast<int64_t>(w) - at) < kLabelSpacing) return false;
        written.push_back(at);
        return true;
    };
    std::vector<int32_t> coalLabels, mutLabels;
    for (size_t e = 0; e < events; ++e) {
        const int32_t at = y(timeOf(e)) - 10;
        if (readable(coalLabels, at))
            sink.text({510, at, coalescenceLabel(timeOf(e)), kBlue, kLabelFont});
    }

    // The lineages of every level from left to right, the tips in the order of the walk, and
    // their horizontal places in units of 1/unit pixel: whole pixels up to kWholePixelTips
    // tips, fractions beyond, where trunc(500 / k) would put every tip at x = 20.
    const bool fractional = k > kWholePixelTips;
    const int64_t unit = fractional ? 1024 : 1;
    std::vector<int32_t> lineages(tree.walk.begin(), tree.walk.end());
    lineages.resize(static_cast<size_t>(k), -1);
    std::vector<int64_t> xs(static_cast<size_t>(k));
    const int64_t dx = k > 0 ? 500 / k : 0;
    for (int32_t j = 0; j < k; ++j)
        xs[static_cast<size_t>(j)] =
            fractional ? 20 * unit + (int64_t{j} + 1) * 500 * unit / k : 20 + (j + 1) * dx;
    auto px = [unit](int64_t x) { return static_cast<int32_t>(x / unit); };
    // Per node while it is a lineage: its place (the place of a lineage never changes).
    const auto nodes = static_cast<size_t>(tree.nodeCount());
    std::vector<int64_t> placeOf(nodes, 0);
    std::vector<bool> standing(nodes, false);
    for (int32_t j = 0; j < k; ++j) {
        const int32_t x = lineages[static_cast<size_t>(j)];
        if (x < 0 || static_cast<size_t>(x) >= nodes) {
            lineages.clear(); // no walk of these leaves: nothing to draw
            break;
        }
        placeOf[static_cast<size_t>(x)] = xs[static_cast<size_t>(j)];
        standing[static_cast<size_t>(x)] = true;
    }

    // Every mutation goes with the first merge at or above its generation, in their order.
    const bool withMutations = picture.drawMutations && !tree.mutationNode.empty();
    std::vector<std::vector<size_t>> atMerge(withMutations ? events : 0);
    if (withMutations) {
        std::vector<int32_t> highestSoFar(events);
        for (size_t e = 0; e < events; ++e)
            highestSoFar[e] = std::max(timeOf(e), e > 0 ? highestSoFar[e - 1] : INT32_MIN);
        for (size_t m = 0; m < tree.mutationNode.size() && m < tree.mutationTime.size(); ++m) {
            const int32_t d = tree.mutationTime[m];
            const auto e =
                static_cast<size_t>(std::lower_bound(highestSoFar.begin(), highestSoFar.end(), d) -
                                    highestSoFar.begin());
            if (d >= 1 && e < events) atMerge[e].push_back(m);
        }
    }
    // With fractional tips each lineage is one vertical line from its start to its merge
    // (k lines instead of k^2 / 2), and the mutations come last so that no later line
    // covers them.
    std::vector<int32_t> startY(fractional ? static_cast<size_t>(k) : 0, kBaseline);
    std::vector<DrawLine> ticks;
    std::vector<DrawText> tickLabels;

    int32_t yPrev = kBaseline;
    std::vector<int64_t> next;
    for (size_t e = 0; e < events && !lineages.empty(); ++e) {
        const auto n = static_cast<int32_t>(xs.size());
        // The merge's children stand side by side, the left one at j.
        const auto found = std::find(lineages.begin(), lineages.end(), tree.left[e]);
        const auto j = static_cast<int32_t>(found - lineages.begin());
        if (j + 1 >= n || lineages[static_cast<size_t>(j) + 1] != tree.right[e]) break;
        // A merge of m + 1 lineages in one generation is m merges of it, each taking the one
        // before and the next lineage to the right: the lineages j .. j + m, drawn as one join.
        int32_t m = 1;
        while (e + m < events && timeOf(e + m) == timeOf(e) &&
               tree.left[e + m] == k + static_cast<int32_t>(e) + m - 1 && j + m + 1 < n &&
               lineages[static_cast<size_t>(j + m + 1)] == tree.right[e + m])
            ++m;
        const int32_t ye = y(timeOf(e));
        if (fractional) {
            for (int32_t q = j; q <= j + m; ++q)
                sink.line({px(xs[q]), startY[q], px(xs[q]), ye, kBlack, 1});
        } else {
            for (int64_t x : xs)
                sink.line({px(x), yPrev, px(x), ye, kBlack, 1});
        }
        sink.line({px(xs[j]), ye, px(xs[j + m]), ye, kBlack, 1});

        next = xs;
        next[j] = xs[j] + (xs[j + m] - xs[j]) / 2;
        next.erase(next.begin() + j + 1, next.begin() + j + 1 + m);
        if (fractional) {
            startY[j] = ye;
            startY.erase(startY.begin() + j + 1, startY.begin() + j + 1 + m);
        }

        if (withMutations) {
            for (const size_t i : atMerge[e]) {
                const auto node = static_cast<size_t>(tree.mutationNode[i]);
                if (node >= nodes || !standing[node]) continue; // on no lineage of this level
                const int32_t x = px(placeOf[node]);
                const int32_t g = tree.mutationTime[i];
                const int32_t ym = y(g);
                const DrawLine tick{x - 4, ym, x + 4, ym, kRed, 3};
                const bool labelled = readable(mutLabels, ym - 10);
                const DrawText label{5, ym - 10, std::to_string(g), kRed, kLabelFont};
                if (fractional) {
                    ticks.push_back(tick);
                    if (labelled) tickLabels.push_back(label);
                } else {
                    sink.line(tick);
                    if (labelled) sink.text(label);
                }
            }
        }
        for (int32_t q = j; q <= j + m; ++q)
            standing[static_cast<size_t>(lineages[static_cast<size_t>(q)])] = false;
        const auto formed = static_cast<size_t>(k) + e + static_cast<size_t>(m) - 1;
        lineages[static_cast<size_t>(j)] = static_cast<int32_t>(formed);
        lineages.erase(lineages.begin() + j + 1, lineages.begin() + j + 1 + m);
        placeOf[formed] = next[j];
        standing[formed] = true;
        xs.swap(next);
        yPrev = ye;
        e += static_cast<size_t>(m - 1);
    }
    for (size_t i = 0, t = 0; i < ticks.size(); ++i) {
        sink.line(ticks[i]);
        if (t < tickLabels.size() && tickLabels[t].y == ticks[i].y1 - 10)
            sink.text(tickLabels[t++]);
    }

    const int32_t tmrca = events > 0 ? timeOf(events - 1) : 0;
    sink.text({250, 510, "TMRCA = " + std::to_string(tmrca), kBlack, kTmrcaFont});
}

} // namespace quenlith
