#include "run/pipeline_settings.h"

#include "base/file_io.h"
#include "output/matrix_files.h"

#include <filesystem>
#include <tuple>
#include <utility>
#include <vector>

namespace quenlith {

namespace {

namespace fs = std::filesystem;

fs::path normalPath(const std::string& workDir, const std::string& name) {
    return fs::path(joinPath(workDir, name)).lexically_normal();
}

bool sameFile(const fs::path& a, const fs::path& b) {
    if (a == b) return true;
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// `path` is `folder` or lies inside it.
bool inside(const fs::path& path, const fs::path& folder) {
    auto f = folder.begin();
    auto p = path.begin();
    for (; f != folder.end(); ++f, ++p)
        if (p == path.end() || *p != *f) return false;
    return true;
}

} // namespace

std::string checkPipelineOutputs(const RunParameters& p) {
    if (p.Msats && p.Vcf)
        return "A VCF file holds DNA sites: it cannot be written in a microsatellite run";
    if (p.Msats && p.Ms)
        return "An ms file holds DNA sites: it cannot be written in a microsatellite run";

    // The files this run writes or reads, by what they are.
    std::vector<std::pair<std::string, std::string>> taken = {
        {p.CoalDistribName, "the coalescent distribution"},
        {p.MutDistribName, "the mutation distribution"},
        {p.SummaryName, "the summary table"},
        {p.NewickName, "the Newick tree file"},
        {p.LogName, "the log file"},
        {kTreeMatFile, "the genealogy matrix file"},
        {kMutMatFile, "the mutation matrix file"},
    };
    const bool arlequin = p.ArlequinFiles && (p.SeqOut || p.MSatOut);
    if (arlequin) taken.emplace_back("ArlequinBatch.arp", "the Arlequin batch file");
    if (p.Msats) {
        taken.emplace_back(p.MsatParamsName, "the microsatellite parameter file");
        if (p.MSatOut) taken.emplace_back(p.MsatDataName, "the microsatellite data file");
    } else {
        if (p.SeqInput) taken.emplace_back(p.SeqFileName, "the input DNA sequence file");
        if (p.ScatterMut && p.SeqOut) taken.emplace_back(p.SeqOutName, "the sequence output file");
    }

    const std::vector<std::tuple<bool, std::string, std::string>> asked = {
        {p.Stats, p.StatsName, "statistics table"},
        {p.Vcf && !p.Msats, p.VcfName, "VCF file"},
        {p.Ms && !p.Msats, p.MsName, "ms file"},
    };
    const fs::path arlequinFolder = normalPath(p.WorkDir, "Arlequin");
    for (size_t i = 0; i < asked.size(); ++i) {
        const auto& [on, name, what] = asked[i];
        if (!on) continue;
        if (name.empty()) return "The file name of the " + what + " is empty";
        const fs::path path = normalPath(p.WorkDir, name);
        auto collision = [&](const std::string& other) {
            return "The " + what + " cannot be named \"" + name + "\": that is also the name of " +
                   other;
        };
        for (const auto& [otherName, otherWhat] : taken)
            if (sameFile(path, normalPath(p.WorkDir, otherName))) return collision(otherWhat);
        if (arlequin && inside(path, arlequinFolder)) return collision("the Arlequin folder");
        for (size_t j = 0; j < i; ++j) {
            const auto& [otherOn, otherName, otherWhat] = asked[j];
            if (otherOn && sameFile(path, normalPath(p.WorkDir, otherName)))
                return collision("the " + otherWhat);
        }
    }
    return {};
}

std::string msCommandLine(const FormValues& form, const RunParameters& p) {
    const FormValues defaults;
    std::string line =
        "quenlith-cli " + std::to_string(p.SampleSize) + " " + std::to_string(p.SimCount);
    auto quoted = [](const std::string& v) {
        if (!v.empty() && v.find_first_of(" \t'\"") == std::string::npos) return v;
        std::string q = "'";
        for (const char c : v)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    auto text = [&](const char* option, const std::string& value, const std::string& dflt) {
        if (value != dflt) line += std::string(" ") + option + " " + quoted(value);
    };
    auto flag = [&](const char* option, bool value, bool dflt) {
        if (value != dflt) line += std::string(" ") + option;
    };
    if (form.rngKind == RandomKind::Streams) line += " --rng streams";
    text("--pop-size", form.edtPopulationSize, defaults.edtPopulationSize);
    text("--seq-length", form.edtSeqLength, defaults.edtSeqLength);
    if (form.chkSeqInput) line += " --seq-input " + quoted(form.edtSeqFile);
    text("--mutation-rate", form.edtMutationRate, defaults.edtMutationRate);
    flag("--diploid", form.chkDiploid, defaults.chkDiploid);
    flag("--no-scatter", !form.chkScatterMut, !defaults.chkScatterMut);
    static const char* const models[] = {"JC69", "K2P", "F81", "HKY85"};
    if (form.model != defaults.model)
        line += std::string(" --model ") + models[static_cast<int>(form.model)];
    text("--freq-a", form.edtFreqA, defaults.edtFreqA);
    text("--freq-c", form.edtFreqC, defaults.edtFreqC);
    text("--freq-g", form.edtFreqG, defaults.edtFreqG);
    text("--titv", form.edtTiTv, defaults.edtTiTv);
    if (form.chkInvarSites) line += " --invariable " + quoted(form.edtI);
    if (form.chkShapeParameter) line += " --gamma " + quoted(form.edtAlpha);
    if (form.chkVarRepSuc) line += " --var-rep-success " + quoted(form.edtVarRepSuc);
    text("--mean-offspring", form.edtMeanOffsp, defaults.edtMeanOffsp);
    flag("--fluctuating", form.chkFluctuatingN, defaults.chkFluctuatingN);
    text("--growth-start", form.edtGrowthStart, defaults.edtGrowthStart);
    text("--growth-end", form.edtGrowthEnd, defaults.edtGrowthEnd);
    text("--change-percent", form.edtChangeN, defaults.edtChangeN);
    return line;
}

PipelineOutputSettings pipelineOutputSettings(const RunParameters& p, const FormValues& form,
                                              uint64_t seed) {
    PipelineOutputSettings s;
    s.workDir = p.WorkDir;
    s.stats = p.Stats;
    s.statsName = p.StatsName;
    s.vcf = p.Vcf && !p.Msats;
    s.vcfName = p.VcfName;
    s.ms = p.Ms && !p.Msats;
    s.msName = p.MsName;
    s.msats = p.Msats;
    s.sampleSize = p.SampleSize;
    s.loci = p.Msats ? p.NumLoci : 0;
    s.sizesAreLengths = p.AlleleModel != MsatModel::InfiniteAlleles;
    s.diploid = p.Diploid;
    s.firstSimulation = form.rngKind == RandomKind::Streams ? form.firstSim : 1;
    s.simulationCount = p.SimCount;
    s.seed = form.rngKind == RandomKind::Streams ? seed : static_cast<uint32_t>(seed);
    if (s.ms) s.msCommandLine = msCommandLine(form, p);
    return s;
}

} // namespace quenlith
