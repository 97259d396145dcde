#pragma once
// PairingOrder: a random permutation of the copy numbers 1 .. k by which copies are paired
// into diploid individuals (positions 2i and 2i + 1 form individual i + 1).
#include "base/random.h"

#include <cstdint>
#include <vector>

namespace quenlith {

// Draws by rejection: v := Random(k + 1) until v is neither 0 nor already taken.
// Rng is RunRandom or StreamRandom (instantiated for both).
template <typename Rng> std::vector<int32_t> drawPairingOrder(int32_t k, Rng& rng);

// A uniformly random numbering of k copies: out[i] is the number (0 .. k-1) given to copy i,
// by the Fisher-Yates shuffle, k - 1 draws of Random(j + 1) for j = k - 1 down to 1.
void drawCopyNumbers(int32_t k, StreamRandom& rng, std::vector<int32_t>& out);

} // namespace quenlith
