// The fuzzing entry point of one target, chosen at build time: QUENLITH_FUZZ_TARGET names
// its function and QUENLITH_FUZZ_NAME its folder. Any fault aborts, so that the engine keeps
// the input.
#include "fuzz_targets.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = quenlith::fuzz::QUENLITH_FUZZ_TARGET(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (!problem.empty()) {
        std::fprintf(stderr, "\n%s: %s\n", QUENLITH_FUZZ_NAME, problem.c_str());
        std::abort();
    }
    return 0;
}
