#pragma once
// A resolved Demes model as a history in whole generations and copies, for the simulation
// of genealogies in several demes, and the samples taken from its demes.
//
// Rounding: every model time is divided by the generation time and rounded to the nearest
// whole generation (halves away from zero); sizes stay unrounded in the model and are
// evaluated at each whole generation, times the ploidy, then rounded to whole copies.
#include "demography/demes_model.h"
#include "genealogy/structured_genealogy.h"

#include <string>
#include <vector>

namespace quenlith {

// The history of `model` with `ploidy` copies per individual. Throws RunError with a message
// naming the model's field when the model cannot be simulated here (a selfing or cloning
// rate other than 0, a size that rounds to no copy, migration rates into a deme summing
// above 1). `notes` gets one line for each way the rounding changed the model (an epoch
// shorter than a generation, a pulse at a deme's start, times that are not whole).
DiscreteHistory discreteHistory(const demes::Model& model, int32_t ploidy,
                                std::vector<std::string>& notes);

// One entry of the samples: `count` copies of deme `deme` sampled at generation 0.
struct DemeSample {
    std::string name;
    int32_t deme = 0;
    int32_t count = 0;
};

// Reads "NAME:COUNT[,NAME:COUNT...]". Returns an error text (naming the entry) for a deme the
// model does not have, one that does not exist at time 0, a count that is not a whole number
// above 0, or a deme named twice; empty on success.
std::string parseDemeSamples(const std::string& text, const demes::Model& model,
                             const DiscreteHistory& history, std::vector<DemeSample>& out);

// The samples one copy each, deme by deme in the order given.
std::vector<StructuredSample> sampledCopies(const std::vector<DemeSample>& samples);

} // namespace quenlith
