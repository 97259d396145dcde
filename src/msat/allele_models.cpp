#include "msat/allele_models.h"
#include "base/limits.h"

#include "base/run_error.h"

#include <algorithm>
#include <string>

namespace quenlith {

namespace {

// A size that leaves the 32-bit range cannot be stored: the run stops with a range error
// instead of wrapping round to a meaningless size.
int32_t checkedSize(int64_t size) {
    if (size > int64_t{kLargestCount} || size < int64_t{kSmallestInt32})
        throw RunError("Range check error",
                       "allele size " + std::to_string(size) + " leaves the 32-bit range");
    return static_cast<int32_t>(size);
}

} // namespace

template <typename Rng> int32_t DrawSizeInRange(const MsatLocusParams& locus, Rng& rng) {
    const int32_t span = locus.MaxSize - locus.MinSize;
    for (;;) {
        const int32_t o = rng.Random(span);
        if (locus.RepeatUnit == 0)
            throw RunError("Division by zero", "RepeatUnit 0 in the size draw");
        if (o % locus.RepeatUnit == 0) return locus.MinSize + o;
    }
}

template <typename Rng>
int32_t StepwiseMutate(int32_t size, const MsatLocusParams& locus, Rng& rng) {
    const long double u = rng.RandomFloat();
    if (u > 0.5L) return checkedSize(static_cast<int64_t>(size) + locus.RepeatUnit);
    return checkedSize(static_cast<int64_t>(size) - locus.RepeatUnit);
}

template <typename Rng>
void applyLocusMutations(const GeneTree& t, MsatModel model, const MsatLocusParams& locus,
                         int32_t l, AlleleSizes& sizes, int32_t& largestSoFar, Rng& rng) {
    for (size_t m = t.mutationNode.size(); m-- > 0;) {
        const auto node = static_cast<size_t>(t.mutationNode[m]);
        const int32_t lo = t.first[node];
        const int32_t hi = t.last[node];
        const int32_t current = sizes.at(t.rowAt(lo), l);
        int32_t next = current;
        switch (model) {
        case MsatModel::RandomAlleles:
            next = DrawSizeInRange(locus, rng);
            break;
        case MsatModel::Stepwise:
            next = StepwiseMutate(current, locus, rng);
            break;
        case MsatModel::InfiniteAlleles:
            next = checkedSize(static_cast<int64_t>(largestSoFar) + locus.RepeatUnit);
            break;
        }
        largestSoFar = std::max(largestSoFar, next);
        if (t.inOrder) {
            for (int32_t c = lo; c <= hi; ++c)
                sizes.at(c, l) = next;
        } else {
            for (int32_t c = lo; c <= hi; ++c)
                sizes.at(t.rowAt(c), l) = next;
        }
    }
}

#define QUENLITH_INSTANTIATE(Rng)                                                                  \
    template int32_t DrawSizeInRange(const MsatLocusParams&, Rng&);                                \
    template int32_t StepwiseMutate(int32_t, const MsatLocusParams&, Rng&);                        \
    template void applyLocusMutations(const GeneTree&, MsatModel, const MsatLocusParams&, int32_t, \
                                      AlleleSizes&, int32_t&, Rng&);
QUENLITH_INSTANTIATE(RunRandom)
QUENLITH_INSTANTIATE(StreamRandom)
#undef QUENLITH_INSTANTIATE

LocusDiversity locusDiversity(const AlleleSizes& sizes, int32_t l, std::vector<int32_t>& sorted) {
    const int32_t k = sizes.copies;
    sorted.resize(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        sorted[static_cast<size_t>(i)] = sizes.at(i, l);
    std::sort(sorted.begin(), sorted.end());

    LocusDiversity d;
    long double sumOfSquares = 0;
    size_t runStart = 0;
    for (size_t i = 1; i <= sorted.size(); ++i) {
        if (i == sorted.size() || sorted[i] != sorted[runStart]) {
            const long double p = static_cast<long double>(i - runStart) / k;
            sumOfSquares += p * p;
            ++d.alleleCount;
            runStart = i;
        }
    }
    const long double kk = k;
    d.geneDiversity = static_cast<double>(kk / (kk - 1) * (1 - sumOfSquares));
    return d;
}

} // namespace quenlith
