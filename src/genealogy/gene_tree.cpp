#include "genealogy/gene_tree.h"

#include "genealogy/lineage_order.h"

#include <algorithm>
#include <string>
#include <vector>

namespace quenlith {

namespace {

std::string at(const char* what, size_t i) {
    return std::string(what) + " " + std::to_string(i) + ": ";
}

// The rows by walk position, and whether they are the positions themselves.
void setRows(GeneTree& t) {
    t.inOrder = true;
    for (size_t i = 0; i < t.walk.size() && t.inOrder; ++i)
        t.inOrder = t.label[static_cast<size_t>(t.walk[i])] == static_cast<int32_t>(i);
    t.rowAtPosition.clear();
    if (t.inOrder) return;
    t.rowAtPosition.resize(t.walk.size());
    for (size_t i = 0; i < t.walk.size(); ++i)
        t.rowAtPosition[i] = t.label[static_cast<size_t>(t.walk[i])];
}

// The walk from the root, left child first, and the span of every node; false when the
// links do not form one tree over the nodes (a node reached twice, or out of range).
bool walkOf(const GeneTree& t, std::vector<int32_t>& walk, std::vector<int32_t>& first,
            std::vector<int32_t>& last) {
    const int32_t nodes = t.nodeCount();
    walk.clear();
    first.assign(static_cast<size_t>(nodes), -1);
    last.assign(static_cast<size_t>(nodes), -1);
    if (nodes == 0) return true;
    // A node is pushed once before its children (open) and once after them (close).
    std::vector<int32_t> todo = {t.root()};
    while (!todo.empty()) {
        const int32_t entry = todo.back();
        todo.pop_back();
        if (entry < 0) {
            const auto x = static_cast<size_t>(~entry);
            last[x] = static_cast<int32_t>(walk.size()) - 1;
            continue;
        }
        if (entry >= nodes || first[static_cast<size_t>(entry)] != -1) return false;
        const auto x = static_cast<size_t>(entry);
        first[x] = static_cast<int32_t>(walk.size());
        if (t.isLeaf(entry)) {
            walk.push_back(entry);
            last[x] = first[x];
            continue;
        }
        if (static_cast<size_t>(entry - t.leaves) >= t.left.size()) return false;
        todo.push_back(~entry);
        todo.push_back(t.right[x - static_cast<size_t>(t.leaves)]);
        todo.push_back(t.left[x - static_cast<size_t>(t.leaves)]);
    }
    return static_cast<int32_t>(walk.size()) == t.leaves;
}

} // namespace

void GeneTree::assign(const Genealogy& g) {
    const int32_t k = g.SampleSize;
    const size_t events = g.CoalEvents.size();
    const size_t nodes = static_cast<size_t>(k) + events;
    leaves = k;
    time.assign(nodes, 0);
    parent.assign(nodes, -1);
    left.assign(g.childA.begin(), g.childA.begin() + static_cast<std::ptrdiff_t>(events));
    right.assign(g.childB.begin(), g.childB.begin() + static_cast<std::ptrdiff_t>(events));
    for (size_t e = 0; e < events; ++e) {
        const auto x = static_cast<size_t>(k) + e;
        time[x] = g.CoalEvents[e].generation;
        parent[static_cast<size_t>(left[e])] = static_cast<int32_t>(x);
        parent[static_cast<size_t>(right[e])] = static_cast<int32_t>(x);
    }
    // The generation loop numbers the leaves along the walk: leaf i stands at position i,
    // and the spans are its leaf ranges.
    label.resize(static_cast<size_t>(k));
    walk.resize(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i)
        label[static_cast<size_t>(i)] = walk[static_cast<size_t>(i)] = i;
    first.assign(g.leafLo.begin(), g.leafLo.begin() + static_cast<std::ptrdiff_t>(nodes));
    last.assign(g.leafHi.begin(), g.leafHi.begin() + static_cast<std::ptrdiff_t>(nodes));
    deme.clear();
    mutationNode = g.mutationNodes;
    mutationTime.resize(mutationNode.size());
    for (size_t m = 0; m < mutationNode.size(); ++m)
        mutationTime[m] = g.MutEvents[m].generation;
    inOrder = true;
    rowAtPosition.clear();
}

void GeneTree::assignTables(const Genealogy& g) {
    const int32_t k = std::max<int32_t>(g.SampleSize, 0);
    const size_t merges = std::min(g.CoalEvents.size(), static_cast<size_t>(k > 1 ? k - 1 : 0));
    // The merges that fit: each joins the lineage at `first` and its right neighbour.
    size_t kept = 0;
    while (kept < merges && g.CoalEvents[kept].first >= 0 &&
           g.CoalEvents[kept].first + 1 < k - static_cast<int32_t>(kept))
        ++kept;
    // The first merge at or above every generation, by the highest generation so far.
    std::vector<int32_t> highest(kept);
    for (size_t e = 0; e < kept; ++e)
        highest[e] = std::max(g.CoalEvents[e].generation, e > 0 ? highest[e - 1] : INT32_MIN);
    std::vector<std::vector<size_t>> atMerge(kept);
    for (size_t m = 0; m < g.MutEvents.size(); ++m) {
        const int32_t d = g.MutEvents[m].generation;
        const auto e = static_cast<size_t>(std::lower_bound(highest.begin(), highest.end(), d) -
                                           highest.begin());
        if (d >= 1 && e < kept) atMerge[e].push_back(m);
    }

    const size_t nodes = static_cast<size_t>(k) + kept;
    leaves = k;
    time.assign(nodes, 0);
    parent.assign(nodes, -1);
    left.resize(kept);
    right.resize(kept);
    first.resize(nodes);
    last.resize(nodes);
    label.resize(static_cast<size_t>(k));
    walk.resize(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i) {
        label[static_cast<size_t>(i)] = walk[static_cast<size_t>(i)] = i;
        first[static_cast<size_t>(i)] = last[static_cast<size_t>(i)] = i;
    }
    deme.clear();
    mutationNode.clear();
    mutationTime.clear();
    LineageOrder order;
    order.reset(k);
    for (size_t e = 0; e < kept; ++e) {
        const int32_t lineages = k - static_cast<int32_t>(e);
        for (const size_t m : atMerge[e]) {
            const MutEvent& u = g.MutEvents[m];
            if (u.position < 0 || u.position >= lineages) continue;
            mutationNode.push_back(order.nodeAt(u.position));
            mutationTime.push_back(u.generation);
        }
        const auto x = static_cast<int32_t>(static_cast<size_t>(k) + e);
        const auto [a, b] = order.merge(g.CoalEvents[e].first, x);
        left[e] = a;
        right[e] = b;
        parent[static_cast<size_t>(a)] = parent[static_cast<size_t>(b)] = x;
        time[static_cast<size_t>(x)] = g.CoalEvents[e].generation;
        first[static_cast<size_t>(x)] = first[static_cast<size_t>(a)];
        last[static_cast<size_t>(x)] = last[static_cast<size_t>(b)];
    }
    inOrder = true;
    rowAtPosition.clear();
}

void GeneTree::relabel(const std::vector<int32_t>& rows) {
    label.assign(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(leaves));
    setRows(*this);
}

void GeneTree::rebuildWalk() {
    parent.assign(time.size(), -1);
    for (size_t e = 0; e < left.size(); ++e) {
        const auto x = static_cast<int32_t>(static_cast<size_t>(leaves) + e);
        parent[static_cast<size_t>(left[e])] = x;
        parent[static_cast<size_t>(right[e])] = x;
    }
    walkOf(*this, walk, first, last);
    setRows(*this);
}

std::string treeFault(const GeneTree& t) {
    const int32_t k = t.leaves;
    if (k < 0) return "negative number of leaves";
    const auto nodes = static_cast<size_t>(t.nodeCount());
    const size_t internal = k > 0 ? static_cast<size_t>(k) - 1 : 0;
    if (nodes != static_cast<size_t>(k) + internal || t.parent.size() != nodes ||
        t.left.size() != internal || t.right.size() != internal ||
        t.label.size() != static_cast<size_t>(k) || t.walk.size() != static_cast<size_t>(k) ||
        t.first.size() != nodes || t.last.size() != nodes)
        return "the tree's arrays do not cover its nodes";
    if (!t.deme.empty() && t.deme.size() != static_cast<size_t>(k))
        return "demes not given per leaf";
    if (t.mutationTime.size() != t.mutationNode.size())
        return "mutation times not parallel to their nodes";

    for (size_t x = 0; x < static_cast<size_t>(k); ++x)
        if (t.time[x] < 0) return at("leaf", x) + "sampled before generation 0";
    for (size_t e = 0; e < internal; ++e) {
        const size_t x = static_cast<size_t>(k) + e;
        for (const int32_t c : {t.left[e], t.right[e]}) {
            if (c < 0 || static_cast<size_t>(c) >= nodes || static_cast<size_t>(c) == x)
                return at("node", x) + "child " + std::to_string(c) + " out of range";
            if (t.parent[static_cast<size_t>(c)] != static_cast<int32_t>(x))
                return at("node", x) + "child " + std::to_string(c) + " names another parent";
            if (t.time[static_cast<size_t>(c)] > t.time[x])
                return at("node", x) + "a child younger than its parent";
        }
        if (t.left[e] == t.right[e]) return at("node", x) + "one child twice";
    }
    for (size_t x = 0; x < nodes; ++x) {
        const int32_t p = t.parent[x];
        if ((p < 0) != (x + 1 == nodes))
            return at("node", x) + (p < 0 ? "a second root" : "the last node has a parent");
        if (p >= 0 && (static_cast<size_t>(p) >= nodes || p < k ||
                       (t.left[static_cast<size_t>(p - k)] != static_cast<int32_t>(x) &&
                        t.right[static_cast<size_t>(p - k)] != static_cast<int32_t>(x))))
            return at("node", x) + "its parent does not hold it";
    }

    std::vector<int32_t> walk, first, last;
    if (!walkOf(t, walk, first, last)) return "the links do not reach every leaf once";
    if (walk != t.walk || first != t.first || last != t.last)
        return "the walk or the spans differ from the children's";

    std::vector<bool> taken(static_cast<size_t>(k), false);
    for (size_t i = 0; i < static_cast<size_t>(k); ++i) {
        const int32_t row = t.label[i];
        if (row < 0 || row >= k || taken[static_cast<size_t>(row)])
            return at("leaf", i) + "row " + std::to_string(row) + " out of range or taken twice";
        taken[static_cast<size_t>(row)] = true;
    }
    for (size_t i = 0; i < static_cast<size_t>(k); ++i)
        if (t.rowAt(static_cast<int32_t>(i)) != t.label[static_cast<size_t>(t.walk[i])])
            return at("position", i) + "row differs from its leaf's";

    int32_t previous = 0;
    for (size_t m = 0; m < t.mutationNode.size(); ++m) {
        const int32_t x = t.mutationNode[m], when = t.mutationTime[m];
        if (x < 0 || static_cast<size_t>(x) >= nodes)
            return at("mutation", m) + "node " + std::to_string(x) + " out of range";
        const int32_t p = t.parent[static_cast<size_t>(x)];
        if (p < 0 || when <= t.time[static_cast<size_t>(x)] ||
            when > t.time[static_cast<size_t>(p)])
            return at("mutation", m) + "generation " + std::to_string(when) +
                   " off the branch of node " + std::to_string(x);
        if (when < previous) return at("mutation", m) + "before the generation of the one before";
        previous = when;
    }
    return {};
}

} // namespace quenlith
