#include "genealogy/mutation_draw.h"

#include <cmath>

namespace quenlith {

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

} // namespace quenlith
