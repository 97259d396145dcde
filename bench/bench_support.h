#pragma once
// Helpers of the benchmark scenarios: scratch working directories, the resident-memory
// peak of this process, and timing a child process.
#include <cstdint>
#include <string>
#include <vector>

namespace quenlith::bench {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    void write(const std::string& name, const std::string& content) const;

  private:
    std::string path_;
};

// Resets the peak resident size of this process to its current size, so that the next
// reading covers only what follows. Returns false where the kernel does not allow it.
bool resetPeakResident();

// Peak resident size of this process since start or the last reset, in MiB.
double peakResidentMiB();

struct ChildResult {
    int exitStatus = -1; // -1: did not start or did not exit normally
    double wallSeconds = 0;
    double cpuSeconds = 0;      // user and system time of the child
    double peakResidentMiB = 0; // of the child alone
};

// Runs `program` with `args`, standard output to `output` (created or truncated; /dev/null by
// default) and standard error to /dev/null, and waits for it.
ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& output = "/dev/null");

} // namespace quenlith::bench
