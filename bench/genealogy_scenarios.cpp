// Scenarios of the generation loop where it leaves its usual ground: gamma rate variation
// (a fresh mutation probability every generation), a population beyond the parents' stamp
// table, and a sample much larger than the square root of the population.
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

constexpr uint32_t kSeed = 1;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Parent draws of one genealogy: the sum over the event intervals of their length times
// the lineages in them.
int64_t parentDraws(const Genealogy& g) {
    int64_t draws = 0;
    int32_t previous = 0;
    for (size_t e = 0; e < g.CoalEvents.size(); ++e) {
        const int32_t lineages = g.SampleSize - static_cast<int32_t>(e);
        draws += static_cast<int64_t>(g.CoalEvents[e].generation - previous) * lineages;
        previous = g.CoalEvents[e].generation;
    }
    return draws;
}

// `count` genealogies of k copies in N from one run generator, the default per-lineage
// mutation probability (u = 1e-7, L = 1000).
void simulateGenealogies(benchmark::State& state, int32_t k, int32_t n, int32_t count) {
    resetPeakResident();
    MutationProbability mutation;
    mutation.constant = 1 - std::pow(1 - 0.0000001L, 1000.0L);
    GenealogySimulator simulator;
    Genealogy g;
    int64_t generations = 0, draws = 0, mutations = 0;
    for (auto _ : state) {
        generations = draws = mutations = 0;
        RunRandom rng(kSeed);
        const auto start = Clock::now();
        for (int32_t i = 0; i < count; ++i) {
            int32_t popSize = n;
            simulator.simulate(g, k, popSize, Demography{}, mutation, rng, nullptr);
            generations += g.Generation;
            draws += parentDraws(g);
            mutations += g.MutEventCount();
        }
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        state.counters["ns_per_draw"] = seconds * 1e9 / static_cast<double>(draws);
    }
    state.counters["generations"] = static_cast<double>(generations);
    state.counters["parent_draws"] = static_cast<double>(draws);
    state.counters["mutations"] = static_cast<double>(mutations);
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

// G1: 1000 default DNA simulations with gamma rate variation, shape 0.5: the mutation
// probability is drawn afresh every generation.
void G1_GammaRates(benchmark::State& state) {
    resetPeakResident();
    FormValues form;
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000";
    form.chkShapeParameter = true;
    form.edtAlpha = "0.5";
    RunObserver observer;
    for (auto _ : state) {
        ScratchDir dir;
        form.WorkDir = dir.path();
        const auto start = Clock::now();
        RunOutcome outcome;
        try {
            outcome = RunSimulation(form, kSeed, observer);
        } catch (const RunError& e) {
            state.SkipWithError((std::string("run failed: ") + e.what()).c_str());
            break;
        }
        state.SetIterationTime(secondsSince(start));
        if (outcome.status != RunStatus::Completed) {
            state.SkipWithError(("run not completed: " + outcome.warning).c_str());
            break;
        }
    }
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

// G2: 10 genealogies of 50 copies in N = 10^7, far beyond the stamp table of the parents.
void G2_LargePopulation(benchmark::State& state) {
    simulateGenealogies(state, 50, 10000000, 10);
}

// G3: one genealogy of 10^6 copies in N = 10^6: every generation has many repeats.
void G3_ManyLineages(benchmark::State& state) {
    simulateGenealogies(state, 1000000, 1000000, 1);
}

BENCHMARK(G1_GammaRates)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(G2_LargePopulation)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(G3_ManyLineages)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quenlith::bench
