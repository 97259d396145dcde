// Reading RunParameters from the controls' texts, and the checks that refuse a run.
#include "run/run_parameters.h"

#include <gtest/gtest.h>

using namespace quenlith;

namespace {

std::string warningFor(FormValues f) {
    return readRunParameters(f).warning;
}

} // namespace

TEST(RunParameters, DefaultsOfTheWindow) {
    const ReadParameters r = readRunParameters(FormValues{});
    ASSERT_EQ(r.warning, "");
    const RunParameters& p = r.params;
    EXPECT_EQ(p.SampleSize, 50);
    EXPECT_EQ(p.PopSize, 10000);
    EXPECT_EQ(p.SimCount, 1);
    EXPECT_EQ(p.SequenceLength, 1000);
    EXPECT_EQ(p.MutationRate, 0.0000001L);
    EXPECT_EQ(p.GrowthStart, 0);
    EXPECT_EQ(p.GrowthEnd, 0); // read only with the fluctuating size
    EXPECT_DOUBLE_EQ(p.ChangePercent, 0.1);
    EXPECT_TRUE(p.ScatterMut);
    EXPECT_TRUE(p.SegSites);
    EXPECT_EQ(p.Format, OutputFormat::Nexus);
    EXPECT_EQ(p.WorkDir, ".");
}

TEST(RunParameters, LenientTextsAndConditionalFields) {
    FormValues f;
    f.edtSampleSize = "25 samples";
    f.edtNumberSimulations = "7"; // ignored while unchecked
    f.edtGrowthEnd = "900";
    EXPECT_EQ(readRunParameters(f).params.SampleSize, 25);
    EXPECT_EQ(readRunParameters(f).params.SimCount, 1);
    f.chkMultipleSims = true;
    f.chkFluctuatingN = true;
    EXPECT_EQ(readRunParameters(f).params.SimCount, 7);
    EXPECT_EQ(readRunParameters(f).params.GrowthEnd, 900);
    f.edtNumberSimulations = "0";
    EXPECT_EQ(readRunParameters(f).warning, "");
    f.edtNumberSimulations = "-1"; // refused later, when the tables are made
    EXPECT_EQ(readRunParameters(f).warning, "");
}

TEST(RunParameters, EffectiveSizeFromReproductiveSuccess) {
    FormValues f;
    f.chkVarRepSuc = true;
    ReadParameters r = readRunParameters(f);
    EXPECT_EQ(r.params.PopSize, 6666); // 19999 / 1.5 / 2
    f.chkDiploid = true;
    r = readRunParameters(f);
    EXPECT_EQ(r.params.PopSize, 13332);
    EXPECT_NEAR(r.params.EffectiveSize, 13332.67, 0.01);
    f.edtMeanOffsp = "0";
    EXPECT_EQ(warningFor(f), "The effective population size is below 1");
    f.edtMeanOffsp = "1";
    f.edtVarRepSuc = "0"; // zero denominator
    EXPECT_EQ(warningFor(f), "The effective population size is below 1");
    f.edtMeanOffsp = "2";
    f.edtVarRepSuc = "1";
    f.edtPopulationSize = "2000000000"; // N * mean - 1 leaves the 32-bit range
    EXPECT_EQ(warningFor(f), "Population Size (N) is too large");
}

TEST(RunParameters, RefusedRuns) {
    FormValues f;
    f.edtSampleSize = "";
    EXPECT_EQ(warningFor(f), "Please insert Sample and Population Sizes");
    f.edtSampleSize = "-3";
    EXPECT_EQ(warningFor(f), "Please insert Sample and Population Sizes");
    f.edtSampleSize = "10";
    f.edtPopulationSize = "abc";
    EXPECT_EQ(warningFor(f), "Please insert Sample and Population Sizes");
    f = FormValues{};
    f.edtSampleSize = "1";
    EXPECT_EQ(warningFor(f), "Sample Size (k) must be at least 2");

    f = FormValues{};
    f.chkDiploid = true;
    f.edtPopulationSize = "1073741824";
    EXPECT_EQ(warningFor(f), "Population Size (N) is too large");
    f.chkDiploid = false;
    EXPECT_EQ(warningFor(f), "");
    f.chkMsats = true;
    EXPECT_EQ(warningFor(f), "Population Size (N) is too large");
    f.edtPopulationSize = "100";
    f.edtNumLoci = "-2";
    EXPECT_EQ(warningFor(f), "Number of loci must be 0 or more");
    f.edtMutationRate = "5"; // not read on the microsatellite path
    f.edtNumLoci = "2";
    EXPECT_EQ(warningFor(f), "");
}

TEST(RunParameters, ValuesThatCannotBeSimulated) {
    FormValues f;
    f.edtMutationRate = "-1e-7";
    EXPECT_NE(warningFor(f).find("mutation rate"), std::string::npos);
    f.edtMutationRate = "1.5";
    EXPECT_NE(warningFor(f).find("mutation rate"), std::string::npos);
    f = FormValues{};
    f.chkShapeParameter = true;
    f.edtAlpha = "0";
    EXPECT_NE(warningFor(f).find("gamma shape"), std::string::npos);
    f.chkShapeParameter = false; // not read when unchecked
    EXPECT_EQ(warningFor(f), "");
    f = FormValues{};
    f.chkInvarSites = true;
    f.edtI = "1.2";
    EXPECT_NE(warningFor(f).find("invariable"), std::string::npos);
    f.edtI = "1";
    EXPECT_EQ(warningFor(f), "");

    f = FormValues{};
    f.model = SubstitutionModel::F81;
    f.edtFreqA = "0.1";
    f.edtFreqC = "0.1";
    f.edtFreqG = "0.8"; // sums to 1 + 5e-20 in binary: accepted
    EXPECT_EQ(warningFor(f), "");
    f.edtFreqG = "0.81";
    EXPECT_NE(warningFor(f).find("base frequencies"), std::string::npos);
    f.edtFreqG = "-0.1";
    EXPECT_NE(warningFor(f).find("base frequencies"), std::string::npos);
    f.model = SubstitutionModel::K2P; // frequencies not used
    EXPECT_EQ(warningFor(f), "");
    f.edtTiTv = "-2";
    EXPECT_NE(warningFor(f).find("Ti:Tv"), std::string::npos);
    f.model = SubstitutionModel::JC69;
    EXPECT_EQ(warningFor(f), "");

    f = FormValues{};
    f.chkFluctuatingN = true;
    f.edtChangeN = "-100.5";
    EXPECT_NE(warningFor(f).find("change per generation"), std::string::npos);
    f.edtChangeN = "-100";
    EXPECT_EQ(warningFor(f), "");
}
