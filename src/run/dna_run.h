#pragma once
// The DNA run: every simulation is a genealogy of the sample, with the root sequence's
// substitutions scattered on it; the run writes the per-genealogy files, the sequence file
// and the Arlequin projects per simulation, and the summary table at the end.
#include "run/run_kind.h"

#include <memory>
#include <string>

namespace quenlith {

// The DNA kind of run for `slice` of the run `p`. `rootFromFile` is the content of the root
// sequence file's sites when the run reads one, else null.
std::unique_ptr<RunKind> makeDnaKind(const RunParameters& p, const RunSlice& slice,
                                     const std::string* rootFromFile, const KindFiles& files);

} // namespace quenlith
