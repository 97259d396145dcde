#pragma once
// The segregating sites of every simulation of a DNA run in the format of Hudson's ms: a
// first line with the command line (program, sample size, number of simulations, options),
// a second with the seed, then per simulation an empty line, "//", "segsites: S",
// "positions:" with each site's position as site / L, and one line of 0 and 1 per copy
// (0: the root's base, 1: any other base).
#include "base/file_io.h"
#include "dna/substitution.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenlith {

class MsWriter {
  public:
    // Creates the file and writes the two header lines.
    void open(const std::string& path, const std::string& commandLine, const std::string& seed);
    void addSimulation(const SampleSequences& seqs, std::string_view root);
    void close() { file_.close(); }
    bool isOpen() const { return file_.isOpen(); }

    // The block of one simulation (from the empty line before "//" to its last copy line).
    static void appendBlock(const SampleSequences& seqs, std::string_view root, std::string& out);

  private:
    BlockFile file_;
    std::string block_;
};

} // namespace quenlith
