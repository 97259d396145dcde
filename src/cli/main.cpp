#include "cli/cli_run.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    quenlith::installStopSignals();
    const int status = quenlith::runCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    // Stopped by a signal: end by that signal, so that a calling shell or script sees it.
    if (const int sig = quenlith::stopSignalReceived()) {
        std::cout.flush();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
    return status;
}
