#pragma once
// Reads a Demes model (YAML or JSON) and resolves it: defaults filled in, symmetric
// migrations split into one migration per direction, pulses ordered oldest first, and every
// validity rule of the format checked. A model that breaks a rule is refused with a
// DemesError whose message names the field and the reason.
#include "demography/demes_model.h"

#include <stdexcept>
#include <string>

namespace quenlith::demes {

class DemesError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Resolves the model in `text`; `source` names it in messages (a file name).
Model readModel(const std::string& text, const std::string& source = "model");
// Reads and resolves the model file at `path`; a file that cannot be read is a DemesError.
Model readModelFile(const std::string& path);

// The fully resolved model as JSON, with the keys and order of the format's resolved form;
// infinite times are written as the string "Infinity".
std::string resolvedJson(const Model& model);

} // namespace quenlith::demes
