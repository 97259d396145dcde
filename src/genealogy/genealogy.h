#pragma once
// One simulated genealogy, built generation by generation backwards in time: every lineage
// draws a parent among N gene copies and the lineages that drew one parent merge, by one of
// two rules (MergeRule): the smallest parent drawn twice merges two neighbouring lineages (at
// most one merge per generation), or every set of lineages on one parent merges into one; a
// binomial number of mutation events falls on the lineages of every generation.
//
// Lineages are identified by their position in the ordered list of current lineages, as in
// the event tables. Internally every lineage is also a node of a tree: leaves 0 .. k-1, and
// node k + e is the ancestor formed by coalescence event e. Because merges always join
// neighbours, the leaves under a node are a contiguous range of sample copies.
#include "base/limits.h"
#include "base/random.h"
#include "genealogy/genealogy_engine.h"
#include "genealogy/lineage_order.h"
#include "genealogy/mutation_draw.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace quenlith {

// The events of one generation under MergeRule::All, from its draws (sorted in place): per
// parent drawn m > 1 times, m - 1 positions, each the number of distinct parents below it
// (the sets below have collapsed), in ascending parent order. Returns whether any merges.
bool allMergerPositions(uint32_t* draws, int32_t a, std::vector<int32_t>& positions);

struct CoalEvent {
    int32_t generation;
    int32_t first;  // position j of the first merging lineage
    int32_t second; // j + 1
};

struct MutEvent {
    int32_t generation;
    int32_t position; // position of the mutated lineage at the start of that generation
};

struct Genealogy {
    int32_t SampleSize = 0;
    int32_t Generation = 0;
    std::vector<CoalEvent> CoalEvents;
    std::vector<MutEvent> MutEvents;
    // Node carrying each mutation (parallel to MutEvents); empty for a genealogy read back
    // from the matrix files.
    std::vector<int32_t> mutationNodes;
    // Per node (2k - 1 of them): the first and last sample copy below it.
    std::vector<int32_t> leafLo, leafHi;
    // Per coalescence event e: the two nodes it joined (node k + e is their parent).
    std::vector<int32_t> childA, childB;

    int32_t MutEventCount() const { return static_cast<int32_t>(MutEvents.size()); }
    // Generation of the last coalescence (0 without events).
    int32_t tmrca() const { return CoalEvents.empty() ? 0 : CoalEvents.back().generation; }
    // The merge of the lineages at positions j and j + 1 in `generation`: its event, its node
    // (taking the lineages' place in `order`) and the node's children and leaves.
    void recordMerge(int32_t generation, int32_t j, LineageOrder& order);
    // The merges of one generation by `rule`: the one at j, or (MergeRule::All) one at each of
    // `positions`. Returns the number of lineages they took away.
    int32_t recordMerges(int32_t generation, MergeRule rule, int32_t j,
                         const std::vector<int32_t>& positions, LineageOrder& order);
    // k sample copies and no event yet: every leaf its own range.
    void startSample(int32_t k);
    // Rebuilds the tree (children and leaf ranges) from CoalEvents alone.
    void rebuildTree();
};

// Fluctuating population size.
struct Demography {
    bool fluctuating = false;
    int32_t growthStart = 0;
    int32_t growthEnd = 0;
    double changePercent = 0;
    // The microsatellite path forms N + c/100 * N as one extended expression; the DNA path
    // stores d = c/100 * N and then N + d as doubles before truncating.
    bool singleExpression = false;
};

// Applies one generation's change of the fluctuating size to n.
int32_t fluctuatedSize(int32_t n, double changePercent, bool singleExpression);

struct QuietRun;

// The generation loop. Every path gives the draws, the events and the final generator state
// of the plain step (generation_step.h), for every seed; each is compared with a replay of
// that step on random inputs (tests/genealogy/generation_loop_test.cpp). The paths that rest
// on the congruential algebra are in fast_paths.cpp, the lineage order in lineage_order.h,
// the mutation count in mutation_draw.h.
//
// Which path runs when (RunRandom only, except where said):
// - Quiet generations: a constant size and rate and rare repeats. A stretch of generations
//   of one lineage count runs at once, up to the first that merges or whose uniform falls
//   below P (the threshold test on the uniform's state needs no extended arithmetic), in
//   stretches of kStopCheckGenerations when a stop flag is given:
//   - a <= kFewLineages (8): pairedQuietGenerations, the draws compared pair by pair on
//     their states (no parent computed unless two states lie within 2^32 / N);
//   - N <= kStampLimit (2^17) and 2 a^2 <= N: stamps, one per parent (2 bytes each,
//     256 KiB at most, in the second-level cache);
//   - N > kStampLimit and a <= kHashedLineages (64): hashed stamps, one per slot of
//     kHashedSlots (2^15 bytes, in the first-level cache), parent v in slot v >> shift. A
//     slot drawn twice is only a candidate (about a^2 / 2^16 of the generations); the
//     generation is then drawn again from its first state and checked exactly.
// - Otherwise generation by generation (a fluctuating size, a per-generation rate, many
//   lineages, the last generation allowed):
//   - a <= 8: the states of the generation straight from its first state, compared pair by
//     pair;
//   - a^2 >= 128 N (repeats certain): repeatBelowCutoff keeps only the draws below
//     c = 32 N^2 / a^2, where about 16 pairs are expected, so that the smallest repeat lies
//     among them in all but about e^-16 of the generations; the generation is drawn again
//     in full only then. The states are scanned eight lanes to a vector (statesBelow),
//     each lane jumping 32 draws a step, since only about 32 N / a of them are kept;
//   - otherwise every draw is stored and checked: a stamp per parent up to 2^17 parents, a
//     bit per parent up to 2^24, a hash table beyond.
//   Any other generator (StreamRandom) takes these paths with its draws made one by one.
// - The mutation count: the probability of any event and its state threshold are kept per
//   rate and lineage count (PreparedRates); a rate drawn afresh every generation
//   (gamma) is compared first with the bound a p >= P, so that P itself, in extended
//   precision, is worked out only for the uniforms that can lie below it.
// - MergeRule::All: every path above tells whether a generation repeats a parent; one that
//   does is drawn again from its first state in full (RunRandom's quiet paths step back
//   the a + 1 draws of the generation) and its sets of equal parents found by sorting.
// - Lineages are found by position and merged in O(log k) (LineageOrder: a bit per slot of
//   the sample and a Fenwick tree of the counts of 64 slots, small enough for the
//   second-level cache at k = 10^6).
//
// Tuning constants: kStampLimit and kHashedSlots from the cache sizes (a 2-byte stamp per
// parent fits the second-level cache up to 2^17 parents; 2^15 one-byte stamps fill the
// 32 KiB first-level data cache); kHashedLineages keeps candidates of the hashed stamps
// rare (below 1/16 of the generations); 128 N and c = 32 N^2 / a^2 from the expected
// number of pairs below the cutoff (a^2 c / 2 N^2). The figures of the paths are in
// bench/README.md (scenarios S1, G1 to G3).

// Runs the generation loop of one genealogy. Scratch memory is kept between calls.
class GenealogySimulator {
  public:
    // popSize is read and changed by the fluctuating size. onCoalescence is called once
    // per generation that records events (after all of them). When `stop` is given and becomes
    // true, the simulation throws RunStopped within kStopCheckGenerations generations.
    //
    // Rng is RunRandom, StreamRandom or PlainRunRandom (instantiated in genealogy.cpp): it
    // offers Random(n), RandomFloat() and state(), the 32-bit word of the last draw. With
    // RunRandom the loop also takes the paths that rest on the congruential algebra (states
    // computed ahead, draws taken back); every generator gets the same draws in the same order.
    template <typename Rng>
    void simulate(Genealogy& g, int32_t k, int32_t& popSize, const Demography& demography,
                  const MutationProbability& mutation, Rng& rng,
                  const std::function<void()>& onCoalescence,
                  const std::atomic<bool>* stop = nullptr);

    // Which lineages of a generation merge.
    MergeRule mergers = MergeRule::One;

    // How often a long genealogy looks at its stop flag.
    static constexpr int32_t kStopCheckGenerations = 4096;

    // Generation is a 32-bit counter: a genealogy that reaches this generation before its
    // most recent common ancestor stops the run with "Range check error" rather than wrap
    // round. Tests lower it.
    int32_t lastGeneration = kLargestCount;

  private:
    // Draws the parents of a > 8 lineages; returns j of the first occurrence of the
    // smallest value drawn more than once, or -1.
    int32_t drawParents(RunRandom& rng, int32_t a, int32_t n);
    // The parents of a lineages when repeats are plentiful (a^2 >= 128 n): j, or -1 when no
    // repeat lies below the cutoff, the generator then being past the draws.
    int32_t repeatBelowCutoff(RunRandom& rng, int32_t a, int32_t n);
    // j among the `count` draws below `cutoff` of a generation, or -1.
    int32_t repeatAmongLow(const uint32_t* low, int32_t count, uint32_t cutoff);
    // j among draws already made of Random(n), or -1; for generators whose draws cannot
    // be computed ahead.
    int32_t repeatAmongDraws(const uint32_t* draws, int32_t a, int32_t n);
    // Quiet generations of a lineages, their repeats found by stamps, one per parent or
    // (Hashed) one per slot of parents (see fast_paths.cpp).
    template <bool Hashed>
    QuietRun stampedQuietGenerations(uint32_t s, int32_t generation, int32_t limit, int32_t a,
                                     int32_t n, uint64_t threshold);
    // A fresh stamp for the parents 0 .. range - 1.
    uint16_t nextStampEpoch(uint32_t range);
    // The smallest value among the draws that occurs more than once, or the largest
    // uint32_t: by a stamp per parent (range <= 2^17), or for any range by the path that
    // suits it, or by a hash table.
    uint32_t smallestRepeated(const uint32_t* draws, int32_t a, uint32_t range);
    uint32_t smallestRepeatedAny(const uint32_t* draws, int32_t a, uint32_t range);
    uint32_t smallestRepeatedHashed(const uint32_t* draws, int32_t a);

    std::vector<uint32_t> parents_;
    std::vector<uint32_t> low_;    // the draws below the cutoff, for repeatAmongDraws
    std::vector<uint16_t> stamps_; // per parent: the last generation (mod 2^16) that drew it
    uint16_t stampEpoch_ = 0;
    std::vector<uint8_t> hashedStamps_; // per slot of parents (mod 2^8)
    uint8_t hashedEpoch_ = 0;
    std::vector<uint64_t> seenBits_;  // one bit per parent, for moderate N
    std::vector<uint64_t> hashSlots_; // (stamp << 32 | value) for large N
    uint32_t hashStamp_ = 0;
    LineageOrder lineageOrder_;
    PreparedRates preparedRates_;
    std::vector<int32_t> mergePositions_; // the events of a generation under MergeRule::All
};

} // namespace quenlith
