// The benchmark scenarios. Every scenario reports its wall time (manual time: the run
// alone, without creating and removing its scratch directory) and the peak resident size,
// in MiB, of the process that ran it. scripts/bench runs each scenario in its own process
// and prints the table.
#include "base/random.h"
#include "base/run_error.h"
#include "bench_support.h"
#include "genealogy/genealogy.h"
#include "run/form_values.h"
#include "run/run_driver.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>

namespace quenlith::bench {
namespace {

constexpr uint32_t kSeed = 1;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- S1: the generation loop against bare draws ----

constexpr int32_t kS1SampleSize = 50;
constexpr int32_t kS1PopSize = 10000;
constexpr int32_t kS1Genealogies = 100;

// The per-lineage probability of the default DNA run: u = 1e-7 per site, L = 1000 sites.
MutationProbability defaultMutationProbability() {
    MutationProbability m;
    m.constant = 1 - std::pow(1 - 0.0000001L, 1000.0L);
    return m;
}

// Simulates the S1 genealogies from the S1 seed; calls onGenealogy after each one.
template <typename OnGenealogy>
void simulateS1(GenealogySimulator& simulator, Genealogy& g, OnGenealogy&& onGenealogy) {
    const Demography demography;
    const MutationProbability mutation = defaultMutationProbability();
    const std::function<void()> noProgress;
    RunRandom rng(kSeed);
    for (int32_t i = 0; i < kS1Genealogies; ++i) {
        int32_t popSize = kS1PopSize;
        simulator.simulate(g, kS1SampleSize, popSize, demography, mutation, rng, noProgress);
        onGenealogy(g);
    }
}

// Parent draws of one genealogy: every generation draws one parent per lineage, so the
// count is the sum over the event intervals of their length times the lineages in them.
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

void S1_GenerationLoop(benchmark::State& state) {
    resetPeakResident();
    GenealogySimulator simulator;
    Genealogy g;
    int64_t generations = 0, draws = 0;
    for (auto _ : state) {
        generations = draws = 0;
        const auto start = Clock::now();
        simulateS1(simulator, g, [&](const Genealogy& done) {
            generations += done.Generation;
            draws += parentDraws(done);
        });
        state.SetIterationTime(secondsSince(start));
        benchmark::DoNotOptimize(generations);
    }
    state.counters["genealogies"] = kS1Genealogies;
    state.counters["generations"] = static_cast<double>(generations);
    state.counters["parent_draws"] = static_cast<double>(draws);
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

// As many Random(N) draws as the S1 genealogies make, and nothing else.
void S1_BareDraws(benchmark::State& state) {
    resetPeakResident();
    int64_t draws = 0;
    {
        GenealogySimulator simulator;
        Genealogy g;
        simulateS1(simulator, g, [&](const Genealogy& done) { draws += parentDraws(done); });
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        RunRandom rng(kSeed);
        uint64_t sum = 0;
        for (int64_t i = 0; i < draws; ++i)
            sum += static_cast<uint32_t>(rng.Random(kS1PopSize));
        benchmark::DoNotOptimize(sum);
        state.SetIterationTime(secondsSince(start));
    }
    state.counters["parent_draws"] = static_cast<double>(draws);
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

// ---- whole runs through RunSimulation ----

class SilentObserver : public RunObserver {};

struct OutputSize {
    double files = 0;
    double mib = 0;
};

OutputSize outputSize(const std::string& dir) {
    OutputSize size;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        size.files += 1;
        size.mib += static_cast<double>(entry.file_size()) / (1024.0 * 1024.0);
    }
    return size;
}

// Runs the form once per iteration in a fresh working directory; `setUp` writes the input
// files the run reads.
template <typename SetUp> void runForm(benchmark::State& state, FormValues form, SetUp&& setUp) {
    resetPeakResident();
    SilentObserver observer;
    OutputSize written;
    for (auto _ : state) {
        ScratchDir dir;
        setUp(dir);
        form.WorkDir = dir.path();
        RunOutcome outcome;
        const auto start = Clock::now();
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
        written = outputSize(dir.path());
    }
    state.counters["output_files"] = written.files;
    state.counters["output_mib"] = written.mib;
    state.counters["peak_rss_mib"] = peakResidentMiB();
}

void runForm(benchmark::State& state, const FormValues& form) {
    runForm(state, form, [](const ScratchDir&) {});
}

// The default DNA run with 1000 simulations and every DNA output: the sequence file in
// the Nexus layout, the diversity indices and the Arlequin files.
void S2_DnaOutputs(benchmark::State& state) {
    FormValues form;
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000";
    form.chkSeqOut = true;
    form.rdgOutput = OutputFormat::Nexus;
    form.chkSeqDiversity = true;
    form.chkArlequin = true;
    runForm(state, form);
}

// S2 with the statistics table, and with the statistics table, the VCF and the ms file.
void S2_DnaOutputsStats(benchmark::State& state) {
    FormValues form;
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000";
    form.chkSeqOut = true;
    form.rdgOutput = OutputFormat::Nexus;
    form.chkSeqDiversity = true;
    form.chkArlequin = true;
    form.chkStats = true;
    runForm(state, form);
}

void S2_DnaOutputsPipeline(benchmark::State& state) {
    FormValues form;
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000";
    form.chkSeqOut = true;
    form.rdgOutput = OutputFormat::Nexus;
    form.chkSeqDiversity = true;
    form.chkArlequin = true;
    form.chkStats = true;
    form.chkVcf = true;
    form.edtVcf = "sites.vcf.gz";
    form.chkMs = true;
    runForm(state, form);
}

// One large genealogy with its sequences written.
void S3_LargeSample(benchmark::State& state) {
    FormValues form;
    form.edtSampleSize = "10000";
    form.edtPopulationSize = "100000";
    form.edtSeqLength = "1000";
    form.chkSeqOut = true;
    runForm(state, form);
}

// One very large genealogy, no sequence file.
void S4_VeryLargeSample(benchmark::State& state) {
    FormValues form;
    form.edtSampleSize = "100000";
    form.edtPopulationSize = "1000000";
    form.chkSeqOut = false;
    runForm(state, form);
}

// The 20 loci of S5: the three loci of the parameter file's example, repeated.
std::string s5Parameters() {
    static const char* const kLoci[3] = {"100 140   2   0.0005", "180 220   4   0.001",
                                         "90  150   3   0.0001"};
    std::string text;
    for (int l = 1; l <= 20; ++l)
        text += std::to_string(l) + "   " + kLoci[(l - 1) % 3] + "\r\n";
    return text;
}

// A microsatellite run: 1000 simulations of 20 loci, stepwise, with the genotype table.
void S5_Microsatellites(benchmark::State& state) {
    FormValues form;
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "1000";
    form.chkMsats = true;
    form.edtNumLoci = "20";
    form.msatModel = MsatModel::Stepwise;
    form.chkMSatOut = true;
    const std::string parameters = s5Parameters();
    runForm(state, form, [&](const ScratchDir& dir) { dir.write(form.edtMsatIn, parameters); });
}

// ---- S7: a large parameter file ----

// The rows of S5's loci, repeated `rows` times; a run reads the first three.
std::string paramRows(int32_t rows) {
    static const char* const kLoci[3] = {"100 140   2   0.0005", "180 220   4   0.001",
                                         "90  150   3   0.0001"};
    std::string text;
    text.reserve(static_cast<size_t>(rows) * 28);
    for (int32_t l = 1; l <= rows; ++l)
        text += std::to_string(l) + "   " + kLoci[(l - 1) % 3] + "\r\n";
    return text;
}

// 100 simulations of 3 loci, k = 50, stepwise, the genotype table on, from a parameter file
// of `rows` rows: what the rows beyond the third cost.
void runParamFile(benchmark::State& state, int32_t rows) {
    FormValues form;
    form.chkMultipleSims = true;
    form.edtNumberSimulations = "100";
    form.chkMsats = true;
    form.edtNumLoci = "3";
    form.msatModel = MsatModel::Stepwise;
    form.chkMSatOut = true;
    const std::string parameters = paramRows(rows);
    runForm(state, form, [&](const ScratchDir& dir) { dir.write(form.edtMsatIn, parameters); });
    state.counters["param_file_mib"] = static_cast<double>(parameters.size()) / (1024.0 * 1024.0);
}

void S8_ParamFileMillionRows(benchmark::State& state) {
    runParamFile(state, 1000000);
}

void S8_ParamFileThreeRows(benchmark::State& state) {
    runParamFile(state, 3);
}

// ---- S6: the quenlith-cli process ----

// The default run (one simulation) as a whole process: start-up, run, files, exit.
void S6_CliDefaultRun(benchmark::State& state) {
    double peak = 0, cpu = 0;
    for (auto _ : state) {
        ScratchDir dir;
        const ChildResult child =
            runChild(QUENLITH_CLI_PATH,
                     {"--quiet", "--seed", std::to_string(kSeed), "--workdir", dir.path()});
        if (child.exitStatus != 0) {
            state.SkipWithError(
                ("quenlith-cli exited with " + std::to_string(child.exitStatus)).c_str());
            break;
        }
        state.SetIterationTime(child.wallSeconds);
        peak = std::max(peak, child.peakResidentMiB);
        cpu = child.cpuSeconds;
    }
    state.counters["peak_rss_mib"] = peak;
    state.counters["child_cpu_s"] = cpu;
}

// ---- S7: stopping a run inside one long genealogy ----

// N = 10^7: one genealogy takes millions of generations. The time from the stop request,
// 200 ms into the run, until RunSimulation returns.
void S7_StopLatency(benchmark::State& state) {
    struct StopObserver : RunObserver {
        std::atomic<bool> stop{false};
        const std::atomic<bool>* stopFlag() override { return &stop; }
        bool stopRequested() override { return stop.load(); }
    };
    for (auto _ : state) {
        ScratchDir dir;
        FormValues form;
        form.WorkDir = dir.path();
        form.edtPopulationSize = "10000000";
        StopObserver observer;
        Clock::time_point requested;
        std::thread run([&] { RunSimulation(form, kSeed, observer); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        requested = Clock::now();
        observer.stop.store(true);
        run.join();
        state.SetIterationTime(secondsSince(requested));
    }
}

BENCHMARK(S1_GenerationLoop)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(S1_BareDraws)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(S2_DnaOutputs)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S2_DnaOutputsStats)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S2_DnaOutputsPipeline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S3_LargeSample)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S4_VeryLargeSample)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S5_Microsatellites)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S6_CliDefaultRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S7_StopLatency)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(S8_ParamFileMillionRows)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(S8_ParamFileThreeRows)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quenlith::bench

BENCHMARK_MAIN();
