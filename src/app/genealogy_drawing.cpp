#include "app/genealogy_drawing.h"

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

// For every event, the indexes of the mutations drawn in the interval that ends at it
// (t_prev < d <= t_e), in record order.
std::vector<std::vector<int32_t>> mutationsByInterval(const std::vector<CoalEvent>& coal,
                                                      size_t events,
                                                      const std::vector<MutEvent>& muts) {
    std::vector<std::vector<int32_t>> byInterval(events);
    auto previous = [&](size_t e) { return e == 0 ? 0 : coal[e - 1].generation; };
    bool ascending = true;
    for (size_t e = 1; e < events; ++e)
        if (coal[e].generation < coal[e - 1].generation) ascending = false;
    if (ascending) {
        // Intervals are disjoint: the first event at or above d owns the mutation.
        for (size_t i = 0; i < muts.size(); ++i) {
            const int32_t d = muts[i].generation;
            auto it =
                std::lower_bound(coal.begin(), coal.begin() + static_cast<std::ptrdiff_t>(events),
                                 d, [](const CoalEvent& c, int32_t g) { return c.generation < g; });
            const size_t e = static_cast<size_t>(it - coal.begin());
            if (e < events && d > previous(e)) byInterval[e].push_back(static_cast<int32_t>(i));
        }
    } else {
        // Event tables from no simulation: test every interval as written.
        for (size_t e = 0; e < events; ++e)
            for (size_t i = 0; i < muts.size(); ++i)
                if (previous(e) < muts[i].generation && muts[i].generation <= coal[e].generation)
                    byInterval[e].push_back(static_cast<int32_t>(i));
    }
    return byInterval;
}

} // namespace

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
    static const std::vector<CoalEvent> noCoalescence;
    static const std::vector<MutEvent> noMutation;
    const std::vector<CoalEvent>& coal = picture.coalEvents ? *picture.coalEvents : noCoalescence;
    const std::vector<MutEvent>& muts = picture.mutEvents ? *picture.mutEvents : noMutation;
    const int32_t k = std::max<int32_t>(picture.sampleSize, 0);
    const size_t events = std::min(coal.size(), static_cast<size_t>(k > 1 ? k - 1 : 0));
    int32_t highest = 0;
    for (size_t e = 0; e < events; ++e)
        highest = std::max(highest, coal[e].generation);
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
        const int32_t at = y(coal[e].generation) - 10;
        if (readable(coalLabels, at))
            sink.text({510, at, coalescenceLabel(coal[e].generation), kBlue, kLabelFont});
    }

    // Horizontal positions in units of 1/unit pixel: whole pixels up to kWholePixelTips tips,
    // fractions beyond, where trunc(500 / k) would put every tip at x = 20.
    const bool fractional = k > kWholePixelTips;
    const int64_t unit = fractional ? 1024 : 1;
    std::vector<int64_t> xs(static_cast<size_t>(k));
    const int64_t dx = k > 0 ? 500 / k : 0;
    for (int32_t j = 0; j < k; ++j)
        xs[static_cast<size_t>(j)] =
            fractional ? 20 * unit + (int64_t{j} + 1) * 500 * unit / k : 20 + (j + 1) * dx;
    auto px = [unit](int64_t x) { return static_cast<int32_t>(x / unit); };

    const bool withMutations = picture.drawMutations && !muts.empty();
    const auto byInterval = withMutations ? mutationsByInterval(coal, events, muts)
                                          : std::vector<std::vector<int32_t>>();
    // With fractional tips each lineage is one vertical line from its start to its merge
    // (k lines instead of k^2 / 2), and the mutations come last so that no later line
    // covers them.
    std::vector<int32_t> startY(fractional ? static_cast<size_t>(k) : 0, kBaseline);
    std::vector<DrawLine> ticks;
    std::vector<DrawText> tickLabels;

    int32_t yPrev = kBaseline;
    std::vector<int64_t> next;
    for (size_t e = 0; e < events; ++e) {
        const int32_t n = static_cast<int32_t>(xs.size());
        const int32_t j = coal[e].first;
        if (j < 0 || j + 1 >= n) break; // not a genealogy of this sample
        // A merge of m + 1 lineages in one generation is m events of it at position j: the
        // lineages j .. j + m, drawn as one join.
        int32_t m = 1;
        while (e + m < events && coal[e + m].generation == coal[e].generation &&
               coal[e + m].first == j && j + m + 1 < n)
            ++m;
        const int32_t ye = y(coal[e].generation);
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
            // The generation's mutations belong to its first event.
            for (int32_t i : byInterval[e]) {
                const MutEvent& m = muts[static_cast<size_t>(i)];
                if (m.position < 0 || m.position >= n) continue; // no such lineage
                const int32_t x = px(xs[static_cast<size_t>(m.position)]);
                const int32_t ym = y(m.generation);
                const DrawLine tick{x - 4, ym, x + 4, ym, kRed, 3};
                const bool labelled = readable(mutLabels, ym - 10);
                const DrawText label{5, ym - 10, std::to_string(m.generation), kRed, kLabelFont};
                if (fractional) {
                    ticks.push_back(tick);
                    if (labelled) tickLabels.push_back(label);
                } else {
                    sink.line(tick);
                    if (labelled) sink.text(label);
                }
            }
        }
        xs.swap(next);
        yPrev = ye;
        e += static_cast<size_t>(m - 1);
    }
    for (size_t i = 0, t = 0; i < ticks.size(); ++i) {
        sink.line(ticks[i]);
        if (t < tickLabels.size() && tickLabels[t].y == ticks[i].y1 - 10)
            sink.text(tickLabels[t++]);
    }

    const int32_t tmrca = events > 0 ? coal[events - 1].generation : 0;
    sink.text({250, 510, "TMRCA = " + std::to_string(tmrca), kBlack, kTmrcaFont});
}

} // namespace quenlith
