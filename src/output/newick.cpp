#include "output/newick.h"

#include "output/decimal.h"

#include <vector>

namespace quenlith {

void appendNewickLine(const GeneTree& t, std::string& out) {
    appendNewickTree(t, nullptr, out);
    out += "\r\n";
}

void appendNewickTree(const GeneTree& t, const std::vector<std::string>* rowNames,
                      std::string& out) {
    const int32_t k = t.leaves;
    const int32_t events = t.nodeCount() - k;
    const auto leaf = [&](int32_t x) {
        const int32_t row = t.label[static_cast<size_t>(x)];
        if (rowNames)
            out += (*rowNames)[static_cast<size_t>(row)];
        else
            appendDecimal(out, row);
    };
    if (events == 0) {
        if (k > 0) leaf(0);
    } else {
        // Iterative walk so that deep (caterpillar) trees cannot exhaust the stack. A merge
        // of m > 2 lineages in one generation is m - 1 nodes of that generation: a node of
        // its parent's generation is flattened into it, so that the merge is one polytomy.
        struct Frame {
            int32_t node;
            int32_t parentGeneration;
            int8_t stage; // 0: open, 1: after left child, 2: after right child
            bool flat;    // its children are listed among its parent's
        };
        std::vector<Frame> stack;
        stack.push_back({t.root(), -1, 0, false});
        const auto child = [&](int32_t node, int32_t generation) {
            const bool flat = node >= k && t.time[static_cast<size_t>(node)] == generation;
            stack.push_back({node, generation, 0, flat});
        };
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.node < k) {
                leaf(f.node);
                out += ':';
                appendDecimal(out, static_cast<int64_t>(f.parentGeneration) -
                                       t.time[static_cast<size_t>(f.node)]);
                stack.pop_back();
                continue;
            }
            const auto e = static_cast<size_t>(f.node - k);
            const int32_t generation = t.time[static_cast<size_t>(f.node)];
            if (f.stage == 0) {
                if (!f.flat) out += '(';
                f.stage = 1;
                child(t.left[e], generation);
            } else if (f.stage == 1) {
                out += ',';
                f.stage = 2;
                child(t.right[e], generation);
            } else {
                const bool flat = f.flat;
                const int32_t parentGeneration = f.parentGeneration;
                stack.pop_back();
                if (flat) continue;
                out += ')';
                if (parentGeneration >= 0) {
                    out += ':';
                    appendDecimal(out, static_cast<int64_t>(parentGeneration) - generation);
                }
            }
        }
    }
    out += ';';
}

} // namespace quenlith
