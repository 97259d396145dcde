// The microsatellite parameter file: strict numbers, numbers across line ends, the rest of
// a line skipped, missing numbers at the end read as 0, and the checks of a locus.
#include "msat/msat_params.h"
#include "base/run_error.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
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
        EXPECT_EQ(e.text(), "Invalid numeric input") << bad;
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
        EXPECT_EQ(e.text(), "File not found");
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
