#include "cli/cli_run.h"

#include "base/file_io.h"
#include "base/random.h"
#include "base/run_error.h"
#include "cli/cli_config.h"
#include "cli/cli_demes.h"
#include "cli/cli_options.h"
#include "run/output_paths.h"
#include "run/run_driver.h"
#include "run/run_parameters.h"
#include "run/slice_join.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <sys/stat.h>

namespace quenlith {

namespace {

// "1:02:03", "2:03" or "5s".
std::string duration(double seconds) {
    const int64_t t = static_cast<int64_t>(seconds + 0.5);
    char text[48];
    if (t >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(t / 3600),
                      static_cast<long long>(t / 60 % 60), static_cast<long long>(t % 60));
    else if (t >= 60)
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(t / 60),
                      static_cast<long long>(t % 60));
    else
        std::snprintf(text, sizeof text, "%llds", static_cast<long long>(t));
    return text;
}

} // namespace

std::string progressLine(int64_t done, int64_t total, double elapsedSeconds, double fraction) {
    std::string line =
        "simulations " + std::to_string(done) + " of " + std::to_string(total) + ", ";
    char rate[32];
    if (elapsedSeconds > 0 && done > 0) {
        const double r = static_cast<double>(done) / elapsedSeconds;
        std::snprintf(rate, sizeof rate, r >= 10 ? "%.0f/s" : "%.2g/s", r);
        line += rate;
    } else {
        line += "-/s";
    }
    line += ", ";
    if (fraction >= 1 || done >= total)
        line += "0s left";
    else if (fraction > 0 && elapsedSeconds > 0)
        line += duration(elapsedSeconds * (1 - fraction) / fraction) + " left";
    else
        line += "time left unknown";
    return line;
}

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
bool ensureWorkingDirectory(const std::string& dir, std::ostream* err, std::string& error) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return true; // a file in its place is reported by the run
    if (errno != ENOENT) return true;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create the working directory " + dir + ": " + ec.message();
        return false;
    }
    if (err) *err << "quenlith-cli: created the working directory " << dir << "\n";
    return true;
}

// Progress line on a terminal: whole simulations done of all, their rate and the time left,
// redrawn at most four times a second.
class TerminalProgress : public RunObserver {
  public:
    TerminalProgress(std::ostream& err, bool enabled, int64_t first, int64_t count)
        : err_(err), enabled_(enabled), first_(first), count_(count),
          start_(std::chrono::steady_clock::now()) {}
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
    // The run completed: its last line shows every simulation done.
    void completed() {
        whole_ = static_cast<int32_t>(first_ + count_ - 1);
        position_ = maximum_;
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
        if (!force && shown_ && now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        shown_ = true;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const int64_t done = std::clamp<int64_t>(whole_ - first_ + 1, 0, count_);
        const double fraction =
            maximum_ > 0
                ? static_cast<double>(position_) / static_cast<double>(maximum_)
                : static_cast<double>(done) / static_cast<double>(std::max<int64_t>(count_, 1));
        std::string line = progressLine(done, count_, elapsed, fraction);
        // Blanks over the end of a longer line before.
        const size_t width = line.size();
        if (line.size() < width_) line.append(width_ - line.size(), ' ');
        width_ = width;
        err_ << "\r" << line << std::flush;
    }
    std::ostream& err_;
    bool enabled_;
    int64_t first_, count_;
    std::chrono::steady_clock::time_point start_;
    bool shown_ = false;
    size_t width_ = 0;
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
    if (o.resolveDemes) return runDemesCli(o, out, err);
    if (!o.writeConfig.empty()) {
        const std::string text = configText(o);
        if (o.writeConfig == "-") {
            out << text;
            return 0;
        }
        try {
            writeWholeFile(o.writeConfig, text);
        } catch (const RunError& e) {
            err << "error: " << e.text() << ": " << e.detail() << "\n";
            return 1;
        }
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
                refused.insert(at + 1, 1, ' ');
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
    // The image follows the rule of every file name: absolute as given, relative in the
    // working directory; its folder must take it.
    const std::string imagePath = o.imageFile.empty() ? "" : joinPath(o.form.WorkDir, o.imageFile);
    if (!imagePath.empty() && imagePath == o.imageFile) {
        if (const std::string error = checkOutputFolder("the image", imagePath); !error.empty()) {
            err << "error: " << error << "\n";
            return 2;
        }
    }
    if (!o.seed && !o.quiet) err << "seed: " << seed << "\n";
    const RunParameters counted = readRunParameters(o.form).params;
    TerminalProgress progress(err, progressToTerminal && !o.quiet, streams ? o.form.firstSim : 1,
                              std::max(counted.SimCount, 0));
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
    if (!ensureWorkingDirectory(o.form.WorkDir, o.quiet ? nullptr : &err, dirError)) {
        err << "error: " << dirError << "\n";
        return 1;
    }
    if (!imagePath.empty() && imagePath != o.imageFile) {
        if (const std::string error = checkOutputFolder("the image", imagePath); !error.empty()) {
            err << "error: " << error << "\n";
            return 2;
        }
    }
    try {
        RunOutcome outcome = RunSimulation(o.form, seed, progress);
        if (outcome.status == RunStatus::Completed) progress.completed();
        progress.finish();
        if (stopSignalled.load()) return stopped(outcome.status == RunStatus::Completed);
        if (outcome.status == RunStatus::Rejected) {
            err << "WARNING: " << outcome.warning << "\n";
            return 2;
        }
        if (!o.imageFile.empty()) {
            std::string error;
            if (!saveGenealogyImage(outcome, imagePath, error)) {
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
