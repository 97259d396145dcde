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

// Binomial count of mutation events per generation by inversion, with the probability of
// at least one event cached per lineage count.
class MutationDraw {
  public:
    // Draws this generation's events: one RandomFloat, then one Random(a) per event.
    // Calls onEvent(position) for each event, in draw order.
    template <typename OnEvent>
    void draw(RunRandom& rng, int32_t a, long double p, OnEvent&& onEvent) {
        long double u = rng.RandomFloat();
        long double atLeastOne = probabilityOfAny(a, p);
        if (!(u < atLeastOne)) return;
        long double s = 0;
        for (int32_t c = 1; c <= a && u < atLeastOne - s; ++c) {
            onEvent(rng.Random(a));
            s += binomialTerm(a, c, p);
        }
    }

    long double probabilityOfAny(int32_t a, long double p);
    // C(a, c) p^c (1 - p)^(a - c).
    long double binomialTerm(int32_t a, int32_t c, long double p);

  private:
    long double factorial(int32_t n);
    int32_t cachedA_ = -1;
    long double cachedP_ = -1;
    long double cachedAny_ = 0;
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

  private:
    // Draws the parents of a lineages; returns j of the first occurrence of the smallest
    // value drawn more than once, or -1.
    int32_t drawParents(RunRandom& rng, int32_t a, int32_t n);

    std::vector<uint32_t> parents_;
    std::vector<uint64_t> seenBits_;  // one bit per parent, for moderate N
    std::vector<uint64_t> hashSlots_; // (stamp << 32 | value) for large N
    uint32_t hashStamp_ = 0;
    std::vector<int32_t> positions_; // node at each current position
    MutationDraw mutationDraw_;
};

} // namespace quenlith
