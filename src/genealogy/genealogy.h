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

class LineageOrder;

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

// Binomial count of mutation events per generation by inversion. The probability of at
// least one event is computed once per lineage count and rate: a rate that repeats (a
// constant rate, the loci of a parameter file) keeps its table from call to call.
class MutationDraw {
  public:
    // Sets the lineage count a and the per-lineage probability p of the draws that follow.
    // `repeats` says that p will come back, so that its table is worth keeping.
    void prepare(int32_t a, long double p, bool repeats);

    // One generation's events for the prepared a and p: one RandomFloat U, then the
    // events. Calls onEvent(position) for each event, in draw order.
    template <typename Rng, typename OnEvent> void drawPrepared(Rng& rng, OnEvent&& onEvent) {
        const long double u = rng.RandomFloat();
        // Most generations have no event; they need no extended arithmetic.
        if (!uniformBelowAny(rng.state())) return;
        drawEvents(rng, u, onEvent);
    }

    // U = state * 2^-32 is below P exactly when the state is below ceil(P * 2^32); this
    // holds for every generator whose uniform is its 32-bit word times 2^-32.
    bool uniformBelowAny(uint32_t uniformState) const { return uniformState < threshold_; }
    uint64_t anyThreshold() const { return threshold_; }

    // The events that follow a uniform U: one Random(a) per event while U < P - S, with S
    // the sum of the binomial terms of the events so far.
    template <typename Rng, typename OnEvent>
    void drawEvents(Rng& rng, long double u, OnEvent&& onEvent) {
        long double s = 0;
        for (int32_t c = 1; c <= a_ && u < any_ - s; ++c) {
            onEvent(rng.Random(a_));
            s += c == 1 ? firstTerm() : binomialTerm(a_, c, p_);
        }
    }

    // One generation's events for a probability p drawn afresh this generation: the same
    // draws and events as draw(rng, a, p, onEvent). P = 1 - (1 - p)^a never exceeds a p,
    // so a uniform well above a p has no event and needs no power: P is worked out only
    // for the uniforms that can lie below it.
    template <typename Rng, typename OnEvent>
    void drawFresh(Rng& rng, int32_t a, long double p, OnEvent&& onEvent) {
        const long double u = rng.RandomFloat();
        if (aboveBound(rng.state(), a, p)) return;
        prepare(a, p, false);
        if (!uniformBelowAny(rng.state())) return;
        drawEvents(rng, u, onEvent);
    }

    // Whether U = state * 2^-32 lies at least two units of 2^-32 above a p, for 0 <= p <= 1
    // and a >= 1. The margin covers the rounding of a p in double (below 2^-20 units) and
    // that of the extended P of prepare (forming 1 - p rounds by at most 2^-64, which the
    // power turns into at most a 2^-64, below half a unit for every 32-bit a), so U >= P
    // then holds for that P too.
    static bool aboveBound(uint32_t uniformState, int32_t a, long double p) {
        if (!(p >= 0 && p <= 1) || a < 1) return false;
        const double bound = static_cast<double>(a) * static_cast<double>(p) * 4294967296.0;
        return static_cast<double>(uniformState) >= bound + 2;
    }

    // prepare and drawPrepared for one generation.
    template <typename Rng, typename OnEvent>
    void draw(Rng& rng, int32_t a, long double p, OnEvent&& onEvent) {
        prepare(a, p, false);
        drawPrepared(rng, onEvent);
    }

    // P = 1 - (1 - p)^a, the probability of at least one event.
    long double probabilityOfAny(int32_t a, long double p);
    // C(a, c) p^c (1 - p)^(a - c).
    long double binomialTerm(int32_t a, int32_t c, long double p);

  private:
    static constexpr uint64_t kUnknown = ~uint64_t{0};
    // What is kept of one rate, per lineage count.
    struct KeptRate {
        long double p = 0;
        std::vector<long double> any;    // P
        std::vector<uint64_t> threshold; // ceil(P * 2^32), or kUnknown
        std::vector<long double> first;  // the term of one event
        std::vector<bool> firstKnown;
    };
    long double factorial(int32_t n);
    // The binomial term of one event for the prepared a and p, computed once per rate.
    long double firstTerm();

    int32_t a_ = -1;
    long double p_ = -1;
    long double any_ = 0;
    uint64_t threshold_ = 0;
    long double first_ = 0;
    bool firstKnown_ = false;
    static constexpr size_t kNoRate = ~size_t{0};
    size_t rate_ = kNoRate; // index in kept_ of the rate of a_ and p_, if it is kept
    std::vector<KeptRate> kept_;
    size_t lastKept_ = 0, nextEviction_ = 0;
    std::vector<long double> factorials_; // 0 marks "not yet computed"
    // lgamma(a + 1), log(p) and log1p(-p) of the last large a and p of binomialTerm.
    int32_t logA_ = -1;
    long double logP_ = -1, lgammaA_ = 0, logOfP_ = 0, log1mP_ = 0;
};

// Per-generation mutation probability source: a constant, or a callback that draws a
// fresh value every generation (gamma rate variation) before the mutation count. The
// callback draws from the run's generator, which it holds by reference: the generation loop
// brings that generator up to date before each call and continues from where the call left it.
struct MutationProbability {
    long double constant = 0;
    std::function<long double()> perGeneration; // empty: use constant
    // The law behind perGeneration when it is gamma rate variation of a sequence: the
    // probability 1 - (1 - min(1, u G / alpha))^length with G ~ Gamma(alpha, 1). The event-driven
    // engine draws from it directly to skip the generations without a mutation.
    struct GammaRates {
        double alpha = 0;
        long double u = 0;
        int32_t length = 0;
        bool known() const { return alpha > 0 && length > 0 && u > 0; }
    } gamma;
};

// The current lineages in their order, each a node of the tree: the node at a position is
// found, and two neighbours merged into one, in O(log k). A bit per slot of the sample's k
// slots says whether it still holds a lineage, and a Fenwick tree counts the lineages of
// every 64 slots; a merge frees the slot of the right lineage.
class LineageOrder {
  public:
    // Lineages 0 .. k - 1 at positions 0 .. k - 1.
    void reset(int32_t k);
    int32_t nodeAt(int32_t position) const { return nodes_[slotAt(position)]; }
    // Puts `node` at position j in place of the lineages at j and j + 1; returns those two.
    std::pair<int32_t, int32_t> merge(int32_t j, int32_t node);

  private:
    int32_t slotAt(int32_t position) const;
    std::vector<uint64_t> occupied_; // a bit per slot
    std::vector<int32_t> count_;     // Fenwick tree of the lineages per 64 slots, 1-based
    std::vector<int32_t> nodes_;     // node in each slot
    int32_t size_ = 0, blocks_ = 0, top_ = 1;
};

// How a run of quiet generations ended (see genealogy.cpp).
struct QuietRun {
    uint32_t state;     // the generator after the last generation's uniform
    int32_t generation; // the last generation run
    int32_t j;          // its coalescence, or -1
    bool stopped;       // false: the generation limit was reached first
    bool mutates;       // its uniform fell below the probability of any mutation
};

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
    // (Hashed) one per slot of parents (see genealogy.cpp).
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
    MutationDraw mutationDraw_;
    std::vector<int32_t> mergePositions_; // the events of a generation under MergeRule::All
};

} // namespace quenlith
