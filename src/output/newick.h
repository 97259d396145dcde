#pragma once
// Newick line of a genealogy: leaves named by their row, branch lengths in generations.
#include "genealogy/gene_tree.h"

#include <string>
#include <vector>

namespace quenlith {

// Appends the tree text followed by ";" and CR LF, every leaf named by its row.
void appendNewickLine(const GeneTree& t, std::string& out);

// Appends the tree text followed by ";" alone, each leaf named rowNames[row] (rowNames holds
// one name per row), or by its row number when `rowNames` is null.
void appendNewickTree(const GeneTree& t, const std::vector<std::string>* rowNames,
                      std::string& out);

} // namespace quenlith
