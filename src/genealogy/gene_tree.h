#pragma once
// A genealogy as a tree of gene copies, for everything that reads a finished genealogy (the
// Newick writer, the substitution step, the allele models): nodes with their generation,
// parent and two children, and per sampled leaf the row it is written as. The leaves may
// carry any numbering and stand in any order; a merge of m > 2 lineages in one generation is
// m - 1 nodes of that generation joined by branches of length 0.
//
// A walk of the tree, left child first, lists the leaves so that the leaves below every node
// are one span of it. When the leaves' rows are that walk's positions (the genealogies of the
// generation loop before any renumbering) the rows below a node are the span itself: the
// fast path of the default mode.
#include "genealogy/genealogy.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

struct GeneTree {
    int32_t leaves = 0;
    // Per node (leaves 0 .. leaves - 1 first): the generation of its copy and its parent
    // (-1 at the root, the last node).
    std::vector<int32_t> time, parent;
    // Per internal node x (index x - leaves): its children, the left one first in the walk.
    std::vector<int32_t> left, right;
    // Per leaf: the row (0-based copy number) it is written as, each once.
    std::vector<int32_t> label;
    // Per leaf: its deme, or empty for one population.
    std::vector<int32_t> deme;
    // Per mutation, in the order of their generations (the event table's): the node whose
    // branch carries it and its generation (the node's copy formed before it, its parent's
    // at or after it).
    std::vector<int32_t> mutationNode, mutationTime;
    // The walk: the leaf at each position, and per node the first and last position below it.
    std::vector<int32_t> walk, first, last;
    // Whether label[walk[i]] == i for every position i; otherwise rowAtPosition holds them.
    bool inOrder = true;
    std::vector<int32_t> rowAtPosition;

    GeneTree() = default;
    explicit GeneTree(const Genealogy& g) { assign(g); }

    int32_t nodeCount() const { return static_cast<int32_t>(time.size()); }
    int32_t root() const { return nodeCount() - 1; }
    bool isLeaf(int32_t x) const { return x < leaves; }
    // The row of the leaf at walk position i.
    int32_t rowAt(int32_t i) const { return inOrder ? i : rowAtPosition[static_cast<size_t>(i)]; }

    // The tree of g (its nodes numbered as g's: leaf i, node k + e of merge e), leaf i in
    // row i. Reuses this tree's memory.
    void assign(const Genealogy& g);
    // The tree of g's event tables alone, for a genealogy read back from its files whose
    // mutations carry positions only: a mutation of generation d goes on the lineage at its
    // position when the first merge of a generation at or above d happens. Tables that are
    // no genealogy of the sample (a damaged file) keep the part that is one: the merges
    // before the first whose positions do not fit, the lineages then left standing as the
    // roots of a forest (parent -1), and the mutations on a lineage below one of those merges.
    void assignTables(const Genealogy& g);
    // Gives leaf i the row rows[i] (a permutation of 0 .. leaves - 1).
    void relabel(const std::vector<int32_t>& rows);
    // Works out parent, the walk and the spans from `left` and `right`, and the rows by
    // position from `label`.
    void rebuildWalk();
};

// Empty when `t` is sound, otherwise the first fault found: the arrays cover the nodes, the
// parent and child links agree and reach every node once from the root, every node is at
// least as old as its children, each row is given to exactly one leaf, the walk and spans are
// those of the children, and every mutation lies on a branch that spans its generation.
std::string treeFault(const GeneTree& t);

} // namespace quenlith
