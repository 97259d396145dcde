// The sizes and digests a run's record takes of its files while they are written: equal to
// those read back from the disk, or refused whenever a byte passed the record by.
#include "base/file_io.h"
#include "base/run_error.h"
#include "run/file_digest.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <vector>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::string randomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

void appendOutside(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

} // namespace

// Random runs of blocks into several files (some reopened after a close, some written whole,
// one renamed from its part file): every tallied file's digest is that of the file on disk,
// and a file not named to the record has none.
TEST(WriteTally, DigestsTakenWhileWritingAreThoseOfTheFilesOnDisk) {
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        TempDir dir;
        const int files = 1 + static_cast<int>(rng() % 4);
        std::vector<std::string> paths;
        for (int i = 0; i < files; ++i)
            paths.push_back(dir.file("f" + std::to_string(i)));
        const std::string whole = dir.file("whole"), renamed = dir.file("table");
        const std::string untallied = dir.file("other");
        WrittenFiles written;
        std::vector<std::string> tallied = paths;
        tallied.push_back(whole);
        tallied.push_back(renamed + ".part");
        tallied.push_back(renamed);
        written.tallyWrites(tallied);

        std::vector<BlockFile> blocks;
        for (const std::string& p : paths)
            blocks.emplace_back(p, true, &written);
        BlockFile part(renamed + ".part", true, &written);
        BlockFile other(untallied, true, &written);
        const int writes = static_cast<int>(rng() % 40);
        for (int w = 0; w < writes; ++w) {
            const size_t n = rng() % 3 == 0 ? 0 : rng() % 9000;
            const std::string block = randomBytes(rng, n);
            switch (rng() % 4) {
            case 0:
                part.write(block);
                break;
            case 1:
                other.write(block);
                break;
            default: {
                BlockFile& f = blocks[rng() % blocks.size()];
                if (rng() % 5 == 0) f.close(); // the next block reopens it
                f.write(block);
            }
            }
        }
        writeWholeFile(whole, randomBytes(rng, rng() % 20000), &written);
        part.close();
        renameWrittenFile(renamed + ".part", renamed, &written);

        std::vector<std::string> expected = paths;
        expected.push_back(whole);
        expected.push_back(renamed);
        for (const std::string& p : expected) {
            FileDigest taken;
            ASSERT_TRUE(written.writtenDigest(p, taken)) << p;
            const FileDigest back = digestFile(p);
            EXPECT_EQ(taken.size, back.size) << p;
            EXPECT_EQ(taken.sha256, back.sha256) << p;
        }
        FileDigest none;
        EXPECT_FALSE(written.writtenDigest(untallied, none));
        EXPECT_FALSE(written.writtenDigest(renamed + ".part", none));
        // A tally ends with its digest.
        EXPECT_FALSE(written.writtenDigest(paths[0], none));
    }
}

// Bytes that reach a file past the record, or a file that is no longer the one written,
// leave it without a digest: the manifest then reads it back.
TEST(WriteTally, BytesThatPassTheRecordByLeaveNoDigest) {
    TempDir dir;
    const auto names = [&](std::initializer_list<const char*> n) {
        std::vector<std::string> out;
        for (const char* s : n)
            out.push_back(dir.file(s));
        return out;
    };
    WrittenFiles written;
    written.tallyWrites(names({"between", "after", "cut", "replaced", "old", "same", "group"}));
    FileDigest d;

    // Another writer appends between two blocks.
    BlockFile between(dir.file("between"), true, &written);
    between.write("one\n");
    appendOutside(dir.file("between"), "theirs\n");
    between.write("two\n");
    EXPECT_FALSE(written.writtenDigest(dir.file("between"), d));

    // Appended, cut or replaced after the last block.
    BlockFile after(dir.file("after"), true, &written);
    after.write("one\n");
    appendOutside(dir.file("after"), "x");
    EXPECT_FALSE(written.writtenDigest(dir.file("after"), d));
    writeWholeFile(dir.file("cut"), "0123456789", &written);
    fs::resize_file(dir.file("cut"), 4);
    EXPECT_FALSE(written.writtenDigest(dir.file("cut"), d));
    writeWholeFile(dir.file("replaced"), "0123456789", &written);
    dir.write("elsewhere", "abcdefghij"); // the same size, another file
    fs::rename(dir.file("elsewhere"), dir.file("replaced"));
    EXPECT_FALSE(written.writtenDigest(dir.file("replaced"), d));

    // A file that held bytes before the run opened it for appending.
    dir.write("old", "earlier\n");
    BlockFile old(dir.file("old"), false, &written);
    old.write("mine\n");
    EXPECT_FALSE(written.writtenDigest(dir.file("old"), d));

    // Reopened with the size it was written to: still the run's bytes alone.
    {
        BlockFile same(dir.file("same"), true, &written);
        same.write("first\n");
    }
    BlockFile again(dir.file("same"), false, &written);
    again.write("second\n");
    ASSERT_TRUE(written.writtenDigest(dir.file("same"), d));
    EXPECT_EQ(d.sha256, digestFile(dir.file("same")).sha256);
    EXPECT_EQ(d.size, 13u);

    // A group's tally only for a key named to the record.
    EXPECT_EQ(written.groupTally(dir.file("not named")), nullptr);
    const auto group = written.groupTally(dir.file("group"));
    ASSERT_NE(group, nullptr);
    group->addUncounted("name");
    group->add("content");
    ASSERT_TRUE(written.writtenDigest(dir.file("group"), d));
    EXPECT_EQ(d.size, 7u);
    Sha256 plain;
    plain.update("namecontent");
    EXPECT_EQ(d.sha256, plain.hex());
}

// A block refused at the file-size limit is taken back whole, so the tally stays that of the
// file; the blocks before it are all in it.
TEST(WriteTally, ABlockTakenBackLeavesTheTallyThatOfTheFile) {
    TempDir dir;
    WrittenFiles written;
    written.tallyWrites({dir.file("limited")});
    BlockFile f(dir.file("limited"), true, &written);
    f.write(std::string(3000, 'a'));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    bool refused = false;
    try {
        f.write(std::string(2000, 'b'));
    } catch (const RunError&) {
        refused = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(refused);
    f.write("end\n");
    FileDigest d;
    ASSERT_TRUE(written.writtenDigest(dir.file("limited"), d));
    const FileDigest back = digestFile(dir.file("limited"));
    EXPECT_EQ(d.size, 3004u);
    EXPECT_EQ(d.size, back.size);
    EXPECT_EQ(d.sha256, back.sha256);
}
