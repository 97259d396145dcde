#pragma once
// One run at a time per working directory. Two runs writing into one folder would interleave
// their records in every file, so a run holds an exclusive lock on its working directory
// from before it touches the first file until it ends.
#include "base/unique_fd.h"

#include <string>

namespace quenlith {

// The lock file in the working directory; it holds the process number of its holder and is
// removed when the run ends.
inline constexpr const char* kRunLockName = ".quenlith.lock";

class RunLock {
  public:
    RunLock() = default;
    // Takes the lock of `workDir` or throws RunError: "Working directory in use" naming the
    // directory and, where it is known, the process of the run that holds it; "File not found"
    // when the directory does not exist.
    explicit RunLock(const std::string& workDir);
    RunLock(RunLock&& other) noexcept;
    RunLock& operator=(RunLock&& other) noexcept;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock();

    bool held() const { return fd_.valid(); }

  private:
    void release();
    UniqueFd fd_;
    std::string path_; // empty when the directory itself is locked (no lock file)
};

} // namespace quenlith
