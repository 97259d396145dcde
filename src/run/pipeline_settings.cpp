#include "run/pipeline_settings.h"

#include "base/file_io.h"
#include "output/matrix_files.h"

namespace quenlith {

std::string checkPipelineOutputs(const RunParameters& p) {
    if (p.Msats && p.Vcf)
        return "A VCF file holds DNA sites: it cannot be written in a microsatellite run";
    if (p.Msats && p.Ms)
        return "An ms file holds DNA sites: it cannot be written in a microsatellite run";
    // These files are made from the sequences, which keep the root's bases when mutations
    // are not scattered on them: they would report no variation at all.
    if (!p.Msats && !p.ScatterMut && (p.Stats || p.Vcf || p.Ms))
        return "The statistics table, the VCF and the ms file are made from the sequences: "
               "they need \"Scatter Mutations on simulated DNA sequence\" (--no-scatter "
               "leaves every sequence without mutations)";

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
