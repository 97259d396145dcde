#include "fault/fault_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace quenlith::testing {

namespace {

constexpr uid_t kNobody = 65534;

[[noreturn]] void childFails(const char* what) {
    const int err = errno;
    std::fprintf(stderr, "fault test child: %s: %s\n", what, std::strerror(err));
    ::_exit(125);
}

bool dropPrivileges() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

} // namespace

CliChild startCli(const std::vector<std::string>& args, const std::function<void()>& inChild) {
    CliChild child;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return child;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return child;
    }
    std::vector<std::string> argvText{QUENLITH_CLI_PATH};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) childFails("dup2");
        if (inChild) inChild();
        ::execv(argv[0], argv.data());
        childFails("execv");
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return child;
    }
    child.pid = pid;
    child.out = out[0];
    child.err = err[0];
    return child;
}

CliRun finishCli(CliChild& child, int timeoutSeconds) {
    CliRun result;
    if (child.pid < 0) return result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    if (result.timedOut) ::kill(child.pid, SIGKILL);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (!result.timedOut && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    child = CliChild{};
    return result;
}

CliRun runCli(const std::vector<std::string>& args, int timeoutSeconds, bool unprivileged) {
    CliChild child = startCli(args, [unprivileged] {
        if (unprivileged && !dropPrivileges()) childFails("dropping to user nobody");
    });
    return finishCli(child, timeoutSeconds);
}

bool permissionsApply() {
    return ::geteuid() != 0;
}

bool canRunUnprivileged() {
    if (::geteuid() != 0) return false;
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(dropPrivileges() ? 0 : 1);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) < 0) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Watchdog::Watchdog(int seconds, std::string what) {
    thread_ = std::thread([this, seconds, what = std::move(what)] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
            std::fprintf(stderr, "\n%s did not finish within %d s\n", what.c_str(), seconds);
            std::fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

RunOutcome runGuarded(const FormValues& form, uint32_t seed, int seconds) {
    Watchdog watchdog(seconds, "the run");
    RunObserver observer;
    return RunSimulation(form, seed, observer);
}

std::map<std::string, std::string> filesBelow(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file() || it->is_symlink()) continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string content = ss.str();
        // The Arlequin batch file names the directory: compare runs in different ones.
        const std::string path = dir.string();
        for (size_t at = content.find(path); at != std::string::npos;
             at = content.find(path, at + 9))
            content.replace(at, path.size(), "<workdir>");
        files[std::filesystem::relative(it->path(), dir).string()] = content;
    }
    return files;
}

std::string brokenFiles(const std::map<std::string, std::string>& after,
                        const std::map<std::string, std::string>& reference,
                        const std::string& except) {
    // The text each block of a file starts with; files without one grow line by line.
    static const std::map<std::string, std::string> blockStart = {
        {"CoalDistrib.csv", "Time of Coalescence"},
        {"MutDistrib.csv", "Time of mutation"},
        {"TreeMatFile.txt", "#"},
        {"MutMatFile.txt", "#"},
    };
    std::string broken;
    for (const auto& [name, got] : after) {
        if (name == except) continue;
        const auto ref = reference.find(name);
        if (ref == reference.end()) {
            broken += name + " (not written by the run without the fault); ";
            continue;
        }
        const std::string& want = ref->second;
        if (got == want) continue;
        // Written whole at the end of a simulation or of the run: only all or nothing.
        const bool whole =
            name == "outfile.csv" || name == "logFile.txt" || name.rfind("Arlequin/", 0) == 0;
        const bool prefix = want.compare(0, got.size(), got) == 0 && got.size() < want.size();
        const bool atLineEnd =
            got.empty() || (got.size() >= 2 && got.substr(got.size() - 2) == "\r\n");
        const auto start = blockStart.find(name);
        const bool atBlock = start == blockStart.end() ||
                             want.compare(got.size(), start->second.size(), start->second) == 0;
        if (whole || !prefix || !atLineEnd || !atBlock)
            broken += name + " (" + std::to_string(got.size()) + " of " +
                      std::to_string(want.size()) + " bytes, not a whole part); ";
    }
    return broken;
}

std::vector<std::string> textLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace quenlith::testing
