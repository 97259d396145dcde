#pragma once
// What the plots of a run show: histograms of per-genealogy values and the model's exact
// expectations for a constant population. With a lineages, each drawing its parent among N
// gene copies, a generation ends with a coalescence when two draws coincide, so the time
// spent with a lineages is geometric with that probability.
#include <cstdint>
#include <vector>

namespace quenlith {

// Probability that a draws among n parents are not all distinct: 1 - prod (1 - i / n).
double coalescenceProbability(int64_t lineages, int64_t popSize);

// E[time with a lineages] = 1 / coalescenceProbability(a, n).
double expectedWaitingTime(int64_t lineages, int64_t popSize);

// coalescenceProbability(a, n) for a = 0 ... k at once (index a), in O(k).
std::vector<double> coalescenceProbabilities(int64_t sampleSize, int64_t popSize);

// E[TMRCA] of k tips: the sum of the expected waiting times for a = k ... 2.
double expectedTmrca(int64_t sampleSize, int64_t popSize);

// E[mutation events] when each of the a lineages mutates with probability p in every
// generation (binomial count): p * sum over a of a * E[time with a lineages].
double expectedMutationEvents(int64_t sampleSize, int64_t popSize, double mutation);

// P(TMRCA = t) for t = 0 ... maxT: the distribution of the sum of the independent geometric
// times with a = k ... 2 lineages. Empty when it would take more than about 10^8 steps.
std::vector<double> tmrcaDistribution(int64_t sampleSize, int64_t popSize, int64_t maxT);

// Counts of integer values in `bins` equal bins of whole width from the smallest to the
// largest value.
struct Histogram {
    int64_t start = 0; // lower edge of the first bin
    int64_t width = 1; // bin width
    std::vector<int64_t> counts;
};
Histogram makeHistogram(const std::vector<int32_t>& values, int32_t bins);

// Mean of the values (0 for none).
double meanOf(const std::vector<int32_t>& values);

} // namespace quenlith
