#include "cli/cli_options.h"

#include "cli/cli_config.h"
#include "run/parameter_table.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

namespace quenlith {

namespace {

struct OptionSpec {
    std::string name;
    std::string argument; // empty for a flag
    std::string help;
    std::string defaultText;
    std::function<std::string(CliOptions&, const std::string&)> apply; // returns an error
};

std::string setText(std::string& field, const std::string& value) {
    field = value;
    return {};
}

std::string applyConfigFile(CliOptions& o, const std::string& path);

// The options of FormValues' fields come from the parameter table; the others are the
// command line's own.
std::vector<OptionSpec> buildOptionSpecs() {
    using O = CliOptions;
    using S = const std::string&;
    std::vector<OptionSpec> specs = {
        {"--seed", "S", "seed of the run generator (0 to 4294967295; 64 bits with --rng streams)",
         "the clock",
         [](O& o, S v) -> std::string {
             if (v.empty() || v.size() > 20 ||
                 v.find_first_not_of("0123456789") != std::string::npos)
                 return "invalid seed '" + v + "'";
             errno = 0;
             const unsigned long long s = std::strtoull(v.c_str(), nullptr, 10);
             if (errno == ERANGE) return "invalid seed '" + v + "' (above 18446744073709551615)";
             o.seed = s;
             return {};
         }},
        // Slice I of N of a run of --of S simulations, as --first-sim and --sims.
        {"--slice", "I/N", "slice I of N of a streams run of --of S simulations (S/N each)", "",
         [](O& o, S v) -> std::string {
             o.slice = v;
             return {};
         }},
        {"--join", "DIR...", "join the slices in DIR... into the whole run's files in --workdir",
         "",
         [](O& o, S v) -> std::string {
             o.joinDirs.push_back(v);
             return {};
         }},
    };
    for (const ParameterEntry& e : parameterTable()) {
        if (!*e.option) continue;
        const ParameterEntry* entry = &e;
        specs.push_back({e.option, e.argument, e.help, parameterDefaultHelp(e),
                         [entry](O& o, S v) -> std::string {
                             // Joined to the file names, an empty directory would put every
                             // file in "/".
                             if (std::string(entry->field) == "WorkDir" && v.empty())
                                 return "the directory name is empty";
                             return applyParameterOption(*entry, o.form, v);
                         }});
    }
    const std::vector<OptionSpec> tail = {
        {"--image", "FILE",
         "after the run, save the drawing of the last genealogy (BMP), in the working directory "
         "unless absolute",
         "none", [](O& o, S v) { return setText(o.imageFile, v); }},
        {"--quiet", "", "print nothing but errors (no seed, no progress line)",
         "progress on a terminal",
         [](O& o, S) -> std::string {
             o.quiet = true;
             return {};
         }},
        // Demographic models in the Demes format.
        {"--resolve", "", "print the --demes model fully resolved, as JSON, and exit", "",
         [](O& o, S) -> std::string {
             o.resolveDemes = true;
             return {};
         }},
        // Parameter files: the options as "name = value" lines.
        {"--config", "FILE",
         "read options from a parameter file (name = value lines), where it stands among them", "",
         [](O& o, S v) { return applyConfigFile(o, v); }},
        {"--write-config", "FILE",
         "write the options given as a parameter file (\"-\": standard output) and exit", "",
         [](O& o, S v) {
             return v.empty() ? "the file name is empty" : setText(o.writeConfig, v);
         }},
        {"--help", "", "show this help (also -h)", "",
         [](O& o, S) -> std::string {
             o.help = true;
             return {};
         }},
        {"--version", "", "show the version (also -V)", "",
         [](O& o, S) -> std::string {
             o.version = true;
             return {};
         }},
    };
    specs.insert(specs.end(), tail.begin(), tail.end());
    return specs;
}

const std::vector<OptionSpec>& optionSpecs() {
    static const std::vector<OptionSpec> specs = buildOptionSpecs();
    return specs;
}

std::string applyConfigFile(CliOptions& o, const std::string& path) {
    // Read as a stream: a pipe (a shell's process substitution) serves as well as a file.
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot read the parameter file " + path + ": " + std::strerror(errno);
    std::string text;
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<size_t>(in.gcount()));
        if (text.size() > (1u << 20)) return path + " is larger than 1 MiB: not a parameter file";
    }
    return applyConfigText(
        path, text, o,
        [&o](const std::string& name, const std::string& value, bool& isFlag) -> std::string {
            for (const OptionSpec& s : optionSpecs()) {
                if (s.name != name) continue;
                isFlag = s.argument.empty();
                if (isFlag && !value.empty()) return {}; // the caller reads true or false
                const std::string error = s.apply(o, value);
                return error.empty() ? error : name + ": " + error;
            }
            return "unknown option '" + name.substr(2) + "' (see --help)";
        });
}

// --slice I/N of a run of --of S: simulations floor((I - 1) S / N) + 1 .. floor(I S / N), so
// that the N slices cover 1 .. S once each and differ in size by at most one.
std::string applySlice(CliOptions& o) {
    const std::string& v = o.slice;
    const size_t slash = v.find('/');
    const auto whole = [](const std::string& t) {
        return !t.empty() && t.size() <= 10 &&
               t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (slash == std::string::npos || !whole(v.substr(0, slash)) || !whole(v.substr(slash + 1)))
        return "--slice: needs I/N, slice I of N (1 <= I <= N), not '" + v + "'";
    const int64_t i = std::stoll(v.substr(0, slash)), n = std::stoll(v.substr(slash + 1));
    if (i < 1 || n < 1 || i > n)
        return "--slice: needs I/N, slice I of N (1 <= I <= N), not '" + v + "'";
    const int64_t s = o.form.ofSims;
    if (s < 1) return "--slice: needs --of S, the number of simulations of the whole run";
    for (const std::string& name : o.given)
        if (name == "--first-sim" || name == "--sims")
            return "--slice: gives the slice's simulations itself; " + name +
                   " cannot be given too";
    const int64_t first = (i - 1) * s / n + 1, last = i * s / n;
    o.form.firstSim = first;
    o.form.chkMultipleSims = true;
    o.form.edtNumberSimulations = std::to_string(last - first + 1);
    return {};
}

} // namespace

CliParse parseCliOptions(const std::vector<std::string>& given) {
    CliParse out;
    // As in ms and scrm, the sample size and the number of simulations may stand first:
    // "quenlith-cli 20 1000 ..." (the first line of an ms file runs as a command).
    std::vector<std::string> args = given;
    if (args.size() >= 2 && strictWholeNumber(args[0]) && strictWholeNumber(args[1]) &&
        args[0].find('-') == std::string::npos && args[1].find('-') == std::string::npos) {
        const std::vector<std::string> lead = {"--sample-size", args[0], "--sims", args[1]};
        args.erase(args.begin(), args.begin() + 2);
        args.insert(args.begin(), lead.begin(), lead.end());
    }
    const auto& specs = optionSpecs();
    bool joining = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "-h") name = "--help";
        if (name == "-V") name = "--version";
        if (name == "--") {
            // End of options: what follows are folders of --join (which may start with "-").
            for (++i; i < args.size(); ++i) {
                if (!joining) {
                    out.error = "unexpected argument '" + args[i] + "' (see --help)";
                    return out;
                }
                out.options.joinDirs.push_back(args[i]);
            }
            break;
        }
        joining = name == "--join";
        if (name == "--rng" || name.rfind("--rng=", 0) == 0) out.options.rngGiven = true;
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const OptionSpec* option = nullptr;
        for (const auto& s : specs)
            if (s.name == name) option = &s;
        if (!option) {
            out.error = "unknown option '" + args[i] + "' (see --help)";
            return out;
        }
        std::string value;
        // "--join --workdir o": no folder, not a folder named "--workdir".
        if (name == "--join" && !inlineValue &&
            (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0)) {
            out.error = "option --join needs one or more slice folders DIR...";
            return out;
        }
        if (!option->argument.empty()) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                out.error = "option " + name + " needs a value " + option->argument;
                return out;
            }
        } else if (inlineValue) {
            out.error = "option " + name + " takes no value";
            return out;
        }
        std::string error = option->apply(out.options, value);
        // --join takes every folder that follows, up to the next option.
        if (name == "--join")
            while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0)
                out.options.joinDirs.push_back(args[++i]);
        if (!error.empty()) {
            out.error = name + ": " + error;
            return out;
        }
        out.options.given.push_back(name);
    }
    // A model runs with independent streams: --demes implies --rng streams (an explicit
    // --rng lcg is refused with the run).
    if (out.options.form.chkDemes && !out.options.rngGiven)
        out.options.form.rngKind = RandomKind::Streams;
    if (!out.options.slice.empty() && out.error.empty()) out.error = applySlice(out.options);
    if (!out.error.empty()) return out;
    // The default generator has a 32-bit state; --rng may follow --seed.
    if (out.options.seed && *out.options.seed > 4294967295ull &&
        out.options.form.rngKind == RandomKind::Lcg)
        out.error = "--seed: invalid seed '" + std::to_string(*out.options.seed) +
                    "' (the default generator takes 0 to 4294967295; --rng streams takes 64 bits)";
    return out;
}

std::string cliHelpText() {
    std::string text =
        "Usage: quenlith-cli [K SIMS] [OPTION]...\n"
        "Simulates genealogies of a sample of gene copies backwards in time and writes\n"
        "the run's files into the working directory, as the window's \"Run Simulation\" does.\n"
        "K and SIMS, first, stand for --sample-size K --sims SIMS, as in ms.\n"
        "Edit-box values (T) are converted as the window converts typed text.\n\n"
        "Options:\n";
    for (const auto& s : optionSpecs()) {
        std::string left = "  " + s.name + (s.argument.empty() ? "" : " " + s.argument);
        if (left.size() < 26)
            left.resize(26, ' ');
        else
            left += "\n" + std::string(26, ' ');
        text += left + s.help;
        if (!s.defaultText.empty()) text += " [default: " + s.defaultText + "]";
        text += "\n";
    }
    text += "\nExit status: 0 when the run finished, 1 on an error, 2 when the run or its options\n"
            "were refused (a warning, an unknown option, a number that is not one).\n";
    text += "SIGINT (Ctrl-C) or SIGTERM stops the run after its current simulation: every file\n"
            "ends with a whole block, no run log is written, and the program ends by the\n"
            "signal (status 130 or 143 in the shell). A second signal ends it at once.\n"
            "One run at a time writes into a working directory.\n";
    return text;
}

} // namespace quenlith
