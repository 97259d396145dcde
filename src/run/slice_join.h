#pragma once
// The join of the slices of a streams run into the files the whole run writes.
#include <string>
#include <vector>

namespace quenlith {

// Joins the slices in `sliceDirs` (any order) into `outDir` (created when missing): every
// file of the whole run 1 .. N, byte for byte, the log apart from its date and times.
// Refuses, with RunError("Cannot join the slices", cause), folders that hold no finished
// slice (a missing, unfinished or default-generator run), slices of different parameters,
// seeds or input files, gaps and overlaps between them, and an output folder that is one of
// the slices.
void joinSlices(const std::vector<std::string>& sliceDirs, const std::string& outDir);

} // namespace quenlith
