#include "cli/cli_run.h"

#include "base/random.h"
#include "base/run_error.h"
#include "cli/cli_options.h"
#include "run/run_driver.h"
#include "run/run_parameters.h"
#include "run/slice_join.h"

#include <chrono>
#include <ostream>
#include <random>

namespace quenlith {

namespace {

// Progress line on a terminal: simulation number and the bar's position, at most ~10 a second.
class TerminalProgress : public RunObserver {
  public:
    TerminalProgress(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    ~TerminalProgress() override { finish(); }

    void simulationStarted(int32_t s) override {
        simulation_ = s;
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
    int64_t position_ = 0, maximum_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

} // namespace

// Saves the drawing of the last genealogy; provided by the window's library when it is
// built, otherwise reports that images are unavailable.
bool saveGenealogyImage(const RunOutcome& outcome, const std::string& path, std::string& error);

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progressToTerminal) {
    CliParse parsed = parseCliOptions(args);
    if (!parsed.error.empty()) {
        err << "error: " << parsed.error << "\n";
        return 1;
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
        try {
            joinSlices(o.joinDirs, o.form.WorkDir);
        } catch (const RunError& e) {
            err << "error: " << e.text();
            if (!e.detail().empty()) err << ": " << e.detail();
            err << "\n";
            return 1;
        }
        return 0;
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
    try {
        RunOutcome outcome = RunSimulation(o.form, seed, progress);
        progress.finish();
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
    } catch (const RunError& e) {
        progress.finish();
        err << "error: " << e.text();
        if (!e.detail().empty()) err << ": " << e.detail();
        err << "\n";
        return 1;
    }
    return 0;
}

} // namespace quenlith
