#pragma once
// The simulations a run makes and how: the whole run 1 .. SimCount, or a slice A .. A + B - 1
// of a streams run, numbered as in the whole run.
#include <cstdint>

namespace quenlith {

struct RunSlice {
    bool streams = false; // false: the 32-bit generator, one stream for the whole run
    uint64_t seed = 0;
    int32_t first = 1;
    int32_t count = 0;
    int32_t threads = 1; // worker threads (streams only)
    bool events = false; // streams: genealogies by the event-driven engine
    int32_t last() const { return first + count - 1; }
};

} // namespace quenlith
