#pragma once
// Haplotype and nucleotide diversity of the sample sequences of one simulation.
#include "dna/substitution.h"

namespace quenlith {

struct SequenceDiversity {
    double haplotype = 0;  // proportion of pairs of copies whose sequences differ
    double nucleotide = 0; // mean proportion of differing sites per pair
};

// Compares every pair of copies (bases in upper case) at the sites some mutation hit:
// every other site still holds the root's byte in all copies. Both indices are 0 with no
// site or fewer than two copies.
SequenceDiversity sequenceDiversity(const SampleSequences& seqs);

// The same indices from a comparison of every site of every pair; slow, kept as the
// reference the fast version must match bit for bit.
SequenceDiversity sequenceDiversityAllSites(const SampleSequences& seqs);

} // namespace quenlith
