#pragma once
// TreeMatFile.txt and MutMatFile.txt: the raw event tables of every genealogy of a run,
// one record per genealogy headed "#n", so the browser can redraw any of them.
#include "genealogy/genealogy.h"

#include <string>

namespace quenlith {

inline constexpr const char* kTreeMatFile = "TreeMatFile.txt";
inline constexpr const char* kMutMatFile = "MutMatFile.txt";

// Appends record n of g to the two texts.
void appendMatrixRecord(int32_t n, const Genealogy& g, std::string& tree, std::string& mut);

// Reads record n back from the two files in workDir: k - 1 coalescence rows and
// mutationCount mutation rows. Returns false when the header "#n" is not found or a file
// ends before its rows (RunError when a file cannot be opened). On success g holds
// CoalEvents, MutEvents and the rebuilt tree.
bool readMatrixRecord(const std::string& workDir, int32_t n, int32_t k, int32_t mutationCount,
                      Genealogy& g);

} // namespace quenlith
