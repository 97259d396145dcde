// The run driver's pipeline, for either kind of run.
#include "base/file_io.h"
#include "base/run_error.h"
#include "output/summary_table.h"
#include "run/run_kind.h"
#include "run/run_parameters.h"
#include "run/run_slice.h"
#include "run/sim_pipeline.h"
#include "run/summary_parts.h"

#include <algorithm>
#include <memory>

namespace quenlith {

namespace {

// The summary table of a run: held whole and written at the end (the default mode), or
// (streams) a block of rows at a time appended to a part file renamed at the end, so that
// the run's memory does not grow with its simulations.
class SummaryTable {
  public:
    SummaryTable(RunKind& kind, const RunParameters& p, const RunSlice& slice,
                 WrittenFiles* written)
        : kind_(kind), p_(p), slice_(slice), written_(written), chunked_(slice.streams),
          capacity_(chunked_ ? std::min(slice.count, kRowsPerBlock) : slice.count) {
        kind_.reserveRows(capacity_);
        if (chunked_) parts_.open(joinPath(p.WorkDir, p.SummaryName), slice.first, written);
    }

    void add(int32_t s, const SimulationResult& r) {
        if (!chunked_) {
            kind_.setRow(s - slice_.first, r);
            return;
        }
        kind_.setRow(parts_.rowsHeld(), r);
        parts_.addRow();
        if (parts_.rowsHeld() == capacity_) flush();
    }

    // The whole table, or the last rows and the part file renamed.
    void finish() {
        if (!chunked_) {
            writeSummaryTable(p_.WorkDir, p_.SummaryName,
                              kind_.summaryText(capacity_, slice_.first), written_);
            return;
        }
        if (parts_.blockPending()) flush();
        parts_.finish();
    }

  private:
    void flush() { parts_.writeBlock(kind_.summaryText(parts_.rowsHeld(), parts_.firstInBlock())); }

    static constexpr int32_t kRowsPerBlock = 4096;
    RunKind& kind_;
    const RunParameters& p_;
    const RunSlice& slice_;
    WrittenFiles* written_;
    const bool chunked_;
    const int32_t capacity_;
    SummaryParts parts_;
};

} // namespace

bool driveSimulations(RunKind& kind, const RunParameters& p, const RunSlice& slice, RunRandom* lcg,
                      RunObserver& observer, RunOutcome& outcome, WrittenFiles* written) {
    kind.prepare(lcg);
    if (p.SimCount < 0)
        throw RunError("Range check error", "number of simulations " + std::to_string(p.SimCount));
    SummaryTable summary(kind, p, slice, written);
    const int64_t perSimulation = kind.progressPerSimulation();
    const int64_t progressMax = perSimulation * slice.count;
    int32_t done = 0;
    using Slot = std::unique_ptr<SimulationResult>;
    const auto consume = [&](int32_t s, const Slot& r) {
        kind.write(s, *r);
        summary.add(s, *r);
        ++done;
    };
    bool finished = false;
    try {
        if (lcg) {
            // One generator for the whole run: the simulations follow each other on one
            // thread, each drawing where the one before stopped.
            finished = runSimulationsInOrder<Slot>(
                slice.first, slice.last(), 1, observer, perSimulation, progressMax,
                [&] {
                    return [&, sim = std::shared_ptr<KindSimulator>(kind.makeSimulator())](
                               int32_t s, Slot& r, const SimulationContext& c) {
                        if (!r) r = kind.makeResult();
                        sim->simulate(s, *lcg, *r, c);
                        sim->format(s, *r);
                    };
                },
                consume);
        } else {
            // Simulation s draws from stream s alone; the workers also format its blocks,
            // and this thread only appends them in simulation order.
            const uint64_t seed = slice.seed;
            finished = runSimulationsInOrder<Slot>(
                slice.first, slice.last(), slice.threads, observer, perSimulation, progressMax,
                [&] {
                    return [&, sim = std::shared_ptr<KindSimulator>(kind.makeSimulator())](
                               int32_t s, Slot& r, const SimulationContext& c) {
                        if (!r) r = kind.makeResult();
                        StreamRandom rng(seed, static_cast<uint32_t>(s));
                        sim->simulate(s, rng, *r, c);
                        sim->format(s, *r);
                    };
                },
                consume);
        }
    } catch (const RunStopped&) {
        // Stopped inside a genealogy: the run ends after the last whole simulation.
        finished = false;
    } catch (...) {
        kind.discardUnwritten();
        throw;
    }
    if (!finished) kind.discardUnwritten();
    if (finished) summary.finish();
    outcome.simCount = p.SimCount;
    outcome.simsDone = done;
    outcome.constantSize = !p.FluctuatingN && p.Mergers == MergeRule::One;
    kind.fillOutcome(outcome, done, finished);
    outcome.status = finished ? RunStatus::Completed : RunStatus::Stopped;
    return finished;
}

} // namespace quenlith
