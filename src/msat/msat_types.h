#pragma once
// Data shared by the microsatellite run and the writers of its files.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenlith {

enum class MsatModel { InfiniteAlleles, Stepwise, RandomAlleles };

// One line of the microsatellite parameter file.
struct MsatLocusParams {
    int32_t LocusLabel = 0;
    int32_t MinSize = 0;
    int32_t MaxSize = 0;
    int32_t RepeatUnit = 0;
    double LocusMutationRate = 0;
};

// Allele sizes of one simulation: k copies (row i is copy number i + 1) by L loci.
struct AlleleSizes {
    int32_t copies = 0;
    int32_t loci = 0;
    std::vector<int32_t> data; // row-major, copy by copy

    void recreate(int32_t k, int32_t l) {
        copies = k;
        loci = l;
        data.assign(static_cast<size_t>(k) * static_cast<size_t>(l), 0);
    }
    int32_t& at(int32_t copy, int32_t locus) {
        return data[static_cast<size_t>(copy) * loci + locus];
    }
    int32_t at(int32_t copy, int32_t locus) const {
        return data[static_cast<size_t>(copy) * loci + locus];
    }
};

// Per-run result tables of a microsatellite run: SimCount rows by L loci, row-major.
struct MsatResultTables {
    int32_t simCount = 0;
    int32_t loci = 0;
    std::vector<int32_t> MsatTmrca;
    std::vector<int32_t> MsatInfAlleles;
    std::vector<int32_t> MsatAlleleCount;
    std::vector<double> MsatGeneDiversity;

    void recreate(int32_t sims, int32_t l) {
        simCount = sims;
        loci = l;
        const size_t n = static_cast<size_t>(sims) * static_cast<size_t>(l);
        MsatTmrca.assign(n, 0);
        MsatInfAlleles.assign(n, 0);
        MsatAlleleCount.assign(n, 0);
        MsatGeneDiversity.assign(n, 0);
    }
    // s is 1-based, l is 1-based.
    size_t index(int32_t s, int32_t l) const {
        return static_cast<size_t>(s - 1) * static_cast<size_t>(loci) + static_cast<size_t>(l - 1);
    }
};

} // namespace quenlith
