#include "run/slice_join.h"

#include "run/parameter_table.h"

#include "base/file_io.h"
#include "base/run_error.h"
#include "output/arlequin.h"
#include "output/each_sim.h"
#include "output/matrix_files.h"
#include "output/vcf_writer.h"
#include "run/output_paths.h"
#include "run/pipeline_settings.h"
#include "run/run_log.h"
#include "run/run_parameters.h"
#include "run/slice_manifest.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quenlith {

namespace {

namespace fs = std::filesystem;

struct Slice {
    std::string dir;
    SliceManifest m;
    int64_t last() const { return m.first + m.count - 1; }
};

[[noreturn]] void refuse(const std::string& cause) {
    throw RunError("Cannot join the slices", cause);
}

std::string range(int64_t first, int64_t last) {
    return first == last ? "simulation " + std::to_string(first)
                         : "simulations " + std::to_string(first) + " to " + std::to_string(last);
}

Slice readSlice(const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) refuse("missing slice: the folder " + dir + " does not exist");
    Slice s;
    s.dir = dir;
    const std::string path = joinPath(dir, kSliceManifestName);
    if (!fs::exists(path, ec)) {
        if (!fs::is_empty(dir, ec))
            refuse(dir + " holds no slice manifest (" + kSliceManifestName +
                   "): it is a run of the default generator, whose simulations depend on each "
                   "other and cannot be joined (slices need --rng streams), or not a run at all");
        refuse("missing slice: " + dir + " is empty");
    }
    std::string error;
    if (!parseSliceManifest(readWholeFile(path), s.m, error))
        refuse(path + " is not a slice manifest: " + error);
    if (!s.m.complete)
        refuse("incomplete slice: the run in " + dir + " (" + range(s.m.first, s.last()) +
               ") did not finish");
    return s;
}

// The controls that may differ between slices of one run: where they ran and how many
// simulations each made.
bool sliceOwnControl(const std::string& name) {
    const ParameterEntry* e = findParameter(name);
    return e && !e->slicesAgree;
}

void checkSameRun(const Slice& a, const Slice& b) {
    if (a.m.seed != b.m.seed)
        refuse("different seeds: " + a.dir + " has seed " + std::to_string(a.m.seed) + ", " +
               b.dir + " has seed " + std::to_string(b.m.seed));
    const auto fa = formFields(a.m.form);
    const auto fb = formFields(b.m.form);
    for (size_t i = 0; i < fa.size(); ++i) {
        if (sliceOwnControl(fa[i].first) || fa[i].second == fb[i].second) continue;
        refuse("different parameters: " + fa[i].first + " is '" + fa[i].second + "' in " + a.dir +
               " and '" + fb[i].second + "' in " + b.dir);
    }
    if (a.m.inputDigest != b.m.inputDigest)
        refuse("different input files (root sequence or microsatellite parameters) in " + a.dir +
               " and " + b.dir);
}

// The slices in the order of their simulations, checked to cover 1 .. N once each.
void checkCoverage(const std::vector<Slice>& slices) {
    int64_t expected = 1;
    const Slice* previous = nullptr;
    for (const Slice& s : slices) {
        if (s.m.count == 0) continue;
        if (s.m.first > expected)
            refuse("gap: " + range(expected, s.m.first - 1) + " are in no slice" +
                   (expected == 1 ? " (a slice starting at simulation 1 is missing)" : ""));
        if (s.m.first < expected)
            refuse("overlap: " + range(s.m.first, std::min(s.last(), expected - 1)) + " of " +
                   s.dir + " are also in " + (previous ? previous->dir : std::string("another")));
        expected = s.last() + 1;
        previous = &s;
    }
    if (expected - 1 > 2147483647LL) refuse("the slices pass simulation 2147483647");
}

std::string pathOf(const Slice& s, const std::string& name) {
    const std::string path = joinPath(s.dir, name);
    std::error_code ec;
    if (!fs::exists(path, ec))
        refuse("incomplete slice: " + s.dir + " has no " + name + " although its run wrote one");
    return path;
}

// Appends the file of a slice to `out` a block at a time (the files of large slices need not
// fit in memory), without its first `skipLines` lines.
void append(const Slice& s, const std::string& name, BlockFile& out, int skipLines) {
    const std::string path = pathOf(s, name);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw RunError("File access denied", path);
    std::string block(1 << 20, '\0');
    int skipping = skipLines;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        std::string_view got(block.data(), static_cast<size_t>(in.gcount()));
        while (skipping > 0) {
            const size_t eol = got.find('\n');
            if (eol == std::string_view::npos) {
                got = {};
                break;
            }
            got.remove_prefix(eol + 1);
            --skipping;
        }
        if (!got.empty()) out.write(got);
    }
    if (skipping > 0) refuse("incomplete slice: " + path + " has no complete header");
}

// A file made of per-simulation blocks: the slices' files one after the other.
void concatenate(const std::vector<Slice>& slices, const std::string& name,
                 const std::string& outDir) {
    BlockFile out(joinPath(outDir, name), true);
    for (const Slice& s : slices)
        append(s, name, out, 0);
}

// A table with one header line and one row per simulation.
void joinTable(const std::vector<Slice>& slices, const std::string& name,
               const std::string& outDir) {
    BlockFile out(joinPath(outDir, name), true);
    bool header = true;
    for (const Slice& s : slices) {
        append(s, name, out, header ? 0 : 1);
        header = false;
    }
}

} // namespace

void joinSlices(const std::vector<std::string>& sliceDirs, const std::string& outDir) {
    if (sliceDirs.empty()) refuse("no slice folders given");
    std::vector<Slice> slices;
    for (const std::string& dir : sliceDirs)
        slices.push_back(readSlice(dir));
    for (size_t i = 1; i < slices.size(); ++i)
        checkSameRun(slices[0], slices[i]);
    std::stable_sort(slices.begin(), slices.end(),
                     [](const Slice& a, const Slice& b) { return a.m.first < b.m.first; });
    checkCoverage(slices);
    if (const std::string where = checkJoinableNames(slices.front().m.form); !where.empty())
        refuse(where);

    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (!fs::is_directory(outDir, ec))
        throw RunError("File not found", outDir + ": the output folder cannot be created");
    for (const Slice& s : slices)
        if (fs::equivalent(s.dir, outDir, ec))
            refuse("the output folder " + outDir + " is the slice " + s.dir);

    const int64_t total = slices.back().last();
    // The whole run's controls: those of the slices, in the output folder, all simulations.
    FormValues form = slices.front().m.form;
    form.WorkDir = outDir;
    form.firstSim = 1;
    form.chkMultipleSims = slices.size() > 1 || total != 1 || slices.front().m.form.chkMultipleSims;
    if (form.chkMultipleSims) form.edtNumberSimulations = std::to_string(total);
    const RunParameters p = readRunParameters(form).params;

    concatenate(slices, p.CoalDistribName, outDir);
    concatenate(slices, p.MutDistribName, outDir);
    concatenate(slices, p.NewickName, outDir);
    concatenate(slices, kTreeMatFile, outDir);
    concatenate(slices, kMutMatFile, outDir);
    if (p.Msats) {
        if (p.MSatOut) concatenate(slices, p.MsatDataName, outDir);
    } else if (p.ScatterMut && p.SeqOut) {
        concatenate(slices, p.SeqOutName, outDir);
    }
    if (p.ArlequinFiles && (p.SeqOut || p.MSatOut)) {
        // The batch file names the projects by their path in the output folder.
        const std::string arlequin = joinPath(outDir, "Arlequin");
        createDirectoryIgnoringErrors(arlequin);
        BlockFile batch(joinPath(outDir, "ArlequinBatch.arp"), true);
        for (const Slice& s : slices) {
            std::error_code sizeError;
            if (fs::file_size(pathOf(s, "ArlequinBatch.arp"), sizeError) == 0) continue;
            std::string block;
            for (int64_t sim = s.m.first; sim <= s.last(); ++sim) {
                const int32_t n = static_cast<int32_t>(sim);
                const std::string from = arlequinProjectPath(s.dir, n);
                if (!fs::exists(from, ec)) refuse("incomplete slice: " + from + " is missing");
                writeWholeFile(arlequinProjectPath(outDir, n), readWholeFile(from));
                block += arlequinProjectPath(outDir, n) + "\r\n";
            }
            batch.write(block);
        }
    }
    joinTable(slices, p.SummaryName, outDir);
    // The statistics table: one header line, a row per simulation.
    if (p.Stats) joinTable(slices, p.StatsName, outDir);
    // The VCF: the whole run's header, then the slices' records.
    if (p.Vcf && !p.Msats) {
        VcfWriter vcf;
        VcfLayout layout;
        layout.copies = p.SampleSize;
        layout.diploid = p.Diploid;
        layout.firstSimulation = 1;
        layout.simulationCount = total;
        vcf.open(joinPath(outDir, p.VcfName), layout);
        for (const Slice& s : slices)
            vcf.copyRecordsFrom(pathOf(s, p.VcfName));
        vcf.close();
    }
    // The ms file: the whole run's command line and seed, then the slices' blocks.
    if (p.Ms && !p.Msats) {
        BlockFile out(joinPath(outDir, p.MsName), true);
        out.write(msCommandLine(form, p, slices.front().m.seed) + "\n" +
                  std::to_string(slices.front().m.seed) + "\n");
        for (const Slice& s : slices)
            append(s, p.MsName, out, 2);
    }

    // The per-simulation files: from the slices' folders, under the whole run's names.
    if (form.chkEachSim) {
        std::vector<std::string> folders;
        for (const Slice& s : slices)
            if (s.m.count > 0) folders.push_back(joinPath(s.dir, form.edtEachSim));
        joinEachSimFolders(folders, joinPath(outDir, form.edtEachSim), total);
    }

    RunLogValues log = slices.back().m.log; // the population size after the last simulation
    log.SimCount = static_cast<int32_t>(total);
    log.Seed = slices.back().m.seed;
    log.StartTime = log.EndTime = std::chrono::system_clock::now();
    writeRunLog(form, log);

    SliceManifest whole;
    whole.complete = true;
    whole.seed = slices.front().m.seed;
    whole.first = 1;
    whole.count = total;
    whole.inputDigest = slices.front().m.inputDigest;
    whole.log = log;
    whole.form = form;
    writeWholeFile(joinPath(outDir, kSliceManifestName), sliceManifestText(whole));
}

} // namespace quenlith
