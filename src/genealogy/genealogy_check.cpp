#include "genealogy/genealogy_check.h"
#include "genealogy/gene_tree.h"

#include <string>
#include <vector>

namespace quenlith {

namespace {

std::string at(const char* what, size_t i) {
    return std::string(what) + " " + std::to_string(i) + ": ";
}

} // namespace

std::string genealogyFault(const Genealogy& g) {
    const int32_t k = g.SampleSize;
    if (k < 0) return "negative sample size";
    const size_t events = g.CoalEvents.size();
    if (events != static_cast<size_t>(k > 0 ? k - 1 : 0))
        return std::to_string(events) + " merges for " + std::to_string(k) + " copies";
    const size_t nodes = static_cast<size_t>(k) + events;
    if (g.leafLo.size() < nodes || g.leafHi.size() < nodes || g.childA.size() != events ||
        g.childB.size() != events)
        return "the tree's arrays do not cover its nodes";
    if (!g.mutationNodes.empty() && g.mutationNodes.size() != g.MutEvents.size())
        return "mutation nodes not parallel to the mutations";
    if (g.Generation < g.tmrca()) return "the genealogy ends before its last merge";
    for (int32_t i = 0; i < k; ++i)
        if (g.leafLo[static_cast<size_t>(i)] != i || g.leafHi[static_cast<size_t>(i)] != i)
            return at("leaf", static_cast<size_t>(i)) + "not its own range";

    std::vector<int32_t> time(nodes, 0); // generation of each node's copy
    LineageOrder order;
    order.reset(k);
    size_t e = 0;
    int32_t previous = 0;
    // The merges of generations before `generation`, replayed on the lineage order.
    const auto mergeUpTo = [&](int32_t generation) -> std::string {
        for (; e < events && g.CoalEvents[e].generation < generation; ++e) {
            const CoalEvent& c = g.CoalEvents[e];
            const int32_t lineages = k - static_cast<int32_t>(e);
            if (c.generation < 1 || c.generation < previous)
                return at("merge", e) + "generation " + std::to_string(c.generation) + " after " +
                       std::to_string(previous);
            previous = c.generation;
            if (c.first < 0 || c.first + 1 >= lineages || c.second != c.first + 1)
                return at("merge", e) + "positions " + std::to_string(c.first) + ", " +
                       std::to_string(c.second) + " among " + std::to_string(lineages);
            const int32_t node = k + static_cast<int32_t>(e);
            const auto [left, right] = order.merge(c.first, node);
            if (left != g.childA[e] || right != g.childB[e])
                return at("merge", e) + "children differ from the lineages merged";
            const auto l = static_cast<size_t>(left), r = static_cast<size_t>(right),
                       n = static_cast<size_t>(node);
            if (g.leafHi[l] + 1 != g.leafLo[r] || g.leafLo[n] != g.leafLo[l] ||
                g.leafHi[n] != g.leafHi[r])
                return at("merge", e) + "leaf ranges not joined";
            if (time[l] > c.generation || time[r] > c.generation)
                return at("merge", e) + "a child younger than its parent";
            time[n] = c.generation;
        }
        return {};
    };

    int32_t last = 0;
    for (size_t m = 0; m < g.MutEvents.size(); ++m) {
        const MutEvent& u = g.MutEvents[m];
        if (u.generation < 1 || u.generation < last || (k > 1 && u.generation > g.tmrca()))
            return at("mutation", m) + "generation " + std::to_string(u.generation);
        last = u.generation;
        if (std::string fault = mergeUpTo(u.generation); !fault.empty()) return fault;
        const int32_t lineages = k - static_cast<int32_t>(e);
        if (u.position < 0 || u.position >= lineages)
            return at("mutation", m) + "position " + std::to_string(u.position) + " among " +
                   std::to_string(lineages);
        if (!g.mutationNodes.empty() && g.mutationNodes[m] != order.nodeAt(u.position))
            return at("mutation", m) + "node " + std::to_string(g.mutationNodes[m]) +
                   " is not the lineage at its position";
    }
    if (std::string fault = mergeUpTo(kLargestCount); !fault.empty()) return fault;
    if (k > 0 && g.leafHi[nodes - 1] - g.leafLo[nodes - 1] + 1 != k)
        return "the root does not hold every copy";
    if (std::string fault = treeFault(GeneTree(g)); !fault.empty()) return "tree: " + fault;
    return {};
}

} // namespace quenlith
