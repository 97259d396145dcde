#pragma once
// A kind of run (DNA sequences, microsatellites) as the run driver sees it. The driver owns
// what both kinds share: the choice of generator, the pipeline of simulations and its
// progress, the summary table (whole, or in parts in a streams run), the outcome's common
// values, the run's status, the log and the manifest. A kind owns its files and its rows.
//
// A simulation goes through three steps: simulate(s, generator) fills a result, format(s)
// turns it into the text of its files' blocks and the values of its table row, and the
// kind's write(s) appends those in simulation order. The first two run on worker threads in
// a streams run with more than one thread; write always runs on the driver's thread.
#include "base/random.h"
#include "run/run_driver.h"
#include "run/run_log.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quenlith {

struct RunParameters;
struct RunSlice;
class BlockFile;
class EachSimFiles;
class PipelineOutputs;
class WrittenFiles;

// The files the driver opens for either kind: the two distribution files, created first of
// all, the batch file of the Arlequin projects and the sequence file when asked (null
// otherwise), the optional pipeline and per-simulation files, and the run's record of its
// files.
struct KindFiles {
    BlockFile& coal;
    BlockFile& mut;
    BlockFile* sequences = nullptr; // DNA runs only
    BlockFile* arlequinBatch = nullptr;
    PipelineOutputs* pipeline = nullptr;
    EachSimFiles* eachSim = nullptr;
    WrittenFiles* written = nullptr;
};

// What the simulation of one number gets besides its generator.
struct SimulationContext {
    // Called once per generation that records a coalescence (progress within a genealogy).
    const std::function<void()>& onCoalescence;
    // The flag that long genealogies check; the simulation throws RunStopped once it is set.
    const std::atomic<bool>* stop;
};

// One simulation's result, of a kind's own type; reused from simulation to simulation.
class SimulationResult {
  public:
    virtual ~SimulationResult() = default;
};

// The simulations of one thread: each simulator holds its own working memory.
class KindSimulator {
  public:
    virtual ~KindSimulator() = default;
    // Simulation s, every draw from the run's one generator (the default mode).
    virtual void simulate(int32_t s, RunRandom& rng, SimulationResult& result,
                          const SimulationContext& context) = 0;
    // Simulation s, every draw from its own stream (streams mode).
    virtual void simulate(int32_t s, StreamRandom& rng, SimulationResult& result,
                          const SimulationContext& context) = 0;
    // The text of the result's blocks and the values of its row, into the result.
    virtual void format(int32_t s, SimulationResult& result) = 0;
};

class RunKind {
  public:
    virtual ~RunKind() = default;

    // Creates the kind's files and checks what the run needs before its first simulation;
    // draws what the whole run shares from `lcg` (the default mode), else from stream 0 of
    // the slice's seed.
    virtual void prepare(RunRandom* lcg) = 0;
    // The progress one simulation makes: its coalescences.
    virtual int64_t progressPerSimulation() const = 0;
    virtual std::unique_ptr<SimulationResult> makeResult() const = 0;
    // A simulator for one thread.
    virtual std::unique_ptr<KindSimulator> makeSimulator() = 0;
    // The driver's thread, in simulation order: appends the formatted blocks of simulation s.
    virtual void write(int32_t s, const SimulationResult& result) = 0;

    // The summary table: room for `rows` rows, the row at `index` from a formatted result,
    // and the text (title line first) of the first `rows` rows, numbered from `first`.
    virtual void reserveRows(int32_t rows) = 0;
    virtual void setRow(int32_t index, const SimulationResult& result) = 0;
    virtual std::string summaryText(int32_t rows, int32_t first) = 0;

    // The kind's part of the outcome after `done` whole simulations (all of them when
    // `finished`), and of the log.
    virtual void fillOutcome(RunOutcome& outcome, int32_t done, bool finished) = 0;
    virtual void fillLog(RunLogValues& log) = 0;
    // The run ends before simulations whose files the workers already wrote: removes them.
    virtual void discardUnwritten() {}
};

// Runs every simulation of `slice` of `kind`: prepares it, simulates (with `lcg` on one
// thread, or stream s for simulation s on the slice's threads), writes the summary table
// (whole, or in parts in a streams run) and fills the outcome, its status included (Completed
// or Stopped). Returns true when every simulation was written. Errors throw RunError and
// leave the files written so far.
bool driveSimulations(RunKind& kind, const RunParameters& p, const RunSlice& slice, RunRandom* lcg,
                      RunObserver& observer, RunOutcome& outcome, WrittenFiles* written);

} // namespace quenlith
