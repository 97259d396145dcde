#include "run/msat_run.h"

#include "base/memory_check.h"
#include "base/run_error.h"
#include "genealogy/genealogy.h"
#include "msat/allele_models.h"
#include "msat/genotype_table.h"
#include "msat/msat_params.h"
#include "msat/msat_types.h"
#include "output/arlequin.h"
#include "output/distributions.h"
#include "output/matrix_files.h"
#include "output/newick.h"
#include "output/pairing.h"
#include "output/summary_table.h"

#include <string>
#include <vector>

namespace quenlith {

namespace {

class MsatRun {
  public:
    MsatRun(const RunParameters& p, RunRandom& rng, RunObserver& observer, BlockFile& coalFile,
            BlockFile& mutFile, BlockFile* arlequinBatch, PipelineOutputs* pipelineOutputs)
        : p_(p), rng_(rng), observer_(observer), coalFile_(coalFile), mutFile_(mutFile),
          arlequinBatch_(arlequinBatch), pipelineOutputs_(pipelineOutputs),
          params_(joinPath(p.WorkDir, p.MsatParamsName)), k_(p.SampleSize), loci_(p.NumLoci),
          sims_(p.SimCount), popSize_(p.PopSize) {
        demography_.fluctuating = p.FluctuatingN;
        demography_.growthStart = p.GrowthStart;
        demography_.growthEnd = p.GrowthEnd;
        demography_.changePercent = p.ChangePercent;
        demography_.singleExpression = true;
    }

    bool run(RunOutcome& outcome) {
        const std::string& dir = p_.WorkDir;
        newickFile_ = BlockFile(joinPath(dir, p_.NewickName), true);
        if (p_.MSatOut) dataFile_ = BlockFile(joinPath(dir, p_.MsatDataName), true);
        if (sims_ < 0)
            throw RunError("Range check error", "number of simulations " + std::to_string(sims_));
        const int64_t records = static_cast<int64_t>(sims_) * loci_;
        if (records > 2147483647LL)
            throw RunError("Range check error", "simulations times loci " +
                                                    std::to_string(records) +
                                                    " exceeds 2147483647 genealogies");
        // At least the result tables and, once a simulation runs, the k allele sizes of every
        // locus and about 16 bytes a copy for the genealogy.
        checkFitsInMemory(24.0 * static_cast<double>(records) +
                              (sims_ > 0 ? static_cast<double>(k_) * (4.0 * loci_ + 16) : 0),
                          "sample size " + std::to_string(k_) + ", " + std::to_string(loci_) +
                              " loci, " + std::to_string(sims_) + " simulation(s)");
        tables_.recreate(sims_, loci_);
        treeMatFile_ = BlockFile(joinPath(dir, kTreeMatFile), true);
        mutMatFile_ = BlockFile(joinPath(dir, kMutMatFile), true);
        mutCounts_.assign(static_cast<size_t>(records), 0);
        progressMax_ = static_cast<int64_t>(k_ - 1) * loci_ * sims_;

        for (int32_t s = 1; s <= sims_; ++s) {
            observer_.simulationStarted(s);
            sizes_.recreate(k_, loci_);
            params_.open();
            try {
                for (int32_t l = 1; l <= loci_; ++l)
                    simulateLocus(s, l);
            } catch (const RunStopped&) {
                params_.close();
                haveGenealogy_ = false; // the last one is the abandoned simulation's
                fillOutcome(outcome, (s - 1) * loci_);
                outcome.status = RunStatus::Stopped;
                return false;
            }
            writeGenotypes(s);
            if (p_.AlleleModel != MsatModel::InfiniteAlleles) storeDiversity(s);
            // Statistics table, when asked.
            if (pipelineOutputs_) pipelineOutputs_->addMsatSimulation(s, sizes_, repeatUnits_);
            if (s < sims_ && observer_.stopRequested()) {
                fillOutcome(outcome, s * loci_);
                outcome.status = RunStatus::Stopped;
                return false;
            }
        }
        params_.close();

        writeSummaryTable(dir, p_.SummaryName,
                          msatSummaryTable(tables_, loci_, k_, p_.MSatDiversity));
        fillOutcome(outcome, static_cast<int32_t>(records));
        outcome.status = RunStatus::Completed;
        return true;
    }

  private:
    void simulateLocus(int32_t s, int32_t l) {
        popSize_ = p_.PopSize;
        const MsatLocusParams locus = params_.readLocus(l);
        checkLocusParams(locus, l, params_.path());
        if (locus.RepeatUnit == 0)
            throw RunError("Division by zero",
                           params_.path() + ": locus " + std::to_string(l) + ", RepeatUnit 0");
        const int32_t column = l - 1;
        repeatUnits_.resize(static_cast<size_t>(loci_));
        repeatUnits_[static_cast<size_t>(column)] = locus.RepeatUnit;
        const int32_t ancestral = DrawSizeInRange(locus, rng_);
        for (int32_t i = 0; i < k_; ++i)
            sizes_.at(i, column) = ancestral;

        // Every locus lives in 2N gene copies, whether or not the run is diploid.
        popSize_ = 2 * popSize_;
        MutationProbability mutation;
        mutation.constant = locus.LocusMutationRate;
        simulator_.simulate(
            genealogy_, k_, popSize_, demography_, mutation, rng_,
            [&] {
                ++progressPos_;
                observer_.progress(progressPos_, progressMax_);
            },
            observer_.stopFlag());

        const size_t index = tables_.index(s, l);
        tables_.MsatTmrca[index] = genealogy_.Generation;
        int32_t largestSoFar = ancestral;
        applyLocusMutations(genealogy_, p_.AlleleModel, locus, column, sizes_, largestSoFar, rng_);

        coalBlock_.clear();
        mutBlock_.clear();
        appendDistributionBlocks(genealogy_, coalBlock_, mutBlock_);
        coalFile_.write(coalBlock_);
        mutFile_.write(mutBlock_);

        tables_.MsatInfAlleles[index] = genealogy_.MutEventCount() + 1;

        newickLine_.clear();
        appendNewickLine(genealogy_, newickLine_);
        newickFile_.write(newickLine_);

        const int32_t g = (s - 1) * loci_ + l;
        treeBlock_.clear();
        mutMatBlock_.clear();
        appendMatrixRecord(g, genealogy_, treeBlock_, mutMatBlock_);
        treeMatFile_.write(treeBlock_);
        mutMatFile_.write(mutMatBlock_);
        mutCounts_[static_cast<size_t>(g - 1)] = genealogy_.MutEventCount();
        addWaitingTimes(genealogy_, k_, waitingTimeSum_);
        haveGenealogy_ = true;
    }

    // The genotype table block and the Arlequin project of simulation s, both from one
    // pairing of the copies into individuals; no pairing is drawn when neither is written.
    void writeGenotypes(int32_t s) {
        const bool dataBlock = p_.MSatOut && p_.AlleleModel != MsatModel::InfiniteAlleles;
        const bool arlequin = p_.ArlequinFiles && arlequinBatch_ != nullptr;
        if (!dataBlock && !arlequin) return;
        const std::vector<int32_t> pairing = drawPairingOrder(k_, rng_);
        if (dataBlock) {
            genotypeBlock_.clear();
            appendGenotypeBlock(sizes_, pairing, genotypeBlock_);
            dataFile_.write(genotypeBlock_);
        }
        if (arlequin)
            writeArlequinProject(*arlequinBatch_, p_.WorkDir, s,
                                 msatArlequinProject(sizes_, pairing));
    }

    void storeDiversity(int32_t s) {
        for (int32_t l = 1; l <= loci_; ++l) {
            const LocusDiversity d = locusDiversity(sizes_, l - 1, scratch_);
            const size_t index = tables_.index(s, l);
            tables_.MsatAlleleCount[index] = d.alleleCount;
            tables_.MsatGeneDiversity[index] = d.geneDiversity;
        }
    }

    void fillOutcome(RunOutcome& outcome, int32_t records) {
        outcome.simCount = sims_;
        outcome.loci = loci_;
        outcome.recordCount = records;
        outcome.shownRecord = records;
        outcome.MutCountPerSim = mutCounts_;
        outcome.MutCountPerSim.resize(static_cast<size_t>(records));
        outcome.popSize = popSize_;
        if (haveGenealogy_) outcome.lastGenealogy = genealogy_;
        outcome.simsDone = loci_ > 0 ? records / loci_ : 0;
        outcome.constantSize = !p_.FluctuatingN;
        outcome.waitingTimeSum = waitingTimeSum_;
        outcome.tmrcaPerRecord.assign(tables_.MsatTmrca.begin(),
                                      tables_.MsatTmrca.begin() + records);
        const bool infinite = p_.AlleleModel == MsatModel::InfiniteAlleles;
        const int32_t done = outcome.simsDone;
        outcome.meanAllelesPerLocus.assign(static_cast<size_t>(loci_), 0);
        if (!infinite) outcome.meanGeneDiversityPerLocus.assign(static_cast<size_t>(loci_), 0);
        for (int32_t l = 1; done > 0 && l <= loci_; ++l) {
            double alleles = 0, diversity = 0;
            for (int32_t s = 1; s <= done; ++s) {
                const size_t index = tables_.index(s, l);
                alleles +=
                    infinite ? tables_.MsatInfAlleles[index] : tables_.MsatAlleleCount[index];
                if (!infinite) diversity += tables_.MsatGeneDiversity[index];
            }
            outcome.meanAllelesPerLocus[static_cast<size_t>(l - 1)] = alleles / done;
            if (!infinite)
                outcome.meanGeneDiversityPerLocus[static_cast<size_t>(l - 1)] = diversity / done;
        }
    }

    const RunParameters& p_;
    RunRandom& rng_;
    RunObserver& observer_;
    BlockFile& coalFile_;
    BlockFile& mutFile_;
    BlockFile* arlequinBatch_;
    PipelineOutputs* pipelineOutputs_;
    std::vector<int32_t> repeatUnits_; // of the loci of the current simulation
    BlockFile newickFile_, dataFile_, treeMatFile_, mutMatFile_;
    MsatParamReader params_;
    const int32_t k_, loci_, sims_;
    int32_t popSize_;
    Demography demography_;
    MsatResultTables tables_;
    AlleleSizes sizes_;
    std::vector<int32_t> mutCounts_;
    Genealogy genealogy_;
    GenealogySimulator simulator_;
    bool haveGenealogy_ = false;
    std::vector<int64_t> waitingTimeSum_;
    int64_t progressPos_ = 0, progressMax_ = 0;
    std::string coalBlock_, mutBlock_, newickLine_, treeBlock_, mutMatBlock_, genotypeBlock_;
    std::vector<int32_t> scratch_;
};

} // namespace

bool runMicrosatellites(const RunParameters& p, RunRandom& rng, RunObserver& observer,
                        BlockFile& coalFile, BlockFile& mutFile, BlockFile* arlequinBatch,
                        RunOutcome& outcome, PipelineOutputs* pipelineOutputs) {
    MsatRun run(p, rng, observer, coalFile, mutFile, arlequinBatch, pipelineOutputs);
    return run.run(outcome);
}

} // namespace quenlith
