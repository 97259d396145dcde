#include "run/each_sim_settings.h"

#include "base/file_io.h"
#include "run/run_model.h"
#include "run/run_start.h"

#include <filesystem>

#include <sys/stat.h>

namespace quenlith {

std::string checkEachSim(const FormValues& form, const RunParameters& p) {
    if (!form.chkEachSim) return {};
    if (form.edtEachSim.empty())
        return "The name of the folder of the per-simulation files is empty";
    EachSimFormats formats;
    if (const std::string error = parseEachSimFormats(form.edtEachSimFormat, formats);
        !error.empty())
        return "The formats of the per-simulation files: " + error;
    struct stat st {};
    const std::string folder = joinPath(p.WorkDir, form.edtEachSim);
    const auto normal = [](const std::string& path) {
        return std::filesystem::path(path).lexically_normal().string();
    };
    for (const RunFileName& n : runFileNames(form, p))
        if (normal(joinPath(p.WorkDir, n.name)) == normal(folder))
            return "The folder of the per-simulation files has the name of " + n.role + ", " +
                   n.name;
    if (::stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        return "The folder of the per-simulation files, " + folder + ", is a file";
    return {};
}

EachSimSettings eachSimSettings(const FormValues& form, const RunParameters& p, uint64_t seed) {
    EachSimSettings s;
    s.folder = joinPath(p.WorkDir, form.edtEachSim);
    parseEachSimFormats(form.edtEachSimFormat, s.formats);
    // Without scattered mutations every sequence is the root's: only the trees are written.
    s.alignments = !p.Msats && p.ScatterMut;
    s.msats = p.Msats;
    s.diploid = p.Diploid;
    const bool streams = form.rngKind == RandomKind::Streams;
    // The seed and simulation numbers the VCF's own pairing uses, so both pair alike.
    s.seed = streams ? seed : static_cast<uint32_t>(seed);
    const int64_t first = streams ? form.firstSim : 1;
    s.lastSimulation = first + (p.SimCount > 0 ? p.SimCount : 1) - 1;
    if (p.model) s.demes = demeGroups(*p.model);
    return s;
}

} // namespace quenlith
