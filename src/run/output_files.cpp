#include "run/output_files.h"

#include "base/run_lock.h"
#include "output/matrix_files.h"
#include "run/slice_manifest.h"

#include <algorithm>
#include <stdexcept>

namespace quenlith {

namespace {

using F = FormValues;
using P = RunParameters;
using Rule = JoinRule;
using Stale = StaleRule;

bool always(const F&, const P&) {
    return true;
}

bool streams(const F& f, const P&) {
    return f.rngKind == RandomKind::Streams;
}

bool writesArlequin(const F&, const P& p) {
    return p.ArlequinFiles && (p.SeqOut || p.MSatOut);
}

const std::vector<OutputFile>& table() {
    // clang-format off
    static const std::vector<OutputFile> entries = {
        {.id = RunFile::Lock, .role = "the lock file of the run",
         .name = [](const F&, const P&) { return std::string(kRunLockName); }, .used = always},
        {.id = RunFile::CoalDistrib, .role = "the coalescence time distribution",
         .name = [](const F&, const P& p) { return p.CoalDistribName; }, .used = always,
         .nameField = "edtCoalDistrib", .join = Rule::Concatenate, .joinStep = 1,
         .inManifest = true},
        {.id = RunFile::MutDistrib, .role = "the mutation time distribution",
         .name = [](const F&, const P& p) { return p.MutDistribName; }, .used = always,
         .nameField = "edtMutDistrib", .join = Rule::Concatenate, .joinStep = 2,
         .inManifest = true},
        {.id = RunFile::MsatParams, .role = "the microsatellite parameter file",
         .name = [](const F&, const P& p) { return p.MsatParamsName; },
         .used = [](const F&, const P& p) { return p.Msats; }, .input = true,
         .checkField = "chkMsats", .nameField = "edtMsatIn", .join = Rule::Copy, .joinStep = 13},
        {.id = RunFile::SeqInput, .role = "the input DNA sequence file",
         .name = [](const F&, const P& p) { return p.SeqFileName; },
         .used = [](const F&, const P& p) { return !p.Msats && p.SeqInput; }, .input = true,
         .checkField = "chkSeqInput", .nameField = "edtSeqFile", .join = Rule::Copy,
         .joinStep = 13},
        // DNA runs only: a microsatellite run has no sequences to write.
        {.id = RunFile::SeqOut, .role = "the sequence output file",
         .name = [](const F&, const P& p) { return p.SeqOutName; },
         .used = [](const F&, const P& p) { return !p.Msats && p.ScatterMut && p.SeqOut; },
         .checkField = "chkSeqOut", .nameField = "edtSeqOut", .join = Rule::Concatenate,
         .joinStep = 6, .inManifest = true},
        // Its projects sim_<n>.arp; the manifest lists them as one entry, after the batch file.
        {.id = RunFile::ArlequinFolder, .role = "the Arlequin folder",
         .name = [](const F&, const P&) { return std::string(kArlequinFolder); },
         .used = writesArlequin, .checkField = "chkArlequin", .stale = Stale::Projects,
         .join = Rule::Own, .joinStep = 8, .inManifest = true},
        {.id = RunFile::ArlequinBatch, .role = "the Arlequin batch file",
         .name = [](const F&, const P&) { return std::string(kArlequinBatch); },
         .used = writesArlequin, .checkField = "chkArlequin", .stale = Stale::WhenNotUsed,
         .join = Rule::Own, .joinStep = 7, .inManifest = true},
        {.id = RunFile::Newick, .role = "the Newick tree file",
         .name = [](const F&, const P& p) { return p.NewickName; }, .used = always,
         .nameField = "edtNewickTrees", .join = Rule::Concatenate, .joinStep = 3,
         .inManifest = true},
        {.id = RunFile::MsatData, .role = "the microsatellite data file",
         .name = [](const F&, const P& p) { return p.MsatDataName; },
         .used = [](const F&, const P& p) { return p.Msats && p.MSatOut; },
         .checkField = "chkMSatOut", .nameField = "edtMSatData", .join = Rule::Concatenate,
         .joinStep = 6, .inManifest = true},
        {.id = RunFile::TreeMatrix, .role = "the genealogy matrix file",
         .name = [](const F&, const P&) { return std::string(kTreeMatFile); }, .used = always,
         .join = Rule::Concatenate, .joinStep = 4, .inManifest = true},
        {.id = RunFile::MutMatrix, .role = "the mutation matrix file",
         .name = [](const F&, const P&) { return std::string(kMutMatFile); }, .used = always,
         .join = Rule::Concatenate, .joinStep = 5, .inManifest = true},
        {.id = RunFile::Stats, .role = "the statistics table",
         .name = [](const F& f, const P&) { return f.edtStats; },
         .used = [](const F& f, const P&) { return f.chkStats; }, .fromParameters = false,
         .stdoutRole = "the statistics table (--stats)", .checkField = "chkStats",
         .nameField = "edtStats", .stale = Stale::WhenNotUsed, .join = Rule::TableOneHeader,
         .joinStep = 10, .inManifest = true},
        {.id = RunFile::Vcf, .role = "the VCF file",
         .name = [](const F& f, const P&) { return f.edtVcf; },
         .used = [](const F& f, const P&) { return f.chkVcf; }, .fromParameters = false,
         .dnaOnly = true, .stdoutRole = "the VCF (--vcf)", .checkField = "chkVcf",
         .nameField = "edtVcf", .stale = Stale::WhenNotUsed, .join = Rule::HeaderThenRecords,
         .joinStep = 11, .inManifest = true},
        {.id = RunFile::Ms, .role = "the ms file",
         .name = [](const F& f, const P&) { return f.edtMs; },
         .used = [](const F& f, const P&) { return f.chkMs; }, .fromParameters = false,
         .dnaOnly = true, .stdoutRole = "the ms file (--ms)", .checkField = "chkMs",
         .nameField = "edtMs", .stale = Stale::WhenNotUsed, .join = Rule::HeaderThenRecords,
         .joinStep = 12, .inManifest = true},
        // Written by the join before and after the other files.
        {.id = RunFile::SliceManifest, .role = "the slice manifest",
         .name = [](const F&, const P&) { return std::string(kSliceManifestName); },
         .used = streams, .fromParameters = false, .stale = Stale::Always, .join = Rule::Own},
        {.id = RunFile::SummaryPart, .role = "the part file of the summary table",
         .name = [](const F&, const P& p) { return p.SummaryName + ".part"; }, .used = streams,
         .fromParameters = false, .stale = Stale::Always},
        {.id = RunFile::Summary, .role = "the summary table",
         .name = [](const F&, const P& p) { return p.SummaryName; }, .used = always,
         .nameField = "edtTmrca", .stale = Stale::Always, .join = Rule::TableOneHeader,
         .joinStep = 9, .inManifest = true},
        {.id = RunFile::Log, .role = "the run log",
         .name = [](const F&, const P& p) { return p.LogName; }, .used = always,
         .nameField = "edtLogFile", .stale = Stale::Always, .join = Rule::Own},
        // A folder of its own, checked by the per-simulation files' own check.
        {.id = RunFile::EachSimFolder, .role = "the folder of the per-simulation files",
         .name = [](const F& f, const P&) { return f.edtEachSim; },
         .used = [](const F& f, const P&) { return f.chkEachSim; }, .fromParameters = false,
         .nameCheck = false, .checkField = "chkEachSim", .nameField = "edtEachSim",
         .join = Rule::Own, .joinStep = 15},
        {.id = RunFile::DemesModel, .role = "the demographic model file",
         .name = [](const F& f, const P&) { return f.edtDemes; },
         .used = [](const F& f, const P&) { return f.chkDemes; }, .fromParameters = false,
         .input = true, .checkField = "chkDemes", .nameField = "edtDemes", .join = Rule::Copy,
         .joinStep = 14},
    };
    // clang-format on
    return entries;
}

} // namespace

const std::vector<OutputFile>& outputFileTable() {
    return table();
}

const OutputFile& outputFile(RunFile id) {
    for (const OutputFile& e : table())
        if (e.id == id) return e;
    throw std::logic_error("no entry for a run file");
}

bool runWrites(const OutputFile& e, const FormValues& f, const RunParameters& p) {
    return e.used(f, p) && !(e.dnaOnly && p.Msats);
}

std::vector<const OutputFile*> joinOrder() {
    std::vector<const OutputFile*> order;
    for (const OutputFile& e : table())
        if (e.joinStep > 0) order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const OutputFile* a, const OutputFile* b) {
        return a->joinStep < b->joinStep;
    });
    return order;
}

std::vector<std::string> sliceFileNames(const FormValues& f, const RunParameters& p) {
    std::vector<std::string> names;
    for (const OutputFile* e : joinOrder())
        if (e->inManifest && runWrites(*e, f, p))
            names.push_back(e->id == RunFile::ArlequinFolder ? kProjectsEntry : e->name(f, p));
    return names;
}

BlockFile createRunFile(RunFile id, const RunParameters& p, WrittenFiles* written) {
    const OutputFile& e = outputFile(id);
    if (!e.fromParameters) throw std::logic_error("a run file named by the form's controls");
    static const FormValues unused;
    if (!runWrites(e, unused, p)) return {};
    // The projects go into the Arlequin folder.
    if (id == RunFile::ArlequinBatch)
        createDirectoryIgnoringErrors(joinPath(p.WorkDir, kArlequinFolder));
    return BlockFile(joinPath(p.WorkDir, e.name(unused, p)), true, written);
}

} // namespace quenlith
