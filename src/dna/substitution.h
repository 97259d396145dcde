#pragma once
// Substitution models and the scatter of a genealogy's mutation events over the sample
// sequences, with the segregating-site counts.
#include "base/random.h"
#include "dna/substitution_model.h"
#include "genealogy/gene_tree.h"

#include <string>
#include <vector>

namespace quenlith {

// k copies of L sites, stored copy by copy (copy i holds the leaf of row i).
struct SampleSequences {
    int32_t length = 0;
    int32_t copies = 0;
    std::vector<char> data;
    std::vector<int32_t> hitSites; // sites hit by at least one mutation, in first-hit order
    std::vector<bool> siteHit;
    std::string filledFrom; // the root the rows were last reset to

    // k copies of the root. The rows of the last reset to the same root and k differ from
    // it only at hitSites (every change of a base goes through ScatterMutations), so when
    // those are few against the length (a store per site against a copy of whole rows) only
    // they are restored.
    void reset(const std::string& root, int32_t k);
    char* copy(int32_t i) { return data.data() + static_cast<size_t>(i) * length; }
    const char* copy(int32_t i) const { return data.data() + static_cast<size_t>(i) * length; }
    char at(int32_t site, int32_t i) const { return copy(i)[site]; }
};

// The base change of one model. Results are lower-case; bytes other than a, c, g, t
// (either case) are returned unchanged.
class BaseChanger {
  public:
    BaseChanger(SubstitutionModel model, double freqA, double freqC, double freqG, double tiTv);
    template <typename Rng> char change(char old, Rng& rng) const;

  private:
    struct Bands {
        int32_t total = 0;         // T: the draw is Random(T)
        long double upper[3] = {}; // exclusive upper bounds of the three bands
        char target[3] = {};
    };
    SubstitutionModel model_;
    int32_t k2pTransitions_ = 0; // b = Trunc(100 R)
    Bands bands_[4];             // F81 and HKY85, indexed by a, c, g, t
};

// Applies all mutation events, oldest first: a site is drawn, the model changes the base of
// the lineage's first copy (first in the tree's walk), and every copy below the lineage
// receives the new base, each in the row of its leaf.
template <typename Rng>
void ScatterMutations(const GeneTree& t, SampleSequences& seqs, const BaseChanger& model, Rng& rng);

// Number of sites at which some copy differs from copy 0 (exact bytes).
int32_t countFiniteSegSites(const SampleSequences& seqs);

} // namespace quenlith
