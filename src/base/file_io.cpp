#include "base/file_io.h"

#include "base/run_error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlith {

std::string standardErrorText(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return "File not found";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return "File access denied";
    case ENOSPC:
    case EDQUOT:
        return "Disk full";
    case ENOMEM:
        return "Out of memory";
    default:
        return "I/O error " + std::to_string(err);
    }
}

void throwIoError(int err, const std::string& path) {
    throw RunError(standardErrorText(err), path);
}

std::string joinPath(const std::string& workDir, const std::string& name) {
    return workDir + "/" + name;
}

namespace {

int openForWriting(const std::string& path, bool truncate) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) throwIoError(errno, path);
    return fd;
}

void writeAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throwIoError(errno, path);
        }
        if (n == 0) throwIoError(ENOSPC, path);
        data.remove_prefix(static_cast<size_t>(n));
    }
}

} // namespace

void createEmptyFile(const std::string& path) {
    int fd = openForWriting(path, true);
    ::close(fd);
}

BlockFile::BlockFile(const std::string& path, bool truncate) : path_(path) {
    fd_ = openForWriting(path, truncate);
    if (truncate) {
        // Reopen in append mode so that every block goes to the end.
        ::close(fd_);
        fd_ = openForWriting(path, false);
    }
}

BlockFile::BlockFile(BlockFile&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)) {
    o.fd_ = -1;
}

BlockFile& BlockFile::operator=(BlockFile&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.fd_;
        path_ = std::move(o.path_);
        o.fd_ = -1;
    }
    return *this;
}

BlockFile::~BlockFile() {
    if (fd_ >= 0) ::close(fd_);
}

void BlockFile::write(std::string_view block) {
    if (fd_ < 0) fd_ = openForWriting(path_, false);
    writeAll(fd_, block, path_);
}

void BlockFile::close() {
    if (fd_ >= 0) {
        int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0 && errno != EINTR) throwIoError(errno, path_);
    }
}

void writeWholeFile(const std::string& path, std::string_view content) {
    int fd = openForWriting(path, true);
    try {
        writeAll(fd, content, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0 && errno != EINTR) throwIoError(errno, path);
}

std::string readWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwIoError(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throwIoError(EISDIR, path);
    }
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            throwIoError(err, path);
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

void createDirectoryIgnoringErrors(const std::string& path) {
    (void)::mkdir(path.c_str(), 0777);
}

} // namespace quenlith
