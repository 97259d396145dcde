#pragma once
// The microsatellite genotype table: per simulation a title line, one name line per locus,
// "POP", and one line per diploid individual with its two allele codes per locus run
// together, then an empty line. Copies are paired by PairingOrder.
#include "base/deme_groups.h"
#include "msat/msat_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

// The decimal size, with one "0" in front when the size is below 100 (7 gives "07", -3
// gives "0-3", 1234 stays "1234").
std::string alleleCode(int32_t size);

// Appends the block of one simulation (CR LF line ends). `pairingOrder` holds the copy
// numbers 1 .. k; positions 2i and 2i + 1 form individual i + 1, k div 2 individuals.
// With `demes` (a run with a demographic model, the positions deme by deme) each deme has
// a "POP" section of its own and its individuals are named NAME_j, the j-th of deme NAME.
void appendGenotypeBlock(const AlleleSizes& sizes, const std::vector<int32_t>& pairingOrder,
                         std::string& out, const DemeGroups* demes = nullptr);

} // namespace quenlith
