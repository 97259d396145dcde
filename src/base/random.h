#pragma once
// The two kinds of random numbers of a run.
//
// RunRandom, the default: a 32-bit linear congruential generator, one object per run,
// passed by reference to everything that draws. Every draw first advances the state.
//
// StreamRandom: counter-based streams (Random123's Philox4x32-10), one stream per
// simulation, so that simulations are independent of each other. Both form Random(n) and
// RandomFloat from a 32-bit word in the same way; state() is the word of the last draw.
#include <Random123/philox.h>

#include <cstdint>

namespace quenlith {

// The kind of random numbers of a run: the 32-bit generator (the default), or independent
// counter-based streams, one per simulation.
enum class RandomKind { Lcg, Streams };

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

// Counter-based stream `stream` of a run keyed by a 64-bit seed. Its words are those of
// Philox4x32-10 with key (seed low, seed high) and counter (block low, block high, 0, stream),
// for block = 0, 1, 2, ..., four words a block, in order.
class StreamRandom {
  public:
    StreamRandom(uint64_t seed, uint32_t stream) {
        key_ = {{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)}};
        ctr_ = {{0, 0, 0, stream}};
    }

    int32_t Random(int32_t n) {
        advance();
        if (n <= 0) return 0;
        return static_cast<int32_t>((static_cast<uint64_t>(word_) * static_cast<uint32_t>(n)) >>
                                    32);
    }

    long double RandomFloat() {
        advance();
        return static_cast<long double>(word_) * 0x1p-32L;
    }

    // The word of the last draw (0 before the first).
    uint32_t state() const { return word_; }
    // Words drawn so far.
    uint64_t drawn() const { return drawn_; }

  private:
    using Philox = r123::Philox4x32_R<10>;
    void advance() {
        const uint32_t i = static_cast<uint32_t>(drawn_ & 3);
        if (i == 0) {
            const uint64_t block = drawn_ >> 2;
            ctr_.v[0] = static_cast<uint32_t>(block);
            ctr_.v[1] = static_cast<uint32_t>(block >> 32);
            block_ = Philox()(ctr_, key_);
        }
        word_ = block_.v[i];
        ++drawn_;
    }
    Philox::key_type key_;
    Philox::ctr_type ctr_;
    Philox::ctr_type block_{};
    uint64_t drawn_ = 0;
    uint32_t word_ = 0;
};

// The run generator seen only through its draws: the same numbers as RunRandom, but a type
// of its own, so that code templated on the generator takes the paths meant for any
// generator (the tests compare those with RunRandom's).
class PlainRunRandom {
  public:
    explicit PlainRunRandom(uint32_t seed = 0) : rng_(seed) {}
    int32_t Random(int32_t n) { return rng_.Random(n); }
    long double RandomFloat() { return rng_.RandomFloat(); }
    uint32_t state() const { return rng_.state(); }

  private:
    RunRandom rng_;
};

// Seed from the high-resolution clock (low 32 bits of its counter).
uint32_t clockSeed();

} // namespace quenlith
