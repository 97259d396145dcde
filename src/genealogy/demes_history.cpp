#include "genealogy/demes_history.h"

#include "base/run_error.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

namespace quenlith {

namespace {

// A time in generations, rounded; infinity stays forever.
int64_t roundedGeneration(double time, double generationTime, int& unwhole) {
    const double t = time / generationTime;
    if (std::isinf(t)) return kForeverGeneration;
    if (std::fabs(t - std::round(t)) > 1e-9) ++unwhole;
    return std::llround(t);
}

std::string field(size_t d, const char* name) {
    return "demes[" + std::to_string(d) + "]." + name;
}

} // namespace

DiscreteHistory discreteHistory(const demes::Model& model, int32_t ploidy,
                                std::vector<std::string>& notes) {
    DiscreteHistory h;
    h.ploidy = ploidy;
    const double g = model.generationTime;
    int unwhole = 0;
    std::map<std::string, int32_t> index;
    for (size_t d = 0; d < model.demes.size(); ++d)
        index[model.demes[d].name] = static_cast<int32_t>(d);
    for (size_t d = 0; d < model.demes.size(); ++d) {
        const demes::Deme& deme = model.demes[d];
        DiscreteDeme out;
        out.name = deme.name;
        out.start = roundedGeneration(deme.startTime, g, unwhole);
        out.end = roundedGeneration(deme.endTime(), g, unwhole);
        for (size_t a = 0; a < deme.ancestors.size(); ++a) {
            out.ancestors.push_back(index.at(deme.ancestors[a]));
            out.proportions.push_back(deme.proportions[a]);
        }
        for (size_t e = 0; e < deme.epochs.size(); ++e) {
            const demes::Epoch& epoch = deme.epochs[e];
            const std::string at = field(d, "epochs[") + std::to_string(e) + "]";
            if (epoch.selfingRate != 0)
                throw RunError("Range check error",
                               at + ".selfing_rate: " + std::to_string(epoch.selfingRate) +
                                   ": only models without selfing are simulated (the genealogy "
                                   "of gene copies needs random mating)");
            if (epoch.cloningRate != 0)
                throw RunError("Range check error",
                               at + ".cloning_rate: " + std::to_string(epoch.cloningRate) +
                                   ": only models without cloning are simulated");
            DiscreteEpoch x;
            x.end = roundedGeneration(epoch.endTime, g, unwhole);
            x.startTime = deme.epochStartTime(e) / g;
            x.endTime = epoch.endTime / g;
            x.startSize = epoch.startSize;
            x.endSize = epoch.endSize;
            x.function =
                epoch.sizeFunction == demes::SizeFunction::Exponential ? SizeFunction::Exponential
                : epoch.sizeFunction == demes::SizeFunction::Linear    ? SizeFunction::Linear
                                                                       : SizeFunction::Constant;
            const int64_t top = e == 0 ? out.start : out.epochs.back().end;
            if (x.end >= top && !(e == 0 && out.start == kForeverGeneration))
                notes.push_back("deme " + deme.name + ", epoch " + std::to_string(e) +
                                ": shorter than one generation once rounded, it holds no "
                                "generation");
            out.epochs.push_back(x);
        }
        h.demes.push_back(std::move(out));
    }
    for (size_t m = 0; m < model.migrations.size(); ++m) {
        const demes::Migration& mg = model.migrations[m];
        DiscreteMigration x;
        x.source = index.at(mg.source);
        x.dest = index.at(mg.dest);
        x.start = roundedGeneration(mg.startTime, g, unwhole);
        x.end = roundedGeneration(mg.endTime, g, unwhole);
        x.rate = mg.rate;
        if (x.start <= x.end)
            notes.push_back("migration " + std::to_string(m) + " (" + mg.source + " to " + mg.dest +
                            "): shorter than one generation once rounded, left out");
        h.migrations.push_back(x);
    }
    for (size_t p = 0; p < model.pulses.size(); ++p) {
        const demes::Pulse& pulse = model.pulses[p];
        DiscretePulse x;
        x.time = roundedGeneration(pulse.time, g, unwhole);
        x.dest = index.at(pulse.dest);
        for (size_t s = 0; s < pulse.sources.size(); ++s) {
            x.sources.push_back(index.at(pulse.sources[s]));
            x.proportions.push_back(pulse.proportions[s]);
        }
        if (x.time >= h.demes[static_cast<size_t>(x.dest)].start)
            notes.push_back("pulse " + std::to_string(p) + " into " + pulse.dest +
                            ": its time rounds onto the start of " + pulse.dest +
                            ", where no copy is left in it: it moves no copy");
        h.pulses.push_back(std::move(x));
    }
    if (unwhole > 0)
        notes.push_back(std::to_string(unwhole) +
                        " model time(s) rounded to the nearest whole generation");
    const std::string error = h.check();
    if (!error.empty()) throw RunError("Range check error", error);
    return h;
}

std::string parseDemeSamples(const std::string& text, const demes::Model& model,
                             const DiscreteHistory& history, std::vector<DemeSample>& out) {
    out.clear();
    if (text.find_first_not_of(" \t") == std::string::npos)
        return "no samples: give NAME:COUNT for each deme sampled, as A:10,B:5";
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = text.find(',', at);
        const std::string entry =
            text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        at = comma == std::string::npos ? text.size() + 1 : comma + 1;
        const size_t colon = entry.rfind(':');
        if (colon == std::string::npos) return "'" + entry + "': not NAME:COUNT";
        const std::string name = entry.substr(0, colon);
        const std::string count = entry.substr(colon + 1);
        if (count.find('@') != std::string::npos)
            return "'" + entry + "': samples of past generations are not simulated yet";
        DemeSample s;
        s.name = name;
        s.deme = -1;
        for (size_t d = 0; d < model.demes.size(); ++d)
            if (model.demes[d].name == name) s.deme = static_cast<int32_t>(d);
        if (s.deme < 0) return "'" + entry + "': the model has no deme " + name;
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(count.c_str(), &end, 10);
        if (count.empty() || *end != '\0' || errno == ERANGE || n < 1 || n > 100000000 ||
            count.find_first_not_of("0123456789") != std::string::npos)
            return "'" + entry + "': the count must be a whole number above 0";
        s.count = static_cast<int32_t>(n);
        const DiscreteDeme& deme = history.demes[static_cast<size_t>(s.deme)];
        if (deme.end > 0)
            return "'" + entry + "': deme " + name + " does not exist at time 0 (it ends " +
                   std::to_string(deme.end) + " generations ago)";
        for (const DemeSample& other : out)
            if (other.deme == s.deme) return "'" + entry + "': deme " + name + " named twice";
        out.push_back(s);
    }
    return {};
}

std::vector<StructuredSample> sampledCopies(const std::vector<DemeSample>& samples) {
    std::vector<StructuredSample> out;
    for (const DemeSample& s : samples)
        for (int32_t i = 0; i < s.count; ++i)
            out.push_back({s.deme, 0});
    return out;
}

} // namespace quenlith
