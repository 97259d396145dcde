#include "genealogy/genealogy.h"
#include "base/limits.h"
#include "genealogy/fast_paths.h"

#include "base/run_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace quenlith {

using namespace paths;

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

int32_t Genealogy::recordMerges(int32_t generation, MergeRule rule, int32_t j,
                                const std::vector<int32_t>& positions, LineageOrder& order) {
    if (rule != MergeRule::All) {
        recordMerge(generation, j, order);
        return 1;
    }
    for (const int32_t position : positions)
        recordMerge(generation, position, order);
    return static_cast<int32_t>(positions.size());
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

int32_t GenealogySimulator::repeatAmongLow(const uint32_t* low, int32_t count, uint32_t cutoff) {
    // Every draw below the smallest repeated value is below the cutoff, so j counts them.
    return firstOccurrence(low, count, smallestRepeatedAny(low, count, cutoff));
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
    PreparedRate rate;
    if (!perGeneration) rate = preparedRates_.get(lineages, p);
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
                const uint64_t threshold = rate.threshold;
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
                if (end.mutates) drawEvents(local, end.state * 0x1p-32L, rate, onMutation);
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
                p = mutation.perGeneration(local);
                drawFresh(local, lineages, p, onMutation);
            } else {
                drawPrepared(local, rate, onMutation);
            }
        }

        if (j >= 0) {
            lineages -= g.recordMerges(generation, mergers, j, mergePositions_, lineageOrder_);
            if (!perGeneration) rate = preparedRates_.get(lineages, p);
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
