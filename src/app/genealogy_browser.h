#pragma once
// Steps through the genealogies of the last completed run. Everything it needs (sample
// size, loci, data type, record count, mutation counts, working directory, population size)
// is kept from that run, so controls changed afterwards cannot make it misread the matrix
// files.
#include "app/genealogy_drawing.h"
#include "run/run_driver.h"

#include <string>

namespace quenlith {

class GenealogyBrowser {
  public:
    // Takes over a completed run; the record on screen becomes its last one.
    void setRun(const RunOutcome& outcome);
    // A later run failed after it may have rewritten the matrix files: the records of the
    // last completed run can no longer be read back, so nothing is left to browse.
    void forgetRecords();

    // A run has completed (RunDone).
    bool runDone() const { return runDone_; }
    // The last run stored at least one genealogy.
    bool hasRecords() const { return runDone_ && recordCount_ > 0; }

    int32_t recordCount() const { return recordCount_; }
    int32_t shownRecord() const { return shownRecord_; }

    // Next and previous record, wrapping around at both ends.
    void forward();
    void back();
    // The record after or before the one on screen, wrapping around (0 without records).
    int32_t nextRecord() const;
    int32_t previousRecord() const;
    // Record of simulation s, locus l (l = 1 in a DNA run); 0 when there is no such record.
    int32_t recordOf(int32_t simulation, int32_t locus) const;
    // Makes `record` the one on screen (after it has been loaded).
    void setShown(int32_t record);

    // Loads the record on screen from the matrix files. False when the record is not in
    // them; RunError when a file cannot be read.
    bool loadShown(Genealogy& g) const;
    // The same for any record of the run.
    bool loadRecord(int32_t record, Genealogy& g) const;

    int32_t simulationOf(int32_t record) const;
    int32_t locusOf(int32_t record) const;
    bool msats() const { return msats_; }
    int32_t loci() const { return msats_ ? (loci_ > 0 ? loci_ : 1) : 1; }
    // Whole simulations whose genealogies are stored.
    int32_t simulations() const { return recordCount_ / loci(); }

    // The line that names the run and the genealogy on screen: seed, k, N, simulation
    // (and locus).
    std::string runLine() const;

    // "7\100" for a DNA run, "Microsatellite Locus 1 Simulation 3" for a microsatellite run.
    std::string caption() const;

    // Picture of g, the record on screen, as drawn for this run: in its demes when the run
    // had a model.
    GenealogyPicture picture(const Genealogy& g, bool drawMutations) const;
    // Where the lineages of a record lived (a model's run), or null.
    const BranchDemes* demesOf(int32_t record) const;

  private:
    bool runDone_ = false;
    bool msats_ = false;
    int32_t sampleSize_ = 0;
    int32_t loci_ = 0;
    int32_t recordCount_ = 0;
    int32_t shownRecord_ = 0;
    int32_t popSize_ = 0;
    int32_t simCount_ = 0;
    uint64_t seed_ = 0;
    std::vector<int32_t> mutCounts_;
    std::string workDir_;
    std::vector<std::string> demeNames_;
    std::vector<BranchDemes> branchDemes_; // per record
};

// The picture of a genealogy from its event tables (GeneTree::assignTables).
GenealogyPicture pictureOf(const Genealogy& g, int32_t popSize, bool drawMutations);
// Makes the picture one drawn in its demes (with the root at the top) when `demes` is given.
void inDemes(GenealogyPicture& p, const BranchDemes* demes, const std::vector<std::string>& names);

// The caption text of the browser at (10, 510), black, 10 points.
DrawText browserCaption(const std::string& text);

// A run that stored no genealogy (no simulation, or no locus) has nothing to draw.
bool hasGenealogyToDraw(const RunOutcome& outcome);

// Picture of the last genealogy of a run, as drawn at its end (the image of quenlith-cli).
GenealogyPicture lastGenealogyPicture(const RunOutcome& outcome, bool drawMutations);
// The same, in its demes when the run had a model (the window).
GenealogyPicture lastGenealogyInDemes(const RunOutcome& outcome, bool drawMutations);

} // namespace quenlith
