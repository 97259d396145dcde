#include "run/parameter_table.h"
#include "base/limits.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace quenlith {

namespace {

using Kind = ParameterKind;
using Tab = ParameterTab;

template <typename M> struct Access;

template <> struct Access<std::string> {
    template <auto P> static std::string get(const FormValues& f) { return f.*P; }
    template <auto P> static bool set(FormValues& f, const std::string& v) {
        f.*P = v;
        return true;
    }
};

template <> struct Access<bool> {
    template <auto P> static std::string get(const FormValues& f) { return f.*P ? "1" : "0"; }
    template <auto P> static bool set(FormValues& f, const std::string& v) {
        if (v != "0" && v != "1") return false;
        f.*P = v == "1";
        return true;
    }
};

// Enumerations and whole numbers: their number as decimal text.
template <typename M> struct Access {
    template <auto P> static std::string get(const FormValues& f) {
        if constexpr (std::is_enum_v<M>)
            return std::to_string(static_cast<int>(f.*P));
        else
            return std::to_string(f.*P);
    }
    template <auto P> static bool set(FormValues& f, const std::string& v) {
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || errno == ERANGE) return false;
        // A value the field cannot hold is refused, not cut to its low bits.
        if constexpr (!std::is_enum_v<M>)
            if (n < std::numeric_limits<M>::min() || n > std::numeric_limits<M>::max())
                return false;
        f.*P = static_cast<M>(n);
        return true;
    }
};

template <typename T> struct MemberType;
template <typename M> struct MemberType<M FormValues::*> { using type = M; };

template <auto P> ParameterEntry entry(ParameterEntry e, ParameterPlace place = {}) {
    e.place = place;
    using M = typename MemberType<decltype(P)>::type;
    e.get = &Access<M>::template get<P>;
    e.set = &Access<M>::template set<P>;
    return e;
}

#define FIELD(name) entry<&FormValues::name>(ParameterEntry{#name,
#define END                                                                                        \
    })
// Ends an entry that has a window control, with the control's place.
#define AT(...)                                                                                    \
    }, ParameterPlace{__VA_ARGS__})

const std::vector<ParameterEntry>& table() {
    // clang-format off
    static const std::vector<ParameterEntry> entries = {
        // Main tab
        FIELD(edtSampleSize) Kind::Text, "--sample-size", "T", "Sample Size (k)", Tab::Main, "Sample Size (k)", true, true AT(.x = 168, .y = 44, .label = "lblSampleSize", .labelY = 48),
        FIELD(edtPopulationSize) Kind::Text, "--pop-size", "T", "Population Size (N)", Tab::Main, "Population Size (N)", true, true AT(.x = 168, .y = 76, .label = "lblPopulationSize", .labelY = 80),
        FIELD(chkMultipleSims) Kind::Flag, "", "", "", Tab::Main, "Multiple Simulations", false, true AT(.x = 8, .y = 110, .width = 150),
        FIELD(edtNumberSimulations) Kind::CheckedText, "--sims", "T", "Multiple Simulations: number of simulations", Tab::Main, "", false, true, true, "chkMultipleSims" AT(.x = 168, .y = 108),
        FIELD(chkDrawMut) Kind::Flag, "--no-draw-mutations", "", "do not draw mutations on the genealogy", Tab::Main, "Draw mutations on genealogy?", true, true, false AT(.x = 8, .y = 300, .width = 220),
        // Sequence tab
        FIELD(edtSeqLength) Kind::Text, "--seq-length", "T", "Sequence Length", Tab::Sequence, "Sequence Length", true, true AT(.x = 168, .y = 38, .label = "lblSequenceLength", .labelY = 42),
        FIELD(chkSeqInput) Kind::Flag, "", "", "", Tab::Sequence, "Input DNA sequence", true, true AT(.x = 8, .y = 66, .width = 150),
        FIELD(edtSeqFile) Kind::CheckedText, "--seq-input", "FILE", "Input DNA sequence: root sequence file", Tab::Sequence, "", true, true, true, "chkSeqInput" AT(.x = 168, .y = 64, .width = 130),
        FIELD(edtMutationRate) Kind::Text, "--mutation-rate", "T", "MutationRate (u), mutations/site/generation", Tab::Sequence, "MutationRate (u)", true, true AT(.x = 168, .y = 90, .width = 90, .label = "lblMutationRate", .labelY = 94),
        FIELD(chkDiploid) Kind::Flag, "--diploid", "", "Diploid", Tab::Sequence, "Diploid", true, true AT(.x = 8, .y = 134),
        FIELD(chkSegSites) Kind::Flag, "--no-seg-sites", "", "do not export segregating sites from the infinite sites model", Tab::Sequence, "Export Segregating Sites from infinite sites model", true, true, false AT(.x = 8, .y = 156),
        FIELD(chkScatterMut) Kind::Flag, "--no-scatter", "", "do not scatter mutations on the simulated DNA sequence", Tab::Sequence, "Scatter Mutations on simulated DNA sequence", true, true, false AT(.x = 8, .y = 178),
        FIELD(model) Kind::Choice, "--model", "M", "substitution model: JC69, K2P, F81 or HKY85", Tab::Sequence, "", true, true, true, "", "",
            {{"JC69", int(SubstitutionModel::JC69), "radJC69", "JC69", 24, 226, 110}, {"K2P", int(SubstitutionModel::K2P), "radK2P", "Kimura 2-parameter", 140, 226, 150}, {"F81", int(SubstitutionModel::F81), "radF81", "F81", 24, 246, 110}, {"HKY85", int(SubstitutionModel::HKY85), "radHKY85", "HKY85", 140, 246, 150}} AT(.control = "grpSubstitutionModel", .choice = ChoiceControl::Radios),
        FIELD(edtFreqA) Kind::Text, "--freq-a", "T", "base frequency A", Tab::Sequence, "A:", true, true AT(.x = 168, .y = 290, .label = "lblFreqA", .labelX = 24, .labelY = 294, .labelWidth = 40),
        FIELD(edtFreqC) Kind::Text, "--freq-c", "T", "base frequency C", Tab::Sequence, "C:", true, true AT(.x = 168, .y = 314, .label = "lblFreqC", .labelX = 24, .labelY = 318, .labelWidth = 40),
        FIELD(edtFreqG) Kind::Text, "--freq-g", "T", "base frequency G", Tab::Sequence, "G:", true, true AT(.x = 168, .y = 338, .label = "lblFreqG", .labelX = 24, .labelY = 342, .labelWidth = 40),
        FIELD(edtTiTv) Kind::Text, "--titv", "T", "Ti:Tv ratio", Tab::Sequence, "Ti:Tv ratio", true, true AT(.x = 168, .y = 364, .label = "lblTiTvRatio", .labelY = 368),
        FIELD(chkInvarSites) Kind::Flag, "", "", "", Tab::Sequence, "Proportion Invariable Sites", true, true AT(.x = 8, .y = 392, .width = 214),
        FIELD(edtI) Kind::CheckedText, "--invariable", "T", "Proportion Invariable Sites", Tab::Sequence, "", true, true, true, "chkInvarSites" AT(.x = 224, .y = 390),
        FIELD(chkShapeParameter) Kind::Flag, "", "", "", Tab::Sequence, "Gamma distributed rate variation", true, true AT(.x = 8, .y = 416, .width = 214),
        FIELD(edtAlpha) Kind::CheckedText, "--gamma", "T", "Gamma distributed rate variation: shape parameter", Tab::Sequence, "", true, true, true, "chkShapeParameter" AT(.x = 224, .y = 414),
        FIELD(chkSeqDiversity) Kind::Flag, "--seq-diversity", "", "Calculate Diversity Indices (DNA)", Tab::Sequence, "Calculate Diversity Indices", true, true AT(.x = 8, .y = 464),
        FIELD(chkSeqOut) Kind::Flag, "--seq-out", "", "Generate sequence output file", Tab::Sequence, "Generate sequence output file", true, true AT(.x = 8, .y = 486),
        FIELD(edtSeqOut) Kind::Text, "--seq-out-file", "FILE", "Sequence data output", Tab::Sequence, "Sequence data output:", true, true AT(.x = 168, .y = 508, .width = 130, .label = "lblSeqDataOut", .labelY = 512),
        FIELD(rdgOutput) Kind::Choice, "--format", "F", "Output format: Clustal, Nexus, Fasta or MrBayes", Tab::Sequence, "Output format", true, true, true, "", "",
            {{"Clustal", int(OutputFormat::Clustal), "rdgOutputItem0", "Clustal"}, {"Nexus", int(OutputFormat::Nexus), "rdgOutputItem1", "Nexus"}, {"Fasta", int(OutputFormat::Fasta), "rdgOutputItem2", "Fasta"}, {"MrBayes", int(OutputFormat::MrBayes), "rdgOutputItem3", "MrBayes"}} AT(.x = 8, .y = 536, .width = 313, .height = 44, .control = "rdgOutput", .choice = ChoiceControl::RadioBox),
        // Microsatellite tab
        FIELD(chkMsats) Kind::Flag, "--msat", "", "Simulate microsatellite data", Tab::Microsatellite, "Simulate microsatellite data", true, true AT(.x = 8, .y = 42),
        FIELD(edtNumLoci) Kind::Text, "--loci", "T", "Number of loci", Tab::Microsatellite, "Number of loci", true, true AT(.x = 168, .y = 68, .label = "lblNoLoci", .labelY = 72),
        FIELD(msatModel) Kind::Choice, "--msat-model", "M", "allele model: infinite, stepwise or random", Tab::Microsatellite, "", true, true, true, "", "",
            {{"infinite", int(MsatModel::InfiniteAlleles), "radInfiniteAlleles", "Infinite alleles model", 24, 98, 250}, {"stepwise", int(MsatModel::Stepwise), "radStepwise", "Stepwise Mutation model", 24, 120, 250}, {"random", int(MsatModel::RandomAlleles), "radAllele", "Random Alleles model", 24, 142, 250}} AT(.control = "grpAlleleModel", .choice = ChoiceControl::Radios),
        FIELD(edtMsatIn) Kind::Text, "--msat-params", "FILE", "Microsatellite Parameters file", Tab::Microsatellite, "Microsatellite Parameters file:", true, true AT(.x = 168, .y = 170, .width = 130, .label = "Label1", .labelY = 174),
        FIELD(chkMSatOut) Kind::Flag, "--msat-out", "", "Generate Microsatellite data file", Tab::Microsatellite, "Generate Microsatellite data file", true, true AT(.x = 8, .y = 230),
        FIELD(chkMSatDiversity) Kind::Flag, "--msat-diversity", "", "Calculate Diversity Indices (microsatellites)", Tab::Microsatellite, "Calculate Diversity Indices", true, true AT(.x = 8, .y = 254),
        FIELD(edtMSatData) Kind::Text, "--msat-out-file", "FILE", "Microsatellite data output", Tab::Microsatellite, "Microsatellite data output:", true, true AT(.x = 168, .y = 280, .width = 130, .label = "lblMsatOut", .labelY = 284),
        // Demographics tab
        FIELD(chkVarRepSuc) Kind::Flag, "", "", "", Tab::Demographics, "Variance in reproductive success", true, true AT(.x = 8, .y = 44, .width = 228),
        FIELD(edtVarRepSuc) Kind::CheckedText, "--var-rep-success", "T", "Variance in reproductive success", Tab::Demographics, "", true, true, true, "chkVarRepSuc" AT(.x = 240, .y = 42),
        FIELD(edtMeanOffsp) Kind::Text, "--mean-offspring", "T", "mean number of offspring", Tab::Demographics, "mean number of offspring:", true, true AT(.x = 240, .y = 72, .label = "Label10", .labelX = 32, .labelY = 76, .labelWidth = 204),
        FIELD(chkFluctuatingN) Kind::Flag, "--fluctuating", "", "Fluctuating Population Size", Tab::Demographics, "Fluctuating Population Size", true, true AT(.x = 8, .y = 108),
        FIELD(edtGrowthStart) Kind::Text, "--growth-start", "T", "Start of Population growth", Tab::Demographics, "Start of Population growth:", true, true AT(.x = 240, .y = 136, .label = "lblGrowthStart", .labelX = 32, .labelY = 140, .labelWidth = 204),
        FIELD(edtGrowthEnd) Kind::Text, "--growth-end", "T", "End of Population growth", Tab::Demographics, "End of Population growth:", true, true AT(.x = 240, .y = 168, .label = "lblGrowthEnd", .labelX = 32, .labelY = 172, .labelWidth = 204),
        FIELD(edtChangeN) Kind::Text, "--change-percent", "T", "% Population size change per gen", Tab::Demographics, "% Population size change per gen:", true, true AT(.x = 240, .y = 200, .label = "lblFlucN", .labelX = 32, .labelY = 204, .labelWidth = 204),
        // Files tab
        FIELD(WorkDir) Kind::Text, "--workdir", "DIR", "working directory for every file (created when missing)", Tab::Files, "", false, true END,
        FIELD(edtTmrca) Kind::Text, "--summary-file", "FILE", "Output File (summary table)", Tab::Files, "Output File:", true, true AT(.x = 168, .y = 336, .width = 130, .label = "lblTMRCA", .labelY = 340),
        FIELD(edtNewickTrees) Kind::Text, "--newick-file", "FILE", "Newick tree file", Tab::Files, "Newick tree file:", true, true AT(.x = 168, .y = 364, .width = 130, .label = "lblNexusTrees", .labelY = 368),
        FIELD(edtMutDistrib) Kind::Text, "--mut-distrib-file", "FILE", "Mutation distribution", Tab::Files, "Mutation distribution:", true, true AT(.x = 168, .y = 392, .width = 130, .label = "lblMutDistrib", .labelY = 396),
        FIELD(edtCoalDistrib) Kind::Text, "--coal-distrib-file", "FILE", "Coalescent distribution", Tab::Files, "Coalescent distribution:", true, true AT(.x = 168, .y = 420, .width = 130, .label = "lblCoalDistrib", .labelY = 424),
        FIELD(edtLogFile) Kind::Text, "--log-file", "FILE", "Log File", Tab::Files, "Log File:", true, true AT(.x = 168, .y = 448, .width = 130, .label = "lblLogFile", .labelY = 452),
        FIELD(chkArlequin) Kind::Flag, "--arlequin", "", "Create Arlequin project/batch files", Tab::Files, "Create Arlequin project/batch files", true, true AT(.x = 8, .y = 482),
        FIELD(rngKind) Kind::Choice, "--rng", "KIND", "lcg: one 32-bit generator for the run; streams: a stream per simulation", Tab::Main, "Random numbers", true, true, true, "", "",
            {{"lcg", int(RandomKind::Lcg), "", "32-bit generator"}, {"streams", int(RandomKind::Streams), "", "Streams (64-bit seed)"}} AT(.x = 168, .y = 166, .width = 145, .label = "lblRandom", .labelY = 170, .tip = "32-bit generator: the exact default, seeds 0 to 4294967295.\nStreams: an independent counter-based stream per simulation, seeds 0 to 18446744073709551615.", .control = "cmbRandom"),
        FIELD(chkStats) Kind::Flag, "", "", "", Tab::Files, "Statistics table", true, true AT(.x = 8, .y = 506, .width = 150, .tip = "Per-simulation summary statistics (Tajima's D and others)"),
        FIELD(edtStats) Kind::CheckedText, "--stats", "FILE", "write the statistics table (one row per simulation)", Tab::Files, "", true, true, true, "chkStats", "none" AT(.x = 168, .y = 504, .width = 130),
        FIELD(chkVcf) Kind::Flag, "", "", "", Tab::Files, "VCF file", true, true AT(.x = 8, .y = 530, .width = 150, .tip = "The segregating sites of every simulation as VCF"),
        FIELD(edtVcf) Kind::CheckedText, "--vcf", "FILE", "write the segregating sites as VCF (.vcf.gz: bgzip); DNA runs", Tab::Files, "", true, true, true, "chkVcf", "none" AT(.x = 168, .y = 528, .width = 130),
        FIELD(chkMs) Kind::Flag, "", "", "", Tab::Files, "ms file", true, true AT(.x = 8, .y = 554, .width = 150, .tip = "The segregating sites of every simulation in ms format"),
        FIELD(edtMs) Kind::CheckedText, "--ms", "FILE", "write the segregating sites in ms format; DNA runs", Tab::Files, "", true, true, true, "chkMs", "none" AT(.x = 168, .y = 552, .width = 130),
        // Run control of the command line only
        FIELD(threads) Kind::Number, "--threads", "T", "worker threads of a streams run", Tab::None, "", false, false, true, "", "every core" END,
        FIELD(firstSim) Kind::Number, "--first-sim", "A", "a slice of a streams run: simulations A .. A + --sims - 1 (needs --of)", Tab::None, "", false, false END,
        // The size of the whole run a slice belongs to
        FIELD(ofSims) Kind::Number, "--of", "S", "a slice of a streams run of S simulations in all (with --first-sim, or alone for 1 .. --sims)", Tab::None, "", false, false, true, "", "not a slice" END,
        // The genealogy engine of a streams run
        FIELD(engine) Kind::Choice, "--engine", "E", "genealogies of a streams run: events (drawn at the cost of their events) or generations (the generation walk)", Tab::None, "", true, true, true, "", "events with --rng streams",
            {{"events", int(GenealogyEngine::Events)}, {"generations", int(GenealogyEngine::Generations)}} END,
        // The merge rule of every generation
        FIELD(mergers) Kind::Choice, "--mergers", "RULE", "merges per generation: one (the pair on the smallest parent drawn twice) or all (every set of lineages on one parent merges)", Tab::Main, "Merges per generation", true, true, true, "", "",
            {{"one", int(MergeRule::One), "", "One pair"}, {"all", int(MergeRule::All), "", "All sets"}} AT(.x = 168, .y = 372, .width = 145, .label = "lblMergers", .labelX = 168, .labelY = 352, .labelWidth = 145, .tip = "One pair: the two lineages on the smallest parent drawn twice merge, the exact default.\nAll sets: every set of lineages that drew one parent merges into one (Wright-Fisher).", .control = "cmbMergers"),
        // A demographic model
        FIELD(chkDemes) Kind::Flag, "", "", "", Tab::Demographics, "Demographic model (Demes file)", true, true AT(.x = 8, .y = 272, .width = 228, .tip = "A Demes file (YAML); runs with independent streams"),
        FIELD(edtDemes) Kind::CheckedText, "--demes", "FILE", "simulate the demographic model of a Demes file (YAML); implies --rng streams", Tab::Demographics, "", true, true, true, "chkDemes", "none" AT(.x = 32, .y = 300, .width = 252, .tip = "The model file: a name in the working directory or an absolute path"),
        FIELD(edtSamples) Kind::Text, "--samples", "NAME:COUNT,...", "copies sampled from each deme of the model (their sum is the sample size)", Tab::Demographics, "Samples (deme:copies, ...):", true, true AT(.x = 32, .y = 378, .width = 281, .label = "lblSamples", .labelX = 32, .labelY = 358, .labelWidth = 204),
        FIELD(edtPloidy) Kind::Text, "--ploidy", "P", "copies per individual of the model's sizes: 2, or 1 for haploid organisms", Tab::Demographics, "Copies per individual:", true, true AT(.x = 240, .y = 406, .label = "lblPloidy", .labelX = 32, .labelY = 410, .labelWidth = 204),
        // One data set per file (Files tab)
        FIELD(chkEachSim) Kind::Flag, "", "", "", Tab::Files, "One file per simulation", true, true AT(.x = 8, .y = 578, .width = 150, .tip = "Per simulation an alignment (formats: fasta, phylip, nexus), its genealogy and, for microsatellites, a GenePop file, in this folder"),
        FIELD(edtEachSim) Kind::CheckedText, "--each-sim", "DIR", "write each simulation's alignment, tree (and GenePop file) into DIR/sim_NNNNNN.*, listed in DIR/manifest.tsv", Tab::Files, "", true, true, true, "chkEachSim", "none" AT(.x = 168, .y = 576, .width = 70),
        FIELD(edtEachSimFormat) Kind::Text, "--each-sim-format", "LIST", "alignment formats of --each-sim: a comma-separated list of fasta, phylip, nexus", Tab::Files, "", true, true AT(.x = 240, .y = 576, .width = 88),
    };
    // clang-format on
    return entries;
}

#undef FIELD
#undef END
#undef AT

} // namespace

const std::vector<ParameterEntry>& parameterTable() {
    return table();
}

const ParameterEntry* findParameter(const std::string& field) {
    for (const auto& e : table())
        if (field == e.field) return &e;
    return nullptr;
}

std::string parameterDefault(const std::string& field) {
    static const FormValues defaults;
    const ParameterEntry* e = findParameter(field);
    return e ? e->get(defaults) : std::string();
}

std::string parameterDefaultHelp(const ParameterEntry& e) {
    if (*e.defaultNote) return e.defaultNote;
    static const FormValues defaults;
    const std::string value = e.get(defaults);
    switch (e.kind) {
    case Kind::Flag:
        return value == "1" ? "checked" : "unchecked";
    case Kind::CheckedText: {
        const ParameterEntry* check = findParameter(e.checkField);
        const bool on = check && check->get(defaults) == "1";
        return std::string(on ? "checked, " : "unchecked, ") + value;
    }
    case Kind::Choice:
        for (const auto& c : e.choices)
            if (std::to_string(c.value) == value) return c.text;
        return value;
    default:
        return value;
    }
}

ParameterNumber parameterNumber(const ParameterEntry& e) {
    // The edit boxes the run converts to whole numbers and to real numbers.
    static const std::vector<std::string> whole = {
        "edtSampleSize", "edtPopulationSize", "edtNumberSimulations", "edtSeqLength",
        "edtNumLoci",    "edtGrowthStart",    "edtGrowthEnd"};
    static const std::vector<std::string> real = {
        "edtMutationRate", "edtFreqA",     "edtFreqC",     "edtFreqG",  "edtTiTv", "edtI",
        "edtAlpha",        "edtVarRepSuc", "edtMeanOffsp", "edtChangeN"};
    for (const auto& w : whole)
        if (w == e.field) return ParameterNumber::Whole;
    for (const auto& r : real)
        if (r == e.field) return ParameterNumber::Real;
    return ParameterNumber::None;
}

bool strictWholeNumber(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return false;
    if (text[i] == '+' || text[i] == '-') ++i;
    const size_t digits = i;
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        if (value > kLargestCount) return false; // the lenient reading would cut it
        ++i;
    }
    if (i == digits) return false;
    return text.find_first_not_of(" \t", i) == std::string::npos;
}

bool strictRealNumber(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return false;
    if (text[i] == '+' || text[i] == '-') ++i;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == start) return false;
    }
    return text.find_first_not_of(" \t", i) == std::string::npos;
}

std::string checkNumberText(const ParameterEntry& e, const std::string& v) {
    switch (parameterNumber(e)) {
    case ParameterNumber::Whole:
        if (!strictWholeNumber(v))
            return "needs a whole number (at most 2147483647), not '" + v + "'";
        break;
    case ParameterNumber::Real:
        if (!strictRealNumber(v))
            return "needs a real number such as 0.001 or 1e-7, not '" + v + "'";
        break;
    case ParameterNumber::None:
        break;
    }
    return {};
}

std::string applyParameterOption(const ParameterEntry& e, FormValues& f, const std::string& v) {
    switch (e.kind) {
    case Kind::Flag:
        e.set(f, e.flagValue ? "1" : "0");
        return {};
    case Kind::CheckedText:
        if (const std::string error = checkNumberText(e, v); !error.empty()) return error;
        if (const ParameterEntry* check = findParameter(e.checkField)) check->set(f, "1");
        e.set(f, v);
        return {};
    case Kind::Choice: {
        std::string names;
        for (const auto& c : e.choices) {
            if (v == c.text) {
                e.set(f, std::to_string(c.value));
                return {};
            }
            names += (names.empty() ? "" : ", ") + std::string(c.text);
        }
        return "unknown value '" + v + "' (" + names + ")";
    }
    case Kind::Number:
        // A whole number of 1 or more, and one the run can hold.
        if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos ||
            v.find_first_not_of('0') == std::string::npos)
            return "needs a whole number of 1 or more, not '" + v + "'";
        if (v.size() > 12 || !e.set(f, v)) return "'" + v + "' is too large (at most 2147483647)";
        return {};
    case Kind::Text:
        if (const std::string error = checkNumberText(e, v); !error.empty()) return error;
        e.set(f, v);
        return {};
    }
    return {};
}

std::vector<std::string> parameterOptionWords(const ParameterEntry& e, const FormValues& f) {
    if (!*e.option) return {};
    const std::string value = e.get(f);
    switch (e.kind) {
    case Kind::Flag:
        if (value == (e.flagValue ? "1" : "0")) return {e.option};
        return {};
    case Kind::CheckedText: {
        const ParameterEntry* check = findParameter(e.checkField);
        if (check && check->get(f) == "1") return {e.option, value};
        return {};
    }
    case Kind::Choice:
        for (const auto& c : e.choices)
            if (std::to_string(c.value) == value) return {e.option, c.text};
        return {};
    default:
        return {e.option, value};
    }
}

} // namespace quenlith
