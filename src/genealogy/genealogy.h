#pragma once
// One simulated genealogy, built generation by generation backwards in time: every lineage
// draws a parent among N gene copies; the smallest parent drawn twice merges two
// neighbouring lineages (at most one merge per generation); a binomial number of mutation
// events falls on the lineages of every generation.
//
// Lineages are identified by their position in the ordered list of current lineages, as in
// the event tables. Internally every lineage is also a node of a tree: leaves 0 .. k-1, and
// node k + e is the ancestor formed by coalescence event e. Because merges always join
// neighbours, the leaves under a node are a contiguous range of sample copies.
#include "run/random.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace quenlith {

// `count` successive draws of rng.Random(n), stored in out[0 .. count - 1]: the same values
// in the same order, and the generator left in the same state, as `count` calls. Within a
// block of up to eight draws every state is computed from the block's first state with
// jump-ahead constants (state_j = A^j s + (A^(j-1) + ... + 1)), so the draws of a block do
// not wait on each other.
inline void RandomMany(RunRandom& rng, int32_t n, int32_t count, uint32_t* out) {
    // The generator's congruence, state := state * 134775813 + 1 (run/random.h).
    constexpr uint32_t kMultiplier = 134775813u, kIncrement = 1u;
    constexpr int32_t kBlock = 8;
    struct Jumps {
        uint32_t mul[kBlock + 1];
        uint32_t add[kBlock + 1];
    };
    static constexpr Jumps kJumps = [] {
        Jumps t{};
        t.mul[0] = 1;
        t.add[0] = 0;
        for (int32_t j = 1; j <= kBlock; ++j) {
            t.mul[j] = t.mul[j - 1] * kMultiplier;
            t.add[j] = t.add[j - 1] * kMultiplier + kIncrement;
        }
        return t;
    }();
    const uint64_t range = n > 0 ? static_cast<uint32_t>(n) : 0; // Random(n <= 0) is 0
    uint32_t s = rng.state();
    while (count > 0) {
        const int32_t m = count < kBlock ? count : kBlock;
        for (int32_t j = 0; j < m; ++j) {
            const uint32_t state = kJumps.mul[j + 1] * s + kJumps.add[j + 1];
            out[j] = static_cast<uint32_t>((state * range) >> 32);
        }
        s = kJumps.mul[m] * s + kJumps.add[m];
        out += m;
        count -= m;
    }
    rng.setState(s);
}

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

    // One generation's events for the prepared a and p: one RandomFloat U, then one
    // Random(a) per event while U < P - S. Calls onEvent(position) for each event, in draw
    // order.
    template <typename OnEvent> void drawPrepared(RunRandom& rng, OnEvent&& onEvent) {
        const long double u = rng.RandomFloat();
        // U = state * 2^-32 is below P exactly when the state is below ceil(P * 2^32), so
        // most generations, which have no event, need no extended arithmetic.
        if (rng.state() >= threshold_) return;
        long double s = 0;
        for (int32_t c = 1; c <= a_ && u < any_ - s; ++c) {
            onEvent(rng.Random(a_));
            s += binomialTerm(a_, c, p_);
        }
    }

    // prepare and drawPrepared for one generation.
    template <typename OnEvent>
    void draw(RunRandom& rng, int32_t a, long double p, OnEvent&& onEvent) {
        prepare(a, p, false);
        drawPrepared(rng, onEvent);
    }

    // P = 1 - (1 - p)^a, the probability of at least one event.
    long double probabilityOfAny(int32_t a, long double p);
    // C(a, c) p^c (1 - p)^(a - c).
    long double binomialTerm(int32_t a, int32_t c, long double p);

  private:
    static constexpr uint64_t kUnknown = ~uint64_t{0};
    struct KeptRate {
        long double p = 0;
        std::vector<long double> any;    // P per lineage count
        std::vector<uint64_t> threshold; // ceil(P * 2^32) per lineage count, or kUnknown
    };
    long double factorial(int32_t n);

    int32_t a_ = -1;
    long double p_ = -1;
    long double any_ = 0;
    uint64_t threshold_ = 0;
    std::vector<KeptRate> kept_;
    size_t lastKept_ = 0, nextEviction_ = 0;
    std::vector<long double> factorials_; // 0 marks "not yet computed"
};

// Per-generation mutation probability source: a constant, or a callback that draws a
// fresh value every generation (gamma rate variation) before the mutation count.
struct MutationProbability {
    long double constant = 0;
    std::function<long double(RunRandom&)> perGeneration; // empty: use constant
};

// Runs the generation loop of one genealogy. Scratch memory is kept between calls.
class GenealogySimulator {
  public:
    // popSize is read and changed by the fluctuating size. onCoalescence is called once
    // per generation that records an event.
    void simulate(Genealogy& g, int32_t k, int32_t& popSize, const Demography& demography,
                  const MutationProbability& mutation, RunRandom& rng,
                  const std::function<void()>& onCoalescence);

    // Generation is a 32-bit counter: a genealogy that reaches this generation before its
    // most recent common ancestor stops the run with "Range check error" rather than wrap
    // round. Tests lower it.
    int32_t lastGeneration = 2147483647;

  private:
    // Draws the parents of a lineages (more than a few); returns j of the first occurrence
    // of the smallest value drawn more than once, or -1.
    int32_t drawParents(RunRandom& rng, int32_t a, int32_t n);

    std::vector<uint32_t> parents_;
    std::vector<uint64_t> seenBits_;  // one bit per parent, for moderate N
    std::vector<uint64_t> hashSlots_; // (stamp << 32 | value) for large N
    uint32_t hashStamp_ = 0;
    std::vector<int32_t> positions_; // node at each current position
    MutationDraw mutationDraw_;
};

} // namespace quenlith
