#pragma once
// Digests of files: the sizes and SHA-256 (nettle) that a slice's manifest records of its
// files, so that a join can tell a file that was cut, emptied or changed after its run.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quenlith {

// SHA-256 (nettle) of bytes handed over in pieces, as 64 lowercase hexadecimal digits.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(std::string_view bytes);
    std::string hex(); // ends the digest; the object starts afresh

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The size and SHA-256 of a regular file, read a block at a time. Errors as readWholeFile;
// RunStopped when `stop` is set between blocks.
struct FileDigest {
    uint64_t size = 0;
    std::string sha256;
};
FileDigest digestFile(const std::string& path, const std::atomic<bool>* stop = nullptr);

} // namespace quenlith
