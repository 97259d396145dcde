#pragma once
// The file layer: every failure throws RunError with the standard text and the path.
#include "base/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenlith {

// Joins a file name to the working directory with the platform's separator; an absolute
// name is returned as it is.
std::string joinPath(const std::string& workDir, const std::string& name);

// The name a BlockFile opens as standard output.
inline constexpr const char* kStandardOutput = "-";

// Creates (or truncates) an empty file.
void createEmptyFile(const std::string& path);

// A file that collects blocks. Each write() hands the whole block to the system at once,
// so the file is complete on disk after every block. A block that cannot be written whole
// (a full disk, the file-size limit) is taken back: the file is cut to its size before the
// block, so it always ends with its last whole block. A file deleted while it is open is
// noticed at its next block, or by checkWrittenFiles(), and ends the run.
class BlockFile {
  public:
    BlockFile() = default;
    // Opens for appending; with `truncate` the file is created empty first. The name "-"
    // (kStandardOutput) writes to standard output.
    BlockFile(const std::string& path, bool truncate);
    BlockFile(BlockFile&& other) noexcept = default;
    BlockFile& operator=(BlockFile&& other) noexcept = default;

    void write(std::string_view block);
    void close();
    bool isOpen() const { return fd_.valid(); }
    const std::string& path() const { return path_; }

  private:
    UniqueFd fd_;
    std::string path_;
};

// Every file written (BlockFile or writeWholeFile) since forgetWrittenFiles() is recorded
// with its identity. checkWrittenFiles() throws "File not found" naming the first that is no
// longer there under its name (deleted, moved or replaced), so that a run never reports
// success while a file it wrote has gone; it is called before the run log is written.
void forgetWrittenFiles();
void checkWrittenFiles();
// Renames a file the run wrote (a part file at the end of the run), keeping its record;
// throws "File not found" naming `from` when it has gone, else the system's reason naming
// `to`.
void renameWrittenFile(const std::string& from, const std::string& to);

// Writes a whole file at once (created or truncated). When the content cannot be written
// whole the file is removed: it is either complete or absent.
void writeWholeFile(const std::string& path, std::string_view content);

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
