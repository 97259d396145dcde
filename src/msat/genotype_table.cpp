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
                         std::string& out, const DemeGroups* demes) {
    const int32_t k = sizes.copies;
    const int32_t loci = sizes.loci;
    out += "Simulated microsatellite data\r\n";
    for (int32_t l = 1; l <= loci; ++l) {
        appendRightJustified(out, "Locus" + std::to_string(l), 10);
        out += "\r\n";
    }
    // The individual of positions `at` and `at` + 1, named `name`.
    const auto individual = [&](const std::string& name, int32_t at) {
        appendRightJustified(out, name + " , ", 10);
        out += ' ';
        const int32_t first = pairingOrder[static_cast<size_t>(at)] - 1;
        const int32_t second = pairingOrder[static_cast<size_t>(at + 1)] - 1;
        for (int32_t l = 0; l < loci; ++l) {
            out += alleleCode(sizes.at(first, l));
            out += alleleCode(sizes.at(second, l));
            out += ' ';
        }
        out += "\r\n";
    };
    if (demes && !demes->empty()) {
        for (size_t d = 0; d < demes->names.size(); ++d) {
            out += "POP\r\n";
            const int32_t start = demes->start(d);
            for (int32_t j = 0; 2 * j < demes->counts[d] - 1; ++j)
                individual(demes->names[d] + "_" + std::to_string(j + 1), start + 2 * j);
        }
    } else {
        out += "POP\r\n";
        for (int32_t i = 0; 2 * i < k - 1; ++i)
            individual(std::to_string(i + 1), 2 * i);
    }
    out += "\r\n";
}

} // namespace quenlith
