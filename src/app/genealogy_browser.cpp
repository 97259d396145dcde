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
    mutCounts_ = outcome.MutCountPerSim;
    workDir_ = outcome.workDir;
}

void GenealogyBrowser::forgetRecords() {
    recordCount_ = 0;
    shownRecord_ = 0;
    mutCounts_.clear();
}

void GenealogyBrowser::forward() {
    if (recordCount_ <= 0) return;
    shownRecord_ = shownRecord_ >= recordCount_ ? 1 : shownRecord_ + 1;
}

void GenealogyBrowser::back() {
    if (recordCount_ <= 0) return;
    shownRecord_ = shownRecord_ <= 1 ? recordCount_ : shownRecord_ - 1;
}

bool GenealogyBrowser::loadShown(Genealogy& g) const {
    const size_t index = static_cast<size_t>(shownRecord_ - 1);
    if (shownRecord_ < 1 || index >= mutCounts_.size()) return false;
    // The matrix files are read by the file layer, which refuses anything but a regular file
    // (a FIFO would hold the window's thread, a device such as /dev/zero never ends); a file
    // too large for the memory ends the browse with "Out of memory", not the program.
    try {
        return readMatrixRecord(workDir_, shownRecord_, sampleSize_, mutCounts_[index], g);
    } catch (const std::bad_alloc&) {
        throw RunError("Out of memory", joinPath(workDir_, kTreeMatFile));
    } catch (const std::length_error&) {
        throw RunError("Out of memory", joinPath(workDir_, kTreeMatFile));
    }
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
    GenealogyPicture p;
    p.sampleSize = sampleSize_;
    p.coalEvents = &g.CoalEvents;
    p.mutEvents = &g.MutEvents;
    p.popSize = popSize_;
    p.drawMutations = drawMutations;
    return p;
}

DrawText browserCaption(const std::string& text) {
    return {10, 510, text, kBlack, 10};
}

bool hasGenealogyToDraw(const RunOutcome& outcome) {
    return outcome.recordCount > 0 && outcome.sampleSize > 0;
}

GenealogyPicture lastGenealogyPicture(const RunOutcome& outcome, bool drawMutations) {
    GenealogyPicture p;
    p.sampleSize = outcome.sampleSize;
    p.coalEvents = &outcome.lastGenealogy.CoalEvents;
    p.mutEvents = &outcome.lastGenealogy.MutEvents;
    p.popSize = outcome.popSize;
    p.drawMutations = drawMutations;
    return p;
}

} // namespace quenlith
