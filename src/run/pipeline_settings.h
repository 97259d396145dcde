#pragma once
// The run's side of the files for analysis pipelines (statistics table, VCF, ms): their
// checks before the run and the settings the writers get.
#include "output/pipeline_outputs.h"
#include "run/form_values.h"
#include "run/run_parameters.h"

#include <cstdint>
#include <string>

namespace quenlith {

// Empty when the pipeline files asked for can be written; otherwise the warning: a VCF or
// ms file in a microsatellite run. Their names are checked with every other file of the run
// before the run starts (run_start.h).
std::string checkPipelineOutputs(const RunParameters& p);

// The first line of the ms file, in ms's form: the program, the sample size, the number of
// simulations, then the seed and every quenlith-cli option of the run whose value differs
// from its default (quoted for a POSIX shell), so that the line run as a command in the
// working folder writes the same files again.
std::string msCommandLine(const FormValues& form, const RunParameters& p, uint64_t seed);

PipelineOutputSettings pipelineOutputSettings(const RunParameters& p, const FormValues& form,
                                              uint64_t seed);

} // namespace quenlith
