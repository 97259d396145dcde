#include "genealogy/deme_statistics.h"

#include <cmath>
#include <limits>

namespace quenlith {

bool twoDemeChainOf(const DiscreteHistory& history, TwoDemeChain& out) {
    if (history.demes.size() != 2 || !history.pulses.empty()) return false;
    for (const DiscreteDeme& d : history.demes)
        if (d.start != kForeverGeneration || d.end != 0 || d.epochs.size() != 1 ||
            d.epochs[0].function != SizeFunction::Constant)
            return false;
    TwoDemeChain chain;
    for (const DiscreteMigration& m : history.migrations) {
        if (m.start != kForeverGeneration || m.end != 0) return false;
        (m.dest == 0 ? chain.m0 : chain.m1) += m.rate;
    }
    chain.copies0 = static_cast<double>(history.copies(0, 1));
    chain.copies1 = static_cast<double>(history.copies(1, 1));
    out = chain;
    return true;
}

std::array<double, 3> twoDemePairTimes(const TwoDemeChain& c) {
    const double m0 = c.m0, m1 = c.m1;
    // Migration of both copies: states 0 (both in deme 0), 1 (both in 1), 2 (one in each).
    const double P[3][3] = {{(1 - m0) * (1 - m0), m0 * m0, 2 * m0 * (1 - m0)},
                            {m1 * m1, (1 - m1) * (1 - m1), 2 * m1 * (1 - m1)},
                            {(1 - m0) * m1, m0 * (1 - m1), (1 - m0) * (1 - m1) + m0 * m1}};
    const double stay[3] = {1 - 1 / c.copies0, 1 - 1 / c.copies1, 1};
    const double inf = std::numeric_limits<double>::infinity();
    // Without migration each deme is one population (geometric times), and copies of
    // different demes never meet.
    if (m0 == 0 && m1 == 0) return {c.copies0, c.copies1, inf};
    // (I - P diag(stay)) E = 1, by Gaussian elimination with partial pivoting.
    double a[3][4];
    for (int s = 0; s < 3; ++s) {
        for (int r = 0; r < 3; ++r)
            a[s][r] = (s == r ? 1.0 : 0.0) - P[s][r] * stay[r];
        a[s][3] = 1;
    }
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (std::fabs(a[pivot][col]) < 1e-300) return {inf, inf, inf};
        for (int j = 0; j < 4; ++j)
            std::swap(a[col][j], a[pivot][j]);
        for (int r = 0; r < 3; ++r) {
            if (r == col) continue;
            const double f = a[r][col] / a[col][col];
            for (int j = col; j < 4; ++j)
                a[r][j] -= f * a[col][j];
        }
    }
    std::array<double, 3> e{};
    for (int s = 0; s < 3; ++s) {
        e[static_cast<size_t>(s)] = a[s][3] / a[s][s];
        if (!(e[static_cast<size_t>(s)] >= 1)) e[static_cast<size_t>(s)] = inf;
    }
    return e;
}

DemePairStatistics demePairStatistics(const Genealogy& g, const std::vector<int32_t>& leafDeme,
                                      int32_t demes) {
    const auto D = static_cast<size_t>(demes);
    const size_t k = leafDeme.size();
    // below[d * (k + 1) + i]: leaves of deme d among leaves 0 .. i - 1.
    std::vector<int64_t> below(D * (k + 1), 0);
    std::vector<int64_t> total(D, 0);
    for (size_t d = 0; d < D; ++d)
        for (size_t i = 0; i < k; ++i)
            below[d * (k + 1) + i + 1] =
                below[d * (k + 1) + i] + (leafDeme[i] == static_cast<int32_t>(d) ? 1 : 0);
    for (size_t d = 0; d < D; ++d)
        total[d] = below[d * (k + 1) + k];
    const auto pairs = static_cast<size_t>(demePairCount(demes));
    std::vector<double> within(D, 0), between(pairs, 0);
    std::vector<int64_t> under(D);
    for (const int32_t node : g.mutationNodes) {
        const auto lo = static_cast<size_t>(g.leafLo[static_cast<size_t>(node)]);
        const auto hi = static_cast<size_t>(g.leafHi[static_cast<size_t>(node)]);
        for (size_t d = 0; d < D; ++d)
            under[d] = below[d * (k + 1) + hi + 1] - below[d * (k + 1) + lo];
        // A mutation separates every copy below its node from every copy outside it.
        for (size_t x = 0; x < D; ++x) {
            within[x] += static_cast<double>(under[x] * (total[x] - under[x]));
            for (size_t y = x + 1; y < D; ++y)
                between[static_cast<size_t>(
                    demePairIndex(static_cast<int32_t>(x), static_cast<int32_t>(y), demes))] +=
                    static_cast<double>(under[x] * (total[y] - under[y]) +
                                        under[y] * (total[x] - under[x]));
        }
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    DemePairStatistics s;
    s.pi.assign(D, nan);
    s.dxy.assign(pairs, nan);
    s.fst.assign(pairs, nan);
    for (size_t d = 0; d < D; ++d)
        if (total[d] >= 2)
            s.pi[d] = within[d] / (static_cast<double>(total[d] * (total[d] - 1)) / 2);
    for (int32_t x = 0; x < demes; ++x)
        for (int32_t y = x + 1; y < demes; ++y) {
            const auto i = static_cast<size_t>(demePairIndex(x, y, demes));
            const double n =
                static_cast<double>(total[static_cast<size_t>(x)] * total[static_cast<size_t>(y)]);
            if (n > 0) s.dxy[i] = between[i] / n;
            const double pw = (s.pi[static_cast<size_t>(x)] + s.pi[static_cast<size_t>(y)]) / 2;
            if (s.dxy[i] > 0 && std::isfinite(pw)) s.fst[i] = 1 - pw / s.dxy[i];
        }
    return s;
}

} // namespace quenlith
