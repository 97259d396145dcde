#pragma once
// Newick line of a genealogy: leaves named by sample index, branch lengths in generations.
#include "genealogy/genealogy.h"

#include <string>
#include <vector>

namespace quenlith {

// Appends the tree text followed by ";" and CR LF. Needs the tree of g (childA, childB).
void appendNewickLine(const Genealogy& g, std::string& out);

// Appends the tree text followed by ";" alone, each leaf i named labels[i] (labels holds one
// name per sample copy), or by its index when `labels` is null.
void appendNewickTree(const Genealogy& g, const std::vector<std::string>* labels, std::string& out);

} // namespace quenlith
