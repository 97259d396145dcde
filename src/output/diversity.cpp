#include "output/diversity.h"

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
    const size_t h = seqs.hitSites.size();

    // Each copy reduced to its upper-cased bytes at the hit sites.
    std::vector<char> reduced(static_cast<size_t>(k) * h);
    for (int32_t c = 0; c < k; ++c) {
        const char* sites = seqs.copy(c);
        char* row = reduced.data() + static_cast<size_t>(c) * h;
        for (size_t j = 0; j < h; ++j)
            row[j] = upper(sites[seqs.hitSites[j]]);
    }
    // Copies with equal reduced rows share a haplotype number; a pair's distance depends
    // only on the two haplotypes.
    std::vector<int32_t> haplotype(static_cast<size_t>(k));
    std::vector<const char*> haplotypeRow;
    {
        std::unordered_map<std::string_view, int32_t> numbers;
        numbers.reserve(static_cast<size_t>(k));
        for (int32_t c = 0; c < k; ++c) {
            const char* row = reduced.data() + static_cast<size_t>(c) * h;
            auto [it, added] = numbers.emplace(std::string_view(row, h),
                                               static_cast<int32_t>(haplotypeRow.size()));
            if (added) haplotypeRow.push_back(row);
            haplotype[static_cast<size_t>(c)] = it->second;
        }
    }

    PairSum pairs(length);
    // Distances from the haplotype x of copy a, filled as the pairs need them; an entry is
    // valid while its stamp is x, so consecutive copies of one haplotype share the row.
    std::vector<double> rowDistance(haplotypeRow.size(), 0);
    std::vector<int32_t> rowStamp(haplotypeRow.size(), -1);
    for (int32_t a = 0; a < k; ++a) {
        const int32_t x = haplotype[static_cast<size_t>(a)];
        const char* xr = haplotypeRow[static_cast<size_t>(x)];
        for (int32_t b = a + 1; b < k; ++b) {
            const int32_t y = haplotype[static_cast<size_t>(b)];
            if (y == x) {
                pairs.add(0);
                continue;
            }
            if (rowStamp[static_cast<size_t>(y)] != x) {
                const char* yr = haplotypeRow[static_cast<size_t>(y)];
                int32_t count = 0;
                for (size_t j = 0; j < h; ++j)
                    count += xr[j] != yr[j];
                rowDistance[static_cast<size_t>(y)] = pairs.distance(count);
                rowStamp[static_cast<size_t>(y)] = x;
            }
            pairs.add(rowDistance[static_cast<size_t>(y)]);
        }
    }
    return pairs.result(k);
}

} // namespace quenlith
