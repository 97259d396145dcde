// Bad values in every edit box (empty, letters, huge, negative, hexadecimal, exponents),
// each through a whole run under a watchdog: the run uses the lenient conversion of the text
// (checked in the log it writes), refuses it with a warning, or ends with a standard error;
// it never crashes, hangs or runs on a value it should not.
#include "base/memory_check.h"
#include "base/run_error.h"
#include "fault/fault_support.h"
#include "support/temp_dir.h"

#include <functional>
#include <gtest/gtest.h>

using namespace quenlith;
using namespace quenlith::testing;

namespace {

enum class Kind { Runs, Warning, Error };

struct Case {
    std::string what;
    std::function<void(FormValues&)> set;
    Kind kind;
    std::vector<std::string> expected; // log lines of a run; else the warning or error text
    double bytes = 0; // a run this large would really start on a machine that can hold it
};

// A small DNA run; the cases change one control (and what makes it read).
FormValues baseForm(const TempDir& dir) {
    FormValues f;
    f.WorkDir = dir.str();
    f.edtSampleSize = "4";
    f.edtPopulationSize = "30";
    f.edtSeqLength = "20";
    f.edtMutationRate = "0.001";
    return f;
}

std::function<void(FormValues&)> text(std::string FormValues::*field, std::string value,
                                      std::function<void(FormValues&)> also = {}) {
    return [=](FormValues& f) {
        f.*field = value;
        if (also) also(f);
    };
}

const std::string kSizes = "Please insert Sample and Population Sizes";
const std::string kZeroRate = "Mutation rate:  0.00000000000000E+0000";
const std::string kTiny = "0." + std::string(400, '0') + "1";

void multiple(FormValues& f) {
    f.chkMultipleSims = true;
}
void noSimulation(FormValues& f) {
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "0";
}
void f81(FormValues& f) {
    f.model = SubstitutionModel::F81;
}
void k2p(FormValues& f) {
    f.model = SubstitutionModel::K2P;
}
void invariable(FormValues& f) {
    f.chkInvarSites = true;
}
void gamma(FormValues& f) {
    f.chkShapeParameter = true;
}
void msats(FormValues& f) {
    f.chkMsats = true;
}
void varRep(FormValues& f) {
    f.chkVarRepSuc = true;
}
void fluctuating(FormValues& f) {
    f.chkFluctuatingN = true;
}

std::vector<Case> cases() {
    using F = FormValues;
    const std::string samples = "Number of samples: ";
    const std::string pop = "Population size: ";
    return {
        // Sample size: decimal or hexadecimal leading digits; below 2 refused; too large for
        // memory ends with "Out of memory".
        {"k empty", text(&F::edtSampleSize, ""), Kind::Warning, {kSizes}},
        {"k letters", text(&F::edtSampleSize, "abc"), Kind::Warning, {kSizes}},
        {"k negative", text(&F::edtSampleSize, "-5"), Kind::Warning, {kSizes}},
        {"k hex $", text(&F::edtSampleSize, "$1F"), Kind::Runs, {samples + "31"}},
        {"k hex 0x", text(&F::edtSampleSize, "0x10"), Kind::Runs, {samples + "16"}},
        {"k digits then letters", text(&F::edtSampleSize, "  12abc"), Kind::Runs, {samples + "12"}},
        {"k exponent",
         text(&F::edtSampleSize, "1e3"),
         Kind::Warning,
         {"Sample Size (k) must be at least 2"}},
        {"k huge",
         text(&F::edtSampleSize, "99999999999", [](F& f) { f.edtSeqLength = "1000"; }),
         Kind::Error,
         {"Out of memory"},
         1e12},
        {"k at the 32-bit limit",
         text(&F::edtSampleSize, "2147483647", [](F& f) { f.edtSeqLength = "1000"; }),
         Kind::Error,
         {"Out of memory"},
         2e12},
        {"k at the 32-bit limit, no sites",
         text(&F::edtSampleSize, "2147483647", [](F& f) { f.edtSeqLength = "0"; }),
         Kind::Error,
         {"Out of memory"},
         3.4e10},
        // Population size.
        {"N empty", text(&F::edtPopulationSize, ""), Kind::Warning, {kSizes}},
        {"N letters", text(&F::edtPopulationSize, "abc"), Kind::Warning, {kSizes}},
        {"N negative", text(&F::edtPopulationSize, "-1"), Kind::Warning, {kSizes}},
        {"N hex", text(&F::edtPopulationSize, "$20"), Kind::Runs, {pop + "32"}},
        {"N exponent", text(&F::edtPopulationSize, "2e3"), Kind::Runs, {pop + "2"}},
        {"N huge",
         text(&F::edtPopulationSize, "99999999999", noSimulation),
         Kind::Runs,
         {pop + "999999999"}},
        {"N at the limit, diploid",
         text(&F::edtPopulationSize, "0x7FFFFFFF", [](F& f) { f.chkDiploid = true; }),
         Kind::Warning,
         {"Population Size (N) is too large"}},
        // Number of simulations.
        {"sims empty",
         text(&F::edtNumberSimulations, "", multiple),
         Kind::Runs,
         {"Number of simulations: 0"}},
        {"sims letters",
         text(&F::edtNumberSimulations, "abc", multiple),
         Kind::Runs,
         {"Number of simulations: 0"}},
        {"sims negative",
         text(&F::edtNumberSimulations, "-1", multiple),
         Kind::Error,
         {"Range check error"}},
        {"sims hex",
         text(&F::edtNumberSimulations, "$3", multiple),
         Kind::Runs,
         {"Number of simulations: 3"}},
        {"sims exponent",
         text(&F::edtNumberSimulations, "1e2", multiple),
         Kind::Runs,
         {"Number of simulations: 1"}},
        {"sims at the 32-bit limit",
         text(&F::edtNumberSimulations, "2147483647", multiple),
         Kind::Error,
         {"Out of memory"},
         6.8e10},
        // Sequence length.
        {"L empty", text(&F::edtSeqLength, ""), Kind::Runs, {"Sequence Length: 0"}},
        {"L letters", text(&F::edtSeqLength, "abc"), Kind::Runs, {"Sequence Length: 0"}},
        {"L negative", text(&F::edtSeqLength, "-5"), Kind::Error, {"Range check error"}},
        {"L hex", text(&F::edtSeqLength, "$10"), Kind::Runs, {"Sequence Length: 16"}},
        {"L exponent", text(&F::edtSeqLength, "1e3"), Kind::Runs, {"Sequence Length: 1"}},
        {"L too large for memory",
         text(&F::edtSeqLength, "99999999", [](F& f) { f.edtSampleSize = "100000"; }),
         Kind::Error,
         {"Out of memory"},
         1e13},
        // Mutation rate (a real: no hexadecimal, exponents and long forms allowed).
        {"u empty", text(&F::edtMutationRate, ""), Kind::Runs, {kZeroRate}},
        {"u letters", text(&F::edtMutationRate, "abc"), Kind::Runs, {kZeroRate}},
        {"u hex", text(&F::edtMutationRate, "0x10"), Kind::Runs, {kZeroRate}},
        {"u exponent",
         text(&F::edtMutationRate, "1e-3xyz"),
         Kind::Runs,
         {"Mutation rate:  1.00000000000000E-0003"}},
        {"u below the smallest double", text(&F::edtMutationRate, kTiny), Kind::Runs, {kZeroRate}},
        {"u one",
         text(&F::edtMutationRate, "1"),
         Kind::Runs,
         {"Mutation rate:  1.00000000000000E+0000"}},
        {"u negative",
         text(&F::edtMutationRate, "-5"),
         Kind::Warning,
         {"The mutation rate (u) must be between 0 and 1"}},
        {"u above 1",
         text(&F::edtMutationRate, "2"),
         Kind::Warning,
         {"The mutation rate (u) must be between 0 and 1"}},
        {"u overflowing",
         text(&F::edtMutationRate, "1" + std::string(400, '0') + "e-10"),
         Kind::Warning,
         {"The mutation rate (u) must be between 0 and 1"}},
        // Base frequencies.
        {"freq A empty",
         text(&F::edtFreqA, "", f81),
         Kind::Runs,
         {"A:C:G:T = 0.00:0.25:0.25:0.50"}},
        {"freq A exponent",
         text(&F::edtFreqA, ".5e-1", f81),
         Kind::Runs,
         {"A:C:G:T = 0.05:0.25:0.25:0.45"}},
        {"freq G fills up to 1",
         text(&F::edtFreqG, "0.5", f81),
         Kind::Runs,
         {"A:C:G:T = 0.25:0.25:0.50:0.00"}},
        {"freq A negative",
         text(&F::edtFreqA, "-0.1", f81),
         Kind::Warning,
         {"The base frequencies must not be negative and A + C + G must not exceed 1"}},
        {"freq A too large",
         text(&F::edtFreqA, "1e0", f81),
         Kind::Warning,
         {"The base frequencies must not be negative and A + C + G must not exceed 1"}},
        {"freq C overflowing",
         text(&F::edtFreqC, "1e400", f81),
         Kind::Warning,
         {"The base frequencies must not be negative and A + C + G must not exceed 1"}},
        // Ti:Tv, up to the largest value whose draw range fits 32 bits.
        {"TiTv empty", text(&F::edtTiTv, "", k2p), Kind::Runs, {"TiTv ratio: 0.00"}},
        {"TiTv letters", text(&F::edtTiTv, "abc", k2p), Kind::Runs, {"TiTv ratio: 0.00"}},
        {"TiTv at the limit", text(&F::edtTiTv, "21474834", k2p), Kind::Runs, {"TiTv ratio: 2147"}},
        {"TiTv at the limit, HKY85",
         text(&F::edtTiTv, "21474834", [](F& f) { f.model = SubstitutionModel::HKY85; }),
         Kind::Runs,
         {"TiTv ratio: 2147"}},
        {"TiTv past the limit",
         text(&F::edtTiTv, "21474835", k2p),
         Kind::Warning,
         {"The Ti:Tv ratio is too large"}},
        {"TiTv overflowing",
         text(&F::edtTiTv, "1e400", k2p),
         Kind::Warning,
         {"The Ti:Tv ratio is too large"}},
        {"TiTv overflowing, long form",
         text(&F::edtTiTv, "1" + std::string(400, '0') + "e-10", k2p),
         Kind::Warning,
         {"The Ti:Tv ratio is too large"}},
        {"TiTv negative",
         text(&F::edtTiTv, "-1", k2p),
         Kind::Warning,
         {"The Ti:Tv ratio must not be negative"}},
        // Proportion of invariable sites.
        {"I empty", text(&F::edtI, "", invariable), Kind::Runs, {"Sequence Length: 20"}},
        {"I exponent", text(&F::edtI, "1e-1", invariable), Kind::Runs, {"Sequence Length: 18"}},
        {"I one", text(&F::edtI, "1", invariable), Kind::Runs, {"Sequence Length: 0"}},
        {"I negative",
         text(&F::edtI, "-0.1", invariable),
         Kind::Warning,
         {"The proportion of invariable sites must be between 0 and 1"}},
        {"I above 1",
         text(&F::edtI, "1.5", invariable),
         Kind::Warning,
         {"The proportion of invariable sites must be between 0 and 1"}},
        // Gamma shape: above 0, at most 500.
        {"alpha empty",
         text(&F::edtAlpha, "", gamma),
         Kind::Warning,
         {"The gamma shape parameter must be greater than 0"}},
        {"alpha hex",
         text(&F::edtAlpha, "0x2", gamma),
         Kind::Warning,
         {"The gamma shape parameter must be greater than 0"}},
        {"alpha negative",
         text(&F::edtAlpha, "-1", gamma),
         Kind::Warning,
         {"The gamma shape parameter must be greater than 0"}},
        {"alpha fraction",
         text(&F::edtAlpha, "2.5", gamma),
         Kind::Runs,
         {"Among-site rate variation shape parameter: 2.500"}},
        {"alpha small",
         text(&F::edtAlpha, "1e-3", gamma),
         Kind::Runs,
         {"Among-site rate variation shape parameter: 0.001"}},
        {"alpha at the limit",
         text(&F::edtAlpha, "500", gamma),
         Kind::Runs,
         {"Among-site rate variation shape parameter: 500.000"}},
        {"alpha past the limit",
         text(&F::edtAlpha, "501", gamma),
         Kind::Warning,
         {"The gamma shape parameter must not exceed 500"}},
        {"alpha huge",
         text(&F::edtAlpha, "1e300", gamma),
         Kind::Warning,
         {"The gamma shape parameter must not exceed 500"}},
        // Number of loci.
        {"loci empty", text(&F::edtNumLoci, "", msats), Kind::Runs, {"Number of loci: 0"}},
        {"loci letters", text(&F::edtNumLoci, "abc", msats), Kind::Runs, {"Number of loci: 0"}},
        {"loci hex", text(&F::edtNumLoci, "$2", msats), Kind::Runs, {"Number of loci: 2"}},
        {"loci negative",
         text(&F::edtNumLoci, "-1", msats),
         Kind::Warning,
         {"Number of loci must be 0 or more"}},
        {"loci huge",
         text(&F::edtNumLoci, "99999999999", msats),
         Kind::Error,
         {"Out of memory"},
         4e10},
        // Variance in reproductive success and mean number of offspring.
        {"Vk empty", text(&F::edtVarRepSuc, "", varRep), Kind::Runs, {pop + "29"}},
        {"Vk hex", text(&F::edtVarRepSuc, "$1", varRep), Kind::Runs, {pop + "29"}},
        {"Vk negative",
         text(&F::edtVarRepSuc, "-2", varRep),
         Kind::Warning,
         {"The variance in reproductive success must not be negative"}},
        {"Vk overflowing",
         text(&F::edtVarRepSuc, "1e400", varRep),
         Kind::Warning,
         {"The effective population size is below 1"}},
        {"mean offspring empty",
         text(&F::edtMeanOffsp, "", varRep),
         Kind::Warning,
         {"The effective population size is below 1"}},
        {"mean offspring negative",
         text(&F::edtMeanOffsp, "-3", varRep),
         Kind::Warning,
         {"The mean number of offspring must not be negative"}},
        {"mean offspring huge",
         text(&F::edtMeanOffsp, "99999999999", varRep),
         Kind::Warning,
         {"Population Size (N) is too large"}},
        // Fluctuating population size.
        {"growth start negative",
         text(&F::edtGrowthStart, "-5", fluctuating),
         Kind::Runs,
         {"Population growth starts at generation: -5"}},
        {"growth start hex",
         text(&F::edtGrowthStart, "$10", fluctuating),
         Kind::Runs,
         {"Population growth starts at generation: 16"}},
        {"growth end letters",
         text(&F::edtGrowthEnd, "abc", fluctuating),
         Kind::Runs,
         {"Population growth ends at generation: 0"}},
        {"growth end huge",
         text(&F::edtGrowthEnd, "99999999999", fluctuating),
         Kind::Runs,
         {"Population growth ends at generation: 999999999"}},
        {"change empty",
         text(&F::edtChangeN, "", fluctuating),
         Kind::Runs,
         {"Population size changes by 0.00% each generation"}},
        {"change below the smallest double",
         text(&F::edtChangeN, kTiny, fluctuating),
         Kind::Runs,
         {"Population size changes by 0.00% each generation"}},
        {"change down to nothing",
         text(&F::edtChangeN, "-100", fluctuating),
         Kind::Runs,
         {"Population size changes by -100.00% each generation"}},
        {"change below -100 %",
         text(&F::edtChangeN, "-101", fluctuating),
         Kind::Warning,
         {"The population size change per generation must not be below -100 %"}},
        {"change overflowing down",
         text(&F::edtChangeN, "-1e400", fluctuating),
         Kind::Warning,
         {"The population size change per generation must not be below -100 %"}},
        {"change overflowing up, after the genealogy",
         text(&F::edtChangeN, "1e400",
              [](F& f) {
                  fluctuating(f);
                  f.edtGrowthStart = "100000";
                  f.edtGrowthEnd = "200000";
              }),
         Kind::Runs,
         {"Population size changes by inf% each generation"}},
        {"change large, a few generations",
         text(&F::edtChangeN, "1e3",
              [](F& f) {
                  fluctuating(f);
                  f.edtGrowthEnd = "5";
              }),
         Kind::Runs,
         {"Final population Size: 439230"}},
    };
}

} // namespace

TEST(EditBoxFault, EveryBoxWithBadValues) {
    const double memory = static_cast<double>(memoryLimitBytes());
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        if (c.bytes > 0 && memory >= c.bytes) {
            std::printf("skipped \"%s\": this machine could hold the run (%.3g bytes)\n",
                        c.what.c_str(), c.bytes);
            continue;
        }
        TempDir dir;
        dir.write("msatparam.txt", "1 100 140 2 0.001\r\n2 180 220 4 0.001\r\n");
        FormValues f = baseForm(dir);
        c.set(f);
        try {
            const RunOutcome out = runGuarded(f, 7);
            if (c.kind == Kind::Warning) {
                EXPECT_EQ(out.status, RunStatus::Rejected);
                EXPECT_EQ(out.warning, c.expected.at(0));
                EXPECT_FALSE(dir.exists("logFile.txt"));
            } else if (c.kind == Kind::Runs) {
                ASSERT_EQ(out.status, RunStatus::Completed) << out.warning;
                const std::string log = dir.read("logFile.txt");
                for (const std::string& line : c.expected)
                    EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << line << "\n" << log;
            } else {
                ADD_FAILURE() << "expected the error " << c.expected.at(0) << ", the run "
                              << (out.status == RunStatus::Rejected ? "was refused: " + out.warning
                                                                    : std::string("completed"));
            }
        } catch (const RunError& e) {
            EXPECT_EQ(c.kind, Kind::Error) << e.text() << ": " << e.detail();
            EXPECT_EQ(e.text(), c.expected.at(0)) << e.detail();
            EXPECT_FALSE(dir.exists("logFile.txt"));
        }
    }
}
