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

    // The distribution blocks of g and the Newick line of its tree, each leaf named
    // rowNames[row] when given (a run with a demographic model), by its row otherwise.
    void writeTrees(const Genealogy& g, const GeneTree& tree,
                    const std::vector<std::string>* rowNames = nullptr) {
        coalBlock_.clear();
        mutBlock_.clear();
        appendDistributionBlocks(g, coalBlock_, mutBlock_);
        coal_.write(coalBlock_);
        mut_.write(mutBlock_);
        line_.clear();
        appendNewickTree(tree, rowNames, line_);
        line_ += "\r\n";
        newick_.write(line_);
    }

    // Record `record` of the matrix files.
    void writeMatrices(int32_t record, const Genealogy& g) {
        treeBlock_.clear();
        mutMatBlock_.clear();
        appendMatrixRecord(record, g, treeBlock_, mutMatBlock_);
        treeMat_.write(treeBlock_);
        mutMat_.write(mutMatBlock_);
    }

    // Every file of genealogy `record`, in the order above.
    void write(int32_t record, const Genealogy& g, const GeneTree& tree,
               const std::vector<std::string>* rowNames = nullptr) {
        writeTrees(g, tree, rowNames);
        writeMatrices(record, g);
    }

  private:
    BlockFile& coal_;
    BlockFile& mut_;
    WrittenFiles* written_;
    BlockFile newick_, treeMat_, mutMat_;
    std::string coalBlock_, mutBlock_, line_, treeBlock_, mutMatBlock_;
};

} // namespace quenlith
