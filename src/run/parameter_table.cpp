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

template <auto P> ParameterEntry entry(ParameterEntry e) {
    using M = typename MemberType<decltype(P)>::type;
    e.get = &Access<M>::template get<P>;
    e.set = &Access<M>::template set<P>;
    return e;
}

#define FIELD(name) entry<&FormValues::name>(ParameterEntry{#name,
#define END                                                                                        \
    })

const std::vector<ParameterEntry>& table() {
    // clang-format off
    static const std::vector<ParameterEntry> entries = {
        // Main tab
        FIELD(edtSampleSize) Kind::Text, "--sample-size", "T", "Sample Size (k)", Tab::Main, "", true, true END,
        FIELD(edtPopulationSize) Kind::Text, "--pop-size", "T", "Population Size (N)", Tab::Main, "", true, true END,
        FIELD(chkMultipleSims) Kind::Flag, "", "", "", Tab::Main, "Multiple Simulations", false, true END,
        FIELD(edtNumberSimulations) Kind::CheckedText, "--sims", "T", "Multiple Simulations: number of simulations", Tab::Main, "", false, true, true, "chkMultipleSims" END,
        FIELD(chkDrawMut) Kind::Flag, "--no-draw-mutations", "", "do not draw mutations on the genealogy", Tab::Main, "Draw mutations on genealogy?", true, true, false END,
        // Sequence tab
        FIELD(edtSeqLength) Kind::Text, "--seq-length", "T", "Sequence Length", Tab::Sequence, "", true, true END,
        FIELD(chkSeqInput) Kind::Flag, "", "", "", Tab::Sequence, "Input DNA sequence", true, true END,
        FIELD(edtSeqFile) Kind::CheckedText, "--seq-input", "FILE", "Input DNA sequence: root sequence file", Tab::Sequence, "", true, true, true, "chkSeqInput" END,
        FIELD(edtMutationRate) Kind::Text, "--mutation-rate", "T", "MutationRate (u), mutations/site/generation", Tab::Sequence, "", true, true END,
        FIELD(chkDiploid) Kind::Flag, "--diploid", "", "Diploid", Tab::Sequence, "Diploid", true, true END,
        FIELD(chkSegSites) Kind::Flag, "--no-seg-sites", "", "do not export segregating sites from the infinite sites model", Tab::Sequence, "Export Segregating Sites from infinite sites model", true, true, false END,
        FIELD(chkScatterMut) Kind::Flag, "--no-scatter", "", "do not scatter mutations on the simulated DNA sequence", Tab::Sequence, "Scatter Mutations on simulated DNA sequence", true, true, false END,
        FIELD(model) Kind::Choice, "--model", "M", "substitution model: JC69, K2P, F81 or HKY85", Tab::Sequence, "", true, true, true, "", "",
            {{"JC69", int(SubstitutionModel::JC69)}, {"K2P", int(SubstitutionModel::K2P)}, {"F81", int(SubstitutionModel::F81)}, {"HKY85", int(SubstitutionModel::HKY85)}} END,
        FIELD(edtFreqA) Kind::Text, "--freq-a", "T", "base frequency A", Tab::Sequence, "", true, true END,
        FIELD(edtFreqC) Kind::Text, "--freq-c", "T", "base frequency C", Tab::Sequence, "", true, true END,
        FIELD(edtFreqG) Kind::Text, "--freq-g", "T", "base frequency G", Tab::Sequence, "", true, true END,
        FIELD(edtTiTv) Kind::Text, "--titv", "T", "Ti:Tv ratio", Tab::Sequence, "", true, true END,
        FIELD(chkInvarSites) Kind::Flag, "", "", "", Tab::Sequence, "Proportion Invariable Sites", true, true END,
        FIELD(edtI) Kind::CheckedText, "--invariable", "T", "Proportion Invariable Sites", Tab::Sequence, "", true, true, true, "chkInvarSites" END,
        FIELD(chkShapeParameter) Kind::Flag, "", "", "", Tab::Sequence, "Gamma distributed rate variation", true, true END,
        FIELD(edtAlpha) Kind::CheckedText, "--gamma", "T", "Gamma distributed rate variation: shape parameter", Tab::Sequence, "", true, true, true, "chkShapeParameter" END,
        FIELD(chkSeqDiversity) Kind::Flag, "--seq-diversity", "", "Calculate Diversity Indices (DNA)", Tab::Sequence, "Calculate Diversity Indices", true, true END,
        FIELD(chkSeqOut) Kind::Flag, "--seq-out", "", "Generate sequence output file", Tab::Sequence, "Generate sequence output file", true, true END,
        FIELD(edtSeqOut) Kind::Text, "--seq-out-file", "FILE", "Sequence data output", Tab::Sequence, "", true, true END,
        FIELD(rdgOutput) Kind::Choice, "--format", "F", "Output format: Clustal, Nexus, Fasta or MrBayes", Tab::Sequence, "", true, true, true, "", "",
            {{"Clustal", int(OutputFormat::Clustal)}, {"Nexus", int(OutputFormat::Nexus)}, {"Fasta", int(OutputFormat::Fasta)}, {"MrBayes", int(OutputFormat::MrBayes)}} END,
        // Microsatellite tab
        FIELD(chkMsats) Kind::Flag, "--msat", "", "Simulate microsatellite data", Tab::Microsatellite, "Simulate microsatellite data", true, true END,
        FIELD(edtNumLoci) Kind::Text, "--loci", "T", "Number of loci", Tab::Microsatellite, "", true, true END,
        FIELD(msatModel) Kind::Choice, "--msat-model", "M", "allele model: infinite, stepwise or random", Tab::Microsatellite, "", true, true, true, "", "",
            {{"infinite", int(MsatModel::InfiniteAlleles)}, {"stepwise", int(MsatModel::Stepwise)}, {"random", int(MsatModel::RandomAlleles)}} END,
        FIELD(edtMsatIn) Kind::Text, "--msat-params", "FILE", "Microsatellite Parameters file", Tab::Microsatellite, "", true, true END,
        FIELD(chkMSatOut) Kind::Flag, "--msat-out", "", "Generate Microsatellite data file", Tab::Microsatellite, "Generate Microsatellite data file", true, true END,
        FIELD(chkMSatDiversity) Kind::Flag, "--msat-diversity", "", "Calculate Diversity Indices (microsatellites)", Tab::Microsatellite, "Calculate Diversity Indices", true, true END,
        FIELD(edtMSatData) Kind::Text, "--msat-out-file", "FILE", "Microsatellite data output", Tab::Microsatellite, "", true, true END,
        // Demographics tab
        FIELD(chkVarRepSuc) Kind::Flag, "", "", "", Tab::Demographics, "Variance in reproductive success", true, true END,
        FIELD(edtVarRepSuc) Kind::CheckedText, "--var-rep-success", "T", "Variance in reproductive success", Tab::Demographics, "", true, true, true, "chkVarRepSuc" END,
        FIELD(edtMeanOffsp) Kind::Text, "--mean-offspring", "T", "mean number of offspring", Tab::Demographics, "", true, true END,
        FIELD(chkFluctuatingN) Kind::Flag, "--fluctuating", "", "Fluctuating Population Size", Tab::Demographics, "Fluctuating Population Size", true, true END,
        FIELD(edtGrowthStart) Kind::Text, "--growth-start", "T", "Start of Population growth", Tab::Demographics, "", true, true END,
        FIELD(edtGrowthEnd) Kind::Text, "--growth-end", "T", "End of Population growth", Tab::Demographics, "", true, true END,
        FIELD(edtChangeN) Kind::Text, "--change-percent", "T", "% Population size change per gen", Tab::Demographics, "", true, true END,
        // Files tab
        FIELD(WorkDir) Kind::Text, "--workdir", "DIR", "working directory for every file (created when missing)", Tab::Files, "", false, true END,
        FIELD(edtTmrca) Kind::Text, "--summary-file", "FILE", "Output File (summary table)", Tab::Files, "", true, true END,
        FIELD(edtNewickTrees) Kind::Text, "--newick-file", "FILE", "Newick tree file", Tab::Files, "", true, true END,
        FIELD(edtMutDistrib) Kind::Text, "--mut-distrib-file", "FILE", "Mutation distribution", Tab::Files, "", true, true END,
        FIELD(edtCoalDistrib) Kind::Text, "--coal-distrib-file", "FILE", "Coalescent distribution", Tab::Files, "", true, true END,
        FIELD(edtLogFile) Kind::Text, "--log-file", "FILE", "Log File", Tab::Files, "", true, true END,
        FIELD(chkArlequin) Kind::Flag, "--arlequin", "", "Create Arlequin project/batch files", Tab::Files, "Create Arlequin project/batch files", true, true END,
        FIELD(rngKind) Kind::Choice, "--rng", "KIND", "lcg: one 32-bit generator for the run; streams: a stream per simulation", Tab::Main, "", true, true, true, "", "",
            {{"lcg", int(RandomKind::Lcg)}, {"streams", int(RandomKind::Streams)}} END,
        FIELD(chkStats) Kind::Flag, "", "", "", Tab::Files, "Statistics table", true, true END,
        FIELD(edtStats) Kind::CheckedText, "--stats", "FILE", "write the statistics table (one row per simulation)", Tab::Files, "", true, true, true, "chkStats", "none" END,
        FIELD(chkVcf) Kind::Flag, "", "", "", Tab::Files, "VCF file", true, true END,
        FIELD(edtVcf) Kind::CheckedText, "--vcf", "FILE", "write the segregating sites as VCF (.vcf.gz: bgzip); DNA runs", Tab::Files, "", true, true, true, "chkVcf", "none" END,
        FIELD(chkMs) Kind::Flag, "", "", "", Tab::Files, "ms file", true, true END,
        FIELD(edtMs) Kind::CheckedText, "--ms", "FILE", "write the segregating sites in ms format; DNA runs", Tab::Files, "", true, true, true, "chkMs", "none" END,
        // Run control of the command line only
        FIELD(threads) Kind::Number, "--threads", "T", "worker threads of a streams run", Tab::None, "", false, false, true, "", "every core" END,
        FIELD(firstSim) Kind::Number, "--first-sim", "A", "a slice of a streams run: simulations A .. A + --sims - 1 (needs --of)", Tab::None, "", false, false END,
        // The size of the whole run a slice belongs to
        FIELD(ofSims) Kind::Number, "--of", "S", "a slice of a streams run of S simulations in all (with --first-sim, or alone for 1 .. --sims)", Tab::None, "", false, false, true, "", "not a slice" END,
        // The genealogy engine of a streams run
        FIELD(engine) Kind::Choice, "--engine", "E", "genealogies of a streams run: events (drawn at the cost of their events) or generations (the generation walk)", Tab::None, "", true, true, true, "", "events with --rng streams",
            {{"events", int(GenealogyEngine::Events)}, {"generations", int(GenealogyEngine::Generations)}} END,
        // The merge rule of every generation
        FIELD(mergers) Kind::Choice, "--mergers", "RULE", "merges per generation: one (the pair on the smallest parent drawn twice) or all (every set of lineages on one parent merges)", Tab::Main, "", true, true, true, "", "",
            {{"one", int(MergeRule::One)}, {"all", int(MergeRule::All)}} END,
        // A demographic model
        FIELD(chkDemes) Kind::Flag, "", "", "", Tab::Demographics, "Demographic model (Demes file)", true, true END,
        FIELD(edtDemes) Kind::CheckedText, "--demes", "FILE", "simulate the demographic model of a Demes file (YAML); implies --rng streams", Tab::Demographics, "", true, true, true, "chkDemes", "none" END,
        FIELD(edtSamples) Kind::Text, "--samples", "NAME:COUNT,...", "copies sampled from each deme of the model (their sum is the sample size)", Tab::Demographics, "", true, true END,
        FIELD(edtPloidy) Kind::Text, "--ploidy", "P", "copies per individual of the model's sizes: 2, or 1 for haploid organisms", Tab::Demographics, "", true, true END,
        // One data set per file (Files tab)
        FIELD(chkEachSim) Kind::Flag, "", "", "", Tab::Files, "One file per simulation", true, true END,
        FIELD(edtEachSim) Kind::CheckedText, "--each-sim", "DIR", "write each simulation's alignment, tree (and GenePop file) into DIR/sim_NNNNNN.*, listed in DIR/manifest.tsv", Tab::Files, "", true, true, true, "chkEachSim", "none" END,
        FIELD(edtEachSimFormat) Kind::Text, "--each-sim-format", "LIST", "alignment formats of --each-sim: a comma-separated list of fasta, phylip, nexus", Tab::Files, "", true, true END,
    };
    // clang-format on
    return entries;
}

#undef FIELD
#undef END

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
