#pragma once
// Per-simulation tables of a DNA run, entry s - 1 for simulation s.
#include <cstdint>
#include <vector>

namespace quenlith {

struct PerSimulationTables {
    std::vector<int32_t> TmrcaPerSim;
    std::vector<int32_t> SegSitesPerSim;
    std::vector<int32_t> FiniteSegSitesPerSim;
    std::vector<double> HaplotypeDiversityPerSim;
    std::vector<double> NucleotideDiversityPerSim;
    std::vector<int32_t> MutCountPerSim;

    void recreate(int32_t simCount) {
        const size_t n = static_cast<size_t>(simCount);
        TmrcaPerSim.assign(n, 0);
        SegSitesPerSim.assign(n, 0);
        FiniteSegSitesPerSim.assign(n, 0);
        HaplotypeDiversityPerSim.assign(n, 0);
        NucleotideDiversityPerSim.assign(n, 0);
        MutCountPerSim.assign(n, 0);
    }
};

} // namespace quenlith
