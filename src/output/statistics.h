#pragma once
// Summary statistics of one simulation, computed from the data in memory: the DNA sample
// (neutrality tests, theta estimators, the unfolded site frequency spectrum against the
// root) and the allele sizes of each microsatellite locus. Plus the rows of the statistics
// table (comma-separated, one row per simulation, "NA" where a statistic is undefined).
#include "base/deme_groups.h"
#include "dna/substitution.h"
#include "msat/msat_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlith {

// Bases are compared as printed (upper case), so 'a' and 'A' are one base. The root's base
// is the ancestral state; every other base is derived. A site is segregating when the k
// copies hold more than one base; it counts once in S whatever the number of bases.
struct DnaStatistics {
    int32_t copies = 0; // k
    int32_t length = 0; // L
    int32_t segregatingSites = 0;
    int64_t mutations = 0;  // eta: sum over sites of (bases present - 1)
    int64_t singletons = 0; // eta_s: per site min(bases present once, bases present - 1)
    int32_t haplotypes = 0;
    double haplotypeDiversity = 0;
    double pairwiseDifferences = 0;  // k-hat, per sequence
    std::optional<double> thetaW;    // per site; undefined for L = 0
    std::optional<double> thetaPi;   // per site; undefined for L = 0
    std::optional<double> tajimaD;   // undefined for S = 0 or k < 4
    std::optional<double> fuLiDStar; // undefined for eta = 0 or k < 4
    std::optional<double> fuLiFStar; // undefined for eta = 0 or k < 4
    double fayWuH = 0;
    // Unfolded spectrum: entry i - 1 is the number of sites with i derived copies, i = 1 .. k-1
    // (a copy is derived when its base differs from the root's, whatever that base is).
    std::vector<int64_t> sfs;
};

// Reads only the sites in seqs.hitSites (every other site must hold the root's byte in all
// copies, as ScatterMutations leaves them). A pure function of the simulation's data, so it
// may run on any thread.
DnaStatistics computeDnaStatistics(const SampleSequences& seqs, std::string_view root);

// The neutrality tests from their ingredients (also used by the tests).
std::optional<double> tajimasD(int32_t k, double pairwiseDifferences, int64_t segregatingSites);
std::optional<double> fuLiDStar(int32_t k, int64_t mutations, int64_t singletons);
std::optional<double> fuLiFStar(int32_t k, double pairwiseDifferences, int64_t mutations,
                                int64_t singletons);
double fayWuH(int32_t k, const std::vector<int64_t>& sfs);

struct MsatLocusStatistics {
    int32_t alleles = 0;
    double expectedHeterozygosity = 0;
    std::optional<double> sizeVariance;     // in repeat units squared
    std::optional<double> garzaWilliamsonM; // alleles / (range in repeat units + 1)
};

// Statistics of locus `locus` (0-based) over the k copies. `sizesAreLengths` is false under
// the infinite alleles model, whose sizes are labels: variance and M are then undefined.
MsatLocusStatistics computeMsatLocusStatistics(const AlleleSizes& sizes, int32_t locus,
                                               int32_t repeatUnit, bool sizesAreLengths);

// Per deme and pair of demes of a DNA sample, bases compared as printed. Per deme d with n_d
// copies: S_d, the sites where its copies hold more than one base; pi_d, the mean number of
// differing sites over its n_d(n_d - 1)/2 pairs, per site; theta_W = S_d / a_{n_d} / L;
// Tajima's D of its copies. Per pair (a, b), a before b: d_xy, the mean number of differing
// sites over the n_a n_b pairs of one copy of each, per site, and Hudson's F_ST,
// 1 - ((pi_a + pi_b) / 2) / d_xy (Hudson, Slatkin & Maddison 1992, Genetics 132:583).
struct DemeDnaStatistics {
    struct Deme {
        int32_t segregatingSites = 0;
        std::optional<double> pi, thetaW, tajimaD;
    };
    struct Pair {
        std::optional<double> dxy, fst;
    };
    std::vector<Deme> demes;
    std::vector<Pair> pairs; // (0, 1), (0, 2), ..., (1, 2), ...
};
DemeDnaStatistics computeDemeDnaStatistics(const SampleSequences& seqs, const DemeGroups& groups);

// Per deme and pair of demes at one microsatellite locus. Per deme: the gene diversity
// H_d = 1 - sum n_i(n_i - 1) / (n(n - 1)) and the size variance S_d (denominator n - 1, in
// repeat units squared). Per pair: F_ST = 1 - ((H_a + H_b) / 2) / H_ab, with H_ab = 1 -
// sum_i p_ai p_bi the chance that a copy of each differs, and R_ST = 1 - ((S_a + S_b) / 2) /
// S_ab, with S_ab half the mean squared size difference between a copy of each: the forms
// of Hudson et al. (1992) for allele identity and for sizes (Slatkin 1995, Genetics 139:457).
struct DemeMsatStatistics {
    struct Deme {
        std::optional<double> geneDiversity, sizeVariance;
    };
    struct Pair {
        std::optional<double> fst, rst;
    };
    std::vector<Deme> demes;
    std::vector<Pair> pairs;
};
DemeMsatStatistics computeDemeMsatStatistics(const AlleleSizes& sizes, int32_t locus,
                                             int32_t repeatUnit, bool sizesAreLengths,
                                             const DemeGroups& groups);

// The table's lines, each ended by "\n". With demes, their columns follow the others.
std::string dnaStatisticsHeader(int32_t k, const DemeGroups& groups = {});
void appendDnaStatisticsRow(int64_t simulation, const DnaStatistics& st, std::string& out,
                            const DemeDnaStatistics* demes = nullptr);
std::string msatStatisticsHeader(int32_t loci, const DemeGroups& groups = {});
void appendMsatStatisticsRow(int64_t simulation, const std::vector<MsatLocusStatistics>& loci,
                             std::string& out,
                             const std::vector<DemeMsatStatistics>* demes = nullptr);

// Shortest text that reads back to the same double ("NA" for none).
void appendNumber(std::optional<double> value, std::string& out);

} // namespace quenlith
