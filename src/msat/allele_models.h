#pragma once
// Allele sizes of one microsatellite locus: the size draw from the locus's range, the
// three mutation models, and the diversity statistics of a locus.
#include "base/random.h"
#include "genealogy/gene_tree.h"
#include "msat/msat_types.h"

#include <cstdint>
#include <vector>

namespace quenlith {

// A size from MinSize, MinSize + RepeatUnit, ... below MaxSize (MinSize when the range is
// empty): o := Random(MaxSize - MinSize) until o mod RepeatUnit = 0. A repeat unit of 0
// gives "Division by zero".
// Rng is RunRandom or StreamRandom (instantiated for both), here and below.
template <typename Rng> int32_t DrawSizeInRange(const MsatLocusParams& locus, Rng& rng);

// One stepwise mutation: one RandomFloat; above 0.5 the size grows by RepeatUnit,
// otherwise (0.5 included) it shrinks by it. Sizes are not bounded by the range.
template <typename Rng>
int32_t StepwiseMutate(int32_t size, const MsatLocusParams& locus, Rng& rng);

// Applies the mutations of locus `l` (0-based) of the tree t to its column of `sizes`, from
// the oldest mutation to the most recent; each gives the copies below its lineage (each in
// the row of its leaf) one new size, taken from the size of the first of them in the walk. Under
// the infinite alleles model the new size is the largest size the locus has had so far plus
// RepeatUnit, and nothing is drawn; `largestSoFar` carries that size (start it at the ancestral
// size).
template <typename Rng>
void applyLocusMutations(const GeneTree& t, MsatModel model, const MsatLocusParams& locus,
                         int32_t l, AlleleSizes& sizes, int32_t& largestSoFar, Rng& rng);

struct LocusDiversity {
    int32_t alleleCount = 0;  // distinct sizes among the k copies
    double geneDiversity = 0; // k / (k - 1) * (1 - sum of squared allele frequencies)
};

// Diversity of locus `l` (0-based) over the k copies of `sizes` (k >= 2).
LocusDiversity locusDiversity(const AlleleSizes& sizes, int32_t l, std::vector<int32_t>& scratch);

} // namespace quenlith
