#pragma once
// The microsatellite run: for every simulation, every locus of the parameter file gets its
// own genealogy in 2N gene copies, an ancestral size and mutations under the chosen allele
// model; the run writes the per-genealogy files per locus, the genotype table and the
// Arlequin project per simulation, and the summary table at the end.
#include "run/run_kind.h"

#include <memory>

namespace quenlith {

// The microsatellite kind of run for `slice` of the run `p`.
std::unique_ptr<RunKind> makeMsatKind(const RunParameters& p, const RunSlice& slice,
                                      const KindFiles& files);

} // namespace quenlith
