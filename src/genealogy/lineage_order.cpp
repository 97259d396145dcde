#include "genealogy/lineage_order.h"

namespace quenlith {

void LineageOrder::reset(int32_t k) {
    size_ = k;
    blocks_ = (k + 63) / 64;
    occupied_.assign(static_cast<size_t>(blocks_), ~uint64_t{0});
    if (k % 64 != 0) occupied_.back() = (uint64_t{1} << (k % 64)) - 1;
    count_.assign(static_cast<size_t>(blocks_) + 1, 0);
    for (int32_t b = 1; b <= blocks_; ++b) {
        count_[b] += b < blocks_ || k % 64 == 0 ? 64 : k % 64;
        const int32_t parent = b + (b & -b);
        if (parent <= blocks_) count_[parent] += count_[b];
    }
    top_ = 1;
    while (top_ * 2 <= blocks_)
        top_ *= 2;
    nodes_.resize(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        nodes_[i] = i;
}

namespace {

// The position of the set bit of w with r set bits below it (r < the bits set).
inline int32_t selectBit(uint64_t w, int32_t r) {
    uint64_t c = w - ((w >> 1) & 0x5555555555555555ull);
    c = (c & 0x3333333333333333ull) + ((c >> 2) & 0x3333333333333333ull);
    c = (c + (c >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    const uint64_t prefix = c * 0x0101010101010101ull; // byte i: the bits set in bytes 0..i
    int32_t byte = 0;
    while (static_cast<int32_t>((prefix >> (8 * byte)) & 0xFF) <= r)
        ++byte;
    if (byte > 0) r -= static_cast<int32_t>((prefix >> (8 * (byte - 1))) & 0xFF);
    uint32_t bits = static_cast<uint32_t>(w >> (8 * byte)) & 0xFF;
    for (; r > 0; --r)
        bits &= bits - 1;
    return 8 * byte + __builtin_ctz(bits);
}

} // namespace

int32_t LineageOrder::slotAt(int32_t position) const {
    // The block holding the lineage: the largest prefix of blocks with at most `position`
    // lineages; then the bit within it.
    int32_t block = 0, left = position;
    for (int32_t step = top_; step > 0; step /= 2) {
        const int32_t next = block + step;
        if (next <= blocks_ && count_[next] <= left) {
            block = next;
            left -= count_[next];
        }
    }
    return 64 * block + selectBit(occupied_[block], left);
}

std::pair<int32_t, int32_t> LineageOrder::merge(int32_t j, int32_t node) {
    const int32_t leftSlot = slotAt(j);
    const int32_t rightSlot = slotAt(j + 1);
    const std::pair<int32_t, int32_t> merged{nodes_[leftSlot], nodes_[rightSlot]};
    nodes_[leftSlot] = node;
    occupied_[rightSlot / 64] &= ~(uint64_t{1} << (rightSlot % 64));
    for (int32_t b = rightSlot / 64 + 1; b <= blocks_; b += b & -b)
        --count_[b];
    return merged;
}

} // namespace quenlith
