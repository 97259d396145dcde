#pragma once
// Statistics of a genealogy of several demes, and the exact expectations where the model
// allows them.
//
// Pairwise differences count the mutation events on the path between two copies (what the
// sites of an infinite-sites model would show): pi of a deme is their mean over the pairs of
// its copies, d_xy their mean over the pairs with one copy in each deme, and F_ST Hudson's
// 1 - (pi_x + pi_y) / 2 / d_xy. With a mutation event on each lineage with probability p in
// every generation, E[differences of two copies] = 2 p E[T] for their coalescence time T.
#include "genealogy/genealogy.h"
#include "genealogy/structured_genealogy.h"

#include <array>
#include <cstdint>
#include <vector>

namespace quenlith {

// Two demes of constant sizes (in copies) n0 and n1, where in every generation a copy of
// deme 0 moves to deme 1 with probability m0 and one of deme 1 to deme 0 with m1, and then
// every copy draws a parent among its deme's copies.
struct TwoDemeChain {
    double copies0 = 1, copies1 = 1;
    double m0 = 0, m1 = 0;
};

// The chain of a history that has one: two demes of one constant epoch each, present in
// every generation, migrations between them without start or end, no pulse.
bool twoDemeChainOf(const DiscreteHistory& history, TwoDemeChain& out);

// E[T] of two copies, by where they start: both in deme 0, both in deme 1, one in each. It
// solves E_s = 1 + sum_r P(s -> r) (1 - c_r) E_r, with P the migration step between the
// three states and c_r the probability that two copies in one deme share their parent (0 for
// copies in different demes). Infinite where the copies can never meet.
std::array<double, 3> twoDemePairTimes(const TwoDemeChain& chain);

// The pairwise statistics of one genealogy. Pairs of demes in the order (0, 1), (0, 2), ...,
// (1, 2), ...; a deme with fewer than two copies has pi NaN, a pair with d_xy = 0 F_ST NaN.
struct DemePairStatistics {
    std::vector<double> pi;  // per deme
    std::vector<double> dxy; // per pair
    std::vector<double> fst; // per pair
};
inline int32_t demePairCount(int32_t demes) {
    return demes * (demes - 1) / 2;
}
// The index of the pair x < y.
inline int32_t demePairIndex(int32_t x, int32_t y, int32_t demes) {
    return x * demes - x * (x + 1) / 2 + (y - x - 1);
}

// From the genealogy's mutation nodes and leaf ranges; leafDeme: the deme of each leaf.
DemePairStatistics demePairStatistics(const Genealogy& g, const std::vector<int32_t>& leafDeme,
                                      int32_t demes);

} // namespace quenlith
