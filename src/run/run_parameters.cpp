#include "run/run_parameters.h"
#include "base/limits.h"

#include "base/convert.h"
#include "genealogy/genealogy.h"
#include "run/pipeline_settings.h"

#include <algorithm>
#include <cmath>

namespace quenlith {

namespace {

constexpr int32_t kLargestDoublable = 1073741823;
// Largest Ti:Tv whose Trunc(100 R) + 200 stays in the 32-bit draw range.
constexpr double kLargestTiTv = 21474834.0;
// The gamma draw multiplies one uniform per whole unit of the shape, in double precision.
// The product of up to 500 of them stays far above the smallest double (about e^-745), where
// the draw would turn infinite, and the draws per generation stay few.
constexpr double kLargestGammaShape = 500;

std::string checkDnaValues(const RunParameters& p) {
    if (!(p.MutationRate >= 0 && p.MutationRate <= 1))
        return "The mutation rate (u) must be between 0 and 1";
    if (p.InvarSites && !(p.InvariableFraction >= 0 && p.InvariableFraction <= 1))
        return "The proportion of invariable sites must be between 0 and 1";
    if (p.ShapeParameter && !(p.GammaShape > 0))
        return "The gamma shape parameter must be greater than 0";
    if (p.ShapeParameter && !(p.GammaShape <= kLargestGammaShape))
        return "The gamma shape parameter must not exceed 500";
    const bool usesFrequencies =
        p.Model == SubstitutionModel::F81 || p.Model == SubstitutionModel::HKY85;
    if (usesFrequencies) {
        const long double sum = static_cast<long double>(p.FreqA) + p.FreqC + p.FreqG;
        if (!(p.FreqA >= 0 && p.FreqC >= 0 && p.FreqG >= 0) || !(sum <= 1 + 1e-9L))
            return "The base frequencies must not be negative and A + C + G must not exceed 1";
    }
    const bool usesRatio = p.Model == SubstitutionModel::K2P || p.Model == SubstitutionModel::HKY85;
    if (usesRatio) {
        if (!(p.TiTv >= 0)) return "The Ti:Tv ratio must not be negative";
        if (!(p.TiTv <= kLargestTiTv)) return "The Ti:Tv ratio is too large";
    }
    return {};
}

// The fluctuating size is held in 32 bits. A genealogy of k lineages merges at most one pair
// a generation, so it certainly runs through generation k - 2; a size that grows past the
// 32-bit range by then cannot be simulated as asked, and the run would end, hours later,
// past the last generation. Such a growth is refused before the run. (Later in a genealogy,
// which may have ended by then, the size stops at 2147483647.)
std::string checkGrowth(const RunParameters& p) {
    if (!p.FluctuatingN || !(p.ChangePercent > 0)) return {};
    // Every microsatellite locus and a diploid DNA run live in 2N gene copies.
    int32_t n = p.Msats || p.Diploid ? 2 * p.PopSize : p.PopSize;
    const int64_t last = std::min<int64_t>(int64_t{p.SampleSize} - 2, int64_t{p.GrowthEnd} - 1);
    for (int64_t g = std::max<int64_t>(0, int64_t{p.GrowthStart} + 1); g <= last; ++g) {
        const long double next =
            std::trunc(n + static_cast<long double>(p.ChangePercent) / 100 * n);
        if (!(next < 2147483648.0L))
            return "The population size grows past 2147483647 in generation " +
                   std::to_string(g + 1) + ", before the genealogy can have ended";
        const int32_t following = fluctuatedSize(n, p.ChangePercent, p.Msats);
        if (following == n) break; // too small a change to move the size: it stays
        n = following;
    }
    return {};
}

} // namespace

ReadParameters readRunParameters(const FormValues& f) {
    ReadParameters out;
    RunParameters& p = out.params;
    p.WorkDir = f.WorkDir;
    p.SeqFileName = f.edtSeqFile;
    p.SeqOutName = f.edtSeqOut;
    p.MsatParamsName = f.edtMsatIn;
    p.MsatDataName = f.edtMSatData;
    p.SummaryName = f.edtTmrca;
    p.NewickName = f.edtNewickTrees;
    p.MutDistribName = f.edtMutDistrib;
    p.CoalDistribName = f.edtCoalDistrib;
    p.LogName = f.edtLogFile;
    p.Stats = f.chkStats;
    p.StatsName = f.edtStats;
    p.Vcf = f.chkVcf;
    p.VcfName = f.edtVcf;
    p.Ms = f.chkMs;
    p.MsName = f.edtMs;

    p.SampleSize = lenientInt(f.edtSampleSize);
    p.EnteredPopSize = lenientInt(f.edtPopulationSize);
    p.PopSize = p.EnteredPopSize;

    p.MultipleSims = f.chkMultipleSims;
    p.SimCount = p.MultipleSims ? lenientInt(f.edtNumberSimulations) : 1;
    p.FluctuatingN = f.chkFluctuatingN;
    if (p.FluctuatingN) {
        p.GrowthStart = lenientInt(f.edtGrowthStart);
        p.GrowthEnd = lenientInt(f.edtGrowthEnd);
    }
    p.ChangePercent = lenientDouble(f.edtChangeN);
    p.Mergers = f.mergers;
    p.VarRepSuc = f.chkVarRepSuc;
    p.Diploid = f.chkDiploid;
    p.ScatterMut = f.chkScatterMut;
    p.SegSites = f.chkSegSites;
    p.SeqOut = f.chkSeqOut;
    p.Format = f.rdgOutput;
    p.SeqDiversity = f.chkSeqDiversity;
    p.ArlequinFiles = f.chkArlequin;
    p.DrawMut = f.chkDrawMut;

    p.Msats = f.chkMsats;
    p.NumLoci = lenientInt(f.edtNumLoci);
    p.AlleleModel = f.msatModel;
    p.MSatOut = f.chkMSatOut;
    p.MSatDiversity = f.chkMSatDiversity;

    p.MutationRate = lenientExtended(f.edtMutationRate);
    p.SequenceLength = lenientInt(f.edtSeqLength);
    p.InvarSites = f.chkInvarSites;
    p.InvariableFraction = p.InvarSites ? lenientDouble(f.edtI) : 0;
    p.ShapeParameter = f.chkShapeParameter;
    p.GammaShape = p.ShapeParameter ? lenientDouble(f.edtAlpha) : 0;
    p.SeqInput = f.chkSeqInput;
    p.Model = f.model;
    p.FreqA = lenientDouble(f.edtFreqA);
    p.FreqC = lenientDouble(f.edtFreqC);
    p.FreqG = lenientDouble(f.edtFreqG);
    // Only K2P and HKY85 use the ratio; the others never turn it into a number of draws.
    const bool usesRatio =
        !p.Msats && (p.Model == SubstitutionModel::K2P || p.Model == SubstitutionModel::HKY85);
    p.TiTv = usesRatio ? lenientDouble(f.edtTiTv) : 0;

    auto refuse = [&](std::string text) {
        out.warning = std::move(text);
        return out;
    };

    if (p.SampleSize < 1 || p.PopSize < 1)
        return refuse("Please insert Sample and Population Sizes");
    if (p.SampleSize < 2) return refuse("Sample Size (k) must be at least 2");

    if (p.VarRepSuc) {
        p.OffspringVariance = lenientDouble(f.edtVarRepSuc);
        p.MeanOffspring = lenientInt(f.edtMeanOffsp);
        // Negative values have no meaning, yet the formula can turn them into a larger size.
        if (p.OffspringVariance < 0)
            return refuse("The variance in reproductive success must not be negative");
        if (p.MeanOffspring < 0) return refuse("The mean number of offspring must not be negative");
        const int64_t numerator = static_cast<int64_t>(p.PopSize) * p.MeanOffspring - 1;
        if (numerator > kLargestCount || numerator < int64_t{kSmallestInt32})
            return refuse("Population Size (N) is too large");
        long double ne = static_cast<long double>(numerator) /
                         (static_cast<long double>(p.OffspringVariance) / p.MeanOffspring +
                          (static_cast<long double>(p.MeanOffspring) - 1));
        if (!p.Diploid) ne /= 2;
        p.EffectiveSize = static_cast<double>(ne);
        if (!std::isfinite(p.EffectiveSize) || !(p.EffectiveSize >= 1))
            return refuse("The effective population size is below 1");
        if (!(p.EffectiveSize < 2147483648.0)) return refuse("Population Size (N) is too large");
        p.PopSize = static_cast<int32_t>(std::trunc(p.EffectiveSize));
    }
    if ((p.Msats || p.Diploid) && p.PopSize > kLargestDoublable)
        return refuse("Population Size (N) is too large");
    if (p.Msats && p.NumLoci < 0) return refuse("Number of loci must be 0 or more");
    if (!p.Msats) {
        std::string w = checkDnaValues(p);
        if (!w.empty()) return refuse(std::move(w));
    }
    if (p.FluctuatingN && !(p.ChangePercent >= -100))
        return refuse("The population size change per generation must not be below -100 %");
    if (std::string w = checkGrowth(p); !w.empty()) return refuse(std::move(w));
    if (std::string w = checkPipelineOutputs(p); !w.empty()) return refuse(std::move(w));
    return out;
}

} // namespace quenlith
