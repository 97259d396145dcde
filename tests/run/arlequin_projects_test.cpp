// The Arlequin projects that worker threads write ahead of the driver's thread.
#include "base/file_io.h"
#include "output/arlequin.h"
#include "run/arlequin_projects.h"
#include "run/output_files.h"
#include "run/slice_join.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace quenlith {
namespace {

std::set<std::string> projectsIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

std::string projectText(int32_t s) {
    return "[Profile]\r\n  Title=\"simulation " + std::to_string(s) + "\"\r\n";
}

// With workers, two threads write projects out of order while the driver writes the batch
// lines in order; the run then ends early: what stays is exactly the projects and batch
// lines of the simulations written, each project with its own text, as on one thread.
TEST(ArlequinProjects, WorkersWriteAheadAndAnEarlyEndLeavesTheWholeSimulations) {
    std::mt19937 pick(4);
    for (int round = 0; round < 20; ++round) {
        const int32_t formattedUpTo = 5 + static_cast<int32_t>(pick() % 40);
        const int32_t writtenUpTo = static_cast<int32_t>(pick() % (formattedUpTo + 1));
        std::string batchText[2];
        std::set<std::string> projects[2];
        quenlith::testing::TempDir dir;
        for (const bool onWorkers : {false, true}) {
            fs::remove_all(dir.path() / "Arlequin");
            fs::create_directories(dir.path() / "Arlequin");
            WrittenFiles written;
            BlockFile batch((dir.path() / "ArlequinBatch.arp").string(), true, &written);
            ArlequinProjects p(&batch, dir.path().string(), onWorkers, &written);
            ASSERT_TRUE(p.active());
            // Two workers take the odd and the even simulations.
            std::vector<std::thread> workers;
            for (int w = 0; w < 2; ++w)
                workers.emplace_back([&, w] {
                    for (int32_t s = 1 + w; s <= formattedUpTo; s += 2)
                        p.formatted(s, projectText(s));
                });
            for (auto& t : workers)
                t.join();
            for (int32_t s = 1; s <= writtenUpTo; ++s)
                p.write(s, projectText(s));
            p.discardUnwritten();
            batchText[onWorkers] = quenlith::testing::readFile(dir.path() / "ArlequinBatch.arp");
            projects[onWorkers] = projectsIn(dir.path() / "Arlequin");
            ASSERT_EQ(projects[onWorkers].size(), static_cast<size_t>(writtenUpTo));
            for (int32_t s = 1; s <= writtenUpTo; ++s)
                EXPECT_EQ(quenlith::testing::readFile(arlequinProjectPath(dir.path().string(), s)),
                          projectText(s));
        }
        EXPECT_EQ(batchText[0], batchText[1]);
        EXPECT_EQ(projects[0], projects[1]);
    }
}

// The digest of the projects that the driver's thread takes in simulation order, on one
// thread and behind two workers that write the files out of order, is the one read back
// from the folder, for projects of random sizes (empty ones among them) and slices that do
// not start at 1.
TEST(ArlequinProjects, TheirDigestTakenInOrderIsTheOneReadBack) {
    std::mt19937 pick(9);
    for (int round = 0; round < 30; ++round) {
        const int32_t first = 1 + static_cast<int32_t>(pick() % 100);
        const int32_t count = static_cast<int32_t>(pick() % 30);
        std::vector<std::string> texts;
        for (int32_t i = 0; i < count; ++i) {
            std::string t(pick() % 5 == 0 ? 0 : pick() % 3000, '\0');
            for (char& c : t)
                c = static_cast<char>('A' + pick() % 26);
            texts.push_back(t);
        }
        const auto text = [&](int32_t s) { return texts[static_cast<size_t>(s - first)]; };
        for (const bool onWorkers : {false, true}) {
            quenlith::testing::TempDir dir;
            fs::create_directories(dir.path() / "Arlequin");
            WrittenFiles written;
            written.tallyWrites({joinPath(dir.str(), kProjectsEntry)});
            BlockFile batch((dir.path() / "ArlequinBatch.arp").string(), true, &written);
            ArlequinProjects p(&batch, dir.str(), onWorkers, &written);
            std::vector<std::thread> workers;
            for (int w = 0; w < 2; ++w)
                workers.emplace_back([&, w] {
                    for (int32_t s = first + count - 1 - w; s >= first; s -= 2)
                        p.formatted(s, text(s));
                });
            for (auto& t : workers)
                t.join();
            for (int32_t s = first; s < first + count; ++s)
                p.write(s, text(s));
            FileDigest taken;
            ASSERT_TRUE(written.writtenDigest(joinPath(dir.str(), kProjectsEntry), taken));
            const FileDigest back = projectsDigest(dir.str(), first, count);
            EXPECT_EQ(taken.size, back.size);
            EXPECT_EQ(taken.sha256, back.sha256) << "round " << round << " workers " << onWorkers;
        }
    }
}

// A run without projects touches nothing.
TEST(ArlequinProjects, WithoutABatchFileNothingIsWritten) {
    quenlith::testing::TempDir dir;
    ArlequinProjects p(nullptr, dir.path().string(), true, nullptr);
    EXPECT_FALSE(p.active());
    p.formatted(1, projectText(1));
    p.write(1, projectText(1));
    p.discardUnwritten();
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

} // namespace
} // namespace quenlith
