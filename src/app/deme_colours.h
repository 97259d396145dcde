#pragma once
// The colours of a model's demes, the same wherever a deme is drawn (the genealogy in its
// demes, its legend, the plots of the Results tab, the Demographics tab's picture of the
// model): Tableau 10, ten colours told apart also when printed, taken in turn by the demes
// in the model's order and again from the first for an eleventh deme.
#include <cstdint>

namespace quenlith {

// 0xRRGGBB.
inline constexpr uint32_t kDemeColours[] = {0x4E79A7, 0xF28E2B, 0xE15759, 0x76B7B2, 0x59A14F,
                                            0xEDC948, 0xB07AA1, 0xFF9DA7, 0x9C755F, 0xBAB0AC};
inline constexpr int32_t kDemeColourCount =
    static_cast<int32_t>(sizeof kDemeColours / sizeof kDemeColours[0]);

// The colour of deme d (0-based, in the model's order).
constexpr uint32_t demeColour(int32_t d) {
    return kDemeColours[(d % kDemeColourCount + kDemeColourCount) % kDemeColourCount];
}

} // namespace quenlith
