#include "dna/dna_setup.h"

#include "base/run_error.h"

#include <cmath>

namespace quenlith {

std::string rootSitesFromFileContent(std::string_view content) {
    std::string sites;
    sites.reserve(content.size());
    for (char c : content) {
        if (c == 26) break;
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        sites += c;
    }
    return sites;
}

namespace {

template <typename Rng>
std::string randomRoot(const DnaSettings& p, int32_t length, DnaSetup& s, Rng& rng) {
    std::string root(static_cast<size_t>(length), '\0');
    if (p.Model == SubstitutionModel::F81 || p.Model == SubstitutionModel::HKY85) {
        s.FreqA = p.FreqA;
        s.FreqC = p.FreqC;
        s.FreqG = p.FreqG;
        s.FreqT = static_cast<double>(1 - (static_cast<long double>(p.FreqA) + p.FreqC + p.FreqG));
        const long double a = 100 * static_cast<long double>(s.FreqA);
        const long double ac = 100 * (static_cast<long double>(s.FreqA) + s.FreqC);
        const long double acg = 100 * (static_cast<long double>(s.FreqA) + s.FreqC + s.FreqG);
        for (int32_t j = 0; j < length; ++j) {
            const long double r = rng.Random(100);
            if (r < a)
                root[j] = 'a';
            else if (r < ac)
                root[j] = 'c';
            else if (r < acg)
                root[j] = 'g';
            else if (r <= 100)
                root[j] = 't';
            // otherwise the site keeps the byte 0, as no band holds it
        }
    } else {
        static const char bases[4] = {'a', 'c', 'g', 't'};
        for (int32_t j = 0; j < length; ++j)
            root[j] = bases[rng.Random(4)];
    }
    return root;
}

} // namespace

template <typename Rng>
DnaSetup prepareDna(const DnaSettings& p, const std::string* rootFromFile, Rng& rng) {
    DnaSetup s;
    int32_t length = p.SequenceLength;
    if (p.InvarSites) {
        const long double l = length;
        length = static_cast<int32_t>(std::trunc(
            static_cast<double>(l - l * static_cast<long double>(p.InvariableFraction))));
    }
    if (rootFromFile) {
        s.RootSequence = *rootFromFile;
        length = static_cast<int32_t>(s.RootSequence.size());
    }
    if (length < 0)
        throw RunError("Range check error", "sequence length " + std::to_string(length));
    s.SequenceLength = length;
    s.SeqMutProb = 1 - std::pow(1 - p.MutationRate, static_cast<long double>(length));
    if (!rootFromFile) s.RootSequence = randomRoot(p, length, s, rng);
    return s;
}

template <typename Rng>
double gammaSeqMutProb(double alpha, long double u, int32_t length, Rng& rng) {
    const double g = gammaVariate(alpha, rng);
    double h = g / alpha * static_cast<double>(u);
    // A per-site probability above 1 (a high rate times a large draw, or the infinite draw
    // that a uniform of exactly 0 gives) is a certain change: 1 - h would be negative and its
    // power meaningless. With u = 0 nothing changes, whatever the draw.
    if (!(h <= 1)) h = u > 0 ? 1 : 0;
    return 1 - std::pow(1 - h, static_cast<double>(length));
}

#define QUENLITH_INSTANTIATE(Rng)                                                                  \
    template DnaSetup prepareDna(const DnaSettings&, const std::string*, Rng&);                    \
    template double gammaSeqMutProb(double, long double, int32_t, Rng&);
QUENLITH_INSTANTIATE(RunRandom)
QUENLITH_INSTANTIATE(StreamRandom)
// The per-generation rate of the generation loop is callable with every generator.
template double gammaSeqMutProb(double, long double, int32_t, PlainRunRandom&);
#undef QUENLITH_INSTANTIATE

} // namespace quenlith
