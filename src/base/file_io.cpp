#include "base/file_io.h"

#include "base/run_error.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace quenlith {

std::string standardErrorText(int err) {
    const auto text = [](ErrorCode code) { return std::string(standardText(code)); };
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return text(ErrorCode::FileNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return text(ErrorCode::FileAccessDenied);
    case ENOSPC:
    case EDQUOT:
        return text(ErrorCode::DiskFull);
    case EFBIG:
        return text(ErrorCode::FileTooLarge);
    case ENAMETOOLONG:
        return text(ErrorCode::FileNameTooLong);
    case ENOMEM:
        return text(ErrorCode::OutOfMemory);
    default:
        return text(ErrorCode::IoError) + " " + std::to_string(err);
    }
}

void throwIoError(int err, const std::string& path) {
    throw RunError(standardErrorText(err), path);
}

std::string joinPath(const std::string& workDir, const std::string& name) {
    if (!name.empty() && name.front() == '/') return name; // an absolute name, as given
    return workDir + "/" + name;
}

namespace {

// A write past the file-size limit (ulimit -f) would kill the process with SIGXFSZ; with the
// signal ignored the write fails with EFBIG instead and the run ends with "File too large"
// and whole files. A handler the program installed itself is left alone.
void ignoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGXFSZ, SIG_IGN);
    });
}

[[noreturn]] void throwGone(const std::string& path, const char* how) {
    throw RunError("File not found", path + " (" + how + " during the run)");
}

UniqueFd openForWriting(const std::string& path, bool truncate, WrittenFiles* written,
                        std::shared_ptr<WriteTally>* tally = nullptr) {
    ignoreFileSizeSignal();
    // O_NONBLOCK: a FIFO in place of the file must not hold the run at open(); it is cleared
    // again so that writes wait as usual.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (truncate ? O_TRUNC : O_APPEND);
    UniqueFd fd(::open(path.c_str(), flags, 0666));
    if (!fd.valid()) throwIoError(errno, path);
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status >= 0) ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
    std::shared_ptr<WriteTally> t = written ? written->add(fd.get(), path) : nullptr;
    if (tally) *tally = std::move(t);
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

void WrittenFiles::tallyWrites(const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> lock(mutex_);
    tallied_.insert(paths.begin(), paths.end());
}

std::shared_ptr<WriteTally> WrittenFiles::add(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    Record& r = files_[path];
    const bool same = r.dev == st.st_dev && r.ino == st.st_ino;
    if (!tallied_.count(path)) {
        r.tally.reset();
    } else if (!(same && r.tally && r.tally->size() == static_cast<uint64_t>(st.st_size))) {
        r.tally = std::make_shared<WriteTally>();
        if (st.st_size != 0) r.tally->spoil();
    }
    r.dev = st.st_dev;
    r.ino = st.st_ino;
    return r.tally;
}

std::shared_ptr<WriteTally> WrittenFiles::groupTally(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!tallied_.count(key)) return nullptr;
    auto& t = groups_[key];
    t = std::make_shared<WriteTally>();
    return t;
}

void WrittenFiles::renamed(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(from);
    if (it == files_.end()) return;
    Record r = std::move(it->second);
    files_.erase(it);
    files_[to] = std::move(r);
}

bool WrittenFiles::writtenDigest(const std::string& path, FileDigest& out) {
    std::shared_ptr<WriteTally> tally;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto g = groups_.find(path); g != groups_.end()) {
        tally = std::move(g->second);
        groups_.erase(g);
    } else if (auto f = files_.find(path); f != files_.end() && f->second.tally) {
        tally = std::move(f->second.tally);
        struct stat named {};
        if (::stat(path.c_str(), &named) != 0 || named.st_dev != f->second.dev ||
            named.st_ino != f->second.ino || static_cast<uint64_t>(named.st_size) != tally->size())
            return false;
    }
    if (!tally || tally->spoilt()) return false;
    out = tally->finish();
    return true;
}

void WrittenFiles::check() const {
    std::vector<std::pair<std::string, std::pair<dev_t, ino_t>>> files;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        files.reserve(files_.size());
        for (const auto& [path, r] : files_)
            files.push_back({path, {r.dev, r.ino}});
    }
    for (const auto& [path, id] : files) {
        struct stat named {};
        if (::stat(path.c_str(), &named) != 0) throwGone(path, "deleted");
        if (named.st_dev != id.first || named.st_ino != id.second) throwGone(path, "replaced");
    }
}

void createEmptyFile(const std::string& path, WrittenFiles* written) {
    openForWriting(path, true, written);
}

BlockFile::BlockFile(const std::string& path, bool truncate, WrittenFiles* written)
    : path_(path), written_(written) {
    if (path == kStandardOutput) {
        // Standard output as the shell gave it: never truncated, never reopened by name.
        fd_.reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        if (!fd_.valid()) throwIoError(errno, "standard output");
        return;
    }
    fd_ = openForWriting(path, truncate, written_, &tally_);
    if (truncate) {
        // Reopen in append mode so that every block goes to the end.
        fd_.reset();
        fd_ = openForWriting(path, false, written_, &tally_);
    }
}

void BlockFile::write(std::string_view block) {
    if (!fd_.valid() && path_ == kStandardOutput) throwIoError(EBADF, "standard output");
    if (!fd_.valid()) fd_ = openForWriting(path_, false, written_, &tally_);
    struct stat before {};
    const bool known = ::fstat(fd_.get(), &before) == 0;
    if (known && S_ISREG(before.st_mode) && before.st_nlink == 0) throwGone(path_, "deleted");
    // Bytes the tally has not seen (another writer, a cut) leave it behind the file.
    if (tally_ && (!known || static_cast<uint64_t>(before.st_size) != tally_->size()))
        tally_->spoil();
    try {
        writeAll(fd_.get(), block, path_);
    } catch (...) {
        // Take back what reached the file of this block; a device has nothing to cut.
        const bool cut =
            known && S_ISREG(before.st_mode) && ::ftruncate(fd_.get(), before.st_size) == 0;
        if (tally_ && !cut) tally_->spoil();
        throw;
    }
    if (tally_) tally_->add(block);
}

void BlockFile::close() {
    if (const int err = fd_.close()) throwIoError(err, path_);
}

void renameWrittenFile(const std::string& from, const std::string& to, WrittenFiles* written) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int err = errno;
        // The part file gone is the run's own file deleted; anything else is the system's
        // reason for the name it was to take.
        struct stat st {};
        if (err == ENOENT && ::lstat(from.c_str(), &st) != 0) throwGone(from, "deleted");
        throwIoError(err, to);
    }
    if (written) written->renamed(from, to);
}

void writeWholeFile(const std::string& path, std::string_view content, WrittenFiles* written) {
    std::shared_ptr<WriteTally> tally;
    UniqueFd fd = openForWriting(path, true, written, &tally);
    try {
        writeAll(fd.get(), content, path);
    } catch (...) {
        // Half a file would pass for a whole one: leave none.
        fd.reset();
        ::unlink(path.c_str());
        throw;
    }
    if (const int err = fd.close()) {
        ::unlink(path.c_str());
        throwIoError(err, path);
    }
    if (tally) tally->add(content);
}

UniqueFd openRegularFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) throwIoError(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwIoError(errno, path);
    if (S_ISDIR(st.st_mode)) throwIoError(EISDIR, path);
    // A FIFO, a socket or a device (such as /dev/zero) may never end or never answer.
    if (!S_ISREG(st.st_mode))
        throw RunError(ErrorCode::FileAccessDenied, path + " (not a regular file)");
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status >= 0) ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

std::string readWholeFile(const std::string& path, uint64_t maxBytes, const char* what) {
    const UniqueFd fd = openRegularFile(path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwIoError(errno, path);
    auto tooLarge = [&] {
        std::string detail = path + " (more than " + std::to_string(maxBytes) + " bytes";
        if (what) detail += std::string(", ") + what;
        throw RunError("File too large", detail + ")");
    };
    if (static_cast<uint64_t>(st.st_size) > maxBytes) tooLarge();
    std::string out;
    try {
        out.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            ssize_t n = ::read(fd.get(), buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                throwIoError(errno, path);
            }
            if (n == 0) break;
            // The file may have grown since it was measured.
            if (out.size() + static_cast<size_t>(n) > maxBytes) tooLarge();
            out.append(buf, static_cast<size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        throw RunError(ErrorCode::OutOfMemory, path);
    } catch (const std::length_error&) {
        throw RunError(ErrorCode::OutOfMemory, path);
    }
    return out;
}

void createDirectoryIgnoringErrors(const std::string& path) {
    (void)::mkdir(path.c_str(), 0777);
}

} // namespace quenlith
