#pragma once
// The demographic model of a run: the Demes file read and resolved, its history in whole
// generations and the copies sampled from its demes.
#include "base/deme_groups.h"
#include "demography/demes_model.h"
#include "genealogy/demes_history.h"
#include "run/form_values.h"

#include <string>
#include <vector>

namespace quenlith {

struct RunModel {
    std::string path;   // the model file as read
    std::string digest; // of its bytes (hexadecimal)
    demes::Model model;
    DiscreteHistory history;
    std::vector<DemeSample> samples;      // in the order of --samples
    std::vector<StructuredSample> copies; // one per copy, deme by deme
    std::vector<std::string> notes;       // how rounding changed the model
    std::vector<std::string> sampleNames; // per copy: NAME_i, the i-th copy of deme NAME
    int32_t sampleSize() const { return static_cast<int32_t>(copies.size()); }
};

// The refusal of a model's controls given without a model (the samples, the ploidy), empty
// otherwise; checked before anything is written.
std::string modelControlsError(const FormValues& form);

// Reads the model of a run with "Demographic model" ticked. Returns the refusal's text (the
// option or field and the reason), empty when the model can run: a file that is not YAML or
// not a valid model, samples that do not fit it, options the model replaces (the fluctuating
// size, the variance in reproductive success, gamma rates per generation, the default
// generator).
std::string readRunModel(const FormValues& form, RunModel& out);

// The sampled demes with their counts of copies, as the files name them.
DemeGroups demeGroups(const RunModel& m);

// The model's lines of the run log: the file and its digest, the demes with their epochs,
// the migrations and pulses, the samples, the rounding.
std::vector<std::string> runModelLogLines(const RunModel& m);

} // namespace quenlith
