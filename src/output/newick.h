#pragma once
// Newick line of a genealogy: leaves named by sample index, branch lengths in generations.
#include "genealogy/genealogy.h"

#include <string>

namespace quenlith {

// Appends the tree text followed by ";" and CR LF. Needs the tree of g (childA, childB).
void appendNewickLine(const Genealogy& g, std::string& out);

} // namespace quenlith
