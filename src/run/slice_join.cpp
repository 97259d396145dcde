#include "run/slice_join.h"
#include "base/limits.h"

#include "run/parameter_table.h"

#include "base/convert.h"
#include "base/file_io.h"
#include "base/run_error.h"
#include "base/run_lock.h"
#include "output/arlequin.h"
#include "output/each_sim.h"
#include "output/matrix_files.h"
#include "output/vcf_writer.h"
#include "run/arlequin_projects.h"
#include "run/file_digest.h"
#include "run/output_files.h"
#include "run/output_paths.h"
#include "run/pipeline_settings.h"
#include "run/run_log.h"
#include "run/run_model.h"
#include "run/run_start.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

namespace quenlith {

namespace {

namespace fs = std::filesystem;

struct Slice {
    std::string dir;
    SliceManifest m;
    RunParameters p; // read from the slice's controls, in its folder
    int64_t last() const { return m.first + m.count - 1; }
};

[[noreturn]] void refuse(const std::string& cause) {
    throw RunError("Cannot join the slices", cause);
}

void checkStop(const std::atomic<bool>* stop) {
    if (stop && stop->load()) throw RunStopped();
}

std::string range(int64_t first, int64_t last) {
    return first == last ? "simulation " + std::to_string(first)
                         : "simulations " + std::to_string(first) + " to " + std::to_string(last);
}

// The digest of `name` taken while the run wrote it (see WrittenFiles), when it is known to
// be that of the file on disk. The projects' files must all be there with the sizes written.
bool digestTakenWhileWritten(const RunParameters& p, const std::string& name, int64_t first,
                             int64_t count, WrittenFiles& written, FileDigest& out) {
    if (!written.writtenDigest(joinPath(p.WorkDir, name), out)) return false;
    if (name != kProjectsEntry) return true;
    uint64_t size = 0;
    for (int64_t s = first; s < first + count; ++s) {
        struct stat st {};
        const std::string path = arlequinProjectPath(p.WorkDir, static_cast<int32_t>(s));
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        size += static_cast<uint64_t>(st.st_size);
    }
    return size == out.size;
}

FileDigest digestOf(const RunParameters& p, const std::string& name, int64_t first, int64_t count,
                    const std::atomic<bool>* stop) {
    if (name == kProjectsEntry) return projectsDigest(p.WorkDir, first, count, stop);
    return digestFile(joinPath(p.WorkDir, name), stop);
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
    if (!parseSliceManifest(readWholeFile(path, 1 << 26, "the size of a slice manifest"), s.m,
                            error))
        refuse(path + " is not a slice manifest: " + error);
    if (!s.m.complete)
        refuse("incomplete slice: the run in " + dir + " (" + range(s.m.first, s.last()) +
               ") did not finish");
    if (s.m.count < 0 || s.m.first < 1 || s.m.of < 0 || s.last() > s.m.of)
        refuse(path + " is not a slice manifest: " + range(s.m.first, s.last()) + " of a run of " +
               std::to_string(s.m.of));
    FormValues form = s.m.form;
    form.WorkDir = dir;
    s.p = readRunParameters(form).params;
    return s;
}

// The controls that may differ between slices of one run: where they ran and how many
// simulations each made.
bool sliceOwnControl(const std::string& name) {
    const ParameterEntry* e = findParameter(name);
    return e && !e->slicesAgree;
}

// Whether a control of `f` reaches the run's files: an edit box behind a check box that is
// off, or a value that only another model or data type reads, does not.
bool reachesFiles(const FormValues& f, const std::string& name) {
    const bool dna = !f.chkMsats;
    const bool freqs = f.model == SubstitutionModel::F81 || f.model == SubstitutionModel::HKY85;
    const bool ratio = f.model == SubstitutionModel::K2P || f.model == SubstitutionModel::HKY85;
    if (name == "edtTiTv") return dna && ratio;
    if (name == "edtFreqA" || name == "edtFreqC" || name == "edtFreqG") return dna && freqs;
    if (name == "edtI") return dna && f.chkInvarSites;
    if (name == "edtAlpha") return dna && f.chkShapeParameter;
    if (name == "edtSeqFile") return dna && f.chkSeqInput;
    if (name == "edtSeqLength") return dna && !f.chkSeqInput;
    if (name == "edtSeqOut" || name == "rdgOutput") return dna && f.chkSeqOut;
    if (name == "edtVarRepSuc" || name == "edtMeanOffsp") return f.chkVarRepSuc;
    if (name == "edtGrowthStart" || name == "edtGrowthEnd" || name == "edtChangeN")
        return f.chkFluctuatingN;
    if (name == "edtNumLoci" || name == "msatModel" || name == "edtMsatIn" ||
        name == "chkMSatOut" || name == "chkMSatDiversity")
        return f.chkMsats;
    if (name == "edtMSatData") return f.chkMsats && f.chkMSatOut;
    if (name == "edtStats") return f.chkStats;
    if (name == "edtVcf") return dna && f.chkVcf;
    if (name == "edtMs") return dna && f.chkMs;
    return true;
}

// Two texts of a control give the same value: numbers as the run converts them ("06" and
// "6"), any other text as it is.
bool sameValue(const ParameterEntry& e, const std::string& a, const std::string& b) {
    if (a == b) return true;
    switch (parameterNumber(e)) {
    case ParameterNumber::Whole:
        return lenientInt(a) == lenientInt(b);
    case ParameterNumber::Real:
        return lenientExtended(a) == lenientExtended(b);
    case ParameterNumber::None:
        break;
    }
    return false;
}

// The digest of the model file a slice's run read, from the first line of its log's model
// section ("Demographic model: PATH (digest D)"); empty without a model.
std::string modelDigest(const Slice& s) {
    const std::vector<std::string>& lines = s.m.log.modelLines;
    if (lines.empty()) return {};
    const size_t at = lines.front().rfind("(digest ");
    if (at == std::string::npos || lines.front().back() != ')') return {};
    return lines.front().substr(at + 8, lines.front().size() - at - 9);
}

// The model section without its first line, which names the file by its path in the slice.
std::vector<std::string> modelSection(const Slice& s) {
    const std::vector<std::string>& lines = s.m.log.modelLines;
    return lines.empty() ? lines : std::vector<std::string>(lines.begin() + 1, lines.end());
}

void checkSameRun(const Slice& a, const Slice& b) {
    if (a.m.seed != b.m.seed)
        refuse("different seeds: " + a.dir + " has seed " + std::to_string(a.m.seed) + ", " +
               b.dir + " has seed " + std::to_string(b.m.seed));
    if (a.m.of != b.m.of)
        refuse("different runs: " + a.dir + " is a slice of a run of " + std::to_string(a.m.of) +
               " simulations, " + b.dir + " of " + std::to_string(b.m.of));
    const auto fa = formFields(a.m.form);
    const auto fb = formFields(b.m.form);
    for (size_t i = 0; i < fa.size(); ++i) {
        const ParameterEntry* e = findParameter(fa[i].first);
        if (!e || sliceOwnControl(fa[i].first) || sameValue(*e, fa[i].second, fb[i].second))
            continue;
        // A control neither slice's run reads; the check boxes and choices that decide
        // that are compared in their own turn.
        if (!reachesFiles(a.m.form, fa[i].first) && !reachesFiles(b.m.form, fa[i].first)) continue;
        refuse("different parameters: " + fa[i].first + " is '" + fa[i].second + "' in " + a.dir +
               " and '" + fb[i].second + "' in " + b.dir);
    }
    if (a.m.inputDigest != b.m.inputDigest)
        refuse("different input files (root sequence or microsatellite parameters) in " + a.dir +
               " and " + b.dir);
    if (modelDigest(a) != modelDigest(b) || modelSection(a) != modelSection(b))
        refuse("different demographic models: the model file " + a.m.form.edtDemes +
               " that the run in " + a.dir + " read is not the one the run in " + b.dir + " read");
}

// The slices in the order of their simulations, checked to cover 1 .. S once each.
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
    const int64_t of = slices.front().m.of;
    if (expected - 1 < of)
        refuse("missing slice: " + range(expected, of) + " of the run of " + std::to_string(of) +
               " are in no slice" + (expected > 1 ? " (the last slice is missing)" : ""));
    if (of > int64_t{kLargestCount}) refuse("the slices pass simulation 2147483647");
}

// Every file of every slice as its run wrote it: sizes first (a cut or emptied file is named
// at once), then the digests.
void checkSliceFiles(const std::vector<Slice>& slices, const std::atomic<bool>* stop) {
    struct Entry {
        const Slice* slice;
        const SliceFile* file;
    };
    std::vector<Entry> entries;
    for (const Slice& s : slices) {
        for (const std::string& name : sliceFileNames(s.m.form, s.p)) {
            const auto it = std::find_if(s.m.files.begin(), s.m.files.end(),
                                         [&](const SliceFile& f) { return f.name == name; });
            if (it == s.m.files.end())
                refuse("incomplete slice: the manifest of " + s.dir + " lists no " + name);
            entries.push_back({&s, &*it});
        }
    }
    for (const Entry& e : entries) {
        if (e.file->name == kProjectsEntry) continue;
        const std::string path = joinPath(e.slice->dir, e.file->name);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            refuse("missing file: " + path + " (its run wrote " + std::to_string(e.file->size) +
                   " bytes)");
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        if (S_ISREG(st.st_mode) && size != e.file->size)
            refuse(std::string(size == 0             ? "emptied"
                               : size < e.file->size ? "cut"
                                                     : "changed") +
                   " file: " + path + " holds " + std::to_string(size) + " bytes, its run wrote " +
                   std::to_string(e.file->size));
    }
    for (const Entry& e : entries) {
        const FileDigest d =
            digestOf(e.slice->p, e.file->name, e.slice->m.first, e.slice->m.count, stop);
        const std::string path = joinPath(e.slice->dir, e.file->name);
        if (d.size != e.file->size || d.sha256 != e.file->sha256)
            refuse("changed file: " + path +
                   (e.file->name == kProjectsEntry ? " (the projects)" : "") +
                   " is not what its run wrote (its SHA-256 differs)");
    }
}

// The path a name resolves to, symbolic links of the existing part followed.
std::string resolved(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return (ec ? fs::path(path).lexically_normal() : p).string();
}

bool inside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// Refuses an output of the join (the files of `form` in the output folder) that is a file of
// a slice, or lies in a slice's Arlequin folder.
void checkOutputsAreNotInputs(const std::vector<Slice>& slices, const FormValues& form,
                              const RunParameters& p) {
    struct Input {
        std::string path, shown;
        struct stat st;
        bool exists;
        bool folder;
    };
    std::vector<Input> inputs;
    for (const Slice& s : slices) {
        // The files its manifest lists, the manifest and the input files the run read.
        std::vector<std::string> names = sliceFileNames(s.m.form, s.p);
        names.push_back(outputFile(RunFile::SliceManifest).name(s.m.form, s.p));
        for (const OutputFile& e : outputFileTable())
            if (e.input && e.nameCheck && e.used(s.m.form, s.p))
                names.push_back(e.name(s.m.form, s.p));
        for (const std::string& name : names) {
            const bool folder = name == kProjectsEntry;
            const std::string shown = joinPath(s.dir, folder ? kArlequinFolder : name);
            Input in{resolved(shown), shown, {}, false, folder};
            in.exists = ::stat(in.path.c_str(), &in.st) == 0;
            inputs.push_back(std::move(in));
        }
    }
    std::vector<std::string> outputs;
    for (const RunFileName& n : runFileNames(form, p))
        if (!n.input) outputs.push_back(joinPath(p.WorkDir, n.name));
    for (const std::string& out : outputs) {
        const std::string path = resolved(out);
        struct stat st {};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        for (const Input& in : inputs) {
            const bool same =
                path == in.path ||
                (exists && in.exists && st.st_dev == in.st.st_dev && st.st_ino == in.st.st_ino);
            if (same || (in.folder && inside(path, in.path)) || inside(in.path, path))
                refuse("the output " + out + " of the join would overwrite " + in.shown +
                       ", a file of a slice");
        }
    }
}

// Appends the file of a slice to `out` a block at a time (the files of large slices need not
// fit in memory), without its first `skipLines` lines.
void append(const Slice& s, const std::string& name, BlockFile& out, int skipLines,
            const std::atomic<bool>* stop) {
    const std::string path = joinPath(s.dir, name);
    const UniqueFd fd = openRegularFile(path);
    std::string block(1 << 20, '\0');
    int skipping = skipLines;
    for (;;) {
        if (stop && stop->load()) throw RunStopped();
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) throwIoError(errno, path);
        if (n == 0) break;
        std::string_view got(block.data(), static_cast<size_t>(n));
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
                 const std::string& outDir, WrittenFiles& written, const std::atomic<bool>* stop) {
    BlockFile out(joinPath(outDir, name), true, &written);
    for (const Slice& s : slices)
        append(s, name, out, 0, stop);
}

// A table with one header line and one row per simulation.
void joinTable(const std::vector<Slice>& slices, const std::string& name, const std::string& outDir,
               WrittenFiles& written, const std::atomic<bool>* stop) {
    BlockFile out(joinPath(outDir, name), true, &written);
    bool header = true;
    for (const Slice& s : slices) {
        append(s, name, out, header ? 0 : 1, stop);
        header = false;
    }
}

// The input file (root sequence, microsatellite parameters) the log names, copied from the
// first slice that holds it as its run read it.
void copyInputFile(const std::vector<Slice>& slices, const std::string& name,
                   const std::string& outDir, WrittenFiles& written, bool model = false) {
    const std::string to = joinPath(outDir, name);
    // A name outside the folders (one file that every slice read) is the same file for the
    // joined run; one that is a slice's own file is never written over.
    if (!inside(resolved(to), resolved(outDir))) return;
    for (const Slice& s : slices)
        if (resolved(joinPath(s.dir, name)) == resolved(to)) return;
    for (const Slice& s : slices) {
        const std::string from = joinPath(s.dir, name);
        struct stat st {};
        if (::stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const std::string content = readWholeFile(from);
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx",
                      static_cast<unsigned long long>(textDigest(content, textDigest(""))));
        // Changed since the slice's run read it.
        if (hex != (model ? modelDigest(s) : s.m.inputDigest)) continue;
        writeWholeFile(to, content, &written);
        return;
    }
    refuse("no slice holds " + name + " as its run read it; the joined log names it");
}

// The Arlequin batch file and projects, and the per-simulation files: the join's own ways.
void joinOwn(const OutputFile& e, const std::vector<Slice>& slices, const FormValues& form,
             const std::string& outDir, WrittenFiles& written, const std::atomic<bool>* stop) {
    const int64_t total = slices.front().m.of;
    std::error_code ec;
    switch (e.id) {
    case RunFile::ArlequinBatch: {
        // The batch file names the projects by their path in the output folder.
        createDirectoryIgnoringErrors(joinPath(outDir, kArlequinFolder));
        BlockFile batch(joinPath(outDir, kArlequinBatch), true, &written);
        const std::shared_ptr<WriteTally> projects =
            written.groupTally(joinPath(outDir, kProjectsEntry));
        for (const Slice& s : slices) {
            std::error_code sizeError;
            if (fs::file_size(joinPath(s.dir, kArlequinBatch), sizeError) == 0) continue;
            std::string block;
            for (int64_t sim = s.m.first; sim <= s.last(); ++sim) {
                checkStop(stop);
                const int32_t n = static_cast<int32_t>(sim);
                const std::string from = arlequinProjectPath(s.dir, n);
                if (!fs::exists(from, ec)) refuse("incomplete slice: " + from + " is missing");
                const std::string project = readWholeFile(from);
                writeWholeFile(arlequinProjectPath(outDir, n), project, &written);
                if (projects) tallyProject(*projects, sim, project);
                block += arlequinProjectPath(outDir, n) + "\r\n";
            }
            batch.write(block);
        }
        break;
    }
    case RunFile::EachSimFolder: {
        // From the slices' folders, under the whole run's names.
        std::vector<std::string> folders;
        for (const Slice& s : slices)
            if (s.m.count > 0) folders.push_back(joinPath(s.dir, form.edtEachSim));
        joinEachSimFolders(folders, joinPath(outDir, form.edtEachSim), total, &written);
        break;
    }
    default: // the projects come with the batch file; the manifest and log after the loop
        break;
    }
}

// The VCF and the ms file: the whole run's header, then the slices' records.
void joinHeaderThenRecords(const OutputFile& e, const std::vector<Slice>& slices,
                           const FormValues& form, const RunParameters& p,
                           const std::string& outDir, WrittenFiles& written,
                           const std::atomic<bool>* stop) {
    const int64_t total = slices.front().m.of;
    if (e.id == RunFile::Vcf) {
        VcfWriter vcf;
        VcfLayout layout;
        layout.copies = p.SampleSize;
        layout.diploid = p.Diploid;
        const PipelineOutputSettings names = pipelineOutputSettings(p, form, slices.front().m.seed);
        layout.sampleNames = names.sampleNames;
        layout.samplePopulations = names.samplePopulations;
        layout.firstSimulation = 1;
        layout.simulationCount = total;
        layout.sequenceLength = slices.front().m.log.SequenceLength;
        vcf.open(joinPath(outDir, p.VcfName), layout, &written);
        for (const Slice& s : slices) {
            checkStop(stop);
            vcf.copyRecordsFrom(joinPath(s.dir, p.VcfName));
        }
        vcf.close();
    } else if (e.id == RunFile::Ms) {
        // The whole run's command line and seed, then the slices' blocks.
        BlockFile out(joinPath(outDir, p.MsName), true, &written);
        out.write(msCommandLine(form, p, slices.front().m.seed) + "\n" +
                  std::to_string(slices.front().m.seed) + "\n");
        for (const Slice& s : slices)
            append(s, p.MsName, out, 2, stop);
    }
}

} // namespace

FileDigest projectsDigest(const std::string& workDir, int64_t first, int64_t count,
                          const std::atomic<bool>* stop) {
    WriteTally tally;
    for (int64_t s = first; s < first + count; ++s) {
        checkStop(stop);
        const std::string path = arlequinProjectPath(workDir, static_cast<int32_t>(s));
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;
        tallyProject(tally, s, readWholeFile(path));
    }
    return tally.finish();
}

std::vector<SliceFile> sliceFileDigests(const FormValues& form, const RunParameters& p,
                                        int64_t first, int64_t count, const std::atomic<bool>* stop,
                                        WrittenFiles* written) {
    std::vector<SliceFile> files;
    for (const std::string& name : sliceFileNames(form, p)) {
        FileDigest d;
        if (!written || !digestTakenWhileWritten(p, name, first, count, *written, d))
            d = digestOf(p, name, first, count, stop);
        files.push_back({name, d.size, d.sha256});
    }
    return files;
}

std::vector<std::string> sliceFilePaths(const FormValues& form, const RunParameters& p) {
    std::vector<std::string> paths;
    for (const std::string& name : sliceFileNames(form, p))
        paths.push_back(joinPath(p.WorkDir, name));
    // The summary table is written under the part file's name and renamed at the end.
    paths.push_back(joinPath(p.WorkDir, outputFile(RunFile::SummaryPart).name(form, p)));
    return paths;
}

void joinSlices(const std::vector<std::string>& sliceDirs, const std::string& outDir,
                const std::atomic<bool>* stop) {
    if (sliceDirs.empty()) refuse("no slice folders given");
    // No run starts writing into a slice while the join reads it.
    std::vector<RunLock> sliceLocks;
    std::vector<std::string> locked;
    for (const std::string& dir : sliceDirs) {
        std::error_code ec;
        const std::string path = resolved(dir);
        if (!fs::is_directory(dir, ec) ||
            std::find(locked.begin(), locked.end(), path) != locked.end())
            continue;
        sliceLocks.emplace_back(dir);
        locked.push_back(path);
    }
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
    const int64_t total = slices.front().m.of;

    // The whole run's controls: those of the slices, in the output folder, all simulations.
    FormValues form = slices.front().m.form;
    form.WorkDir = outDir;
    form.firstSim = 1;
    form.ofSims = 0;
    form.chkMultipleSims = slices.size() > 1 || total != 1 || slices.front().m.form.chkMultipleSims;
    if (form.chkMultipleSims) form.edtNumberSimulations = std::to_string(total);
    RunParameters p = readRunParameters(form).params;
    // A model's samples name the VCF's samples and set the sample size: the model as the
    // slices' runs read it, from the first slice that holds it unchanged.
    if (form.chkDemes) {
        auto model = std::make_shared<RunModel>();
        std::string error =
            "no slice holds the model file " + form.edtDemes + " as its run read it";
        for (const Slice& s : slices) {
            FormValues sliceForm = s.m.form;
            sliceForm.WorkDir = s.dir;
            RunModel read;
            if (!readRunModel(sliceForm, read).empty() || read.digest != modelDigest(s)) continue;
            *model = std::move(read);
            error.clear();
            break;
        }
        if (!error.empty()) refuse(error);
        model->path = joinPath(outDir, form.edtDemes);
        p.SampleSize = model->sampleSize();
        p.model = model;
    }
    for (const Slice& s : slices)
        if (resolved(s.dir) == resolved(outDir))
            refuse("the output folder " + outDir + " is the slice " + s.dir);
    checkOutputsAreNotInputs(slices, form, p);
    checkSliceFiles(slices, stop);

    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (!fs::is_directory(outDir, ec))
        throw RunError("File not found", outDir + ": the output folder cannot be created");
    // One run or join at a time in the output folder; then what an earlier one left goes.
    const RunLock lock(outDir);
    for (const Slice& s : slices)
        if (fs::equivalent(s.dir, outDir, ec))
            refuse("the output folder " + outDir + " is the slice " + s.dir);
    removeEarlierRunFiles(form, p);
    WrittenFiles written; // every file the join writes, checked before its log
    // The digests of the joined manifest, taken as the files are written.
    written.tallyWrites(sliceFilePaths(form, p));

    SliceManifest whole;
    whole.complete = false;
    whole.seed = slices.front().m.seed;
    whole.first = 1;
    whole.count = total;
    whole.of = total;
    whole.inputDigest = slices.front().m.inputDigest;
    whole.form = form;
    whole.log = slices.back().m.log;
    writeWholeFile(joinPath(outDir, kSliceManifestName), sliceManifestText(whole), &written);

    for (const OutputFile* e : joinOrder()) {
        if (!runWrites(*e, form, p)) continue;
        const std::string name = e->name(form, p);
        switch (e->join) {
        case JoinRule::Concatenate:
            concatenate(slices, name, outDir, written, stop);
            break;
        case JoinRule::TableOneHeader:
            joinTable(slices, name, outDir, written, stop);
            break;
        case JoinRule::HeaderThenRecords:
            joinHeaderThenRecords(*e, slices, form, p, outDir, written, stop);
            break;
        case JoinRule::Copy:
            // The input file the log names.
            copyInputFile(slices, name, outDir, written, e->id == RunFile::DemesModel);
            break;
        case JoinRule::Own:
            joinOwn(*e, slices, form, outDir, written, stop);
            break;
        case JoinRule::NotJoined:
            break;
        }
    }

    checkStop(stop);
    written.check();                        // no log beside a file of the join that has gone
    RunLogValues log = slices.back().m.log; // the population size after the last simulation
    log.SimCount = static_cast<int32_t>(total);
    log.Seed = slices.back().m.seed;
    log.StartTime = log.EndTime = std::chrono::system_clock::now();
    // The model named as the whole run in the output folder names it.
    if (p.model) log.modelLines = runModelLogLines(*p.model);
    writeRunLog(form, log);

    whole.complete = true;
    whole.log = log;
    whole.files = sliceFileDigests(form, p, 1, total, stop, &written);
    writeWholeFile(joinPath(outDir, kSliceManifestName), sliceManifestText(whole), &written);
}

} // namespace quenlith
