#include "run/run_model.h"
#include "base/limits.h"

#include "base/file_io.h"
#include "base/run_error.h"
#include "demography/demes_reader.h"
#include "run/slice_manifest.h"

#include <cmath>
#include <cstdio>

namespace quenlith {

namespace {

std::string number(double v) {
    if (std::isinf(v)) return "infinity";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

std::string generation(int64_t t) {
    return t == kForeverGeneration ? "forever" : std::to_string(t);
}

const char* functionName(SizeFunction f) {
    switch (f) {
    case SizeFunction::Exponential:
        return "exponential";
    case SizeFunction::Linear:
        return "linear";
    default:
        return "constant";
    }
}

} // namespace

std::string modelControlsError(const FormValues& form) {
    if (!form.chkDemes && (!form.edtSamples.empty() || form.edtPloidy != FormValues{}.edtPloidy))
        return "--samples and --ploidy describe the samples of a demographic model: they need "
               "--demes";
    return {};
}

std::string readRunModel(const FormValues& form, RunModel& out) {
    if (form.rngKind != RandomKind::Streams)
        return "A demographic model runs with independent streams (--rng streams): the default "
               "generator cannot run it";
    if (form.chkFluctuatingN)
        return "--demes: the model gives the population sizes; \"Fluctuating Population Size\" "
               "(--fluctuating) cannot be used with it";
    if (form.chkVarRepSuc)
        return "--demes: the model gives the reproduction; \"Variance in reproductive success\" "
               "(--var-rep-success) cannot be used with it";
    if (!form.chkMsats && form.chkShapeParameter)
        return "--demes: gamma distributed rate variation (--gamma) draws a rate per generation "
               "and cannot be used with a model yet";
    const std::string ploidy = form.edtPloidy;
    if (ploidy != "1" && ploidy != "2") return "--ploidy: '" + ploidy + "' is not 1 or 2";
    if (form.chkMsats && ploidy != "2")
        return "--ploidy: a microsatellite run is diploid (--ploidy 2)";
    out = RunModel{};
    out.path = joinPath(form.WorkDir, form.edtDemes);
    std::string text;
    try {
        text = readWholeFile(out.path, 64u << 20, "the largest model file read");
    } catch (const RunError& e) {
        return "--demes: " + out.path + ": " + e.text() +
               (e.detail().empty() ? "" : ": " + e.detail());
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(textDigest(text)));
    out.digest = hex;
    try {
        out.model = demes::readModel(text, out.path);
        out.history = discreteHistory(out.model, ploidy == "1" ? 1 : 2, out.notes);
    } catch (const demes::DemesError& e) {
        return std::string("--demes: ") + e.what();
    } catch (const RunError& e) {
        return "--demes: " + out.path + ": " + e.detail();
    }
    if (const std::string error =
            parseDemeSamples(form.edtSamples, out.model, out.history, out.samples);
        !error.empty())
        return "--samples: " + error;
    // Individuals are pairs of copies of one deme.
    if (form.chkDiploid || form.chkMsats)
        for (const DemeSample& d : out.samples)
            if (d.count % 2 != 0)
                return "--samples: " + d.name + ":" + std::to_string(d.count) + ": a " +
                       (form.chkMsats ? "microsatellite" : "diploid") +
                       " run pairs the copies of each deme, so every count must be even";
    out.copies = sampledCopies(out.samples);
    for (const DemeSample& d : out.samples)
        for (int32_t i = 1; i <= d.count; ++i)
            out.sampleNames.push_back(d.name + "_" + std::to_string(i));
    if (out.copies.size() < 2) return "--samples: at least two copies are needed";
    if (out.copies.size() > uint32_t{kLargestCount}) return "--samples: too many copies";
    return {};
}

DemeGroups demeGroups(const RunModel& m) {
    DemeGroups g;
    for (const DemeSample& d : m.samples) {
        g.names.push_back(d.name);
        g.counts.push_back(d.count);
    }
    return g;
}

std::vector<std::string> runModelLogLines(const RunModel& m) {
    std::vector<std::string> lines;
    lines.push_back("Demographic model: " + m.path + " (digest " + m.digest + ")");
    lines.push_back("Ploidy: " + std::to_string(m.history.ploidy) +
                    " copies per individual; times in whole generations, sizes rounded to "
                    "whole copies at every generation");
    for (const DiscreteDeme& d : m.history.demes) {
        std::string line = "Deme " + d.name + ": generations " + std::to_string(d.end) + " to " +
                           generation(d.start);
        if (!d.ancestors.empty()) {
            line += ", from";
            for (size_t a = 0; a < d.ancestors.size(); ++a)
                line += " " + m.history.demes[static_cast<size_t>(d.ancestors[a])].name + " (" +
                        number(d.proportions[a]) + ")";
        }
        lines.push_back(line);
        int64_t top = d.start;
        for (const DiscreteEpoch& e : d.epochs) {
            lines.push_back("  epoch to generation " + std::to_string(e.end) + " from " +
                            generation(top) + ": " + functionName(e.function) + " size " +
                            number(e.startSize) + " to " + number(e.endSize));
            top = e.end;
        }
    }
    for (const DiscreteMigration& mg : m.history.migrations)
        lines.push_back("Migration " + m.history.demes[static_cast<size_t>(mg.source)].name +
                        " to " + m.history.demes[static_cast<size_t>(mg.dest)].name + ": rate " +
                        number(mg.rate) + ", generations " + std::to_string(mg.end) + " to " +
                        generation(mg.start));
    for (const DiscretePulse& p : m.history.pulses) {
        std::string line = "Pulse into " + m.history.demes[static_cast<size_t>(p.dest)].name +
                           " at generation " + std::to_string(p.time) + " from";
        for (size_t s = 0; s < p.sources.size(); ++s)
            line += " " + m.history.demes[static_cast<size_t>(p.sources[s])].name + " (" +
                    number(p.proportions[s]) + ")";
        lines.push_back(line);
    }
    std::string samples = "Samples:";
    for (const DemeSample& s : m.samples)
        samples += " " + s.name + ":" + std::to_string(s.count);
    lines.push_back(samples);
    for (const std::string& note : m.notes)
        lines.push_back("Rounding: " + note);
    return lines;
}

} // namespace quenlith
