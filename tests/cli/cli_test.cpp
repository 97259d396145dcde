// quenlith-cli: options over the window's controls, exit statuses, messages, seeded runs.
#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

struct CliResult {
    int status;
    std::string out, err;
};

CliResult run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = runCli(args, out, err, false);
    return {status, out.str(), err.str()};
}

} // namespace

TEST(CliOptions, EveryOptionSetsItsControl) {
    CliParse p = parseCliOptions({"--sample-size", " 25 ", "--sims", "7", "--no-draw-mutations",
                                  "--seq-input", "root.txt", "--model", "HKY85", "--format=Fasta",
                                  "--gamma", "0.5", "--invariable", "0.1", "--msat-model",
                                  "stepwise", "--seq-out-file", "s.txt", "--no-scatter"});
    ASSERT_EQ(p.error, "");
    const FormValues& f = p.options.form;
    EXPECT_EQ(f.edtSampleSize, " 25 "); // converted later, as typed text
    EXPECT_TRUE(f.chkMultipleSims);
    EXPECT_EQ(f.edtNumberSimulations, "7");
    EXPECT_FALSE(f.chkDrawMut);
    EXPECT_TRUE(f.chkSeqInput);
    EXPECT_EQ(f.edtSeqFile, "root.txt");
    EXPECT_EQ(f.model, SubstitutionModel::HKY85);
    EXPECT_EQ(f.rdgOutput, OutputFormat::Fasta);
    EXPECT_TRUE(f.chkShapeParameter);
    EXPECT_EQ(f.edtAlpha, "0.5");
    EXPECT_TRUE(f.chkInvarSites);
    EXPECT_EQ(f.msatModel, MsatModel::Stepwise);
    EXPECT_EQ(f.edtSeqOut, "s.txt");
    EXPECT_FALSE(f.chkSeqOut); // the file name alone does not check the box
    EXPECT_FALSE(f.chkScatterMut);

    EXPECT_NE(parseCliOptions({"--model", "GTR"}).error, "");
    EXPECT_NE(parseCliOptions({"--bogus"}).error, "");
    EXPECT_NE(parseCliOptions({"--sample-size"}).error, "");
    EXPECT_NE(parseCliOptions({"--seed", "4294967296"}).error, "");
    EXPECT_NE(parseCliOptions({"--seed", "-1"}).error, "");
    EXPECT_EQ(parseCliOptions({"--seed", "4294967295"}).options.seed.value(), 4294967295u);
    EXPECT_NE(parseCliOptions({"--diploid=yes"}).error, "");
}

TEST(CliOptions, HelpListsEveryOptionWithDefault) {
    const CliResult r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* opt : {"--seed S", "--workdir DIR", "--sample-size T", "--pop-size T",
                            "--mutation-rate T", "--format F", "--msat-params FILE",
                            "--change-percent T", "--log-file FILE", "--image FILE", "--quiet"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    EXPECT_NE(r.out.find("[default: 0.0000001]"), std::string::npos);
    EXPECT_NE(r.out.find("[default: Nexus]"), std::string::npos);
    EXPECT_EQ(run({"--version"}).out.rfind("quenlith-cli ", 0), 0u);
}

TEST(CliRun, ExitStatusesAndMessages) {
    TempDir dir;
    CliResult r = run({"--workdir", dir.str(), "--sample-size", "0", "--seed", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "WARNING: Please insert Sample and Population Sizes\n");

    // A missing working directory is created.
    r = run({"--workdir", dir.file("missing"), "--seed", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "quenlith-cli: created the working directory " + dir.file("missing") + "\n");

    r = run({"--workdir", dir.str(), "--seq-input", "none.txt", "--seed", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: File not found: ", 0), 0u);

    r = run({"--workdir", dir.str(), "--sample-size", "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("seed: ", 0), 0u); // the clock's seed is printed

    r = run({"--frobnicate"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("error: unknown option", 0), 0u);
}

// A seeded run writes exactly the checked-in files, and the same bytes again.
TEST(CliRun, SeededRunMatchesTheExpectedFiles) {
    const std::filesystem::path expected =
        std::filesystem::path(QUENLITH_TEST_DATA) / "cli" / "genealogy_seed7";
    for (int attempt = 0; attempt < 2; ++attempt) {
        TempDir dir;
        const CliResult r =
            run({"--seed", "7", "--sims", "3", "--sample-size", "6", "--pop-size", "300",
                 "--mutation-rate", "0.00001", "--seq-length", "200", "--workdir", dir.str()});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const char* name : {"NewickTrees.tre", "CoalDistrib.csv", "MutDistrib.csv",
                                 "TreeMatFile.txt", "MutMatFile.txt"}) {
            const std::string want = quenlith::testing::readFile(expected / name);
            ASSERT_FALSE(want.empty()) << name;
            EXPECT_EQ(dir.read(name), want) << name;
        }
    }
}

// The default run with 100 simulations: one Newick line per simulation, every line CR LF.
TEST(CliRun, DefaultHundredSimulations) {
    TempDir a, b;
    ASSERT_EQ(run({"--seed", "7", "--sims", "100", "--workdir", a.str()}).status, 0);
    ASSERT_EQ(run({"--seed", "7", "--sims", "100", "--workdir", b.str()}).status, 0);
    const std::string newick = a.read("NewickTrees.tre");
    EXPECT_EQ(std::count(newick.begin(), newick.end(), '\n'), 100);
    EXPECT_EQ(std::count(newick.begin(), newick.end(), '\r'), 100);
    const std::string tree = a.read("TreeMatFile.txt");
    EXPECT_EQ(std::count(tree.begin(), tree.end(), '#'), 100);
    EXPECT_EQ(std::count(tree.begin(), tree.end(), '\n'), 100 * 50);
    for (const char* name : {"NewickTrees.tre", "CoalDistrib.csv", "MutDistrib.csv",
                             "TreeMatFile.txt", "MutMatFile.txt"})
        EXPECT_EQ(a.read(name), b.read(name)) << name;
}

// Saving an image needs the image module, found from the program's own folder only: a test
// program has none beside it, so --image fails before the run and writes nothing.
TEST(CliRun, AnImageThatCannotBeSavedStopsBeforeTheRun) {
    TempDir dir;
    const CliResult r = run({"--seed", "1", "--workdir", dir.str(), "--image", "g.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("image"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("seed:"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The program itself: a run without --image loads no Qt library (the dynamic loader's own
// record of the files it opens); with --image it loads the module and writes a 633 x 529
// BMP. A copy of the program in a folder without the module refuses --image.
TEST(CliRun, QtIsLoadedOnlyForAnImage) {
    TempDir dir;
    const std::filesystem::path cli = QUENLITH_CLI_PATH;
    const auto loaderLog = [&](const std::string& program, const std::string& extra, int& status) {
        const std::string log = dir.file("ld.log");
        const std::string command = "LD_DEBUG=files '" + program +
                                    "' --quiet --seed 7 --workdir '" + dir.str() + "' " + extra +
                                    " 2>'" + log + "'";
        status = std::system(command.c_str());
        return dir.read("ld.log");
    };
    int status = -1;
    std::string log = loaderLog(cli.string(), "", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(log.find("file=libc.so"), std::string::npos) << "no loader record";
    EXPECT_EQ(log.find("Qt6"), std::string::npos) << log;
    EXPECT_EQ(log.find("quenlith-image"), std::string::npos) << log;

    if (!std::filesystem::exists(cli.parent_path() / "quenlith-image.so"))
        GTEST_SKIP() << "built without the image module";
    log = loaderLog(cli.string(), "--image '" + dir.file("g.bmp") + "'", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(log.find("quenlith-image.so"), std::string::npos);
    EXPECT_NE(log.find("libQt6Gui"), std::string::npos);
    const std::string bmp = dir.read("g.bmp");
    ASSERT_GE(bmp.size(), 26u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    int32_t width = 0, height = 0;
    std::memcpy(&width, bmp.data() + 18, 4);
    std::memcpy(&height, bmp.data() + 22, 4);
    EXPECT_EQ(width, 633);
    EXPECT_EQ(std::abs(height), 529);

    TempDir alone;
    const std::filesystem::path copy = alone.path() / "quenlith-cli";
    std::filesystem::copy_file(cli, copy);
    std::filesystem::remove(dir.file("g.bmp"));
    log = loaderLog(copy.string(), "--image '" + dir.file("g.bmp") + "'", status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(log.find("error: cannot save images: the image module quenlith-image.so is not "
                       "installed"),
              std::string::npos)
        << log;
    EXPECT_FALSE(dir.exists("g.bmp"));
}

// Numbers are read strictly: a text the window's lenient reading would cut is refused with
// a message naming the option and its text, before anything is written (exit 2); a number
// with blanks around it gives the same run as the window's box.
TEST(CliOptions, NumbersAreReadStrictly) {
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"--sims", "abc"},
        {"--seq-length", "1e3"},
        {"--mutation-rate", "0,001"},
        {"--sample-size", "+25samples"},
        {"--pop-size", "99999999999"},
        {"--pop-size", ""},
        {"--gamma", "."},
        {"--titv", "2e"},
        {"--seq-length", "0x10"},
        {"--change-percent", "nan"},
        {"--growth-end", "5.0"}};
    for (const auto& [option, text] : refused) {
        TempDir dir;
        const CliResult r = run({option, text, "--workdir", dir.str(), "--seed", "1"});
        EXPECT_EQ(r.status, 2) << option << " " << text;
        EXPECT_EQ(r.err.rfind("error: " + option + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(option + ":"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("'" + text + "'"), std::string::npos) << r.err;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << option << " " << text;
    }
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"--sims", " 3 "},           {"--seq-length", "-5"},
        {"--mutation-rate", "1e-7"}, {"--mutation-rate", "+.5E+2"},
        {"--gamma", "5."},           {"--pop-size", "2147483647"}};
    for (const auto& [option, text] : accepted) {
        const CliParse p = parseCliOptions({option, text});
        EXPECT_EQ(p.error, "") << option << " " << text;
    }
    // Accepted texts reach the run as the window would read them.
    TempDir a, b;
    EXPECT_EQ(run({"--sample-size", " 6 ", "--seed", "3", "--workdir", a.str()}).status, 0);
    EXPECT_EQ(run({"--sample-size", "6", "--seed", "3", "--workdir", b.str()}).status, 0);
    EXPECT_EQ(a.read("outfile.csv"), b.read("outfile.csv"));
}

// As in ms: "quenlith-cli K SIMS ..." is --sample-size K --sims SIMS; anything else first is
// refused as before.
TEST(CliOptions, SampleSizeAndCountMayStandFirst) {
    const CliParse p = parseCliOptions({"12", "30", "--seed", "4"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.form.edtSampleSize, "12");
    EXPECT_EQ(p.options.form.edtNumberSimulations, "30");
    EXPECT_TRUE(p.options.form.chkMultipleSims);
    TempDir a, b;
    EXPECT_EQ(run({"7", "3", "--seed", "3", "--workdir", a.str()}).status, 0);
    EXPECT_EQ(
        run({"--sample-size", "7", "--sims", "3", "--seed", "3", "--workdir", b.str()}).status, 0);
    EXPECT_EQ(a.read("outfile.csv"), b.read("outfile.csv"));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"12"}, {"12", "--sims", "3"}, {"-12", "3"}, {"--seed", "4", "12", "30"}})
        EXPECT_NE(parseCliOptions(args).error, "") << args[0];
}
