#pragma once
// A demographic model in the Demes format, fully resolved: every deme, epoch, migration and
// pulse with all of its values filled in. Times are in the model's own units (time_units);
// DemographyTimeline answers an engine's questions in generations.
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quenlith::demes {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

enum class SizeFunction { Constant, Exponential, Linear };

const char* sizeFunctionName(SizeFunction f);

// The interval (startTime, endTime] of an epoch: startTime is older (larger) than endTime.
struct Epoch {
    double endTime = 0;
    double startSize = 0;
    double endSize = 0;
    SizeFunction sizeFunction = SizeFunction::Constant;
    double selfingRate = 0;
    double cloningRate = 0;
};

struct Deme {
    std::string name;
    std::string description;
    double startTime = kInfinity;
    std::vector<std::string> ancestors;
    std::vector<double> proportions; // one per ancestor, summing to 1
    std::vector<Epoch> epochs;       // oldest first; at least one
    double endTime() const { return epochs.back().endTime; }
    // Start time of epoch i: the previous epoch's end, or the deme's start.
    double epochStartTime(size_t i) const { return i == 0 ? startTime : epochs[i - 1].endTime; }
};

// Continuous migration: the probability per generation that a parent of an individual in
// `dest` is drawn from `source`, over (startTime, endTime].
struct Migration {
    std::string source;
    std::string dest;
    double startTime = kInfinity;
    double endTime = 0;
    double rate = 0;
};

// At `time`, the fractions `proportions` of `dest` are replaced by individuals with parents
// in `sources`.
struct Pulse {
    std::vector<std::string> sources;
    std::string dest;
    double time = 0;
    std::vector<double> proportions;
};

struct Model {
    std::string description;
    std::string timeUnits = "generations";
    double generationTime = 1;
    std::vector<std::string> doi;
    std::string metadataJson = "{}"; // carried through unread, as compact JSON
    std::vector<Deme> demes;         // ancestors before their descendants
    std::vector<Migration> migrations;
    std::vector<Pulse> pulses; // oldest first; pulses of one time in the file's order
};

// Why genealogies of gene copies cannot be simulated under the model (an epoch with a selfing
// or cloning rate other than 0: copies of one individual are then not independent), naming
// the field; empty when they can.
std::string genealogyRefusal(const Model& model);

// Size at time t of an epoch spanning (start, end] (same units for all three).
double epochSizeAt(const Epoch& e, double start, double t);

// The model in generations, for a simulation engine. Times are generations before the
// present (model time / generation_time); sizes are individuals, not rounded.
class DemographyTimeline {
  public:
    explicit DemographyTimeline(Model model);

    const Model& model() const { return model_; }
    size_t demeCount() const { return model_.demes.size(); }
    std::optional<size_t> demeIndex(const std::string& name) const;

    double startTime(size_t d) const; // generations; infinite for a root deme
    double endTime(size_t d) const;
    // The deme exists at t when endTime <= t < startTime.
    bool exists(size_t d, double t) const;
    // Size of deme d at generation t (its epoch's size function evaluated there); 0 when
    // the deme does not exist at t.
    double size(size_t d, double t) const;

    struct Ancestry {
        size_t deme;
        double proportion;
    };
    // Where the individuals of deme d come from at its start time.
    std::vector<Ancestry> ancestors(size_t d) const;

    // Rate of migration from `source` into `dest` at generation t (0 when none is active).
    double migrationRate(size_t source, size_t dest, double t) const;
    // Every migration into `dest` active at generation t: its source and its rate, in the
    // model's order (backwards in time, a lineage in `dest` moves to the source).
    std::vector<Ancestry> migrationsInto(size_t dest, double t) const;

    struct PulseEvent {
        std::vector<Ancestry> sources;
        size_t dest;
        double time; // generations
    };
    // The pulses at generation t, in the order they apply.
    std::vector<PulseEvent> pulsesAt(double t) const;
    const std::vector<PulseEvent>& pulses() const { return pulses_; }

    // Every finite time at which something changes (a deme's start or end, an epoch
    // boundary, a migration's start or end, a pulse), ascending and without repeats.
    const std::vector<double>& changeTimes() const { return changeTimes_; }

  private:
    struct MigrationSpan {
        size_t source, dest;
        double start, end, rate;
    };
    Model model_;
    std::vector<Deme> demesInGenerations_;
    std::vector<MigrationSpan> migrations_;
    std::vector<PulseEvent> pulses_;
    std::vector<double> changeTimes_;
};

} // namespace quenlith::demes
