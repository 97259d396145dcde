// quenlith-cli's options of streams runs: the kind of random numbers, 64-bit seeds, threads,
// slices and the join, with their refusals before anything is written.
#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

struct CliResult {
    int status;
    std::string err;
};

CliResult run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = runCli(args, out, err, false);
    return {status, err.str()};
}

} // namespace

TEST(CliStreams, OptionsSetTheRunControl) {
    CliParse p =
        parseCliOptions({"--rng", "streams", "--seed", "18446744073709551615", "--threads", "3",
                         "--first-sim", "4000000000", "--join", "a", "b", "c", "--workdir", "out"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.form.rngKind, RandomKind::Streams);
    EXPECT_EQ(*p.options.seed, 18446744073709551615ull);
    EXPECT_EQ(p.options.form.threads, 3);
    EXPECT_EQ(p.options.form.firstSim, 4000000000LL);
    EXPECT_EQ(p.options.joinDirs, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(p.options.form.WorkDir, "out");

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--rng", "mt"},
                                                {"--threads", "0"},
                                                {"--threads", "-2"},
                                                {"--threads", "x"},
                                                {"--first-sim", "0"},
                                                {"--first-sim", "-1"},
                                                {"--seed", "18446744073709551616"},
                                                {"--seed", "-1"}})
        EXPECT_NE(parseCliOptions(bad).error, "") << bad[0] << " " << bad[1];
}

TEST(CliStreams, RefusalsComeBeforeAnyFile) {
    TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {"--seed", "4294967296"},            // too wide for the default
        {"--first-sim", "3", "--sims", "2"}, // a slice of a default run
        {"--rng", "streams", "--first-sim", "2147483647", "--sims", "2"}, // past the last
        {"--threads", "0", "--rng", "streams"},
        {"--engine", "events"},                   // the default generator has one engine
        {"--rng", "streams", "--engine", "skip"}, // no such engine
        {"--mergers", "two"},                     // no such merge rule
    };
    // Options the parser refuses exit with 2; the checks of the run's set-up with 1.
    const std::vector<int> statuses = {2, 1, 1, 2, 1, 2, 2};
    for (size_t c = 0; c < cases.size(); ++c) {
        auto args = cases[c];
        args.insert(args.end(), {"--workdir", dir.str(), "--quiet"});
        const CliResult r = run(args);
        EXPECT_EQ(r.status, statuses[c]) << args[0];
        EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
        if (args[0] == "--mergers") {
            EXPECT_NE(r.err.find("--mergers"), std::string::npos) << r.err;
        }
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << args[0];
    }
}

TEST(CliStreams, SlicesAndJoinFromTheCommandLine) {
    TempDir root;
    const auto sub = [&](const std::string& n) {
        std::filesystem::create_directories(root.path() / n);
        return (root.path() / n).string();
    };
    const std::vector<std::string> common = {
        "--rng",      "streams", "--seed", "12345678901234567", "--sample-size", "6",
        "--pop-size", "50",      "--quiet"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), common.begin(), common.end());
        return extra;
    };
    ASSERT_EQ(run(with({"--sims", "5", "--workdir", sub("whole")})).status, 0);
    ASSERT_EQ(
        run(with({"--sims", "2", "--of", "5", "--workdir", sub("s1"), "--threads", "2"})).status,
        0);
    ASSERT_EQ(
        run(with({"--first-sim", "3", "--sims", "3", "--of", "5", "--workdir", sub("s2")})).status,
        0);
    const std::string joined = (root.path() / "joined").string();
    ASSERT_EQ(run({"--join", sub("s2"), sub("s1"), "--workdir", joined}).status, 0);
    for (const char* f : {"NewickTrees.tre", "outfile.csv", "CoalDistrib.csv", "TreeMatFile.txt"})
        EXPECT_EQ(quenlith::testing::readFile(root.path() / "whole" / f),
                  quenlith::testing::readFile(root.path() / "joined" / f))
            << f;
    const CliResult gap = run({"--join", sub("s2"), "--workdir", joined});
    EXPECT_EQ(gap.status, 1);
    EXPECT_NE(gap.err.find("gap: simulations 1 to 2"), std::string::npos) << gap.err;
}

// --slice I/N of --of S: the N slices cover 1 .. S once each, and join into the whole run.
TEST(CliStreams, SliceShorthandCoversTheWholeRun) {
    const auto slice = [](const std::string& i, const std::string& of) {
        return parseCliOptions({"--rng", "streams", "--slice", i, "--of", of});
    };
    int64_t next = 1;
    for (const char* i : {"1/3", "2/3", "3/3"}) {
        const CliParse p = slice(i, "10");
        ASSERT_EQ(p.error, "") << i;
        EXPECT_EQ(p.options.form.firstSim, next) << i;
        next += std::stoll(p.options.form.edtNumberSimulations);
        EXPECT_TRUE(p.options.form.chkMultipleSims);
    }
    EXPECT_EQ(next, 11);
    EXPECT_EQ(slice("7/7", "3").options.form.edtNumberSimulations, "1"); // more slices than sims
    EXPECT_EQ(slice("1/7", "3").options.form.edtNumberSimulations, "0");
    for (const char* bad : {"0/3", "4/3", "3", "a/b", "1/0"})
        EXPECT_NE(slice(bad, "10").error.find("needs I/N"), std::string::npos) << bad;
    EXPECT_NE(parseCliOptions({"--slice", "1/2"}).error.find("needs --of S"), std::string::npos);
    EXPECT_NE(parseCliOptions({"--slice", "1/2", "--of", "4", "--sims", "2"}).error.find("--sims"),
              std::string::npos);

    TempDir root;
    const std::vector<std::string> common = {"--rng",         "streams", "--seed", "99",
                                             "--sample-size", "5",       "--of",   "7",
                                             "--pop-size",    "30",      "--quiet"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), common.begin(), common.end());
        return extra;
    };
    std::vector<std::string> join = {"--join"};
    for (const char* i : {"1/3", "2/3", "3/3"}) {
        const std::string dir = (root.path() / ("s" + std::string(1, i[0]))).string();
        std::filesystem::create_directories(dir);
        ASSERT_EQ(run(with({"--slice", i, "--workdir", dir})).status, 0) << i;
        join.push_back(dir);
    }
    const std::string whole = (root.path() / "whole").string();
    std::filesystem::create_directories(whole);
    ASSERT_EQ(run(with({"--sims", "7", "--workdir", whole})).status, 0);
    const std::string joined = (root.path() / "joined").string();
    join.insert(join.end(), {"--workdir", joined});
    ASSERT_EQ(run(join).status, 0);
    for (const char* f : {"NewickTrees.tre", "outfile.csv", "MutMatFile.txt"})
        EXPECT_EQ(quenlith::testing::readFile(root.path() / "whole" / f),
                  quenlith::testing::readFile(root.path() / "joined" / f))
            << f;
}
