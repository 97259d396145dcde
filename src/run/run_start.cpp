#include "run/run_start.h"
#include "base/file_io.h"
#include "base/run_error.h"
#include "run/output_files.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlith {

namespace {

// "sim_<n>.arp" with n a decimal number without leading zeros: the names the program gives
// the Arlequin projects, and no other.
bool isProjectName(const std::string& name) {
    const std::string head = "sim_", tail = ".arp";
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    if (digits[0] == '0') return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    return true;
}

// The path as the file system resolves it, as far as text can tell: "a/./b" and "a//b" name
// one file.
std::string normalPath(const std::string& workDir, const std::string& name) {
    return std::filesystem::path(joinPath(workDir, name)).lexically_normal().string();
}

void checkNameLength(const std::string& workDir, const std::string& path) {
    long nameMax = ::pathconf(workDir.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    if (path.size() >= PATH_MAX) throw RunError("File name too long", path);
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (static_cast<long>(end - start) > nameMax) throw RunError("File name too long", path);
        start = end + 1;
    }
}

// Removes a regular file of an earlier run. Anything else in its place (a directory, a link
// to a device) is left for the run to write into or fail on, as it always did.
void removeIfThere(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return;
    throwIoError(errno, path);
}

void removeOldProjects(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> old;
    while (const dirent* e = ::readdir(dir))
        if (isProjectName(e->d_name)) old.push_back(e->d_name);
    ::closedir(dir);
    for (const std::string& name : old)
        removeIfThere(folder + "/" + name);
}

} // namespace

std::vector<RunFileName> runFileNames(const FormValues& f, const RunParameters& p) {
    std::vector<RunFileName> names;
    for (const OutputFile& e : outputFileTable())
        if (e.nameCheck && e.used(f, p)) names.push_back({e.role, e.name(f, p), e.input});
    return names;
}

std::string checkRunFileNames(const FormValues& f, const RunParameters& p) {
    const std::vector<RunFileName> names = runFileNames(f, p);
    for (const RunFileName& n : names)
        if (n.name.empty()) return "The name of " + n.role + " is empty";
    for (const RunFileName& n : names)
        checkNameLength(p.WorkDir, joinPath(p.WorkDir, n.name));

    struct Seen {
        const RunFileName* file;
        std::string path;
        struct stat st;
        bool exists;
    };
    std::vector<Seen> seen;
    const std::string arlequin = normalPath(p.WorkDir, kArlequinFolder) + "/";
    for (const RunFileName& n : names) {
        Seen s{&n, normalPath(p.WorkDir, n.name), {}, false};
        s.exists = ::stat(s.path.c_str(), &s.st) == 0 && S_ISREG(s.st.st_mode);
        auto collide = [&](const RunFileName& other) {
            return "Two files of the run have one name: " + n.name + " is " + other.role + " and " +
                   n.role;
        };
        for (const Seen& earlier : seen) {
            // Inputs may share a file with each other, never with an output.
            if (n.input && earlier.file->input) continue;
            const bool samePath = earlier.path == s.path;
            const bool sameFile = s.exists && earlier.exists && earlier.st.st_dev == s.st.st_dev &&
                                  earlier.st.st_ino == s.st.st_ino;
            if (samePath || sameFile) return collide(*earlier.file);
        }
        // The projects the run writes into the Arlequin folder.
        if (runWrites(outputFile(RunFile::ArlequinFolder), f, p) &&
            s.path.size() > arlequin.size() && s.path.compare(0, arlequin.size(), arlequin) == 0 &&
            isProjectName(s.path.substr(arlequin.size())))
            return "Two files of the run have one name: " + n.name +
                   " is an Arlequin project of the run and " + n.role;
        seen.push_back(std::move(s));
    }
    // A slice's files stay in its folder: there the join finds them, and slices of one run
    // written into one shared file would overwrite each other.
    if (f.rngKind == RandomKind::Streams && f.ofSims > 0) {
        std::error_code ec;
        const std::filesystem::path folder =
            std::filesystem::weakly_canonical(std::filesystem::absolute(p.WorkDir, ec), ec);
        const std::string inside = folder.string() + "/";
        for (const RunFileName& n : names) {
            if (n.input) continue;
            const std::string path =
                std::filesystem::weakly_canonical(
                    std::filesystem::absolute(joinPath(p.WorkDir, n.name), ec), ec)
                    .string();
            if (path.compare(0, inside.size(), inside) != 0)
                return "The name of " + n.role + ", " + n.name +
                       ", leads out of the working directory: the files of a slice (--of) stay "
                       "in its folder, where the join finds them";
        }
    }
    return {};
}

RunStart startRun(const FormValues& form, const RunParameters& p) {
    RunStart start;
    start.warning = checkRunFileNames(form, p);
    if (!start.warning.empty()) return start;
    start.lock = RunLock(p.WorkDir);
    removeEarlierRunFiles(form, p);
    return start;
}

void removeEarlierRunFiles(const FormValues& form, const RunParameters& p) {
    // Only the end of a run writes these (and a slice manifest describes the files beside
    // it): an old one beside new files would describe a run that is not the one in the
    // folder. The end's files go first.
    const std::vector<OutputFile>& table = outputFileTable();
    for (auto e = table.rbegin(); e != table.rend(); ++e)
        if (e->stale == StaleRule::Always) removeIfThere(joinPath(p.WorkDir, e->name(form, p)));
    // The optional files under the names this run would give them: one of an earlier run
    // beside this run's files would pass for this run's. A name that is also a file this run
    // reads or writes (the root sequence file, say) is left alone.
    const std::vector<RunFileName> used = runFileNames(form, p);
    auto removeUnused = [&](const std::string& name) {
        if (name.empty()) return;
        const std::string path = normalPath(p.WorkDir, name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        for (const RunFileName& n : used) {
            struct stat other {};
            const std::string usedPath = normalPath(p.WorkDir, n.name);
            if (usedPath == path || (::stat(usedPath.c_str(), &other) == 0 &&
                                     other.st_dev == st.st_dev && other.st_ino == st.st_ino))
                return;
        }
        removeIfThere(path);
    };
    for (const OutputFile& e : table) {
        if (e.stale == StaleRule::Projects) removeOldProjects(joinPath(p.WorkDir, e.name(form, p)));
        if (e.stale == StaleRule::WhenNotUsed && !e.used(form, p)) removeUnused(e.name(form, p));
    }
}

} // namespace quenlith
