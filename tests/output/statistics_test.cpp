// The statistics of the statistics table against plain implementations written from the
// definitions (sequences as strings, every pair, every site), over many random alignments
// with triallelic sites, lower-case bases and sites hit without a change; plus the
// published worked example of Tajima's D and Fu and Li's own form of D*.
#include "output/statistics.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace quenlith;

namespace {

struct Alignment {
    std::string root;
    std::vector<std::string> copies;
    SampleSequences seqs;
};

char up(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// k copies of a random root; a few sites get one or two other bases in some copies (mixed
// case), a few are marked hit without a change.
Alignment randomAlignment(std::mt19937_64& gen, int32_t k, int32_t L) {
    Alignment a;
    const std::string bases = "ACGTacgt";
    std::uniform_int_distribution<int> base(0, 7), coin(0, 9);
    for (int32_t j = 0; j < L; ++j)
        a.root += bases[static_cast<size_t>(base(gen))];
    a.copies.assign(static_cast<size_t>(k), a.root);
    a.seqs.reset(a.root, k);
    for (int32_t j = 0; j < L; ++j) {
        const int kind = coin(gen);
        if (kind >= 6) continue;
        a.seqs.hitSites.push_back(j);
        a.seqs.siteHit[static_cast<size_t>(j)] = true;
        if (kind == 0) continue; // hit, unchanged
        const char b1 = bases[static_cast<size_t>(base(gen))];
        const char b2 = bases[static_cast<size_t>(base(gen))];
        for (int32_t i = 0; i < k; ++i) {
            const int r = coin(gen);
            char c = a.root[static_cast<size_t>(j)];
            if (r < (kind == 1 ? 9 : 3))
                c = b1; // kind 1: nearly every copy derived
            else if (r < 5 && kind >= 4)
                c = b2;
            a.copies[static_cast<size_t>(i)][static_cast<size_t>(j)] = c;
            a.seqs.copy(i)[j] = c;
        }
    }
    return a;
}

double harmonic(int n, int p) {
    double s = 0;
    for (int i = 1; i < n; ++i)
        s += 1.0 / std::pow(i, p);
    return s;
}

struct Plain {
    int S = 0, haplotypes = 0;
    long eta = 0, etaS = 0;
    double hd = 0, khat = 0;
    std::vector<long> sfs;
};

Plain plain(const Alignment& a) {
    Plain p;
    const int k = static_cast<int>(a.copies.size());
    const int L = static_cast<int>(a.root.size());
    std::vector<std::string> upper(a.copies);
    for (auto& s : upper)
        for (auto& c : s)
            c = up(c);
    p.sfs.assign(static_cast<size_t>(k - 1), 0);
    for (int j = 0; j < L; ++j) {
        std::map<char, int> n;
        for (const auto& s : upper)
            ++n[s[static_cast<size_t>(j)]];
        if (n.size() > 1) {
            ++p.S;
            p.eta += static_cast<long>(n.size()) - 1;
            long once = 0;
            for (const auto& [b, c] : n)
                once += c == 1;
            p.etaS += std::min(once, static_cast<long>(n.size()) - 1);
        }
        int derived = 0;
        for (const auto& s : upper)
            derived += s[static_cast<size_t>(j)] != up(a.root[static_cast<size_t>(j)]);
        if (derived > 0 && derived < k) ++p.sfs[static_cast<size_t>(derived - 1)];
    }
    long differing = 0, differentPairs = 0, pairs = 0;
    for (int x = 0; x < k; ++x)
        for (int y = x + 1; y < k; ++y) {
            ++pairs;
            int d = 0;
            for (int j = 0; j < L; ++j)
                d += upper[static_cast<size_t>(x)][static_cast<size_t>(j)] !=
                     upper[static_cast<size_t>(y)][static_cast<size_t>(j)];
            differing += d;
            differentPairs += d > 0;
        }
    p.khat = static_cast<double>(differing) / static_cast<double>(pairs);
    p.hd = static_cast<double>(differentPairs) / static_cast<double>(pairs);
    p.haplotypes = static_cast<int>(std::set<std::string>(upper.begin(), upper.end()).size());
    return p;
}

double plainTajima(int n, double khat, int S) {
    const double a1 = harmonic(n, 1), a2 = harmonic(n, 2);
    const double b1 = (n + 1.0) / (3.0 * (n - 1)),
                 b2 = 2.0 * (n * n + n + 3.0) / (9.0 * n * (n - 1));
    const double c1 = b1 - 1 / a1, c2 = b2 - (n + 2.0) / (a1 * n) + a2 / (a1 * a1);
    return (khat - S / a1) / std::sqrt(c1 / a1 * S + c2 / (a1 * a1 + a2) * S * (S - 1.0));
}

// Fu and Li (1993) in their own scaling: ((n/(n-1)) eta - a_n eta_s) / sqrt(u eta + v eta^2),
// with d_n and their v_D*, u_D*: a different algebra from the program's form.
double fuLiOwnDStar(int n, long eta, long etaS) {
    const double an = harmonic(n, 1), bn = harmonic(n, 2), an1 = an + 1.0 / n;
    const double cn = 2 * (n * an - 2 * (n - 1)) / ((n - 1.0) * (n - 2.0));
    const double dn = cn + (n - 2.0) / ((n - 1.0) * (n - 1.0)) +
                      2.0 / (n - 1) * (1.5 - (2 * an1 - 3) / (n - 2.0) - 1.0 / n);
    const double r = n / (n - 1.0);
    const double v = (r * r * bn + an * an * dn - 2 * n * an * (an + 1) / ((n - 1.0) * (n - 1.0))) /
                     (an * an + bn);
    const double u = r * (an - r) - v;
    return (r * eta - an * etaS) / std::sqrt(u * eta + v * eta * eta);
}

void expectNear(double expected, std::optional<double> actual, const char* what) {
    ASSERT_TRUE(actual.has_value()) << what;
    EXPECT_NEAR(*actual, expected, 1e-10 * std::max(1.0, std::fabs(expected))) << what;
}

} // namespace

TEST(Statistics, DnaAgainstPlainImplementationOnRandomAlignments) {
    std::mt19937_64 gen(20261208);
    int triallelic = 0, withD = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t k = 2 + static_cast<int32_t>(gen() % 25);
        const int32_t L = static_cast<int32_t>(gen() % 40);
        const Alignment a = randomAlignment(gen, k, L);
        const DnaStatistics st = computeDnaStatistics(a.seqs, a.root);
        const Plain p = plain(a);
        ASSERT_EQ(st.segregatingSites, p.S) << trial;
        ASSERT_EQ(st.mutations, p.eta);
        ASSERT_EQ(st.singletons, p.etaS);
        ASSERT_EQ(st.haplotypes, p.haplotypes);
        ASSERT_EQ(st.sfs, std::vector<int64_t>(p.sfs.begin(), p.sfs.end()));
        triallelic += p.eta > p.S;
        EXPECT_NEAR(st.haplotypeDiversity, p.hd, 1e-12);
        EXPECT_NEAR(st.pairwiseDifferences, p.khat, 1e-12 * std::max(1.0, p.khat));
        if (L == 0) {
            EXPECT_FALSE(st.thetaW || st.thetaPi);
        } else {
            expectNear(p.S / harmonic(k, 1) / L, st.thetaW, "theta_W");
            expectNear(p.khat / L, st.thetaPi, "theta_pi");
        }
        if (k >= 4 && p.S > 0) {
            ++withD;
            expectNear(plainTajima(k, p.khat, p.S), st.tajimaD, "Tajima's D");
            expectNear(fuLiOwnDStar(k, p.eta, p.etaS), st.fuLiDStar, "Fu and Li's D*");
            ASSERT_TRUE(st.fuLiFStar.has_value());
        } else {
            EXPECT_FALSE(st.tajimaD || st.fuLiDStar || st.fuLiFStar) << k << " " << p.S;
        }
        // Fay and Wu's H site by site from the derived counts.
        double h = 0;
        for (int i = 1; i < k; ++i)
            h += p.sfs[static_cast<size_t>(i - 1)] * (2.0 * i * (k - i) - 2.0 * i * i) /
                 (k * (k - 1.0));
        EXPECT_NEAR(st.fayWuH, h, 1e-10 * std::max(1.0, std::fabs(h)));
    }
    EXPECT_GT(triallelic, 50);
    EXPECT_GT(withD, 200);
}

TEST(Statistics, PublishedValuesAndUndefinedCases) {
    // DendroPy's verification example of Tajima's D: n = 10, k-hat = 3.888889, S = 16.
    expectNear(-1.44617198561, tajimasD(10, 3.888889, 16), "D");
    EXPECT_NEAR(*tajimasD(10, 3.888889, 16), -1.44617198561, 1e-10);
    // Below four copies the variance of d is 0 whatever S is; no segregating site: undefined.
    EXPECT_FALSE(tajimasD(3, 1.0, 2));
    EXPECT_FALSE(tajimasD(10, 0, 0));
    EXPECT_FALSE(fuLiDStar(10, 0, 0));
    EXPECT_FALSE(fuLiFStar(3, 1, 2, 1));
    // F* of a star-like sample: every mutation a singleton, k-hat = 2 eta / n.
    const int n = 20;
    const auto f = fuLiFStar(n, 2.0 * 30 / n, 30, 30);
    const auto d = fuLiDStar(n, 30, 30);
    ASSERT_TRUE(f && d);
    EXPECT_LT(*f, 0);
    EXPECT_LT(*d, 0);
    // H of one site with every copy but one derived: (2(n-1) - 2(n-1)^2) / (n(n-1)).
    std::vector<int64_t> sfs(n - 1, 0);
    sfs[n - 2] = 1;
    EXPECT_NEAR(fayWuH(n, sfs), (2.0 * (n - 1) - 2.0 * (n - 1) * (n - 1)) / (n * (n - 1.0)), 1e-14);
}

TEST(Statistics, MicrosatelliteLociAgainstPlainImplementation) {
    std::mt19937_64 gen(77);
    for (int trial = 0; trial < 300; ++trial) {
        const int32_t k = 2 + static_cast<int32_t>(gen() % 40);
        const int32_t loci = 1 + static_cast<int32_t>(gen() % 4);
        AlleleSizes sizes;
        sizes.recreate(k, loci);
        std::vector<int32_t> units(static_cast<size_t>(loci));
        for (int32_t l = 0; l < loci; ++l) {
            units[static_cast<size_t>(l)] = 1 + static_cast<int32_t>(gen() % 5);
            const int32_t base = 90 + static_cast<int32_t>(gen() % 20);
            const int32_t spread = static_cast<int32_t>(gen() % 6);
            for (int32_t i = 0; i < k; ++i)
                sizes.at(i, l) = base + units[static_cast<size_t>(l)] *
                                            (spread ? static_cast<int32_t>(gen() % spread) : 0);
        }
        for (int32_t l = 0; l < loci; ++l) {
            const int32_t unit = units[static_cast<size_t>(l)];
            const MsatLocusStatistics st = computeMsatLocusStatistics(sizes, l, unit, true);
            std::map<int32_t, int> count;
            double sum = 0;
            for (int32_t i = 0; i < k; ++i) {
                ++count[sizes.at(i, l)];
                sum += sizes.at(i, l);
            }
            double sq = 0;
            for (const auto& [size, c] : count)
                sq += (static_cast<double>(c) / k) * (static_cast<double>(c) / k);
            const double mean = sum / k;
            double var = 0;
            for (int32_t i = 0; i < k; ++i)
                var += (sizes.at(i, l) - mean) * (sizes.at(i, l) - mean);
            var /= (k - 1.0) * unit * unit;
            const double range =
                (count.rbegin()->first - count.begin()->first) / static_cast<double>(unit);
            ASSERT_EQ(st.alleles, static_cast<int32_t>(count.size()));
            EXPECT_NEAR(st.expectedHeterozygosity, k / (k - 1.0) * (1 - sq), 1e-12);
            expectNear(var, st.sizeVariance, "variance");
            expectNear(count.size() / (range + 1), st.garzaWilliamsonM, "M");
            // Infinite alleles: sizes are labels.
            const MsatLocusStatistics labels = computeMsatLocusStatistics(sizes, l, unit, false);
            EXPECT_EQ(labels.alleles, st.alleles);
            EXPECT_FALSE(labels.sizeVariance || labels.garzaWilliamsonM);
        }
    }
}

TEST(Statistics, TableLinesHaveOneFieldPerColumnAndReadBack) {
    std::mt19937_64 gen(3);
    for (const int32_t k : {2, 3, 4, 9}) {
        const Alignment a = randomAlignment(gen, k, 30);
        const DnaStatistics st = computeDnaStatistics(a.seqs, a.root);
        const std::string header = dnaStatisticsHeader(k);
        std::string row;
        appendDnaStatisticsRow(12, st, row);
        auto fields = [](const std::string& line) {
            std::vector<std::string> out(1);
            for (const char c : line.substr(0, line.size() - 1)) {
                if (c == ',')
                    out.emplace_back();
                else
                    out.back().push_back(c);
            }
            return out;
        };
        const auto h = fields(header), r = fields(row);
        ASSERT_EQ(h.size(), r.size());
        ASSERT_EQ(h.size(), 11u + static_cast<size_t>(k - 1));
        EXPECT_EQ(h[7], "tajima_D");
        EXPECT_EQ(r[0], "12");
        EXPECT_EQ(r[7] == "NA", k < 4 || st.segregatingSites == 0);
        EXPECT_EQ(std::stod(r[4]), st.pairwiseDifferences); // shortest text reads back exactly
    }
    std::string out;
    appendNumber(0.1, out);
    appendNumber(std::nullopt, out);
    appendNumber(1e-300, out);
    EXPECT_EQ(out, "0.1NA1e-300");
    EXPECT_EQ(msatStatisticsHeader(2), "simulation,alleles_1,expected_heterozygosity_1,size_"
                                       "variance_1,garza_williamson_M_1,alleles_2,expected_"
                                       "heterozygosity_2,size_variance_2,garza_williamson_M_2\n");
}

namespace {

// 1 to 4 random demes of k copies in all, some of one copy.
DemeGroups randomDemes(std::mt19937_64& gen, int32_t k) {
    DemeGroups g;
    const int32_t demes = std::min<int32_t>(k, 1 + static_cast<int32_t>(gen() % 4));
    for (int32_t d = 0, left = k; d < demes; left -= g.counts.back(), ++d) {
        g.names.push_back("D" + std::to_string(d));
        g.counts.push_back(d + 1 == demes ? left : 1 + int32_t(gen() % (left - demes + d + 1)));
    }
    return g;
}

// The mean of f(x, y) over the pairs of a copy of deme a and another of deme b.
template <typename F> double meanOverPairs(const DemeGroups& g, size_t a, size_t b, F&& f) {
    double sum = 0, pairs = 0;
    for (int32_t x = 0; x < g.counts[a]; ++x)
        for (int32_t y = a == b ? x + 1 : 0; y < g.counts[b]; ++y, ++pairs)
            sum += f(g.start(a) + x, g.start(b) + y);
    return sum / pairs;
}

} // namespace

// Per deme and pair, DNA and microsatellites, from the definitions: every pair of copies.
TEST(Statistics, PerDemeAgainstDefinitionsOnRandomSamples) {
    std::mt19937_64 gen(20261209);
    int fsts = 0, rsts = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int32_t k = 2 + static_cast<int32_t>(gen() % 20);
        const int32_t L = 1 + static_cast<int32_t>(gen() % 40);
        const Alignment a = randomAlignment(gen, k, L);
        const DemeGroups g = randomDemes(gen, k);
        const DemeDnaStatistics st = computeDemeDnaStatistics(a.seqs, g);
        const auto differing = [&](int32_t x, int32_t y) {
            double d = 0;
            for (int32_t j = 0; j < L; ++j)
                d += up(a.copies[size_t(x)][size_t(j)]) != up(a.copies[size_t(y)][size_t(j)]);
            return d / L;
        };
        for (size_t d = 0; d < g.names.size(); ++d) {
            Alignment sub{
                a.root,
                {a.copies.begin() + g.start(d), a.copies.begin() + g.start(d) + g.counts[d]},
                {}};
            const int32_t n = g.counts[d];
            const Plain p = n >= 2 ? plain(sub) : Plain{};
            ASSERT_EQ(st.demes[d].segregatingSites, p.S) << trial;
            if (n < 2) {
                EXPECT_FALSE(st.demes[d].pi || st.demes[d].thetaW || st.demes[d].tajimaD);
                continue;
            }
            expectNear(meanOverPairs(g, d, d, differing), st.demes[d].pi, "pi");
            expectNear(p.S / harmonic(n, 1) / L, st.demes[d].thetaW, "theta_W");
            if (n >= 4 && p.S > 0)
                expectNear(plainTajima(n, p.khat, p.S), st.demes[d].tajimaD, "D");
        }
        // Microsatellites: one locus of sizes in a few repeat units.
        const int32_t unit = 1 + static_cast<int32_t>(gen() % 4);
        AlleleSizes sizes;
        sizes.recreate(k, 1);
        for (int32_t i = 0; i < k; ++i)
            sizes.at(i, 0) = 100 + unit * static_cast<int32_t>(gen() % 4);
        const DemeMsatStatistics ms = computeDemeMsatStatistics(sizes, 0, unit, true, g);
        const auto unequal = [&](int32_t x, int32_t y) {
            return double(sizes.at(x, 0) != sizes.at(y, 0));
        };
        const auto halfSquare = [&](int32_t x, int32_t y) {
            const double d = (sizes.at(x, 0) - sizes.at(y, 0)) / double(unit);
            return d * d / 2;
        };
        for (size_t x = 0, pair = 0; x < g.names.size(); ++x)
            for (size_t y = x + 1; y < g.names.size(); ++y, ++pair) {
                const bool pairs = g.counts[x] >= 2 && g.counts[y] >= 2;
                const double dxy = meanOverPairs(g, x, y, differing);
                expectNear(dxy, st.pairs[pair].dxy, "d_xy");
                const double hb = meanOverPairs(g, x, y, unequal);
                const double sb = meanOverPairs(g, x, y, halfSquare);
                EXPECT_EQ(st.pairs[pair].fst.has_value(), pairs && dxy > 0);
                EXPECT_EQ(ms.pairs[pair].fst.has_value(), pairs && hb > 0);
                EXPECT_EQ(ms.pairs[pair].rst.has_value(), pairs && sb > 0);
                if (!pairs || dxy == 0 || hb == 0) continue;
                fsts += 1;
                const auto within = [&](size_t d, const auto& f) {
                    return meanOverPairs(g, d, d, f);
                };
                expectNear(1 - (within(x, differing) + within(y, differing)) / 2 / dxy,
                           st.pairs[pair].fst, "F_ST");
                expectNear(1 - (within(x, unequal) + within(y, unequal)) / 2 / hb,
                           ms.pairs[pair].fst, "msat F_ST");
                expectNear(within(x, halfSquare), ms.demes[x].sizeVariance, "size variance");
                expectNear(1 - (within(x, halfSquare) + within(y, halfSquare)) / 2 / sb,
                           ms.pairs[pair].rst, "R_ST");
                rsts += !computeDemeMsatStatistics(sizes, 0, unit, false, g).pairs[pair].rst;
            }
    }
    EXPECT_GT(fsts, 100);
    EXPECT_EQ(rsts, fsts); // sizes as labels: no R_ST
    // The deme columns follow the others, one field each.
    const DemeGroups two{{"A", "B"}, {3, 2}};
    const Alignment a = randomAlignment(gen, 5, 20);
    const DemeDnaStatistics st = computeDemeDnaStatistics(a.seqs, two);
    std::string row;
    appendDnaStatisticsRow(1, computeDnaStatistics(a.seqs, a.root), row, &st);
    const std::string header = dnaStatisticsHeader(5, two);
    EXPECT_EQ(std::count(row.begin(), row.end(), ','),
              std::count(header.begin(), header.end(), ','));
    EXPECT_NE(header.find(",sfs_4,segregating_sites_A,pi_A,theta_W_A,tajima_D_A,"
                          "segregating_sites_B,pi_B,theta_W_B,tajima_D_B,dxy_A_B,fst_A_B\n"),
              std::string::npos);
}
