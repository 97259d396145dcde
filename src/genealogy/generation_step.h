#pragma once
// One generation of the plain algorithm, the reference that every path of the generation
// loop (GenealogySimulator::simulate) reproduces: each of the a lineages draws a parent,
// Random(N), in order; the draws are sorted and the first adjacent pair of equal values (the
// smallest parent drawn more than once) merges the lineages at positions j and j + 1, j
// being the number of draws below that value (under MergeRule::All every run of equal
// values merges, see allMergerPositions); then the rate (a fresh draw of a per-generation
// rate), one RandomFloat U and, while U < P - S, one Random(a) per mutation event (P the
// probability of any event, S the binomial terms so far).
#include "genealogy/genealogy_engine.h"
#include "genealogy/mutation_draw.h"

#include <cstdint>
#include <vector>

namespace quenlith {

struct GenerationEvents {
    std::vector<int32_t> merges;    // the position j of each merge of j and j + 1, in order
    std::vector<int32_t> mutations; // the positions of the mutated lineages, in draw order
};

// One plain generation of a lineages among n parents. Rng is RunRandom, StreamRandom or
// PlainRunRandom.
template <typename Rng>
void plainGeneration(Rng& rng, int32_t a, int32_t n, const MutationProbability& mutation,
                     MergeRule rule, GenerationEvents& out);

} // namespace quenlith
