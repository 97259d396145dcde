#pragma once
// The demes of a sample drawn from a demographic model, as the files need them: the name of
// each sampled deme and its number of copies, the copies lying deme by deme (copies 1 to
// counts[0] in the first deme, the next counts[1] in the second, ...).
#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

struct DemeGroups {
    std::vector<std::string> names;
    std::vector<int32_t> counts;
    bool empty() const { return names.empty(); }

    // The deme of copy c (1-based) and its number within the deme (1-based).
    struct Place {
        size_t deme = 0;
        int32_t number = 0;
    };
    Place place(int32_t c) const {
        Place p;
        int32_t before = 0;
        while (p.deme + 1 < counts.size() && c > before + counts[p.deme])
            before += counts[p.deme++];
        p.number = c - before;
        return p;
    }
    // The first copy of deme d (0-based index).
    int32_t start(size_t d) const {
        int32_t before = 0;
        for (size_t i = 0; i < d; ++i)
            before += counts[i];
        return before;
    }
};

} // namespace quenlith
