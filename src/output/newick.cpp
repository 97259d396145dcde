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
        // Iterative walk so that deep (caterpillar) trees cannot exhaust the stack.
        struct Frame {
            int32_t node;
            int32_t parentGeneration;
            int8_t stage; // 0: open, 1: after left child, 2: after right child
        };
        std::vector<Frame> stack;
        stack.push_back({k + events - 1, -1, 0});
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
                out += '(';
                f.stage = 1;
                stack.push_back({g.childA[e], generation, 0});
            } else if (f.stage == 1) {
                out += ',';
                f.stage = 2;
                stack.push_back({g.childB[e], generation, 0});
            } else {
                out += ')';
                const int32_t parentGeneration = f.parentGeneration;
                stack.pop_back();
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
