#pragma once
// Where the run's output names lead: an absolute name is used as given, a relative one is
// joined to the working directory, and "-" sends the statistics table, the VCF or the ms file
// to standard output. These checks refuse, before anything is written, what would fail or
// mix data later.
#include "run/form_values.h"
#include "run/run_parameters.h"

#include <string>

namespace quenlith {

// The name that stands for standard output.
inline bool isStandardOutput(const std::string& name) {
    return name == "-";
}

// Empty when the output names can be written; otherwise the warning: "-" for more than one
// file, or an absolute name whose folder is missing, not a folder or not writable.
std::string checkOutputPaths(const FormValues& form, const RunParameters& p);

// Empty when `path`'s folder exists and can be written into; otherwise why not, naming what.
std::string checkOutputFolder(const std::string& what, const std::string& path);

// Empty when the files of a slice run are all in its working directory, as a join needs them;
// otherwise which one is not (written to standard output or under an absolute name).
std::string checkJoinableNames(const FormValues& form);

} // namespace quenlith
