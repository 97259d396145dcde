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

} // namespace
} // namespace quenlith
