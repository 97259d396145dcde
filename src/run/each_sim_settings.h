#pragma once
// The run's side of the per-simulation files (--each-sim): their check before the run and
// the settings the writer gets.
#include "output/each_sim.h"
#include "run/form_values.h"
#include "run/run_parameters.h"

#include <cstdint>
#include <string>

namespace quenlith {

// Empty when the per-simulation files asked for can be written; otherwise the warning: an
// empty folder name, an unknown format, a file in the folder's place.
std::string checkEachSim(const FormValues& form, const RunParameters& p);

EachSimSettings eachSimSettings(const FormValues& form, const RunParameters& p, uint64_t seed);

} // namespace quenlith
