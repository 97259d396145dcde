#pragma once
// The body of quenlith-cli, callable from tests: returns the exit status.
#include <iosfwd>
#include <string>
#include <vector>

namespace quenlith {

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progressToTerminal);

} // namespace quenlith
