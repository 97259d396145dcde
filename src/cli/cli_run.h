#pragma once
// The body of quenlith-cli, callable from tests: returns the exit status.
#include <iosfwd>
#include <string>
#include <vector>

namespace quenlith {

// A run stopped by SIGINT or SIGTERM returns 128 + the signal's number.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progressToTerminal);

// SIGINT and SIGTERM stop the run after its current simulation, with whole files; a second
// one ends the program at once.
void installStopSignals();
// The signal that stopped the run, 0 when none came.
int stopSignalReceived();

} // namespace quenlith
