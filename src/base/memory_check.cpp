#include "base/memory_check.h"

#include "base/run_error.h"

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/sysinfo.h>

namespace quenlith {

uint64_t memoryLimitBytes() {
    uint64_t limit = 0;
    struct sysinfo info {};
    if (::sysinfo(&info) == 0)
        limit = (static_cast<uint64_t>(info.totalram) + info.totalswap) * info.mem_unit;
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit rl {};
        if (::getrlimit(resource, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
            limit = limit == 0 ? rl.rlim_cur : std::min<uint64_t>(limit, rl.rlim_cur);
    }
    return limit;
}

void checkFitsInMemory(double bytes, const std::string& what) {
    const uint64_t limit = memoryLimitBytes();
    if (limit == 0 || !(bytes > static_cast<double>(limit))) return;
    char sizes[96];
    std::snprintf(sizes, sizeof sizes, ": needs at least %.3g bytes, the machine has %.3g", bytes,
                  static_cast<double>(limit));
    throw RunError("Out of memory", what + sizes);
}

} // namespace quenlith
