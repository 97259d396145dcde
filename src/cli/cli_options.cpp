#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

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

const std::vector<OptionSpec>& optionSpecs() {
    using O = CliOptions;
    using S = const std::string&;
    static const std::vector<OptionSpec> specs =
        {
            {"--seed", "S",
             "seed of the run generator (0 to 4294967295; 64 bits with --rng streams)", "the clock",
             [](O& o, S v) -> std::string {
                 if (v.empty() || v.size() > 20 ||
                     v.find_first_not_of("0123456789") != std::string::npos)
                     return "invalid seed '" + v + "'";
                 errno = 0;
                 const unsigned long long s = std::strtoull(v.c_str(), nullptr, 10);
                 if (errno == ERANGE)
                     return "invalid seed '" + v + "' (above 18446744073709551615)";
                 o.seed = s;
                 return {};
             }},
            {"--rng", "KIND",
             "lcg: one 32-bit generator for the run; streams: a stream per simulation", "lcg",
             [](O& o, S v) -> std::string {
                 if (v == "lcg")
                     o.form.rngKind = RandomKind::Lcg;
                 else if (v == "streams")
                     o.form.rngKind = RandomKind::Streams;
                 else
                     return "unknown kind '" + v + "' (lcg or streams)";
                 return {};
             }},
            {"--threads", "T", "worker threads of a streams run", "every core",
             [](O& o, S v) -> std::string {
                 if (v.empty() || v.size() > 6 ||
                     v.find_first_not_of("0123456789") != std::string::npos || std::stol(v) < 1)
                     return "the number of threads must be a whole number of 1 or more, not '" + v +
                            "'";
                 o.form.threads = static_cast<int32_t>(std::stol(v));
                 return {};
             }},
            {"--first-sim", "A", "a slice of a streams run: simulations A .. A + --sims - 1", "1",
             [](O& o, S v) -> std::string {
                 if (v.empty() || v.size() > 12 ||
                     v.find_first_not_of("0123456789") != std::string::npos || std::stoll(v) < 1)
                     return "the first simulation must be a whole number of 1 or more, not '" + v +
                            "'";
                 o.form.firstSim = std::stoll(v);
                 return {};
             }},
            {"--join", "DIR...",
             "join the slices in DIR... into the whole run's files in --workdir", "",
             [](O& o, S v) -> std::string {
                 o.joinDirs.push_back(v);
                 return {};
             }},
            {"--workdir", "DIR", "working directory for every file (created when missing)", ".",
             [](O& o, S v) -> std::string {
                 // Joined to the file names, an empty directory would put every file in "/".
                 if (v.empty()) return "the directory name is empty";
                 return setText(o.form.WorkDir, v);
             }},
            {"--sample-size", "T", "Sample Size (k)", "50",
             [](O& o, S v) { return setText(o.form.edtSampleSize, v); }},
            {"--pop-size", "T", "Population Size (N)", "10000",
             [](O& o, S v) { return setText(o.form.edtPopulationSize, v); }},
            {"--sims", "T", "Multiple Simulations: number of simulations", "unchecked, 100",
             [](O& o, S v) {
                 o.form.chkMultipleSims = true;
                 return setText(o.form.edtNumberSimulations, v);
             }},
            {"--no-draw-mutations", "", "do not draw mutations on the genealogy", "checked",
             [](O& o, S) -> std::string {
                 o.form.chkDrawMut = false;
                 return {};
             }},
            {"--seq-length", "T", "Sequence Length", "1000",
             [](O& o, S v) { return setText(o.form.edtSeqLength, v); }},
            {"--seq-input", "FILE", "Input DNA sequence: root sequence file",
             "unchecked, seqin.txt",
             [](O& o, S v) {
                 o.form.chkSeqInput = true;
                 return setText(o.form.edtSeqFile, v);
             }},
            {"--mutation-rate", "T", "MutationRate (u), mutations/site/generation", "0.0000001",
             [](O& o, S v) { return setText(o.form.edtMutationRate, v); }},
            {"--diploid", "", "Diploid", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkDiploid = true;
                 return {};
             }},
            {"--no-seg-sites", "", "do not export segregating sites from the infinite sites model",
             "checked",
             [](O& o, S) -> std::string {
                 o.form.chkSegSites = false;
                 return {};
             }},
            {"--no-scatter", "", "do not scatter mutations on the simulated DNA sequence",
             "checked",
             [](O& o, S) -> std::string {
                 o.form.chkScatterMut = false;
                 return {};
             }},
            {"--model", "M", "substitution model: JC69, K2P, F81 or HKY85", "JC69",
             [](O& o, S v) -> std::string {
                 static const std::map<std::string, SubstitutionModel> m = {
                     {"JC69", SubstitutionModel::JC69},
                     {"K2P", SubstitutionModel::K2P},
                     {"F81", SubstitutionModel::F81},
                     {"HKY85", SubstitutionModel::HKY85}};
                 auto it = m.find(v);
                 if (it == m.end()) return "unknown model '" + v + "' (JC69, K2P, F81 or HKY85)";
                 o.form.model = it->second;
                 return {};
             }},
            {"--freq-a", "T", "base frequency A", "0.25",
             [](O& o, S v) { return setText(o.form.edtFreqA, v); }},
            {"--freq-c", "T", "base frequency C", "0.25",
             [](O& o, S v) { return setText(o.form.edtFreqC, v); }},
            {"--freq-g", "T", "base frequency G", "0.25",
             [](O& o, S v) { return setText(o.form.edtFreqG, v); }},
            {"--titv", "T", "Ti:Tv ratio", "2",
             [](O& o, S v) { return setText(o.form.edtTiTv, v); }},
            {"--invariable", "T", "Proportion Invariable Sites", "unchecked, 0.0",
             [](O& o, S v) {
                 o.form.chkInvarSites = true;
                 return setText(o.form.edtI, v);
             }},
            {"--gamma", "T", "Gamma distributed rate variation: shape parameter", "unchecked, 1",
             [](O& o, S v) {
                 o.form.chkShapeParameter = true;
                 return setText(o.form.edtAlpha, v);
             }},
            {"--seq-diversity", "", "Calculate Diversity Indices (DNA)", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkSeqDiversity = true;
                 return {};
             }},
            {"--seq-out", "", "Generate sequence output file", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkSeqOut = true;
                 return {};
             }},
            {"--seq-out-file", "FILE", "Sequence data output", "seqout.txt",
             [](O& o, S v) { return setText(o.form.edtSeqOut, v); }},
            {"--format", "F", "Output format: Clustal, Nexus, Fasta or MrBayes", "Nexus",
             [](O& o, S v) -> std::string {
                 static const std::map<std::string, OutputFormat> m = {
                     {"Clustal", OutputFormat::Clustal},
                     {"Nexus", OutputFormat::Nexus},
                     {"Fasta", OutputFormat::Fasta},
                     {"MrBayes", OutputFormat::MrBayes}};
                 auto it = m.find(v);
                 if (it == m.end())
                     return "unknown format '" + v + "' (Clustal, Nexus, Fasta or MrBayes)";
                 o.form.rdgOutput = it->second;
                 return {};
             }},
            {"--msat", "", "Simulate microsatellite data", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkMsats = true;
                 return {};
             }},
            {"--loci", "T", "Number of loci", "1",
             [](O& o, S v) { return setText(o.form.edtNumLoci, v); }},
            {"--msat-model", "M", "allele model: infinite, stepwise or random", "infinite",
             [](O& o, S v) -> std::string {
                 static const std::map<std::string, MsatModel> m = {
                     {"infinite", MsatModel::InfiniteAlleles},
                     {"stepwise", MsatModel::Stepwise},
                     {"random", MsatModel::RandomAlleles}};
                 auto it = m.find(v);
                 if (it == m.end())
                     return "unknown microsatellite model '" + v +
                            "' (infinite, stepwise or random)";
                 o.form.msatModel = it->second;
                 return {};
             }},
            {"--msat-params", "FILE", "Microsatellite Parameters file", "msatparam.txt",
             [](O& o, S v) { return setText(o.form.edtMsatIn, v); }},
            {"--msat-out", "", "Generate Microsatellite data file", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkMSatOut = true;
                 return {};
             }},
            {"--msat-out-file", "FILE", "Microsatellite data output", "MsatData.csv",
             [](O& o, S v) { return setText(o.form.edtMSatData, v); }},
            {"--msat-diversity", "", "Calculate Diversity Indices (microsatellites)", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkMSatDiversity = true;
                 return {};
             }},
            {"--var-rep-success", "T", "Variance in reproductive success", "unchecked, 1",
             [](O& o, S v) {
                 o.form.chkVarRepSuc = true;
                 return setText(o.form.edtVarRepSuc, v);
             }},
            {"--mean-offspring", "T", "mean number of offspring", "2",
             [](O& o, S v) { return setText(o.form.edtMeanOffsp, v); }},
            {"--fluctuating", "", "Fluctuating Population Size", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkFluctuatingN = true;
                 return {};
             }},
            {"--growth-start", "T", "Start of Population growth", "0",
             [](O& o, S v) { return setText(o.form.edtGrowthStart, v); }},
            {"--growth-end", "T", "End of Population growth", "500",
             [](O& o, S v) { return setText(o.form.edtGrowthEnd, v); }},
            {"--change-percent", "T", "% Population size change per gen", "0.1",
             [](O& o, S v) { return setText(o.form.edtChangeN, v); }},
            {"--summary-file", "FILE", "Output File (summary table)", "outfile.csv",
             [](O& o, S v) { return setText(o.form.edtTmrca, v); }},
            {"--newick-file", "FILE", "Newick tree file", "NewickTrees.tre",
             [](O& o, S v) { return setText(o.form.edtNewickTrees, v); }},
            {"--mut-distrib-file", "FILE", "Mutation distribution", "MutDistrib.csv",
             [](O& o, S v) { return setText(o.form.edtMutDistrib, v); }},
            {"--coal-distrib-file", "FILE", "Coalescent distribution", "CoalDistrib.csv",
             [](O& o, S v) { return setText(o.form.edtCoalDistrib, v); }},
            {"--log-file", "FILE", "Log File", "logFile.txt",
             [](O& o, S v) { return setText(o.form.edtLogFile, v); }},
            {"--arlequin", "", "Create Arlequin project/batch files", "unchecked",
             [](O& o, S) -> std::string {
                 o.form.chkArlequin = true;
                 return {};
             }},
            {"--stats", "FILE", "write the statistics table (one row per simulation)", "none",
             [](O& o, S v) {
                 o.form.chkStats = true;
                 return setText(o.form.edtStats, v);
             }},
            {"--vcf", "FILE", "write the segregating sites as VCF (.vcf.gz: bgzip); DNA runs",
             "none",
             [](O& o, S v) {
                 o.form.chkVcf = true;
                 return setText(o.form.edtVcf, v);
             }},
            {"--ms", "FILE", "write the segregating sites in ms format; DNA runs", "none",
             [](O& o, S v) {
                 o.form.chkMs = true;
                 return setText(o.form.edtMs, v);
             }},
            {"--image", "FILE", "after the run, save the drawing of the last genealogy (BMP)",
             "none", [](O& o, S v) { return setText(o.imageFile, v); }},
            {"--quiet", "", "no progress line", "progress on a terminal",
             [](O& o, S) -> std::string {
                 o.quiet = true;
                 return {};
             }},
            {"--help", "", "show this help", "",
             [](O& o,
                S) -> std::
                       string {
                           o.help = true;
                           return {};
                       }},
            {"--version", "", "show the version", "",
             [](O& o,
                S) -> std::
                       string {
                           o.version = true;
                           return {};
                       }},
        };
    return specs;
}

} // namespace

CliParse parseCliOptions(const std::vector<std::string>& args) {
    CliParse out;
    const auto& specs = optionSpecs();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
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
    }
    // The default generator has a 32-bit state; --rng may follow --seed.
    if (out.options.seed && *out.options.seed > 4294967295ull &&
        out.options.form.rngKind == RandomKind::Lcg)
        out.error = "--seed: invalid seed '" + std::to_string(*out.options.seed) +
                    "' (the default generator takes 0 to 4294967295; --rng streams takes 64 bits)";
    return out;
}

std::string cliHelpText() {
    std::string text =
        "Usage: quenlith-cli [OPTION]...\n"
        "Simulates genealogies of a sample of gene copies backwards in time and writes\n"
        "the run's files into the working directory, as the window's \"Run Simulation\" does.\n"
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
    text += "\nExit status: 0 when the run finished, 1 on an error, 2 when the run was refused\n"
            "with a warning.\n";
    text += "SIGINT (Ctrl-C) or SIGTERM stops the run after its current simulation: every file\n"
            "ends with a whole block, no run log is written, and the program ends by the\n"
            "signal (status 130 or 143 in the shell). A second signal ends it at once.\n"
            "One run at a time writes into a working directory.\n";
    return text;
}

} // namespace quenlith
