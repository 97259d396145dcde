#include "output/newick.h"

#include "output/decimal.h"

#include <vector>

namespace quenlith {

void appendNewickLine(const Genealogy& g, std::string& out) {
    appendNewickTree(g, nullptr, out);
    out += "\r\n";
}

void appendNewickTree(const Genealogy& g, const std::vector<std::string>* labels,
                      std::string& out) {
    const int32_t k = g.SampleSize;
    const int32_t events = static_cast<int32_t>(g.CoalEvents.size());
    const auto leaf = [&](int32_t i) {
        if (labels)
            out += (*labels)[static_cast<size_t>(i)];
        else
            appendDecimal(out, i);
    };
    if (events == 0) {
        if (k > 0) leaf(0);
    } else {
        // Iterative walk so that deep (caterpillar) trees cannot exhaust the stack. A merge
        // of m > 2 lineages in one generation is m - 1 events of that generation: a node of
        // its parent's generation is flattened into it, so that the merge is one polytomy.
        struct Frame {
            int32_t node;
            int32_t parentGeneration;
            int8_t stage; // 0: open, 1: after left child, 2: after right child
            bool flat;    // its children are listed among its parent's
        };
        std::vector<Frame> stack;
        stack.push_back({k + events - 1, -1, 0, false});
        const auto child = [&](int32_t node, int32_t generation) {
            const bool flat = node >= k && g.CoalEvents[node - k].generation == generation;
            stack.push_back({node, generation, 0, flat});
        };
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.node < k) {
                leaf(f.node);
                out += ':';
                appendDecimal(out, f.parentGeneration);
                stack.pop_back();
                continue;
            }
            const int32_t e = f.node - k;
            const int32_t generation = g.CoalEvents[e].generation;
            if (f.stage == 0) {
                if (!f.flat) out += '(';
                f.stage = 1;
                child(g.childA[e], generation);
            } else if (f.stage == 1) {
                out += ',';
                f.stage = 2;
                child(g.childB[e], generation);
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
