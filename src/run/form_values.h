#pragma once
// The text or state of every control of the main window, initialised to the window's
// defaults. Both front ends fill this record; readRunParameters() turns it into a run.
#include "base/random.h"
#include "dna/substitution_model.h"
#include "genealogy/genealogy_engine.h"
#include "msat/msat_types.h"
#include "output/output_format.h"

#include <cstdint>
#include <string>

namespace quenlith {

struct FormValues {
    // Main tab
    std::string edtSampleSize = "50";
    std::string edtPopulationSize = "10000";
    bool chkMultipleSims = false;
    std::string edtNumberSimulations = "100";
    bool chkDrawMut = true;

    // Sequence tab
    std::string edtSeqLength = "1000";
    bool chkSeqInput = false;
    std::string edtSeqFile = "seqin.txt";
    std::string edtMutationRate = "0.0000001";
    bool chkDiploid = false;
    bool chkSegSites = true;
    bool chkScatterMut = true;
    SubstitutionModel model = SubstitutionModel::JC69; // radJC69, radK2P, radF81, radHKY85
    std::string edtFreqA = "0.25";
    std::string edtFreqC = "0.25";
    std::string edtFreqG = "0.25";
    std::string edtTiTv = "2";
    bool chkInvarSites = false;
    std::string edtI = "0.0";
    bool chkShapeParameter = false;
    std::string edtAlpha = "1";
    bool chkSeqDiversity = false;
    bool chkSeqOut = false;
    std::string edtSeqOut = "seqout.txt";
    OutputFormat rdgOutput = OutputFormat::Nexus;

    // Microsatellite tab
    bool chkMsats = false;
    std::string edtNumLoci = "1";
    MsatModel msatModel = MsatModel::InfiniteAlleles; // radInfiniteAlleles, radStepwise, radAllele
    std::string edtMsatIn = "msatparam.txt";
    bool chkMSatOut = false;
    bool chkMSatDiversity = false;
    std::string edtMSatData = "MsatData.csv";

    // Demographics tab
    bool chkVarRepSuc = false;
    std::string edtVarRepSuc = "1";
    std::string edtMeanOffsp = "2";
    bool chkFluctuatingN = false;
    std::string edtGrowthStart = "0";
    std::string edtGrowthEnd = "500";
    std::string edtChangeN = "0.1";

    // Files tab
    std::string WorkDir = ".";
    std::string edtTmrca = "outfile.csv";
    std::string edtNewickTrees = "NewickTrees.tre";
    std::string edtMutDistrib = "MutDistrib.csv";
    std::string edtCoalDistrib = "CoalDistrib.csv";
    std::string edtLogFile = "logFile.txt";
    bool chkArlequin = false;

    // Beyond the original controls: the kind of random numbers, the statistics table and the
    // pipeline formats (window controls and quenlith-cli options).
    RandomKind rngKind = RandomKind::Lcg; // streams: one independent stream per simulation
    bool chkStats = false;
    std::string edtStats = "stats.csv";
    bool chkVcf = false;
    std::string edtVcf = "sites.vcf";
    bool chkMs = false;
    std::string edtMs = "sites.ms";

    // Run control of quenlith-cli only.
    int32_t threads = 0;  // worker threads of a streams run; 0: every core
    int64_t firstSim = 1; // first simulation of a slice of a streams run

    // A demographic model (a Demes file, Demographics tab): the copies sampled from its demes
    // ("A:10,B:5", which sets the sample size) and the copies per individual of its sizes.
    bool chkDemes = false;
    std::string edtDemes = "model.yaml";
    std::string edtSamples = "";
    std::string edtPloidy = "2";
    // One data set per file: per simulation its alignments (formats: a comma-separated list
    // of fasta, phylip, nexus), its genealogy and, for microsatellites, a GenePop file, in a
    // folder of the working directory.
    bool chkEachSim = false;
    std::string edtEachSim = "each_sim";
    std::string edtEachSimFormat = "fasta";
    // The whole run a slice belongs to (quenlith-cli's --of): its number of simulations;
    // 0 when the run is not a slice of a larger one.
    int64_t ofSims = 0;
    // The genealogy engine of a streams run (quenlith-cli only; Default: events).
    GenealogyEngine engine = GenealogyEngine::Default;
    // Which lineages of a generation merge: one pair (the exact default) or every set of
    // lineages that drew one parent.
    MergeRule mergers = MergeRule::One;
};

} // namespace quenlith
