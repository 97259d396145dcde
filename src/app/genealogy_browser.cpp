#include "app/genealogy_browser.h"

#include "base/file_io.h"
#include "base/run_error.h"
#include "output/matrix_files.h"

#include <new>
#include <stdexcept>

namespace quenlith {

void GenealogyBrowser::setRun(const RunOutcome& outcome) {
    runDone_ = true;
    msats_ = outcome.msats;
    sampleSize_ = outcome.sampleSize;
    loci_ = outcome.loci;
    recordCount_ = outcome.recordCount;
    shownRecord_ = outcome.shownRecord;
    popSize_ = outcome.popSize;
    simCount_ = outcome.simCount;
    seed_ = outcome.seed;
    mutCounts_ = outcome.MutCountPerSim;
    workDir_ = outcome.workDir;
    demeNames_ = outcome.demeNames;
    branchDemes_ = outcome.branchDemesPerRecord;
}

void GenealogyBrowser::forgetRecords() {
    recordCount_ = 0;
    shownRecord_ = 0;
    mutCounts_.clear();
    branchDemes_.clear();
}

void GenealogyBrowser::forward() {
    if (recordCount_ <= 0) return;
    shownRecord_ = shownRecord_ >= recordCount_ ? 1 : shownRecord_ + 1;
}

void GenealogyBrowser::back() {
    if (recordCount_ <= 0) return;
    shownRecord_ = shownRecord_ <= 1 ? recordCount_ : shownRecord_ - 1;
}

int32_t GenealogyBrowser::nextRecord() const {
    if (recordCount_ <= 0) return 0;
    return shownRecord_ >= recordCount_ ? 1 : shownRecord_ + 1;
}

int32_t GenealogyBrowser::previousRecord() const {
    if (recordCount_ <= 0) return 0;
    return shownRecord_ <= 1 ? recordCount_ : shownRecord_ - 1;
}

int32_t GenealogyBrowser::recordOf(int32_t simulation, int32_t locus) const {
    const int32_t l = loci();
    if (simulation < 1 || locus < 1 || locus > l) return 0;
    const int64_t record = (int64_t{simulation} - 1) * l + locus;
    return record <= recordCount_ ? static_cast<int32_t>(record) : 0;
}

void GenealogyBrowser::setShown(int32_t record) {
    if (record >= 1 && record <= recordCount_) shownRecord_ = record;
}

bool GenealogyBrowser::loadShown(Genealogy& g) const {
    return loadRecord(shownRecord_, g);
}

bool GenealogyBrowser::loadRecord(int32_t record, Genealogy& g) const {
    const size_t index = static_cast<size_t>(record - 1);
    if (record < 1 || index >= mutCounts_.size()) return false;
    // The matrix files are read by the file layer, which refuses anything but a regular file
    // (a FIFO would hold the window's thread, a device such as /dev/zero never ends); a file
    // too large for the memory ends the browse with "Out of memory", not the program.
    try {
        return readMatrixRecord(workDir_, record, sampleSize_, mutCounts_[index], g);
    } catch (const std::bad_alloc&) {
        throw RunError("Out of memory", joinPath(workDir_, kTreeMatFile));
    } catch (const std::length_error&) {
        throw RunError("Out of memory", joinPath(workDir_, kTreeMatFile));
    }
}

int32_t GenealogyBrowser::simulationOf(int32_t record) const {
    return (record + loci() - 1) / loci();
}

int32_t GenealogyBrowser::locusOf(int32_t record) const {
    return record % loci() == 0 ? loci() : record % loci();
}

std::string GenealogyBrowser::runLine() const {
    if (!runDone_ || recordCount_ <= 0) return {};
    std::string line = "Seed " + std::to_string(seed_) + ", k = " + std::to_string(sampleSize_) +
                       ", N = " + std::to_string(popSize_) + ", simulation " +
                       std::to_string(simulationOf(shownRecord_)) + " of " +
                       std::to_string(simCount_);
    if (msats_)
        line +=
            ", locus " + std::to_string(locusOf(shownRecord_)) + " of " + std::to_string(loci());
    return line;
}

std::string GenealogyBrowser::caption() const {
    if (!msats_) return std::to_string(shownRecord_) + "\\" + std::to_string(recordCount_);
    const int32_t loci = loci_ > 0 ? loci_ : 1;
    const int32_t simulation = (shownRecord_ + loci - 1) / loci;
    const int32_t locus = shownRecord_ % loci == 0 ? loci : shownRecord_ % loci;
    return "Microsatellite Locus " + std::to_string(locus) + " Simulation " +
           std::to_string(simulation);
}

GenealogyPicture GenealogyBrowser::picture(const Genealogy& g, bool drawMutations) const {
    GenealogyPicture p = pictureOf(g, popSize_, drawMutations);
    inDemes(p, demesOf(shownRecord_), demeNames_);
    return p;
}

const BranchDemes* GenealogyBrowser::demesOf(int32_t record) const {
    if (record < 1 || static_cast<size_t>(record) > branchDemes_.size()) return nullptr;
    const BranchDemes& d = branchDemes_[static_cast<size_t>(record - 1)];
    return d.empty() ? nullptr : &d;
}

void inDemes(GenealogyPicture& p, const BranchDemes* demes, const std::vector<std::string>& names) {
    if (!demes) return;
    p.demes = demes;
    p.demeNames = &names;
    p.popSize = 1;
}

DrawText browserCaption(const std::string& text) {
    return {10, 510, text, kBlack, 10};
}

GenealogyPicture pictureOf(const Genealogy& g, int32_t popSize, bool drawMutations) {
    GenealogyPicture p;
    p.tree.assignTables(g);
    p.popSize = popSize;
    p.drawMutations = drawMutations;
    return p;
}

bool hasGenealogyToDraw(const RunOutcome& outcome) {
    return outcome.recordCount > 0 && outcome.sampleSize > 0;
}

GenealogyPicture lastGenealogyPicture(const RunOutcome& outcome, bool drawMutations) {
    return pictureOf(outcome.lastGenealogy, outcome.popSize, drawMutations);
}

GenealogyPicture lastGenealogyInDemes(const RunOutcome& outcome, bool drawMutations) {
    GenealogyPicture p = lastGenealogyPicture(outcome, drawMutations);
    const size_t record = static_cast<size_t>(outcome.recordCount);
    if (record > 0 && record <= outcome.branchDemesPerRecord.size() &&
        !outcome.branchDemesPerRecord[record - 1].empty())
        inDemes(p, &outcome.branchDemesPerRecord[record - 1], outcome.demeNames);
    return p;
}

} // namespace quenlith
