#include "output/diversity.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenlith {

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Accumulates the pairs in the order a ascending, then b ascending, with the arithmetic of
// the indices: d := count / L as a double, the running sum a double, P = k(k - 1) / 2 and
// the final quotients in extended precision.
class PairSum {
  public:
    explicit PairSum(int32_t length) : length_(length) {}

    double distance(int32_t count) const {
        return static_cast<double>(static_cast<long double>(count) / length_);
    }
    void add(double d) {
        if (d == 0) ++identicalPairs_;
        sum_ = static_cast<double>(static_cast<long double>(sum_) + d);
    }
    SequenceDiversity result(int32_t k) const {
        const long double kk1 = static_cast<long double>(static_cast<int64_t>(k) * (k - 1));
        const long double pairs = kk1 / 2.0L;
        SequenceDiversity out;
        out.haplotype = static_cast<double>((pairs - identicalPairs_) / pairs);
        out.nucleotide = static_cast<double>(2.0L / kk1 * sum_);
        return out;
    }

  private:
    int32_t length_;
    int64_t identicalPairs_ = 0;
    double sum_ = 0;
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUENLITH_POPCNT_DISPATCH 1
#define QUENLITH_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define QUENLITH_ALWAYS_INLINE inline
#endif

// Number of kept sites at which two bit-plane rows hold different codes; Planes = 0 reads
// the number of planes at run time.
template <size_t Planes>
QUENLITH_ALWAYS_INLINE int32_t countDiffering(const uint64_t* x, const uint64_t* y, size_t words,
                                              size_t planes) {
    const size_t n = Planes ? Planes : planes;
    int32_t count = 0;
    for (size_t w = 0; w < words; ++w) {
        uint64_t differ = 0;
        for (size_t p = 0; p < n; ++p)
            differ |= x[w * n + p] ^ y[w * n + p];
        count += std::popcount(differ);
    }
    return count;
}

QUENLITH_ALWAYS_INLINE int32_t countByPlanes(const uint64_t* x, const uint64_t* y, size_t words,
                                             size_t planes) {
    switch (planes) {
    case 1:
        return countDiffering<1>(x, y, words, planes);
    case 2:
        return countDiffering<2>(x, y, words, planes);
    case 3:
        return countDiffering<3>(x, y, words, planes);
    default:
        return countDiffering<0>(x, y, words, planes);
    }
}

using DifferingSites = int32_t (*)(const uint64_t*, const uint64_t*, size_t, size_t);

int32_t differingSitesPortable(const uint64_t* x, const uint64_t* y, size_t words, size_t planes) {
    return countByPlanes(x, y, words, planes);
}

#ifdef QUENLITH_POPCNT_DISPATCH
// The same count with the processor's population-count instruction, where it has one.
__attribute__((target("popcnt"))) int32_t differingSitesPopcnt(const uint64_t* x, const uint64_t* y,
                                                               size_t words, size_t planes) {
    return countByPlanes(x, y, words, planes);
}
#endif

DifferingSites differingSitesFunction() {
#ifdef QUENLITH_POPCNT_DISPATCH
    if (__builtin_cpu_supports("popcnt")) return differingSitesPopcnt;
#endif
    return differingSitesPortable;
}

} // namespace

SequenceDiversity sequenceDiversityAllSites(const SampleSequences& seqs) {
    const int32_t k = seqs.copies;
    const int32_t length = seqs.length;
    if (length <= 0 || k < 2) return {};
    PairSum pairs(length);
    for (int32_t a = 0; a < k; ++a) {
        const char* x = seqs.copy(a);
        for (int32_t b = a + 1; b < k; ++b) {
            const char* y = seqs.copy(b);
            int32_t count = 0;
            for (int32_t j = 0; j < length; ++j)
                count += upper(x[j]) != upper(y[j]);
            pairs.add(pairs.distance(count));
        }
    }
    return pairs.result(k);
}

SequenceDiversity sequenceDiversity(const SampleSequences& seqs) {
    const int32_t k = seqs.copies;
    const int32_t length = seqs.length;
    if (length <= 0 || k < 2) return {};
    const size_t copies = static_cast<size_t>(k);
    const size_t h = seqs.hitSites.size();

    // Each copy reduced to its upper-cased bytes at the hit sites (every other site holds
    // the root's byte in all copies).
    std::vector<uint8_t> reduced(copies * h);
    for (size_t c = 0; c < copies; ++c) {
        const char* sites = seqs.copy(static_cast<int32_t>(c));
        uint8_t* row = reduced.data() + c * h;
        for (size_t j = 0; j < h; ++j)
            row[j] = static_cast<uint8_t>(upper(sites[seqs.hitSites[j]]));
    }
    // Per site, the bytes become codes 0, 1, ... in order of appearance; sites where every
    // copy has the same code cannot separate a pair and are dropped.
    std::vector<size_t> kept;
    int maxCodes = 1;
    {
        int16_t codeOf[256];
        std::fill(std::begin(codeOf), std::end(codeOf), int16_t{-1});
        uint8_t seen[256];
        for (size_t j = 0; j < h; ++j) {
            int n = 0;
            for (size_t c = 0; c < copies; ++c) {
                uint8_t& b = reduced[c * h + j];
                if (codeOf[b] < 0) {
                    seen[n] = b;
                    codeOf[b] = static_cast<int16_t>(n++);
                }
                b = static_cast<uint8_t>(codeOf[b]);
            }
            for (int i = 0; i < n; ++i)
                codeOf[seen[i]] = -1;
            if (n > 1) {
                kept.push_back(j);
                maxCodes = std::max(maxCodes, n);
            }
        }
    }
    // Bit planes: bit t of plane p of a copy is bit p of its code at kept site t. Two copies
    // differ at a site when any plane differs there.
    const size_t planes = static_cast<size_t>(std::bit_width(static_cast<unsigned>(maxCodes - 1)));
    const size_t words = (kept.size() + 63) / 64;
    const size_t rowWords = words * planes;
    std::vector<uint64_t> bits(copies * rowWords, 0);
    for (size_t c = 0; c < copies; ++c) {
        uint64_t* row = bits.data() + c * rowWords;
        const uint8_t* codes = reduced.data() + c * h;
        for (size_t t = 0; t < kept.size(); ++t) {
            const unsigned code = codes[kept[t]];
            for (size_t p = 0; p < planes; ++p)
                row[(t / 64) * planes + p] |= static_cast<uint64_t>((code >> p) & 1u) << (t % 64);
        }
    }
    reduced = {};

    // Copies with equal rows share a haplotype number; a pair's distance depends only on
    // the two haplotypes.
    std::vector<int32_t> haplotype(copies);
    std::vector<const uint64_t*> haplotypeRow;
    {
        std::unordered_map<std::string_view, int32_t> numbers;
        numbers.reserve(copies);
        for (size_t c = 0; c < copies; ++c) {
            const uint64_t* row = bits.data() + c * rowWords;
            const std::string_view key(reinterpret_cast<const char*>(row),
                                       rowWords * sizeof(uint64_t));
            auto [it, added] = numbers.emplace(key, static_cast<int32_t>(haplotypeRow.size()));
            if (added) haplotypeRow.push_back(row);
            haplotype[c] = it->second;
        }
    }

    const DifferingSites differingSites = differingSitesFunction();
    PairSum pairs(length);
    // Distances from the haplotype x of copy a, filled as the pairs need them; an entry is
    // valid while its stamp is x, so consecutive copies of one haplotype share the row.
    std::vector<double> rowDistance(haplotypeRow.size(), 0);
    std::vector<int32_t> rowStamp(haplotypeRow.size(), -1);
    for (size_t a = 0; a < copies; ++a) {
        const int32_t x = haplotype[a];
        const uint64_t* xr = haplotypeRow[static_cast<size_t>(x)];
        for (size_t b = a + 1; b < copies; ++b) {
            const int32_t y = haplotype[b];
            if (y == x) {
                pairs.add(0);
                continue;
            }
            if (rowStamp[static_cast<size_t>(y)] != x) {
                const int32_t count =
                    differingSites(xr, haplotypeRow[static_cast<size_t>(y)], words, planes);
                rowDistance[static_cast<size_t>(y)] = pairs.distance(count);
                rowStamp[static_cast<size_t>(y)] = x;
            }
            pairs.add(rowDistance[static_cast<size_t>(y)]);
        }
    }
    return pairs.result(k);
}

} // namespace quenlith
