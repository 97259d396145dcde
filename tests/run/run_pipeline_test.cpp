// The run driver with a kind of its own: the same written blocks for every number of threads,
// the progress contract, the stop after whole simulations, a worker's error surfacing after
// the simulations before it, and the summary table whole or in parts.
#include "base/file_io.h"
#include "base/run_error.h"
#include "run/run_kind.h"
#include "run/run_parameters.h"
#include "run/run_slice.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

struct Draws : SimulationResult {
    std::vector<uint32_t> words;
    std::string block;
};

// Each simulation draws a number of words that depends on its first draw (so that a shared
// or shifted generator shows), formats them as a line, and writes the line in order.
class CountingKind : public RunKind {
  public:
    int32_t failAt = -1;     // simulate(failAt) throws RunError
    int32_t stopInside = -1; // simulate(stopInside) throws RunStopped
    // simulate(holdAt) counts 2 coalescences, then waits until `seen` (at most 20 s).
    int32_t holdAt = -1;
    std::atomic<bool> seen{false};
    std::string written;        // every block written, in order
    std::vector<int32_t> order; // the simulations written
    std::vector<std::string> rows;
    std::set<std::thread::id> formatThreads;
    std::mutex mutex;
    bool prepared = false;

    void prepare(RunRandom*) override { prepared = true; }
    int64_t progressPerSimulation() const override { return 3; }
    std::unique_ptr<SimulationResult> makeResult() const override {
        return std::make_unique<Draws>();
    }

    class Simulator : public KindSimulator {
      public:
        explicit Simulator(CountingKind& kind) : kind_(kind) {}
        template <typename Rng>
        void draw(int32_t s, Rng& rng, SimulationResult& result, const SimulationContext& c) {
            if (s == kind_.failAt)
                throw RunError("Range check error", "simulation " + std::to_string(s));
            if (s == kind_.stopInside) throw RunStopped();
            if (s == kind_.holdAt) {
                c.onCoalescence();
                c.onCoalescence();
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (!kind_.seen && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            Draws& d = static_cast<Draws&>(result);
            d.words.clear();
            const int32_t n = 1 + static_cast<int32_t>(rng.Random(5));
            for (int32_t i = 0; i < n; ++i)
                d.words.push_back(static_cast<uint32_t>(rng.Random(1000000)));
            for (int i = 0; i < 5; ++i)
                c.onCoalescence(); // more than the simulation's share: clipped
        }
        void simulate(int32_t s, RunRandom& rng, SimulationResult& r,
                      const SimulationContext& c) override {
            draw(s, rng, r, c);
        }
        void simulate(int32_t s, StreamRandom& rng, SimulationResult& r,
                      const SimulationContext& c) override {
            draw(s, rng, r, c);
        }
        void format(int32_t s, SimulationResult& result) override {
            Draws& d = static_cast<Draws&>(result);
            d.block = std::to_string(s) + ":";
            for (const uint32_t w : d.words)
                d.block += " " + std::to_string(w);
            d.block += "\n";
            std::lock_guard lock(kind_.mutex);
            kind_.formatThreads.insert(std::this_thread::get_id());
        }

      private:
        CountingKind& kind_;
    };
    std::unique_ptr<KindSimulator> makeSimulator() override {
        return std::make_unique<Simulator>(*this);
    }
    void write(int32_t s, const SimulationResult& r) override {
        written += static_cast<const Draws&>(r).block;
        order.push_back(s);
    }
    void reserveRows(int32_t n) override { rows.assign(static_cast<size_t>(n), ""); }
    void setRow(int32_t index, const SimulationResult& r) override {
        rows.at(static_cast<size_t>(index)) =
            std::to_string(static_cast<const Draws&>(r).words.size());
    }
    std::string summaryText(int32_t n, int32_t first) override {
        std::string text = "sim;words\n";
        for (int32_t i = 0; i < n; ++i)
            text += std::to_string(first + i) + ";" + rows[static_cast<size_t>(i)] + "\n";
        return text;
    }
    int32_t outcomeDone = -1;
    void fillOutcome(RunOutcome&, int32_t done, bool) override { outcomeDone = done; }
    void fillLog(RunLogValues&) override {}
};

struct Recorder : RunObserver {
    std::vector<int32_t> started;
    std::vector<int64_t> positionAtStart;
    int64_t position = 0, maximum = 0;
    bool monotone = true;
    int stopAfter = -1;
    void simulationStarted(int32_t s) override {
        started.push_back(s);
        positionAtStart.push_back(position);
    }
    std::function<void(int64_t)> onProgress;
    void progress(int64_t p, int64_t m) override {
        if (onProgress) onProgress(p);
        if (p < position) monotone = false;
        position = p;
        maximum = m;
    }
    bool stopRequested() override {
        return stopAfter >= 0 && static_cast<int>(started.size()) >= stopAfter;
    }
};

struct DriverRun {
    RunParameters p;
    RunSlice slice;
    TempDir dir;
    RunOutcome outcome;
    bool finished = false;
    DriverRun(bool streams, int32_t first, int32_t count, int32_t threads) {
        p.WorkDir = dir.str();
        p.SummaryName = "outfile.csv";
        p.SimCount = count;
        slice.streams = streams;
        slice.seed = 77;
        slice.first = first;
        slice.count = count;
        slice.threads = threads;
    }
    void go(CountingKind& kind, RunObserver& observer) {
        RunRandom lcg(77);
        WrittenFiles written;
        finished = driveSimulations(kind, p, slice, slice.streams ? nullptr : &lcg, observer,
                                    outcome, &written);
    }
};

} // namespace

TEST(RunPipeline, StreamsBlocksAndTableDoNotDependOnTheThreads) {
    std::string blocks, table;
    for (const int32_t threads : {1, 2, 3, 8}) {
        DriverRun run(true, 5, 40, threads);
        CountingKind kind;
        Recorder obs;
        run.go(kind, obs);
        ASSERT_TRUE(run.finished);
        EXPECT_TRUE(kind.prepared);
        EXPECT_EQ(run.outcome.status, RunStatus::Completed);
        EXPECT_EQ(run.outcome.simsDone, 40);
        EXPECT_EQ(kind.outcomeDone, 40);
        std::vector<int32_t> expected;
        for (int32_t s = 5; s < 45; ++s)
            expected.push_back(s);
        EXPECT_EQ(kind.order, expected);
        EXPECT_EQ(obs.started, expected);
        // Progress: the whole simulations before s at its start, all of them at the end.
        for (size_t i = 0; i < obs.positionAtStart.size(); ++i)
            EXPECT_EQ(obs.positionAtStart[i], 3 * static_cast<int64_t>(i)) << threads;
        EXPECT_TRUE(obs.monotone);
        EXPECT_EQ(obs.position, 120);
        EXPECT_EQ(obs.maximum, 120);
        // With workers, the formatting happens off the writing thread.
        if (threads > 1) {
            EXPECT_EQ(kind.formatThreads.count(std::this_thread::get_id()), 0u);
        }
        if (threads == 1) {
            blocks = kind.written;
            table = run.dir.read("outfile.csv");
            ASSERT_NE(table.find("\n44;"), std::string::npos);
            EXPECT_FALSE(run.dir.exists("outfile.csv.part"));
        } else {
            EXPECT_EQ(kind.written, blocks) << threads;
            EXPECT_EQ(run.dir.read("outfile.csv"), table) << threads;
        }
    }
}

// With workers, the coalescences of the simulation waited for are reported while it runs:
// simulation 9 of 5..20 holds after 2 of its 3 until the observer has seen them.
TEST(RunPipeline, ProgressWithinASimulationReachesTheObserverOnAnyNumberOfThreads) {
    for (const int32_t threads : {1, 2, 3}) {
        DriverRun run(true, 5, 16, threads);
        CountingKind kind;
        kind.holdAt = 9;
        Recorder obs;
        const int64_t before = 3 * (9 - 5);
        obs.onProgress = [&](int64_t p) {
            if (p == before + 2 && obs.started.size() == 5) kind.seen = true;
        };
        run.go(kind, obs);
        ASSERT_TRUE(run.finished);
        EXPECT_TRUE(kind.seen) << threads;
        EXPECT_TRUE(obs.monotone) << threads;
        for (size_t i = 0; i < obs.positionAtStart.size(); ++i)
            EXPECT_EQ(obs.positionAtStart[i], 3 * static_cast<int64_t>(i)) << threads;
        EXPECT_EQ(obs.position, 48);
    }
}

TEST(RunPipeline, TheDefaultModeDrawsFromOneGeneratorInOrder) {
    DriverRun run(false, 1, 6, 1);
    CountingKind kind;
    Recorder obs;
    run.go(kind, obs);
    ASSERT_TRUE(run.finished);
    // A plain loop over one generator gives the same lines.
    RunRandom rng(77);
    std::string expected;
    for (int32_t s = 1; s <= 6; ++s) {
        expected += std::to_string(s) + ":";
        const int32_t n = 1 + static_cast<int32_t>(rng.Random(5));
        for (int32_t i = 0; i < n; ++i)
            expected += " " + std::to_string(rng.Random(1000000));
        expected += "\n";
    }
    EXPECT_EQ(kind.written, expected);
    EXPECT_EQ(obs.positionAtStart, (std::vector<int64_t>{0, 3, 6, 9, 12, 15}));
    EXPECT_EQ(obs.position, 18);
    // Whole table at the end, rows numbered from 1.
    const std::string table = run.dir.read("outfile.csv");
    EXPECT_EQ(table.rfind("sim;words\n1;", 0), 0u);
    EXPECT_NE(table.find("\n6;"), std::string::npos);
}

TEST(RunPipeline, AStopLeavesTheSameWholeSimulationsOnAnyNumberOfThreads) {
    std::string blocks;
    for (const int32_t threads : {1, 2, 4}) {
        DriverRun run(true, 1, 30, threads);
        CountingKind kind;
        Recorder obs;
        obs.stopAfter = 7;
        run.go(kind, obs);
        EXPECT_FALSE(run.finished);
        EXPECT_EQ(run.outcome.status, RunStatus::Stopped);
        EXPECT_EQ(run.outcome.simsDone, 7);
        EXPECT_EQ(kind.outcomeDone, 7);
        EXPECT_EQ(kind.order.size(), 7u);
        // A stopped streams run leaves no summary table under its name.
        EXPECT_FALSE(run.dir.exists("outfile.csv"));
        if (threads == 1)
            blocks = kind.written;
        else
            EXPECT_EQ(kind.written, blocks) << threads;
    }
    // Stopped inside a genealogy: the simulations before it are whole.
    for (const int32_t threads : {1, 3}) {
        DriverRun run(true, 1, 30, threads);
        CountingKind kind;
        kind.stopInside = 12;
        Recorder obs;
        run.go(kind, obs);
        EXPECT_EQ(run.outcome.status, RunStatus::Stopped);
        EXPECT_EQ(run.outcome.simsDone, 11) << threads;
        EXPECT_EQ(kind.order.back(), 11);
    }
}

TEST(RunPipeline, AWorkersErrorSurfacesAfterTheSimulationsBeforeIt) {
    for (const int32_t threads : {1, 2, 5}) {
        DriverRun run(true, 1, 50, threads);
        CountingKind kind;
        kind.failAt = 17;
        Recorder obs;
        try {
            run.go(kind, obs);
            ADD_FAILURE() << "the error must reach the caller, threads " << threads;
        } catch (const RunError& e) {
            EXPECT_EQ(e.code(), ErrorCode::RangeCheck);
            EXPECT_EQ(e.detail(), "simulation 17");
        }
        ASSERT_EQ(kind.order.size(), 16u) << threads;
        EXPECT_EQ(kind.order.back(), 16);
    }
}

TEST(RunPipeline, TheStreamsTableIsWrittenInBlocksIdenticalToAWholeTable) {
    // 5000 rows pass one block of 4096: the part file holds the title line once.
    DriverRun parts(true, 1, 5000, 2);
    CountingKind kind;
    Recorder obs;
    parts.go(kind, obs);
    ASSERT_TRUE(parts.finished);
    ASSERT_EQ(kind.order.size(), 5000u);
    std::string whole = "sim;words\n";
    // Count the words of every written line: the table's rows agree with the blocks.
    size_t at = 0;
    for (int32_t s = 1; s <= 5000; ++s) {
        const size_t end = kind.written.find('\n', at);
        const std::string line = kind.written.substr(at, end - at);
        at = end + 1;
        const size_t words = static_cast<size_t>(std::count(line.begin(), line.end(), ' '));
        whole += std::to_string(s) + ";" + std::to_string(words) + "\n";
    }
    EXPECT_EQ(parts.dir.read("outfile.csv"), whole);
}
