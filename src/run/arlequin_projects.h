#pragma once
// The Arlequin project of every simulation and its line in the batch file. On one thread
// both are written in simulation order by the driver's thread. With worker threads the
// worker that formatted a simulation also writes its project file, so that the threads
// share the file system's work, and the driver's thread only appends the batch line; a
// project written for a simulation that the run never reaches (it stopped or failed first)
// is removed again, so that the folder holds the projects of the whole simulations only.
//
// In a streams run the driver's thread also feeds the projects, in simulation order, into
// the digest that the slice manifest records of them all (see tallyProject).
#include "base/file_io.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quenlith {

// Adds the project of simulation s (`content`, as its file holds it) to the digest of the
// projects of a slice: its file name, size and content; the size counts the content alone.
void tallyProject(WriteTally& tally, int64_t s, std::string_view content);

class ArlequinProjects {
  public:
    // `batch` null: the run writes no projects.
    ArlequinProjects(BlockFile* batch, std::string workDir, bool onWorkers, WrittenFiles* written);

    bool active() const { return batch_ != nullptr; }
    // A worker, after formatting `project` of simulation s.
    void formatted(int32_t s, const std::string& project);
    // The driver's thread, in simulation order.
    void write(int32_t s, const std::string& project);
    // Removes the projects written for simulations not yet written (the run ends early).
    void discardUnwritten();

  private:
    BlockFile* batch_;
    const std::string workDir_;
    const bool onWorkers_;
    WrittenFiles* written_;
    std::shared_ptr<WriteTally> tally_; // the projects' digest, when the record keeps one
    std::mutex mutex_;
    std::unordered_map<int32_t, std::string> unwritten_; // simulation -> project file
};

} // namespace quenlith
