#pragma once
// Arlequin project files (one per simulation) and the batch file that lists them.
#include "base/deme_groups.h"
#include "base/file_io.h"
#include "dna/substitution.h"
#include "msat/msat_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

// Path of the project file of simulation s, as written into the batch file:
// workDir + "/Arlequin/sim_<s>.arp".
std::string arlequinProjectPath(const std::string& workDir, int32_t s);

// Whole project file of a DNA simulation. With `pairingOrder` (diploid) the copies are
// listed in that order, two lines per individual; without it (haploid) in copy order.
// With `demes` (a run with a demographic model, the positions of the order deme by deme) the
// project holds one sample per deme, named after it, and a [[Structure]] section with one
// group of all the samples.
std::string dnaArlequinProject(const SampleSequences& seqs,
                               const std::vector<int32_t>* pairingOrder,
                               const DemeGroups* demes = nullptr);

// Whole project file of a microsatellite simulation: the allele sizes of every copy, in
// the order of `pairingOrder` (the permutation of 1 .. k drawn for the genotype table),
// one size and a blank per locus.
std::string msatArlequinProject(const AlleleSizes& sizes, const std::vector<int32_t>& pairingOrder,
                                const DemeGroups* demes = nullptr);

// Appends the project path of simulation s as one line to `batch`, then creates the
// project file and writes `project` into it whole, recorded where the batch file is.
// Failures throw RunError.
void writeArlequinProject(BlockFile& batch, const std::string& workDir, int32_t s,
                          const std::string& project);
// The two halves of writeArlequinProject: the batch line, and the project file.
void appendArlequinBatchLine(BlockFile& batch, const std::string& workDir, int32_t s);
void writeArlequinProjectFile(const std::string& workDir, int32_t s, const std::string& project,
                              WrittenFiles* written);

} // namespace quenlith
