#include "base/random.h"

#include <chrono>

namespace quenlith {

uint32_t clockSeed() {
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(ticks);
}

} // namespace quenlith
