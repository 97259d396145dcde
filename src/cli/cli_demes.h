#pragma once
// quenlith-cli --demes FILE --resolve: prints the resolved model (the file read from the
// working directory, as every input file) instead of running it.
#include "cli/cli_options.h"

#include <ostream>

namespace quenlith {

// The exit status: 0 when the model was printed, 2 when the model or the options are refused.
int runDemesCli(const CliOptions& options, std::ostream& out, std::ostream& err);

} // namespace quenlith
