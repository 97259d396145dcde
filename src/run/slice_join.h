#pragma once
// The join of the slices of a streams run into the files the whole run writes.
#include "base/file_io.h"
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
// - 1) that a join reads, with their sizes and SHA-256: those `written` took while the run
// wrote them (see WrittenFiles::tallyWrites and sliceFilePaths), the others read back from
// the working directory.
std::vector<SliceFile> sliceFileDigests(const FormValues& form, const RunParameters& p,
                                        int64_t first, int64_t count,
                                        const std::atomic<bool>* stop = nullptr,
                                        WrittenFiles* written = nullptr);

// The Arlequin projects of simulations first .. first + count - 1 in `workDir` as one digest,
// read back: each project's name, size and content in simulation order (see tallyProject; a
// missing one leaves no trace, so that a project deleted after the run changes the digest).
FileDigest projectsDigest(const std::string& workDir, int64_t first, int64_t count,
                          const std::atomic<bool>* stop = nullptr);

// The paths whose digests a streams run takes while it writes them: the files of its
// manifest, the projects' entry, and the part file the summary table is written under.
std::vector<std::string> sliceFilePaths(const FormValues& form, const RunParameters& p);

} // namespace quenlith
