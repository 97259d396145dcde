#pragma once
// The segregating sites of every simulation of a DNA run in the format of Hudson's ms: a
// first line with the command line (program, sample size, number of simulations, options),
// a second with the seed, then per simulation an empty line, "//", "segsites: S",
// "positions:" with each site's position as site / L, and one line of 0 and 1 per copy
// (0: the root's base, 1: the other base).
//
// Readers of the format take every column as one ancestral and one derived state, so a
// column is written only for the sites whose copies hold the root's base and exactly one
// other base; sites with a third base, or whose copies all lost the root's base, are left
// out (the VCF keeps them with every allele). The rows list the copies in the order given,
// a random one in a run, so that the rows are exchangeable.
#include "base/file_io.h"
#include "dna/substitution.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenlith {

class MsWriter {
  public:
    // Creates the file (recorded in `written` when given) and writes the two header lines.
    void open(const std::string& path, const std::string& commandLine, const std::string& seed,
              WrittenFiles* written = nullptr);
    // `order` lists the copy numbers (1 .. k) of the rows.
    void addSimulation(const SampleSequences& seqs, std::string_view root,
                       const std::vector<int32_t>& order);
    void close() { file_.close(); }
    bool isOpen() const { return file_.isOpen(); }

    // The block of one simulation (from the empty line before "//" to its last copy line).
    static void appendBlock(const SampleSequences& seqs, std::string_view root,
                            const std::vector<int32_t>& order, std::string& out);
    // The position of a site, site / length, with four decimals (more when length > 10^4),
    // as printf's "%.*f" writes it.
    static void appendPosition(int32_t site, int32_t length, std::string& out);

  private:
    BlockFile file_;
    std::string block_;
};

} // namespace quenlith
