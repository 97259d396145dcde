#pragma once
// The file layer: every failure throws RunError with the standard text and the path.
#include <string>
#include <string_view>

namespace quenlith {

// Joins a file name to the working directory with the platform's separator.
std::string joinPath(const std::string& workDir, const std::string& name);

// Creates (or truncates) an empty file.
void createEmptyFile(const std::string& path);

// A file that collects blocks. Each write() hands the whole block to the system at once,
// so the file is complete on disk after every block.
class BlockFile {
  public:
    BlockFile() = default;
    // Opens for appending; with `truncate` the file is created empty first.
    BlockFile(const std::string& path, bool truncate);
    BlockFile(BlockFile&& other) noexcept;
    BlockFile& operator=(BlockFile&& other) noexcept;
    BlockFile(const BlockFile&) = delete;
    BlockFile& operator=(const BlockFile&) = delete;
    ~BlockFile();

    void write(std::string_view block);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

// Writes a whole file at once (created or truncated).
void writeWholeFile(const std::string& path, std::string_view content);

// Reads a whole file. A missing file gives "File not found".
std::string readWholeFile(const std::string& path);

// Creates a directory; an existing one or a failure is ignored.
void createDirectoryIgnoringErrors(const std::string& path);

} // namespace quenlith
