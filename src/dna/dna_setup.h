#pragma once
// DNA set-up of a run: sequence length after invariable sites, the per-lineage mutation
// probability, the root sequence, and the gamma rate variation drawn every generation.
#include "base/gamma_variate.h"
#include "base/random.h"
#include "dna/substitution_model.h"

#include <string>
#include <string_view>

namespace quenlith {

// The values of a run that the DNA set-up reads.
struct DnaSettings {
    long double MutationRate = 0;
    int32_t SequenceLength = 0; // as typed
    bool InvarSites = false;
    double InvariableFraction = 0;
    SubstitutionModel Model = SubstitutionModel::JC69;
    double FreqA = 0, FreqC = 0, FreqG = 0;
};

struct DnaSetup {
    int32_t SequenceLength = 0;
    std::string RootSequence;
    long double SeqMutProb = 0;
    // Base frequencies as the set-up read them (all 0 when it did not read them), for the log.
    double FreqA = 0, FreqC = 0, FreqG = 0, FreqT = 0;
};

// The sites of a root sequence file: its bytes up to the end or a byte 26, without line
// breaks, blanks and tabs; every other byte unchanged.
std::string rootSitesFromFileContent(std::string_view content);

// Performs the set-up. `rootFromFile` holds the sites read from the root file when
// SeqInput is set (read before the run by the driver). Draws the random root from `rng`.
// Throws "Range check error" for a negative sequence length. Rng is RunRandom or
// StreamRandom (instantiated for both).
template <typename Rng>
DnaSetup prepareDna(const DnaSettings& p, const std::string* rootFromFile, Rng& rng);

// The gamma-scaled per-lineage probability of one generation: 1 - (1 - u G / alpha)^L, with
// the per-site probability u G / alpha taken as 1 where it passes 1.
template <typename Rng>
double gammaSeqMutProb(double alpha, long double u, int32_t length, Rng& rng);

} // namespace quenlith
