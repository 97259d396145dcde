#include "cli/cli_run.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return quenlith::runCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
