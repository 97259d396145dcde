#include "output/summary_table.h"

#include "base/file_io.h"

#include <cstdio>

namespace quenlith {

namespace {

constexpr const char* kEol = "\r\n";

// printf's fixed notation: `decimals` decimals, right-justified in at least `width`.
std::string fixed(double value, int width, int decimals) {
    char buf[512];
    const int n = std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
    if (n >= 0 && static_cast<size_t>(n) < sizeof buf)
        return std::string(buf, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), "%*.*f", width, decimals, value);
    big.resize(static_cast<size_t>(n));
    return big;
}

} // namespace

std::string dnaSummaryTable(const PerSimulationTables& t, bool diversity, int32_t firstSim) {
    std::string out = diversity ? "Simulation#, Tmrca, Infinite s, Finite s, Allelic Div, "
                                  "Nucleotide Div"
                                : "Simulation #, Tmrca, Infinite s, Finite s";
    out += kEol;
    for (size_t i = 0; i < t.TmrcaPerSim.size(); ++i) {
        out += std::to_string(static_cast<int64_t>(i) + firstSim) + ", " +
               std::to_string(t.TmrcaPerSim[i]) + ", " + std::to_string(t.SegSitesPerSim[i]) +
               ", " + std::to_string(t.FiniteSegSitesPerSim[i]);
        if (diversity)
            out += ", " + fixed(t.HaplotypeDiversityPerSim[i], 4, 5) + ", " +
                   fixed(t.NucleotideDiversityPerSim[i], 4, 5);
        out += kEol;
    }
    return out;
}

std::string msatSummaryTable(const MsatResultTables& t, int32_t loci, int32_t k, bool diversity,
                             int32_t firstSim) {
    std::string out = "Simulation #, ";
    for (int32_t l = 1; l <= loci; ++l) {
        const std::string n = std::to_string(l);
        out += "Tmrca:Loc " + n + ", Inf a:Loc " + n + ", Fin a:Loc " + n + ", ";
        if (diversity) out += "Allelic Diversity:Loc " + n + ", Gene Diversity:Loc " + n + ", ";
    }
    out += kEol;
    for (int32_t s = 1; s <= t.simCount; ++s) {
        out += std::to_string(static_cast<int64_t>(s) + firstSim - 1) + ", ";
        for (int32_t l = 1; l <= loci; ++l) {
            const size_t i = t.index(s, l);
            out += std::to_string(t.MsatTmrca[i]) + ", " + std::to_string(t.MsatInfAlleles[i]) +
                   ", " + std::to_string(t.MsatAlleleCount[i]) + ", ";
            if (diversity) {
                const double allelic =
                    static_cast<double>(static_cast<long double>(t.MsatAlleleCount[i]) / k);
                out += fixed(allelic, 6, 3) + ", " + fixed(t.MsatGeneDiversity[i], 6, 3) + ", ";
            }
        }
        out += kEol;
    }
    return out;
}

void writeSummaryTable(const std::string& workDir, const std::string& name,
                       const std::string& table, WrittenFiles* written) {
    writeWholeFile(joinPath(workDir, name), table, written);
}

} // namespace quenlith
