#include "app/run_controller.h"

#include "app/genealogy_browser.h"
#include "base/run_error.h"

#include <QTimer>

namespace quenlith {

// Progress of the run, written by the run's thread and read on the window's thread.
class RunController::Observer : public RunObserver {
  public:
    void simulationStarted(int32_t s) override { simulation_.store(s); }
    void progress(int64_t position, int64_t maximum) override {
        maximum_.store(maximum);
        position_.store(position);
    }
    bool stopRequested() override { return stopping(); }
    const std::atomic<bool>* stopFlag() override { return &stop_; }

    void requestStop() { stop_.store(true); }
    bool stopping() const { return stop_.load(); }
    int32_t simulation() const { return simulation_.load(); }
    int64_t position() const { return position_.load(); }
    int64_t maximum() const { return maximum_.load(); }

  private:
    std::atomic<int32_t> simulation_{0};
    std::atomic<int64_t> position_{0};
    std::atomic<int64_t> maximum_{0};
    std::atomic<bool> stop_{false};
};

RunController::RunController(QObject* parent) : QObject(parent) {
    timer_ = new QTimer(this);
    timer_->setInterval(50);
    connect(timer_, &QTimer::timeout, this, &RunController::reportProgress);
}

RunController::~RunController() {
    if (worker_.joinable()) {
        observer_->requestStop();
        worker_.join();
    }
}

bool RunController::start(const FormValues& form, uint64_t seed) {
    if (isRunning()) return false;
    observer_ = std::make_unique<Observer>();
    Observer* observer = observer_.get();
    auto result = std::make_shared<RunResult>();
    timer_->start();
    worker_ = std::thread([this, form, seed, observer, result] {
        try {
            result->outcome = quenlith::RunSimulation(form, seed, *observer);
            // The mutation switch is the form's: it cannot change while the run goes on.
            if (result->outcome->status == RunStatus::Completed &&
                hasGenealogyToDraw(*result->outcome)) {
                drawGenealogy(lastGenealogyInDemes(*result->outcome, form.chkDrawMut),
                              result->drawing);
                result->drawn = true;
            }
        } catch (const RunError& e) {
            result->outcome.reset();
            result->failed = true;
            result->errorText = QString::fromStdString(e.text());
            result->errorDetail = QString::fromStdString(e.detail());
        } catch (const std::exception& e) {
            result->outcome.reset();
            result->failed = true;
            result->errorText = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, result] { finish(result); }, Qt::QueuedConnection);
    });
    return true;
}

void RunController::stop() {
    if (isRunning()) observer_->requestStop();
}

bool RunController::stopRequested() const {
    return observer_ && observer_->stopping();
}

int32_t RunController::simulation() const {
    return observer_ ? observer_->simulation() : 0;
}

int64_t RunController::position() const {
    return observer_ ? observer_->position() : 0;
}

int64_t RunController::maximum() const {
    return observer_ ? observer_->maximum() : 0;
}

void RunController::reportProgress() {
    if (observer_)
        emit progress(observer_->simulation(), observer_->position(), observer_->maximum());
}

void RunController::finish(const std::shared_ptr<RunResult>& result) {
    if (worker_.joinable()) worker_.join();
    timer_->stop();
    reportProgress();
    emit finished(*result);
}

} // namespace quenlith
