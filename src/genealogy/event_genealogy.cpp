#include "genealogy/event_genealogy.h"

#include "base/gamma_variate.h"
#include "base/run_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace quenlith {

namespace {

// A uniform in (0, 1] from two 32-bit words: (2^64 - W) 2^-64 for the 64-bit word W, exact
// in extended precision, so that the tails of the geometric draws reach e^-44.
template <typename Rng> long double openUniform(Rng& rng) {
    const long double high = rng.RandomFloat();
    const long double low = rng.RandomFloat();
    return 1.0L - (high + low * 0x1p-32L);
}

// The number of failures before the first success of Bernoulli(q) trials, by inversion,
// given log(1 - q); +inf for q = 0.
template <typename Rng>
long double geometricFailures(Rng& rng, long double q, long double logFailure) {
    if (!(q > 0)) return std::numeric_limits<long double>::infinity();
    if (q >= 1) return 0;
    return std::floor(std::log(openUniform(rng)) / logFailure);
}

// The mutation events of `span` generations of a lineages under gamma rates, in distribution
// as the walk draws them (a fresh G ~ Gamma(alpha, 1) every generation, then Binomial(a, P(G))
// events with P(G) = 1 - (1 - h)^L, h = min(1, u G / alpha), each on a uniform lineage), at the
// cost of the events. With b = a L u, a generation holds an event with probability
// phi(G) = 1 - (1 - h)^(a L) <= a L u G / alpha, whose mean over G is b: the candidate
// generations are a Bernoulli(b) process, a candidate's G is drawn from the size-biased law
// Gamma(alpha + 1, 1) and kept with probability phi(G) / (a L u G / alpha); a kept generation
// has G from phi(G) f(G) / E[phi], as an eventful generation of the walk, and its events are
// Binomial(a, P(G)) given at least one. Calls onEvent(t, position) for t = 1 .. span in order.
// Returns false, drawing nothing, when b is not small (the walk's draws are then as cheap).
template <typename OnEvent>
bool gammaStretch(StreamRandom& rng, const MutationProbability::GammaRates& gamma, int32_t a,
                  int64_t span, OnEvent&& onEvent) {
    if (!gamma.known()) return false;
    const long double aL = static_cast<long double>(a) * gamma.length;
    const long double b = aL * gamma.u;
    if (!(b <= 0.25L)) return false;
    const long double logQuiet = std::log1p(-b);
    long double t = 0;
    for (;;) {
        t += 1 + geometricFailures(rng, b, logQuiet);
        if (!(t <= static_cast<long double>(span))) return true;
        const double g = gammaVariate(gamma.alpha + 1, rng);
        const long double x = static_cast<long double>(g / gamma.alpha) * gamma.u;
        if (!(x > 0)) continue; // a draw of 0 holds no event
        const long double h = x < 1 ? x : 1;
        const long double phi = h < 1 ? -std::expm1(aL * std::log1p(-h)) : 1;
        if (!(openUniform(rng) * aL * x <= phi)) continue; // not an eventful generation
        // The events: the first lineage with one (given one at least), then the others.
        const long double p = h < 1 ? -std::expm1(gamma.length * std::log1p(-h)) : 1;
        int32_t count = a;
        if (p < 1) {
            const long double logMiss = std::log1p(-p);
            const long double target = (1.0L - openUniform(rng)) * phi;
            int64_t i = static_cast<int64_t>(std::floor(std::log1p(-target) / logMiss));
            i = std::min<int64_t>(i, a - 1);
            count = 1;
            for (long double j = static_cast<long double>(i);;) {
                j += 1 + geometricFailures(rng, p, logMiss);
                if (!(j < a)) break;
                ++count;
            }
        }
        for (int32_t e = 0; e < count; ++e)
            onEvent(static_cast<int64_t>(t), rng.Random(a));
    }
}

} // namespace

long double EventGenealogySimulator::repeatProbability(int32_t a, int32_t n) {
    if (a < 2) return 0;
    if (n <= 1 || a > n) return 1;
    // The same summation as the draw of the first repeating lineage, so that its last
    // cumulative value is this q exactly.
    long double logDistinct = 0;
    for (int32_t i = 1; i < a; ++i)
        logDistinct += std::log1p(-static_cast<long double>(i) / n);
    return -std::expm1(logDistinct);
}

template <typename Rng>
void EventGenealogySimulator::drawDistinct(Rng& rng, int32_t count, int32_t n) {
    int32_t bits = 1;
    while ((int64_t{1} << bits) < 2 * int64_t{count})
        ++bits;
    seen_.assign(size_t{1} << bits, 0);
    const uint32_t mask = (uint32_t{1} << bits) - 1;
    for (int32_t m = 0; m < count; ++m) {
        for (;;) {
            const uint32_t v = static_cast<uint32_t>(rng.Random(n));
            uint32_t slot = (v * 0x9E3779B1u) >> (32 - bits) & mask;
            while (seen_[slot] != 0 && seen_[slot] != v + 1)
                slot = (slot + 1) & mask;
            if (seen_[slot] == v + 1) continue; // drawn before: draw again
            seen_[slot] = v + 1;
            parents_[static_cast<size_t>(m)] = v;
            break;
        }
    }
}

void EventGenealogySimulator::prepareSize(int32_t a, int32_t n) {
    if (n != prefixN_) {
        prefixN_ = n;
        logDistinct_.assign(2, 0);
        repeat_.assign(2, 0);
    }
    // Entry m: the log of the probability that m draws are distinct, the sum of
    // log1p(-i/n) for i = 1 .. m - 1 in the order repeatProbability sums, and q_m.
    while (static_cast<int32_t>(logDistinct_.size()) <= a) {
        const int32_t m = static_cast<int32_t>(logDistinct_.size());
        logDistinct_.push_back(logDistinct_.back() +
                               std::log1p(-static_cast<long double>(m - 1) / n));
        repeat_.push_back(-std::expm1(logDistinct_.back()));
    }
}

template <typename Rng>
void EventGenealogySimulator::drawRepeatingGeneration(Rng& rng, int32_t a, int32_t n) {
    parents_.resize(static_cast<size_t>(a));
    // The first lineage r whose parent repeats an earlier one: P(r <= i | a repeat) =
    // (1 - P(the first i + 1 parents differ)) / q_a, by inversion on a uniform in [0, 1): r is
    // the smallest i with target < 1 - exp(L[i + 1]), that is L[i + 1] < log(1 - target), L
    // falling with i.
    prepareSize(a, n);
    const std::vector<long double>& l = logDistinct_;
    const long double q = repeat_[static_cast<size_t>(a)];
    const long double target = (1.0L - openUniform(rng)) * q;
    const long double bound = std::log1p(-target);
    const auto first = std::partition_point(l.begin() + 2, l.begin() + a,
                                            [&](long double v) { return !(v < bound); });
    const int32_t r = static_cast<int32_t>(first - l.begin()) - 1; // a - 1 at the end
    // Lineages 0 .. r - 1 drew distinct parents, lineage r one of theirs, the rest any.
    drawDistinct(rng, r, n);
    parents_[static_cast<size_t>(r)] = parents_[static_cast<size_t>(rng.Random(r))];
    for (int32_t i = r + 1; i < a; ++i)
        parents_[static_cast<size_t>(i)] = static_cast<uint32_t>(rng.Random(n));
}

int32_t EventGenealogySimulator::mergePosition() {
    // The walk's rule: j of the first occurrence, in ascending order, of the smallest value
    // drawn more than once (the number of draws below it), or -1. The repeats are found in
    // an open-addressing set of the values.
    const int32_t a = static_cast<int32_t>(parents_.size());
    int32_t bits = 1;
    while ((int64_t{1} << bits) < 2 * int64_t{a})
        ++bits;
    seen_.assign(size_t{1} << bits, 0);
    const uint32_t mask = (uint32_t{1} << bits) - 1;
    uint32_t smallest = std::numeric_limits<uint32_t>::max();
    for (const uint32_t v : parents_) {
        uint32_t slot = (v * 0x9E3779B1u) >> (32 - bits) & mask;
        while (seen_[slot] != 0 && seen_[slot] != v + 1)
            slot = (slot + 1) & mask;
        if (seen_[slot] == v + 1)
            smallest = std::min(smallest, v);
        else
            seen_[slot] = v + 1;
    }
    if (smallest == std::numeric_limits<uint32_t>::max()) return -1;
    int32_t j = 0;
    for (const uint32_t v : parents_)
        j += v < smallest;
    return j;
}

int32_t EventGenealogySimulator::mergeRule() {
    if (mergers != MergeRule::All) return mergePosition();
    return allMergerPositions(parents_.data(), static_cast<int32_t>(parents_.size()),
                              mergePositions_)
               ? mergePositions_.front()
               : -1;
}

template <typename Rng>
void EventGenealogySimulator::simulate(Genealogy& g, int32_t k, int32_t& popSize,
                                       const Demography& demography,
                                       const MutationProbability& mutation, Rng& rng,
                                       const std::function<void()>& onCoalescence,
                                       const std::atomic<bool>* stop) {
    g.startSample(k);
    lineageOrder_.reset(k);

    const bool perGeneration = static_cast<bool>(mutation.perGeneration);
    const long double p = mutation.constant;
    int32_t lineages = k;
    int32_t generation = 0;
    const auto record = [&](int32_t eventGeneration, int32_t position) {
        g.MutEvents.push_back({eventGeneration, position});
        g.mutationNodes.push_back(lineageOrder_.nodeAt(position));
    };
    // With a constant p every (generation, draw) slot of the walk holds an event with
    // probability p, independently: `skip` is the number of quiet slots before the next
    // event. The gaps are memoryless, so the count carries over from one stretch to the next
    // whatever the lineage count.
    const long double logKeep = std::log1p(-p);
    long double skip = perGeneration ? 0 : geometricFailures(rng, p, logKeep);
    const auto inWindow = [&](int32_t completed) {
        return demography.growthStart < completed && completed < demography.growthEnd;
    };

    while (lineages > 1) {
        if (stop && stop->load(std::memory_order_relaxed)) throw RunStopped();
        // The size changes before the generation, as in the walk.
        if (demography.fluctuating && inWindow(generation))
            popSize =
                fluctuatedSize(popSize, demography.changePercent, demography.singleExpression);
        if (generation >= lastGeneration)
            throw RunError("Range check error",
                           "the genealogy passed generation " + std::to_string(lastGeneration) +
                               " with " + std::to_string(lineages) +
                               " lineages left (population size " + std::to_string(popSize) + ")");
        const int32_t n = popSize;
        // The generations this stretch may span: up to the next change of the size (none
        // once the size is a fixed point of its change), and up to the last generation.
        long double room = static_cast<long double>(lastGeneration) - generation;
        if (demography.fluctuating &&
            fluctuatedSize(n, demography.changePercent, demography.singleExpression) != n) {
            const int64_t nextChange =
                std::max<int64_t>(int64_t{generation} + 1, int64_t{demography.growthStart} + 1);
            if (nextChange < demography.growthEnd)
                room = std::min(room, static_cast<long double>(nextChange - generation));
        }

        long double q = 1;
        if (n > 1 && lineages <= n) {
            prepareSize(lineages, n);
            q = repeat_[static_cast<size_t>(lineages)];
        }
        int64_t span = 1; // generations of this stretch
        int32_t j = -1;
        bool conditioned = false;
        if (q >= 0.5L) {
            // Repeats are common: draw the generation as the walk does.
            parents_.resize(static_cast<size_t>(lineages));
            for (int32_t i = 0; i < lineages; ++i)
                parents_[static_cast<size_t>(i)] = static_cast<uint32_t>(rng.Random(n));
            j = mergeRule();
        } else {
            const long double until =
                1 + geometricFailures(rng, q, logDistinct_[static_cast<size_t>(lineages)]);
            if (until > room) {
                span = static_cast<int64_t>(room);
            } else {
                span = static_cast<int64_t>(until);
                conditioned = true;
            }
        }

        // The mutation events of the stretch, on the positions before its merge.
        bool drawn = false;
        if constexpr (std::is_same_v<Rng, StreamRandom>)
            drawn =
                perGeneration &&
                gammaStretch(rng, mutation.gamma, lineages, span, [&](int64_t t, int32_t position) {
                    record(generation + static_cast<int32_t>(t), position);
                });
        if (drawn) {
            // the gamma rates' events of the stretch are drawn
        } else if (perGeneration) {
            for (int64_t t = 1; t <= span; ++t) {
                const int32_t eventGeneration = generation + static_cast<int32_t>(t);
                if (stop && eventGeneration % GenealogySimulator::kStopCheckGenerations == 0 &&
                    stop->load(std::memory_order_relaxed))
                    throw RunStopped();
                const long double pg = mutation.perGeneration(rng);
                drawFresh(rng, lineages, pg,
                          [&](int32_t position) { record(eventGeneration, position); });
            }
        } else {
            const int64_t slots = int64_t{lineages} * span;
            int64_t used = 0;
            while (skip < static_cast<long double>(slots - used)) {
                const int64_t slot = used + static_cast<int64_t>(skip);
                record(generation + 1 + static_cast<int32_t>(slot / lineages),
                       rng.Random(lineages));
                used = slot + 1;
                skip = geometricFailures(rng, p, logKeep);
            }
            skip -= static_cast<long double>(slots - used);
        }

        if (conditioned) {
            drawRepeatingGeneration(rng, lineages, n);
            j = mergeRule();
        }
        generation += static_cast<int32_t>(span);
        if (j >= 0) {
            lineages -= g.recordMerges(generation, mergers, j, mergePositions_, lineageOrder_);
            if (onCoalescence) {
                g.Generation = generation;
                onCoalescence();
            }
        }
    }
    g.Generation = generation;
}

template void EventGenealogySimulator::drawRepeatingGeneration<StreamRandom>(StreamRandom&, int32_t,
                                                                             int32_t);
template void EventGenealogySimulator::simulate<StreamRandom>(
    Genealogy&, int32_t, int32_t&, const Demography&, const MutationProbability&, StreamRandom&,
    const std::function<void()>&, const std::atomic<bool>*);
template void EventGenealogySimulator::simulate<PlainRunRandom>(
    Genealogy&, int32_t, int32_t&, const Demography&, const MutationProbability&, PlainRunRandom&,
    const std::function<void()>&, const std::atomic<bool>*);

} // namespace quenlith
