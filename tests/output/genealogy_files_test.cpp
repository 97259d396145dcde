// Distribution blocks and matrix records of a genealogy, against worked examples.
#include "base/file_io.h"
#include "base/run_error.h"
#include "output/distributions.h"
#include "output/matrix_files.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace quenlith;

namespace {

Genealogy example(int32_t k, std::vector<CoalEvent> coal, std::vector<MutEvent> mut) {
    Genealogy g;
    g.SampleSize = k;
    g.CoalEvents = std::move(coal);
    g.MutEvents = std::move(mut);
    g.rebuildTree();
    return g;
}

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        path = std::filesystem::temp_directory_path() /
               ("quenlith-files-" + std::to_string(::getpid()) + "-" +
                std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

} // namespace

TEST(Distributions, WorkedExample) {
    const Genealogy g = example(4, {{10, 0, 1}, {25, 0, 1}, {40, 0, 1}},
                                {{5, 0}, {10, 1}, {12, 0}, {24, 2}, {25, 1}, {30, 0}, {40, 1}});
    std::string coal, mut;
    appendDistributionBlocks(g, coal, mut);
    EXPECT_EQ(coal, "Time of Coalescence, Total genealogy length\r\n10,40\r\n25,85\r\n40,115\r\n");
    EXPECT_EQ(mut, "Time of mutation, Total tree length\r\n5,20\r\n10,0\r\n12,6\r\n24,42\r\n"
                   "25,0\r\n30,55\r\n40,45\r\n");
    // No mutation: the header alone; blocks follow each other directly.
    const Genealogy quiet = example(2, {{120, 0, 1}}, {});
    appendDistributionBlocks(quiet, coal, mut);
    EXPECT_TRUE(
        coal.ends_with("40,115\r\nTime of Coalescence, Total genealogy length\r\n120,240\r\n"));
    EXPECT_TRUE(mut.ends_with("40,45\r\nTime of mutation, Total tree length\r\n"));
}

TEST(MatrixFiles, RecordLayoutAndSearch) {
    TempDir dir;
    const std::string work = dir.path.string();
    std::string tree, mut;
    // Records 1 .. 12, record 3 being the worked example.
    for (int32_t n = 1; n <= 12; ++n) {
        Genealogy g = n == 3 ? example(3, {{412, 1, 2}, {980, 0, 1}}, {{77, 2}, {980, 1}})
                             : example(3, {{n, 0, 1}, {100 + n, 0, 1}},
                                       std::vector<MutEvent>(n % 3, MutEvent{n, 0}));
        std::string t, m;
        appendMatrixRecord(n, g, t, m);
        if (n == 3) {
            EXPECT_EQ(t, "#3\r\n412 1 2 \r\n980 0 1 \r\n");
            EXPECT_EQ(m, "#3\r\n77 2 \r\n980 1 \r\n");
        }
        tree += t;
        mut += m;
    }
    writeWholeFile(joinPath(work, kTreeMatFile), tree);
    writeWholeFile(joinPath(work, kMutMatFile), mut);

    Genealogy g;
    ASSERT_TRUE(readMatrixRecord(work, 3, 3, 2, g));
    EXPECT_EQ(g.CoalEvents[0].generation, 412);
    EXPECT_EQ(g.CoalEvents[0].first, 1);
    EXPECT_EQ(g.CoalEvents[1].generation, 980);
    ASSERT_EQ(g.MutEvents.size(), 2u);
    EXPECT_EQ(g.MutEvents[0].generation, 77);
    EXPECT_EQ(g.MutEvents[0].position, 2);
    EXPECT_EQ(g.MutEvents[1].generation, 980);

    // #1 is found as a whole line, not as the start of #10, #11 or #12.
    ASSERT_TRUE(readMatrixRecord(work, 1, 3, 1, g));
    EXPECT_EQ(g.CoalEvents[0].generation, 1);
    EXPECT_EQ(g.CoalEvents[1].generation, 101);
    ASSERT_TRUE(readMatrixRecord(work, 10, 3, 1, g));
    EXPECT_EQ(g.CoalEvents[1].generation, 110);
    ASSERT_TRUE(readMatrixRecord(work, 12, 3, 0, g));
    EXPECT_EQ(g.CoalEvents[0].generation, 12);
    EXPECT_TRUE(g.MutEvents.empty());

    // A missing record, or more rows asked than the file holds, is reported, not read past.
    EXPECT_FALSE(readMatrixRecord(work, 13, 3, 0, g));
    EXPECT_FALSE(readMatrixRecord(work, 12, 3, 5, g));
    EXPECT_FALSE(readMatrixRecord(work, 12, 30, 0, g)); // rows of another sample size
    std::filesystem::remove(joinPath(work, kMutMatFile));
    EXPECT_THROW(readMatrixRecord(work, 3, 3, 2, g), RunError);
}
