#pragma once
// The file layer: every failure throws RunError with the standard text and the path.
#include "base/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <utility>

namespace quenlith {

// Joins a file name to the working directory with the platform's separator; an absolute
// name is returned as it is.
std::string joinPath(const std::string& workDir, const std::string& name);

// The name a BlockFile opens as standard output.
inline constexpr const char* kStandardOutput = "-";

// The files one run (or join) wrote, by path and identity (device, inode), so that its end
// can refuse to report success while one of them has gone. Each run owns its record: runs
// one after another, or a run and a join in one process, never see each other's files. The
// writer thread and the workers may record into it at once.
class WrittenFiles {
  public:
    // Records the file open on `fd` under `path`; anything but a regular file (standard
    // output, a device) is left out.
    void add(int fd, const std::string& path);
    // Moves the record of `from`, when there is one, to `to` (the file was renamed).
    void renamed(const std::string& from, const std::string& to);
    // Throws "File not found" naming the first file that is no longer there under its name
    // (deleted, moved or replaced). Called before the run log is written.
    void check() const;

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::pair<dev_t, ino_t>> files_;
};

// Creates (or truncates) an empty file, recorded in `written` when given.
void createEmptyFile(const std::string& path, WrittenFiles* written = nullptr);

// A file that collects blocks. Each write() hands the whole block to the system at once,
// so the file is complete on disk after every block. A block that cannot be written whole
// (a full disk, the file-size limit) is taken back: the file is cut to its size before the
// block, so it always ends with its last whole block. A file deleted while it is open is
// noticed at its next block, or by the check of the run's record, and ends the run.
class BlockFile {
  public:
    BlockFile() = default;
    // Opens for appending; with `truncate` the file is created empty first. The name "-"
    // (kStandardOutput) writes to standard output. The file is recorded in `written` when
    // given (null: in no record), which must outlive it.
    BlockFile(const std::string& path, bool truncate, WrittenFiles* written = nullptr);
    BlockFile(BlockFile&& other) noexcept = default;
    BlockFile& operator=(BlockFile&& other) noexcept = default;

    void write(std::string_view block);
    void close();
    bool isOpen() const { return fd_.valid(); }
    const std::string& path() const { return path_; }
    // The record the file is in (null: none); files written beside it go into the same.
    WrittenFiles* written() const { return written_; }

  private:
    UniqueFd fd_;
    std::string path_;
    WrittenFiles* written_ = nullptr;
};

// Renames a file the run wrote (a part file at the end of the run), keeping its record in
// `written` (when given) under the new name; throws "File not found" naming `from` when it
// has gone, else the system's reason naming `to`.
void renameWrittenFile(const std::string& from, const std::string& to,
                       WrittenFiles* written = nullptr);

// Writes a whole file at once (created or truncated), recorded in `written` when given.
// When the content cannot be written whole the file is removed: it is either complete or
// absent.
void writeWholeFile(const std::string& path, std::string_view content,
                    WrittenFiles* written = nullptr);

// No limit on the size of a file read.
inline constexpr uint64_t kAnySize = UINT64_MAX;

// Opens a file for reading: "File not found" and the like for a missing one, "File access
// denied" with "(not a regular file)" for anything but a regular file (a FIFO is never waited
// on). Returns the descriptor, in blocking mode.
UniqueFd openRegularFile(const std::string& path);

// Reads a whole file. A missing file gives "File not found"; anything but a regular file (a
// directory, a FIFO, a device) is refused without blocking on it; a file of more than
// `maxBytes` bytes is refused with "File too large" and `what` (what the limit stands for)
// in the detail; running out of memory gives "Out of memory".
std::string readWholeFile(const std::string& path, uint64_t maxBytes = kAnySize,
                          const char* what = nullptr);

// Creates a directory; an existing one or a failure is ignored.
void createDirectoryIgnoringErrors(const std::string& path);

} // namespace quenlith
