#pragma once
// The file layer: every failure throws RunError with the standard text and the path.
#include "base/sha256.h"
#include "base/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

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
//
// For the files named to tallyWrites the record also takes their sizes and SHA-256 from the
// bytes as the run writes them (a streams run's manifest lists them), so that they need not
// be read back at the end.
class WrittenFiles {
  public:
    // From now on, files created under these paths get a WriteTally, and `groupTally` hands
    // one out for a group named by one of them.
    void tallyWrites(const std::vector<std::string>& paths);
    // Records the file open on `fd` under `path`; anything but a regular file (standard
    // output, a device) is left out. Returns its tally, null when it has none: a file
    // reopened keeps the one it had while its size is the tally's, an empty file gets a
    // new one, any other gets a spoilt one (bytes the run did not write).
    std::shared_ptr<WriteTally> add(int fd, const std::string& path);
    // The tally of a group of files that their writer feeds itself (in an order of its own),
    // under `key`, one of the paths given to tallyWrites; null for any other key.
    std::shared_ptr<WriteTally> groupTally(const std::string& key);
    // Moves the record of `from`, when there is one, to `to` (the file was renamed).
    void renamed(const std::string& from, const std::string& to);
    // Throws "File not found" naming the first file that is no longer there under its name
    // (deleted, moved or replaced). Called before the run log is written.
    void check() const;
    // The size and SHA-256 of the file `path` (or of the group `key`) from the bytes the run
    // wrote, and ends its tally. False, and the file must be read back, when it has no
    // tally, a byte of it did not pass through the tally, or the file under its name is no
    // longer the one written or has another size. A group's files are the caller's to check.
    bool writtenDigest(const std::string& path, FileDigest& out);

  private:
    struct Record {
        dev_t dev = 0;
        ino_t ino = 0;
        std::shared_ptr<WriteTally> tally;
    };
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Record> files_;
    std::unordered_set<std::string> tallied_;
    std::unordered_map<std::string, std::shared_ptr<WriteTally>> groups_;
};

// Creates (or truncates) an empty file, recorded in `written` when given.
void createEmptyFile(const std::string& path, WrittenFiles* written = nullptr);

// A file that collects blocks. Each write() hands the whole block to the system at once,
// so the file is complete on disk after every block. A block that cannot be written whole
// (a full disk, the file-size limit) is taken back: the file is cut to its size before the
// block, so it always ends with its last whole block. A file deleted while it is open is
// noticed at its next block, or by the check of the run's record, and ends the run. Each
// whole block goes into the file's tally when the record keeps one; a block that reaches the
// file past the tally (the file's size is not the tally's) spoils it.
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
    std::shared_ptr<WriteTally> tally_; // from the record, when it tallies this file
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
