#pragma once
// The join of the slices of a streams run into the files the whole run writes.
#include "run/form_values.h"
#include "run/run_parameters.h"
#include "run/slice_manifest.h"

#include <atomic>
#include <string>
#include <vector>

namespace quenlith {

// Joins the slices in `sliceDirs` (any order) into `outDir` (created when missing): every
// file of the whole run 1 .. S, byte for byte, the log apart from its date and times.
// Refuses, with RunError("Cannot join the slices", cause) and before the output folder is
// touched, folders that hold no finished slice (a missing, unfinished or default-generator
// run), slices of different parameters, seeds, run sizes or input files, gaps and overlaps
// between them and a missing last slice, a file of a slice that is missing, cut, emptied or
// changed since its run wrote it, an output folder that is one of the slices, and an output
// that would overwrite a file of a slice. The join holds the run locks of the slices (no run
// starts writing into one while it is read) and of the output folder, clears
// it of an earlier run's log, manifest and projects first, and leaves it, when it fails or is
// stopped (`stop` set: RunStopped), as a failed run does: no log, a "running" manifest.
void joinSlices(const std::vector<std::string>& sliceDirs, const std::string& outDir,
                const std::atomic<bool>* stop = nullptr);

// The files of a completed streams run of `form` and `p` (simulations first .. first + count
// - 1) that a join reads, with their sizes and SHA-256, read back from the working directory.
std::vector<SliceFile> sliceFileDigests(const FormValues& form, const RunParameters& p,
                                        int64_t first, int64_t count,
                                        const std::atomic<bool>* stop = nullptr);

} // namespace quenlith
