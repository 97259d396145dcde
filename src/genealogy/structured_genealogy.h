#pragma once
// Genealogies of samples taken from several demes of a demographic history, in whole
// generations backwards in time. The history is given already rounded to generations
// (DiscreteHistory); the simulation is exact in distribution to the generation-by-generation
// process below, but its cost follows the events, not the generations.
//
// One generation, from the copies of generation t to their parents at generation t + 1:
// 1. the copies sampled at t join; a copy in a deme whose start is t moves to one of its
//    ancestors (by the proportions); the pulses of time t move a copy of their destination
//    to each source with that source's proportion, in the order of the model;
// 2. migration: a copy in deme d moves to deme s with the rate of the migration from s into
//    d at generation t + 1;
// 3. within each deme, every copy draws a parent among the deme's copies of generation
//    t + 1 (its size function evaluated at t + 1, rounded to whole copies); the smallest
//    parent drawn more than once merges the first two copies (in the order of the lineage
//    list) that drew it: at most one merge per deme and generation (MergeRule::One); or
//    every set of copies that drew one parent merges into one (MergeRule::All).
// Mutation events fall afterwards, as in a run of one population: in every generation a
// binomial number of events on the lineages alive at its start (placeMutations).
//
// Stretches of generations over which nothing of the history changes are crossed at once:
// the generations until the next one with a migration or a repeated parent are geometric,
// and that generation is drawn conditionally on holding one (see structured_genealogy.cpp).
#include "base/limits.h"
#include "genealogy/branch_demes.h"
#include "genealogy/genealogy.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quenlith {

inline constexpr int64_t kForeverGeneration = std::numeric_limits<int64_t>::max();

enum class SizeFunction { Constant, Exponential, Linear };

// One epoch of a deme: generations t with end < t <= the epoch's start (the previous
// epoch's end, or the deme's start). The size at t follows the function between startSize
// at time startTime and endSize at time endTime (model times in generations, unrounded).
struct DiscreteEpoch {
    int64_t end = 0;
    SizeFunction function = SizeFunction::Constant;
    double startSize = 1, endSize = 1;
    double startTime = std::numeric_limits<double>::infinity(), endTime = 0;
};

struct DiscreteDeme {
    std::string name;
    // Its copies have parents in generations end < t <= start (start: kForeverGeneration for
    // a deme without ancestors).
    int64_t start = kForeverGeneration;
    int64_t end = 0;
    std::vector<int32_t> ancestors;
    std::vector<double> proportions;
    std::vector<DiscreteEpoch> epochs; // oldest first
};

// A copy in `dest` draws its parent in `source` with probability `rate`, for the parents of
// generations end < t <= start.
struct DiscreteMigration {
    int32_t source = 0, dest = 0;
    int64_t start = kForeverGeneration, end = 0;
    double rate = 0;
};

// At time `time`, a copy in `dest` moves to sources[i] with probability proportions[i].
struct DiscretePulse {
    int64_t time = 0;
    int32_t dest = 0;
    std::vector<int32_t> sources;
    std::vector<double> proportions;
};

struct DiscreteHistory {
    std::vector<DiscreteDeme> demes;
    std::vector<DiscreteMigration> migrations;
    std::vector<DiscretePulse> pulses; // in the model's order
    int32_t ploidy = 2;                // copies per individual

    // The copies of deme d at generation t: ploidy times its size there, rounded; 0 outside
    // the deme's generations.
    int64_t copies(int32_t d, int64_t t) const;
    // The epoch of deme d holding generation t, or -1.
    int32_t epochAt(int32_t d, int64_t t) const;
    // An error text when the history cannot be simulated (a size that rounds below one copy,
    // migration rates into a deme summing above 1, proportions above 1, indices out of range),
    // empty otherwise.
    std::string check() const;
};

// A sampled copy: its deme and the generation it was sampled in.
struct StructuredSample {
    int32_t deme = 0;
    int64_t generation = 0;
};

// The genealogy as a tree: leaves 0 .. k - 1 are the samples in the order given; internal
// nodes k, k + 1, ... in the order of their merges.
struct StructuredTree {
    int32_t leaves = 0;
    std::vector<int64_t> time;        // per node: the generation of its copy (leaves: sampled)
    std::vector<int32_t> deme;        // per node: the deme of its copy
    std::vector<int32_t> parent;      // per node, -1 for the root
    std::vector<int32_t> left, right; // per internal node (index node - leaves): its children
    // A lineage that changed deme: the copy above `node` at generation `generation` moved
    // from `from` to `to` (before its parent at generation + 1 was drawn).
    struct Move {
        int32_t node;
        int64_t generation;
        int32_t from, to;
    };
    std::vector<Move> moves;

    int32_t root() const { return static_cast<int32_t>(time.size()) - 1; }
    int64_t tmrca() const { return time.empty() ? 0 : time.back(); }
};

class StructuredSimulator {
  public:
    // Simulates the genealogy of `samples` under `history`. Rng offers Random(n),
    // RandomFloat() and state() (the 32-bit word of the last draw). Throws RunError when the
    // lineages can never meet or pass `lastGeneration`, RunStopped when `stop` becomes true.
    template <typename Rng>
    void simulate(const DiscreteHistory& history, const std::vector<StructuredSample>& samples,
                  Rng& rng, StructuredTree& tree, const std::atomic<bool>* stop = nullptr);

    int64_t lastGeneration = kLargestCount;
    MergeRule mergers = MergeRule::One;

  private:
    struct Lineage {
        int32_t node;
        int32_t deme;
    };
    std::vector<Lineage> lineages_;
    std::vector<int64_t> parents_;
    std::vector<int32_t> inDeme_;
};

// The tree as a Genealogy of the writers: the leaves renumbered in the order of a walk of the
// tree, in which every merge joins neighbouring lineages; `order[i]` is the sample (index in
// the samples given) that became copy i. Mutation events: in every generation g, a binomial
// number (the lineages alive at its start, probability p) of events, each on a lineage drawn
// uniformly; the events of a stretch of T generations with a lineages are drawn at once,
// Binomial(a T, p) on distinct (generation, draw) places. `demes`, when given, receives the
// deme history of every node's branch (the tree's moves), numbered as in g.
template <typename Rng>
void structuredGenealogy(const StructuredTree& tree, long double p, Rng& rng, Genealogy& g,
                         std::vector<int32_t>& order, BranchDemes* demes = nullptr);

// The copy (1-based) that holds each sample: the inverse of that order.
std::vector<int32_t> sampleRows(const std::vector<int32_t>& order);

} // namespace quenlith
