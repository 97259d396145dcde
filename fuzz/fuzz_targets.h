#pragma once
// The fuzz targets of Quenlith. Each takes one input and returns an empty text when the
// program behaved as it must, otherwise a description of what went wrong. The fuzzing
// entry points abort on a non-empty result; the regression test replays the inputs kept
// under tests/data/fuzz/<target>/ and expects an empty one.
//
// Input layouts:
//   msat_params    byte 0 chooses the run (bits 0-1 the allele model, bits 2-4 the number
//                  of loci, bit 5 the genotype table, bit 6 the Arlequin files); the rest
//                  is the microsatellite parameter file.
//   root_sequence  the whole input is the root sequence file of a small DNA run.
//   lenient_numbers  the whole input is the text of an edit box.
//   cli_options    the arguments of quenlith-cli, one per line; a small whole run follows
//                  when the options describe one.
//   demes_model    the whole input is a Demes model file.
//   genealogy      the input's bytes choose a sample, a size, a rate, a merge rule and a
//                  fluctuation; every engine's genealogy must pass genealogyFault.
#include <string>
#include <string_view>
#include <vector>

namespace quenlith::fuzz {

std::string msatParamsTarget(std::string_view input);
std::string rootSequenceTarget(std::string_view input);
std::string lenientNumbersTarget(std::string_view input);
std::string cliOptionsTarget(std::string_view input);
std::string demesModelTarget(std::string_view input);
std::string genealogyTarget(std::string_view input);

struct Target {
    const char* name;
    std::string (*run)(std::string_view input);
};

// Every target, by the name of its folder under tests/data/fuzz/ and fuzz/corpus/.
const std::vector<Target>& allTargets();

} // namespace quenlith::fuzz
