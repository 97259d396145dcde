#pragma once
// The body of quenlith-cli, callable from tests: returns the exit status.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace quenlith {

// The progress line: "simulations D of S, R/s, T left", the time left estimated from the
// fraction of the run's work done in the elapsed time.
std::string progressLine(int64_t done, int64_t total, double elapsedSeconds, double fraction);

// A run stopped by SIGINT or SIGTERM returns 128 + the signal's number.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progressToTerminal);

// SIGINT and SIGTERM stop the run after its current simulation, with whole files; a second
// one ends the program at once.
void installStopSignals();
// The signal that stopped the run, 0 when none came.
int stopSignalReceived();

} // namespace quenlith
