#pragma once
// A run of the window on a thread of its own, without widgets: it starts the run, reports its
// progress while it goes on, stops it on request and hands over its result on the window's
// thread once it has ended. The last genealogy is drawn on the run's thread so that a large
// one does not hold up the window.
#include "app/genealogy_drawing.h"
#include "run/form_values.h"
#include "run/run_driver.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class QTimer;

namespace quenlith {

// How a run ended: its outcome, or the error that ended it.
struct RunResult {
    std::optional<RunOutcome> outcome; // none when the run failed
    Drawing drawing;                   // the last genealogy of a completed run
    bool drawn = false;                // a completed run stored a genealogy to draw
    bool failed = false;
    QString errorText;
    QString errorDetail;
};

class RunController : public QObject {
    Q_OBJECT

  public:
    explicit RunController(QObject* parent = nullptr);
    // Stops a run still going on and waits for its thread; no signal follows.
    ~RunController() override;

    // Starts a run of `form` seeded by `seed`; false (and nothing done) while one goes on.
    bool start(const FormValues& form, uint64_t seed);
    // Asks the run to stop after its current simulation (inside a long genealogy: at once,
    // the simulation in progress being abandoned). Nothing happens when none goes on.
    void stop();
    bool isRunning() const { return worker_.joinable(); }
    bool stopRequested() const;

    // The run's progress as last reported by its thread.
    int32_t simulation() const;
    int64_t position() const;
    int64_t maximum() const;

  signals:
    // Every 50 ms while a run goes on, and once more as it ends.
    void progress(int32_t simulation, int64_t position, int64_t maximum);
    // The run has ended; isRunning() is already false.
    void finished(const quenlith::RunResult& result);

  private:
    class Observer;

    void reportProgress();
    void finish(const std::shared_ptr<RunResult>& result);

    std::thread worker_;
    std::unique_ptr<Observer> observer_;
    QTimer* timer_ = nullptr;
};

} // namespace quenlith
