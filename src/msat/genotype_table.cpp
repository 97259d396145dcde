#include "msat/genotype_table.h"

namespace quenlith {

namespace {

void appendRightJustified(std::string& out, const std::string& text, size_t width) {
    if (text.size() < width) out.append(width - text.size(), ' ');
    out += text;
}

} // namespace

std::string alleleCode(int32_t size) {
    std::string code = std::to_string(size);
    if (size < 100) code.insert(code.begin(), '0');
    return code;
}

void appendGenotypeBlock(const AlleleSizes& sizes, const std::vector<int32_t>& pairingOrder,
                         std::string& out) {
    const int32_t k = sizes.copies;
    const int32_t loci = sizes.loci;
    out += "Simulated microsatellite data\r\n";
    for (int32_t l = 1; l <= loci; ++l) {
        appendRightJustified(out, "Locus" + std::to_string(l), 10);
        out += "\r\n";
    }
    out += "POP\r\n";
    for (int32_t i = 0; 2 * i < k - 1; ++i) {
        appendRightJustified(out, std::to_string(i + 1) + " , ", 10);
        out += ' ';
        const int32_t first = pairingOrder[static_cast<size_t>(2 * i)] - 1;
        const int32_t second = pairingOrder[static_cast<size_t>(2 * i + 1)] - 1;
        for (int32_t l = 0; l < loci; ++l) {
            out += alleleCode(sizes.at(first, l));
            out += alleleCode(sizes.at(second, l));
            out += ' ';
        }
        out += "\r\n";
    }
    out += "\r\n";
}

} // namespace quenlith
