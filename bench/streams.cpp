// Streams scenarios: the generation loop on counter-based streams against the default
// generator, and a streams run on 1 and 2 threads with and without the optional files.
// The 10^6-simulation run and the join are whole processes: scripts/bench-streams.
#include "base/random.h"
#include "base/run_error.h"
#include "bench_support.h"
#include "genealogy/genealogy.h"
#include "run/form_values.h"
#include "run/run_driver.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <string>

namespace quenlith::bench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// R1: the 100 genealogies of S1 (k = 50, N = 10000, the default DNA mutation probability),
// each from its own stream, as a streams run draws them.
void R1_StreamsGenerationLoop(benchmark::State& state) {
    resetPeakResident();
    GenealogySimulator simulator;
    Genealogy g;
    MutationProbability mutation;
    mutation.constant = 1 - std::pow(1 - 0.0000001L, 1000.0L);
    const std::function<void()> noProgress;
    int64_t generations = 0;
    for (auto _ : state) {
        generations = 0;
        const auto start = Clock::now();
        for (int32_t i = 0; i < 100; ++i) {
            StreamRandom rng(1, static_cast<uint32_t>(i + 1));
            int32_t popSize = 10000;
            simulator.simulate(g, 50, popSize, Demography{}, mutation, rng, noProgress);
            generations += g.Generation;
        }
        state.SetIterationTime(secondsSince(start));
        benchmark::DoNotOptimize(generations);
    }
    state.counters["generations"] = static_cast<double>(generations);
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

class SilentObserver : public RunObserver {};

// R2/threads/files: the S2 run (1000 default DNA simulations) in streams mode; files 0 writes
// only the files every run writes, files 1 also S2's sequence file, diversity and Arlequin.
void R2_StreamsThreads(benchmark::State& state) {
    resetPeakResident();
    FormValues form;
    form.rngKind = RandomKind::Streams;
    form.threads = static_cast<int32_t>(state.range(0));
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000";
    if (state.range(1)) {
        form.chkSeqOut = true;
        form.chkSeqDiversity = true;
        form.chkArlequin = true;
    }
    SilentObserver observer;
    for (auto _ : state) {
        ScratchDir dir;
        form.WorkDir = dir.path();
        const auto start = Clock::now();
        RunOutcome outcome;
        try {
            outcome = RunSimulation(form, 1, observer);
        } catch (const RunError& e) {
            state.SkipWithError(e.what());
            break;
        }
        state.SetIterationTime(secondsSince(start));
        if (outcome.status != RunStatus::Completed) {
            state.SkipWithError(outcome.warning.c_str());
            break;
        }
    }
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

} // namespace

BENCHMARK(R1_StreamsGenerationLoop)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(R2_StreamsThreads)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"threads", "files"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace quenlith::bench
