// quenlith-cli in a pipeline: "-" for standard output, absolute names, refusals before
// anything is written, --quiet, the progress line, parameter files.
#include "cli/cli_config.h"
#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "run/parameter_table.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

struct Shell {
    int status;
    std::string out, err;
};

// The program itself, its standard output and error caught in files.
Shell program(const TempDir& scratch, const std::string& args) {
    const std::string out = scratch.file("stdout"), err = scratch.file("stderr");
    const std::string command =
        std::string("'") + QUENLITH_CLI_PATH + "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    Shell r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, scratch.read("stdout"), scratch.read("stderr")};
    fs::remove(out);
    fs::remove(err);
    return r;
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
    return names;
}

// Every field of the form as text, run controls included.
std::vector<std::string> allFields(const FormValues& f) {
    std::vector<std::string> values;
    for (const ParameterEntry& e : parameterTable())
        values.push_back(std::string(e.field) + "=" + e.get(f));
    return values;
}

CliOptions parsed(const std::vector<std::string>& args) {
    CliParse p = parseCliOptions(args);
    EXPECT_EQ(p.error, "");
    return p.options;
}

} // namespace

TEST(CliPipeline, DashWritesTheFileToStandardOutputAndNothingElse) {
    TempDir scratch, a, b;
    const std::string common = "--seed 5 --sims 3 --sample-size 6 --seq-length 50 "
                               "--mutation-rate 0.00001 --diploid ";
    for (const auto& [option, name] : std::vector<std::pair<std::string, std::string>>{
             {"--ms", "sites.ms"}, {"--vcf", "sites.vcf"}, {"--stats", "stats.csv"}}) {
        const Shell toFile =
            program(scratch, common + option + " " + name + " --workdir " + a.str());
        ASSERT_EQ(toFile.status, 0) << toFile.err;
        const Shell piped = program(scratch, common + option + " - --workdir " + b.str());
        ASSERT_EQ(piped.status, 0) << piped.err;
        // The ms file's first line, the command that repeats the run, names its own file.
        std::string expected = a.read(name);
        if (option == "--ms") {
            const size_t at = expected.find("--ms sites.ms");
            ASSERT_NE(at, std::string::npos);
            expected.replace(at, 13, "--ms -");
        }
        EXPECT_EQ(piped.out, expected) << option;
        EXPECT_GT(piped.out.size(), 100u);
        EXPECT_FALSE(b.exists("-")) << option;
        EXPECT_EQ(piped.err.find("simulations"), std::string::npos) << "no progress in a pipe";
        // Every other file of the run is written as usual.
        EXPECT_EQ(b.read("NewickTrees.tre"), a.read("NewickTrees.tre"));
    }
}

TEST(CliPipeline, RefusalsComeBeforeAnythingIsWritten) {
    TempDir scratch, work;
    const std::string w = " --seed 1 --workdir " + work.str();
    Shell r = program(scratch, "--ms - --vcf -" + w);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Only one file can be written to standard output"), std::string::npos)
        << r.err;
    r = program(scratch, "--stats - --ms -" + w);
    EXPECT_EQ(r.status, 2);
    r = program(scratch, "--vcf " + scratch.file("missing/x.vcf") + w);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    r = program(scratch, "--log-file " + scratch.file("stdout/log.txt") + w);
    EXPECT_EQ(r.status, 2) << "a file in the folder's place";
    r = program(scratch, "--image " + scratch.file("missing/g.bmp") + w);
    EXPECT_EQ(r.status, 2) << r.err;
    if (::geteuid() != 0) { // root writes into any folder
        fs::create_directories(scratch.path() / "ro");
        fs::permissions(scratch.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        r = program(scratch, "--stats " + scratch.file("ro/s.csv") + w);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("cannot be written into"), std::string::npos) << r.err;
    }
    EXPECT_EQ(entries(work.path()), std::vector<std::string>{}) << "nothing written";
}

TEST(CliPipeline, AbsoluteNamesAreUsedAsGivenRelativeOnesJoinTheWorkingDirectory) {
    TempDir scratch, work, elsewhere;
    const Shell r =
        program(scratch, "--seed 2 --sims 2 --sample-size 4 --quiet --workdir " + work.str() +
                             " --stats " + elsewhere.file("s.csv") + " --log-file " +
                             elsewhere.file("run.log") + " --newick-file trees.nwk --image g.bmp");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "--quiet prints nothing but errors";
    EXPECT_TRUE(elsewhere.exists("s.csv"));
    EXPECT_TRUE(elsewhere.exists("run.log"));
    EXPECT_TRUE(work.exists("trees.nwk"));
    EXPECT_FALSE(work.exists("s.csv"));
    // The image follows the same rule: relative to the working directory.
    EXPECT_TRUE(work.exists("g.bmp"));
    EXPECT_FALSE(fs::exists("g.bmp"));
}

TEST(CliPipeline, SlicesWithFilesOutsideTheirFolderAreNotJoined) {
    TempDir scratch, s1, s2, out, elsewhere;
    const std::string common =
        "--rng streams --seed 3 --sample-size 4 --quiet --stats " + elsewhere.file("s.csv") + " ";
    // A whole run may write anywhere; a slice, whose files the join reads from its folder,
    // is refused before it writes anything.
    ASSERT_EQ(program(scratch, common + "--sims 2 --workdir " + s1.str()).status, 0);
    EXPECT_TRUE(elsewhere.exists("s.csv"));
    fs::remove(elsewhere.file("s.csv"));
    EXPECT_EQ(
        program(scratch, common + "--sims 2 --first-sim 3 --of 4 --workdir " + s2.str()).status, 2);
    EXPECT_FALSE(elsewhere.exists("s.csv"));
    const Shell r =
        program(scratch, "--join " + s1.str() + " " + s2.str() + " --workdir " + out.str());
    EXPECT_NE(r.status, 0);
}

TEST(CliPipeline, QuietAndTheProgressLine) {
    TempDir dir;
    std::ostringstream out, err;
    EXPECT_EQ(runCli({"--workdir", dir.file("new"), "--quiet", "--sims", "2"}, out, err, true), 0);
    EXPECT_EQ(err.str(), "") << "no seed, no folder message, no progress under --quiet";
    std::ostringstream err2;
    EXPECT_EQ(runCli({"--workdir", dir.file("new"), "--seed", "4", "--sims", "3"}, out, err2, true),
              0);
    // On a terminal the last line shows every simulation done, then ends.
    const std::string e = err2.str();
    EXPECT_EQ(e.substr(e.rfind('\r') + 1).rfind("simulations 3 of 3, ", 0), 0u) << e;
    EXPECT_EQ(e.back(), '\n');

    EXPECT_EQ(progressLine(0, 10, 0, 0), "simulations 0 of 10, -/s, time left unknown");
    EXPECT_EQ(progressLine(5, 10, 10, 0.5), "simulations 5 of 10, 0.5/s, 10s left");
    EXPECT_EQ(progressLine(30, 100, 60, 0.25), "simulations 30 of 100, 0.5/s, 3:00 left");
    EXPECT_EQ(progressLine(1, 4, 3600, 0.25), "simulations 1 of 4, 0.00028/s, 3:00:00 left");
    EXPECT_EQ(progressLine(4000, 4000, 2, 1), "simulations 4000 of 4000, 2000/s, 0s left");
}

TEST(CliConfig, EveryOptionTravelsThroughAParameterFile) {
    // Each option of the table set away from its default, written and read back alone.
    for (const ParameterEntry& e : parameterTable()) {
        if (!*e.option) continue;
        std::vector<std::string> args = {e.option};
        if (e.kind == ParameterKind::Choice)
            args.push_back(e.choices.back().text);
        else if (e.kind == ParameterKind::Number)
            args.push_back("3");
        else if (e.kind != ParameterKind::Flag)
            args.push_back(parameterNumber(e) == ParameterNumber::Whole  ? "17"
                           : parameterNumber(e) == ParameterNumber::Real ? "0.5"
                                                                         : " a name = #1 \"x\"");
        const CliOptions set = parsed(args);
        CliOptions back;
        const std::string error =
            applyConfigText("p.cfg", configText(set), back,
                            [&](const std::string& name, const std::string& value, bool& isFlag) {
                                // The command line's own reading of one option.
                                for (const ParameterEntry& t : parameterTable()) {
                                    if (name != t.option) continue;
                                    isFlag = t.kind == ParameterKind::Flag;
                                    if (isFlag && !value.empty()) return std::string();
                                    return applyParameterOption(t, back.form, value);
                                }
                                isFlag = name == "--quiet";
                                if (name == "--quiet" && value.empty()) back.quiet = true;
                                return std::string();
                            });
        ASSERT_EQ(error, "") << e.option;
        EXPECT_EQ(allFields(back.form), allFields(set.form)) << e.option;
        EXPECT_NE(allFields(set.form), allFields(FormValues{})) << e.option;
    }
}

TEST(CliConfig, FilesAreReadWhereTheyStandAndRefusedWithTheirLine) {
    TempDir dir;
    const CliOptions o = parsed({"--seed", "77", "--sims", "9", "--diploid", "--model", "K2P",
                                 "--each-sim", "E", "--image", "g.bmp", "--quiet"});
    dir.write("p.cfg", configText(o));
    CliOptions back = parsed({"--config", dir.file("p.cfg")});
    EXPECT_EQ(allFields(back.form), allFields(o.form));
    EXPECT_EQ(back.seed, o.seed);
    EXPECT_EQ(back.imageFile, "g.bmp");
    EXPECT_TRUE(back.quiet);
    // Later options win, as do the file's own over earlier ones.
    back = parsed({"--config", dir.file("p.cfg"), "--sims", "4"});
    EXPECT_EQ(back.form.edtNumberSimulations, "4");
    dir.write("off.cfg", "# a comment\n\n  diploid = false  \nno-scatter = yes\n");
    back = parsed({"--diploid", "--config", dir.file("off.cfg")});
    EXPECT_FALSE(back.form.chkDiploid);
    EXPECT_FALSE(back.form.chkScatterMut);

    const auto refused = [&](const std::string& text) {
        dir.write("bad.cfg", text);
        return parseCliOptions({"--config", dir.file("bad.cfg")}).error;
    };
    EXPECT_NE(refused("sims = 2\nbogus = 1\n").find("bad.cfg line 2: unknown option 'bogus'"),
              std::string::npos);
    EXPECT_NE(refused("diploid = maybe\n").find("true or false"), std::string::npos);
    EXPECT_NE(refused("sims = 1e3\n").find("whole number"), std::string::npos);
    EXPECT_NE(refused("config = other.cfg\n").find("cannot be given"), std::string::npos);
    EXPECT_NE(refused("--sims = 3\n").find("without its dashes"), std::string::npos);
    EXPECT_NE(refused("sims 3\n").find("name = value"), std::string::npos);
    EXPECT_NE(parseCliOptions({"--config", dir.file("none.cfg")}).error, "");

    // --write-config writes the file and runs nothing.
    std::ostringstream out, err;
    EXPECT_EQ(
        runCli({"--sims", "3", "--workdir", dir.file("w"), "--write-config", dir.file("w.cfg")},
               out, err, false),
        0);
    EXPECT_FALSE(fs::exists(dir.file("w")));
    EXPECT_NE(dir.read("w.cfg").find("\nsims = 3\n"), std::string::npos);
}
