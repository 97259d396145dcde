#include "dna/substitution.h"

#include <algorithm>
#include <cmath>

namespace quenlith {

void SampleSequences::reset(const std::string& root, int32_t k) {
    if (k == copies && root.size() == static_cast<size_t>(length) &&
        data.size() == root.size() * static_cast<size_t>(std::max(k, 0)) && root == filledFrom &&
        hitSites.size() * 32 < root.size()) {
        // Plain pointers: the stores of chars would otherwise reload the vectors' data.
        const int32_t* const sites = hitSites.data();
        const size_t hits = hitSites.size();
        const char* const base = root.data();
        for (int32_t i = 0; i < k; ++i) {
            char* const row = copy(i);
            for (size_t c = 0; c < hits; ++c)
                row[sites[c]] = base[sites[c]];
        }
        for (const int32_t site : hitSites)
            siteHit[static_cast<size_t>(site)] = false;
        hitSites.clear();
        return;
    }
    filledFrom = root;
    length = static_cast<int32_t>(root.size());
    copies = k;
    data.resize(static_cast<size_t>(length) * static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        std::copy(root.begin(), root.end(), copy(i));
    hitSites.clear();
    siteHit.assign(static_cast<size_t>(length), false);
}

namespace {

int baseIndex(char c) {
    switch (c) {
    case 'a':
    case 'A':
        return 0;
    case 'c':
    case 'C':
        return 1;
    case 'g':
    case 'G':
        return 2;
    case 't':
    case 'T':
        return 3;
    default:
        return -1;
    }
}

constexpr char kBase[4] = {'a', 'c', 'g', 't'};
// Transition partner of each base: a<->g, c<->t.
constexpr int kPartner[4] = {2, 3, 0, 1};
// The two transversions of each base, in the order of the band tables.
constexpr int kTransversions[4][2] = {{1, 3}, {0, 2}, {1, 3}, {0, 2}};
// F81: the three other bases in alphabetical order.
constexpr int kOthers[4][3] = {{1, 2, 3}, {0, 2, 3}, {0, 1, 3}, {0, 1, 2}};

int32_t truncToInt(long double value) {
    const double rounded = static_cast<double>(value);
    return static_cast<int32_t>(std::trunc(rounded));
}

} // namespace

BaseChanger::BaseChanger(SubstitutionModel model, double freqA, double freqC, double freqG,
                         double tiTv)
    : model_(model) {
    const double freqT = static_cast<double>(1 - (static_cast<long double>(freqA) + freqC + freqG));
    const double pi[4] = {freqA, freqC, freqG, freqT};
    const double hundredR = static_cast<double>(100 * static_cast<long double>(tiTv));
    k2pTransitions_ = static_cast<int32_t>(std::trunc(hundredR));
    for (int b = 0; b < 4; ++b) {
        Bands& bands = bands_[b];
        if (model == SubstitutionModel::F81) {
            const int* o = kOthers[b];
            const long double w0 = pi[o[0]], w1 = pi[o[1]], w2 = pi[o[2]];
            bands.total = truncToInt(100 * (w0 + w1 + w2));
            bands.upper[0] = 100 * w0;
            bands.upper[1] = 100 * (w0 + w1);
            bands.upper[2] = 100 * (w0 + w1 + w2);
            for (int i = 0; i < 3; ++i)
                bands.target[i] = kBase[o[i]];
        } else if (model == SubstitutionModel::HKY85) {
            const int partner = kPartner[b];
            const int first = kTransversions[b][0];
            const int second = kTransversions[b][1];
            // Each band width is held as a double, so 100 * 2 * 0.2 is exactly 40 and the
            // bands split Random(T) into whole runs of 40, 20 and 20 values.
            const long double w0 =
                static_cast<double>(100 * static_cast<long double>(tiTv) * pi[partner]);
            const long double w1 = static_cast<double>(100 * static_cast<long double>(pi[first]));
            const long double w2 = static_cast<double>(100 * static_cast<long double>(pi[second]));
            bands.total = truncToInt(w0 + w1 + w2);
            bands.upper[0] = w0;
            bands.upper[1] = w0 + w1;
            bands.upper[2] = w0 + w1 + w2;
            bands.target[0] = kBase[partner];
            bands.target[1] = kBase[first];
            bands.target[2] = kBase[second];
        }
    }
}

template <typename Rng> char BaseChanger::change(char old, Rng& rng) const {
    const int b = baseIndex(old);
    switch (model_) {
    case SubstitutionModel::JC69: {
        const int32_t r = rng.Random(3);
        if (b < 0) return old;
        return kBase[kOthers[b][r]];
    }
    case SubstitutionModel::K2P: {
        const int32_t t = k2pTransitions_;
        const int32_t r = rng.Random(t + 200);
        if (b < 0) return old;
        if (r < t) return kBase[kPartner[b]];
        // Transversions: for a and g the order is c then t; for c and t it is a then g.
        return kBase[kTransversions[b][r < t + 100 ? 0 : 1]];
    }
    case SubstitutionModel::F81:
    case SubstitutionModel::HKY85: {
        if (b < 0) return old;
        const Bands& bands = bands_[b];
        const long double r = rng.Random(bands.total);
        for (int i = 0; i < 3; ++i)
            if (r < bands.upper[i] && (i == 0 || r >= bands.upper[i - 1])) return bands.target[i];
        return old;
    }
    }
    return old;
}

template <typename Rng>
void ScatterMutations(const GeneTree& t, SampleSequences& seqs, const BaseChanger& model,
                      Rng& rng) {
    const int32_t length = seqs.length;
    if (length <= 0) return;
    for (size_t m = t.mutationNode.size(); m-- > 0;) {
        const auto node = static_cast<size_t>(t.mutationNode[m]);
        const int32_t lo = t.first[node];
        const int32_t hi = t.last[node];
        const int32_t site = rng.Random(length);
        if (t.inOrder) {
            // The rows below the node are its span of the walk.
            const char next = model.change(seqs.at(site, lo), rng);
            for (int32_t c = lo; c <= hi; ++c)
                seqs.copy(c)[site] = next;
        } else {
            const char next = model.change(seqs.at(site, t.rowAt(lo)), rng);
            for (int32_t c = lo; c <= hi; ++c)
                seqs.copy(t.rowAt(c))[site] = next;
        }
        if (!seqs.siteHit[site]) {
            seqs.siteHit[site] = true;
            seqs.hitSites.push_back(site);
        }
    }
}

#define QUENLITH_INSTANTIATE(Rng)                                                                  \
    template char BaseChanger::change(char, Rng&) const;                                           \
    template void ScatterMutations(const GeneTree&, SampleSequences&, const BaseChanger&, Rng&);
QUENLITH_INSTANTIATE(RunRandom)
QUENLITH_INSTANTIATE(StreamRandom)
#undef QUENLITH_INSTANTIATE

int32_t countFiniteSegSites(const SampleSequences& seqs) {
    int32_t count = 0;
    for (int32_t site : seqs.hitSites) {
        const char first = seqs.at(site, 0);
        for (int32_t i = 1; i < seqs.copies; ++i) {
            if (seqs.at(site, i) != first) {
                ++count;
                break;
            }
        }
    }
    return count;
}

} // namespace quenlith
