#pragma once
// What a run does before it touches the first file of its working directory: it refuses
// file names that are empty, too long or name one file twice, takes the working directory's
// lock, and removes what an earlier run left that this run would not replace at once (the
// run log and summary table, which only the end of a run writes, and the Arlequin projects),
// so that a folder holds a log only when its run completed.
#include "base/run_lock.h"
#include "run/form_values.h"
#include "run/run_parameters.h"

#include <string>
#include <vector>

namespace quenlith {

// One file a run reads or writes: what it is and its name in the working directory.
struct RunFileName {
    std::string role; // "the run log", "the Newick tree file", ...
    std::string name;
    bool input = false;
};

// Every file the run of `p` (and the form's extra outputs) reads or writes, in the order it
// first touches them: the entries of the output file table that the name check covers.
std::vector<RunFileName> runFileNames(const FormValues& form, const RunParameters& p);

// Empty when the names are usable; otherwise the text of the "WARNING" box: an empty name,
// or two names of one file. A name too long for the file system throws RunError
// "File name too long".
std::string checkRunFileNames(const FormValues& form, const RunParameters& p);

struct RunStart {
    RunLock lock;
    std::string warning; // not empty: the run is refused, nothing was touched
};

// Checks the names, takes the lock and removes the files of an earlier run described above.
// Throws RunError when the lock cannot be taken or an old file cannot be removed.
RunStart startRun(const FormValues& form, const RunParameters& p);

// Removes, from the working directory of `p`, what an earlier run left that the run would not
// replace at once, by the output file table's stale rules: the log, the summary table and its
// part file, the slice manifest, the Arlequin projects, and the batch file, statistics table,
// VCF and ms file under their names when the run does not use them. Only regular files are
// removed; the caller holds the lock.
void removeEarlierRunFiles(const FormValues& form, const RunParameters& p);

} // namespace quenlith
