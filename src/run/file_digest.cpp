#include "run/file_digest.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <cerrno>
#include <nettle/sha2.h>
#include <unistd.h>

namespace quenlith {

struct Sha256::State {
    sha256_ctx ctx;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    sha256_init(&state_->ctx);
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    sha256_update(&state_->ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
}

std::string Sha256::hex() {
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&state_->ctx, sizeof digest, digest); // also starts afresh
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : digest) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

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
