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

void drawGenealogy(const GenealogyPicture& picture, DrawingSink& sink) {
    static const std::vector<CoalEvent> noCoalescence;
    static const std::vector<MutEvent> noMutation;
    const std::vector<CoalEvent>& coal = picture.coalEvents ? *picture.coalEvents : noCoalescence;
    const std::vector<MutEvent>& muts = picture.mutEvents ? *picture.mutEvents : noMutation;
    const int32_t k = std::max<int32_t>(picture.sampleSize, 0);
    const size_t events = std::min(coal.size(), static_cast<size_t>(k > 1 ? k - 1 : 0));
    auto y = [&](int32_t t) { return generationY(t, picture.popSize); };

    for (size_t e = 0; e < events; ++e)
        sink.text({510, y(coal[e].generation) - 10, coalescenceLabel(coal[e].generation), kBlue,
                   kLabelFont});

    std::vector<int32_t> xs(static_cast<size_t>(k));
    const int32_t dx = k > 0 ? 500 / k : 0;
    for (int32_t j = 0; j < k; ++j)
        xs[static_cast<size_t>(j)] = 20 + (j + 1) * dx;

    const bool withMutations = picture.drawMutations && !muts.empty();
    const auto byInterval = withMutations ? mutationsByInterval(coal, events, muts)
                                          : std::vector<std::vector<int32_t>>();

    int32_t yPrev = kBaseline;
    std::vector<int32_t> next;
    for (size_t e = 0; e < events; ++e) {
        const int32_t n = static_cast<int32_t>(xs.size());
        const int32_t j = coal[e].first;
        if (j < 0 || j + 1 >= n) break; // not a genealogy of this sample
        const int32_t ye = y(coal[e].generation);
        for (int32_t x : xs)
            sink.line({x, yPrev, x, ye, kBlack, 1});
        sink.line({xs[j], ye, xs[j + 1], ye, kBlack, 1});

        next = xs;
        next[j] = xs[j] + (xs[j + 1] - xs[j]) / 2;
        next.erase(next.begin() + j + 1);

        if (withMutations) {
            for (int32_t i : byInterval[e]) {
                const MutEvent& m = muts[static_cast<size_t>(i)];
                if (m.position < 0 || m.position >= n) continue; // no such lineage
                const int32_t x = xs[static_cast<size_t>(m.position)];
                const int32_t ym = y(m.generation);
                sink.line({x - 4, ym, x + 4, ym, kRed, 3});
                sink.text({5, ym - 10, std::to_string(m.generation), kRed, kLabelFont});
            }
        }
        xs.swap(next);
        yPrev = ye;
    }

    const int32_t tmrca = events > 0 ? coal[events - 1].generation : 0;
    sink.text({250, 510, "TMRCA = " + std::to_string(tmrca), kBlack, kTmrcaFont});
}

} // namespace quenlith
