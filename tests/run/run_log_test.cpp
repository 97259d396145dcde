// The run log: its lines, number formats and sections for both data types.
#include "base/run_error.h"
#include "run/run_log.h"
#include "support/temp_dir.h"

#include <ctime>
#include <gtest/gtest.h>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

std::chrono::system_clock::time_point localTime(int year, int month, int day, int h, int m, int s) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = h;
    parts.tm_min = m;
    parts.tm_sec = s;
    parts.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

RunLogValues defaultDnaValues() {
    RunLogValues v;
    v.SampleSize = 50;
    v.PopSize = 10000;
    v.EnteredPopSize = 10000;
    v.MutationRate = 0.0000001;
    v.StartTime = localTime(2024, 3, 9, 8, 5, 7);
    v.EndTime = localTime(2024, 3, 9, 14, 30, 59);
    v.Seed = 2718281828;
    v.SimCount = 1;
    v.SequenceLength = 1000;
    return v;
}

std::string logOf(const FormValues& f, const RunLogValues& v) {
    return runLogText(f, v, localTime(2024, 3, 10, 12, 0, 0));
}

// The lines after "Mutation Parameters", its asterisks and the empty line.
std::string mutationPart(const std::string& log) {
    const std::string mark = "Mutation Parameters\r\n*******************\r\n\r\n";
    return log.substr(log.find(mark) + mark.size());
}

} // namespace

TEST(RunLog, DefaultDnaRunWholeText) {
    EXPECT_EQ(logOf(FormValues{}, defaultDnaValues()),
              "Coalescent Simulations generated with Tolvarin0.2b: LogFile\r\n"
              "************************************************************\r\n"
              "\r\n"
              "2024-03-10\r\n"
              "Started at: 08:05:07\r\n"
              "Finished at: 14:30:59\r\n"
              "Random seed: 2718281828\r\n"
              "\r\n"
              "Coalescent Parameters\r\n"
              "*********************\r\n"
              "\r\n"
              "Population size: 10000\r\n"
              "Number of samples: 50\r\n"
              "Number of simulations: 1\r\n"
              "\r\n"
              "Mutation Parameters\r\n"
              "*******************\r\n"
              "\r\n"
              "Datatype: DNA sequence\r\n"
              "Mutation rate:  1.00000000000000E-0007\r\n"
              "Sequence Length: 1000\r\n"
              "Root sequence generated at random\r\n"
              "Substitution model: JC69\r\n"
              "\r\n"
              "Output Files\r\n"
              "************\r\n"
              "\r\n"
              "Tmrca and diversity indices: outfile.csv\r\n"
              "Newick tree output file: NewickTrees.tre\r\n"
              "Distribution of coalescence times with genealogy length: CoalDistrib.csv\r\n"
              "Distribution of mutation times with genealogy length: MutDistrib.csv\r\n");
}

TEST(RunLog, NumberFormats) {
    EXPECT_EQ(logScientific(0.0000001), " 1.00000000000000E-0007");
    EXPECT_EQ(logScientific(0.0005), " 5.00000000000000E-0004");
    EXPECT_EQ(logScientific(0), " 0.00000000000000E+0000");
    EXPECT_EQ(logScientific(1), " 1.00000000000000E+0000");
    EXPECT_EQ(logScientific(-2.5e-300), "-2.50000000000000E-0300");
    EXPECT_EQ(logScientific(1.0 / 3), " 3.33333333333333E-0001");
    EXPECT_EQ(logScientific(0.0000001).size(), 23u);
    EXPECT_EQ(logFixed(0.25, 2), "0.25");
    EXPECT_EQ(logFixed(1, 3), "1.000");
    EXPECT_EQ(logFixed(0.125, 2), "0.12"); // exact half: printf's rounding
    EXPECT_EQ(logFixed(0.1, 2), "0.10");
    EXPECT_EQ(logFixed(-1.5, 3), "-1.500");
    EXPECT_EQ(logFixed(1e20, 2), "100000000000000000000.00");
}

// The seeded whole runs check the HKY85, F81 and Kimura blocks; here the values they echo.
TEST(RunLog, ModelBlockValues) {
    FormValues f;
    f.model = SubstitutionModel::K2P;
    f.chkInvarSites = true;
    f.edtI = "0.3335";
    f.chkShapeParameter = true;
    f.edtAlpha = "0.5abc";
    const RunLogValues v = defaultDnaValues();
    EXPECT_NE(logOf(f, v).find("Substitution model: Kimura 2-parameter\r\nTiTv ratio: 2.00\r\n"
                               "Proportion of invariable sites: 0.334\r\n"
                               "Among-site rate variation shape parameter: 0.500\r\n\r\n"),
              std::string::npos);
    // The ratio keeps its first four characters.
    for (auto [text, shown] : {std::pair{"10", "10.0"},
                               {"100", "100."},
                               {"123456", "1234"},
                               {"0.125", "0.12"},
                               {"x", "0.00"}}) {
        f.edtTiTv = text;
        EXPECT_NE(logOf(f, v).find(std::string("\r\nTiTv ratio: ") + shown + "\r\n"),
                  std::string::npos)
            << text;
    }
    // A root from a file: its name, and frequencies that were never read.
    f.model = SubstitutionModel::HKY85;
    f.chkInvarSites = f.chkShapeParameter = false;
    f.chkSeqInput = true;
    f.edtSeqFile = "root.fa";
    f.edtTiTv = "2";
    EXPECT_NE(logOf(f, v).find("Root sequence provided in root.fa\r\nSubstitution model: HKY85\r\n"
                               "TiTv ratio: 2.00\r\nA:C:G:T = 0.00:0.00:0.00:0.00\r\n\r\n"),
              std::string::npos);
}

TEST(RunLog, HeadSizesOutputFilesAndDemographics) {
    FormValues f;
    f.chkSeqOut = true;
    f.edtSeqOut = "seqs.nex";
    f.chkFluctuatingN = true;
    f.edtChangeN = "0.1";
    RunLogValues v = defaultDnaValues();
    v.EnteredPopSize = 10000;
    v.PopSize = 21034;
    v.GrowthStart = 0;
    v.GrowthEnd = 500;
    const std::string log = logOf(f, v);
    EXPECT_NE(log.find("\r\n\r\nStarting population Size: 10000\r\nFinal population Size: "
                       "21034\r\nNumber of samples: 50\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("Newick tree output file: NewickTrees.tre\r\nSequence data output file: "
                       "seqs.nex\r\nDistribution of coalescence"),
              std::string::npos);
    EXPECT_TRUE(log.ends_with("Distribution of mutation times with genealogy length: "
                              "MutDistrib.csv\r\n\r\nDemographics\r\n************\r\n\r\n"
                              "Population growth starts at generation: 0\r\n"
                              "Population growth ends at generation: 500\r\n"
                              "Population size changes by 0.10% each generation\r\n"))
        << log;
    f.chkFluctuatingN = false;
    f.chkVarRepSuc = true;
    f.edtVarRepSuc = "1";
    EXPECT_TRUE(logOf(f, v).ends_with("MutDistrib.csv\r\n\r\nDemographics\r\n************\r\n"
                                      "\r\nVariance in reproductive success: 1.000\r\n"));
    EXPECT_NE(logOf(f, v).find("\r\nPopulation size: 21034\r\n"), std::string::npos);
}

TEST(RunLog, MicrosatelliteSection) {
    FormValues f;
    f.chkMsats = true;
    f.edtNumLoci = "2";
    f.msatModel = MsatModel::Stepwise;
    f.chkMSatOut = true;
    RunLogValues v;
    v.SampleSize = 50;
    v.PopSize = 20000;
    v.EnteredPopSize = 10000;
    v.SimCount = 3;
    v.loci = {{1, 100, 140, 2, 0.0005}, {12345, -5, 123456, 1234567890, 1}};
    const std::string log = logOf(f, v);
    EXPECT_NE(log.find("Population size: 20000\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Mutation rate"), std::string::npos);
    EXPECT_EQ(log.find("Sequence Length"), std::string::npos);
    EXPECT_EQ(mutationPart(log),
              "Datatype: Microsatellites\r\n"
              "Number of loci: 2\r\n"
              "Mutation model: Stepwise\r\n"
              "\r\n"
              "Locus #   Size Range   Repeat Type      Mutation Rate\r\n"
              "*******   **********   ***********      *************\r\n"
              "  1       100  140       2            5.00000000000000E-0004\r\n"
              "12345        -51234561234567890            1.00000000000000E+0000\r\n"
              "Output Files\r\n"
              "************\r\n"
              "\r\n"
              "Tmrca and diversity indices: outfile.csv\r\n"
              "Newick tree output file: NewickTrees.tre\r\n"
              "Microsatellite profiles generated: MsatData.csv\r\n"
              "Distribution of coalescence times with genealogy length: CoalDistrib.csv\r\n"
              "Distribution of mutation times with genealogy length: MutDistrib.csv\r\n");
    f.msatModel = MsatModel::InfiniteAlleles;
    EXPECT_NE(logOf(f, v).find("\r\nMutation model: infinite allele\r\n"), std::string::npos);
    f.msatModel = MsatModel::RandomAlleles;
    f.chkMSatOut = false;
    EXPECT_NE(logOf(f, v).find("\r\nMutation model: Random allele\r\n"), std::string::npos);
    EXPECT_EQ(logOf(f, v).find("Microsatellite profiles"), std::string::npos);
}

TEST(RunLog, WrittenToTheLogFileOrFails) {
    TempDir dir;
    FormValues f;
    f.WorkDir = dir.str();
    f.edtLogFile = "run.log";
    writeRunLog(f, defaultDnaValues());
    const std::string text = dir.read("run.log");
    EXPECT_TRUE(text.starts_with("Coalescent Simulations generated with Tolvarin0.2b"));
    EXPECT_TRUE(text.ends_with("MutDistrib.csv\r\n"));
    f.WorkDir = dir.file("missing");
    EXPECT_THROW(writeRunLog(f, defaultDnaValues()), RunError);
}

// The seed line follows the end time, as a plain decimal integer over the whole 64-bit range.
TEST(RunLog, SeedLineFollowsTheEndTime) {
    for (const uint64_t seed :
         {uint64_t{0}, uint64_t{4294967295u}, uint64_t{18446744073709551615u}}) {
        RunLogValues v = defaultDnaValues();
        v.Seed = seed;
        const std::string log = logOf(FormValues{}, v);
        EXPECT_NE(log.find("Finished at: 14:30:59\r\nRandom seed: " + std::to_string(seed) +
                           "\r\n\r\nCoalescent Parameters\r\n"),
                  std::string::npos)
            << seed;
    }
}
