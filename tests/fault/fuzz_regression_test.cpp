// Replays the inputs with which the fuzz targets once found a fault (tests/data/fuzz/<target>/),
// and the seed inputs the targets start from (fuzz/corpus/<target>/): each must now pass.
#include "fuzz_targets.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs every file of `dir` through the target; returns how many there were.
size_t replay(const quenlith::fuzz::Target& target, const fs::path& dir) {
    size_t count = 0;
    if (!fs::is_directory(dir)) return 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        ++count;
        EXPECT_EQ(target.run(readAll(entry.path())), "") << entry.path();
    }
    return count;
}

} // namespace

TEST(FuzzRegression, InputsThatFoundFaults) {
    size_t total = 0;
    for (const auto& target : quenlith::fuzz::allTargets())
        total += replay(target, fs::path(QUENLITH_TEST_DATA) / "fuzz" / target.name);
    EXPECT_GT(total, 0u) << "no regression input under tests/data/fuzz";
}

TEST(FuzzRegression, SeedCorpus) {
    for (const auto& target : quenlith::fuzz::allTargets())
        EXPECT_GT(replay(target, fs::path(QUENLITH_FUZZ_CORPUS) / target.name), 0u)
            << "no seed input for " << target.name;
}
