#include "base/convert.h"
#include "base/random.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace quenlith;

TEST(RunRandom, FirstDrawsFollowTheCongruence) {
    // Values worked out by hand from state := state * 134775813 + 1 (mod 2^32).
    RunRandom rng(7);
    EXPECT_EQ(rng.Random(100), 21);
    EXPECT_EQ(rng.state(), 943430692u);
    EXPECT_EQ(rng.Random(10000), 8390);
    EXPECT_EQ(rng.Random(4), 1);
    EXPECT_EQ(rng.Random(1000000), 694963);
    EXPECT_EQ(rng.state(), 2984843699u);

    RunRandom zero(0);
    EXPECT_EQ(zero.Random(0), 0); // Random(0) still advances the state
    EXPECT_EQ(zero.state(), 1u);
    EXPECT_EQ(zero.RandomFloat(), 134775814.0L / 4294967296.0L);
    EXPECT_EQ(zero.state(), 134775814u);
    zero.Random(1);
    EXPECT_EQ(zero.state(), 3698175007u);
}

TEST(RunRandom, RangeIsRespected) {
    RunRandom rng(12345);
    for (int i = 0; i < 100000; ++i) {
        int32_t v = rng.Random(7);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 7);
        long double f = rng.RandomFloat();
        ASSERT_GE(f, 0.0L);
        ASSERT_LT(f, 1.0L);
    }
}

TEST(LenientInt, DecimalHexadecimalAndStops) {
    EXPECT_EQ(lenientInt("50"), 50);
    EXPECT_EQ(lenientInt("25 samples"), 25);
    EXPECT_EQ(lenientInt("12abc"), 12);
    EXPECT_EQ(lenientInt("abc"), 0);
    EXPECT_EQ(lenientInt(""), 0);
    EXPECT_EQ(lenientInt("   -42"), -42);
    EXPECT_EQ(lenientInt("+7"), 7);
    EXPECT_EQ(lenientInt("$1F"), 31);
    EXPECT_EQ(lenientInt("x10"), 16);
    EXPECT_EQ(lenientInt("X10"), 16);
    EXPECT_EQ(lenientInt("0x1f"), 31);
    EXPECT_EQ(lenientInt("0XFFg"), 255);
    EXPECT_EQ(lenientInt("-$10"), -16);
    EXPECT_EQ(lenientInt("2147483647"), 2147483647);
    EXPECT_EQ(lenientInt("2147483648"), 214748364); // stops before passing the range
    EXPECT_EQ(lenientInt("99999999999"), 999999999);
    EXPECT_EQ(lenientInt("$FFFFFFFF"), 0x0FFFFFFF);
    EXPECT_EQ(lenientInt("\t5"), 0); // only spaces are skipped
    EXPECT_EQ(lenientInt("1e3"), 1);
    EXPECT_EQ(lenientInt("3.9"), 3);
}

TEST(LenientReal, LongestValidPrefix) {
    EXPECT_DOUBLE_EQ(lenientDouble("0.25"), 0.25);
    EXPECT_DOUBLE_EQ(lenientDouble("3e-6xyz"), 0.000003);
    EXPECT_DOUBLE_EQ(lenientDouble("1e"), 1);
    EXPECT_DOUBLE_EQ(lenientDouble("1e+"), 1);
    EXPECT_DOUBLE_EQ(lenientDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(lenientDouble("5."), 5);
    EXPECT_DOUBLE_EQ(lenientDouble("abc"), 0);
    EXPECT_DOUBLE_EQ(lenientDouble(""), 0);
    EXPECT_DOUBLE_EQ(lenientDouble("."), 0);
    EXPECT_DOUBLE_EQ(lenientDouble("  -2.5E2"), -250);
    EXPECT_DOUBLE_EQ(lenientDouble("+1.5"), 1.5);
    EXPECT_DOUBLE_EQ(lenientDouble("0,5"), 0); // "." is the only decimal point
    EXPECT_DOUBLE_EQ(lenientDouble("1,5"), 1);
    EXPECT_TRUE(std::isinf(lenientDouble("1e999")));
    EXPECT_EQ(lenientDouble("1e-999"), 0);
}

TEST(LenientReal, ExtendedKeepsTheRateExactly) {
    // The rate is converted straight to extended precision, not through a double.
    EXPECT_EQ(lenientExtended("0.0000001"), 0.0000001L);
    EXPECT_NE(static_cast<long double>(0.0000001), 0.0000001L);
    EXPECT_EQ(lenientDouble("0.1"), 0.1);
}

// A stream's words are those of PCG32 whose state and increment are the Philox4x32-10 block
// of key (seed low, seed high) and counter (0, 0, 0, stream): the libraries' known answers
// (Random123's zero block, PCG's demonstration sequence for state 42 on sequence 54), and
// the composition over many seeds, streams and draws.
TEST(StreamRandom, WordsAreThoseOfPcg32KeyedByPhilox) {
    using Philox = r123::Philox4x32_R<10>;
    const Philox::ctr_type zeroBlock =
        Philox()(Philox::ctr_type{{0, 0, 0, 0}}, Philox::key_type{{0, 0}});
    const uint32_t known[4] = {0x6627e8d5u, 0xe169c58du, 0xbc57ac4cu, 0x9b00dbd8u};
    for (int j = 0; j < 4; ++j)
        EXPECT_EQ(zeroBlock.v[j], known[j]);
    pcg32 demo(42u, 54u);
    for (uint32_t w :
         {0xa15c02b7u, 0x7b47f409u, 0xba1d3330u, 0x83d2f293u, 0xbfa4784bu, 0xcbed606eu})
        EXPECT_EQ(demo(), w);
    RunRandom pick(99);
    for (int trial = 0; trial < 20; ++trial) {
        const uint64_t seed = trial == 0 ? 0
                                         : (static_cast<uint64_t>(pick.Random(1 << 30)) << 34) ^
                                               static_cast<uint64_t>(trial);
        const uint32_t stream = trial == 0 ? 0 : static_cast<uint32_t>(pick.Random(2147483647));
        StreamRandom rng(seed, stream);
        const Philox::ctr_type block = Philox()(
            Philox::ctr_type{{0, 0, 0, stream}},
            Philox::key_type{{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)}});
        pcg32 words(uint64_t{block.v[1]} << 32 | block.v[0],
                    uint64_t{block.v[3]} << 32 | block.v[2]);
        for (int i = 0; i < 1200; ++i) {
            const uint32_t w = words();
            const int32_t n = 1 + pick.Random(1000000);
            const int32_t v = rng.Random(n);
            ASSERT_EQ(rng.state(), w) << "trial " << trial << " draw " << i;
            ASSERT_EQ(v, static_cast<int32_t>((uint64_t{w} * static_cast<uint32_t>(n)) >> 32));
        }
        EXPECT_EQ(rng.drawn(), 1200u);
    }
}
