// The table of a run's files against the form, the parameter table, the name check and the
// removal of an earlier run's files: every entry takes part in each as its fields say.
#include "run/each_sim_settings.h"
#include "run/output_files.h"
#include "run/parameter_table.h"
#include "run/run_driver.h"
#include "run/run_start.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// A streams run with every optional file: a DNA run (root sequence file, sequence output,
// Arlequin, pipeline files, per-simulation files, a model) or a microsatellite run.
FormValues fullForm(bool msats, const std::string& dir = "/nowhere") {
    FormValues f;
    f.WorkDir = dir;
    f.rngKind = RandomKind::Streams;
    f.chkSeqInput = f.chkSeqOut = f.chkArlequin = true;
    f.chkStats = f.chkVcf = f.chkMs = f.chkEachSim = f.chkDemes = true;
    f.chkMsats = msats;
    f.chkMSatOut = true;
    return f;
}

RunParameters paramsOf(const FormValues& f) {
    return readRunParameters(f).params;
}

// A full form in which the run uses the file of `e`.
FormValues formUsing(const OutputFile& e, const std::string& dir = "/nowhere") {
    for (const bool msats : {false, true}) {
        const FormValues f = fullForm(msats, dir);
        if (runWrites(e, f, paramsOf(f))) return f;
    }
    ADD_FAILURE() << "no run uses " << e.role;
    return fullForm(false, dir);
}

// The position of the entry of `id` in the table.
size_t indexOf(RunFile id) {
    const auto& t = outputFileTable();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].id == id) return i;
    return t.size();
}

} // namespace

TEST(OutputFileTable, OneEntryPerFileWithItsOwnRoleAndName) {
    const auto& t = outputFileTable();
    EXPECT_EQ(t.size(), static_cast<size_t>(RunFile::DemesModel) + 1);
    std::set<RunFile> ids;
    std::set<std::string> roles, names, stdoutRoles;
    const FormValues f = fullForm(false);
    const RunParameters p = paramsOf(f);
    for (const OutputFile& e : t) {
        EXPECT_TRUE(ids.insert(e.id).second) << e.role;
        EXPECT_EQ(&outputFile(e.id), &e);
        EXPECT_TRUE(roles.insert(e.role).second) << "twice: " << e.role;
        EXPECT_FALSE(e.name(f, p).empty()) << e.role;
        EXPECT_TRUE(names.insert(e.name(f, p)).second) << "twice: " << e.name(f, p);
        if (*e.stdoutRole) {
            EXPECT_TRUE(stdoutRoles.insert(e.stdoutRole).second) << e.role;
        }
        // An input is read, never joined by blocks nor removed.
        if (e.input) {
            EXPECT_EQ(e.join, JoinRule::Copy) << e.role;
            EXPECT_EQ(e.stale, StaleRule::Kept) << e.role;
        }
        EXPECT_EQ(e.inManifest,
                  e.joinStep > 0 && e.join != JoinRule::Copy && e.id != RunFile::EachSimFolder)
            << e.role;
    }
    // The join's order is the manifest's, every step once (the exclusive DNA and
    // microsatellite files apart).
    int previous = 0;
    for (const OutputFile* e : joinOrder()) {
        EXPECT_GE(e->joinStep, previous) << e->role;
        previous = e->joinStep;
    }
}

TEST(OutputFileTable, EveryControlHasAnOptionAWindowControlAndNamesItsFile) {
    int controls = 0;
    for (const OutputFile& e : outputFileTable()) {
        for (const char* field : {e.checkField, e.nameField}) {
            if (!*field) continue;
            ++controls;
            const ParameterEntry* pe = findParameter(field);
            ASSERT_NE(pe, nullptr) << e.role << ": " << field;
            // The window's control is the object of the field's name on its sheet (the
            // window tests find every entry with a sheet).
            EXPECT_NE(pe->tab, ParameterTab::None) << field;
            bool option = *pe->option;
            for (const ParameterEntry& other : parameterTable())
                if (other.kind == ParameterKind::CheckedText &&
                    field == std::string(other.checkField))
                    option = option || *other.option;
            EXPECT_TRUE(option) << field << " has no command-line option";
        }
        FormValues f = formUsing(e);
        if (*e.nameField) {
            const std::string name = std::string("named-") + e.nameField;
            ASSERT_TRUE(findParameter(e.nameField)->set(f, name));
            EXPECT_EQ(e.name(f, paramsOf(f)), name) << e.role;
        }
        if (*e.checkField) {
            ASSERT_TRUE(findParameter(e.checkField)->set(f, "0"));
            EXPECT_FALSE(runWrites(e, f, paramsOf(f))) << e.role << " without " << e.checkField;
        }
    }
    EXPECT_EQ(controls, 25);
}

TEST(OutputFileTable, EntriesOfTheParametersDoNotReadTheForm) {
    // What the drivers create from the parameters alone is what the form would give.
    for (const OutputFile& e : outputFileTable()) {
        if (!e.fromParameters) continue;
        for (const bool msats : {false, true}) {
            const FormValues full = fullForm(msats);
            const RunParameters p = paramsOf(full);
            const FormValues other;
            EXPECT_EQ(e.name(full, p), e.name(other, p)) << e.role;
            EXPECT_EQ(e.used(full, p), e.used(other, p)) << e.role;
        }
    }
    EXPECT_THROW(createRunFile(RunFile::Stats, paramsOf(fullForm(false)), nullptr),
                 std::logic_error);
}

TEST(OutputFileTable, TheNameCheckCoversEveryEntry) {
    for (const OutputFile& e : outputFileTable()) {
        FormValues f = formUsing(e);
        const std::string name = e.name(f, paramsOf(f));
        // Another file of the run given its name.
        const RunFile otherId = e.id == RunFile::Newick ? RunFile::CoalDistrib : RunFile::Newick;
        const OutputFile& other = outputFile(otherId);
        findParameter(other.nameField)->set(f, name);
        const RunParameters p = paramsOf(f);
        if (!e.nameCheck) {
            ASSERT_EQ(e.id, RunFile::EachSimFolder);
            EXPECT_EQ(checkEachSim(f, p),
                      "The folder of the per-simulation files has the name of " +
                          std::string(other.role) + ", " + name);
            continue;
        }
        const bool otherFirst = indexOf(otherId) < indexOf(e.id);
        EXPECT_EQ(checkRunFileNames(f, p), "Two files of the run have one name: " + name + " is " +
                                               (otherFirst ? other.role : e.role) + " and " +
                                               (otherFirst ? e.role : other.role));
        if (*e.nameField) {
            FormValues empty = formUsing(e);
            findParameter(e.nameField)->set(empty, "");
            EXPECT_EQ(checkRunFileNames(empty, paramsOf(empty)),
                      "The name of " + std::string(e.role) + " is empty");
        }
    }
}

TEST(OutputFileTable, TheRemovalOfAnEarlierRunsFilesCoversEveryEntry) {
    for (const OutputFile& e : outputFileTable()) {
        for (const bool used : {true, false}) {
            TempDir dir;
            FormValues f = formUsing(e, dir.str());
            if (!used && !*e.checkField) continue;
            if (!used) findParameter(e.checkField)->set(f, "0");
            const RunParameters p = paramsOf(f);
            const std::string name = e.name(f, p);
            const std::string file = e.stale == StaleRule::Projects ? name + "/sim_1.arp" : name;
            fs::create_directories(fs::path(dir.file(file)).parent_path());
            dir.write(file, "earlier");
            if (e.stale == StaleRule::Projects) dir.write(name + "/notes.txt", "kept");
            removeEarlierRunFiles(f, p);
            const bool removed = e.stale == StaleRule::Always || e.stale == StaleRule::Projects ||
                                 (e.stale == StaleRule::WhenNotUsed && !used);
            EXPECT_EQ(dir.exists(file), !removed) << e.role << (used ? " used" : " unused");
            if (e.stale == StaleRule::Projects) {
                EXPECT_TRUE(dir.exists(name + "/notes.txt"));
            }
        }
    }
}

TEST(OutputFileTable, AnUnusedNameThatIsAnInputOfTheRunIsNotRemoved) {
    // Without Arlequin files the batch file's name is free: a root sequence file of that
    // name is read by the run, not removed as an earlier run's batch file.
    TempDir dir;
    FormValues f = fullForm(false, dir.str());
    f.chkArlequin = false;
    f.edtSeqFile = kArlequinBatch;
    dir.write(kArlequinBatch, "ACGTACGTAC");
    removeEarlierRunFiles(f, paramsOf(f));
    EXPECT_EQ(dir.read(kArlequinBatch), "ACGTACGTAC");
}

TEST(OutputFileTable, AnOutputNamedAsTheModelFileIsRefusedAndTheModelKept) {
    TempDir dir;
    const std::string model = "time_units: generations\ndemes:\n"
                              "- {name: A, epochs: [{start_size: 80}]}\n";
    dir.write("m.yaml", model);
    FormValues f;
    f.WorkDir = dir.str();
    f.rngKind = RandomKind::Streams;
    f.chkDemes = true;
    f.edtDemes = "m.yaml";
    f.edtSamples = "A:4";
    f.chkStats = true;
    f.edtStats = "m.yaml";
    struct Quiet : RunObserver {
    } quiet;
    const RunOutcome out = RunSimulation(f, 5, quiet);
    EXPECT_EQ(out.warning, "Two files of the run have one name: m.yaml is the statistics table "
                           "and the demographic model file");
    EXPECT_EQ(dir.read("m.yaml"), model);
}

TEST(OutputFileTable, TheManifestListsTheFilesInTheOrderEarlierSlicesHave) {
    // The order of a slice manifest's files, as manifests written before the table have it.
    FormValues dna = fullForm(false);
    EXPECT_EQ(sliceFileNames(dna, paramsOf(dna)),
              (std::vector<std::string>{"CoalDistrib.csv", "MutDistrib.csv", "NewickTrees.tre",
                                        "TreeMatFile.txt", "MutMatFile.txt", "seqout.txt",
                                        "ArlequinBatch.arp", "Arlequin/", "outfile.csv",
                                        "stats.csv", "sites.vcf", "sites.ms"}));
    // A microsatellite run holds the VCF's and the ms file's names but writes neither.
    FormValues msat = fullForm(true);
    EXPECT_EQ(
        sliceFileNames(msat, paramsOf(msat)),
        (std::vector<std::string>{"CoalDistrib.csv", "MutDistrib.csv", "NewickTrees.tre",
                                  "TreeMatFile.txt", "MutMatFile.txt", "MsatData.csv",
                                  "ArlequinBatch.arp", "Arlequin/", "outfile.csv", "stats.csv"}));
    FormValues plain;
    EXPECT_EQ(sliceFileNames(plain, paramsOf(plain)),
              (std::vector<std::string>{"CoalDistrib.csv", "MutDistrib.csv", "NewickTrees.tre",
                                        "TreeMatFile.txt", "MutMatFile.txt", "outfile.csv"}));
}
