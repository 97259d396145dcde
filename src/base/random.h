#pragma once
// The two kinds of random numbers of a run.
//
// RunRandom, the default: a 32-bit linear congruential generator, one object per run,
// passed by reference to everything that draws. Every draw first advances the state.
//
// StreamRandom: one stream per simulation, so that simulations are independent of each other:
// a PCG32 generator keyed per stream by counter-based Philox4x32-10 (Random123). Both form
// Random(n) and RandomFloat from a 32-bit word in the same way; state() is the word of the
// last draw.
#include <Random123/philox.h>
#include <pcg_random.hpp>

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

// Jump-ahead constants of the run generator: j draws take the state s to
// mul[j] * s + add[j], with mul[j] = A^j and add[j] = A^(j-1) + ... + A + 1 for the
// congruence state := state * A + 1, A = 134775813. The states of several draws can so be
// computed from one state at once instead of one after the other.
struct DrawJumps {
    static constexpr int32_t kMax = 16;
    uint32_t mul[kMax + 1];
    uint32_t add[kMax + 1];
};
inline constexpr DrawJumps kDrawJumps = [] {
    constexpr uint32_t kMultiplier = 134775813u, kIncrement = 1u;
    DrawJumps t{};
    t.mul[0] = 1;
    t.add[0] = 0;
    for (int32_t j = 1; j <= DrawJumps::kMax; ++j) {
        t.mul[j] = t.mul[j - 1] * kMultiplier;
        t.add[j] = t.add[j - 1] * kMultiplier + kIncrement;
    }
    return t;
}();

// The state of the run generator `count` draws after state s (any count >= 0), by squaring
// the jump: log2(count) steps.
inline uint32_t runStateAfter(uint32_t s, uint64_t count) {
    uint32_t mul = kDrawJumps.mul[1], add = kDrawJumps.add[1];
    while (count > 0) {
        if (count & 1) s = mul * s + add;
        add = mul * add + add;
        mul *= mul;
        count >>= 1;
    }
    return s;
}

// The value of Random(n) drawn at `state` (the state after the draw's advance), range = n
// for n > 0 and 0 otherwise.
inline uint32_t drawnValue(uint32_t state, uint64_t range) {
    return static_cast<uint32_t>((state * range) >> 32);
}

// The block loop of the run generator: calls f(i, state) for the states of draws
// i = 0 .. count - 1 after state s, in order, and returns the state after the last. The
// draws go in blocks of eight whose states all come from the block's first state, so that
// they do not wait on each other.
template <typename F> inline uint32_t forEachRunState(uint32_t s, int32_t count, F&& f) {
    constexpr int32_t kBlock = 8;
    int32_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
#pragma GCC unroll 8
        for (int32_t b = 0; b < kBlock; ++b)
            f(i + b, kDrawJumps.mul[b + 1] * s + kDrawJumps.add[b + 1]);
        s = kDrawJumps.mul[kBlock] * s + kDrawJumps.add[kBlock];
    }
    const int32_t rest = count - i;
    for (int32_t b = 0; b < rest; ++b)
        f(i + b, kDrawJumps.mul[b + 1] * s + kDrawJumps.add[b + 1]);
    return kDrawJumps.mul[rest] * s + kDrawJumps.add[rest];
}

// `count` successive draws of rng.Random(n), stored in out[0 .. count - 1]: the same values
// in the same order, and the generator left in the same state, as `count` calls.
inline void RandomMany(RunRandom& rng, int32_t n, int32_t count, uint32_t* out) {
    const uint64_t range = n > 0 ? static_cast<uint32_t>(n) : 0; // Random(n <= 0) is 0
    rng.setState(forEachRunState(
        rng.state(), count, [&](int32_t i, uint32_t state) { out[i] = drawnValue(state, range); }));
}

// Stream `stream` of a run keyed by a 64-bit seed. The stream's key comes from a
// counter-based generator: the Philox4x32-10 block with key (seed low, seed high) and counter
// (0, 0, 0, stream), whose four words give the state (words 0, 1) and the increment (words
// 2, 3) of a PCG32 generator (O'Neill's pcg32, 64-bit state, 32-bit words), whose words are
// the stream's. Each simulation's stream so has a random state on a random sequence of its
// own, and a draw costs one 64-bit multiply-add, as the default generator's does.
class StreamRandom {
  public:
    StreamRandom(uint64_t seed, uint32_t stream) {
        using Philox = r123::Philox4x32_R<10>;
        const Philox::key_type key = {
            {static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)}};
        const Philox::ctr_type ctr = {{0, 0, 0, stream}};
        const Philox::ctr_type out = Philox()(ctr, key);
        const uint64_t state = uint64_t{out.v[1]} << 32 | out.v[0];
        const uint64_t sequence = uint64_t{out.v[3]} << 32 | out.v[2];
        pcg_ = pcg32(state, sequence);
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
    void advance() {
        word_ = pcg_();
        ++drawn_;
    }
    pcg32 pcg_;
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
