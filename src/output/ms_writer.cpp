#include "output/ms_writer.h"

#include "base/run_error.h"

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

bool MsWriter::biallelicWithRoot(const SampleSequences& seqs, std::string_view root, int32_t j) {
    const unsigned char ancestral = upper(root[static_cast<size_t>(j)]);
    bool rootSeen = false;
    int other = -1;
    for (int32_t i = 0; i < seqs.copies; ++i) {
        const unsigned char b = upper(seqs.copy(i)[j]);
        if (b == ancestral)
            rootSeen = true;
        else if (other < 0)
            other = b;
        else if (other != b)
            return false;
    }
    return rootSeen && other >= 0;
}

void MsWriter::appendBlock(const SampleSequences& seqs, std::string_view root,
                           const std::vector<int32_t>& order, std::string& out) {
    const int32_t k = seqs.copies;
    const int32_t L = seqs.length;
    if (static_cast<int32_t>(order.size()) != k)
        throw RunError("Range check error", "ms file: no order of the copies");
    std::vector<int32_t> sites(seqs.hitSites.begin(), seqs.hitSites.end());
    std::sort(sites.begin(), sites.end());
    std::vector<int32_t> segregating;
    for (const int32_t j : sites)
        if (biallelicWithRoot(seqs, root, j)) segregating.push_back(j);
    out += "\n//\nsegsites: " + std::to_string(segregating.size()) + "\n";
    if (segregating.empty()) return;
    // Enough decimals that neighbouring sites keep distinct positions (ms prints four).
    int decimals = 4;
    for (int64_t scale = 10000; scale < L; scale *= 10)
        ++decimals;
    out += "positions:";
    char buffer[64];
    for (const int32_t j : segregating) {
        const int n = std::snprintf(buffer, sizeof buffer, " %.*f", decimals,
                                    static_cast<double>(j) / static_cast<double>(L));
        out.append(buffer, static_cast<size_t>(n));
    }
    out += '\n';
    for (const int32_t row : order) {
        const char* copy = seqs.copy(row - 1);
        for (const int32_t j : segregating)
            out += upper(copy[j]) == upper(root[static_cast<size_t>(j)]) ? '0' : '1';
        out += '\n';
    }
}

} // namespace quenlith
