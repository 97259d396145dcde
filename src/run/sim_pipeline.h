#pragma once
// The run as a pipeline: simulation s is a function of the run's parameters and its own
// generator that fills a result; the writers take the results in simulation order.
//
// On one thread the simulations and the writers alternate, as in a plain loop. With more
// threads, workers simulate ahead while the calling thread writes: at most `window`
// simulations are in flight beyond the last one written (the memory stays bounded), and the
// writers still see simulation s only after s - 1, so the files do not depend on the
// number of threads.
#include "base/run_error.h"
#include "run/run_driver.h"
#include "run/run_kind.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace quenlith {

// Worker threads of a run: `requested`, or every core when it is 0 or less.
inline int32_t workerThreads(int32_t requested) {
    if (requested > 0) return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int32_t>(cores) : 1;
}

// Runs simulations first .. last. makeProducer() is called once per thread and returns a
// callable produce(s, result, context) that fills `result` (a Result reused from call to
// call); consume(s, result) is called on the calling thread in the order of s. After
// each simulation but the last the observer may stop the run: the function then returns
// false.
//
// Progress, for any number of threads: simulationStarted(s) comes with the progress of the
// simulations before s, and once s is written the progress is that of s whole simulations,
// `progressPerSimulation` each (their coalescences). The coalescences of the simulation
// written next are reported as they happen (with workers, every 50 ms while it is waited
// for), never beyond its share.
//
// An exception thrown by produce(s) (RunError, RunStopped) is rethrown on the calling thread
// once every simulation before s has been consumed; one thrown by consume ends the workers.
template <typename Result, typename MakeProducer, typename Consume>
bool runSimulationsInOrder(int32_t first, int32_t last, int32_t threads, RunObserver& observer,
                           int64_t progressPerSimulation, int64_t progressMax,
                           MakeProducer&& makeProducer, Consume&& consume) {
    if (threads <= 1) {
        auto produce = makeProducer();
        Result result;
        int64_t position = 0; // the whole simulations' progress
        int64_t within = 0;   // the progress of the simulation in hand, at most one's share
        const std::function<void()> onCoalescence = [&] {
            if (within >= progressPerSimulation) return;
            ++within;
            observer.progress(position + within, progressMax);
        };
        const SimulationContext context{onCoalescence, observer.stopFlag()};
        for (int32_t s = first; s <= last; ++s) {
            observer.simulationStarted(s);
            within = 0;
            produce(s, result, context);
            consume(s, result);
            position += progressPerSimulation;
            observer.progress(position, progressMax);
            if (s < last && observer.stopRequested()) return false;
        }
        return true;
    }

    if (last < first) return true;
    // Never more threads, nor more finished simulations held, than the run has simulations.
    const int64_t simulations = int64_t{last} - first + 1;
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(threads, simulations));
    const int32_t window =
        static_cast<int32_t>(std::min<int64_t>(2 * int64_t{count} + 2, simulations));
    std::vector<Result> slots(static_cast<size_t>(window));
    std::vector<char> ready(static_cast<size_t>(window), 0);
    // The coalescences so far of the simulation in each slot.
    std::vector<std::atomic<int64_t>> coalescences(static_cast<size_t>(window));
    std::vector<std::exception_ptr> errors(static_cast<size_t>(window));
    std::mutex mutex;
    // A wake-up costs the system more than most simulations' formatting: the writer is woken
    // only for the simulation it waits for, idle workers only once there is room for all.
    std::condition_variable resultReady, roomFree;
    int64_t awaited = -1;    // the simulation the writer waits for, -1 when it does not
    int32_t idleWorkers = 0; // workers waiting for room in the window
    int64_t next = first;    // the next simulation to claim
    int64_t written = first; // the next simulation to consume
    bool abandon = false;
    std::atomic<bool> stopWorkers{false};
    const std::atomic<bool>* frontStop = observer.stopFlag();
    const auto slot = [&](int64_t s) { return static_cast<size_t>((s - first) % window); };

    const auto work = [&] {
        auto produce = makeProducer();
        std::atomic<int64_t>* counted = nullptr;
        const std::function<void()> onCoalescence = [&counted] {
            counted->fetch_add(1, std::memory_order_relaxed);
        };
        const SimulationContext context{onCoalescence, &stopWorkers};
        std::unique_lock lock(mutex);
        for (;;) {
            while (!(abandon || next > last || next < written + window)) {
                ++idleWorkers;
                roomFree.wait(lock);
                --idleWorkers;
            }
            if (abandon || next > last) return;
            const int64_t s = next++;
            const size_t i = slot(s);
            counted = &coalescences[i];
            counted->store(0, std::memory_order_relaxed);
            lock.unlock();
            try {
                produce(static_cast<int32_t>(s), slots[i], context);
            } catch (...) {
                errors[i] = std::current_exception();
            }
            lock.lock();
            ready[i] = 1;
            if (awaited == s) resultReady.notify_one();
        }
    };

    std::vector<std::thread> workers;
    // Ends the workers on every way out, the exceptional ones included.
    struct Joiner {
        std::vector<std::thread>& workers;
        std::mutex& mutex;
        std::condition_variable& resultReady;
        std::condition_variable& roomFree;
        bool& abandon;
        std::atomic<bool>& stopWorkers;
        ~Joiner() {
            {
                std::lock_guard lock(mutex);
                abandon = true;
                stopWorkers = true;
            }
            resultReady.notify_all();
            roomFree.notify_all();
            for (auto& w : workers)
                w.join();
        }
    } joiner{workers, mutex, resultReady, roomFree, abandon, stopWorkers};
    // A system that refuses more threads (a process limit, a huge --threads) leaves the run
    // with the workers it has; with none at all the run fails with the system's reason.
    for (int32_t t = 0; t < count; ++t) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error& e) {
            if (workers.empty())
                throw RunError("Worker threads cannot be started", e.code().message());
            break;
        }
    }

    int64_t position = 0;
    for (int64_t s = first; s <= last; ++s) {
        const size_t i = slot(s);
        observer.simulationStarted(static_cast<int32_t>(s));
        int64_t within = 0; // the progress of s reported so far
        for (;;) {
            bool claimed = false;
            {
                std::unique_lock lock(mutex);
                if (ready[i]) break;
                awaited = s;
                resultReady.wait_for(lock, std::chrono::milliseconds(50));
                awaited = -1;
                // The front end's stop reaches the genealogies in progress through the
                // workers' own flag.
                if (frontStop && frontStop->load(std::memory_order_relaxed)) stopWorkers = true;
                if (ready[i]) break;
                // The worker that claims s sets its count to 0 before it lets go of the lock.
                claimed = next > s;
            }
            const int64_t now =
                std::min(progressPerSimulation, coalescences[i].load(std::memory_order_relaxed));
            if (claimed && now > within) {
                within = now;
                observer.progress(position + within, progressMax);
            }
        }
        if (errors[i]) std::rethrow_exception(errors[i]);
        consume(static_cast<int32_t>(s), slots[i]);
        position += progressPerSimulation;
        observer.progress(position, progressMax);
        {
            std::lock_guard lock(mutex);
            ready[i] = 0;
            written = s + 1;
            const int64_t room = written + window - next, unclaimed = last - next + 1;
            if (idleWorkers > 0 && room >= std::min<int64_t>(idleWorkers, unclaimed))
                roomFree.notify_all();
        }
        if (s < last && observer.stopRequested()) return false;
    }
    return true;
}

} // namespace quenlith
