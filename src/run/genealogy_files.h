#pragma once
// The writer of the per-genealogy files, for both kinds of run: the coalescence and mutation
// time distributions, the Newick line, and the record of the two matrix files.
#include "base/file_io.h"
#include "genealogy/gene_tree.h"
#include "genealogy/genealogy.h"
#include "output/distributions.h"
#include "output/matrix_files.h"
#include "output/newick.h"

#include <string>
#include <vector>

namespace quenlith {

class GenealogyFiles {
  public:
    // The two distribution files come from the driver, which creates them first of all; the
    // files created here go into the run's record `written`.
    GenealogyFiles(BlockFile& coalFile, BlockFile& mutFile, WrittenFiles* written)
        : coal_(coalFile), mut_(mutFile), written_(written) {}

    // Creates the Newick file empty.
    void createNewick(const std::string& path) { newick_ = BlockFile(path, true, written_); }
    // Creates the two matrix files empty.
    void createMatrices(const std::string& workDir) {
        treeMat_ = BlockFile(joinPath(workDir, kTreeMatFile), true, written_);
        mutMat_ = BlockFile(joinPath(workDir, kMutMatFile), true, written_);
    }

    // The text that genealogy `record` adds to each file, formatted apart from the writing
    // so that a worker thread can prepare it.
    struct Blocks {
        std::string coal, mut, newick, treeMat, mutMat;
    };
    // The distribution blocks of g and the Newick line of its tree, each leaf named
    // rowNames[row] when given (a run with a demographic model), by its row otherwise.
    static void formatTrees(const Genealogy& g, const GeneTree& tree,
                            const std::vector<std::string>* rowNames, Blocks& out) {
        out.coal.clear();
        out.mut.clear();
        appendDistributionBlocks(g, out.coal, out.mut);
        out.newick.clear();
        appendNewickTree(tree, rowNames, out.newick);
        out.newick += "\r\n";
    }
    // Record `record` of the matrix files.
    static void formatMatrices(int32_t record, const Genealogy& g, Blocks& out) {
        out.treeMat.clear();
        out.mutMat.clear();
        appendMatrixRecord(record, g, out.treeMat, out.mutMat);
    }
    static void format(int32_t record, const Genealogy& g, const GeneTree& tree,
                       const std::vector<std::string>* rowNames, Blocks& out) {
        formatTrees(g, tree, rowNames, out);
        formatMatrices(record, g, out);
    }

    void writeTrees(const Blocks& b) {
        coal_.write(b.coal);
        mut_.write(b.mut);
        newick_.write(b.newick);
    }
    void writeMatrices(const Blocks& b) {
        treeMat_.write(b.treeMat);
        mutMat_.write(b.mutMat);
    }
    // Every file of one genealogy, in the order above.
    void write(const Blocks& b) {
        writeTrees(b);
        writeMatrices(b);
    }

  private:
    BlockFile& coal_;
    BlockFile& mut_;
    WrittenFiles* written_;
    BlockFile newick_, treeMat_, mutMat_;
};

} // namespace quenlith
