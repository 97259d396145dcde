#pragma once
// The limits of the run's 32-bit counts (simulations, generations, sizes, copies, records),
// named once instead of written out where they are checked.
#include <cstdint>
#include <limits>

namespace quenlith {

inline constexpr int32_t kLargestCount = std::numeric_limits<int32_t>::max();
inline constexpr int32_t kSmallestInt32 = std::numeric_limits<int32_t>::min();

} // namespace quenlith
