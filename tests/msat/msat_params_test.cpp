// The microsatellite parameter file: strict numbers, numbers across line ends, the rest of
// a line skipped, missing numbers at the end read as 0, and the checks of a locus.
#include "base/run_error.h"
#include "msat/msat_params.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

std::vector<MsatLocusParams> readLoci(const std::string& content, int32_t loci) {
    TempDir dir;
    dir.write("p.txt", content);
    return readMsatParamsForLog(dir.file("p.txt"), loci);
}

// The RunError a file gives when `loci` loci are read from it.
RunError readError(const std::string& content, int32_t loci) {
    try {
        readLoci(content, loci);
    } catch (const RunError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for " << content;
    return RunError("");
}

void expectLocus(const MsatLocusParams& p, int32_t label, int32_t min, int32_t max, int32_t repeat,
                 double rate) {
    EXPECT_EQ(p.LocusLabel, label);
    EXPECT_EQ(p.MinSize, min);
    EXPECT_EQ(p.MaxSize, max);
    EXPECT_EQ(p.RepeatUnit, repeat);
    EXPECT_EQ(p.LocusMutationRate, rate);
}

} // namespace

TEST(MsatParamFile, ReadsTheThreeLocusExample) {
    const auto loci = readLoci("1   100 140   2   0.0005\n"
                               "2   180 220   4   0.001\n"
                               "3   90  150   3   0.0001\n",
                               3);
    ASSERT_EQ(loci.size(), 3u);
    expectLocus(loci[0], 1, 100, 140, 2, 0.0005);
    expectLocus(loci[1], 2, 180, 220, 4, 0.001);
    expectLocus(loci[2], 3, 90, 150, 3, 0.0001);
}

TEST(MsatParamFile, SkipsTheRestOfEachLineAndCrossesLineEnds) {
    // Extra columns and text after the fifth number are dropped; tabs separate; CR LF, CR
    // and LF all end a line; lines after L are never read.
    auto loci = readLoci("1\t100\t140\t2\t5E-4\t99 extra words\r\n"
                         "2 180 220 4 .5 6 7\r"
                         "3 90 150 3 5.\n"
                         "not read at all\n",
                         3);
    expectLocus(loci[0], 1, 100, 140, 2, 0.0005);
    expectLocus(loci[1], 2, 180, 220, 4, 0.5);
    expectLocus(loci[2], 3, 90, 150, 3, 5.0);

    // Five numbers over two lines are one locus; the skip then drops the rest of the second
    // line, and the next locus starts on the line after it.
    loci = readLoci("1 100 140\n2 0.001 dropped 9 9 9\n2 180 220 4 0.002\n", 2);
    expectLocus(loci[0], 1, 100, 140, 2, 0.001);
    expectLocus(loci[1], 2, 180, 220, 4, 0.002);

    // A line with fewer than five numbers takes the rest from the next line.
    loci = readLoci("1 100 140 2\n0.5 9 9\n3 90 150 3 0.1\n", 2);
    expectLocus(loci[0], 1, 100, 140, 2, 0.5);
    expectLocus(loci[1], 3, 90, 150, 3, 0.1);
}

TEST(MsatParamFile, NumbersMissingAtTheEndOfTheFileReadAsZero) {
    auto loci = readLoci("1 100 140 2 0.001\n2 180 220\n", 4);
    expectLocus(loci[1], 2, 180, 220, 0, 0);
    expectLocus(loci[2], 0, 0, 0, 0, 0);
    expectLocus(loci[3], 0, 0, 0, 0, 0);
    loci = readLoci("1 100 140 2", 1); // lacks only its rate
    expectLocus(loci[0], 1, 100, 140, 2, 0);
    EXPECT_EQ(readLoci("", 2).size(), 2u);
}

TEST(MsatParamFile, StrictNumbers) {
    for (const char* bad :
         {"1,100,140,2,0.0005\n", "1a 100 140 2 0.1\n", "1 100 140 2 0,001\n",
          "1 100 140 2.0 0.1\n", "1 100 140 $2 0.1\n", "1 100 140 2 1e\n", "1 100 140 2 .\n",
          "1 100 140 2 inf\n", "1 100 140 2 nan\n", "1 100 140 2 1e999\n",
          "2147483648 100 140 2 0.1\n", "- 100 140 2 0.1\n"}) {
        const RunError e = readError(bad, 1);
        EXPECT_EQ(e.code(), ErrorCode::InvalidNumericInput) << bad;
    }
    // The detail names the file, the locus and the field.
    const RunError e = readError("1 100 140 2 0.1\n2 180 2x0 4 0.1\n", 2);
    EXPECT_NE(e.detail().find("p.txt"), std::string::npos) << e.detail();
    EXPECT_NE(e.detail().find("locus 2, MaxSize"), std::string::npos) << e.detail();
    EXPECT_NE(e.detail().find("2x0"), std::string::npos) << e.detail();

    const auto loci = readLoci("-2147483648 +5 -0 007 +1.5e-3\n", 1);
    expectLocus(loci[0], -2147483647 - 1, 5, 0, 7, 0.0015);

    // A byte 26 is a separator like every byte up to 32, and does not end the file.
    const auto after = readLoci("1\x1a"
                                "100 140 2 0.1\n\x1a\n2 180 220 4 0.2\n",
                                2);
    expectLocus(after[0], 1, 100, 140, 2, 0.1);
    expectLocus(after[1], 2, 180, 220, 4, 0.2);
}

TEST(MsatParamFile, LongTokensAreSplitAtTheirLimit) {
    // An integer token reads at most 32 characters; the rest is the next number.
    const std::string label = std::string(32, '0') + "7";
    auto loci = readLoci(label + " 100 140 2\n", 1);
    expectLocus(loci[0], 0, 7, 100, 140, 2);
    // A real token reads up to 64 characters, so a 40-character rate is one number.
    const std::string rate = "0." + std::string(36, '0') + "12";
    loci = readLoci("1 100 140 2 " + rate + "\n", 1);
    EXPECT_EQ(loci[0].LocusMutationRate, 1.2e-37);
}

TEST(MsatParamFile, ReopeningReadsFromTheTop) {
    TempDir dir;
    dir.write("p.txt", "1 100 140 2 0.1\n2 180 220 4 0.2\n");
    MsatParamReader reader(dir.file("p.txt"));
    reader.open();
    EXPECT_EQ(reader.readLocus(1).LocusLabel, 1);
    EXPECT_EQ(reader.readLocus(2).LocusLabel, 2);
    reader.open();
    EXPECT_EQ(reader.readLocus(1).LocusLabel, 1);

    std::filesystem::remove(dir.file("p.txt"));
    try {
        reader.open();
        FAIL() << "a removed file must not be read";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
        EXPECT_EQ(e.detail(), dir.file("p.txt"));
    }
}

TEST(MsatParamFile, LociThatCannotBeSimulatedAreRefused) {
    auto refused = [](MsatLocusParams p) -> std::string {
        try {
            checkLocusParams(p, 3, "dir/p.txt");
        } catch (const RunError& e) {
            EXPECT_EQ(e.detail(), "dir/p.txt");
            return e.text();
        }
        return "";
    };
    MsatLocusParams p{1, 100, 140, 2, 0.001};
    EXPECT_EQ(refused(p), "");
    p.MaxSize = 100; // an empty range is valid
    EXPECT_EQ(refused(p), "");
    p.RepeatUnit = 0; // left to the size draw ("Division by zero")
    EXPECT_EQ(refused(p), "");

    p = {1, 100, 99, 2, 0.001};
    EXPECT_EQ(refused(p), "Locus 3: MaxSize (99) is below MinSize (100)");
    p = {1, 100, 140, -2, 0.001};
    EXPECT_EQ(refused(p), "Locus 3: RepeatUnit (-2) is negative");
    p = {1, 100, 140, 2, 1.5};
    EXPECT_EQ(refused(p), "Locus 3: LocusMutationRate is outside [0, 1]");
    p.LocusMutationRate = -0.1;
    EXPECT_EQ(refused(p), "Locus 3: LocusMutationRate is outside [0, 1]");
    p.LocusMutationRate = 1;
    EXPECT_EQ(refused(p), "");
    p = {1, -2000000000, 2000000000, 2, 0.1};
    EXPECT_EQ(refused(p), "Locus 3: the size range MinSize .. MaxSize is wider than 2147483647");
}

namespace {

// What reading `loci` loci gives: the values, or the error and the locus it stopped at.
std::string readingOf(MsatParamReader& reader, int32_t loci) {
    std::string out;
    try {
        reader.open();
        for (int32_t l = 1; l <= loci; ++l) {
            const MsatLocusParams p = reader.readLocus(l);
            out += std::to_string(p.LocusLabel) + " " + std::to_string(p.MinSize) + " " +
                   std::to_string(p.MaxSize) + " " + std::to_string(p.RepeatUnit) + " " +
                   std::to_string(p.LocusMutationRate) + ";";
        }
    } catch (const RunError& e) {
        out += "error " + e.text() + " | " + e.detail();
    }
    return out;
}

// A parameter file of random lines: mostly five numbers, sometimes fewer, more, a bad token,
// a long token, blank lines and every kind of line end.
std::string randomParamText(std::mt19937& gen) {
    static const char* const kTokens[] = {"1",  "100", "140", "2",  "0.0005", "5E-4",
                                          "-3", "abc", "1a",  ".5", "0,01",   "99999999999"};
    static const char* const kSeparators[] = {" ", "\t", "  ", "\n", "\r\n", "\r"};
    std::string text;
    const int lines = static_cast<int>(gen() % 12);
    for (int i = 0; i < lines; ++i) {
        const int count = static_cast<int>(gen() % 8);
        for (int t = 0; t < count; ++t) {
            if (gen() % 40 == 0)
                text += std::string(70, '7');
            else
                text += kTokens[gen() % (gen() % 4 == 0 ? 12 : 5)];
            text += kSeparators[gen() % (gen() % 3 == 0 ? 6 : 3)];
        }
        text += kSeparators[3 + gen() % 3];
    }
    return text;
}

} // namespace

// A reader kept open across simulations, as a run keeps it, against a fresh reading of the
// file at every simulation, while the file is edited between simulations: bytes changed at
// random (mostly near the front, where the loci are read), cut, extended, rewritten with the
// same size, rewritten whole, removed and restored.
TEST(MsatParamFile, AReaderKeptOverARunSeesWhatAFreshReadingSees) {
    std::mt19937 gen(2024);
    TempDir dir;
    const std::string path = dir.file("p.txt");
    for (int runIndex = 0; runIndex < 60; ++runIndex) {
        std::string text = randomParamText(gen);
        dir.write("p.txt", text);
        const int32_t loci = static_cast<int32_t>(gen() % 6);
        MsatParamReader kept(path);
        for (int s = 0; s < 30; ++s) {
            switch (gen() % 8) {
            case 0: // one byte changed
                if (!text.empty()) {
                    const size_t at =
                        gen() % 2 ? gen() % std::min<size_t>(text.size(), 40) : gen() % text.size();
                    text[at] = "0123456789 \n\r\t.eEx-"[gen() % 20];
                }
                break;
            case 1: // cut
                text.resize(text.empty() ? 0 : gen() % text.size());
                break;
            case 2: // extended
                text += randomParamText(gen);
                break;
            case 3: // rewritten whole
                text = randomParamText(gen);
                break;
            case 4: // removed for one simulation
                std::filesystem::remove(path);
                EXPECT_EQ(readingOf(kept, loci), "error File not found | " + path);
                break;
            default: // unchanged
                break;
            }
            dir.write("p.txt", text);
            MsatParamReader fresh(path);
            const std::string want = readingOf(fresh, loci);
            ASSERT_EQ(readingOf(kept, loci), want)
                << "run " << runIndex << ", simulation " << s << ", file \"" << text << "\"";
        }
        // Reading more loci than before goes on into the part of the file not checked.
        MsatParamReader fresh(path);
        EXPECT_EQ(readingOf(kept, loci + 3), readingOf(fresh, loci + 3));
    }
}

// The file is read in blocks: loci that straddle the boundaries of the blocks read as they do
// at the start of the file. Blanks and line ends before the first number change nothing.
TEST(MsatParamFile, LociAcrossReadBlocksReadAsAtTheStart) {
    std::mt19937 gen(77);
    TempDir dir;
    const std::string path = dir.file("p.txt");
    for (int round = 0; round < 200; ++round) {
        const std::string text = randomParamText(gen);
        const int32_t loci = static_cast<int32_t>(gen() % 8);
        dir.write("p.txt", text);
        MsatParamReader plain(path);
        const std::string want = readingOf(plain, loci);
        std::string padding;
        const size_t length = 16384 * (1 + gen() % 3) - gen() % 300;
        for (size_t i = 0; i < length; ++i)
            padding += " \t\n\r"[gen() % 4];
        dir.write("p.txt", padding + text);
        MsatParamReader padded(path);
        ASSERT_EQ(readingOf(padded, loci), want) << "round " << round;
        ASSERT_EQ(readingOf(padded, loci), want) << "round " << round << ", read again";
    }
}
