#include "base/sha256.h"

#include <nettle/sha2.h>

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

} // namespace quenlith
