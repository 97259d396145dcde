#include "run/pipeline_settings.h"

#include "base/file_io.h"
#include "output/matrix_files.h"
#include "run/parameter_table.h"
#include "run/run_model.h"

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

std::string msCommandLine(const FormValues& given, const RunParameters& p, uint64_t seed) {
    const FormValues defaults;
    // A slice records the engine it ran; named or not, the default engine is left out.
    FormValues form = given;
    if (form.rngKind == RandomKind::Streams && form.engine == GenealogyEngine::Events)
        form.engine = GenealogyEngine::Default;
    std::string line = "quenlith-cli " + std::to_string(p.SampleSize) + " " +
                       std::to_string(p.SimCount) + " --seed " + std::to_string(seed);
    auto quoted = [](const std::string& v) {
        if (!v.empty() && v.find_first_of(" \t'\"\\$`!*?[]{}()<>|&;#~") == std::string::npos)
            return v;
        std::string q = "'";
        for (const char c : v)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    for (const ParameterEntry& e : parameterTable()) {
        // The sample size and the count stand first, as in ms; the folder and the thread
        // count do not change what the run writes.
        const std::string field = e.field;
        if (field == "edtSampleSize" || field == "edtNumberSimulations" || field == "WorkDir" ||
            field == "threads")
            continue;
        const std::vector<std::string> words = parameterOptionWords(e, form);
        if (words.empty() || words == parameterOptionWords(e, defaults)) continue;
        line += ' ';
        line += words[0];
        for (size_t i = 1; i < words.size(); ++i) {
            line += ' ';
            line += quoted(words[i]);
        }
    }
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
    if (s.ms) s.msCommandLine = msCommandLine(form, p, s.seed);
    if (p.model) s.demes = demeGroups(*p.model);
    if (p.model)
        // The samples deme by deme: NAME_i, the i-th copy (or individual) of deme NAME.
        for (const DemeSample& d : p.model->samples)
            for (int32_t i = 1; i <= (p.Diploid ? d.count / 2 : d.count); ++i) {
                s.sampleNames.push_back(d.name + "_" + std::to_string(i));
                s.samplePopulations.push_back(d.name);
            }
    return s;
}

} // namespace quenlith
