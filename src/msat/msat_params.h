#pragma once
// The microsatellite parameter file: one line per locus holding four integers (label,
// minimum size, maximum size, repeat unit) and a real (the mutation rate). Numbers are
// separated by any bytes up to 32 and may cross line ends; after the fifth number the rest
// of the line is skipped; numbers missing at the end of the file read as 0.
#include "base/unique_fd.h"
#include "msat/msat_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenlith {

// Every simulation opens the file again and reads its loci from the top, so a file changed
// during a run gives the later simulations its new values, as reading it afresh would. The
// file is read from its beginning only as far as the loci need (in blocks, as a buffered
// text file is read), not whole. A later open() reads back just the bytes that the
// previous simulation's loci looked at (up to and including the byte after the last one
// consumed) and keeps them when they are unchanged: those bytes decide every value, every
// error and the locus it stops at, so the loci read are the ones a fresh reading would
// give. When they differ, or the file cannot be opened or read, the file is read afresh,
// which also gives the errors a fresh reading gives.
class MsatParamReader {
  public:
    explicit MsatParamReader(std::string path) : path_(std::move(path)) {}
    MsatParamReader(MsatParamReader&& other) noexcept = default;
    MsatParamReader& operator=(MsatParamReader&& other) noexcept = default;
    MsatParamReader(const MsatParamReader&) = delete;
    MsatParamReader& operator=(const MsatParamReader&) = delete;

    // Reads the file again from its beginning. A missing file gives "File not found".
    void open();
    // Reads the next locus. `locus` (1-based) only names the locus in error details.
    // A token that is not a number gives "Invalid numeric input".
    MsatLocusParams readLocus(int32_t locus);
    // Drops the file's text.
    void close();

    const std::string& path() const { return path_; }

  private:
    // The next run of non-blank bytes, at most maxLength long; empty at the end of the file.
    std::string_view nextToken(size_t maxLength);
    int32_t readInteger(int32_t locus, const char* field);
    double readReal(int32_t locus, const char* field);
    void skipRestOfLine();
    [[noreturn]] void invalidNumber(int32_t locus, const char* field, std::string_view token) const;
    // True when byte i of the file exists; reads on when i lies beyond the bytes held.
    bool has(size_t i) { return i < text_.size() || readUpTo(i); }
    bool readUpTo(size_t i);
    // Opens the file and reads its first block; errors as a fresh reading gives them.
    void startReading();
    void closeFile();
    // True when the first bytes of the file still equal those of text_ that the last reading
    // looked at (all of text_ when it reached the end of the file).
    bool checkedPartUnchanged() const;

    std::string path_;
    std::string text_; // the file's first bytes
    size_t pos_ = 0;
    UniqueFd fd_; // open while the file is being read on
    bool loaded_ = false;
    bool whole_ = false; // text_ is the whole file
    size_t reached_ = 0; // the furthest position read since the file was read afresh
};

// Strict conversions of one token; false when it is not a number of that kind. Integers
// are decimal with an optional sign and must fit 32 bits; reals may be written ".5", "5."
// or with an exponent, and must not overflow a double.
bool parseParamInteger(std::string_view token, int32_t& value);
bool parseParamReal(std::string_view token, double& value);

// Refuses the values a locus cannot be simulated with: a maximum size below the minimum,
// a size range wider than 2147483647, a negative repeat unit, a rate outside [0, 1], and a
// repeat unit that leaves so few sizes in a wide range that a size draw would take more than
// 100000 tries on average. The error names the locus and the field. A repeat unit of 0 is
// left to the size draw.
void checkLocusParams(const MsatLocusParams& params, int32_t locus, const std::string& path);

// The first `loci` loci of the file, read as a simulation reads them (for the run log).
std::vector<MsatLocusParams> readMsatParamsForLog(const std::string& path, int32_t loci);

} // namespace quenlith
