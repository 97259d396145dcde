#include "output/ms_writer.h"

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
                    const std::string& seed) {
    file_ = BlockFile(path, true);
    file_.write(commandLine + "\n" + seed + "\n");
}

void MsWriter::addSimulation(const SampleSequences& seqs, std::string_view root) {
    block_.clear();
    appendBlock(seqs, root, block_);
    file_.write(block_);
}

void MsWriter::appendBlock(const SampleSequences& seqs, std::string_view root, std::string& out) {
    const int32_t k = seqs.copies;
    const int32_t L = seqs.length;
    std::vector<int32_t> sites(seqs.hitSites.begin(), seqs.hitSites.end());
    std::sort(sites.begin(), sites.end());
    // Segregating: more than one base among the copies (the same sites as the VCF and the
    // statistics table).
    std::vector<int32_t> segregating;
    for (const int32_t j : sites) {
        const unsigned char first = upper(seqs.copy(0)[j]);
        for (int32_t i = 1; i < k; ++i)
            if (upper(seqs.copy(i)[j]) != first) {
                segregating.push_back(j);
                break;
            }
    }
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
    for (int32_t i = 0; i < k; ++i) {
        const char* copy = seqs.copy(i);
        for (const int32_t j : segregating)
            out += upper(copy[j]) == upper(root[static_cast<size_t>(j)]) ? '0' : '1';
        out += '\n';
    }
}

} // namespace quenlith
