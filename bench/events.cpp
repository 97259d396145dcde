// Event-driven genealogies of streams mode against a continuous-time coalescent simulator,
// whole processes side by side: scrm's `scrm 50 1000 -t 20` into a file (E1_Scrm), and
// quenlith-cli in streams mode with the same 1000 genealogies of k = 50 at theta = 2 N p = 20,
// writing the files every run writes and the ms file, at N = 10^4, 10^6 and 10^8, on one
// thread as scrm runs (E1_Events*); the generation walk at N = 10^4 for comparison. E2: the
// cost of one word, the 32-bit generator against a stream.
#include "base/random.h"
#include "bench_support.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace quenlith::bench {
namespace {

const char* kScrm = "/usr/bin/scrm";

void recordChild(benchmark::State& state, const ChildResult& child, double& peak) {
    state.SetIterationTime(child.wallSeconds);
    peak = std::max(peak, child.peakResidentMiB);
    state.counters["child_cpu_s"] = child.cpuSeconds;
}

void E1_Scrm(benchmark::State& state) {
    if (access(kScrm, X_OK) != 0) {
        state.SkipWithError("scrm is not installed (Debian package scrm)");
        return;
    }
    double peak = 0;
    for (auto _ : state) {
        ScratchDir dir;
        const ChildResult child =
            runChild(kScrm, {"50", "1000", "-t", "20", "-seed", "1"}, dir.path() + "/scrm.ms");
        if (child.exitStatus != 0) {
            state.SkipWithError("scrm failed");
            break;
        }
        recordChild(state, child, peak);
    }
    state.counters["peak_rss_mib"] = peak;
}

// quenlith-cli --rng streams: 1000 genealogies of 50 copies among n, theta = 2 n p = 20 with
// the default 1000 sites (u = 20 / (2 n 1000)).
void cliStreams(benchmark::State& state, int64_t n, const char* engine) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.6g", 20.0 / (2.0 * static_cast<double>(n) * 1000.0));
    double peak = 0;
    for (auto _ : state) {
        ScratchDir dir;
        const ChildResult child = runChild(QUENLITH_CLI_PATH, {"--quiet",
                                                               "--rng",
                                                               "streams",
                                                               "--engine",
                                                               engine,
                                                               "--threads",
                                                               "1",
                                                               "--seed",
                                                               "1",
                                                               "--sample-size",
                                                               "50",
                                                               "--pop-size",
                                                               std::to_string(n),
                                                               "--sims",
                                                               "1000",
                                                               "--mutation-rate",
                                                               rate,
                                                               "--ms",
                                                               "sites.ms",
                                                               "--workdir",
                                                               dir.path()});
        if (child.exitStatus != 0) {
            state.SkipWithError(
                ("quenlith-cli exited with " + std::to_string(child.exitStatus)).c_str());
            break;
        }
        recordChild(state, child, peak);
    }
    state.counters["peak_rss_mib"] = peak;
}

void E1_Events1e4(benchmark::State& state) {
    cliStreams(state, 10000, "events");
}
void E1_Events1e6(benchmark::State& state) {
    cliStreams(state, 1000000, "events");
}
void E1_Events1e8(benchmark::State& state) {
    cliStreams(state, 100000000, "events");
}
void E1_Generations1e4(benchmark::State& state) {
    cliStreams(state, 10000, "generations");
}

// E2: 10^8 words, each turned into Random(10^7) and summed, so that none is optimised away.
template <typename Rng> void drawWords(benchmark::State& state, Rng rng) {
    constexpr int64_t kWords = 100000000;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        uint64_t sum = 0;
        for (int64_t i = 0; i < kWords; ++i)
            sum += static_cast<uint32_t>(rng.Random(10000000));
        benchmark::DoNotOptimize(sum);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["words"] = static_cast<double>(kWords);
}

void E2_WordsRunRandom(benchmark::State& state) {
    drawWords(state, PlainRunRandom(1));
}
void E2_WordsStreams(benchmark::State& state) {
    drawWords(state, StreamRandom(1, 1));
}

BENCHMARK(E1_Scrm)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(E1_Events1e4)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(E1_Events1e6)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(E1_Events1e8)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(E1_Generations1e4)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(E2_WordsRunRandom)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(E2_WordsStreams)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quenlith::bench
