#include "genealogy/generation_step.h"
#include "genealogy/genealogy.h"

#include <algorithm>

namespace quenlith {

namespace {

// The parents of a lineages, sorted, and the merges they give.
template <typename Rng>
void plainMerges(Rng& rng, int32_t a, int32_t n, MergeRule rule, std::vector<int32_t>& merges) {
    std::vector<uint32_t> parents(static_cast<size_t>(a));
    for (uint32_t& v : parents)
        v = static_cast<uint32_t>(rng.Random(n));
    if (rule == MergeRule::All) {
        allMergerPositions(parents.data(), a, merges);
        return;
    }
    merges.clear();
    std::sort(parents.begin(), parents.end());
    const auto tie = std::adjacent_find(parents.begin(), parents.end());
    if (tie != parents.end()) merges.push_back(static_cast<int32_t>(tie - parents.begin()));
}

} // namespace

template <typename Rng>
void plainGeneration(Rng& rng, int32_t a, int32_t n, const MutationProbability& mutation,
                     MergeRule rule, GenerationEvents& out) {
    plainMerges(rng, a, n, rule, out.merges);
    const long double p = mutation.perGeneration ? mutation.perGeneration(rng) : mutation.constant;
    const long double u = rng.RandomFloat();
    const long double any = probabilityOfAny(a, p);
    out.mutations.clear();
    long double s = 0;
    for (int32_t c = 1; c <= a && u < any - s; ++c) {
        out.mutations.push_back(rng.Random(a));
        s += binomialTerm(a, c, p);
    }
}

template void plainGeneration(RunRandom&, int32_t, int32_t, const MutationProbability&, MergeRule,
                              GenerationEvents&);
template void plainGeneration(StreamRandom&, int32_t, int32_t, const MutationProbability&,
                              MergeRule, GenerationEvents&);
template void plainGeneration(PlainRunRandom&, int32_t, int32_t, const MutationProbability&,
                              MergeRule, GenerationEvents&);

} // namespace quenlith
