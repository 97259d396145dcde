#pragma once
// The table of the files a run reads or writes in its working directory: one entry per file,
// with its role, how its name comes from the run's controls, whether this run uses it, its
// controls, what happens to one an earlier run left, and how the join of a run's slices
// makes it. The name check, the removal of an earlier run's files, the creation of the plain
// files in the drivers, the slice manifest's list and the join all loop over this table.
//
// A new output format is an entry here plus its writer. The files it touches: its writer
// (src/output), this table (src/run/output_files.cpp), its check box and name in
// src/run/form_values.h and src/run/parameter_table.cpp with their control in
// src/app/main_window.cpp, and the one place a driver hands it each simulation's data
// (src/output/pipeline_outputs.* for a file of the analysis pipelines, or the driver's
// createRunFile and write for plain blocks). The join needs code of its own
// (src/run/slice_join.cpp) only for the rules HeaderThenRecords and Own.
#include "base/file_io.h"
#include "run/form_values.h"
#include "run/run_parameters.h"

#include <string>
#include <vector>

namespace quenlith {

inline constexpr const char* kArlequinFolder = "Arlequin";
inline constexpr const char* kArlequinBatch = "ArlequinBatch.arp";
// The manifest's entry that stands for every Arlequin project of a slice.
inline constexpr const char* kProjectsEntry = "Arlequin/";

enum class RunFile {
    Lock,
    CoalDistrib,
    MutDistrib,
    MsatParams,
    SeqInput,
    SeqOut,
    ArlequinFolder,
    ArlequinBatch,
    Newick,
    MsatData,
    TreeMatrix,
    MutMatrix,
    Stats,
    Vcf,
    Ms,
    SliceManifest,
    SummaryPart,
    Summary,
    Log,
    EachSimFolder,
    DemesModel,
};

// How the join of a run's slices makes the whole run's file.
enum class JoinRule {
    Concatenate,       // per-simulation blocks: the slices' files one after the other
    TableOneHeader,    // one header line, then every slice's rows
    HeaderThenRecords, // the whole run's header, then every slice's records
    Copy,              // an input file, copied from a slice that holds it as its run read it
    Own,               // written by the join in a way of its own
    NotJoined,         // none in the joined folder (or the join's own, as the lock)
};

// What a run does with a file of this name that an earlier run left.
enum class StaleRule {
    Kept,        // replaced when this run writes it, left otherwise
    Always,      // removed before every run: only the end of a run writes it
    Projects,    // the folder's Arlequin projects are removed before every run
    WhenNotUsed, // removed when this run does not use it (nor another file of that name)
};

struct OutputFile {
    RunFile id;
    const char* role; // "the run log", "the Newick tree file", ... as messages name it
    // Its name, and whether the run reads or writes it (or holds its name): from the run's
    // parameters, or from the form's controls for the files the parameters do not describe
    // (the pipeline files, the slice files, the per-simulation folder, the model).
    std::string (*name)(const FormValues& f, const RunParameters& p);
    bool (*used)(const FormValues& f, const RunParameters& p);
    bool fromParameters = true; // name and used read the parameters alone
    bool input = false;
    // In the check of the names (empty, too long, one file twice); the others have checks
    // of their own.
    bool nameCheck = true;
    // A microsatellite run holds its name when asked but never writes it.
    bool dnaOnly = false;
    // Not empty: it may be standard output ("-"), named so in messages.
    const char* stdoutRole = "";
    // The form's fields of its check box and of its name, "" when it has none.
    const char* checkField = "";
    const char* nameField = "";
    StaleRule stale = StaleRule::Kept;
    JoinRule join = JoinRule::NotJoined;
    // Its place in the join and in a slice manifest's list of files (0: not listed).
    int joinStep = 0;
    bool inManifest = false;
};

// Every entry, in the order a run first touches its files.
const std::vector<OutputFile>& outputFileTable();
const OutputFile& outputFile(RunFile id);

// Whether the run writes (or reads, for an input) the file of `e`.
bool runWrites(const OutputFile& e, const FormValues& f, const RunParameters& p);

// The entries of the join, in the order it makes them.
std::vector<const OutputFile*> joinOrder();

// The files of the run that a slice manifest lists, in its order.
std::vector<std::string> sliceFileNames(const FormValues& f, const RunParameters& p);

// Creates the file `id` of the run of `p` empty (the batch file's Arlequin folder with it),
// recorded in `written`; a closed BlockFile when the run does not write it. For the files
// whose entry reads the parameters alone.
BlockFile createRunFile(RunFile id, const RunParameters& p, WrittenFiles* written);

} // namespace quenlith
