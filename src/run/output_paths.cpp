#include "run/output_paths.h"

#include "base/file_io.h"
#include "run/output_files.h"
#include "run/run_start.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quenlith {

namespace {

bool isAbsolute(const std::string& name) {
    return !name.empty() && name.front() == '/';
}

// The outputs that may be standard output, with their role, when the run writes them.
std::vector<std::pair<std::string, std::string>> streamableOutputs(const FormValues& f,
                                                                   const RunParameters& p) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const OutputFile& e : outputFileTable())
        if (*e.stdoutRole && e.used(f, p)) out.emplace_back(e.stdoutRole, e.name(f, p));
    return out;
}

} // namespace

std::string checkOutputFolder(const std::string& what, const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const std::string dir = folder.empty() ? "." : folder;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return "The folder of " + what + ", " + dir + ", does not exist (" + std::strerror(errno) +
               ")";
    if (!S_ISDIR(st.st_mode)) return "The folder of " + what + ", " + dir + ", is not a folder";
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return "The folder of " + what + ", " + dir + ", cannot be written into (" +
               std::strerror(errno) + ")";
    return {};
}

std::string checkOutputPaths(const FormValues& form, const RunParameters& p) {
    std::string toStdout;
    for (const auto& [role, name] : streamableOutputs(form, p)) {
        if (!isStandardOutput(name)) continue;
        if (!toStdout.empty())
            return "Only one file can be written to standard output (\"-\"): " + toStdout +
                   " and " + role + " are both \"-\"";
        toStdout = role;
    }
    for (const RunFileName& n : runFileNames(form, p)) {
        if (n.input || !isAbsolute(n.name)) continue;
        if (const std::string error = checkOutputFolder(n.role, n.name); !error.empty())
            return error;
    }
    return {};
}

std::string checkJoinableNames(const FormValues& form) {
    const RunParameters p = readRunParameters(form).params;
    for (const auto& [role, name] : streamableOutputs(form, p))
        if (isStandardOutput(name))
            return "the slices wrote " + role +
                   " to standard output: a join needs it in each "
                   "slice's folder";
    for (const RunFileName& n : runFileNames(form, p))
        if (!n.input && isAbsolute(n.name))
            return "the slices wrote " + n.role + " to the absolute name " + n.name +
                   ": a join needs it in each slice's folder";
    const OutputFile& eachSim = outputFile(RunFile::EachSimFolder);
    if (eachSim.used(form, p) && isAbsolute(eachSim.name(form, p)))
        return "the slices wrote the per-simulation files to the absolute folder " +
               eachSim.name(form, p) + ": a join needs them in each slice's folder";
    return {};
}

} // namespace quenlith
