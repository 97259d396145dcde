#pragma once
// Command-line options of quenlith-cli: one per control of the window, over FormValues.
#include "run/form_values.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenlith {

struct CliOptions {
    FormValues form;
    std::optional<uint64_t> seed; // above 2^32 - 1 only with --rng streams (checked by the run)
    std::vector<std::string> joinDirs; // --join: the slice folders to join
    std::string imageFile;             // empty: no image
    bool quiet = false;
    std::string writeConfig; // --write-config: the parameter file to write ("-": stdout)
    bool help = false;
    bool version = false;
    // Printing the resolved form of the --demes model instead of a run.
    bool resolveDemes = false;
    bool rngGiven = false; // --rng was on the command line (--demes implies streams)
    // The options given, by name, in their order (--join refuses those it cannot honour).
    std::vector<std::string> given;
    std::string slice; // --slice I/N as given; empty when not
};

struct CliParse {
    CliOptions options;
    std::string error; // empty on success
};

CliParse parseCliOptions(const std::vector<std::string>& args);

// The text of --help: every option with its default.
std::string cliHelpText();

} // namespace quenlith
