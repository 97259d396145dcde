#include "genealogy/genealogy.h"

#include "base/run_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace quenlith {

void Genealogy::rebuildTree() {
    const int32_t k = SampleSize;
    const size_t events = CoalEvents.size();
    leafLo.resize(static_cast<size_t>(k) + events);
    leafHi.resize(leafLo.size());
    childA.resize(events);
    childB.resize(events);
    std::vector<int32_t> positions(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i) {
        positions[i] = i;
        leafLo[i] = leafHi[i] = i;
    }
    for (size_t e = 0; e < events; ++e) {
        const int32_t j = CoalEvents[e].first;
        const int32_t node = k + static_cast<int32_t>(e);
        childA[e] = positions[j];
        childB[e] = positions[j + 1];
        leafLo[node] = leafLo[childA[e]];
        leafHi[node] = leafHi[childB[e]];
        positions[j] = node;
        positions.erase(positions.begin() + j + 1);
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
    if (!(next < 2147483647.0L)) return std::numeric_limits<int32_t>::max();
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
    // Beyond 1754! the factorials leave the extended range: use log-gamma.
    if (p <= 0) return 0;
    if (q <= 0) return c == a ? 1 : 0;
    const long double logTerm = std::lgamma(static_cast<long double>(a) + 1) -
                                std::lgamma(static_cast<long double>(c) + 1) -
                                std::lgamma(static_cast<long double>(a - c) + 1) + c * std::log(p) +
                                (a - c) * std::log1p(-p);
    return std::exp(logTerm);
}

// ---- generation loop ----

namespace {

// Up to this many lineages the parents are compared pair by pair.
constexpr int32_t kFewLineages = 8;

// Up to this many parents, repeats are found with a stamp per parent (2 bytes each, so
// that the stamps stay in the processor's second-level cache).
constexpr uint32_t kStampLimit = 1u << 17;

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
template <int32_t A> inline int32_t fewParents(RunRandom& rng, int32_t n) {
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

// Up to this many lineages the quiet generations compare the draws pair by pair.
constexpr int32_t kPairLineages = 8;

// Quiet generations of A lineages, A known here, taken G at a time (the states of all G
// come from the first state, so even the generations do not wait on each other). Two
// draws can give one parent only if their states differ by less than 2^32 / n, which needs
// no multiplication to test; the parents are computed only when that happens.
template <int32_t A, int32_t G>
QuietRun pairedQuietGenerations(uint32_t s, int32_t generation, int32_t limit, int32_t n,
                                uint64_t threshold) {
    static_assert(A <= kPairLineages && G * (A + 1) <= DrawJumps::kMax);
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

QuietRun GenealogySimulator::stampedQuietGenerations(uint32_t s, int32_t generation, int32_t limit,
                                                     int32_t a, int32_t n, uint64_t threshold) {
    const uint64_t range = static_cast<uint32_t>(n);
    parents_.resize(static_cast<size_t>(a));
    uint16_t epoch = nextStampEpoch(static_cast<uint32_t>(n));
    uint16_t* stamps = stamps_.data();
    constexpr int32_t kBlock = 8;
    const int32_t fullBlocks = a / kBlock;
    const int32_t rest = a % kBlock;
    while (generation < limit) {
        ++generation;
        if (++epoch == 0) [[unlikely]] {
            std::fill(stamps_.begin(), stamps_.end(), 0);
            epoch = 1;
        }
        const uint32_t first = s;
        bool repeated = false;
        auto check = [&](uint32_t state) {
            const uint32_t v = drawnValue(state, range);
            repeated |= stamps[v] == epoch;
            stamps[v] = epoch;
        };
        for (int32_t i = 0; i < fullBlocks; ++i) {
#pragma GCC unroll 8
            for (int32_t b = 0; b < kBlock; ++b)
                check(kDrawJumps.mul[b + 1] * s + kDrawJumps.add[b + 1]);
            s = kDrawJumps.mul[kBlock] * s + kDrawJumps.add[kBlock];
        }
        for (int32_t b = 0; b < rest; ++b)
            check(kDrawJumps.mul[b + 1] * s + kDrawJumps.add[b + 1]);
        // The last state of the parents, then the uniform.
        s = kDrawJumps.mul[rest + 1] * s + kDrawJumps.add[rest + 1];
        const bool mutates = s < threshold;
        if (repeated || mutates) [[unlikely]] {
            stampEpoch_ = epoch;
            int32_t j = -1;
            if (repeated) {
                // Draw the generation's parents again to find the smallest repeated one.
                RunRandom again(first);
                RandomMany(again, n, a, parents_.data());
                j = firstOccurrence(parents_.data(), a,
                                    smallestRepeated(parents_.data(), a, static_cast<uint32_t>(n)));
            }
            return {s, generation, j, true, mutates};
        }
    }
    stampEpoch_ = epoch;
    return {s, generation, -1, false, false};
}

int32_t GenealogySimulator::repeatBelowCutoff(RunRandom& rng, int32_t a, int32_t n) {
    // Among a draws from n parents about a^2 / (2 n) pairs share a parent, spread evenly
    // over the parents, so the smallest repeated parent lies far below n: below the
    // cutoff c = 8 n^2 / a^2 about four pairs are expected. Only the draws below c are
    // kept; a repeat among them is the smallest repeat of all the draws, and every draw
    // below it is among them.
    const double nn = static_cast<double>(n);
    const double aa = static_cast<double>(a);
    const uint64_t cutoff = static_cast<uint64_t>(std::max(1.0, 8 * nn * nn / (aa * aa)));
    const uint64_t range = static_cast<uint32_t>(n);
    // A draw is below the cutoff exactly when its state is below ceil(c 2^32 / n), so the
    // value needs computing only for the draws that are kept.
    const uint64_t stateCutoff = ((cutoff << 32) + range - 1) / range;
    uint32_t* low = parents_.data();
    int32_t count = 0;
    constexpr int32_t kBlock = 8;
    uint32_t s = rng.state();
    for (int32_t i = 0; i < a; i += kBlock) {
        const int32_t m = a - i < kBlock ? a - i : kBlock;
        for (int32_t b = 0; b < m; ++b) {
            const uint32_t state = kDrawJumps.mul[b + 1] * s + kDrawJumps.add[b + 1];
            if (state < stateCutoff) [[unlikely]]
                low[count++] = drawnValue(state, range);
        }
        s = kDrawJumps.mul[m] * s + kDrawJumps.add[m];
    }
    rng.setState(s);
    std::sort(low, low + count);
    for (int32_t i = 0; i + 1 < count; ++i)
        if (low[i] == low[i + 1]) return i;
    return -1;
}

uint32_t GenealogySimulator::smallestRepeatedLarge(const uint32_t* draws, int32_t a,
                                                   uint32_t range) {
    // Up to 2^24 parents a bit per parent (2 MiB), cleared after the generation; a hash table
    // beyond.
    constexpr uint32_t kBitLimit = 1u << 24;
    uint32_t smallestTwice = kNoRepeat;
    if (range <= kBitLimit) {
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
    } else {
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
    }
    return smallestTwice;
}

int32_t GenealogySimulator::repeatAmongDraws(uint32_t* draws, int32_t a, int32_t n) {
    const uint32_t range = n < 1 ? 1u : static_cast<uint32_t>(n);
    if (n >= 1 && static_cast<int64_t>(a) * a >= 128 * static_cast<int64_t>(n)) {
        // As in repeatBelowCutoff: the smallest repeat is nearly always among the few
        // smallest draws.
        const double nn = static_cast<double>(n);
        const double aa = static_cast<double>(a);
        const uint64_t cutoff = static_cast<uint64_t>(std::max(1.0, 8 * nn * nn / (aa * aa)));
        low_.clear();
        for (int32_t i = 0; i < a; ++i)
            if (draws[i] < cutoff) low_.push_back(draws[i]);
        std::sort(low_.begin(), low_.end());
        for (size_t i = 0; i + 1 < low_.size(); ++i)
            if (low_[i] == low_[i + 1]) return static_cast<int32_t>(i);
    }
    const uint32_t smallest = range <= kStampLimit ? smallestRepeated(draws, a, range)
                                                   : smallestRepeatedLarge(draws, a, range);
    return firstOccurrence(draws, a, smallest);
}

int32_t GenealogySimulator::drawParents(RunRandom& rng, int32_t a, int32_t n) {
    parents_.resize(static_cast<size_t>(a));
    // Many more lineages than the square root of the parents: repeats are certain, and the
    // smallest is found among the few smallest draws. Should none of those repeat, the
    // generation is drawn again below from the same state.
    if (n >= 1 && static_cast<int64_t>(a) * a >= 128 * static_cast<int64_t>(n)) {
        const RunRandom start = rng;
        const int32_t j = repeatBelowCutoff(rng, a, n);
        if (j >= 0) return j;
        rng = start;
    }
    uint32_t* draws = parents_.data();
    const uint32_t range = n < 1 ? 1u : static_cast<uint32_t>(n);
    uint32_t smallestTwice = kNoRepeat;

    // Up to kStampLimit parents every parent holds the number of the last generation that drew
    // it, so nothing needs clearing between generations and the draws are checked as they
    // are made; beyond, a bit per parent or a hash table.
    if (range <= kStampLimit) {
        const uint16_t epoch = nextStampEpoch(range);
        uint16_t* stamps = stamps_.data();
        const uint64_t values = n > 0 ? static_cast<uint32_t>(n) : 0; // Random(n <= 0) is 0
        constexpr int32_t kBlock = 8;
        uint32_t s = rng.state();
        for (int32_t i = 0; i < a; i += kBlock) {
            const int32_t m = a - i < kBlock ? a - i : kBlock;
            for (int32_t b = 0; b < m; ++b) {
                const uint32_t v =
                    drawnValue(kDrawJumps.mul[b + 1] * s + kDrawJumps.add[b + 1], values);
                draws[i + b] = v;
                if (stamps[v] == epoch) smallestTwice = std::min(smallestTwice, v);
                stamps[v] = epoch;
            }
            s = kDrawJumps.mul[m] * s + kDrawJumps.add[m];
        }
        rng.setState(s);
    } else {
        RandomMany(rng, n, a, draws);
        smallestTwice = smallestRepeatedLarge(draws, a, range);
    }
    return firstOccurrence(draws, a, smallestTwice);
}

QuietRun GenealogySimulator::quietGenerations(uint32_t s, int32_t generation, int32_t limit,
                                              int32_t a, int32_t n, uint64_t threshold) {
    switch (a) {
    case 2:
        return pairedQuietGenerations<2, 2>(s, generation, limit, n, threshold);
    case 3:
        return pairedQuietGenerations<3, 2>(s, generation, limit, n, threshold);
    case 4:
        return pairedQuietGenerations<4, 1>(s, generation, limit, n, threshold);
    case 5:
        return pairedQuietGenerations<5, 1>(s, generation, limit, n, threshold);
    case 6:
        return pairedQuietGenerations<6, 1>(s, generation, limit, n, threshold);
    case 7:
        return pairedQuietGenerations<7, 1>(s, generation, limit, n, threshold);
    case 8:
        return pairedQuietGenerations<8, 1>(s, generation, limit, n, threshold);
    default:
        return stampedQuietGenerations(s, generation, limit, a, n, threshold);
    }
}

int32_t GenealogySimulator::congruentialParents(RunRandom& rng, int32_t a, int32_t n) {
    switch (a) {
    case 2:
        return fewParents<2>(rng, n);
    case 3:
        return fewParents<3>(rng, n);
    case 4:
        return fewParents<4>(rng, n);
    case 5:
        return fewParents<5>(rng, n);
    case 6:
        return fewParents<6>(rng, n);
    case 7:
        return fewParents<7>(rng, n);
    case 8:
        return fewParents<8>(rng, n);
    default:
        return drawParents(rng, a, n);
    }
}

template <typename Rng>
void GenealogySimulator::simulate(Genealogy& g, int32_t k, int32_t& popSize,
                                  const Demography& demography, const MutationProbability& mutation,
                                  Rng& rng, const std::function<void()>& onCoalescence,
                                  const std::atomic<bool>* stop) {
    // The run generator's own algebra (states computed ahead, draws taken back) serves only
    // RunRandom; any other generator draws one number after the other.
    constexpr bool kCongruential = std::is_same_v<Rng, RunRandom>;
    g.SampleSize = k;
    g.Generation = 0;
    g.CoalEvents.clear();
    g.MutEvents.clear();
    g.mutationNodes.clear();
    const size_t nodes = static_cast<size_t>(k) + (k > 0 ? k - 1 : 0);
    g.leafLo.resize(nodes);
    g.leafHi.resize(nodes);
    g.childA.clear();
    g.childB.clear();
    g.CoalEvents.reserve(k > 0 ? k - 1 : 0);
    positions_.resize(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i) {
        positions_[i] = i;
        g.leafLo[i] = g.leafHi[i] = i;
    }

    // The loop draws from a copy of the generator that never leaves this function, so its
    // state stays in a register; the copy is written back before anything else draws.
    Rng local = rng;
    const bool perGeneration = static_cast<bool>(mutation.perGeneration);
    long double p = mutation.constant;
    int32_t lineages = k;
    int32_t generation = 0;
    auto onMutation = [&](int32_t position) {
        g.MutEvents.push_back({generation, position});
        g.mutationNodes.push_back(positions_[position]);
    };
    if (!perGeneration) mutationDraw_.prepare(lineages, p, true);
    while (lineages > 1) {
        int32_t j = -1;
        const bool quiet = kCongruential && !perGeneration && !demography.fluctuating &&
                           popSize >= 2 && generation < lastGeneration &&
                           (lineages <= kPairLineages ||
                            (static_cast<uint32_t>(popSize) <= kStampLimit &&
                             2 * static_cast<int64_t>(lineages) * lineages <= popSize));
        if (quiet) {
            if constexpr (kCongruential) {
                // A constant size and rate, and repeats are rare: run the quiet generations,
                // in stretches short enough for the stop flag to be seen.
                const int32_t stretchEnd =
                    stop ? static_cast<int32_t>(std::min<int64_t>(
                               lastGeneration, int64_t{generation} + kStopCheckGenerations))
                         : lastGeneration;
                const QuietRun end =
                    quietGenerations(local.state(), generation, stretchEnd, lineages, popSize,
                                     mutationDraw_.anyThreshold());
                local.setState(end.state);
                generation = end.generation;
                if (!end.stopped) {
                    // At the end of a stretch, or at the last generation: the next pass stops
                    // the run there.
                    if (stop && stop->load(std::memory_order_relaxed)) throw RunStopped();
                    continue;
                }
                j = end.j;
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

            if constexpr (kCongruential) {
                j = congruentialParents(local, lineages, popSize);
            } else if (lineages <= kFewLineages) {
                uint32_t parents[kFewLineages];
                for (int32_t i = 0; i < lineages; ++i)
                    parents[i] = static_cast<uint32_t>(local.Random(popSize));
                j = firstRepeatAmongFew(parents, lineages);
            } else {
                parents_.resize(static_cast<size_t>(lineages));
                for (int32_t i = 0; i < lineages; ++i)
                    parents_[i] = static_cast<uint32_t>(local.Random(popSize));
                j = repeatAmongDraws(parents_.data(), lineages, popSize);
            }

            if (perGeneration) {
                rng = local;
                p = mutation.perGeneration();
                local = rng;
                mutationDraw_.prepare(lineages, p, false);
            }
            mutationDraw_.drawPrepared(local, onMutation);
        }

        if (j >= 0) {
            const int32_t e = static_cast<int32_t>(g.CoalEvents.size());
            const int32_t node = k + e;
            g.CoalEvents.push_back({generation, j, j + 1});
            const int32_t left = positions_[j];
            const int32_t right = positions_[j + 1];
            g.childA.push_back(left);
            g.childB.push_back(right);
            g.leafLo[node] = g.leafLo[left];
            g.leafHi[node] = g.leafHi[right];
            positions_[j] = node;
            positions_.erase(positions_.begin() + j + 1);
            --lineages;
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
