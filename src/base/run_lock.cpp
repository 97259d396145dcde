#include "base/run_lock.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlith {

namespace {

[[noreturn]] void throwInUse(const std::string& workDir, long pid) {
    std::string detail = workDir + " (another run";
    if (pid > 0) detail += ", process " + std::to_string(pid) + ",";
    throw RunError("Working directory in use", detail + " is writing there)");
}

// The process number written into a lock file by its holder; 0 when unknown.
long holderOf(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return 0;
    char buf[32] = {};
    const ssize_t n = ::read(fd.get(), buf, sizeof buf - 1);
    if (n <= 0) return 0;
    long pid = 0;
    for (ssize_t i = 0; i < n && buf[i] >= '0' && buf[i] <= '9' && pid < 100000000; ++i)
        pid = pid * 10 + (buf[i] - '0');
    return pid;
}

// Why the lock file could not be opened: the directory is missing or not one.
[[noreturn]] void throwOpenError(int err, const std::string& workDir, const std::string& path) {
    struct stat st {};
    // O_NOFOLLOW: a link in the lock file's place is never followed (it could lead anywhere).
    if (err == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        throw RunError("File access denied",
                       path + " (a symbolic link in place of the run's lock file: remove it)");
    if (err == ENOENT || err == ENOTDIR) {
        if (::stat(workDir.c_str(), &st) != 0)
            throw RunError("File not found", workDir + " (the working directory does not exist)");
        if (!S_ISDIR(st.st_mode))
            throw RunError("File not found",
                           workDir + " (the working directory is not a directory)");
    }
    throwIoError(err, path);
}

} // namespace

RunLock::RunLock(const std::string& workDir) {
    const std::string path = joinPath(workDir, kRunLockName);
    // A holder that ends between our open() and flock() removes the file we opened; then the
    // name belongs to a new file (or none) and the lock is taken again on that.
    for (int attempt = 0; attempt < 100; ++attempt) {
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (!fd.valid()) {
            const int err = errno;
            if (err != EACCES && err != EROFS && err != EPERM) throwOpenError(err, workDir, path);
            // A folder where no file can be created: lock the folder itself. Such a run can
            // only write into files that are already there.
            UniqueFd dir(::open(workDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!dir.valid()) throwOpenError(errno, workDir, workDir);
            if (::flock(dir.get(), LOCK_EX | LOCK_NB) != 0) throwInUse(workDir, 0);
            fd_ = std::move(dir);
            return;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            fd.reset();
            if (err == EWOULDBLOCK) throwInUse(workDir, holderOf(path));
            throwIoError(err, path);
        }
        struct stat open {
        }, named{};
        if (::fstat(fd.get(), &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
            open.st_dev == named.st_dev && open.st_ino == named.st_ino) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd.get(), 0) == 0) (void)!::write(fd.get(), pid.data(), pid.size());
            fd_ = std::move(fd);
            path_ = path;
            return;
        }
    }
    throwInUse(workDir, 0);
}

RunLock::RunLock(RunLock&& o) noexcept : fd_(std::move(o.fd_)), path_(std::move(o.path_)) {}

RunLock& RunLock::operator=(RunLock&& o) noexcept {
    if (this != &o) {
        release();
        fd_ = std::move(o.fd_);
        path_ = std::move(o.path_);
    }
    return *this;
}

RunLock::~RunLock() {
    release();
}

void RunLock::release() {
    if (!fd_.valid()) return;
    // Removed while still held, so that no other run can take a lock on a name that is about
    // to vanish.
    if (!path_.empty()) ::unlink(path_.c_str());
    fd_.reset();
}

} // namespace quenlith
