#include "demography/demes_model.h"

#include <algorithm>
#include <cmath>

namespace quenlith::demes {

const char* sizeFunctionName(SizeFunction f) {
    switch (f) {
    case SizeFunction::Constant:
        return "constant";
    case SizeFunction::Exponential:
        return "exponential";
    case SizeFunction::Linear:
        return "linear";
    }
    return "constant";
}

double epochSizeAt(const Epoch& e, double start, double t) {
    if (e.sizeFunction == SizeFunction::Constant || std::isinf(start)) return e.startSize;
    if (t == e.endTime) return e.endSize; // exactly, not through exp(log(...))
    // Fraction of the epoch elapsed, from its start (older) towards its end.
    const double dt = (start - t) / (start - e.endTime);
    if (e.sizeFunction == SizeFunction::Linear) return e.startSize + (e.endSize - e.startSize) * dt;
    return e.startSize * std::exp(std::log(e.endSize / e.startSize) * dt);
}

std::string genealogyRefusal(const Model& model) {
    for (size_t d = 0; d < model.demes.size(); ++d)
        for (size_t i = 0; i < model.demes[d].epochs.size(); ++i) {
            const Epoch& e = model.demes[d].epochs[i];
            const std::string where =
                "demes[" + std::to_string(d) + "].epochs[" + std::to_string(i) + "].";
            if (e.selfingRate != 0)
                return where + "selfing_rate: models with selfing are not simulated";
            if (e.cloningRate != 0)
                return where + "cloning_rate: models with cloning are not simulated";
        }
    return {};
}

DemographyTimeline::DemographyTimeline(Model model) : model_(std::move(model)) {
    const double g = model_.generationTime;
    demesInGenerations_ = model_.demes;
    std::vector<double> times;
    auto addTime = [&](double t) {
        if (std::isfinite(t)) times.push_back(t);
    };
    for (Deme& d : demesInGenerations_) {
        d.startTime /= g;
        addTime(d.startTime);
        for (Epoch& e : d.epochs) {
            e.endTime /= g;
            addTime(e.endTime);
        }
    }
    for (const Migration& m : model_.migrations) {
        MigrationSpan span{*demeIndex(m.source), *demeIndex(m.dest), m.startTime / g, m.endTime / g,
                           m.rate};
        addTime(span.start);
        addTime(span.end);
        migrations_.push_back(span);
    }
    for (const Pulse& p : model_.pulses) {
        PulseEvent event{{}, *demeIndex(p.dest), p.time / g};
        for (size_t i = 0; i < p.sources.size(); ++i)
            event.sources.push_back({*demeIndex(p.sources[i]), p.proportions[i]});
        addTime(event.time);
        pulses_.push_back(std::move(event));
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    changeTimes_ = std::move(times);
}

std::optional<size_t> DemographyTimeline::demeIndex(const std::string& name) const {
    for (size_t i = 0; i < model_.demes.size(); ++i)
        if (model_.demes[i].name == name) return i;
    return std::nullopt;
}

double DemographyTimeline::startTime(size_t d) const {
    return demesInGenerations_[d].startTime;
}
double DemographyTimeline::endTime(size_t d) const {
    return demesInGenerations_[d].endTime();
}

bool DemographyTimeline::exists(size_t d, double t) const {
    return startTime(d) > t && t >= endTime(d);
}

double DemographyTimeline::size(size_t d, double t) const {
    if (!exists(d, t)) return 0;
    const Deme& deme = demesInGenerations_[d];
    for (size_t i = 0; i < deme.epochs.size(); ++i) {
        const double start = deme.epochStartTime(i);
        if (start > t && t >= deme.epochs[i].endTime) return epochSizeAt(deme.epochs[i], start, t);
    }
    return 0;
}

std::vector<DemographyTimeline::Ancestry> DemographyTimeline::ancestors(size_t d) const {
    std::vector<Ancestry> out;
    const Deme& deme = model_.demes[d];
    for (size_t i = 0; i < deme.ancestors.size(); ++i)
        out.push_back({*demeIndex(deme.ancestors[i]), deme.proportions[i]});
    return out;
}

double DemographyTimeline::migrationRate(size_t source, size_t dest, double t) const {
    for (const MigrationSpan& m : migrations_)
        if (m.source == source && m.dest == dest && m.start > t && t >= m.end) return m.rate;
    return 0;
}

std::vector<DemographyTimeline::Ancestry> DemographyTimeline::migrationsInto(size_t dest,
                                                                             double t) const {
    std::vector<Ancestry> out;
    for (const MigrationSpan& m : migrations_)
        if (m.dest == dest && m.start > t && t >= m.end) out.push_back({m.source, m.rate});
    return out;
}

std::vector<DemographyTimeline::PulseEvent> DemographyTimeline::pulsesAt(double t) const {
    std::vector<PulseEvent> out;
    for (const PulseEvent& p : pulses_)
        if (p.time == t) out.push_back(p);
    return out;
}

} // namespace quenlith::demes
