#include "genealogy/structured_genealogy.h"

#include "base/run_error.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <unordered_set>

namespace quenlith {

// ---- the history ----

int32_t DiscreteHistory::epochAt(int32_t d, int64_t t) const {
    const DiscreteDeme& deme = demes[static_cast<size_t>(d)];
    if (t <= deme.end || t > deme.start) return -1;
    // Epochs are oldest first, their ends decreasing: the oldest whose end lies below t
    // holds it.
    for (size_t e = 0; e < deme.epochs.size(); ++e)
        if (deme.epochs[e].end < t) return static_cast<int32_t>(e);
    return -1;
}

int64_t DiscreteHistory::copies(int32_t d, int64_t t) const {
    const int32_t e = epochAt(d, t);
    if (e < 0) return 0;
    const DiscreteEpoch& epoch = demes[static_cast<size_t>(d)].epochs[static_cast<size_t>(e)];
    double size = epoch.startSize;
    const double span = epoch.startTime - epoch.endTime;
    if (epoch.function != SizeFunction::Constant && std::isfinite(span) && span > 0) {
        // The fraction of the epoch behind generation t, measured from its start.
        const double x = std::clamp((epoch.startTime - static_cast<double>(t)) / span, 0.0, 1.0);
        if (epoch.function == SizeFunction::Exponential)
            size = epoch.startSize * std::exp(std::log(epoch.endSize / epoch.startSize) * x);
        else
            size = epoch.startSize + (epoch.endSize - epoch.startSize) * x;
    }
    return std::llround(size * ploidy);
}

std::string DiscreteHistory::check() const {
    const auto n = static_cast<int32_t>(demes.size());
    auto valid = [n](int32_t d) { return d >= 0 && d < n; };
    for (int32_t d = 0; d < n; ++d) {
        const DiscreteDeme& deme = demes[static_cast<size_t>(d)];
        if (deme.epochs.empty()) return "deme " + deme.name + " has no epoch";
        if (deme.start != kForeverGeneration && deme.ancestors.empty())
            return "deme " + deme.name + " starts at generation " + std::to_string(deme.start) +
                   " without ancestors";
        double sum = 0;
        for (size_t a = 0; a < deme.ancestors.size(); ++a) {
            if (!valid(deme.ancestors[a]) || a >= deme.proportions.size())
                return "deme " + deme.name + ": an ancestor out of range";
            const DiscreteDeme& ancestor = demes[static_cast<size_t>(deme.ancestors[a])];
            if (ancestor.end > deme.start || ancestor.start <= deme.start)
                return "deme " + deme.name + ": ancestor " + ancestor.name +
                       " has no copies at generation " + std::to_string(deme.start + 1);
            sum += deme.proportions[a];
        }
        if (!deme.ancestors.empty() && std::fabs(sum - 1) > 1e-6)
            return "deme " + deme.name + ": the ancestors' proportions do not sum to 1";
        // Sizes follow monotone functions: the smallest of an epoch lies at one of its ends.
        for (size_t e = 0; e < deme.epochs.size(); ++e) {
            const int64_t top = e == 0 ? deme.start : deme.epochs[e - 1].end;
            const int64_t bottom = deme.epochs[e].end + 1;
            if (top < bottom) continue;
            for (const int64_t t : {bottom, top == kForeverGeneration ? bottom : top})
                if (copies(d, t) < 1)
                    return "deme " + deme.name + " rounds to no copy at generation " +
                           std::to_string(t) + " (size " +
                           std::to_string(deme.epochs[e].startSize) + " to " +
                           std::to_string(deme.epochs[e].endSize) + ")";
        }
    }
    for (const DiscreteMigration& m : migrations)
        if (!valid(m.source) || !valid(m.dest) || m.source == m.dest || !(m.rate >= 0) ||
            m.rate > 1)
            return "a migration out of range";
    // Rates into one deme at any generation: they change only at the migrations' ends.
    for (int32_t d = 0; d < n; ++d)
        for (const DiscreteMigration& at : migrations) {
            if (at.dest != d) continue;
            const int64_t t = at.end + 1;
            double sum = 0;
            for (const DiscreteMigration& m : migrations)
                if (m.dest == d && m.end < t && t <= m.start) sum += m.rate;
            if (sum > 1)
                return "migration rates into deme " + demes[static_cast<size_t>(d)].name +
                       " sum to " + std::to_string(sum) + " at generation " + std::to_string(t);
        }
    for (const DiscretePulse& p : pulses) {
        if (!valid(p.dest) || p.sources.size() != p.proportions.size())
            return "a pulse out of range";
        double sum = 0;
        for (size_t s = 0; s < p.sources.size(); ++s) {
            if (!valid(p.sources[s]) || !(p.proportions[s] >= 0)) return "a pulse out of range";
            sum += p.proportions[s];
        }
        if (sum > 1 + 1e-9)
            return "a pulse into " + demes[static_cast<size_t>(p.dest)].name +
                   " has proportions summing above 1";
    }
    if (ploidy < 1) return "ploidy below 1";
    return {};
}

// ---- random numbers ----

namespace {

template <typename Rng> uint32_t word(Rng& rng) {
    rng.RandomFloat();
    return rng.state();
}

// Uniform in (0, 1], 53 bits.
template <typename Rng> double uniform01(Rng& rng) {
    const uint64_t hi = word(rng) >> 5, lo = word(rng) >> 6;
    return (static_cast<double>(hi * 67108864u + lo) + 1.0) * 0x1p-53;
}

// Uniform in 0 .. n - 1 for 1 <= n < 2^63, without bias (multiply and reject).
template <typename Rng> int64_t uniformBelow(Rng& rng, int64_t n) {
    const auto range = static_cast<uint64_t>(n);
    const uint64_t threshold = (0 - range) % range;
    for (;;) {
        const uint64_t x = (static_cast<uint64_t>(word(rng)) << 32) | word(rng);
        const unsigned __int128 m = static_cast<unsigned __int128>(x) * range;
        if (static_cast<uint64_t>(m) >= threshold) return static_cast<int64_t>(m >> 64);
    }
}

// The generator as a source of 32-bit words for the standard distributions.
template <typename Rng> struct Words {
    Rng& rng;
    using result_type = uint32_t;
    static constexpr uint32_t min() { return 0; }
    static constexpr uint32_t max() { return 0xffffffffu; }
    uint32_t operator()() { return word(rng); }
};

// log of the probability that a lineages draw distinct parents among n copies.
double logDistinct(int64_t a, int64_t n) {
    if (a > n) return -std::numeric_limits<double>::infinity();
    double s = 0;
    for (int64_t i = 1; i < a; ++i)
        s += std::log1p(-static_cast<double>(i) / static_cast<double>(n));
    return s;
}

// Index in `weights` chosen with those probabilities; `u` uniform in (0, 1]; the last
// weight takes what rounding leaves.
size_t pick(const std::vector<double>& weights, double u) {
    double total = 0;
    for (const double w : weights)
        total += w;
    double x = u * total;
    for (size_t i = 0; i + 1 < weights.size(); ++i) {
        if (x <= weights[i]) return i;
        x -= weights[i];
    }
    return weights.size() - 1;
}

} // namespace

// ---- the simulation ----

namespace {
// Generations crossed at once while a deme grows: its smallest size over the window bounds
// the event probability of every generation in it.
constexpr int64_t kGrowthWindow = 64;
} // namespace
//
// Between two times at which the history changes (a deme's start or epoch end, a pulse, a
// migration's start or end, a sample's generation), each generation is quiet (no migration,
// no repeated parent) with the same probability Q = prod_d (1 - m_d)^{a_d}
// prod_{i < a_d} (1 - i / N_d), so the quiet generations before the next eventful one are
// geometric, drawn at once. While a deme grows or shrinks, Q changes every generation; over
// a window of generations the smallest sizes give a lower bound Q* <= Q, the candidate
// generations are geometric by Q*, and a candidate holds an event with probability
// (1 - Q) / (1 - Q*) (thinning), so the event generations keep their exact law. The eventful
// generation is drawn conditionally on holding an event, in the order of the generation:
// with probability P(migration) / (1 - Q) some copy migrated (the first that did is drawn
// from its conditional law, every later one freely), and the parents are then drawn freely
// in every deme; otherwise no copy migrated and some deme repeats a parent (the first such
// deme drawn from its conditional law, the later ones freely). Within a deme that must
// repeat a parent, the index of the first draw that repeats an earlier one follows its law
// truncated to the a draws; the draws before it are distinct, it takes one of theirs, and
// the draws after it are free.

template <typename Rng>
void StructuredSimulator::simulate(const DiscreteHistory& history,
                                   const std::vector<StructuredSample>& samples, Rng& rng,
                                   StructuredTree& tree, const std::atomic<bool>* stop) {
    const auto k = static_cast<int32_t>(samples.size());
    const auto demeCount = static_cast<int32_t>(history.demes.size());
    tree = StructuredTree{};
    tree.leaves = k;
    for (const StructuredSample& s : samples) {
        tree.time.push_back(s.generation);
        tree.deme.push_back(s.deme);
        tree.parent.push_back(-1);
    }
    if (k < 2) return;

    // Times after which the rates change (the stretch t + 1 .. T is constant).
    std::vector<int64_t> marks;
    for (const DiscreteDeme& d : history.demes) {
        if (d.start != kForeverGeneration) marks.push_back(d.start);
        for (const DiscreteEpoch& e : d.epochs)
            marks.push_back(e.end);
    }
    for (const DiscreteMigration& m : history.migrations) {
        marks.push_back(m.end);
        if (m.start != kForeverGeneration) marks.push_back(m.start);
    }
    for (const DiscretePulse& p : history.pulses)
        marks.push_back(p.time);
    for (const StructuredSample& s : samples)
        marks.push_back(s.generation);
    std::sort(marks.begin(), marks.end());
    marks.erase(std::unique(marks.begin(), marks.end()), marks.end());

    std::vector<int32_t> pending(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        pending[static_cast<size_t>(i)] = i;
    std::stable_sort(pending.begin(), pending.end(), [&](int32_t a, int32_t b) {
        return samples[static_cast<size_t>(a)].generation <
               samples[static_cast<size_t>(b)].generation;
    });
    // Within one generation the samples join in a uniformly random order, so that the
    // sample numbers are exchangeable with respect to the tree.
    for (size_t i = 0; i < pending.size();) {
        size_t j = i;
        while (j < pending.size() && samples[static_cast<size_t>(pending[j])].generation ==
                                         samples[static_cast<size_t>(pending[i])].generation)
            ++j;
        for (size_t x = j - i; x > 1; --x)
            std::swap(pending[i + x - 1],
                      pending[i + static_cast<size_t>(uniformBelow(rng, static_cast<int64_t>(x)))]);
        i = j;
    }
    size_t nextSample = 0;
    lineages_.clear();

    auto move = [&](Lineage& l, int32_t to, int64_t t) {
        tree.moves.push_back({l.node, t, l.deme, to});
        l.deme = to;
    };
    // Per deme at the generation being drawn: lineages, copies, migration rate.
    std::vector<int64_t> count(static_cast<size_t>(demeCount)), size(count.size());
    std::vector<double> rate(count.size()), logNoRepeat(count.size());
    std::vector<std::pair<int32_t, int32_t>> merges; // lineage indices, first < second

    // The parents of the lineages `inDeme_` (indices into lineages_) among n copies; with
    // `repeat`, conditioned on some parent being drawn twice. Records the merge of the rule.
    auto drawParents = [&](int32_t d, int64_t n, bool repeat) {
        const auto a = static_cast<int64_t>(inDeme_.size());
        parents_.assign(static_cast<size_t>(a), 0);
        int64_t first = a; // index of the first draw that repeats an earlier one
        if (repeat) {
            // P(first repeat at i) = prod_{l < i} (1 - l/n) * i/n, i = 1 .. a - 1.
            double x = uniform01(rng) * -std::expm1(logNoRepeat[static_cast<size_t>(d)]);
            double logFree = 0;
            first = a - 1;
            for (int64_t i = 1; i < a; ++i) {
                const double f =
                    std::exp(logFree) * static_cast<double>(i) / static_cast<double>(n);
                if (x <= f) {
                    first = i;
                    break;
                }
                x -= f;
                logFree += std::log1p(-static_cast<double>(i) / static_cast<double>(n));
            }
            std::unordered_set<int64_t> used;
            for (int64_t i = 0; i < first; ++i) {
                int64_t v;
                do
                    v = uniformBelow(rng, n);
                while (used.count(v));
                used.insert(v);
                parents_[static_cast<size_t>(i)] = v;
            }
            parents_[static_cast<size_t>(first)] =
                parents_[static_cast<size_t>(uniformBelow(rng, first))];
        }
        for (int64_t i = repeat ? first + 1 : 0; i < a; ++i)
            parents_[static_cast<size_t>(i)] = uniformBelow(rng, n);
        // The smallest parent drawn twice, and the first two draws of it; under
        // MergeRule::All every parent drawn m > 1 times, its first draw joined by the m - 1
        // others.
        std::vector<std::pair<int64_t, int64_t>> sorted;
        sorted.reserve(static_cast<size_t>(a));
        for (int64_t i = 0; i < a; ++i)
            sorted.emplace_back(parents_[static_cast<size_t>(i)], i);
        std::sort(sorted.begin(), sorted.end());
        bool merged = false;
        for (size_t i = 0; i + 1 < sorted.size();) {
            size_t end = i + 1;
            while (end < sorted.size() && sorted[end].first == sorted[i].first)
                ++end;
            for (size_t m = i + 1; m < end; ++m) {
                merges.emplace_back(inDeme_[static_cast<size_t>(sorted[i].second)],
                                    inDeme_[static_cast<size_t>(sorted[m].second)]);
                merged = true;
                if (mergers != MergeRule::All) return;
            }
            i = end;
        }
        if (repeat && !merged)
            throw RunError("Range check error", "a conditioned generation without a merge");
    };
    auto gather = [&](int32_t d) {
        inDeme_.clear();
        for (size_t i = 0; i < lineages_.size(); ++i)
            if (lineages_[i].deme == d) inDeme_.push_back(static_cast<int32_t>(i));
    };

    int64_t t = samples[static_cast<size_t>(pending.front())].generation;
    for (;;) {
        // What acts on the copies of generation t: samples, deme starts, pulses.
        while (nextSample < pending.size() &&
               samples[static_cast<size_t>(pending[nextSample])].generation <= t) {
            const int32_t i = pending[nextSample++];
            lineages_.push_back({i, samples[static_cast<size_t>(i)].deme});
        }
        if (lineages_.size() == 1 && nextSample == pending.size()) break;
        if (stop && stop->load(std::memory_order_relaxed)) throw RunStopped();
        for (Lineage& l : lineages_)
            while (history.demes[static_cast<size_t>(l.deme)].start <= t) {
                const DiscreteDeme& d = history.demes[static_cast<size_t>(l.deme)];
                move(l, d.ancestors[pick(d.proportions, uniform01(rng))], t);
            }
        for (const DiscretePulse& p : history.pulses) {
            if (p.time != t) continue;
            for (Lineage& l : lineages_) {
                if (l.deme != p.dest) continue;
                double u = uniform01(rng);
                for (size_t s = 0; s < p.sources.size(); ++s) {
                    if (u <= p.proportions[s]) {
                        move(l, p.sources[s], t);
                        break;
                    }
                    u -= p.proportions[s];
                }
            }
        }

        // The stretch of generations t + 1 .. T over which nothing changes but the sizes of
        // growing demes (within one epoch each, so monotone).
        const int64_t g = t + 1;
        const auto nextMark = std::upper_bound(marks.begin(), marks.end(), t);
        int64_t T = nextMark == marks.end() ? kForeverGeneration : *nextMark;
        std::fill(count.begin(), count.end(), 0);
        for (const Lineage& l : lineages_)
            ++count[static_cast<size_t>(l.deme)];
        std::fill(rate.begin(), rate.end(), 0.0);
        for (const DiscreteMigration& m : history.migrations)
            if (m.end < g && g <= m.start) rate[static_cast<size_t>(m.dest)] += m.rate;
        bool varying = false;
        for (int32_t d = 0; d < demeCount; ++d) {
            const auto sd = static_cast<size_t>(d);
            if (count[sd] == 0) continue;
            const int32_t e = history.epochAt(d, g);
            if (e >= 0 &&
                history.demes[sd].epochs[static_cast<size_t>(e)].function != SizeFunction::Constant)
                varying = true;
        }
        if (varying) T = std::min(T, t + kGrowthWindow);
        // Over the stretch, each generation is quiet with probability at least
        // exp(logQuiet): the repeat probabilities are bounded by the smallest size, found at
        // one of the stretch's ends. Without growth the bound is the exact value.
        double logQuiet = 0, logNoMigration = 0;
        for (int32_t d = 0; d < demeCount; ++d) {
            const auto sd = static_cast<size_t>(d);
            if (count[sd] == 0) continue;
            size[sd] = history.copies(d, g);
            if (varying) size[sd] = std::min(size[sd], history.copies(d, T));
            if (size[sd] < 1)
                throw RunError("Range check error", "deme " + history.demes[sd].name +
                                                        " has no copies at generation " +
                                                        std::to_string(g));
            logNoRepeat[sd] = logDistinct(count[sd], size[sd]);
            logNoMigration += static_cast<double>(count[sd]) * std::log1p(-rate[sd]);
        }
        logQuiet = logNoMigration;
        for (int32_t d = 0; d < demeCount; ++d)
            if (count[static_cast<size_t>(d)] > 1) logQuiet += logNoRepeat[static_cast<size_t>(d)];

        if (logQuiet == 0) {
            if (T == kForeverGeneration)
                throw RunError("Range check error",
                               "the lineages can never meet: they are in demes without "
                               "migration between them and without a common ancestor");
            t = T;
            continue;
        }
        const double quiet = std::floor(std::log(uniform01(rng)) / logQuiet);
        if (T != kForeverGeneration && quiet >= static_cast<double>(T - t)) {
            t = T;
            continue;
        }
        if (quiet >= static_cast<double>(lastGeneration - t))
            throw RunError("Range check error",
                           "the genealogy passed generation " + std::to_string(lastGeneration) +
                               " with " + std::to_string(lineages_.size()) + " lineages left");
        if (varying) {
            // Thinning: the candidate generation holds an event with the ratio of its own
            // event probability to the bound's; otherwise it was quiet and the walk goes on
            // from it.
            const int64_t candidate = t + static_cast<int64_t>(quiet) + 1;
            double logQuietAt = logNoMigration;
            for (int32_t d = 0; d < demeCount; ++d) {
                const auto sd = static_cast<size_t>(d);
                if (count[sd] == 0) continue;
                size[sd] = history.copies(d, candidate);
                logNoRepeat[sd] = logDistinct(count[sd], size[sd]);
                if (count[sd] > 1) logQuietAt += logNoRepeat[sd];
            }
            if (uniform01(rng) * -std::expm1(logQuiet) > -std::expm1(logQuietAt)) {
                t = candidate;
                continue;
            }
            logQuiet = logQuietAt;
        }
        const int64_t at = t + static_cast<int64_t>(quiet) + 1; // the eventful generation
        merges.clear();
        const double pMigration = -std::expm1(logNoMigration);
        if (uniform01(rng) * -std::expm1(logQuiet) <= pMigration) {
            // Some copy migrated: the first one from its conditional law, the later freely.
            std::vector<double> suffix(lineages_.size() + 1, 0.0);
            for (size_t i = lineages_.size(); i-- > 0;)
                suffix[i] =
                    suffix[i + 1] + std::log1p(-rate[static_cast<size_t>(lineages_[i].deme)]);
            bool migrated = false;
            std::vector<int32_t> from(lineages_.size());
            for (size_t i = 0; i < lineages_.size(); ++i)
                from[i] = lineages_[i].deme;
            for (size_t i = 0; i < lineages_.size(); ++i) {
                const double m = rate[static_cast<size_t>(from[i])];
                if (m <= 0) continue;
                const double p = migrated ? m : m / -std::expm1(suffix[i]);
                if (uniform01(rng) > p) continue;
                migrated = true;
                std::vector<double> weights;
                std::vector<int32_t> sources;
                for (const DiscreteMigration& mg : history.migrations)
                    if (mg.dest == from[i] && mg.end < at && at <= mg.start) {
                        weights.push_back(mg.rate);
                        sources.push_back(mg.source);
                    }
                move(lineages_[i], sources[pick(weights, uniform01(rng))], at - 1);
            }
            for (int32_t d = 0; d < demeCount; ++d) {
                gather(d);
                if (inDeme_.size() < 2) continue;
                const int64_t n = history.copies(d, at);
                if (n < 1)
                    throw RunError("Range check error",
                                   "deme " + history.demes[static_cast<size_t>(d)].name +
                                       " has no copies at generation " + std::to_string(at));
                drawParents(d, n, false);
            }
        } else {
            // No copy migrated and some deme repeats a parent.
            std::vector<double> suffix(static_cast<size_t>(demeCount) + 1, 0.0);
            for (int32_t d = demeCount; d-- > 0;) {
                const auto sd = static_cast<size_t>(d);
                suffix[sd] = suffix[sd + 1] + (count[sd] > 1 ? logNoRepeat[sd] : 0.0);
            }
            bool repeated = false;
            for (int32_t d = 0; d < demeCount; ++d) {
                const auto sd = static_cast<size_t>(d);
                if (count[sd] < 2) continue;
                bool repeat = false;
                if (!repeated) {
                    const double q = -std::expm1(logNoRepeat[sd]);
                    const double rest = -std::expm1(suffix[sd]);
                    repeat = rest <= 0 || uniform01(rng) * rest <= q;
                    if (!repeat && q >= rest) repeat = true;
                }
                gather(d);
                if (repeat) {
                    repeated = true;
                    drawParents(d, size[sd], true);
                } else if (repeated) {
                    drawParents(d, size[sd], false);
                }
            }
        }
        // The merges of the generation, one node each; those of one parent in the order of
        // its draws, each joining the node of the ones before.
        std::stable_sort(merges.begin(), merges.end(),
                         [&](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& [a, b] : merges) {
            const auto node = static_cast<int32_t>(tree.time.size());
            Lineage& la = lineages_[static_cast<size_t>(a)];
            const Lineage& lb = lineages_[static_cast<size_t>(b)];
            tree.time.push_back(at);
            tree.deme.push_back(la.deme);
            tree.parent.push_back(-1);
            tree.left.push_back(la.node);
            tree.right.push_back(lb.node);
            tree.parent[static_cast<size_t>(la.node)] = node;
            tree.parent[static_cast<size_t>(lb.node)] = node;
            la.node = node;
        }
        std::vector<int32_t> gone;
        for (const auto& m : merges)
            gone.push_back(m.second);
        std::sort(gone.rbegin(), gone.rend());
        for (const int32_t b : gone)
            lineages_.erase(lineages_.begin() + b);
        t = at;
    }
}

// ---- the tree as a genealogy of neighbour merges ----

namespace {

// Counts of marked positions, and the position of the r-th mark.
class Marks {
  public:
    explicit Marks(int32_t n) : tree_(static_cast<size_t>(n) + 1, 0), n_(n) {
        for (int32_t i = 0; i < n; ++i)
            add(i, 1);
        while (top_ * 2 <= n_)
            top_ *= 2;
    }
    void add(int32_t i, int32_t v) {
        for (int32_t x = i + 1; x <= n_; x += x & -x)
            tree_[static_cast<size_t>(x)] += v;
    }
    int32_t below(int32_t i) const { // marks at positions < i
        int32_t s = 0;
        for (int32_t x = i; x > 0; x -= x & -x)
            s += tree_[static_cast<size_t>(x)];
        return s;
    }
    int32_t select(int32_t r) const { // position of the mark of rank r (0-based)
        int32_t at = 0;
        for (int32_t step = top_; step > 0; step /= 2)
            if (at + step <= n_ && tree_[static_cast<size_t>(at + step)] <= r) {
                at += step;
                r -= tree_[static_cast<size_t>(at)];
            }
        return at;
    }

  private:
    std::vector<int32_t> tree_;
    int32_t n_;
    int32_t top_ = 1;
};

// The tree's demes and moves per node of the genealogy (`renumbered`: the genealogy's node of
// each tree node); the moves are recorded in time order, and a stable grouping keeps it.
void recordBranchDemes(const StructuredTree& tree, const std::vector<int32_t>& renumbered,
                       BranchDemes& out) {
    const size_t nodes = tree.time.size();
    out.bottom.assign(nodes, 0);
    out.first.assign(nodes + 1, 0);
    for (size_t x = 0; x < nodes; ++x)
        out.bottom[static_cast<size_t>(renumbered[x])] = tree.deme[x];
    for (const StructuredTree::Move& m : tree.moves)
        ++out.first[static_cast<size_t>(renumbered[static_cast<size_t>(m.node)]) + 1];
    for (size_t x = 0; x < nodes; ++x)
        out.first[x + 1] += out.first[x];
    std::vector<uint32_t> next(out.first.begin(), out.first.end() - 1);
    out.changes.resize(tree.moves.size());
    for (const StructuredTree::Move& m : tree.moves)
        out.changes[next[static_cast<size_t>(renumbered[static_cast<size_t>(m.node)])]++] = {
            m.generation, m.to};
}

} // namespace

template <typename Rng>
void structuredGenealogy(const StructuredTree& tree, long double p, Rng& rng, Genealogy& g,
                         std::vector<int32_t>& order, BranchDemes* demes) {
    const int32_t k = tree.leaves;
    for (int32_t i = 0; i < k; ++i)
        if (tree.time[static_cast<size_t>(i)] != 0)
            throw RunError("Range check error", "samples of past generations cannot be written");
    const size_t nodes = tree.time.size();
    g = Genealogy{};
    g.SampleSize = k;
    order.clear();
    // The leaves in the order of a walk, left child first: every node's leaves are then a
    // range, and the two children of a node neighbouring ranges.
    std::vector<int32_t> lo(nodes), hi(nodes), renumbered(nodes);
    if (k > 0) {
        std::vector<int32_t> todo = {tree.root()};
        while (!todo.empty()) {
            const int32_t x = todo.back();
            todo.pop_back();
            if (x < k) {
                renumbered[static_cast<size_t>(x)] = static_cast<int32_t>(order.size());
                order.push_back(x);
                continue;
            }
            todo.push_back(tree.right[static_cast<size_t>(x - k)]);
            todo.push_back(tree.left[static_cast<size_t>(x - k)]);
        }
    }
    for (size_t x = 0; x < nodes; ++x) {
        if (static_cast<int32_t>(x) < k) {
            lo[x] = hi[x] = renumbered[x];
            continue;
        }
        renumbered[x] = static_cast<int32_t>(x);
        lo[x] = lo[static_cast<size_t>(tree.left[x - static_cast<size_t>(k)])];
        hi[x] = hi[static_cast<size_t>(tree.right[x - static_cast<size_t>(k)])];
    }
    g.leafLo.assign(nodes, 0);
    g.leafHi.assign(nodes, 0);
    for (size_t x = 0; x < nodes; ++x) {
        g.leafLo[static_cast<size_t>(renumbered[x])] = lo[x];
        g.leafHi[static_cast<size_t>(renumbered[x])] = hi[x];
    }
    if (demes) recordBranchDemes(tree, renumbered, *demes);
    if (k < 2) return;

    Marks alive(k);                                      // the lowest leaf of every lineage alive
    std::vector<int32_t> nodeAt(static_cast<size_t>(k)); // lineage by its lowest leaf
    for (int32_t i = 0; i < k; ++i)
        nodeAt[static_cast<size_t>(i)] = i;
    int32_t lineages = k;
    int64_t previous = 0;
    std::unordered_set<int64_t> chosen;
    std::vector<int64_t> slots;
    auto mutate = [&](int64_t generations) {
        if (!(p > 0) || generations <= 0) return;
        const int64_t places = generations * lineages;
        Words<Rng> words{rng};
        std::binomial_distribution<int64_t> binomial(places, std::min(1.0, static_cast<double>(p)));
        const int64_t events = binomial(words);
        // Floyd's choice of `events` distinct places among `places`.
        chosen.clear();
        for (int64_t j = places - events; j < places; ++j) {
            const int64_t v = uniformBelow(rng, j + 1);
            chosen.insert(chosen.count(v) ? j : v);
        }
        slots.assign(chosen.begin(), chosen.end());
        std::sort(slots.begin(), slots.end());
        for (const int64_t s : slots) {
            const int64_t generation = previous + 1 + s / lineages;
            const auto position = static_cast<int32_t>(uniformBelow(rng, lineages));
            g.MutEvents.push_back({static_cast<int32_t>(generation), position});
            g.mutationNodes.push_back(nodeAt[static_cast<size_t>(alive.select(position))]);
        }
    };
    for (size_t e = 0; e < nodes - static_cast<size_t>(k); ++e) {
        const size_t x = static_cast<size_t>(k) + e;
        const int64_t generation = tree.time[x];
        if (generation > previous) {
            mutate(generation - previous);
            previous = generation;
        }
        const int32_t left = tree.left[e], right = tree.right[e];
        const int32_t j = alive.below(lo[static_cast<size_t>(left)]);
        if (alive.below(lo[static_cast<size_t>(right)]) != j + 1)
            throw RunError("Range check error", "a merge of lineages that are not neighbours");
        alive.add(lo[static_cast<size_t>(right)], -1);
        nodeAt[static_cast<size_t>(lo[x])] = static_cast<int32_t>(x);
        g.CoalEvents.push_back({static_cast<int32_t>(generation), j, j + 1});
        g.childA.push_back(renumbered[static_cast<size_t>(left)]);
        g.childB.push_back(renumbered[static_cast<size_t>(right)]);
        --lineages;
    }
    g.Generation = static_cast<int32_t>(tree.tmrca());
}

std::vector<int32_t> sampleRows(const std::vector<int32_t>& order) {
    std::vector<int32_t> rows(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        rows[static_cast<size_t>(order[i])] = static_cast<int32_t>(i) + 1;
    return rows;
}

template void StructuredSimulator::simulate<StreamRandom>(const DiscreteHistory&,
                                                          const std::vector<StructuredSample>&,
                                                          StreamRandom&, StructuredTree&,
                                                          const std::atomic<bool>*);
template void structuredGenealogy<StreamRandom>(const StructuredTree&, long double, StreamRandom&,
                                                Genealogy&, std::vector<int32_t>&, BranchDemes*);

} // namespace quenlith
