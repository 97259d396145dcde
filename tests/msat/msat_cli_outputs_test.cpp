// Seeded microsatellite runs through quenlith-cli under the three allele models write
// exactly the checked-in files: every per-locus record, the genotype table, the Arlequin
// projects and batch file, the summary table and the log (its date and times masked).
#include "cli/cli_run.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

using namespace quenlith;
using quenlith::testing::readFile;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> words(const std::string& args) {
    std::istringstream in(args);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// Lines 4 to 6 of the log hold the date and the start and end times.
std::string maskedLog(std::string log) {
    const char* masks[] = {"YYYY-MM-DD", "Started at: HH:MM:SS", "Finished at: HH:MM:SS"};
    size_t at = 0;
    for (int line = 0; line < 6; ++line) {
        const size_t end = log.find("\r\n", at);
        if (end == std::string::npos) return log;
        if (line >= 3) {
            log.replace(at, end - at, masks[line - 3]);
            at += std::string(masks[line - 3]).size() + 2;
        } else {
            at = end + 2;
        }
    }
    return log;
}

std::set<std::string> filesUnder(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).generic_string());
    return out;
}

} // namespace

TEST(MsatCliOutputs, SeededRunsMatchTheExpectedFiles) {
    const fs::path data = fs::path(QUENLITH_TEST_DATA) / "msat";
    const struct {
        const char* name;
        const char* paramFile;
        const char* args;
    } cases[] = {
        {"stepwise", "p.txt",
         "--seed 5 --msat --loci 3 --msat-params p.txt --sims 4 --msat-model stepwise --msat-out "
         "--msat-diversity --arlequin --sample-size 6 --pop-size 40"},
        // An odd sample, the effective size and a fluctuating size on every locus.
        {"random", "msatparam.txt",
         "--seed 9 --msat --loci 3 --sims 3 --msat-model random --msat-out --msat-diversity "
         "--arlequin --sample-size 5 --pop-size 30 --fluctuating --growth-end 60 "
         "--change-percent 2 --var-rep-success 1.5"},
        // The genotype table stays empty; the Arlequin projects show the new sizes.
        {"infinite", "msatparam.txt",
         "--seed 3 --msat --loci 3 --sims 2 --msat-model infinite --msat-out --arlequin "
         "--sample-size 4 --pop-size 25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(c.paramFile, readFile(data / "msatparam.txt"));
        std::vector<std::string> args = words(c.args);
        args.insert(args.end(), {"--workdir", dir.str()});
        std::ostringstream out, err;
        ASSERT_EQ(runCli(args, out, err, false), 0) << err.str();

        const fs::path expected = data / c.name;
        std::set<std::string> written = filesUnder(dir.path());
        written.erase(c.paramFile);
        EXPECT_EQ(written, filesUnder(expected));
        for (const std::string& name : filesUnder(expected)) {
            std::string got = dir.read(name);
            std::string want = readFile(expected / name);
            if (name == "logFile.txt") got = maskedLog(got);
            if (name == "ArlequinBatch.arp") {
                for (size_t at = 0; (at = want.find("WORKDIR", at)) != std::string::npos;)
                    want.replace(at, 7, dir.str());
            }
            EXPECT_EQ(got, want) << name;
        }
    }
}
