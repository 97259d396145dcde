#include "genealogy/mutation_draw.h"

#include <array>
#include <cmath>

namespace quenlith {

namespace {

constexpr int32_t kLargestFactorial = 1754; // 1755! leaves the extended range

// n! for n <= 1754, each the product n * (n - 1) * ... * 2 in this order, made once.
const std::array<long double, kLargestFactorial + 1>& factorials() {
    static const auto table = [] {
        std::array<long double, kLargestFactorial + 1> f{};
        for (int32_t n = 0; n <= kLargestFactorial; ++n) {
            long double product = 1;
            for (int32_t i = n; i >= 2; --i)
                product *= i;
            f[static_cast<size_t>(n)] = product;
        }
        return f;
    }();
    return table;
}

// The smallest state x with x * 2^-32 >= P, that is ceil(P * 2^32); the scaling by a power
// of two is exact.
uint64_t stateThreshold(long double any) {
    if (!(any > 0)) return 0;
    if (any >= 1) return uint64_t{1} << 32;
    return static_cast<uint64_t>(std::ceil(any * 4294967296.0L));
}

long double factorTerm(int32_t a, int32_t c, long double p) {
    const auto& f = factorials();
    const long double choose =
        f[static_cast<size_t>(a)] / (f[static_cast<size_t>(c)] * f[static_cast<size_t>(a - c)]);
    return choose * std::pow(p, static_cast<long double>(c)) *
           std::pow(1 - p, static_cast<long double>(a - c));
}

long double logTerm(int32_t a, int32_t c, long double lgammaA, long double logOfP,
                    long double log1mP) {
    return std::exp(lgammaA - std::lgamma(static_cast<long double>(c) + 1) -
                    std::lgamma(static_cast<long double>(a - c) + 1) + c * logOfP +
                    (a - c) * log1mP);
}

} // namespace

long double probabilityOfAny(int32_t a, long double p) {
    return 1 - std::pow(1 - p, static_cast<long double>(a));
}

long double binomialTerm(int32_t a, int32_t c, long double p) {
    if (a <= kLargestFactorial) return factorTerm(a, c, p);
    const long double q = 1 - p;
    if (p <= 0) return 0;
    if (q <= 0) return c == a ? 1 : 0;
    return logTerm(a, c, std::lgamma(static_cast<long double>(a) + 1), std::log(p), std::log1p(-p));
}

long double BinomialTerms::term(int32_t c) {
    const int32_t a = rate_.a;
    const long double p = rate_.p;
    if (a <= kLargestFactorial) return factorTerm(a, c, p);
    if (p <= 0) return 0;
    if (1 - p <= 0) return c == a ? 1 : 0;
    if (!logsKnown_) {
        lgammaA_ = std::lgamma(static_cast<long double>(a) + 1);
        logOfP_ = std::log(p);
        log1mP_ = std::log1p(-p);
        logsKnown_ = true;
    }
    return logTerm(a, c, lgammaA_, logOfP_, log1mP_);
}

PreparedRate prepareRate(int32_t a, long double p) {
    PreparedRate rate;
    rate.a = a;
    rate.p = p;
    rate.any = probabilityOfAny(a, p);
    rate.threshold = stateThreshold(rate.any);
    return rate;
}

PreparedRate PreparedRates::get(int32_t a, long double p) {
    if (a < 1 || p != p) return prepareRate(a, p);
    if (last_ >= kept_.size() || kept_[last_].p != p) {
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
                kept_[i] = Kept{};
            }
            kept_[i].p = p;
        }
        last_ = i;
    }
    std::vector<KeptCount>& perCount = kept_[last_].perCount;
    const size_t index = static_cast<size_t>(a);
    if (perCount.size() <= index) perCount.resize(index + 1);
    KeptCount& known = perCount[index];
    if (known.threshold == kUnknown) {
        const PreparedRate fresh = prepareRate(a, p);
        known.any = fresh.any;
        known.threshold = fresh.threshold;
        known.first = binomialTerm(a, 1, p);
    }
    PreparedRate rate;
    rate.a = a;
    rate.p = p;
    rate.any = known.any;
    rate.threshold = known.threshold;
    rate.first = known.first;
    rate.firstKnown = true;
    return rate;
}

} // namespace quenlith
