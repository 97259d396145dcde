#pragma once
// The invariants of a complete genealogy, checked from its events alone: the tests and the
// fuzz targets run every engine's genealogies through it.
#include "genealogy/genealogy.h"

#include <string>

namespace quenlith {

// Empty when `g` is sound, otherwise the first fault found: the k - 1 merges join
// neighbouring lineages present at their generation, in generations that never go back, and
// build the recorded children and leaf ranges (so every copy lies under the root once and
// every node is at least as old as its children); every mutation falls in a generation up to
// the TMRCA, on a position present at the start of its generation and, where nodes are
// recorded, on the node standing at that position then; and its tree passes treeFault.
std::string genealogyFault(const Genealogy& g);

} // namespace quenlith
