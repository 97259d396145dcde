#pragma once
// The event-driven genealogy: the same process as GenealogySimulator's generation walk (every
// lineage draws a parent among N copies, the lineages on one parent merge by the walk's
// MergeRule, a binomial number of mutation events per generation), drawn at the cost of its
// events instead of its generations.
//
// With a lineages among N copies a generation holds a repeated parent with probability
// q_a = 1 - prod_{i=1}^{a-1} (1 - i/N). The generations up to the next one with a repeat are
// drawn at once (geometric with q_a), and that generation's parents are drawn conditionally
// on holding a repeat; the merge rule is then applied to them as the walk applies it. A
// generation without a repeat merges nothing under either rule, so the stretch is the same
// for both. Mutation
// events are a Bernoulli(p) process over the (generation, lineage draw) slots of the walk,
// drawn by its geometric gaps; each event falls on a uniformly drawn lineage of its
// generation. The walk's draws are not reproduced: the two agree in distribution.
#include "base/limits.h"
#include "genealogy/genealogy.h"
#include "genealogy/genealogy_engine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace quenlith {

class EventGenealogySimulator {
  public:
    // As GenealogySimulator::simulate: fills g, reads and changes popSize under the
    // fluctuating size, calls onCoalescence once per generation that merges, throws RunStopped once
    // `stop` is set and "Range check error" when the genealogy would pass lastGeneration. With a
    // per-generation mutation probability (gamma rates) whose law mutation.gamma describes, a
    // StreamRandom run skips the generations without a mutation too (gammaStretch in the
    // source); otherwise each generation calls mutation.perGeneration(rng) first, as the walk
    // does, and only the coalescences skip. Rng is StreamRandom or PlainRunRandom.
    template <typename Rng>
    void simulate(Genealogy& g, int32_t k, int32_t& popSize, const Demography& demography,
                  const MutationProbability& mutation, Rng& rng,
                  const std::function<void()>& onCoalescence,
                  const std::atomic<bool>* stop = nullptr);

    int32_t lastGeneration = kLargestCount;
    MergeRule mergers = MergeRule::One;

    // q_a for a lineages among n copies (n <= 1 as 1 copy), without cancellation at large n.
    static long double repeatProbability(int32_t a, int32_t n);

    // The parents of one generation of a lineages among n copies (2 <= a <= n), drawn
    // conditionally on holding a repeated parent, as a merging stretch ends.
    template <typename Rng>
    const std::vector<uint32_t>& repeatingGeneration(Rng& rng, int32_t a, int32_t n) {
        drawRepeatingGeneration(rng, a, n);
        return parents_;
    }

  private:
    template <typename Rng> void drawRepeatingGeneration(Rng& rng, int32_t a, int32_t n);
    // Distinct values of Random(n) into parents_[0 .. count - 1] (count <= n).
    template <typename Rng> void drawDistinct(Rng& rng, int32_t count, int32_t n);

    std::vector<uint32_t> parents_;
    std::vector<uint32_t> seen_; // open-addressing set of values + 1 (0: empty)
    LineageOrder lineageOrder_;
    // j of the walk's rule on parents_, or -1.
    int32_t mergePosition();
    // j of the first merge of `mergers` on parents_ (under All, every merge in
    // mergePositions_; parents_ is then sorted), or -1.
    int32_t mergeRule();
    std::vector<int32_t> mergePositions_;
    // Fills logDistinct_ and repeat_ up to a for n copies (n >= 2, a <= n).
    void prepareSize(int32_t a, int32_t n);
    // Per m: the log of the probability that m draws from prefixN_ copies are distinct, and
    // q_m, one minus that probability.
    std::vector<long double> logDistinct_, repeat_;
    int32_t prefixN_ = -1;
};

} // namespace quenlith
