#include "output/pairing.h"

#include <cstddef>

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

template std::vector<int32_t> drawPairingOrder(int32_t, RunRandom&);
template std::vector<int32_t> drawPairingOrder(int32_t, StreamRandom&);

} // namespace quenlith
