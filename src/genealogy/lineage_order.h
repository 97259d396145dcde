#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace quenlith {

// The current lineages in their order, each a node of the tree: the node at a position is
// found, and two neighbours merged into one, in O(log k). A bit per slot of the sample's k
// slots says whether it still holds a lineage, and a Fenwick tree counts the lineages of
// every 64 slots; a merge frees the slot of the right lineage.
class LineageOrder {
  public:
    // Lineages 0 .. k - 1 at positions 0 .. k - 1.
    void reset(int32_t k);
    int32_t nodeAt(int32_t position) const { return nodes_[slotAt(position)]; }
    // Puts `node` at position j in place of the lineages at j and j + 1; returns those two.
    std::pair<int32_t, int32_t> merge(int32_t j, int32_t node);

  private:
    int32_t slotAt(int32_t position) const;
    std::vector<uint64_t> occupied_; // a bit per slot
    std::vector<int32_t> count_;     // Fenwick tree of the lineages per 64 slots, 1-based
    std::vector<int32_t> nodes_;     // node in each slot
    int32_t size_ = 0, blocks_ = 0, top_ = 1;
};

} // namespace quenlith
