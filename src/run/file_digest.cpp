#include "run/file_digest.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <cerrno>
#include <unistd.h>

namespace quenlith {

FileDigest digestFile(const std::string& path, const std::atomic<bool>* stop) {
    const UniqueFd fd = openRegularFile(path);
    FileDigest d;
    Sha256 hash;
    std::string block(1 << 20, '\0');
    for (;;) {
        if (stop && stop->load()) throw RunStopped();
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throwIoError(errno, path);
        }
        if (n == 0) break;
        hash.update(std::string_view(block.data(), static_cast<size_t>(n)));
        d.size += static_cast<uint64_t>(n);
    }
    d.sha256 = hash.hex();
    return d;
}

} // namespace quenlith
