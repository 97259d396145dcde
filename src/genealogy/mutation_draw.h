#pragma once
#include "base/random.h"

#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

namespace quenlith {

// Binomial count of mutation events per generation by inversion: one RandomFloat U, then
// one Random(a) per event while U < P - S, with P = 1 - (1 - p)^a the probability of at
// least one event and S the sum of the binomial terms of the events so far.

// P = 1 - (1 - p)^a.
long double probabilityOfAny(int32_t a, long double p);
// C(a, c) p^c (1 - p)^(a - c): by factorials up to a = 1754, by log-gamma beyond (where the
// factorials leave the extended range).
long double binomialTerm(int32_t a, int32_t c, long double p);

// What the draw needs of one lineage count a and probability p.
struct PreparedRate {
    int32_t a = 0;
    long double p = 0;
    long double any = 0;    // P
    uint64_t threshold = 0; // ceil(P * 2^32): U = state * 2^-32 is below P exactly when the
                            // state is below it, for every generator whose uniform is its
                            // 32-bit word times 2^-32
    long double first = 0;  // the binomial term of one event, when firstKnown
    bool firstKnown = false;

    bool uniformBelowAny(uint32_t uniformState) const { return uniformState < threshold; }
};

// P and its threshold for a and p; the first term is left to the draw.
PreparedRate prepareRate(int32_t a, long double p);

// The binomial terms of one generation's events. Beyond a = 1754 the parts that depend on a
// and p alone (log-gamma of a + 1, log p, log(1 - p)) are worked out once for all the events.
class BinomialTerms {
  public:
    explicit BinomialTerms(const PreparedRate& rate) : rate_(rate) {}
    long double term(int32_t c);

  private:
    const PreparedRate& rate_;
    bool logsKnown_ = false;
    long double lgammaA_ = 0, logOfP_ = 0, log1mP_ = 0;
};

// The events that follow a uniform U for the rate: calls onEvent(position) per event, in
// draw order.
template <typename Rng, typename OnEvent>
void drawEvents(Rng& rng, long double u, const PreparedRate& rate, OnEvent&& onEvent) {
    BinomialTerms terms(rate);
    long double s = 0;
    for (int32_t c = 1; c <= rate.a && u < rate.any - s; ++c) {
        onEvent(rng.Random(rate.a));
        s += c == 1 && rate.firstKnown ? rate.first : terms.term(c);
    }
}

// One generation's events for a prepared rate: one RandomFloat U, then the events.
template <typename Rng, typename OnEvent>
void drawPrepared(Rng& rng, const PreparedRate& rate, OnEvent&& onEvent) {
    const long double u = rng.RandomFloat();
    // Most generations have no event; they need no extended arithmetic.
    if (!rate.uniformBelowAny(rng.state())) return;
    drawEvents(rng, u, rate, onEvent);
}

// Whether U = state * 2^-32 lies at least two units of 2^-32 above a p, for 0 <= p <= 1
// and a >= 1. The margin covers the rounding of a p in double (below 2^-20 units) and
// that of the extended P (forming 1 - p rounds by at most 2^-64, which the power turns into
// at most a 2^-64, below half a unit for every 32-bit a), so U >= P then holds for that P too.
inline bool aboveBound(uint32_t uniformState, int32_t a, long double p) {
    if (!(p >= 0 && p <= 1) || a < 1) return false;
    const double bound = static_cast<double>(a) * static_cast<double>(p) * 4294967296.0;
    return static_cast<double>(uniformState) >= bound + 2;
}

// One generation's events for a probability p drawn afresh this generation: the same draws
// and events as drawPrepared(rng, prepareRate(a, p), onEvent). P never exceeds a p, so a
// uniform well above a p has no event and needs no power: P is worked out only for the
// uniforms that can lie below it.
template <typename Rng, typename OnEvent>
void drawFresh(Rng& rng, int32_t a, long double p, OnEvent&& onEvent) {
    const long double u = rng.RandomFloat();
    if (aboveBound(rng.state(), a, p)) return;
    const PreparedRate rate = prepareRate(a, p);
    if (!rate.uniformBelowAny(rng.state())) return;
    drawEvents(rng, u, rate, onEvent);
}

// The prepared rates of the probabilities that come back (a constant rate, the loci of a
// parameter file), per lineage count, with their first terms: at most 8 probabilities, the
// oldest replaced first.
class PreparedRates {
  public:
    PreparedRate get(int32_t a, long double p);

  private:
    static constexpr uint64_t kUnknown = ~uint64_t{0};
    // What is kept of one lineage count (the rate's a and p are known from its place).
    struct KeptCount {
        long double any = 0, first = 0;
        uint64_t threshold = kUnknown;
    };
    struct Kept {
        long double p = 0;
        std::vector<KeptCount> perCount; // index a
    };
    std::vector<Kept> kept_;
    size_t last_ = 0, nextEviction_ = 0;
};

// A mutation probability drawn afresh every generation (gamma rate variation), from the
// generator the generation loop passes: the loop's own, at the point of the draw. Built from
// one callable that takes any of the run's generators (a generic lambda), held once per
// generator type.
class PerGenerationRate {
  public:
    PerGenerationRate() = default;
    template <typename Draw>
    requires(!std::is_same_v<std::decay_t<Draw>, PerGenerationRate>) PerGenerationRate(Draw draw)
        : lcg_(draw), streams_(draw), plain_(draw) {}
    explicit operator bool() const { return static_cast<bool>(lcg_); }
    long double operator()(RunRandom& rng) const { return lcg_(rng); }
    long double operator()(StreamRandom& rng) const { return streams_(rng); }
    long double operator()(PlainRunRandom& rng) const { return plain_(rng); }

  private:
    std::function<long double(RunRandom&)> lcg_;
    std::function<long double(StreamRandom&)> streams_;
    std::function<long double(PlainRunRandom&)> plain_;
};

// Per-generation mutation probability: a constant, or a fresh draw every generation before
// the mutation count.
struct MutationProbability {
    long double constant = 0;
    PerGenerationRate perGeneration; // empty: use constant
    // The law behind perGeneration when it is gamma rate variation of a sequence: the
    // probability 1 - (1 - min(1, u G / alpha))^length with G ~ Gamma(alpha, 1). The event-driven
    // engine draws from it directly to skip the generations without a mutation.
    struct GammaRates {
        double alpha = 0;
        long double u = 0;
        int32_t length = 0;
        bool known() const { return alpha > 0 && length > 0 && u > 0; }
    } gamma;
};

} // namespace quenlith
