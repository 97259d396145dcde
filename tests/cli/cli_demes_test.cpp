// quenlith-cli with a Demes model: --resolve prints the resolved model, a refused model or
// option exits with status 2 before anything is written.
#include "cli/cli_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quenlith {
namespace {

using testing::TempDir;

struct Result {
    int status;
    std::string out, err;
};

Result cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = runCli(args, out, err, false);
    return {status, out.str(), err.str()};
}

const std::string kModel = std::string(QUENLITH_TEST_DATA) + "/demes/examples/gutenkunst_ooa.yaml";

TEST(CliDemes, ResolvePrintsTheModelAsJson) {
    const Result r = cli({"--demes", kModel, "--resolve"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto model = nlohmann::json::parse(r.out);
    EXPECT_EQ(model["time_units"], "years");
    EXPECT_EQ(model["demes"].size(), 6u);
    EXPECT_EQ(model["demes"][0]["start_time"], "Infinity");
    // Four symmetric migrations, two directions each.
    EXPECT_EQ(model["migrations"].size(), 8u);
}

TEST(CliDemes, RefusalsExitWithStatus2AndWriteNothing) {
    TempDir dir;
    const std::string bad = dir.file("bad.yaml");
    {
        std::ofstream f(bad);
        f << "time_units: generations\ndemes:\n- name: A\n  epochs: [{start_size: 0}]\n";
    }
    const std::string selfing = dir.file("selfing.yaml");
    {
        std::ofstream f(selfing);
        f << "time_units: generations\ndemes:\n- name: A\n  epochs:\n"
             "  - {start_size: 10, end_time: 5}\n  - {start_size: 10, selfing_rate: 0.2}\n";
    }
    const std::string wd = "--workdir=" + dir.str();
    struct Case {
        std::vector<std::string> args;
        std::string message; // the whole standard error, or (runs) a part of it
    };
    const std::vector<Case> cases = {
        {{"--demes", bad, "--resolve"},
         "error: --demes: " + bad +
             ": demes[0].epochs[0].start_size: must be above 0 and finite, not 0 (line 4)\n"},
        {{"--demes", dir.file("none.yaml"), "--resolve"},
         "error: --demes: " + dir.file("none.yaml") +
             ": cannot read the file: No such file or directory\n"},
        {{"--resolve"}, "error: --resolve: needs a model file (--demes FILE)\n"},
        {{"--demes", kModel, wd, "--seed", "3", "--quiet"},
         "--samples: no samples: give NAME:COUNT for each deme sampled"},
        {{"--demes", kModel, wd, "--quiet", "--samples", "YRI:2,XX:3"},
         "--samples: 'XX:3': the model has no deme XX"},
        {{"--demes", kModel, wd, "--quiet", "--samples", "YRI:0"},
         "--samples: 'YRI:0': the count must be a whole number above 0"},
        {{"--demes", kModel, wd, "--quiet", "--samples", "OOA:4"},
         "--samples: 'OOA:4': deme OOA does not exist at time 0"},
        {{"--demes", selfing, wd, "--quiet", "--samples", "A:2"},
         "demes[0].epochs[1].selfing_rate: 0.200000: only models without selfing are simulated"},
        {{"--demes", kModel, wd, "--rng", "lcg", "--quiet", "--samples", "YRI:2"},
         "A demographic model runs with independent streams (--rng streams)"},
        {{"--demes", kModel, wd, "--fluctuating", "--quiet", "--samples", "YRI:2"},
         "the model gives the population sizes; \"Fluctuating Population Size\" (--fluctuating) "
         "cannot be used with it"},
        {{"--demes", kModel, wd, "--var-rep-success", "2", "--quiet", "--samples", "YRI:2"},
         "the model gives the reproduction; \"Variance in reproductive success\" "
         "(--var-rep-success) cannot be used with it"},
        {{wd, "--quiet", "--samples", "YRI:3"},
         "--samples and --ploidy describe the samples of a "
         "demographic model: they need --demes"},
        {{"--demes", kModel, wd, "--diploid", "--quiet", "--samples", "YRI:3"},
         "--samples: YRI:3: a diploid run pairs the copies of each deme"},
        {{"--demes", kModel, wd, "--msat", "--quiet", "--samples", "YRI:2,CEU:3"},
         "--samples: CEU:3: a microsatellite run pairs the copies of each deme"},
    };
    for (const Case& c : cases) {
        const Result r = cli(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        if (c.message.rfind("error:", 0) == 0)
            EXPECT_EQ(r.err, c.message);
        else
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // Only the model files: no run log, no output file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// Slices of a model run join into the whole run's files, the log's model section included;
// slices of different models are refused.
TEST(CliDemes, SlicesOfAModelJoinIntoTheWholeRun) {
    TempDir root;
    const std::string model = "time_units: generations\ndemes:\n"
                              "- {name: A, epochs: [{start_size: 80}]}\n"
                              "- {name: B, epochs: [{start_size: 60}]}\n"
                              "migrations: [{demes: [A, B], rate: 0.01}]\n";
    const auto folder = [&](const std::string& name, const std::string& text) {
        std::filesystem::create_directories(root.path() / name);
        std::ofstream(root.path() / name / "m.yaml") << text;
        return (root.path() / name).string();
    };
    const auto runIn = [&](const std::string& dir, std::vector<std::string> extra) {
        std::vector<std::string> args = {
            "--demes",      "m.yaml",  "--samples", "A:4,B:2",    "--diploid", "--seed", "77",
            "--seq-length", "50",      "--seq-out", "--arlequin", "--vcf",     "v.vcf",  "--ms",
            "s.ms",         "--stats", "st.csv",    "--quiet",    "--workdir", dir};
        args.insert(args.end(), extra.begin(), extra.end());
        return cli(args).status;
    };
    ASSERT_EQ(runIn(folder("whole", model), {"--sims", "5"}), 0);
    ASSERT_EQ(runIn(folder("s1", model), {"--sims", "2", "--of", "5"}), 0);
    ASSERT_EQ(runIn(folder("s2", model), {"--first-sim", "3", "--sims", "3", "--of", "5"}), 0);
    const std::string joined = (root.path() / "joined").string();
    const Result r = cli({"--join", (root.path() / "s1").string(), (root.path() / "s2").string(),
                          "--workdir", joined});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* f : {"v.vcf", "s.ms", "st.csv", "seqout.txt", "Arlequin/sim_4.arp", "m.yaml"})
        EXPECT_EQ(testing::readFile(root.path() / "whole" / f),
                  testing::readFile(root.path() / "joined" / f))
            << f;
    // The log's model section, the model file named in the run's own folder.
    const auto section = [&](const std::string& dir) {
        const std::string log = testing::readFile(root.path() / dir / "logFile.txt");
        const size_t at = log.find("Demographic model: " + (root.path() / dir / "m.yaml").string());
        return at == std::string::npos ? std::string() : log.substr(log.find('\n', at));
    };
    EXPECT_NE(section("whole").find("Samples: A:4 B:2"), std::string::npos) << section("whole");
    EXPECT_EQ(section("whole"), section("joined"));

    // The second slice again under another model (another size of B): refused.
    std::string other = model;
    other.replace(other.find("60"), 2, "61");
    ASSERT_EQ(runIn(folder("s2", other), {"--first-sim", "3", "--sims", "3", "--of", "5"}), 0);
    const Result refused = cli({"--join", (root.path() / "s1").string(),
                                (root.path() / "s2").string(), "--workdir", joined + "2"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("different demographic models"), std::string::npos) << refused.err;
}

} // namespace
} // namespace quenlith
