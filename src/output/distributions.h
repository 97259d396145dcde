#pragma once
// Coalescence and mutation time distributions: one block per genealogy in each file.
#include "genealogy/genealogy.h"

#include <string>

namespace quenlith {

// Appends the coalescence block (header, then "t,G" per event) to coal and the mutation
// block (header, then "d,M" per mutation) to mut. All arithmetic is 32-bit, wrapping.
void appendDistributionBlocks(const Genealogy& g, std::string& coal, std::string& mut);

} // namespace quenlith
