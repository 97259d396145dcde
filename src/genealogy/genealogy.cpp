#include "genealogy/genealogy.h"
#include "base/limits.h"

#include "base/run_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace quenlith {

void Genealogy::startSample(int32_t k) {
    SampleSize = k;
    Generation = 0;
    CoalEvents.clear();
    MutEvents.clear();
    mutationNodes.clear();
    const size_t nodes = static_cast<size_t>(k) + (k > 0 ? k - 1 : 0);
    leafLo.resize(nodes);
    leafHi.resize(nodes);
    childA.clear();
    childB.clear();
    CoalEvents.reserve(k > 0 ? k - 1 : 0);
    for (int32_t i = 0; i < k; ++i)
        leafLo[i] = leafHi[i] = i;
}

void Genealogy::recordMerge(int32_t generation, int32_t j, LineageOrder& order) {
    const int32_t node = SampleSize + static_cast<int32_t>(CoalEvents.size());
    CoalEvents.push_back({generation, j, j + 1});
    const auto [left, right] = order.merge(j, node);
    childA.push_back(left);
    childB.push_back(right);
    leafLo[node] = leafLo[left];
    leafHi[node] = leafHi[right];
}

bool allMergerPositions(uint32_t* draws, int32_t a, std::vector<int32_t>& positions) {
    positions.clear();
    std::sort(draws, draws + a);
    int32_t distinct = 0;
    for (int32_t i = 0; i < a;) {
        int32_t end = i + 1;
        while (end < a && draws[end] == draws[i])
            ++end;
        positions.insert(positions.end(), static_cast<size_t>(end - i - 1), distinct);
        ++distinct;
        i = end;
    }
    return !positions.empty();
}

void Genealogy::rebuildTree() {
    const int32_t k = SampleSize;
    const size_t events = CoalEvents.size();
    leafLo.resize(static_cast<size_t>(k) + events);
    leafHi.resize(leafLo.size());
    childA.resize(events);
    childB.resize(events);
    LineageOrder order;
    order.reset(k);
    for (int32_t i = 0; i < k; ++i)
        leafLo[i] = leafHi[i] = i;
    for (size_t e = 0; e < events; ++e) {
        const int32_t node = k + static_cast<int32_t>(e);
        const auto [left, right] = order.merge(CoalEvents[e].first, node);
        childA[e] = left;
        childB[e] = right;
        leafLo[node] = leafLo[left];
        leafHi[node] = leafHi[right];
    }
}

int32_t fluctuatedSize(int32_t n, double changePercent, bool singleExpression) {
    long double next;
    if (singleExpression) {
        next = static_cast<long double>(n) +
               static_cast<long double>(changePercent) / 100 * static_cast<long double>(n);
    } else {
        const double d = static_cast<double>(static_cast<long double>(changePercent) / 100 * n);
        next = static_cast<double>(static_cast<long double>(n) + d);
    }
    next = std::trunc(next);
    if (!(next < static_cast<long double>(kLargestCount)))
        return std::numeric_limits<int32_t>::max();
    if (!(next > 0)) return 0;
    return static_cast<int32_t>(next);
}

// ---- mutation draw ----

long double MutationDraw::factorial(int32_t n) {
    if (n <= 1) return 1;
    if (static_cast<size_t>(n) >= factorials_.size()) factorials_.resize(n + 1, 0);
    long double& cached = factorials_[n];
    if (cached == 0) {
        // The product n * (n - 1) * ... * 2, in this order.
        long double f = 1;
        for (int32_t i = n; i >= 2; --i)
            f *= i;
        cached = f;
    }
    return cached;
}

namespace {

// The smallest state x with x * 2^-32 >= P, that is ceil(P * 2^32); the scaling by a power
// of two is exact.
uint64_t stateThreshold(long double any) {
    if (!(any > 0)) return 0;
    if (any >= 1) return uint64_t{1} << 32;
    return static_cast<uint64_t>(std::ceil(any * 4294967296.0L));
}

} // namespace

long double MutationDraw::probabilityOfAny(int32_t a, long double p) {
    return 1 - std::pow(1 - p, static_cast<long double>(a));
}

void MutationDraw::prepare(int32_t a, long double p, bool repeats) {
    if (a == a_ && p == p_) return;
    a_ = a;
    p_ = p;
    rate_ = kNoRate;
    firstKnown_ = false;
    if (!repeats || p != p) {
        any_ = probabilityOfAny(a, p);
        threshold_ = stateThreshold(any_);
        return;
    }
    if (lastKept_ >= kept_.size() || kept_[lastKept_].p != p) {
        constexpr size_t kKeptRates = 8;
        size_t i = 0;
        while (i < kept_.size() && kept_[i].p != p)
            ++i;
        if (i == kept_.size()) {
            if (kept_.size() < kKeptRates) {
                kept_.emplace_back();
            } else {
                i = nextEviction_;
                nextEviction_ = (nextEviction_ + 1) % kKeptRates;
                kept_[i] = KeptRate{};
            }
            kept_[i].p = p;
        }
        lastKept_ = i;
    }
    KeptRate& rate = kept_[lastKept_];
    const size_t index = a < 0 ? 0 : static_cast<size_t>(a);
    if (rate.threshold.size() <= index) {
        rate.threshold.resize(index + 1, kUnknown);
        rate.any.resize(index + 1, 0);
        rate.first.resize(index + 1, 0);
        rate.firstKnown.resize(index + 1, false);
    }
    if (rate.threshold[index] == kUnknown) {
        rate.any[index] = probabilityOfAny(a, p);
        rate.threshold[index] = stateThreshold(rate.any[index]);
    }
    any_ = rate.any[index];
    threshold_ = rate.threshold[index];
    firstKnown_ = rate.firstKnown[index];
    first_ = rate.first[index];
    rate_ = lastKept_;
}

long double MutationDraw::firstTerm() {
    if (!firstKnown_) {
        first_ = binomialTerm(a_, 1, p_);
        firstKnown_ = true;
        if (rate_ != kNoRate) {
            const size_t index = static_cast<size_t>(a_);
            kept_[rate_].first[index] = first_;
            kept_[rate_].firstKnown[index] = true;
        }
    }
    return first_;
}

long double MutationDraw::binomialTerm(int32_t a, int32_t c, long double p) {
    const long double q = 1 - p;
    if (a <= 1754) {
        const long double choose = factorial(a) / (factorial(c) * factorial(a - c));
        return choose * std::pow(p, static_cast<long double>(c)) *
               std::pow(q, static_cast<long double>(a - c));
    }
    // Beyond 1754! the factorials leave the extended range: use log-gamma. The parts that
    // depend on a and p alone are kept for the next event (the same values, recomputed).
    if (p <= 0) return 0;
    if (q <= 0) return c == a ? 1 : 0;
    if (a != logA_ || !(p == logP_)) {
        logA_ = a;
        logP_ = p;
        lgammaA_ = std::lgamma(static_cast<long double>(a) + 1);
        logOfP_ = std::log(p);
        log1mP_ = std::log1p(-p);
    }
    const long double logTerm = lgammaA_ - std::lgamma(static_cast<long double>(c) + 1) -
                                std::lgamma(static_cast<long double>(a - c) + 1) + c * logOfP_ +
                                (a - c) * log1mP_;
    return std::exp(logTerm);
}

// ---- generation loop ----
//
// The plain algorithm, which every path below reproduces: each generation every one of the
// a lineages draws a parent, Random(N), in order; the draws are sorted and the first
// adjacent pair of equal values (the smallest parent drawn more than once) merges the
// lineages at positions j and j + 1, j being the number of draws below that value (under
// MergeRule::All every run of equal values merges, see allMergerPositions); then
// one RandomFloat U and, while U < P - S, one Random(a) per mutation event (P the
// probability of any event, S the binomial terms so far). The rule of every fast path:
// the same draws in the same order, the same events, and the generator left in the same
// state, for every seed. Each path is compared with that plain replay on random inputs
// (tests/genealogy/generation_loop_test.cpp).
//
// Which path runs when (RunRandom only, except where said):
// - Quiet generations: a constant size and rate and rare repeats. A stretch of generations
//   of one lineage count runs at once, up to the first that merges or whose uniform falls
//   below P (the threshold test on the uniform's state needs no extended arithmetic), in
//   stretches of kStopCheckGenerations when a stop flag is given:
//   - a <= kFewLineages (8): pairedQuietGenerations, the draws compared pair by pair on
//     their states (no parent computed unless two states lie within 2^32 / N);
//   - N <= kStampLimit (2^17) and 2 a^2 <= N: stamps, one per parent (2 bytes each,
//     256 KiB at most, in the second-level cache);
//   - N > kStampLimit and a <= kHashedLineages (64): hashed stamps, one per slot of
//     kHashedSlots (2^15 bytes, in the first-level cache), parent v in slot v >> shift. A
//     slot drawn twice is only a candidate (about a^2 / 2^16 of the generations); the
//     generation is then drawn again from its first state and checked exactly.
// - Otherwise generation by generation (a fluctuating size, a per-generation rate, many
//   lineages, the last generation allowed):
//   - a <= 8: the states of the generation straight from its first state, compared pair by
//     pair;
//   - a^2 >= 128 N (repeats certain): repeatBelowCutoff keeps only the draws below
//     c = 32 N^2 / a^2, where about 16 pairs are expected, so that the smallest repeat lies
//     among them in all but about e^-16 of the generations; the generation is drawn again
//     in full only then. The states are scanned eight lanes to a vector (statesBelow),
//     each lane jumping 32 draws a step, since only about 32 N / a of them are kept;
//   - otherwise every draw is stored and checked: a stamp per parent up to 2^17 parents, a
//     bit per parent up to 2^24, a hash table beyond.
//   Any other generator (StreamRandom) takes these paths with its draws made one by one.
// - The mutation count: the probability of any event and its state threshold are kept per
//   rate and lineage count (MutationDraw::prepare); a rate drawn afresh every generation
//   (gamma) is compared first with the bound a p >= P, so that P itself, in extended
//   precision, is worked out only for the uniforms that can lie below it.
// - MergeRule::All: every path above tells whether a generation repeats a parent; one that
//   does is drawn again from its first state in full (RunRandom's quiet paths step back
//   the a + 1 draws of the generation) and its sets of equal parents found by sorting.
// - Lineages are found by position and merged in O(log k) (LineageOrder: a bit per slot of
//   the sample and a Fenwick tree of the counts of 64 slots, small enough for the
//   second-level cache at k = 10^6).
//
// Tuning constants: kStampLimit and kHashedSlots from the cache sizes (a 2-byte stamp per
// parent fits the second-level cache up to 2^17 parents; 2^15 one-byte stamps fill the
// 32 KiB first-level data cache); kHashedLineages keeps candidates of the hashed stamps
// rare (below 1/16 of the generations); 128 N and c = 32 N^2 / a^2 from the expected
// number of pairs below the cutoff (a^2 c / 2 N^2). The figures of the paths are in
// bench/README.md (scenarios S1, G1 to G3).

void LineageOrder::reset(int32_t k) {
    size_ = k;
    blocks_ = (k + 63) / 64;
    occupied_.assign(static_cast<size_t>(blocks_), ~uint64_t{0});
    if (k % 64 != 0) occupied_.back() = (uint64_t{1} << (k % 64)) - 1;
    count_.assign(static_cast<size_t>(blocks_) + 1, 0);
    for (int32_t b = 1; b <= blocks_; ++b) {
        count_[b] += b < blocks_ || k % 64 == 0 ? 64 : k % 64;
        const int32_t parent = b + (b & -b);
        if (parent <= blocks_) count_[parent] += count_[b];
    }
    top_ = 1;
    while (top_ * 2 <= blocks_)
        top_ *= 2;
    nodes_.resize(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        nodes_[i] = i;
}

namespace {

// The position of the set bit of w with r set bits below it (r < the bits set).
inline int32_t selectBit(uint64_t w, int32_t r) {
    uint64_t c = w - ((w >> 1) & 0x5555555555555555ull);
    c = (c & 0x3333333333333333ull) + ((c >> 2) & 0x3333333333333333ull);
    c = (c + (c >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    const uint64_t prefix = c * 0x0101010101010101ull; // byte i: the bits set in bytes 0..i
    int32_t byte = 0;
    while (static_cast<int32_t>((prefix >> (8 * byte)) & 0xFF) <= r)
        ++byte;
    if (byte > 0) r -= static_cast<int32_t>((prefix >> (8 * (byte - 1))) & 0xFF);
    uint32_t bits = static_cast<uint32_t>(w >> (8 * byte)) & 0xFF;
    for (; r > 0; --r)
        bits &= bits - 1;
    return 8 * byte + __builtin_ctz(bits);
}

} // namespace

int32_t LineageOrder::slotAt(int32_t position) const {
    // The block holding the lineage: the largest prefix of blocks with at most `position`
    // lineages; then the bit within it.
    int32_t block = 0, left = position;
    for (int32_t step = top_; step > 0; step /= 2) {
        const int32_t next = block + step;
        if (next <= blocks_ && count_[next] <= left) {
            block = next;
            left -= count_[next];
        }
    }
    return 64 * block + selectBit(occupied_[block], left);
}

std::pair<int32_t, int32_t> LineageOrder::merge(int32_t j, int32_t node) {
    const int32_t leftSlot = slotAt(j);
    const int32_t rightSlot = slotAt(j + 1);
    const std::pair<int32_t, int32_t> merged{nodes_[leftSlot], nodes_[rightSlot]};
    nodes_[leftSlot] = node;
    occupied_[rightSlot / 64] &= ~(uint64_t{1} << (rightSlot % 64));
    for (int32_t b = rightSlot / 64 + 1; b <= blocks_; b += b & -b)
        --count_[b];
    return merged;
}

namespace {

// Up to this many lineages the parents are compared pair by pair.
constexpr int32_t kFewLineages = 8;

// Up to this many parents, repeats are found with a stamp per parent.
constexpr uint32_t kStampLimit = 1u << 17;

// Beyond kStampLimit parents the quiet generations of up to kHashedLineages lineages share
// kHashedSlots one-byte stamps.
constexpr uint32_t kHashedSlots = 1u << 15;
constexpr int32_t kHashedLineages = 64;

// Parent values are below 2^31, so the largest uint32_t means "no repeat".
constexpr uint32_t kNoRepeat = std::numeric_limits<uint32_t>::max();

// The index, in ascending order, of the first occurrence of `value` among the draws: the
// number of draws below it; -1 when there is no repeat.
inline int32_t firstOccurrence(const uint32_t* draws, int32_t a, uint32_t value) {
    if (value == kNoRepeat) return -1;
    int32_t j = 0;
    for (int32_t i = 0; i < a; ++i)
        j += draws[i] < value;
    return j;
}

// j of the first occurrence, in ascending order, of the smallest value drawn more than
// once, or -1 when all values differ.
inline int32_t firstRepeatAmongFew(const uint32_t* v, int32_t a) {
    bool repeated = false;
    for (int32_t i = 1; i < a; ++i)
        for (int32_t m = 0; m < i; ++m)
            repeated |= v[i] == v[m];
    if (!repeated) return -1;
    uint32_t smallestTwice = kNoRepeat;
    for (int32_t i = 1; i < a; ++i)
        for (int32_t m = 0; m < i; ++m)
            if (v[i] == v[m]) smallestTwice = std::min(smallestTwice, v[i]);
    return firstOccurrence(v, a, smallestTwice);
}

// The parents of A lineages, A known here: every state of the generation comes straight
// from its first one and the values are compared pair by pair.
template <int32_t A> int32_t fewParents(RunRandom& rng, int32_t n) {
    static_assert(A <= kFewLineages);
    uint32_t parents[A];
    RandomMany(rng, n, A, parents);
    return firstRepeatAmongFew(parents, A);
}

// Quiet generations: with a constant size and rate, the generations of one lineage count
// are run at once up to the first that records a coalescence or whose uniform falls below
// P, or up to `limit`. Each generation draws Random(n) for the a parents, then the
// RandomFloat of the mutation count; the states of a generation come straight from its
// first state, so one generation waits on the one before by a single multiply-add.

// Quiet generations of A lineages, A known here, taken G at a time (the states of all G
// come from the first state, so even the generations do not wait on each other). Two
// draws can give one parent only if their states differ by less than 2^32 / n, which needs
// no multiplication to test; the parents are computed only when that happens.
template <int32_t A, int32_t G>
QuietRun pairedQuietGenerations(uint32_t s, int32_t generation, int32_t limit, int32_t n,
                                uint64_t threshold) {
    static_assert(A <= kFewLineages && G * (A + 1) <= DrawJumps::kMax);
    const uint64_t range = static_cast<uint32_t>(n);
    const uint32_t window = static_cast<uint32_t>(((uint64_t{1} << 32) + range - 1) / range);
    while (limit - generation >= G) {
        // The loops are unrolled whatever the optimisation level, so that every state and
        // pair stays in a register.
        uint32_t st[G][A + 1];
        bool candidate[G], mutates[G];
        bool any = false;
#pragma GCC unroll 4
        for (int32_t g = 0; g < G; ++g) {
#pragma GCC unroll 16
            for (int32_t i = 0; i <= A; ++i) {
                const int32_t draws = g * (A + 1) + i + 1;
                st[g][i] = kDrawJumps.mul[draws] * s + kDrawJumps.add[draws];
            }
            candidate[g] = false;
#pragma GCC unroll 16
            for (int32_t i = 1; i < A; ++i)
#pragma GCC unroll 16
                for (int32_t m = 0; m < i; ++m)
                    candidate[g] |=
                        static_cast<uint32_t>(st[g][i] - st[g][m] + (window - 1)) < 2 * window - 1;
            mutates[g] = st[g][A] < threshold;
            any |= candidate[g] || mutates[g];
        }
        if (any) [[unlikely]] {
            for (int32_t g = 0; g < G; ++g) {
                int32_t j = -1;
                if (candidate[g]) {
                    uint32_t parents[A];
                    for (int32_t i = 0; i < A; ++i)
                        parents[i] = drawnValue(st[g][i], range);
                    j = firstRepeatAmongFew(parents, A);
                }
                if (j >= 0 || mutates[g])
                    return {st[g][A], generation + g + 1, j, true, mutates[g]};
            }
        }
        s = st[G - 1][A];
        generation += G;
    }
    if constexpr (G > 1) return pairedQuietGenerations<A, 1>(s, generation, limit, n, threshold);
    return {s, generation, -1, false, false};
}

// The two paths of A <= kFewLineages lineages, chosen once per lineage count from one table.
struct FewLineagePaths {
    QuietRun (*quiet)(uint32_t s, int32_t generation, int32_t limit, int32_t n, uint64_t threshold);
    int32_t (*parents)(RunRandom& rng, int32_t n);
};

// Two and three lineages take two generations at a time (measured faster), more one.
template <int32_t A> constexpr FewLineagePaths pathsOf() {
    return {&pairedQuietGenerations<A, (A <= 3 ? 2 : 1)>, &fewParents<A>};
}

constexpr FewLineagePaths kFewLineagePaths[kFewLineages + 1] = {
    {nullptr, nullptr}, {nullptr, nullptr}, pathsOf<2>(), pathsOf<3>(), pathsOf<4>(),
    pathsOf<5>(),       pathsOf<6>(),       pathsOf<7>(), pathsOf<8>()};

// The cutoff below which the smallest repeat of a draws from n parents is looked for when
// a^2 >= 128 n: about 16 pairs are expected below it, and it is at most n / 4.
uint32_t repeatCutoff(int32_t a, int32_t n) {
    const double nn = static_cast<double>(n);
    const double aa = static_cast<double>(a);
    return static_cast<uint32_t>(std::max(1.0, 32 * nn * nn / (aa * aa)));
}

bool manyLineages(int32_t a, int32_t n) {
    return n >= 2 && static_cast<int64_t>(a) * a >= 128 * static_cast<int64_t>(n);
}

enum class QuietPath { None, Paired, Stamped, Hashed };

QuietPath quietPathFor(int32_t a, int32_t n) {
    if (a <= kFewLineages) return QuietPath::Paired;
    if (static_cast<uint32_t>(n) <= kStampLimit)
        return 2 * static_cast<int64_t>(a) * a <= n ? QuietPath::Stamped : QuietPath::None;
    return a <= kHashedLineages ? QuietPath::Hashed : QuietPath::None;
}

} // namespace

uint16_t GenealogySimulator::nextStampEpoch(uint32_t range) {
    if (stamps_.size() < range) stamps_.resize(range, 0);
    if (++stampEpoch_ == 0) {
        std::fill(stamps_.begin(), stamps_.end(), 0);
        stampEpoch_ = 1;
    }
    return stampEpoch_;
}

uint32_t GenealogySimulator::smallestRepeated(const uint32_t* draws, int32_t a, uint32_t range) {
    const uint16_t epoch = nextStampEpoch(range);
    uint16_t* stamps = stamps_.data();
    uint32_t smallest = kNoRepeat;
    for (int32_t i = 0; i < a; ++i) {
        const uint32_t v = draws[i];
        if (stamps[v] == epoch) smallest = std::min(smallest, v);
        stamps[v] = epoch;
    }
    return smallest;
}

uint32_t GenealogySimulator::smallestRepeatedHashed(const uint32_t* draws, int32_t a) {
    size_t size = 16;
    while (size < static_cast<size_t>(a) * 2)
        size *= 2;
    if (hashSlots_.size() < size) {
        hashSlots_.assign(size, 0);
        hashStamp_ = 0;
    }
    size = hashSlots_.size();
    if (++hashStamp_ == 0) {
        std::fill(hashSlots_.begin(), hashSlots_.end(), 0);
        hashStamp_ = 1;
    }
    const uint64_t stamp = static_cast<uint64_t>(hashStamp_) << 32;
    const size_t mask = size - 1;
    uint32_t smallestTwice = kNoRepeat;
    for (int32_t i = 0; i < a; ++i) {
        const uint32_t v = draws[i];
        size_t slot = ((static_cast<uint64_t>(v) * 0x9E3779B97F4A7C15ull) >> 32) & mask;
        for (;;) {
            const uint64_t entry = hashSlots_[slot];
            if ((entry & 0xFFFFFFFF00000000ull) != stamp) {
                hashSlots_[slot] = stamp | v;
                break;
            }
            if (static_cast<uint32_t>(entry) == v) {
                smallestTwice = std::min(smallestTwice, v);
                break;
            }
            slot = (slot + 1) & mask;
        }
    }
    return smallestTwice;
}

uint32_t GenealogySimulator::smallestRepeatedAny(const uint32_t* draws, int32_t a, uint32_t range) {
    if (range <= kStampLimit) return smallestRepeated(draws, a, range);
    // Up to 2^24 parents a bit per parent (2 MiB), cleared after the generation; a hash
    // table beyond.
    constexpr uint32_t kBitLimit = 1u << 24;
    if (range > kBitLimit) return smallestRepeatedHashed(draws, a);
    uint32_t smallestTwice = kNoRepeat;
    const size_t words = (range + 63) / 64;
    if (seenBits_.size() < words) seenBits_.resize(words, 0);
    uint64_t* bits = seenBits_.data();
    for (int32_t i = 0; i < a; ++i) {
        const uint32_t v = draws[i];
        const uint64_t mask = uint64_t{1} << (v & 63);
        uint64_t& word = bits[v >> 6];
        const uint32_t candidate = std::min(smallestTwice, v);
        smallestTwice = (word & mask) ? candidate : smallestTwice;
        word |= mask;
    }
    for (int32_t i = 0; i < a; ++i)
        bits[draws[i] >> 6] = 0;
    return smallestTwice;
}

template <bool Hashed>
QuietRun GenealogySimulator::stampedQuietGenerations(uint32_t s, int32_t generation, int32_t limit,
                                                     int32_t a, int32_t n, uint64_t threshold) {
    using Stamp = std::conditional_t<Hashed, uint8_t, uint16_t>;
    const uint64_t range = static_cast<uint32_t>(n);
    parents_.resize(static_cast<size_t>(a));
    // Exact: a stamp per parent. Hashed: parent v has the stamp of slot v >> shift.
    uint32_t shift = 0;
    Stamp* stamps;
    size_t slots;
    Stamp epoch;
    if constexpr (Hashed) {
        while (((range - 1) >> shift) >= kHashedSlots)
            ++shift;
        if (hashedStamps_.size() < kHashedSlots) hashedStamps_.assign(kHashedSlots, 0);
        stamps = hashedStamps_.data();
        slots = hashedStamps_.size();
        epoch = hashedEpoch_;
    } else {
        epoch = nextStampEpoch(static_cast<uint32_t>(n));
        stamps = stamps_.data();
        slots = stamps_.size();
    }
    while (generation < limit) {
        ++generation;
        if (++epoch == 0) [[unlikely]] {
            std::fill(stamps, stamps + slots, 0);
            epoch = 1;
        }
        const uint32_t first = s;
        bool repeated = false;
        s = forEachRunState(s, a, [&](int32_t, uint32_t state) {
            const uint32_t slot = drawnValue(state, range) >> shift;
            repeated |= stamps[slot] == epoch;
            stamps[slot] = epoch;
        });
        s = kDrawJumps.mul[1] * s + kDrawJumps.add[1]; // the uniform
        const bool mutates = s < threshold;
        if (repeated || mutates) [[unlikely]] {
            int32_t j = -1;
            if (repeated) {
                // Draw the generation's parents again to find the smallest repeated one
                // (with hashed stamps, whether one repeats at all).
                if constexpr (Hashed) {
                    hashedEpoch_ = epoch;
                } else {
                    stampEpoch_ = epoch;
                }
                RunRandom again(first);
                RandomMany(again, n, a, parents_.data());
                const uint32_t smallest =
                    Hashed ? smallestRepeatedHashed(parents_.data(), a)
                           : smallestRepeated(parents_.data(), a, static_cast<uint32_t>(n));
                j = firstOccurrence(parents_.data(), a, smallest);
                if constexpr (!Hashed) epoch = stampEpoch_;
            }
            if (j >= 0 || mutates) {
                if constexpr (Hashed) {
                    hashedEpoch_ = epoch;
                } else {
                    stampEpoch_ = epoch;
                }
                return {s, generation, j, true, mutates};
            }
        }
    }
    if constexpr (Hashed) {
        hashedEpoch_ = epoch;
    } else {
        stampEpoch_ = epoch;
    }
    return {s, generation, -1, false, false};
}

int32_t GenealogySimulator::repeatAmongLow(const uint32_t* low, int32_t count, uint32_t cutoff) {
    // Every draw below the smallest repeated value is below the cutoff, so j counts them.
    return firstOccurrence(low, count, smallestRepeatedAny(low, count, cutoff));
}

namespace {

// The jump of `draws` draws of the run generator: s -> mul * s + add.
struct Jump {
    uint32_t mul, add;
};
constexpr Jump jumpOf(int32_t draws) {
    Jump j{1, 0};
    for (int32_t i = 0; i < draws; ++i)
        j = {j.mul * kDrawJumps.mul[1], j.add * kDrawJumps.mul[1] + kDrawJumps.add[1]};
    return j;
}

// Lanes of 32-bit states, as many as the widest vector unit the build targets holds.
typedef uint32_t StateLanes __attribute__((vector_size(32)));
constexpr int32_t kLanes = 8;
constexpr int32_t kVectors = 4; // independent vectors, so that the multiplies overlap
constexpr int32_t kStride = kLanes * kVectors;

// The states below `stateCutoff` among those of `count` draws after s, stored in `out`
// (in no particular order); returns how many. The states go kStride at a time, lane l of
// vector v holding draw v * kLanes + l of the stride, each lane advanced by the jump of
// kStride draws. A chunk of kChunk strides only keeps the smallest state of every lane;
// the rare chunk with a state below the cutoff is gone through again lane by lane. Built
// for AVX2 too, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
int32_t
statesBelow(uint32_t s, int32_t count, uint32_t stateCutoff, uint32_t* out) {
    constexpr int32_t kChunk = 8;
    constexpr int32_t kChunkDraws = kChunk * kStride;
    int32_t kept = 0;
    int32_t done = 0;
    if (count >= kChunkDraws) {
        StateLanes lanes[kVectors];
        uint32_t st = s;
        for (int32_t v = 0; v < kVectors; ++v)
            for (int32_t l = 0; l < kLanes; ++l) {
                st = kDrawJumps.mul[1] * st + kDrawJumps.add[1];
                lanes[v][l] = st;
            }
        constexpr Jump stride = jumpOf(kStride);
        for (; done + kChunkDraws <= count; done += kChunkDraws) {
            StateLanes start[kVectors];
            StateLanes smallest = lanes[0];
            for (int32_t v = 0; v < kVectors; ++v)
                start[v] = lanes[v];
            for (int32_t c = 0; c < kChunk; ++c)
                for (int32_t v = 0; v < kVectors; ++v) {
                    smallest = lanes[v] < smallest ? lanes[v] : smallest;
                    lanes[v] = lanes[v] * stride.mul + stride.add;
                }
            uint32_t least = smallest[0];
            for (int32_t l = 1; l < kLanes; ++l)
                least = std::min(least, static_cast<uint32_t>(smallest[l]));
            if (least < stateCutoff) [[unlikely]] {
                for (int32_t c = 0; c < kChunk; ++c)
                    for (int32_t v = 0; v < kVectors; ++v) {
                        for (int32_t l = 0; l < kLanes; ++l) {
                            out[kept] = start[v][l];
                            kept += start[v][l] < stateCutoff;
                        }
                        start[v] = start[v] * stride.mul + stride.add;
                    }
            }
        }
        s = runStateAfter(s, static_cast<uint64_t>(done));
    }
    forEachRunState(s, count - done, [&](int32_t, uint32_t state) {
        out[kept] = state;
        kept += state < stateCutoff;
    });
    return kept;
}

} // namespace

int32_t GenealogySimulator::repeatBelowCutoff(RunRandom& rng, int32_t a, int32_t n) {
    // Among a draws from n parents about a^2 / (2 n) pairs share a parent, spread evenly
    // over the parents, so the smallest repeated parent lies far below n. Only the draws
    // below the cutoff are kept; a repeat among them is the smallest repeat of all the
    // draws.
    const uint32_t cutoff = repeatCutoff(a, n);
    const uint64_t range = static_cast<uint32_t>(n);
    // A draw is below the cutoff exactly when its state is below ceil(c 2^32 / n) (at most
    // 2^30, as c <= n / 4), so the value needs computing only for the draws that are kept.
    const uint32_t stateCutoff =
        static_cast<uint32_t>(((uint64_t{cutoff} << 32) + range - 1) / range);
    uint32_t* low = parents_.data();
    const uint32_t s = rng.state();
    const int32_t count = statesBelow(s, a, stateCutoff, low);
    for (int32_t i = 0; i < count; ++i)
        low[i] = drawnValue(low[i], range);
    rng.setState(runStateAfter(s, static_cast<uint64_t>(a)));
    return repeatAmongLow(low, count, cutoff);
}

int32_t GenealogySimulator::drawParents(RunRandom& rng, int32_t a, int32_t n) {
    parents_.resize(static_cast<size_t>(a));
    // Many more lineages than the square root of the parents: repeats are certain, and the
    // smallest is found among the few smallest draws. Should none of those repeat, the
    // generation is drawn again below from the same state.
    if (manyLineages(a, n)) {
        const RunRandom start = rng;
        const int32_t j = repeatBelowCutoff(rng, a, n);
        if (j >= 0) return j;
        rng = start;
    }
    uint32_t* draws = parents_.data();
    const uint32_t range = n < 1 ? 1u : static_cast<uint32_t>(n);
    if (range > kStampLimit) {
        RandomMany(rng, n, a, draws);
        return firstOccurrence(draws, a, smallestRepeatedAny(draws, a, range));
    }
    // Up to kStampLimit parents every parent holds the number of the last generation that
    // drew it, so nothing needs clearing between generations and the draws are checked as
    // they are made.
    const uint16_t epoch = nextStampEpoch(range);
    uint16_t* stamps = stamps_.data();
    const uint64_t values = n > 0 ? static_cast<uint32_t>(n) : 0; // Random(n <= 0) is 0
    uint32_t smallestTwice = kNoRepeat;
    rng.setState(forEachRunState(rng.state(), a, [&](int32_t i, uint32_t state) {
        const uint32_t v = drawnValue(state, values);
        draws[i] = v;
        if (stamps[v] == epoch) smallestTwice = std::min(smallestTwice, v);
        stamps[v] = epoch;
    }));
    return firstOccurrence(draws, a, smallestTwice);
}

int32_t GenealogySimulator::repeatAmongDraws(const uint32_t* draws, int32_t a, int32_t n) {
    if (manyLineages(a, n)) {
        const uint32_t cutoff = repeatCutoff(a, n);
        low_.clear();
        for (int32_t i = 0; i < a; ++i)
            if (draws[i] < cutoff) low_.push_back(draws[i]);
        const int32_t j = repeatAmongLow(low_.data(), static_cast<int32_t>(low_.size()), cutoff);
        if (j >= 0) return j;
    }
    const uint32_t range = n < 1 ? 1u : static_cast<uint32_t>(n);
    return firstOccurrence(draws, a, smallestRepeatedAny(draws, a, range));
}

template <typename Rng>
void GenealogySimulator::simulate(Genealogy& g, int32_t k, int32_t& popSize,
                                  const Demography& demography, const MutationProbability& mutation,
                                  Rng& rng, const std::function<void()>& onCoalescence,
                                  const std::atomic<bool>* stop) {
    // The run generator's own algebra (states computed ahead, draws taken back) serves only
    // RunRandom; any other generator draws one number after the other.
    constexpr bool kCongruential = std::is_same_v<Rng, RunRandom>;
    g.startSample(k);
    lineageOrder_.reset(k);

    // The loop draws from a copy of the generator that never leaves this function, so its
    // state stays in a register; the copy is written back before anything else draws.
    Rng local = rng;
    const bool perGeneration = static_cast<bool>(mutation.perGeneration);
    long double p = mutation.constant;
    int32_t lineages = k;
    int32_t generation = 0;
    auto onMutation = [&](int32_t position) {
        g.MutEvents.push_back({generation, position});
        g.mutationNodes.push_back(lineageOrder_.nodeAt(position));
    };
    if (!perGeneration) mutationDraw_.prepare(lineages, p, true);
    while (lineages > 1) {
        int32_t j = -1;
        const QuietPath quiet = kCongruential && !perGeneration && !demography.fluctuating &&
                                        popSize >= 2 && generation < lastGeneration
                                    ? quietPathFor(lineages, popSize)
                                    : QuietPath::None;
        if (quiet != QuietPath::None) {
            if constexpr (kCongruential) {
                // A constant size and rate, and repeats are rare: run the quiet generations,
                // in stretches short enough for the stop flag to be seen.
                const int32_t stretchEnd =
                    stop ? static_cast<int32_t>(std::min<int64_t>(
                               lastGeneration, int64_t{generation} + kStopCheckGenerations))
                         : lastGeneration;
                const uint32_t s = local.state();
                const uint64_t threshold = mutationDraw_.anyThreshold();
                QuietRun end;
                if (quiet == QuietPath::Paired)
                    end = kFewLineagePaths[lineages].quiet(s, generation, stretchEnd, popSize,
                                                           threshold);
                else if (quiet == QuietPath::Stamped)
                    end = stampedQuietGenerations<false>(s, generation, stretchEnd, lineages,
                                                         popSize, threshold);
                else
                    end = stampedQuietGenerations<true>(s, generation, stretchEnd, lineages,
                                                        popSize, threshold);
                local.setState(end.state);
                generation = end.generation;
                if (!end.stopped) {
                    // At the end of a stretch, or at the last generation: the next pass stops
                    // the run there.
                    if (stop && stop->load(std::memory_order_relaxed)) throw RunStopped();
                    continue;
                }
                j = end.j;
                if (j >= 0 && mergers == MergeRule::All) {
                    // The generation's parents again, from its first state: a + 1 draws
                    // back (the congruence has period 2^32).
                    RunRandom again(runStateAfter(
                        end.state, (uint64_t{1} << 32) - static_cast<uint64_t>(lineages) - 1));
                    parents_.resize(static_cast<size_t>(lineages));
                    RandomMany(again, popSize, lineages, parents_.data());
                    allMergerPositions(parents_.data(), lineages, mergePositions_);
                }
                if (end.mutates) mutationDraw_.drawEvents(local, end.state * 0x1p-32L, onMutation);
            }
        } else {
            if (demography.fluctuating && demography.growthStart < generation &&
                generation < demography.growthEnd)
                popSize =
                    fluctuatedSize(popSize, demography.changePercent, demography.singleExpression);
            if (generation >= lastGeneration)
                throw RunError("Range check error", "the genealogy passed generation " +
                                                        std::to_string(lastGeneration) + " with " +
                                                        std::to_string(lineages) +
                                                        " lineages left (population size " +
                                                        std::to_string(popSize) + ")");
            ++generation;
            if (stop && generation % kStopCheckGenerations == 0 &&
                stop->load(std::memory_order_relaxed))
                throw RunStopped();

            const bool all = mergers == MergeRule::All;
            if constexpr (kCongruential) {
                const uint32_t first = local.state();
                j = lineages <= kFewLineages ? kFewLineagePaths[lineages].parents(local, popSize)
                                             : drawParents(local, lineages, popSize);
                if (j >= 0 && all) {
                    // The paths keep only what the first merge needs: draw the parents again.
                    RunRandom again(first);
                    parents_.resize(static_cast<size_t>(lineages));
                    RandomMany(again, popSize, lineages, parents_.data());
                    allMergerPositions(parents_.data(), lineages, mergePositions_);
                }
            } else if (lineages <= kFewLineages) {
                uint32_t parents[kFewLineages];
                for (int32_t i = 0; i < lineages; ++i)
                    parents[i] = static_cast<uint32_t>(local.Random(popSize));
                j = firstRepeatAmongFew(parents, lineages);
                if (j >= 0 && all) allMergerPositions(parents, lineages, mergePositions_);
            } else {
                parents_.resize(static_cast<size_t>(lineages));
                for (int32_t i = 0; i < lineages; ++i)
                    parents_[i] = static_cast<uint32_t>(local.Random(popSize));
                if (all)
                    j = allMergerPositions(parents_.data(), lineages, mergePositions_) ? 0 : -1;
                else
                    j = repeatAmongDraws(parents_.data(), lineages, popSize);
            }

            if (perGeneration) {
                rng = local;
                p = mutation.perGeneration();
                local = rng;
                mutationDraw_.drawFresh(local, lineages, p, onMutation);
            } else {
                mutationDraw_.drawPrepared(local, onMutation);
            }
        }

        if (j >= 0) {
            if (mergers == MergeRule::All) {
                for (const int32_t position : mergePositions_)
                    g.recordMerge(generation, position, lineageOrder_);
                lineages -= static_cast<int32_t>(mergePositions_.size());
            } else {
                g.recordMerge(generation, j, lineageOrder_);
                --lineages;
            }
            if (!perGeneration) mutationDraw_.prepare(lineages, p, true);
            if (onCoalescence) {
                g.Generation = generation;
                rng = local;
                onCoalescence();
            }
        }
    }
    g.Generation = generation;
    rng = local;
}

template void GenealogySimulator::simulate<RunRandom>(Genealogy&, int32_t, int32_t&,
                                                      const Demography&, const MutationProbability&,
                                                      RunRandom&, const std::function<void()>&,
                                                      const std::atomic<bool>*);
template void GenealogySimulator::simulate<StreamRandom>(Genealogy&, int32_t, int32_t&,
                                                         const Demography&,
                                                         const MutationProbability&, StreamRandom&,
                                                         const std::function<void()>&,
                                                         const std::atomic<bool>*);
template void GenealogySimulator::simulate<PlainRunRandom>(
    Genealogy&, int32_t, int32_t&, const Demography&, const MutationProbability&, PlainRunRandom&,
    const std::function<void()>&, const std::atomic<bool>*);

} // namespace quenlith
