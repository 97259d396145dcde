#pragma once
// Parameter files of quenlith-cli: every option as a line "name = value", the name being the
// option without its leading dashes. --write-config FILE writes the current options, --config
// FILE reads them back where it stands among the options, so that a run's set-up travels
// with its results.
#include "cli/cli_options.h"

#include <functional>
#include <string>

namespace quenlith {

// The parameter file of `o`: every option of the run, those not in effect as comments.
std::string configText(const CliOptions& o);

// Applies the parameter file `text` (read from `name`, for messages) to `o`. `apply(option,
// value)` applies one command-line option ("--sims", "12"; a flag with an empty value) and
// returns an error text. A flag's value is true or false (yes/no, on/off, 1/0); false gives
// its field the default back. Blank lines and lines starting with "#" are skipped; a value
// may be written in double quotes (\" and \\ inside). Returns an error naming the line.
std::string applyConfigText(
    const std::string& name, const std::string& text, CliOptions& o,
    const std::function<std::string(const std::string&, const std::string&, bool& isFlag)>& apply);

} // namespace quenlith
