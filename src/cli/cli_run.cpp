#include "cli/cli_run.h"

#include "base/random.h"
#include "base/run_error.h"
#include "cli/cli_options.h"
#include "run/run_driver.h"
#include "run/run_parameters.h"
#include "run/slice_join.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <sys/stat.h>

namespace quenlith {

namespace {

// Set by SIGINT or SIGTERM: the run stops after its current simulation (a genealogy in
// progress is abandoned), so every file ends with a whole block.
std::atomic<bool> stopSignalled{false};
std::atomic<int> stopSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void onStopSignal(int sig) {
    stopSignal.store(sig);
    stopSignalled.store(true);
}

std::string signalName(int sig) {
    if (sig == SIGINT) return "SIGINT";
    if (sig == SIGTERM) return "SIGTERM";
    return "signal " + std::to_string(sig);
}

// Creates a missing working directory (and its missing parents); false with `error` set
// when it cannot be made.
bool ensureWorkingDirectory(const std::string& dir, std::ostream& err, std::string& error) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return true; // a file in its place is reported by the run
    if (errno != ENOENT) return true;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create the working directory " + dir + ": " + ec.message();
        return false;
    }
    err << "quenlith-cli: created the working directory " << dir << "\n";
    return true;
}

// Progress line on a terminal: simulation number and the bar's position, at most ~10 a second.
class TerminalProgress : public RunObserver {
  public:
    TerminalProgress(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    ~TerminalProgress() override { finish(); }

    void simulationStarted(int32_t s) override {
        simulation_ = s;
        whole_ = s - 1;
        show(false);
    }
    void progress(int64_t position, int64_t maximum) override {
        position_ = position;
        maximum_ = maximum;
        show(false);
    }
    void finish() {
        if (enabled_ && shown_) {
            show(true);
            err_ << "\n";
            shown_ = false;
        }
    }

    // Simulations whose files are complete: all before the one in progress, or the one just
    // finished when the run checks for a stop after it.
    int32_t wholeSimulations() const { return whole_; }
    bool stopRequested() override {
        whole_ = simulation_;
        return stopSignalled.load();
    }
    const std::atomic<bool>* stopFlag() override { return &stopSignalled; }

  private:
    void show(bool force) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && shown_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        err_ << "\rsimulation " << simulation_ << "  progress " << position_ << "/" << maximum_
             << std::flush;
    }
    std::ostream& err_;
    bool enabled_;
    bool shown_ = false;
    int32_t simulation_ = 0;
    int32_t whole_ = 0;
    int64_t position_ = 0, maximum_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

} // namespace

// Saves the drawing of the last genealogy; provided by the window's library when it is
// built, otherwise reports that images are unavailable.
bool saveGenealogyImage(const RunOutcome& outcome, const std::string& path, std::string& error);
// Loads what saving an image needs; false, with the reason, when it is not there.
bool loadImageSaving(std::string& error);

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progressToTerminal) {
    CliParse parsed = parseCliOptions(args);
    if (!parsed.error.empty()) {
        err << "error: " << parsed.error << "\n";
        return 2;
    }
    const CliOptions& o = parsed.options;
    if (o.help) {
        out << cliHelpText();
        return 0;
    }
    if (o.version) {
        out << "quenlith-cli " << QUENLITH_VERSION << "\n";
        return 0;
    }
    if (!o.joinDirs.empty()) {
        // The slices' manifests fix the run; an option that would change it cannot be honoured.
        std::string refused;
        for (const std::string& name : o.given)
            if (name != "--join" && name != "--workdir" && name != "--quiet" &&
                refused.find(name + ",") == std::string::npos)
                refused += name + ",";
        if (!refused.empty()) {
            refused.pop_back();
            for (size_t at = refused.find(','); at != std::string::npos;
                 at = refused.find(',', at + 2))
                refused.insert(at + 1, " ");
            err << "error: --join takes only --workdir and --quiet: the slices' manifests fix the "
                   "run, so "
                << refused << " cannot be honoured\n";
            return 2;
        }
        try {
            joinSlices(o.joinDirs, o.form.WorkDir, &stopSignalled);
        } catch (const RunStopped&) {
            const int sig = stopSignal.load();
            err << "quenlith-cli: stopped by " << signalName(sig)
                << ": the join did not finish; no run log was written\n";
            return 128 + sig;
        } catch (const RunError& e) {
            err << "error: " << e.text();
            if (!e.detail().empty()) err << ": " << e.detail();
            err << "\n";
            return 1;
        }
        return 0;
    }
    // An image that cannot be saved is reported before the run, not after it.
    if (!o.imageFile.empty()) {
        std::string error;
        if (!loadImageSaving(error)) {
            err << "error: " << error << "\n";
            return 1;
        }
    }
    const bool streams = o.form.rngKind == RandomKind::Streams;
    uint64_t seed;
    if (o.seed) {
        seed = *o.seed;
    } else {
        // A streams run takes a 64-bit seed: the clock's counter and the system's entropy.
        seed = streams ? (static_cast<uint64_t>(std::random_device{}()) << 32) ^ clockSeed()
                       : clockSeed();
    }
    // The run-control options are refused before anything is written or printed.
    const std::string refusal =
        runControlError(o.form, readRunParameters(o.form).params.SimCount, seed);
    if (!refusal.empty()) {
        err << "error: " << refusal << "\n";
        return 1;
    }
    if (!o.seed) err << "seed: " << seed << "\n";
    TerminalProgress progress(err, progressToTerminal && !o.quiet);
    // The status of a run stopped by a signal, after saying how far it came.
    auto stopped = [&](bool completed) {
        progress.finish();
        const int sig = stopSignal.load();
        err << "quenlith-cli: stopped by " << signalName(sig) << ": ";
        if (completed)
            err << "the run had completed; every file and the run log are written\n";
        else
            err << "the files hold " << progress.wholeSimulations()
                << " whole simulation(s); no run log was written\n";
        return 128 + sig;
    };
    std::string dirError;
    if (!ensureWorkingDirectory(o.form.WorkDir, err, dirError)) {
        err << "error: " << dirError << "\n";
        return 1;
    }
    try {
        RunOutcome outcome = RunSimulation(o.form, seed, progress);
        progress.finish();
        if (stopSignalled.load()) return stopped(outcome.status == RunStatus::Completed);
        if (outcome.status == RunStatus::Rejected) {
            err << "WARNING: " << outcome.warning << "\n";
            return 2;
        }
        if (!o.imageFile.empty()) {
            std::string error;
            if (!saveGenealogyImage(outcome, o.imageFile, error)) {
                err << "error: " << error << "\n";
                return 1;
            }
        }
    } catch (const RunStopped&) {
        return stopped(false);
    } catch (const RunError& e) {
        progress.finish();
        err << "error: " << e.text();
        if (!e.detail().empty()) err << ": " << e.detail();
        err << "\n";
        return 1;
    }
    return 0;
}

void installStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program at once, for a run that does not come to a stop.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int stopSignalReceived() {
    return stopSignalled.load() ? stopSignal.load() : 0;
}

} // namespace quenlith
