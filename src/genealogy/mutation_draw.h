#pragma once
#include "base/random.h"

#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

namespace quenlith {

// Binomial count of mutation events per generation by inversion. The probability of at
// least one event is computed once per lineage count and rate: a rate that repeats (a
// constant rate, the loci of a parameter file) keeps its table from call to call.
class MutationDraw {
  public:
    // Sets the lineage count a and the per-lineage probability p of the draws that follow.
    // `repeats` says that p will come back, so that its table is worth keeping.
    void prepare(int32_t a, long double p, bool repeats);

    // One generation's events for the prepared a and p: one RandomFloat U, then the
    // events. Calls onEvent(position) for each event, in draw order.
    template <typename Rng, typename OnEvent> void drawPrepared(Rng& rng, OnEvent&& onEvent) {
        const long double u = rng.RandomFloat();
        // Most generations have no event; they need no extended arithmetic.
        if (!uniformBelowAny(rng.state())) return;
        drawEvents(rng, u, onEvent);
    }

    // U = state * 2^-32 is below P exactly when the state is below ceil(P * 2^32); this
    // holds for every generator whose uniform is its 32-bit word times 2^-32.
    bool uniformBelowAny(uint32_t uniformState) const { return uniformState < threshold_; }
    uint64_t anyThreshold() const { return threshold_; }

    // The events that follow a uniform U: one Random(a) per event while U < P - S, with S
    // the sum of the binomial terms of the events so far.
    template <typename Rng, typename OnEvent>
    void drawEvents(Rng& rng, long double u, OnEvent&& onEvent) {
        long double s = 0;
        for (int32_t c = 1; c <= a_ && u < any_ - s; ++c) {
            onEvent(rng.Random(a_));
            s += c == 1 ? firstTerm() : binomialTerm(a_, c, p_);
        }
    }

    // One generation's events for a probability p drawn afresh this generation: the same
    // draws and events as draw(rng, a, p, onEvent). P = 1 - (1 - p)^a never exceeds a p,
    // so a uniform well above a p has no event and needs no power: P is worked out only
    // for the uniforms that can lie below it.
    template <typename Rng, typename OnEvent>
    void drawFresh(Rng& rng, int32_t a, long double p, OnEvent&& onEvent) {
        const long double u = rng.RandomFloat();
        if (aboveBound(rng.state(), a, p)) return;
        prepare(a, p, false);
        if (!uniformBelowAny(rng.state())) return;
        drawEvents(rng, u, onEvent);
    }

    // Whether U = state * 2^-32 lies at least two units of 2^-32 above a p, for 0 <= p <= 1
    // and a >= 1. The margin covers the rounding of a p in double (below 2^-20 units) and
    // that of the extended P of prepare (forming 1 - p rounds by at most 2^-64, which the
    // power turns into at most a 2^-64, below half a unit for every 32-bit a), so U >= P
    // then holds for that P too.
    static bool aboveBound(uint32_t uniformState, int32_t a, long double p) {
        if (!(p >= 0 && p <= 1) || a < 1) return false;
        const double bound = static_cast<double>(a) * static_cast<double>(p) * 4294967296.0;
        return static_cast<double>(uniformState) >= bound + 2;
    }

    // prepare and drawPrepared for one generation.
    template <typename Rng, typename OnEvent>
    void draw(Rng& rng, int32_t a, long double p, OnEvent&& onEvent) {
        prepare(a, p, false);
        drawPrepared(rng, onEvent);
    }

    // P = 1 - (1 - p)^a, the probability of at least one event.
    long double probabilityOfAny(int32_t a, long double p);
    // C(a, c) p^c (1 - p)^(a - c).
    long double binomialTerm(int32_t a, int32_t c, long double p);

  private:
    static constexpr uint64_t kUnknown = ~uint64_t{0};
    // What is kept of one rate, per lineage count.
    struct KeptRate {
        long double p = 0;
        std::vector<long double> any;    // P
        std::vector<uint64_t> threshold; // ceil(P * 2^32), or kUnknown
        std::vector<long double> first;  // the term of one event
        std::vector<bool> firstKnown;
    };
    long double factorial(int32_t n);
    // The binomial term of one event for the prepared a and p, computed once per rate.
    long double firstTerm();

    int32_t a_ = -1;
    long double p_ = -1;
    long double any_ = 0;
    uint64_t threshold_ = 0;
    long double first_ = 0;
    bool firstKnown_ = false;
    static constexpr size_t kNoRate = ~size_t{0};
    size_t rate_ = kNoRate; // index in kept_ of the rate of a_ and p_, if it is kept
    std::vector<KeptRate> kept_;
    size_t lastKept_ = 0, nextEviction_ = 0;
    std::vector<long double> factorials_; // 0 marks "not yet computed"
    // lgamma(a + 1), log(p) and log1p(-p) of the last large a and p of binomialTerm.
    int32_t logA_ = -1;
    long double logP_ = -1, lgammaA_ = 0, logOfP_ = 0, log1mP_ = 0;
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
