#include "genealogy/fast_paths.h"
#include "genealogy/genealogy.h"

#include <cmath>
#include <type_traits>

namespace quenlith {

using namespace paths;

namespace {

// The parents of A lineages, A known here: every state of the generation comes straight
// from its first one and the values are compared pair by pair.
template <int32_t A> int32_t fewParents(RunRandom& rng, int32_t n) {
    static_assert(A <= kFewLineages);
    uint32_t parents[A];
    RandomMany(rng, n, A, parents);
    return firstRepeatAmongFew(parents, A);
}

// Quiet generations: with a constant size and rate, the generations of one lineage count
// are run at once up to the first that records a coalescence or whose uniform falls below
// P, or up to `limit`. Each generation draws Random(n) for the a parents, then the
// RandomFloat of the mutation count; the states of a generation come straight from its
// first state, so one generation waits on the one before by a single multiply-add.

// Quiet generations of A lineages, A known here, taken G at a time (the states of all G
// come from the first state, so even the generations do not wait on each other). Two
// draws can give one parent only if their states differ by less than 2^32 / n, which needs
// no multiplication to test; the parents are computed only when that happens.
template <int32_t A, int32_t G>
QuietRun pairedQuietGenerations(uint32_t s, int32_t generation, int32_t limit, int32_t n,
                                uint64_t threshold) {
    static_assert(A <= kFewLineages && G * (A + 1) <= DrawJumps::kMax);
    const uint64_t range = static_cast<uint32_t>(n);
    const uint32_t window = static_cast<uint32_t>(((uint64_t{1} << 32) + range - 1) / range);
    while (limit - generation >= G) {
        // The loops are unrolled whatever the optimisation level, so that every state and
        // pair stays in a register.
        uint32_t st[G][A + 1];
        bool candidate[G], mutates[G];
        bool any = false;
#pragma GCC unroll 4
        for (int32_t g = 0; g < G; ++g) {
#pragma GCC unroll 16
            for (int32_t i = 0; i <= A; ++i) {
                const int32_t draws = g * (A + 1) + i + 1;
                st[g][i] = kDrawJumps.mul[draws] * s + kDrawJumps.add[draws];
            }
            candidate[g] = false;
#pragma GCC unroll 16
            for (int32_t i = 1; i < A; ++i)
#pragma GCC unroll 16
                for (int32_t m = 0; m < i; ++m)
                    candidate[g] |=
                        static_cast<uint32_t>(st[g][i] - st[g][m] + (window - 1)) < 2 * window - 1;
            mutates[g] = st[g][A] < threshold;
            any |= candidate[g] || mutates[g];
        }
        if (any) [[unlikely]] {
            for (int32_t g = 0; g < G; ++g) {
                int32_t j = -1;
                if (candidate[g]) {
                    uint32_t parents[A];
                    for (int32_t i = 0; i < A; ++i)
                        parents[i] = drawnValue(st[g][i], range);
                    j = firstRepeatAmongFew(parents, A);
                }
                if (j >= 0 || mutates[g])
                    return {st[g][A], generation + g + 1, j, true, mutates[g]};
            }
        }
        s = st[G - 1][A];
        generation += G;
    }
    if constexpr (G > 1) return pairedQuietGenerations<A, 1>(s, generation, limit, n, threshold);
    return {s, generation, -1, false, false};
}

} // namespace

namespace paths {

// Two and three lineages take two generations at a time (measured faster), more one.
namespace {
template <int32_t A> constexpr FewLineagePaths pathsOf() {
    return {&pairedQuietGenerations<A, (A <= 3 ? 2 : 1)>, &fewParents<A>};
}
} // namespace

const FewLineagePaths kFewLineagePaths[kFewLineages + 1] = {
    {nullptr, nullptr}, {nullptr, nullptr}, pathsOf<2>(), pathsOf<3>(), pathsOf<4>(),
    pathsOf<5>(),       pathsOf<6>(),       pathsOf<7>(), pathsOf<8>()};

uint32_t repeatCutoff(int32_t a, int32_t n) {
    const double nn = static_cast<double>(n);
    const double aa = static_cast<double>(a);
    return static_cast<uint32_t>(std::max(1.0, 32 * nn * nn / (aa * aa)));
}

bool manyLineages(int32_t a, int32_t n) {
    return n >= 2 && static_cast<int64_t>(a) * a >= 128 * static_cast<int64_t>(n);
}

QuietPath quietPathFor(int32_t a, int32_t n) {
    if (a <= kFewLineages) return QuietPath::Paired;
    if (static_cast<uint32_t>(n) <= kStampLimit)
        return 2 * static_cast<int64_t>(a) * a <= n ? QuietPath::Stamped : QuietPath::None;
    return a <= kHashedLineages ? QuietPath::Hashed : QuietPath::None;
}

} // namespace paths

template <bool Hashed>
QuietRun GenealogySimulator::stampedQuietGenerations(uint32_t s, int32_t generation, int32_t limit,
                                                     int32_t a, int32_t n, uint64_t threshold) {
    using Stamp = std::conditional_t<Hashed, uint8_t, uint16_t>;
    const uint64_t range = static_cast<uint32_t>(n);
    parents_.resize(static_cast<size_t>(a));
    // Exact: a stamp per parent. Hashed: parent v has the stamp of slot v >> shift.
    uint32_t shift = 0;
    Stamp* stamps;
    size_t slots;
    Stamp epoch;
    if constexpr (Hashed) {
        while (((range - 1) >> shift) >= kHashedSlots)
            ++shift;
        if (hashedStamps_.size() < kHashedSlots) hashedStamps_.assign(kHashedSlots, 0);
        stamps = hashedStamps_.data();
        slots = hashedStamps_.size();
        epoch = hashedEpoch_;
    } else {
        epoch = nextStampEpoch(static_cast<uint32_t>(n));
        stamps = stamps_.data();
        slots = stamps_.size();
    }
    while (generation < limit) {
        ++generation;
        if (++epoch == 0) [[unlikely]] {
            std::fill(stamps, stamps + slots, 0);
            epoch = 1;
        }
        const uint32_t first = s;
        bool repeated = false;
        s = forEachRunState(s, a, [&](int32_t, uint32_t state) {
            const uint32_t slot = drawnValue(state, range) >> shift;
            repeated |= stamps[slot] == epoch;
            stamps[slot] = epoch;
        });
        s = kDrawJumps.mul[1] * s + kDrawJumps.add[1]; // the uniform
        const bool mutates = s < threshold;
        if (repeated || mutates) [[unlikely]] {
            int32_t j = -1;
            if (repeated) {
                // Draw the generation's parents again to find the smallest repeated one
                // (with hashed stamps, whether one repeats at all).
                if constexpr (Hashed) {
                    hashedEpoch_ = epoch;
                } else {
                    stampEpoch_ = epoch;
                }
                RunRandom again(first);
                RandomMany(again, n, a, parents_.data());
                const uint32_t smallest =
                    Hashed ? smallestRepeatedHashed(parents_.data(), a)
                           : smallestRepeated(parents_.data(), a, static_cast<uint32_t>(n));
                j = firstOccurrence(parents_.data(), a, smallest);
                if constexpr (!Hashed) epoch = stampEpoch_;
            }
            if (j >= 0 || mutates) {
                if constexpr (Hashed) {
                    hashedEpoch_ = epoch;
                } else {
                    stampEpoch_ = epoch;
                }
                return {s, generation, j, true, mutates};
            }
        }
    }
    if constexpr (Hashed) {
        hashedEpoch_ = epoch;
    } else {
        stampEpoch_ = epoch;
    }
    return {s, generation, -1, false, false};
}

template QuietRun GenealogySimulator::stampedQuietGenerations<false>(uint32_t, int32_t, int32_t,
                                                                     int32_t, int32_t, uint64_t);
template QuietRun GenealogySimulator::stampedQuietGenerations<true>(uint32_t, int32_t, int32_t,
                                                                    int32_t, int32_t, uint64_t);

namespace {

// The jump of `draws` draws of the run generator: s -> mul * s + add.
struct Jump {
    uint32_t mul, add;
};
constexpr Jump jumpOf(int32_t draws) {
    Jump j{1, 0};
    for (int32_t i = 0; i < draws; ++i)
        j = {j.mul * kDrawJumps.mul[1], j.add * kDrawJumps.mul[1] + kDrawJumps.add[1]};
    return j;
}

// Lanes of 32-bit states, as many as the widest vector unit the build targets holds.
typedef uint32_t StateLanes __attribute__((vector_size(32)));
constexpr int32_t kLanes = 8;
constexpr int32_t kVectors = 4; // independent vectors, so that the multiplies overlap
constexpr int32_t kStride = kLanes * kVectors;

// The states below `stateCutoff` among those of `count` draws after s, stored in `out`
// (in no particular order); returns how many. The states go kStride at a time, lane l of
// vector v holding draw v * kLanes + l of the stride, each lane advanced by the jump of
// kStride draws. A chunk of kChunk strides only keeps the smallest state of every lane;
// the rare chunk with a state below the cutoff is gone through again lane by lane. Built
// for AVX2 too, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
int32_t
statesBelow(uint32_t s, int32_t count, uint32_t stateCutoff, uint32_t* out) {
    constexpr int32_t kChunk = 8;
    constexpr int32_t kChunkDraws = kChunk * kStride;
    int32_t kept = 0;
    int32_t done = 0;
    if (count >= kChunkDraws) {
        StateLanes lanes[kVectors];
        uint32_t st = s;
        for (int32_t v = 0; v < kVectors; ++v)
            for (int32_t l = 0; l < kLanes; ++l) {
                st = kDrawJumps.mul[1] * st + kDrawJumps.add[1];
                lanes[v][l] = st;
            }
        constexpr Jump stride = jumpOf(kStride);
        for (; done + kChunkDraws <= count; done += kChunkDraws) {
            StateLanes start[kVectors];
            StateLanes smallest = lanes[0];
            for (int32_t v = 0; v < kVectors; ++v)
                start[v] = lanes[v];
            for (int32_t c = 0; c < kChunk; ++c)
                for (int32_t v = 0; v < kVectors; ++v) {
                    smallest = lanes[v] < smallest ? lanes[v] : smallest;
                    lanes[v] = lanes[v] * stride.mul + stride.add;
                }
            uint32_t least = smallest[0];
            for (int32_t l = 1; l < kLanes; ++l)
                least = std::min(least, static_cast<uint32_t>(smallest[l]));
            if (least < stateCutoff) [[unlikely]] {
                for (int32_t c = 0; c < kChunk; ++c)
                    for (int32_t v = 0; v < kVectors; ++v) {
                        for (int32_t l = 0; l < kLanes; ++l) {
                            out[kept] = start[v][l];
                            kept += start[v][l] < stateCutoff;
                        }
                        start[v] = start[v] * stride.mul + stride.add;
                    }
            }
        }
        s = runStateAfter(s, static_cast<uint64_t>(done));
    }
    forEachRunState(s, count - done, [&](int32_t, uint32_t state) {
        out[kept] = state;
        kept += state < stateCutoff;
    });
    return kept;
}

} // namespace

int32_t GenealogySimulator::repeatBelowCutoff(RunRandom& rng, int32_t a, int32_t n) {
    // Among a draws from n parents about a^2 / (2 n) pairs share a parent, spread evenly
    // over the parents, so the smallest repeated parent lies far below n. Only the draws
    // below the cutoff are kept; a repeat among them is the smallest repeat of all the
    // draws.
    const uint32_t cutoff = repeatCutoff(a, n);
    const uint64_t range = static_cast<uint32_t>(n);
    // A draw is below the cutoff exactly when its state is below ceil(c 2^32 / n) (at most
    // 2^30, as c <= n / 4), so the value needs computing only for the draws that are kept.
    const uint32_t stateCutoff =
        static_cast<uint32_t>(((uint64_t{cutoff} << 32) + range - 1) / range);
    uint32_t* low = parents_.data();
    const uint32_t s = rng.state();
    const int32_t count = statesBelow(s, a, stateCutoff, low);
    for (int32_t i = 0; i < count; ++i)
        low[i] = drawnValue(low[i], range);
    rng.setState(runStateAfter(s, static_cast<uint64_t>(a)));
    return repeatAmongLow(low, count, cutoff);
}

int32_t GenealogySimulator::drawParents(RunRandom& rng, int32_t a, int32_t n) {
    parents_.resize(static_cast<size_t>(a));
    // Many more lineages than the square root of the parents: repeats are certain, and the
    // smallest is found among the few smallest draws. Should none of those repeat, the
    // generation is drawn again below from the same state.
    if (manyLineages(a, n)) {
        const RunRandom start = rng;
        const int32_t j = repeatBelowCutoff(rng, a, n);
        if (j >= 0) return j;
        rng = start;
    }
    uint32_t* draws = parents_.data();
    const uint32_t range = n < 1 ? 1u : static_cast<uint32_t>(n);
    if (range > kStampLimit) {
        RandomMany(rng, n, a, draws);
        return firstOccurrence(draws, a, smallestRepeatedAny(draws, a, range));
    }
    // Up to kStampLimit parents every parent holds the number of the last generation that
    // drew it, so nothing needs clearing between generations and the draws are checked as
    // they are made.
    const uint16_t epoch = nextStampEpoch(range);
    uint16_t* stamps = stamps_.data();
    const uint64_t values = n > 0 ? static_cast<uint32_t>(n) : 0; // Random(n <= 0) is 0
    uint32_t smallestTwice = kNoRepeat;
    rng.setState(forEachRunState(rng.state(), a, [&](int32_t i, uint32_t state) {
        const uint32_t v = drawnValue(state, values);
        draws[i] = v;
        if (stamps[v] == epoch) smallestTwice = std::min(smallestTwice, v);
        stamps[v] = epoch;
    }));
    return firstOccurrence(draws, a, smallestTwice);
}

} // namespace quenlith
