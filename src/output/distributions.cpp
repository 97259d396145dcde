#include "output/distributions.h"

#include "output/decimal.h"

#include <algorithm>
#include <vector>

namespace quenlith {

namespace {

// 32-bit signed arithmetic with wrap-around, as the integer tables hold it.
int32_t wrap(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

void appendRow(std::string& out, int32_t a, int32_t b) {
    appendDecimal(out, a);
    out += ',';
    appendDecimal(out, b);
    out += "\r\n";
}

} // namespace

void appendDistributionBlocks(const Genealogy& g, std::string& coal, std::string& mut) {
    const int32_t k = g.SampleSize;
    const auto& events = g.CoalEvents;
    const size_t n = events.size();

    coal += "Time of Coalescence, Total genealogy length\r\n";
    // weightsBefore[e] = W_0 + ... + W_(e-1), the accumulated intervals from t_0 to t_(e-1).
    std::vector<int32_t> weightsBefore(n + 1, 0);
    int32_t total = 0;
    for (size_t e = 0; e < n; ++e) {
        const int32_t t = events[e].generation;
        int32_t w = 0;
        if (e == 0) {
            total = wrap(static_cast<int64_t>(k) * t);
        } else {
            w = wrap(static_cast<int64_t>(k - static_cast<int32_t>(e)) *
                     (static_cast<int64_t>(t) - events[e - 1].generation));
            total = wrap(static_cast<int64_t>(total) + w);
        }
        weightsBefore[e + 1] = wrap(static_cast<int64_t>(weightsBefore[e]) + w);
        appendRow(coal, t, total);
    }

    mut += "Time of mutation, Total tree length\r\n";
    for (const MutEvent& m : g.MutEvents) {
        const int32_t d = m.generation;
        int32_t value = 0;
        if (n > 0 && d < events[0].generation) {
            value =
                wrap(static_cast<int64_t>(k) * (static_cast<int64_t>(events[0].generation) - d));
        } else if (n > 0) {
            // First event at or above d; the walk adds W_0 .. W_(e-1).
            const auto it = std::lower_bound(
                events.begin(), events.end(), d,
                [](const CoalEvent& ev, int32_t gen) { return ev.generation < gen; });
            const size_t e = static_cast<size_t>(it - events.begin());
            value = weightsBefore[std::min(e, n)];
            if (e < n && events[e].generation > d)
                value = wrap(static_cast<int64_t>(value) +
                             static_cast<int64_t>(k - static_cast<int32_t>(e)) *
                                 (static_cast<int64_t>(d) - events[e - 1].generation));
        }
        appendRow(mut, d, value);
    }
}

} // namespace quenlith
