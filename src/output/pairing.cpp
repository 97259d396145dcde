#include "output/pairing.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace quenlith {

template <typename Rng> std::vector<int32_t> drawPairingOrder(int32_t k, Rng& rng) {
    std::vector<int32_t> order;
    order.reserve(static_cast<size_t>(k));
    std::vector<bool> taken(static_cast<size_t>(k) + 1, false);
    taken[0] = true; // 0 is always rejected
    while (static_cast<int32_t>(order.size()) < k) {
        const int32_t v = rng.Random(k + 1);
        if (taken[static_cast<size_t>(v)]) continue;
        taken[static_cast<size_t>(v)] = true;
        order.push_back(v);
    }
    return order;
}

void drawCopyNumbers(int32_t k, StreamRandom& rng, std::vector<int32_t>& out) {
    out.resize(static_cast<size_t>(std::max(k, 0)));
    for (int32_t i = 0; i < k; ++i)
        out[static_cast<size_t>(i)] = i;
    for (int32_t j = k - 1; j > 0; --j)
        std::swap(out[static_cast<size_t>(j)], out[static_cast<size_t>(rng.Random(j + 1))]);
}

template std::vector<int32_t> drawPairingOrder(int32_t, RunRandom&);
template std::vector<int32_t> drawPairingOrder(int32_t, StreamRandom&);

} // namespace quenlith
