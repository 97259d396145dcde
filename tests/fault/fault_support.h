#pragma once
// Helpers of the fault tests: quenlith-cli in a child process with a time limit (and, when
// the tests run as root, as an unprivileged user so that file permissions apply), a watchdog
// for runs inside the test process, and comparisons of the files a run leaves.
#include "run/run_driver.h"

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quenlith::testing {

struct CliRun {
    int status = -1;       // exit status; -1 when killed or not started
    int signal = 0;        // the signal that ended the program, 0 when it exited
    bool timedOut = false; // killed after the time limit
    std::string out, err;
};

// quenlith-cli started in the background; finishCli() collects it.
struct CliChild {
    int pid = -1;
    int out = -1, err = -1;
};

// Starts quenlith-cli with `args`. `inChild`, when given, runs in the child before the program
// starts (to set a resource limit, for example).
CliChild startCli(const std::vector<std::string>& args, const std::function<void()>& inChild = {});
// Waits for the program and its output; kills it after `timeoutSeconds`.
CliRun finishCli(CliChild& child, int timeoutSeconds = 60);

// Runs quenlith-cli with `args`; kills it after `timeoutSeconds`. With `unprivileged` the child
// drops to the user and group "nobody" (65534) before it starts the program.
CliRun runCli(const std::vector<std::string>& args, int timeoutSeconds = 60,
              bool unprivileged = false);

// True when file permissions bind this process (not root).
bool permissionsApply();
// True when the tests run as root and a child process can drop to user "nobody".
bool canRunUnprivileged();

// Aborts the test process, naming `what`, when it is not destroyed within `seconds`: a run
// that hangs fails the test instead of blocking the suite.
class Watchdog {
  public:
    Watchdog(int seconds, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// RunSimulation under a watchdog of `seconds`.
RunOutcome runGuarded(const FormValues& form, uint32_t seed, int seconds = 60);

// Every regular file below `dir`, by its path relative to `dir`, with its content, in which
// the path of `dir` reads "<workdir>".
std::map<std::string, std::string> filesBelow(const std::filesystem::path& dir);

// Empty when every file of `after` (but `except`) is whole: the file of the same name in
// `reference` cut after a complete block (or left whole). Otherwise the names of the files
// that are not, with the reason.
std::string brokenFiles(const std::map<std::string, std::string>& after,
                        const std::map<std::string, std::string>& reference,
                        const std::string& except = {});

// Lines of a text with CR LF or LF line ends, without the ends.
std::vector<std::string> textLines(const std::string& text);

} // namespace quenlith::testing
