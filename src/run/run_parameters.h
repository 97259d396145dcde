#pragma once
// RunParameters: the typed values of one run, read from FormValues with the lenient
// conversions, and the validation that refuses a run before it starts.
#include "dna/dna_setup.h"
#include "run/form_values.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quenlith {

struct RunModel;

// The DNA set-up reads its own values (DnaSettings) straight from the run's.
struct RunParameters : DnaSettings {
    int32_t SampleSize = 0;
    int32_t EnteredPopSize = 0;
    int32_t PopSize = 0;      // after the reproductive-success adjustment, before any doubling
    double EffectiveSize = 0; // Ne when VarRepSuc
    bool MultipleSims = false;
    int32_t SimCount = 1;

    bool FluctuatingN = false;
    int32_t GrowthStart = 0;
    int32_t GrowthEnd = 0;
    double ChangePercent = 0;
    MergeRule Mergers = MergeRule::One; // which lineages of a generation merge
    bool VarRepSuc = false;
    double OffspringVariance = 0;
    int32_t MeanOffspring = 0;

    bool Diploid = false;
    bool ScatterMut = true;
    bool SegSites = true;
    bool SeqOut = false;
    OutputFormat Format = OutputFormat::Nexus;
    bool SeqDiversity = false;
    bool ArlequinFiles = false;
    bool DrawMut = true;

    // DNA path
    bool ShapeParameter = false;
    double GammaShape = 0;
    bool SeqInput = false;
    double TiTv = 0;

    // Microsatellite path
    bool Msats = false;
    int32_t NumLoci = 0;
    MsatModel AlleleModel = MsatModel::InfiniteAlleles;
    bool MSatOut = false;
    bool MSatDiversity = false;

    // File names, joined to WorkDir by the writers.
    std::string WorkDir;
    std::string SeqFileName, SeqOutName, MsatParamsName, MsatDataName;
    std::string SummaryName, NewickName, MutDistribName, CoalDistribName, LogName;

    // Files for analysis pipelines, written only when asked: the statistics table, the VCF
    // and the ms file (the last two in DNA runs only).
    bool Stats = false;
    bool Vcf = false;
    bool Ms = false;
    std::string StatsName, VcfName, MsName;

    // A demographic model, read at the run's start (run_model.h); null without one. Its
    // copies set SampleSize.
    std::shared_ptr<const RunModel> model;
};

struct ReadParameters {
    RunParameters params;
    // Empty when the run may go ahead; otherwise the text of the "WARNING" box.
    std::string warning;
};

// The one conversion from the controls' texts to a run, with every check that refuses a
// run before it starts.
ReadParameters readRunParameters(const FormValues& form);

} // namespace quenlith
