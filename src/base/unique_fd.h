#pragma once
// A file descriptor owned by one object: closed when the owner goes, handed on by moving.
#include <cerrno>
#include <unistd.h>
#include <utility>

namespace quenlith {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(std::exchange(o.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the descriptor held (errors ignored) and takes `fd`.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and returns the errno of a failed close, 0 when it closed (EINTR counts as
    // closed: the descriptor is gone either way on Linux).
    int close() {
        if (fd_ < 0) return 0;
        const int rc = ::close(std::exchange(fd_, -1));
        return rc != 0 && errno != EINTR ? errno : 0;
    }

  private:
    int fd_ = -1;
};

} // namespace quenlith
