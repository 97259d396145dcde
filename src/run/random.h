#pragma once
// The run generator: a 32-bit linear congruential generator, one object per run, passed by
// reference to everything that draws. Every draw first advances the state.
#include <cstdint>

namespace quenlith {

class RunRandom {
  public:
    explicit RunRandom(uint32_t seed = 0) : seed_(seed) {}

    // Uniform integer in 0 .. n - 1 (0 for n <= 0): high 32 bits of state * n.
    int32_t Random(int32_t n) {
        advance();
        if (n <= 0) return 0;
        return static_cast<int32_t>((static_cast<uint64_t>(seed_) * static_cast<uint32_t>(n)) >>
                                    32);
    }

    // Uniform real in [0, 1): state * 2^-32 (exact in double and long double).
    long double RandomFloat() {
        advance();
        return static_cast<long double>(seed_) * 0x1p-32L;
    }

    uint32_t state() const { return seed_; }
    void setState(uint32_t s) { seed_ = s; }

  private:
    void advance() { seed_ = seed_ * 134775813u + 1u; }
    uint32_t seed_;
};

// Seed from the high-resolution clock (low 32 bits of its counter).
uint32_t clockSeed();

} // namespace quenlith
