#include "output/statistics.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <unordered_map>

namespace quenlith {

namespace {

unsigned char upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// a_n = sum_{i=1}^{n-1} 1/i and b_n = sum_{i=1}^{n-1} 1/i^2 (Watterson 1975; Tajima 1989
// calls them a1 and a2).
long double harmonic(int32_t n, int power) {
    long double sum = 0;
    for (int32_t i = 1; i < n; ++i) {
        const long double x = static_cast<long double>(i);
        sum += power == 1 ? 1.0L / x : 1.0L / (x * x);
    }
    return sum;
}

int64_t pairsOf(int64_t n) {
    return n * (n - 1) / 2;
}

} // namespace

std::optional<double> tajimasD(int32_t k, double pairwiseDifferences, int64_t segregatingSites) {
    // Tajima, F. (1989) Statistical method for testing the neutral mutation hypothesis by DNA
    // polymorphism. Genetics 123:585-595, eq. (38): D = (k-hat - S / a1) /
    // sqrt(e1 S + e2 S (S - 1)), with a1, a2, b1, b2, c1, c2, e1 and e2 as defined there.
    // For n = 2 and n = 3 the variance is 0 for every S: D is undefined below 4 copies.
    if (k < 4 || segregatingSites <= 0) return std::nullopt;
    const long double n = k;
    const long double S = static_cast<long double>(segregatingSites);
    const long double a1 = harmonic(k, 1);
    const long double a2 = harmonic(k, 2);
    const long double b1 = (n + 1) / (3 * (n - 1));
    const long double b2 = 2 * (n * n + n + 3) / (9 * n * (n - 1));
    const long double c1 = b1 - 1 / a1;
    const long double c2 = b2 - (n + 2) / (a1 * n) + a2 / (a1 * a1);
    const long double e1 = c1 / a1;
    const long double e2 = c2 / (a1 * a1 + a2);
    const long double variance = e1 * S + e2 * S * (S - 1);
    if (!(variance > 0)) return std::nullopt;
    return static_cast<double>((pairwiseDifferences - S / a1) / std::sqrt(variance));
}

std::optional<double> fuLiDStar(int32_t k, int64_t mutations, int64_t singletons) {
    // Fu, Y.-X. & Li, W.-H. (1993) Statistical tests of neutrality of mutations. Genetics
    // 133:693-709, D* without an outgroup, in the equivalent form of Simonsen, K. L.,
    // Churchill, G. A. & Aquadro, C. F. (1995) Genetics 141:413-429 (appendix):
    //   D* = (eta / a_n - (n - 1) / n * eta_s) / sqrt(u_D* eta + v_D* eta^2),
    //   v_D* = (b_n / a_n^2 - 2/n (1 + 1/a_n - a_n + a_n/n) - 1/n^2) / (a_n^2 + b_n),
    //   u_D* = ((n - 1)/n - 1/a_n) / a_n - v_D*.
    // (Fu and Li's own scaling, (n/(n-1)) eta - a_n eta_s over their u and v, is the same
    // statistic; the unit tests check the two against each other.)
    if (k < 4 || mutations <= 0) return std::nullopt;
    const long double n = k;
    const long double eta = static_cast<long double>(mutations);
    const long double etaS = static_cast<long double>(singletons);
    const long double an = harmonic(k, 1);
    const long double bn = harmonic(k, 2);
    const long double v =
        (bn / (an * an) - 2 / n * (1 + 1 / an - an + an / n) - 1 / (n * n)) / (an * an + bn);
    const long double u = ((n - 1) / n - 1 / an) / an - v;
    const long double variance = u * eta + v * eta * eta;
    if (!(variance > 0)) return std::nullopt;
    return static_cast<double>((eta / an - (n - 1) / n * etaS) / std::sqrt(variance));
}

std::optional<double> fuLiFStar(int32_t k, double pairwiseDifferences, int64_t mutations,
                                int64_t singletons) {
    // Fu & Li (1993) F* without an outgroup, with the variance as corrected by Simonsen,
    // Churchill & Aquadro (1995, appendix):
    //   F* = (k-hat - (n - 1)/n * eta_s) / sqrt(u_F* eta + v_F* eta^2),
    //   v_F* = ((2n^3 + 110n^2 - 255n + 153) / (9n^2 (n - 1)) + 2(n - 1) a_n / n^2
    //           - 8 b_n / n) / (a_n^2 + b_n),
    //   u_F* = ((4n^2 + 19n + 3 - 12(n + 1) a_{n+1}) / (3n(n - 1))) / a_n - v_F*,
    // where a_{n+1} = a_n + 1/n.
    if (k < 4 || mutations <= 0) return std::nullopt;
    const long double n = k;
    const long double eta = static_cast<long double>(mutations);
    const long double etaS = static_cast<long double>(singletons);
    const long double an = harmonic(k, 1);
    const long double bn = harmonic(k, 2);
    const long double an1 = an + 1 / n;
    const long double v = ((2 * n * n * n + 110 * n * n - 255 * n + 153) / (9 * n * n * (n - 1)) +
                           2 * (n - 1) * an / (n * n) - 8 * bn / n) /
                          (an * an + bn);
    const long double u =
        ((4 * n * n + 19 * n + 3 - 12 * (n + 1) * an1) / (3 * n * (n - 1))) / an - v;
    const long double variance = u * eta + v * eta * eta;
    if (!(variance > 0)) return std::nullopt;
    return static_cast<double>((pairwiseDifferences - (n - 1) / n * etaS) / std::sqrt(variance));
}

double fayWuH(int32_t k, const std::vector<int64_t>& sfs) {
    // Fay, J. C. & Wu, C.-I. (2000) Hitchhiking under positive Darwinian selection. Genetics
    // 155:1405-1413: theta_H = sum_i 2 S_i i^2 / (n(n - 1)), theta_pi = sum_i 2 S_i i (n - i) /
    // (n(n - 1)), H = theta_pi - theta_H, with S_i the sites of i derived copies (i = 1 .. n-1).
    // Both thetas come from the unfolded spectrum, so H is 0 for a sample without derived sites.
    const long double n = k;
    long double thetaH = 0, thetaPi = 0;
    for (size_t idx = 0; idx < sfs.size(); ++idx) {
        const long double i = static_cast<long double>(idx + 1);
        const long double s = static_cast<long double>(sfs[idx]);
        thetaH += 2 * s * i * i;
        thetaPi += 2 * s * i * (n - i);
    }
    const long double denominator = n * (n - 1);
    return static_cast<double>(thetaPi / denominator - thetaH / denominator);
}

DnaStatistics computeDnaStatistics(const SampleSequences& seqs, std::string_view root) {
    DnaStatistics st;
    const int32_t k = seqs.copies;
    const int32_t L = seqs.length;
    st.copies = k;
    st.length = L;
    st.sfs.assign(k > 1 ? static_cast<size_t>(k - 1) : 0, 0);
    if (k < 2) return st;

    // Only sites some mutation hit can differ from the root; every other site holds the
    // root's byte in all copies. Sorted so that the haplotype keys read sites in order.
    std::vector<int32_t> sites(seqs.hitSites.begin(), seqs.hitSites.end());
    std::sort(sites.begin(), sites.end());

    std::array<int32_t, 256> count{};
    std::vector<unsigned char> present;
    int64_t differingPairs = 0; // sum over pairs of copies of their differing sites
    std::vector<int32_t> segregating;
    for (const int32_t j : sites) {
        present.clear();
        for (int32_t i = 0; i < k; ++i) {
            const unsigned char b = upper(seqs.copy(i)[j]);
            if (count[b]++ == 0) present.push_back(b);
        }
        const unsigned char ancestral = upper(root[static_cast<size_t>(j)]);
        const int32_t derived = k - count[ancestral];
        if (present.size() > 1) {
            ++st.segregatingSites;
            segregating.push_back(j);
            // The fewest mutations that explain the site: one per base beyond the first.
            const int64_t extra = static_cast<int64_t>(present.size()) - 1;
            st.mutations += extra;
            int64_t once = 0;
            int64_t samePairs = 0;
            for (const unsigned char b : present) {
                once += count[b] == 1;
                samePairs += pairsOf(count[b]);
            }
            // With two copies (or k bases in k copies) every base is present once, yet one
            // base is the lineage the others mutated from: at most `extra` singletons.
            st.singletons += std::min(once, extra);
            differingPairs += pairsOf(k) - samePairs;
        }
        if (derived >= 1 && derived <= k - 1) ++st.sfs[static_cast<size_t>(derived - 1)];
        for (const unsigned char b : present)
            count[b] = 0;
    }

    // Haplotypes: distinct sequences, read at the segregating sites only (all other sites are
    // equal in every copy).
    std::unordered_map<std::string, int32_t> haplotypeCount;
    std::string key(segregating.size(), ' ');
    for (int32_t i = 0; i < k; ++i) {
        const char* copy = seqs.copy(i);
        for (size_t x = 0; x < segregating.size(); ++x)
            key[x] = static_cast<char>(upper(copy[segregating[x]]));
        ++haplotypeCount[key];
    }
    st.haplotypes = static_cast<int32_t>(haplotypeCount.size());
    int64_t samePairs = 0;
    for (const auto& entry : haplotypeCount)
        samePairs += pairsOf(entry.second);

    const long double pairs = static_cast<long double>(pairsOf(k));
    // Nei, M. (1987) Molecular Evolutionary Genetics, eq. (8.4): H = n/(n - 1) (1 - sum x_i^2),
    // here as the equal 1 - sum n_i(n_i - 1) / (n(n - 1)) over the haplotype counts n_i.
    st.haplotypeDiversity = static_cast<double>(1 - static_cast<long double>(samePairs) / pairs);
    // Tajima, F. (1983) Evolutionary relationship of DNA sequences in finite populations.
    // Genetics 105:437-460: k-hat = sum_{i<j} k_ij / C(n, 2), the mean number of differing
    // sites over the pairs of copies.
    const long double khat = static_cast<long double>(differingPairs) / pairs;
    st.pairwiseDifferences = static_cast<double>(khat);
    const long double an = harmonic(k, 1);
    if (L > 0) {
        // Watterson, G. A. (1975) On the number of segregating sites in genetical models
        // without recombination. Theor. Popul. Biol. 7:256-276, eq. (1.4a): theta_W = S / a_n;
        // per site: divided by L.
        st.thetaW = static_cast<double>(static_cast<long double>(st.segregatingSites) / an / L);
        // theta_pi = k-hat (Tajima 1983), per site: divided by L (Nei, M. & Li, W.-H. 1979,
        // PNAS 76:5269-5273, nucleotide diversity).
        st.thetaPi = static_cast<double>(khat / L);
    }
    st.tajimaD = tajimasD(k, st.pairwiseDifferences, st.segregatingSites);
    st.fuLiDStar = fuLiDStar(k, st.mutations, st.singletons);
    st.fuLiFStar = fuLiFStar(k, st.pairwiseDifferences, st.mutations, st.singletons);
    st.fayWuH = fayWuH(k, st.sfs);
    return st;
}

MsatLocusStatistics computeMsatLocusStatistics(const AlleleSizes& sizes, int32_t locus,
                                               int32_t repeatUnit, bool sizesAreLengths) {
    MsatLocusStatistics st;
    const int32_t k = sizes.copies;
    if (k < 1) return st;
    std::vector<int32_t> column(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        column[static_cast<size_t>(i)] = sizes.at(i, locus);
    std::sort(column.begin(), column.end());
    int64_t samePairs = 0;
    for (size_t i = 0; i < column.size();) {
        size_t j = i;
        while (j < column.size() && column[j] == column[i])
            ++j;
        ++st.alleles;
        samePairs += pairsOf(static_cast<int64_t>(j - i));
        i = j;
    }
    if (k >= 2) {
        // Nei, M. (1987) eq. (8.4), the unbiased gene diversity n/(n - 1) (1 - sum x_i^2),
        // computed as 1 - sum n_i(n_i - 1) / (n(n - 1)).
        st.expectedHeterozygosity =
            static_cast<double>(1 - static_cast<long double>(samePairs) / pairsOf(k));
    }
    if (!sizesAreLengths || repeatUnit <= 0) return st;
    const long double unit = repeatUnit;
    if (k >= 2) {
        // Sample variance (denominator n - 1) of the repeat number, size / repeat unit; under
        // the stepwise model its expectation is theta / 2 (Moran, P. A. P. 1975, Theor. Popul.
        // Biol. 8:318-330; Goldstein, D. B. et al. 1995, Genetics 139:463-471).
        long double mean = 0;
        for (const int32_t x : column)
            mean += x;
        mean /= k;
        long double squares = 0;
        for (const int32_t x : column)
            squares += (x - mean) * (x - mean);
        st.sizeVariance = static_cast<double>(squares / (k - 1) / (unit * unit));
    }
    // Garza, J. C. & Williamson, E. G. (2001) Detection of reduction in population size using
    // data from microsatellite loci. Mol. Ecol. 10:305-318: M = k / (r + 1), k the number of
    // alleles, r the size range in repeat units, (largest - smallest) / repeat unit.
    const long double range = (static_cast<long double>(column.back()) - column.front()) / unit;
    st.garzaWilliamsonM = static_cast<double>(st.alleles / (range + 1));
    return st;
}

DemeDnaStatistics computeDemeDnaStatistics(const SampleSequences& seqs, const DemeGroups& groups) {
    DemeDnaStatistics st;
    const size_t D = groups.names.size();
    const int32_t L = seqs.length;
    st.demes.resize(D);
    st.pairs.resize(D * (D - 1) / 2);
    std::vector<int64_t> within(D, 0), between(st.pairs.size(), 0);
    // counts[d * 256 + b]: the copies of deme d holding base b at the site.
    std::vector<int32_t> counts(D * 256, 0);
    std::vector<unsigned char> present;
    std::vector<int32_t> kinds(D, 0); // bases present in deme d
    for (const int32_t j : seqs.hitSites) {
        present.clear();
        for (size_t d = 0, c = 0; d < D; ++d)
            for (int32_t i = 0; i < groups.counts[d]; ++i, ++c) {
                const unsigned char b = upper(seqs.copy(static_cast<int32_t>(c))[j]);
                int32_t& n = counts[d * 256 + b];
                if (n++ == 0) {
                    ++kinds[d];
                    if (std::find(present.begin(), present.end(), b) == present.end())
                        present.push_back(b);
                }
            }
        size_t pair = 0;
        for (size_t a = 0; a < D; ++a) {
            if (kinds[a] > 1) ++st.demes[a].segregatingSites;
            int64_t same = 0;
            for (const unsigned char b : present)
                same += pairsOf(counts[a * 256 + b]);
            within[a] += pairsOf(groups.counts[a]) - same;
            for (size_t o = a + 1; o < D; ++o, ++pair) {
                int64_t sameAcross = 0;
                for (const unsigned char b : present)
                    sameAcross += static_cast<int64_t>(counts[a * 256 + b]) * counts[o * 256 + b];
                between[pair] +=
                    static_cast<int64_t>(groups.counts[a]) * groups.counts[o] - sameAcross;
            }
        }
        for (size_t d = 0; d < D; ++d) {
            kinds[d] = 0;
            for (const unsigned char b : present)
                counts[d * 256 + b] = 0;
        }
    }
    if (L <= 0) return st;
    for (size_t d = 0; d < D; ++d) {
        const int32_t n = groups.counts[d];
        if (n < 2) continue;
        DemeDnaStatistics::Deme& deme = st.demes[d];
        const long double khat = static_cast<long double>(within[d]) / pairsOf(n);
        deme.pi = static_cast<double>(khat / L);
        deme.thetaW = static_cast<double>(deme.segregatingSites / harmonic(n, 1) / L);
        deme.tajimaD = tajimasD(n, static_cast<double>(khat), deme.segregatingSites);
    }
    size_t pair = 0;
    for (size_t a = 0; a < D; ++a)
        for (size_t o = a + 1; o < D; ++o, ++pair) {
            const long double dxy = static_cast<long double>(between[pair]) /
                                    (static_cast<long double>(groups.counts[a]) * groups.counts[o]);
            st.pairs[pair].dxy = static_cast<double>(dxy / L);
            const DemeDnaStatistics::Deme &x = st.demes[a], &y = st.demes[o];
            // Hudson, Slatkin & Maddison (1992): F_ST = 1 - H_w / H_b, the mean diversity
            // within the two demes over the divergence between them.
            if (x.pi && y.pi && between[pair] > 0) {
                const long double piWithin =
                    (static_cast<long double>(within[a]) / pairsOf(groups.counts[a]) +
                     static_cast<long double>(within[o]) / pairsOf(groups.counts[o])) /
                    2;
                st.pairs[pair].fst = static_cast<double>(1 - piWithin / dxy);
            }
        }
    return st;
}

DemeMsatStatistics computeDemeMsatStatistics(const AlleleSizes& sizes, int32_t locus,
                                             int32_t repeatUnit, bool sizesAreLengths,
                                             const DemeGroups& groups) {
    DemeMsatStatistics st;
    const size_t D = groups.names.size();
    st.demes.resize(D);
    st.pairs.resize(D * (D - 1) / 2);
    const bool lengths = sizesAreLengths && repeatUnit > 0;
    // Each deme's sizes sorted, in repeat units where they are lengths.
    std::vector<std::vector<int32_t>> column(D);
    std::vector<long double> mean(D, 0), squares(D, 0);
    std::vector<int64_t> samePairs(D, 0);
    for (size_t d = 0; d < D; ++d) {
        const int32_t first = groups.start(d);
        for (int32_t i = 0; i < groups.counts[d]; ++i)
            column[d].push_back(sizes.at(first + i, locus));
        std::sort(column[d].begin(), column[d].end());
        for (size_t i = 0; i < column[d].size();) {
            size_t j = i;
            while (j < column[d].size() && column[d][j] == column[d][i])
                ++j;
            samePairs[d] += pairsOf(static_cast<int64_t>(j - i));
            i = j;
        }
        const int32_t n = groups.counts[d];
        for (const int32_t x : column[d])
            mean[d] += x;
        mean[d] /= n;
        for (const int32_t x : column[d])
            squares[d] += (x - mean[d]) * (x - mean[d]);
        if (n < 2) continue;
        st.demes[d].geneDiversity =
            static_cast<double>(1 - static_cast<long double>(samePairs[d]) / pairsOf(n));
        if (lengths)
            st.demes[d].sizeVariance = static_cast<double>(
                squares[d] / (n - 1) / (static_cast<long double>(repeatUnit) * repeatUnit));
    }
    size_t pair = 0;
    for (size_t a = 0; a < D; ++a)
        for (size_t o = a + 1; o < D; ++o, ++pair) {
            const long double na = groups.counts[a], no = groups.counts[o];
            // Copies of a and o holding the same size, by merging the sorted columns.
            int64_t same = 0;
            for (size_t i = 0, j = 0; i < column[a].size() && j < column[o].size();) {
                if (column[a][i] < column[o][j]) {
                    ++i;
                } else if (column[o][j] < column[a][i]) {
                    ++j;
                } else {
                    const int32_t x = column[a][i];
                    int64_t ca = 0, co = 0;
                    for (; i < column[a].size() && column[a][i] == x; ++i)
                        ++ca;
                    for (; j < column[o].size() && column[o][j] == x; ++j)
                        ++co;
                    same += ca * co;
                }
            }
            const std::optional<double> ha = st.demes[a].geneDiversity,
                                        ho = st.demes[o].geneDiversity;
            const long double hab = 1 - static_cast<long double>(same) / (na * no);
            if (ha && ho && hab > 0)
                st.pairs[pair].fst = static_cast<double>(1 - (*ha + *ho) / 2 / hab);
            const std::optional<double> sa = st.demes[a].sizeVariance,
                                        so = st.demes[o].sizeVariance;
            // Half the mean squared difference between a copy of each: the two variances
            // (denominator n) plus the squared difference of the means, halved.
            const long double unit2 = static_cast<long double>(repeatUnit) * repeatUnit;
            const long double sab =
                (squares[a] / na + squares[o] / no + (mean[a] - mean[o]) * (mean[a] - mean[o])) /
                2 / unit2;
            if (sa && so && sab > 0)
                st.pairs[pair].rst = static_cast<double>(1 - (*sa + *so) / 2 / sab);
        }
    return st;
}

void appendNumber(std::optional<double> value, std::string& out) {
    if (!value || !std::isfinite(*value)) {
        out += "NA";
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, *value);
    out.append(buffer, result.ptr);
}

std::string dnaStatisticsHeader(int32_t k, const DemeGroups& groups) {
    std::string header = "simulation,segregating_sites,haplotypes,haplotype_diversity,"
                         "pairwise_differences,theta_W,theta_pi,tajima_D,fu_li_D_star,"
                         "fu_li_F_star,fay_wu_H";
    for (int32_t i = 1; i < k; ++i)
        header += ",sfs_" + std::to_string(i);
    for (const std::string& d : groups.names)
        header += ",segregating_sites_" + d + ",pi_" + d + ",theta_W_" + d + ",tajima_D_" + d;
    for (size_t a = 0; a < groups.names.size(); ++a)
        for (size_t o = a + 1; o < groups.names.size(); ++o) {
            const std::string pair = groups.names[a] + "_" + groups.names[o];
            header += ",dxy_" + pair + ",fst_" + pair;
        }
    header += '\n';
    return header;
}

void appendDnaStatisticsRow(int64_t simulation, const DnaStatistics& st, std::string& out,
                            const DemeDnaStatistics* demes) {
    out += std::to_string(simulation);
    out += ',';
    out += std::to_string(st.segregatingSites);
    out += ',';
    out += std::to_string(st.haplotypes);
    for (const std::optional<double> x :
         {std::optional<double>(st.haplotypeDiversity),
          std::optional<double>(st.pairwiseDifferences), st.thetaW, st.thetaPi, st.tajimaD,
          st.fuLiDStar, st.fuLiFStar, std::optional<double>(st.fayWuH)}) {
        out += ',';
        appendNumber(x, out);
    }
    for (const int64_t c : st.sfs) {
        out += ',';
        out += std::to_string(c);
    }
    if (demes) {
        for (const DemeDnaStatistics::Deme& d : demes->demes) {
            out += ',';
            out += std::to_string(d.segregatingSites);
            for (const std::optional<double> x : {d.pi, d.thetaW, d.tajimaD}) {
                out += ',';
                appendNumber(x, out);
            }
        }
        for (const DemeDnaStatistics::Pair& p : demes->pairs) {
            out += ',';
            appendNumber(p.dxy, out);
            out += ',';
            appendNumber(p.fst, out);
        }
    }
    out += '\n';
}

std::string msatStatisticsHeader(int32_t loci, const DemeGroups& groups) {
    std::string header = "simulation";
    for (int32_t l = 1; l <= loci; ++l) {
        const std::string n = std::to_string(l);
        header += ",alleles_" + n + ",expected_heterozygosity_" + n + ",size_variance_" + n +
                  ",garza_williamson_M_" + n;
    }
    for (int32_t l = 1; !groups.empty() && l <= loci; ++l) {
        const std::string n = std::to_string(l);
        for (const std::string& d : groups.names)
            header += ",gene_diversity_" + d + "_" + n + ",size_variance_" + d + "_" + n;
        for (size_t a = 0; a < groups.names.size(); ++a)
            for (size_t o = a + 1; o < groups.names.size(); ++o) {
                const std::string pair = groups.names[a] + "_" + groups.names[o] + "_" + n;
                header += ",fst_" + pair + ",rst_" + pair;
            }
    }
    header += '\n';
    return header;
}

void appendMsatStatisticsRow(int64_t simulation, const std::vector<MsatLocusStatistics>& loci,
                             std::string& out, const std::vector<DemeMsatStatistics>* demes) {
    out += std::to_string(simulation);
    for (const MsatLocusStatistics& st : loci) {
        out += ',';
        out += std::to_string(st.alleles);
        out += ',';
        appendNumber(st.expectedHeterozygosity, out);
        out += ',';
        appendNumber(st.sizeVariance, out);
        out += ',';
        appendNumber(st.garzaWilliamsonM, out);
    }
    for (size_t l = 0; demes && l < demes->size(); ++l) {
        for (const DemeMsatStatistics::Deme& d : (*demes)[l].demes)
            for (const std::optional<double> x : {d.geneDiversity, d.sizeVariance}) {
                out += ',';
                appendNumber(x, out);
            }
        for (const DemeMsatStatistics::Pair& p : (*demes)[l].pairs)
            for (const std::optional<double> x : {p.fst, p.rst}) {
                out += ',';
                appendNumber(x, out);
            }
    }
    out += '\n';
}

} // namespace quenlith
