// Streams runs: files that do not depend on the number of threads, slices joined into
// exactly the whole run, the refusals, and the statistics of the two kinds of random numbers.
#include "base/run_error.h"
#include "run/file_digest.h"
#include "run/output_files.h"
#include "run/run_driver.h"
#include "run/run_parameters.h"
#include "run/slice_join.h"
#include "run/slice_manifest.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

struct Quiet : RunObserver {};

// Every file under `dir`, by relative path, with its bytes; the log without its three lines
// of date and times.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::string text = quenlith::testing::readFile(e.path());
        const std::string name = fs::relative(e.path(), dir).string();
        if (name == "logFile.txt") {
            std::istringstream in(text);
            std::string line, kept;
            for (int n = 1; std::getline(in, line); ++n)
                if (n < 4 || n > 6) kept += line + "\n";
            text = kept;
        }
        files[name] = text;
    }
    return files;
}

void expectSameFiles(const fs::path& a, const fs::path& b) {
    const auto fa = snapshot(a), fb = snapshot(b);
    ASSERT_FALSE(fa.empty());
    std::vector<std::string> na, nb;
    for (const auto& [k, v] : fa)
        na.push_back(k);
    for (const auto& [k, v] : fb)
        nb.push_back(k);
    ASSERT_EQ(na, nb);
    for (const auto& [name, text] : fa)
        EXPECT_TRUE(text == fb.at(name)) << name << " differs";
}

// A DNA run that exercises every per-simulation draw: gamma rates, the fluctuating size, the
// scatter, the pairing of a diploid sequence file, Arlequin files.
FormValues dnaForm(const std::string& dir, int sims) {
    FormValues f;
    f.WorkDir = dir;
    f.rngKind = RandomKind::Streams;
    f.edtSampleSize = "12";
    f.edtPopulationSize = "300";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = std::to_string(sims);
    f.edtSeqLength = "200";
    f.edtMutationRate = "0.0005";
    f.chkShapeParameter = true;
    f.edtAlpha = "0.5";
    f.chkDiploid = true;
    f.chkSeqOut = true;
    f.chkArlequin = true;
    f.chkSeqDiversity = true;
    f.chkFluctuatingN = true;
    f.edtGrowthEnd = "50";
    f.edtChangeN = "1";
    f.model = SubstitutionModel::HKY85;
    f.edtFreqA = "0.3";
    return f;
}

FormValues msatForm(const std::string& dir, int sims) {
    FormValues f;
    f.WorkDir = dir;
    f.rngKind = RandomKind::Streams;
    f.edtSampleSize = "10";
    f.edtPopulationSize = "200";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = std::to_string(sims);
    f.chkMsats = true;
    f.edtNumLoci = "3";
    f.msatModel = MsatModel::Stepwise;
    f.chkMSatOut = true;
    f.chkMSatDiversity = true;
    f.chkArlequin = true;
    return f;
}

void writeTo(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

const char* kMsatParams = "1 100 140 2 0.001\r\n2 50 90 4 0.0005\r\n3 20 30 1 0.002\r\n";

// Runs `form` in `dir` (created, with the files `inputs`), as a slice first .. first + sims - 1.
RunOutcome runIn(FormValues form, const fs::path& dir, uint64_t seed, int64_t first = 1,
                 int32_t threads = 1, int64_t of = 0,
                 const std::map<std::string, std::string>& inputs = {}) {
    fs::create_directories(dir);
    if (form.chkMsats) writeTo(dir / "msatparam.txt", kMsatParams);
    for (const auto& [name, content] : inputs)
        writeTo(dir / name, content);
    form.WorkDir = dir.string();
    form.firstSim = first;
    form.ofSims = of;
    form.threads = threads;
    Quiet quiet;
    return RunSimulation(form, seed, quiet);
}

// The whole run in `root`/run, kept as `root`/whole; slices (first, count, threads) joined
// into `root`/run again, so that paths inside the files agree. The input files `inputs` are
// written into every run's folder; `wholeFiles`, when given, receives the whole run's files.
void expectJoinEqualsWholeRun(FormValues form, int sims,
                              const std::vector<std::array<int, 3>>& slices,
                              const std::map<std::string, std::string>& inputs = {},
                              std::map<std::string, std::string>* wholeFiles = nullptr) {
    TempDir root;
    form.edtNumberSimulations = std::to_string(sims);
    const RunOutcome whole = runIn(form, root.path() / "run", 42, 1, 1, 0, inputs);
    ASSERT_EQ(whole.status, RunStatus::Completed) << whole.warning;
    fs::rename(root.path() / "run", root.path() / "whole");
    std::vector<std::string> dirs;
    for (const auto& [first, count, threads] : slices) {
        const fs::path dir = root.path() / ("slice" + std::to_string(first));
        form.edtNumberSimulations = std::to_string(count);
        ASSERT_EQ(runIn(form, dir, 42, first, threads, sims, inputs).status, RunStatus::Completed);
        dirs.insert(dirs.begin(), dir.string()); // any order
    }
    joinSlices(dirs, (root.path() / "run").string());
    expectSameFiles(root.path() / "whole", root.path() / "run");
    if (wholeFiles) *wholeFiles = snapshot(root.path() / "whole");
}

std::string joinError(const std::vector<std::string>& dirs, const std::string& out) {
    try {
        joinSlices(dirs, out);
    } catch (const RunError& e) {
        return e.text() + ": " + e.detail();
    }
    return "";
}

} // namespace

TEST(StreamsRun, FilesDoNotDependOnTheNumberOfThreads) {
    for (const bool msat : {false, true}) {
        TempDir root;
        const FormValues f = msat ? msatForm("", 23) : dnaForm("", 23);
        // The paths inside the files name their folder: every run is made in "run".
        ASSERT_EQ(runIn(f, root.path() / "run", 7, 1, 1).status, RunStatus::Completed);
        fs::rename(root.path() / "run", root.path() / "one");
        for (const int32_t threads : {2, 5}) {
            ASSERT_EQ(runIn(f, root.path() / "run", 7, 1, threads).status, RunStatus::Completed);
            expectSameFiles(root.path() / "one", root.path() / "run");
            fs::remove_all(root.path() / "run");
        }
    }
}

TEST(StreamsRun, SlicesJoinIntoExactlyTheWholeRun) {
    expectJoinEqualsWholeRun(dnaForm("", 0), 17, {{1, 5, 1}, {6, 1, 1}, {7, 11, 2}});
    expectJoinEqualsWholeRun(msatForm("", 0), 9, {{1, 4, 2}, {5, 5, 1}});
    // More rows than one block of the summary table.
    FormValues tiny = dnaForm("", 0);
    tiny.edtSampleSize = "3";
    tiny.edtPopulationSize = "10";
    tiny.edtSeqLength = "10";
    tiny.chkSeqOut = tiny.chkArlequin = false;
    expectJoinEqualsWholeRun(tiny, 9000, {{1, 4500, 2}, {4501, 4500, 1}});
    FormValues tinyMsat = msatForm("", 0);
    tinyMsat.edtSampleSize = "3";
    tinyMsat.edtPopulationSize = "5";
    tinyMsat.chkArlequin = false;
    expectJoinEqualsWholeRun(tinyMsat, 5000, {{1, 4100, 2}, {4101, 900, 1}});
    // The pipeline files: statistics table, VCF (diploid: by the sequence file's pairing, or
    // by its own without a sequence file; plain and bgzip) and ms file.
    FormValues pipeline = dnaForm("", 0);
    pipeline.chkStats = pipeline.chkVcf = pipeline.chkMs = true;
    expectJoinEqualsWholeRun(pipeline, 12, {{1, 5, 1}, {6, 7, 2}});
    pipeline.chkSeqOut = pipeline.chkArlequin = false;
    pipeline.edtVcf = "sites.vcf.gz";
    expectJoinEqualsWholeRun(pipeline, 12, {{1, 3, 2}, {4, 9, 1}});
    FormValues msatStats = msatForm("", 0);
    msatStats.chkStats = true;
    expectJoinEqualsWholeRun(msatStats, 9, {{1, 4, 2}, {5, 5, 1}});
}

TEST(StreamsRun, EveryFileOfTheTableJoinsByItsRuleIntoTheWholeRun) {
    // Three runs that between them write every file the join makes: a DNA run with a root
    // sequence file and every output, a microsatellite run, a run of a demographic model.
    FormValues dna = dnaForm("", 0);
    dna.chkStats = dna.chkVcf = dna.chkMs = dna.chkEachSim = dna.chkSeqInput = true;
    dna.edtEachSimFormat = "fasta,nexus";
    FormValues msat = msatForm("", 0);
    msat.chkStats = msat.chkEachSim = true;
    FormValues model;
    model.rngKind = RandomKind::Streams;
    model.chkMultipleSims = true;
    model.chkDemes = true;
    model.edtDemes = "m.yaml";
    model.edtSamples = "A:4,B:2";
    model.chkDiploid = model.chkSeqOut = model.chkArlequin = true;
    model.edtSeqLength = "50";
    model.chkVcf = model.chkStats = true;
    struct Case {
        FormValues form;
        std::map<std::string, std::string> inputs;
        std::map<std::string, std::string> files; // the whole run's
    };
    std::vector<Case> cases = {
        {dna, {{"seqin.txt", "ACGTTGCAACGTAGCTAGCTAGGATCCATGCAAGCT\r\n"}}, {}},
        {msat, {}, {}},
        {model,
         {{"m.yaml", "time_units: generations\ndemes:\n- {name: A, epochs: [{start_size: 80}]}\n"
                     "- {name: B, epochs: [{start_size: 60}]}\n"
                     "migrations: [{demes: [A, B], rate: 0.01}]\n"}},
         {}},
    };
    for (Case& c : cases)
        expectJoinEqualsWholeRun(c.form, 5, {{1, 2, 1}, {3, 3, 2}}, c.inputs, &c.files);
    // Every entry the join makes is in one of the whole runs (and so, the runs being equal,
    // in its join), each rule at least once.
    std::set<JoinRule> rules;
    for (const OutputFile& e : outputFileTable()) {
        if (e.join == JoinRule::NotJoined) continue;
        bool found = false;
        for (const Case& c : cases) {
            const RunParameters p = readRunParameters(c.form).params;
            if (!runWrites(e, c.form, p)) continue;
            std::string name = e.name(c.form, p);
            if (e.id == RunFile::ArlequinFolder) name += "/sim_1.arp";
            if (e.id == RunFile::EachSimFolder) name += "/manifest.tsv";
            const auto file = c.files.find(name);
            EXPECT_TRUE(file != c.files.end() && !file->second.empty()) << e.role << ": " << name;
            found = true;
        }
        EXPECT_TRUE(found) << "no run writes " << e.role;
        rules.insert(e.join);
    }
    EXPECT_EQ(rules.size(), 5u);
}

TEST(StreamsRun, ASimulationDependsOnItsStreamAlone) {
    // Simulation 5 alone, as a slice, is simulation 5 of every run with that seed, whatever
    // comes before it; another seed gives another genealogy.
    TempDir root;
    FormValues f = dnaForm("", 1);
    runIn(f, root.path() / "alone", 3, 5, 1, 8);
    f.edtNumberSimulations = "8";
    runIn(f, root.path() / "run", 3, 1);
    runIn(f, root.path() / "other", 4, 1);
    const std::string alone =
        quenlith::testing::readFile(root.path() / "alone" / "NewickTrees.tre");
    std::istringstream run(quenlith::testing::readFile(root.path() / "run" / "NewickTrees.tre"));
    std::istringstream other(
        quenlith::testing::readFile(root.path() / "other" / "NewickTrees.tre"));
    std::string line, otherLine;
    for (int s = 1; s <= 5; ++s) {
        std::getline(run, line);
        std::getline(other, otherLine);
    }
    EXPECT_EQ(line + "\n", alone);
    EXPECT_NE(otherLine + "\n", alone);
}

TEST(StreamsRun, RunControlIsRefusedBeforeAnythingIsWritten) {
    struct Case {
        RandomKind kind;
        uint64_t seed;
        int64_t first;
        int32_t threads;
        std::string sims;
        const char* expected;
        int64_t of = 2147483647;
    };
    const Case cases[] = {
        {RandomKind::Lcg, 5, 2, 1, "10", "needs --rng streams", 0},
        {RandomKind::Lcg, 5, 1, 1, "10", "(--of) needs --rng streams"},
        {RandomKind::Lcg, 4294967296ull, 1, 1, "10", "above 4294967295", 0},
        {RandomKind::Streams, 5, 2147483600, 1, "100", "pass the last simulation number"},
        {RandomKind::Streams, 5, 2147483647, 1, "2", "pass the last simulation number"},
        {RandomKind::Streams, 5, 0, 1, "2", "must be 1 or more"},
        {RandomKind::Streams, 5, 1, -1, "2", "threads must be 1 or more"},
        // A slice must know its whole run, and lie in it.
        {RandomKind::Streams, 5, 3, 1, "2", "needs --of S", 0},
        {RandomKind::Streams, 5, 9, 1, "3", "Simulations 9 to 11 are not in a run of 10", 10},
        {RandomKind::Streams, 5, 11, 1, "0", "not in a run of 10", 10},
    };
    for (const Case& c : cases) {
        TempDir dir;
        FormValues f;
        f.WorkDir = dir.str();
        f.rngKind = c.kind;
        f.firstSim = c.first;
        f.ofSims = c.of;
        f.threads = c.threads;
        f.chkMultipleSims = true;
        f.edtNumberSimulations = c.sims;
        Quiet quiet;
        const RunOutcome out = RunSimulation(f, c.seed, quiet);
        EXPECT_EQ(out.status, RunStatus::Rejected) << c.expected;
        EXPECT_NE(out.warning.find(c.expected), std::string::npos) << out.warning;
        EXPECT_TRUE(fs::is_empty(dir.path())) << c.expected;
    }
    // The last simulation number itself is allowed; a 64-bit seed is a streams seed.
    FormValues f;
    f.rngKind = RandomKind::Streams;
    f.firstSim = 2147483647;
    f.ofSims = 2147483647;
    EXPECT_EQ(runControlError(f, 1, ~uint64_t{0}), "");
}

TEST(StreamsRun, JoinRefusesWhatIsNotOneWholeRun) {
    TempDir root;
    const auto dir = [&](const std::string& n) { return (root.path() / n).string(); };
    // Slices of 4 of a run of 16.
    FormValues f = dnaForm("", 4);
    f.ofSims = 16;
    for (const auto& [name, first] : std::vector<std::pair<std::string, int>>{
             {"a", 1}, {"b", 5}, {"c", 9}, {"d", 13}, {"over", 3}})
        runIn(f, dir(name), 9, first, 1, 16);
    runIn(f, dir("seed"), 10, 5, 1, 16);
    runIn(f, dir("of20"), 9, 5, 1, 20);
    FormValues g = f;
    g.edtPopulationSize = "301";
    runIn(g, dir("param"), 9, 5, 1, 16);
    FormValues lcg = f;
    lcg.rngKind = RandomKind::Lcg;
    lcg.ofSims = 0;
    runIn(lcg, dir("lcg"), 9, 1);
    // A slice stopped before its end keeps a manifest that says so.
    struct StopAtOnce : RunObserver {
        bool stopRequested() override { return true; }
    } stop;
    f.WorkDir = dir("stopped");
    f.firstSim = 5;
    f.ofSims = 16;
    fs::create_directories(f.WorkDir);
    EXPECT_EQ(RunSimulation(f, 9, stop).status, RunStatus::Stopped);

    const std::string out = dir("out");
    const std::vector<std::string> all = {dir("d"), dir("b"), dir("c"), dir("a")};
    EXPECT_EQ(joinError(all, out), "");
    EXPECT_NE(joinError({dir("a"), dir("b"), dir("d")}, out).find("gap: simulations 9 to 12"),
              std::string::npos);
    EXPECT_NE(
        joinError({dir("b"), dir("c"), dir("d")}, out).find("simulations 1 to 4 are in no slice"),
        std::string::npos);
    // The last slice missing: the slices know the size of the whole run.
    EXPECT_NE(joinError({dir("a"), dir("b"), dir("c")}, out)
                  .find("missing slice: simulations 13 to 16 of the run of 16 are in no slice "
                        "(the last slice is missing)"),
              std::string::npos)
        << joinError({dir("a"), dir("b"), dir("c")}, out);
    EXPECT_NE(joinError({dir("a"), dir("of20")}, out).find("different runs"), std::string::npos);
    EXPECT_NE(joinError({dir("a"), dir("over")}, out).find("overlap: simulations 3 to 4"),
              std::string::npos);
    EXPECT_NE(joinError({dir("a"), dir("a")}, out).find("overlap"), std::string::npos);
    EXPECT_NE(joinError({dir("a"), dir("seed")}, out).find("different seeds"), std::string::npos);
    EXPECT_NE(joinError({dir("a"), dir("param")}, out).find("edtPopulationSize is '300'"),
              std::string::npos)
        << joinError({dir("a"), dir("param")}, out);
    EXPECT_NE(joinError({dir("a"), dir("missing")}, out).find("missing slice"), std::string::npos);
    EXPECT_NE(joinError({dir("lcg"), dir("b")}, out).find("default generator"), std::string::npos);
    EXPECT_NE(joinError({dir("a"), dir("stopped")}, out).find("incomplete slice"),
              std::string::npos);
    EXPECT_NE(joinError(all, dir("a")).find("is the slice"), std::string::npos);

    // Another root sequence file gives another run.
    FormValues in = dnaForm("", 4);
    in.chkSeqInput = true;
    writeTo(root.path() / "in1" / "seqin.txt", "ACGTACGTAC");
    writeTo(root.path() / "in2" / "seqin.txt", "ACGTACGTAA");
    runIn(in, dir("in1"), 9, 1, 1, 8);
    runIn(in, dir("in2"), 9, 5, 1, 8);
    EXPECT_NE(joinError({dir("in1"), dir("in2")}, out).find("different input files"),
              std::string::npos);
}

TEST(StreamsRun, StopRequestEndsAThreadedRunAfterAWholeSimulation) {
    TempDir dir;
    FormValues f = dnaForm(dir.str(), 50);
    f.threads = 2;
    struct StopAfterThree : RunObserver {
        int started = 0;
        void simulationStarted(int32_t) override { ++started; }
        bool stopRequested() override { return started >= 3; }
    } stop;
    const RunOutcome out = RunSimulation(f, 11, stop);
    EXPECT_EQ(out.status, RunStatus::Stopped);
    const std::string newick = dir.read("NewickTrees.tre");
    EXPECT_EQ(std::count(newick.begin(), newick.end(), '\n'), 3);

    // The front end's flag interrupts the genealogies in progress: the run ends stopped once
    // the simulations before are written.
    TempDir dir2;
    FormValues big = dnaForm(dir2.str(), 1000);
    big.edtPopulationSize = "1000000";
    big.chkFluctuatingN = false;
    big.threads = 2;
    struct FlagAtOnce : RunObserver {
        std::atomic<bool> flag{true};
        const std::atomic<bool>* stopFlag() override { return &flag; }
    } flagged;
    const RunOutcome stopped = RunSimulation(big, 11, flagged);
    EXPECT_EQ(stopped.status, RunStatus::Stopped);
    EXPECT_EQ(stopped.simsDone, 0);
    EXPECT_FALSE(dir2.exists("logFile.txt"));
}

// The time to the most recent common ancestor has one distribution in both modes: a
// two-sample Kolmogorov-Smirnov test over 2000 simulations of each.
TEST(StreamsRun, TmrcaDistributionIsThatOfTheDefaultMode) {
    const auto tmrcas = [](RandomKind kind, uint64_t seed) {
        TempDir dir;
        FormValues f;
        f.WorkDir = dir.str();
        f.rngKind = kind;
        f.edtSampleSize = "8";
        f.edtPopulationSize = "400";
        f.chkMultipleSims = true;
        f.edtNumberSimulations = "2000";
        Quiet quiet;
        EXPECT_EQ(RunSimulation(f, seed, quiet).status, RunStatus::Completed);
        std::istringstream in(dir.read("outfile.csv"));
        std::string line;
        std::getline(in, line);
        std::vector<double> t;
        while (std::getline(in, line))
            t.push_back(std::stod(line.substr(line.find(',') + 1)));
        std::sort(t.begin(), t.end());
        return t;
    };
    const std::vector<double> a = tmrcas(RandomKind::Lcg, 2024);
    const std::vector<double> b = tmrcas(RandomKind::Streams, 2024);
    ASSERT_EQ(a.size(), 2000u);
    ASSERT_EQ(b.size(), 2000u);
    double d = 0;
    for (double x : a) {
        const auto fa = static_cast<double>(std::upper_bound(a.begin(), a.end(), x) - a.begin());
        const auto fb = static_cast<double>(std::upper_bound(b.begin(), b.end(), x) - b.begin());
        d = std::max(d, std::abs(fa - fb) / 2000);
    }
    // Critical value at the 0.001 level: 1.95 sqrt((n + m) / (n m)).
    EXPECT_LT(d, 1.95 * std::sqrt(2.0 / 2000));
    // The test tells apart a distribution stretched by 30 %.
    std::vector<double> shifted = a;
    for (double& x : shifted)
        x *= 1.3;
    double ds = 0;
    for (double x : a) {
        const auto fa = static_cast<double>(std::upper_bound(a.begin(), a.end(), x) - a.begin());
        const auto fs = static_cast<double>(std::upper_bound(shifted.begin(), shifted.end(), x) -
                                            shifted.begin());
        ds = std::max(ds, std::abs(fa - fs) / 2000);
    }
    EXPECT_GT(ds, 1.95 * std::sqrt(2.0 / 2000));
}

TEST(StreamsRun, ManifestReadsBackWhatItWrote) {
    SliceManifest m;
    m.complete = true;
    m.seed = 18446744073709551615ull;
    m.first = 2147483000;
    m.count = 647;
    m.of = 2147483647;
    m.files = {{"a name with spaces", 12, std::string(64, 'e')},
               {"Arlequin/", 0, std::string(64, '0')}};
    m.inputDigest = "00ff";
    m.log.PopSize = 123;
    m.log.MutationRate = 1e-7;
    m.log.FreqT = 0.1 + 0.2;
    m.log.loci = {{1, 100, 140, 2, 0.001}, {2, -5, 9, 1, 3e-9}};
    m.form.edtSeqFile = "odd name\\with\nbreak";
    m.form.chkMsats = true;
    m.form.msatModel = MsatModel::RandomAlleles;
    SliceManifest back;
    std::string error;
    ASSERT_TRUE(parseSliceManifest(sliceManifestText(m), back, error)) << error;
    EXPECT_EQ(sliceManifestText(back), sliceManifestText(m));
    EXPECT_EQ(back.seed, m.seed);
    EXPECT_EQ(back.log.FreqT, m.log.FreqT);
    EXPECT_EQ(back.form.edtSeqFile, m.form.edtSeqFile);
    EXPECT_EQ(back.log.loci.size(), 2u);
    EXPECT_EQ(back.of, m.of);
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files[0].name, "a name with spaces");
    EXPECT_EQ(back.files[0].size, 12u);
    // The same manifest with CR LF line ends, as a copy made on another system has.
    std::string crlf;
    for (const char c : sliceManifestText(m))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(parseSliceManifest(crlf, back, error)) << error;
    EXPECT_EQ(sliceManifestText(back), sliceManifestText(m));
    // A manifest of the first version has neither the run's size nor the files' digests.
    EXPECT_FALSE(parseSliceManifest("quenlith-slice 1\nstate complete\n", back, error));
    EXPECT_NE(error.find("earlier version"), std::string::npos) << error;
    EXPECT_FALSE(parseSliceManifest("quenlith-slice 2\nstate done\n", back, error));
    std::string badFile = sliceManifestText(m);
    badFile.replace(badFile.find("file 12 "), 8, "file -1 ");
    EXPECT_FALSE(parseSliceManifest(badFile, back, error));
}

// The default DNA run's optional files (the Nexus sequence file, the diversity indices, the
// Arlequin projects) with the statistics table, the VCF, the ms file and one data set per
// simulation, and a microsatellite run with every file it writes under each allele model:
// every byte the same on 1, 2 and 3 threads, and after a stop, the same whole simulations.
TEST(StreamsRun, EveryOptionalFileIsTheSameOnAnyNumberOfThreads) {
    FormValues dna;
    dna.rngKind = RandomKind::Streams;
    dna.chkMultipleSims = true;
    dna.edtNumberSimulations = "40";
    dna.chkSeqOut = true;
    dna.rdgOutput = OutputFormat::Nexus;
    dna.chkSeqDiversity = true;
    dna.chkArlequin = true;
    dna.chkStats = true;
    dna.chkVcf = true;
    dna.chkMs = true;
    dna.chkEachSim = true;
    dna.edtEachSimFormat = "fasta,phylip,nexus";
    std::vector<FormValues> forms{dna};
    for (const MsatModel model :
         {MsatModel::Stepwise, MsatModel::RandomAlleles, MsatModel::InfiniteAlleles}) {
        FormValues msat = msatForm("", 25);
        msat.msatModel = model;
        msat.chkStats = true;
        msat.chkEachSim = true;
        forms.push_back(msat);
    }
    for (const FormValues& f : forms) {
        for (const int stopAfter : {0, 9}) {
            TempDir root;
            struct StopAfter : RunObserver {
                int after, started = 0;
                explicit StopAfter(int n) : after(n) {}
                void simulationStarted(int32_t) override { ++started; }
                bool stopRequested() override { return after > 0 && started >= after; }
            };
            const auto run = [&](int32_t threads) {
                const fs::path dir = root.path() / "run";
                fs::create_directories(dir);
                if (f.chkMsats) writeTo(dir / "msatparam.txt", kMsatParams);
                FormValues g = f;
                g.WorkDir = dir.string();
                g.threads = threads;
                StopAfter observer(stopAfter);
                const RunOutcome out = RunSimulation(g, 31, observer);
                EXPECT_EQ(out.status, stopAfter ? RunStatus::Stopped : RunStatus::Completed);
                EXPECT_EQ(out.simsDone, stopAfter ? stopAfter : out.simCount);
            };
            run(1);
            fs::rename(root.path() / "run", root.path() / "one");
            if (!stopAfter) {
                // The files asked for are all there.
                for (const char* name : {"stats.csv", "outfile.csv", "Arlequin", "each_sim"})
                    EXPECT_TRUE(fs::exists(root.path() / "one" / name)) << name;
                if (!f.chkMsats) {
                    for (const char* name : {"sites.vcf", "sites.ms", "seqout.txt"})
                        EXPECT_TRUE(fs::exists(root.path() / "one" / name)) << name;
                }
            }
            for (const int32_t threads : {2, 3}) {
                run(threads);
                expectSameFiles(root.path() / "one", root.path() / "run");
                fs::remove_all(root.path() / "run");
            }
        }
    }
}

namespace {

SliceManifest manifestIn(const fs::path& dir) {
    SliceManifest m;
    std::string error;
    EXPECT_TRUE(parseSliceManifest(quenlith::testing::readFile(dir / kSliceManifestName), m, error))
        << error;
    return m;
}

// `f` with the statistics table, the VCF and the ms file.
FormValues withPipelineFiles(FormValues f) {
    f.chkStats = true;
    f.chkVcf = true;
    f.chkMs = true;
    return f;
}

} // namespace

// The manifest's sizes and digests, taken while the run wrote its files, against the files
// read back: a DNA run with every optional file (twice, the VCF compressed in the second), a
// microsatellite run, on 1, 2 and 3 threads, whole and as a slice of a larger run. The
// manifest is byte for byte the one made from the files read back.
TEST(StreamsRun, ManifestDigestsAreThoseOfTheFilesOnDisk) {
    FormValues dna = withPipelineFiles(dnaForm("", 30));
    dna.chkEachSim = true;
    dna.edtEachSimFormat = "fasta,nexus";
    FormValues packed = dna;
    packed.edtVcf = "sites.vcf.gz";
    packed.rdgOutput = OutputFormat::Fasta;
    packed.chkDiploid = false;
    FormValues msat = msatForm("", 30);
    msat.chkStats = true;
    msat.chkEachSim = true;
    for (const FormValues& form : {dna, packed, msat}) {
        for (const int32_t threads : {1, 2, 3}) {
            for (const auto& [first, of] : {std::pair<int64_t, int64_t>{1, 0}, {11, 90}}) {
                TempDir root;
                const fs::path dir = root.path() / "run";
                const RunOutcome out = runIn(form, dir, 7, first, threads, of);
                ASSERT_EQ(out.status, RunStatus::Completed) << out.warning;
                const SliceManifest m = manifestIn(dir);
                ASSERT_TRUE(m.complete);
                std::set<std::string> names;
                for (const SliceFile& f : m.files) {
                    names.insert(f.name);
                    const FileDigest back = f.name == kProjectsEntry
                                                ? projectsDigest(dir.string(), first, 30)
                                                : digestFile((dir / f.name).string());
                    EXPECT_EQ(f.size, back.size) << f.name << " on " << threads << " threads";
                    EXPECT_EQ(f.sha256, back.sha256) << f.name << " on " << threads << " threads";
                    EXPECT_GT(f.size, 0u) << f.name;
                }
                for (const char* name : {"outfile.csv", "stats.csv", "Arlequin/"})
                    EXPECT_TRUE(names.count(name)) << name;
                if (!form.chkMsats) {
                    EXPECT_TRUE(names.count(form.edtVcf));
                    EXPECT_TRUE(names.count("sites.ms"));
                }
                FormValues g = m.form;
                g.WorkDir = dir.string();
                SliceManifest readBack = m;
                readBack.files = sliceFileDigests(g, readRunParameters(g).params, first, 30);
                EXPECT_EQ(quenlith::testing::readFile(dir / kSliceManifestName),
                          sliceManifestText(readBack));
            }
        }
    }
}

// A stopped run and a failed one (a file of the run deleted while it runs) leave the manifest
// of an unfinished run: no sizes, no digests.
TEST(StreamsRun, AStoppedOrFailedRunRecordsNoDigests) {
    struct Observer : RunObserver {
        fs::path dir;
        bool removeFile = false;
        int started = 0;
        void simulationStarted(int32_t) override {
            if (++started == 8 && removeFile) fs::remove(dir / "NewickTrees.tre");
        }
        bool stopRequested() override { return !removeFile && started >= 5; }
    };
    for (const int32_t threads : {1, 2}) {
        for (const bool fail : {false, true}) {
            TempDir root;
            const fs::path dir = root.path() / "run";
            fs::create_directories(dir);
            FormValues f = dnaForm(dir.string(), 20);
            f.threads = threads;
            f.chkStats = true;
            Observer observer;
            observer.dir = dir;
            observer.removeFile = fail;
            bool failed = false;
            try {
                const RunOutcome out = RunSimulation(f, 3, observer);
                EXPECT_EQ(out.status, RunStatus::Stopped);
                EXPECT_EQ(out.simsDone, 5);
            } catch (const RunError& e) {
                failed = true;
                EXPECT_EQ(e.text(), "File not found") << e.detail();
            }
            EXPECT_EQ(failed, fail);
            const SliceManifest m = manifestIn(dir);
            EXPECT_FALSE(m.complete);
            EXPECT_TRUE(m.files.empty());
            EXPECT_FALSE(fs::exists(dir / "logFile.txt"));
        }
    }
}

// The join takes the digests of the files it writes as it writes them too: its manifest is
// byte for byte the one made from its files read back, for a DNA run with every optional
// file and a microsatellite run.
TEST(StreamsRun, JoinedManifestDigestsAreThoseOfTheJoinedFiles) {
    FormValues dna = withPipelineFiles(dnaForm("", 24));
    dna.edtVcf = "sites.vcf.gz";
    FormValues msat = msatForm("", 24);
    msat.chkStats = true;
    for (const FormValues& form : {dna, msat}) {
        TempDir root;
        std::vector<std::string> dirs;
        for (const auto& [first, count] : {std::pair<int64_t, int>{1, 10}, {11, 14}}) {
            FormValues f = form;
            f.edtNumberSimulations = std::to_string(count);
            const fs::path dir = root.path() / ("slice" + std::to_string(first));
            ASSERT_EQ(runIn(f, dir, 5, first, 2, 24).status, RunStatus::Completed);
            dirs.push_back(dir.string());
        }
        const fs::path out = root.path() / "joined";
        joinSlices(dirs, out.string());
        const SliceManifest m = manifestIn(out);
        ASSERT_TRUE(m.complete);
        ASSERT_GE(m.files.size(), 8u);
        FormValues g = m.form;
        g.WorkDir = out.string();
        SliceManifest readBack = m;
        readBack.files = sliceFileDigests(g, readRunParameters(g).params, 1, 24);
        EXPECT_EQ(quenlith::testing::readFile(out / kSliceManifestName),
                  sliceManifestText(readBack));
    }
}

namespace {

// The bytes this process has read so far (read and pread calls, any file).
uint64_t bytesReadByProcess() {
    std::ifstream in("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (in >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

} // namespace

// The manifest's digests come from the bytes as they were written: a run with every optional
// file reads a small part of what it wrote, not its files back (they are read back only when
// something else touched them).
TEST(StreamsRun, TheManifestDoesNotReadTheRunsFilesBack) {
    FormValues dna = withPipelineFiles(dnaForm("", 60));
    dna.edtSeqLength = "2000";
    for (const int32_t threads : {1, 2}) {
        TempDir root;
        const fs::path dir = root.path() / "run";
        const uint64_t before = bytesReadByProcess();
        ASSERT_EQ(runIn(dna, dir, 9, 1, threads).status, RunStatus::Completed);
        const uint64_t read = bytesReadByProcess() - before;
        uint64_t listed = 0;
        for (const SliceFile& f : manifestIn(dir).files)
            listed += f.size;
        ASSERT_GT(listed, 1000000u);
        EXPECT_LT(read, listed / 20) << "read " << read << " of " << listed << " bytes written";
    }
}
