#pragma once
// The summary table of a streams run, written a block of rows at a time to a part file
// that is renamed to the table's name at the end: the run's memory does not grow with the
// number of simulations, and a folder never holds a summary table of an unfinished run.
#include "base/file_io.h"

#include <cstdint>
#include <string>

namespace quenlith {

class SummaryParts {
  public:
    // Creates `path`.part, recorded in the run's record `written`; the first row held is that
    // of simulation `first`.
    void open(const std::string& path, int32_t first, WrittenFiles* written) {
        path_ = path;
        firstInBlock_ = first;
        part_ = BlockFile(path + ".part", true, written);
    }

    // Rows held since the last block was written.
    int32_t rowsHeld() const { return rowsHeld_; }
    void addRow() { ++rowsHeld_; }
    // The simulation of the first row held.
    int32_t firstInBlock() const { return firstInBlock_; }

    // Appends the table text of the rows held (title line first); only the first block keeps
    // the title line.
    void writeBlock(std::string text) {
        if (headerWritten_) text.erase(0, text.find('\n') + 1);
        part_.write(text);
        headerWritten_ = true;
        firstInBlock_ += rowsHeld_;
        rowsHeld_ = 0;
    }
    // True while rows, or the title line of an empty table, remain to be written.
    bool blockPending() const { return rowsHeld_ > 0 || !headerWritten_; }

    // Closes the part file and gives it the table's name.
    void finish() {
        part_.close();
        renameWrittenFile(path_ + ".part", path_, part_.written());
    }

  private:
    std::string path_;
    BlockFile part_;
    bool headerWritten_ = false;
    int32_t rowsHeld_ = 0;
    int32_t firstInBlock_ = 1;
};

} // namespace quenlith
