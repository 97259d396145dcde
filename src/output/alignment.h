#pragma once
// The sequence file: one block per simulation in the layout chosen in the window
// ("Clustal", "Nexus", "Fasta" or "MrBayes"), copies named by number or, when diploid, by
// the individual they are paired into.
#include "base/deme_groups.h"
#include "dna/substitution.h"
#include "output/output_format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

struct AlignmentLayout {
    OutputFormat format = OutputFormat::Nexus;
    SubstitutionModel model = SubstitutionModel::JC69; // the MrBayes block's nst
    bool gammaRates = false;                           // the MrBayes block's rates=gamma
    // A run with a demographic model: the copies lie deme by deme and are named by their
    // deme and their number in it, NAME_i_s (diploid NAME_j_i_s, j the individual of the
    // deme; the Fasta layout's individuals NAME_j_s).
    const DemeGroups* demes = nullptr;
};

// Appends the block of simulation s (1-based). `pairingOrder` is the permutation of the
// copy numbers 1 .. k for a diploid run, null for a haploid one.
void appendAlignmentBlock(const SampleSequences& seqs, int32_t s,
                          const std::vector<int32_t>* pairingOrder, const AlignmentLayout& layout,
                          std::string& out);

// Appends the sites of copy `column` (0-based), a to z upper-cased, other bytes unchanged.
void appendSequenceText(const SampleSequences& seqs, int32_t column, std::string& out);

// `text` right-justified in `width` characters with leading blanks; a longer text whole.
std::string rightJustified(const std::string& text, size_t width);

} // namespace quenlith
