#pragma once
// SHA-256 (nettle), and the running size and digest of a file as its writer hands over its
// bytes.
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

// The size and SHA-256 of a file (or of a group of files, as a slice manifest lists them).
struct FileDigest {
    uint64_t size = 0;
    std::string sha256;
};

// The size and SHA-256 of the bytes written to a file, taken as they are written, so that
// the file need not be read back. One writer at a time feeds it. Once any byte reaches the
// file past it (or a write is not known to have been taken back whole) it is spoilt, and the
// file has to be read back.
class WriteTally {
  public:
    // Bytes that reached the file.
    void add(std::string_view bytes) {
        hash_.update(bytes);
        size_ += bytes.size();
    }
    // Bytes hashed but not counted in the size (the names in a group's digest).
    void addUncounted(std::string_view bytes) { hash_.update(bytes); }
    void spoil() { spoilt_ = true; }
    bool spoilt() const { return spoilt_; }
    uint64_t size() const { return size_; }
    // The digest of everything added; once only (the tally ends with it).
    FileDigest finish() { return {size_, hash_.hex()}; }

  private:
    Sha256 hash_;
    uint64_t size_ = 0;
    bool spoilt_ = false;
};

} // namespace quenlith
