#pragma once
// The paths of the generation loop (GenealogySimulator::simulate) that rest on the run
// generator's congruential algebra: states computed ahead, draws taken back. Each gives the
// draws, events and final state of the plain step (generation_step.h); genealogy.h tells
// which path runs when. The member functions of GenealogySimulator that these paths use
// are defined in fast_paths.cpp.
#include "base/random.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace quenlith {

// How a run of quiet generations ended.
struct QuietRun {
    uint32_t state;     // the generator after the last generation's uniform
    int32_t generation; // the last generation run
    int32_t j;          // its coalescence, or -1
    bool stopped;       // false: the generation limit was reached first
    bool mutates;       // its uniform fell below the probability of any mutation
};

namespace paths {

// Up to this many lineages the parents are compared pair by pair.
inline constexpr int32_t kFewLineages = 8;

// Up to this many parents, repeats are found with a stamp per parent.
inline constexpr uint32_t kStampLimit = 1u << 17;

// Beyond kStampLimit parents the quiet generations of up to kHashedLineages lineages share
// kHashedSlots one-byte stamps.
inline constexpr uint32_t kHashedSlots = 1u << 15;
inline constexpr int32_t kHashedLineages = 64;

// Parent values are below 2^31, so the largest uint32_t means "no repeat".
inline constexpr uint32_t kNoRepeat = std::numeric_limits<uint32_t>::max();

// The index, in ascending order, of the first occurrence of `value` among the draws: the
// number of draws below it; -1 when there is no repeat.
inline int32_t firstOccurrence(const uint32_t* draws, int32_t a, uint32_t value) {
    if (value == kNoRepeat) return -1;
    int32_t j = 0;
    for (int32_t i = 0; i < a; ++i)
        j += draws[i] < value;
    return j;
}

// j of the first occurrence, in ascending order, of the smallest value drawn more than
// once, or -1 when all values differ.
inline int32_t firstRepeatAmongFew(const uint32_t* v, int32_t a) {
    bool repeated = false;
    for (int32_t i = 1; i < a; ++i)
        for (int32_t m = 0; m < i; ++m)
            repeated |= v[i] == v[m];
    if (!repeated) return -1;
    uint32_t smallestTwice = kNoRepeat;
    for (int32_t i = 1; i < a; ++i)
        for (int32_t m = 0; m < i; ++m)
            if (v[i] == v[m]) smallestTwice = std::min(smallestTwice, v[i]);
    return firstOccurrence(v, a, smallestTwice);
}

// The two paths of A <= kFewLineages lineages, chosen once per lineage count from one table.
struct FewLineagePaths {
    QuietRun (*quiet)(uint32_t s, int32_t generation, int32_t limit, int32_t n, uint64_t threshold);
    int32_t (*parents)(RunRandom& rng, int32_t n);
};

extern const FewLineagePaths kFewLineagePaths[kFewLineages + 1];

// The cutoff below which the smallest repeat of a draws from n parents is looked for when
// a^2 >= 128 n: about 16 pairs are expected below it, and it is at most n / 4.
uint32_t repeatCutoff(int32_t a, int32_t n);
// Whether repeats are certain enough for the cutoff: a^2 >= 128 n.
bool manyLineages(int32_t a, int32_t n);

// The quiet path that suits a lineages among n parents, if any.
enum class QuietPath { None, Paired, Stamped, Hashed };
QuietPath quietPathFor(int32_t a, int32_t n);

} // namespace paths
} // namespace quenlith
