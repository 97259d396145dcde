#include "output/ms_writer.h"

#include "base/run_error.h"
#include "output/decimal.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace quenlith {

namespace {

unsigned char upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

} // namespace

void MsWriter::open(const std::string& path, const std::string& commandLine,
                    const std::string& seed, WrittenFiles* written) {
    file_ = BlockFile(path, true, written);
    file_.write(commandLine + "\n" + seed + "\n");
}

void MsWriter::addSimulation(const SampleSequences& seqs, std::string_view root,
                             const std::vector<int32_t>& order) {
    block_.clear();
    appendBlock(seqs, root, order, block_);
    file_.write(block_);
}

void MsWriter::appendBlock(const SampleSequences& seqs, std::string_view root,
                           const std::vector<int32_t>& order, std::string& out) {
    const int32_t k = seqs.copies;
    const int32_t L = seqs.length;
    if (static_cast<int32_t>(order.size()) != k)
        throw RunError("Range check error", "ms file: no order of the copies");
    std::vector<int32_t> sites(seqs.hitSites.begin(), seqs.hitSites.end());
    std::sort(sites.begin(), sites.end());
    // The sites whose copies hold the root's base and exactly one other base, found row by
    // row (the rows lie far apart, the sites of one row close together).
    const size_t n = sites.size();
    std::vector<unsigned char> ancestral(n);
    std::vector<int> other(n, -1);
    std::vector<char> rootSeen(n, 0), third(n, 0);
    for (size_t c = 0; c < n; ++c)
        ancestral[c] = upper(root[static_cast<size_t>(sites[c])]);
    {
        const int32_t* const site = sites.data();
        const unsigned char* const a = ancestral.data();
        int* const o = other.data();
        char* const seen = rootSeen.data();
        char* const more = third.data();
        for (int32_t i = 0; i < k; ++i) {
            const char* const row = seqs.copy(i);
            for (size_t c = 0; c < n; ++c) {
                const unsigned char b = upper(row[site[c]]);
                if (b == a[c])
                    seen[c] = 1;
                else if (o[c] < 0)
                    o[c] = b;
                else if (o[c] != b)
                    more[c] = 1;
            }
        }
    }
    std::vector<int32_t> segregating;
    std::vector<unsigned char> rootBase; // of each segregating site
    for (size_t c = 0; c < n; ++c)
        if (rootSeen[c] && other[c] >= 0 && !third[c]) {
            segregating.push_back(sites[c]);
            rootBase.push_back(ancestral[c]);
        }
    out += "\n//\nsegsites: " + std::to_string(segregating.size()) + "\n";
    if (segregating.empty()) return;
    out += "positions:";
    for (const int32_t j : segregating) {
        out += ' ';
        appendPosition(j, L, out);
    }
    out += '\n';
    // The rows written in place (plain pointers: the stores of chars would otherwise reload
    // the vectors' data).
    const size_t S = segregating.size();
    const int32_t* const seg = segregating.data();
    const unsigned char* const base = rootBase.data();
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(k) * (S + 1));
    char* const text = out.data();
    for (const int32_t row : order) {
        const char* copy = seqs.copy(row - 1);
        for (size_t c = 0; c < S; ++c)
            text[at + c] = upper(copy[seg[c]]) == base[c] ? '0' : '1';
        text[at + S] = '\n';
        at += S + 1;
    }
}

void MsWriter::appendPosition(int32_t site, int32_t length, std::string& out) {
    // Enough decimals that neighbouring sites keep distinct positions (ms prints four).
    int decimals = 4;
    int64_t scale = 10000;
    for (; scale < length; scale *= 10)
        ++decimals;
    // site / length rounded to `decimals` places, as printf rounds the double: away from a
    // midpoint the double rounds as the exact fraction does (it lies within 2^-53 of it, a
    // midpoint at least 1 / (2 length 10^decimals) away); midpoints, and lengths beyond 10^6
    // where that margin shrinks, go to printf.
    const int64_t scaled = int64_t{site} * scale;
    const int64_t rest = scaled % length;
    if (length > 1000000 || 2 * rest == length) {
        char buffer[64];
        const int n = std::snprintf(buffer, sizeof buffer, "%.*f", decimals,
                                    static_cast<double>(site) / static_cast<double>(length));
        out.append(buffer, static_cast<size_t>(n));
        return;
    }
    const int64_t rounded = scaled / length + (2 * rest > length ? 1 : 0);
    appendDecimal(out, rounded / scale);
    out += '.';
    char digits[24];
    int64_t fraction = rounded % scale;
    for (int d = decimals; d-- > 0; fraction /= 10)
        digits[d] = static_cast<char>('0' + fraction % 10);
    out.append(digits, static_cast<size_t>(decimals));
}

} // namespace quenlith
