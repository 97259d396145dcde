#pragma once
// Where the lineages of one genealogy of a demographic model lived: per node (numbered as in
// its Genealogy: leaves in the order of the tree's walk, then the merges), the deme of its
// copy and the deme changes along its branch up to its parent.
#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

struct BranchDemes {
    // The copy above a node at `generation` moved to `deme`: the branch is in `deme` above
    // that generation (its copies of generation + 1 and later).
    struct Change {
        int64_t generation;
        int32_t deme;
        bool operator==(const Change&) const = default;
    };
    std::vector<int32_t> bottom; // per node: the deme of its copy
    std::vector<uint32_t> first; // per node + 1: its changes are changes[first[x] .. first[x + 1])
    std::vector<Change> changes; // node by node, each node's in time order

    bool empty() const { return bottom.empty(); }
    int32_t nodes() const { return static_cast<int32_t>(bottom.size()); }
    const Change* changesBegin(int32_t x) const { return changes.data() + first[x]; }
    const Change* changesEnd(int32_t x) const { return changes.data() + first[x + 1]; }
    // The deme of node x's branch at `generation` (from the node's generation up): its bottom
    // deme changed by every change below that generation.
    int32_t demeAt(int32_t x, int64_t generation) const {
        int32_t d = bottom[static_cast<size_t>(x)];
        for (const Change* c = changesBegin(x); c != changesEnd(x) && c->generation < generation;
             ++c)
            d = c->deme;
        return d;
    }
    // The deme at the top of node x's branch (where it meets its parent).
    int32_t topDeme(int32_t x) const {
        return changesBegin(x) == changesEnd(x) ? bottom[static_cast<size_t>(x)]
                                                : (changesEnd(x) - 1)->deme;
    }
};

} // namespace quenlith
