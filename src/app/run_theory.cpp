#include "app/run_theory.h"

#include <algorithm>

namespace quenlith {

double coalescenceProbability(int64_t lineages, int64_t popSize) {
    const int64_t n = std::max<int64_t>(popSize, 1);
    if (lineages < 2) return 0;
    if (lineages > n) return 1;
    long double distinct = 1;
    for (int64_t i = 1; i < lineages; ++i)
        distinct *= 1.0L - static_cast<long double>(i) / static_cast<long double>(n);
    return static_cast<double>(1.0L - distinct);
}

double expectedWaitingTime(int64_t lineages, int64_t popSize) {
    const double p = coalescenceProbability(lineages, popSize);
    return p > 0 ? 1.0 / p : 0.0;
}

std::vector<double> coalescenceProbabilities(int64_t sampleSize, int64_t popSize) {
    const int64_t n = std::max<int64_t>(popSize, 1);
    std::vector<double> p(static_cast<size_t>(std::max<int64_t>(sampleSize, 1)) + 1, 0.0);
    long double distinct = 1;
    for (int64_t a = 2; a <= sampleSize; ++a) {
        distinct *= a - 1 >= n
                        ? 0.0L
                        : 1.0L - static_cast<long double>(a - 1) / static_cast<long double>(n);
        p[static_cast<size_t>(a)] = static_cast<double>(1.0L - distinct);
    }
    return p;
}

double expectedTmrca(int64_t sampleSize, int64_t popSize) {
    const std::vector<double> p = coalescenceProbabilities(sampleSize, popSize);
    double sum = 0;
    for (int64_t a = 2; a <= sampleSize; ++a)
        sum += 1.0 / p[static_cast<size_t>(a)];
    return sum;
}

double expectedMutationEvents(int64_t sampleSize, int64_t popSize, double mutation) {
    const std::vector<double> p = coalescenceProbabilities(sampleSize, popSize);
    double sum = 0;
    for (int64_t a = 2; a <= sampleSize; ++a)
        sum += static_cast<double>(a) / p[static_cast<size_t>(a)];
    return mutation * sum;
}

std::vector<double> tmrcaDistribution(int64_t sampleSize, int64_t popSize, int64_t maxT) {
    if (maxT < 0 || sampleSize < 1) return {};
    if (static_cast<double>(sampleSize) * static_cast<double>(maxT) > 1e8) return {};
    std::vector<double> f(static_cast<size_t>(maxT) + 1, 0.0), g(f.size());
    f[0] = 1; // one lineage: no time at all
    // Adding a geometric time G >= 1 of parameter p: g(t) = (1 - p) g(t - 1) + p f(t - 1).
    const std::vector<double> probabilities = coalescenceProbabilities(sampleSize, popSize);
    for (int64_t a = 2; a <= sampleSize; ++a) {
        const double p = probabilities[static_cast<size_t>(a)];
        g[0] = 0;
        for (size_t t = 1; t < f.size(); ++t)
            g[t] = (1 - p) * g[t - 1] + p * f[t - 1];
        f.swap(g);
    }
    return f;
}

Histogram makeHistogram(const std::vector<int32_t>& values, int32_t bins) {
    Histogram h;
    if (values.empty() || bins < 1) return h;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    h.start = *lo;
    const int64_t span = int64_t{*hi} - *lo + 1;
    h.width = std::max<int64_t>(1, (span + bins - 1) / bins);
    h.counts.assign(static_cast<size_t>((span + h.width - 1) / h.width), 0);
    for (int32_t v : values)
        ++h.counts[static_cast<size_t>((v - h.start) / h.width)];
    return h;
}

double meanOf(const std::vector<int32_t>& values) {
    if (values.empty()) return 0;
    long double sum = 0;
    for (int32_t v : values)
        sum += v;
    return static_cast<double>(sum / static_cast<long double>(values.size()));
}

} // namespace quenlith
