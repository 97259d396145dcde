#include "base/gamma_variate.h"

#include <cmath>
#include <cstdint>

namespace quenlith {

namespace {

// Ahrens-Dieter GS rejection for 0 < a < 1.
template <typename Rng> double gammaSmallShape(double a, Rng& rng) {
    const double e = std::exp(1.0);
    const double b = (e + a) / e;
    for (;;) {
        const double u1 = static_cast<double>(rng.RandomFloat());
        const double p = b * u1;
        if (p > 1) {
            const double x = -std::log((b - p) / a);
            const double u2 = static_cast<double>(rng.RandomFloat());
            if (u2 < std::pow(x, a - 1)) return x;
        } else {
            const double x = std::pow(p, 1 / a);
            const double u2 = static_cast<double>(rng.RandomFloat());
            if (u2 < std::exp(-x)) return x;
        }
    }
}

template <typename Rng> double sumOfExponentials(int64_t n, Rng& rng) {
    double product = 1;
    for (int64_t i = 0; i < n; ++i)
        product *= static_cast<double>(rng.RandomFloat());
    return -std::log(product);
}

} // namespace

template <typename Rng> double gammaVariate(double alpha, Rng& rng) {
    const double whole = std::trunc(alpha);
    const double fraction = alpha - whole;
    if (fraction == 0) return sumOfExponentials(static_cast<int64_t>(whole), rng);
    if (alpha > 0 && alpha < 1) return gammaSmallShape(alpha, rng);
    const double exponentials = sumOfExponentials(static_cast<int64_t>(whole), rng);
    return exponentials + gammaSmallShape(fraction, rng);
}

template double gammaVariate(double, RunRandom&);
template double gammaVariate(double, StreamRandom&);
template double gammaVariate(double, PlainRunRandom&);

} // namespace quenlith
