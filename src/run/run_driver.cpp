#include "run/run_driver.h"

#include "base/file_io.h"
#include "base/memory_check.h"
#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "dna/substitution.h"
#include "msat/msat_params.h"
#include "output/alignment.h"
#include "output/arlequin.h"
#include "output/distributions.h"
#include "output/diversity.h"
#include "output/matrix_files.h"
#include "output/newick.h"
#include "output/pairing.h"
#include "output/run_tables.h"
#include "output/summary_table.h"
#include "run/msat_run.h"
#include "run/run_log.h"
#include "run/run_parameters.h"

#include <chrono>
#include <new>
#include <stdexcept>

namespace quenlith {

namespace {

// The DNA path of a run, from the DNA set-up to the last simulation.
class DnaRun {
  public:
    DnaRun(const RunParameters& p, const std::string* rootFromFile, RunRandom& rng,
           RunObserver& observer, BlockFile& coalFile, BlockFile& mutFile, BlockFile* sequenceFile,
           BlockFile* arlequinBatch)
        : p_(p), rng_(rng), observer_(observer), coalFile_(coalFile), mutFile_(mutFile),
          sequenceFile_(sequenceFile), arlequinBatch_(arlequinBatch), popSize_(p.PopSize) {
        setup_ = prepareDna(p, rootFromFile, rng);
        if (p.Diploid) popSize_ *= 2;
        const std::string& dir = p.WorkDir;
        newickFile_ = BlockFile(joinPath(dir, p.NewickName), true);
        treeMatFile_ = BlockFile(joinPath(dir, kTreeMatFile), true);
        mutMatFile_ = BlockFile(joinPath(dir, kMutMatFile), true);
    }

    // Returns false when the observer asked to stop.
    bool simulateAll(RunOutcome& outcome) {
        const int32_t k = p_.SampleSize;
        const int32_t sims = p_.SimCount;
        if (sims < 0)
            throw RunError("Range check error", "number of simulations " + std::to_string(sims));
        // At least the per-simulation tables and, once a simulation runs, the k sequences and
        // about 16 bytes a copy for the genealogy.
        const double length = setup_.SequenceLength;
        checkFitsInMemory(32.0 * sims + (sims > 0 ? static_cast<double>(k) * (length + 16) : 0),
                          "sample size " + std::to_string(k) + ", sequence length " +
                              std::to_string(setup_.SequenceLength) + ", " + std::to_string(sims) +
                              " simulation(s)");
        tables_.recreate(sims);

        Demography demography;
        demography.fluctuating = p_.FluctuatingN;
        demography.growthStart = p_.GrowthStart;
        demography.growthEnd = p_.GrowthEnd;
        demography.changePercent = p_.ChangePercent;

        MutationProbability mutation;
        mutation.constant = setup_.SeqMutProb;
        if (p_.ShapeParameter) {
            const double alpha = p_.GammaShape;
            const long double u = p_.MutationRate;
            const int32_t length = setup_.SequenceLength;
            mutation.perGeneration = [alpha, u, length, &rng = rng_]() -> long double {
                return gammaSeqMutProb(alpha, u, length, rng);
            };
        }
        const BaseChanger model(p_.Model, p_.FreqA, p_.FreqC, p_.FreqG, p_.TiTv);

        const int64_t progressMax = static_cast<int64_t>(k - 1) * sims;
        int64_t progressPos = 0;
        const AlignmentLayout layout{p_.Format, p_.Model, p_.ShapeParameter};
        std::string coalBlock, mutBlock, treeBlock, mutMatBlock, newickLine, sequenceBlock;
        std::vector<int32_t> pairingOrder;
        for (int32_t s = 1; s <= sims; ++s) {
            observer_.simulationStarted(s);
            sequences_.reset(setup_.RootSequence, k);
            simulator_.simulate(
                genealogy_, k, popSize_, demography, mutation, rng_,
                [&] {
                    ++progressPos;
                    observer_.progress(progressPos, progressMax);
                },
                observer_.stopFlag());
            if (p_.ScatterMut) ScatterMutations(genealogy_, sequences_, model, rng_);

            coalBlock.clear();
            mutBlock.clear();
            appendDistributionBlocks(genealogy_, coalBlock, mutBlock);
            coalFile_.write(coalBlock);
            mutFile_.write(mutBlock);

            const int32_t infiniteSegSites = p_.SegSites ? genealogy_.MutEventCount() : 0;
            const int32_t finiteSegSites = p_.ScatterMut ? countFiniteSegSites(sequences_) : 0;
            const size_t index = static_cast<size_t>(s - 1);
            if (p_.SeqDiversity) {
                const SequenceDiversity diversity = sequenceDiversity(sequences_);
                tables_.HaplotypeDiversityPerSim[index] = diversity.haplotype;
                tables_.NucleotideDiversityPerSim[index] = diversity.nucleotide;
            }

            newickLine.clear();
            appendNewickLine(genealogy_, newickLine);
            newickFile_.write(newickLine);

            if (sequenceFile_) {
                // The pairing is drawn after the Newick line: its draws follow the scatter's.
                const std::vector<int32_t>* pairing = nullptr;
                if (p_.Diploid) {
                    pairingOrder = drawPairingOrder(k, rng_);
                    pairing = &pairingOrder;
                }
                sequenceBlock.clear();
                appendAlignmentBlock(sequences_, s, pairing, layout, sequenceBlock);
                sequenceFile_->write(sequenceBlock);
                if (p_.ArlequinFiles && arlequinBatch_)
                    writeArlequinProject(*arlequinBatch_, p_.WorkDir, s,
                                         dnaArlequinProject(sequences_, pairing));
            }

            tables_.TmrcaPerSim[index] = genealogy_.tmrca();
            tables_.SegSitesPerSim[index] = infiniteSegSites;
            tables_.FiniteSegSitesPerSim[index] = finiteSegSites;

            treeBlock.clear();
            mutMatBlock.clear();
            appendMatrixRecord(s, genealogy_, treeBlock, mutMatBlock);
            treeMatFile_.write(treeBlock);
            mutMatFile_.write(mutMatBlock);
            tables_.MutCountPerSim[index] = genealogy_.MutEventCount();

            if (s < sims && observer_.stopRequested()) return false;
        }
        outcome.simCount = sims;
        outcome.recordCount = sims;
        outcome.shownRecord = sims;
        outcome.MutCountPerSim = tables_.MutCountPerSim;
        outcome.popSize = popSize_;
        if (sims > 0) outcome.lastGenealogy = genealogy_;
        return true;
    }

    const DnaSetup& setup() const { return setup_; }
    const PerSimulationTables& tables() const { return tables_; }
    int32_t popSize() const { return popSize_; }

  private:
    const RunParameters& p_;
    RunRandom& rng_;
    RunObserver& observer_;
    BlockFile& coalFile_;
    BlockFile& mutFile_;
    BlockFile* sequenceFile_;
    BlockFile* arlequinBatch_;
    BlockFile newickFile_, treeMatFile_, mutMatFile_;
    DnaSetup setup_;
    int32_t popSize_;
    PerSimulationTables tables_;
    Genealogy genealogy_;
    GenealogySimulator simulator_;
    SampleSequences sequences_;
};

// The last step of both paths: the end time, then the log.
void writeLogAtEnd(const FormValues& form, RunLogValues values) {
    values.EndTime = std::chrono::system_clock::now();
    writeRunLog(form, values);
}

RunOutcome runChecked(const FormValues& form, uint32_t seed, RunObserver& observer) {
    const auto startTime = std::chrono::system_clock::now();
    RunRandom rng(seed);
    ReadParameters read = readRunParameters(form);
    const RunParameters& p = read.params;
    RunOutcome outcome;
    outcome.workDir = p.WorkDir;
    outcome.msats = p.Msats;
    outcome.sampleSize = p.SampleSize;
    outcome.loci = p.Msats ? p.NumLoci : 0;
    outcome.drawMutations = p.DrawMut;

    // The two distribution files are created on every press, before the validation.
    BlockFile coalFile(joinPath(p.WorkDir, p.CoalDistribName), true);
    BlockFile mutFile(joinPath(p.WorkDir, p.MutDistribName), true);
    if (!read.warning.empty()) {
        outcome.warning = read.warning;
        return outcome;
    }
    std::string rootSites;
    const bool rootFromFile = !p.Msats && p.SeqInput;
    if (rootFromFile) {
        rootSites = rootSitesFromFileContent(readWholeFile(joinPath(p.WorkDir, p.SeqFileName)));
        if (rootSites.empty()) {
            outcome.warning = "The input DNA sequence file holds no sequence";
            return outcome;
        }
    }

    BlockFile sequenceFile;
    if (p.ScatterMut && p.SeqOut) sequenceFile = BlockFile(joinPath(p.WorkDir, p.SeqOutName), true);
    BlockFile arlequinBatch;
    if (p.ArlequinFiles && (p.SeqOut || p.MSatOut)) {
        createDirectoryIgnoringErrors(joinPath(p.WorkDir, "Arlequin"));
        arlequinBatch = BlockFile(joinPath(p.WorkDir, "ArlequinBatch.arp"), true);
    }

    if (p.Msats) {
        if (!runMicrosatellites(p, rng, observer, coalFile, mutFile,
                                arlequinBatch.isOpen() ? &arlequinBatch : nullptr, outcome))
            return outcome; // stopped on request: no log
        RunLogValues log;
        log.SampleSize = p.SampleSize;
        log.PopSize = outcome.popSize;
        log.EnteredPopSize = p.EnteredPopSize;
        log.StartTime = startTime;
        log.SimCount = p.SimCount;
        log.GrowthStart = p.GrowthStart;
        log.GrowthEnd = p.GrowthEnd;
        log.loci = readMsatParamsForLog(joinPath(p.WorkDir, p.MsatParamsName), p.NumLoci);
        writeLogAtEnd(form, log);
        return outcome;
    }

    DnaRun dna(p, rootFromFile ? &rootSites : nullptr, rng, observer, coalFile, mutFile,
               sequenceFile.isOpen() ? &sequenceFile : nullptr,
               arlequinBatch.isOpen() ? &arlequinBatch : nullptr);
    if (!dna.simulateAll(outcome)) {
        outcome.status = RunStatus::Stopped;
        return outcome;
    }
    writeSummaryTable(p.WorkDir, p.SummaryName, dnaSummaryTable(dna.tables(), p.SeqDiversity));

    RunLogValues log;
    log.SampleSize = p.SampleSize;
    log.PopSize = dna.popSize();
    log.EnteredPopSize = p.EnteredPopSize;
    log.FreqA = dna.setup().FreqA;
    log.FreqC = dna.setup().FreqC;
    log.FreqG = dna.setup().FreqG;
    log.FreqT = dna.setup().FreqT;
    log.MutationRate = static_cast<double>(p.MutationRate);
    log.StartTime = startTime;
    log.SimCount = p.SimCount;
    log.GrowthStart = p.GrowthStart;
    log.GrowthEnd = p.GrowthEnd;
    log.SequenceLength = dna.setup().SequenceLength;
    writeLogAtEnd(form, log);
    outcome.status = RunStatus::Completed;
    return outcome;
}

} // namespace

RunOutcome RunSimulation(const FormValues& form, uint64_t seed, RunObserver& observer) {
    try {
        return runChecked(form, static_cast<uint32_t>(seed), observer);
    } catch (const std::bad_alloc&) {
        throw RunError("Out of memory");
    } catch (const std::length_error&) {
        throw RunError("Out of memory");
    }
}

} // namespace quenlith
