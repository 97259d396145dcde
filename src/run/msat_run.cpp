#include "run/msat_run.h"
#include "base/limits.h"

#include "base/memory_check.h"
#include "base/run_error.h"
#include "genealogy/event_genealogy.h"
#include "genealogy/gene_tree.h"
#include "genealogy/genealogy.h"
#include "genealogy/structured_genealogy.h"
#include "msat/allele_models.h"
#include "msat/genotype_table.h"
#include "msat/msat_params.h"
#include "msat/msat_types.h"
#include "output/arlequin.h"
#include "output/pairing.h"
#include "output/summary_table.h"
#include "run/genealogy_files.h"
#include "run/run_model.h"
#include "run/sim_pipeline.h"
#include "run/summary_parts.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace quenlith {

namespace {

// What one microsatellite simulation yields: a genealogy per locus, the allele sizes, the
// pairing of the copies into individuals (when one is drawn) and the population size.
struct MsatResult {
    std::vector<Genealogy> genealogies;
    AlleleSizes sizes;
    std::vector<int32_t> pairing;
    std::vector<int32_t> repeatUnits; // of each locus
    // Per locus: its genealogy as a tree, each leaf in its row: its own index, or when the
    // copies are renumbered (a model: in sample order, deme by deme; streams mode: at
    // random, locus by locus) its number.
    std::vector<GeneTree> trees;
    // With a demographic model, per locus: where its genealogy's lineages lived.
    std::vector<BranchDemes> demes;
    int32_t popSize = 0;
};

// The next locus of the parameter file, checked as a simulation reads it.
MsatLocusParams readLocus(MsatParamReader& params, int32_t l) {
    const MsatLocusParams locus = params.readLocus(l);
    checkLocusParams(locus, l, params.path());
    if (locus.RepeatUnit == 0)
        throw RunError("Division by zero",
                       params.path() + ": locus " + std::to_string(l) + ", RepeatUnit 0");
    return locus;
}

// Every locus of a run.
std::vector<MsatLocusParams> readLoci(MsatParamReader& params, int32_t loci) {
    std::vector<MsatLocusParams> out;
    params.open();
    for (int32_t l = 1; l <= loci; ++l)
        out.push_back(readLocus(params, l));
    return out;
}

// One microsatellite simulation, for one thread: every locus gets an ancestral size, its
// own genealogy in 2N gene copies and its mutations, then the copies may be paired.
class MsatSimulation {
  public:
    MsatSimulation(const RunParameters& p, bool drawPairing, bool events = false)
        : p_(p), drawPairing_(drawPairing), events_(events) {
        demography_.fluctuating = p.FluctuatingN;
        demography_.growthStart = p.GrowthStart;
        demography_.growthEnd = p.GrowthEnd;
        demography_.changePercent = p.ChangePercent;
        simulator_.mergers = eventSimulator_.mergers = structured_.mergers = p.Mergers;
        demography_.singleExpression = true;
    }

    // locusAt(column) gives the parameters of a locus just before it is simulated;
    // afterLocus(column, genealogy, tree) is called once its mutations are applied.
    template <typename Rng, typename LocusAt, typename AfterLocus>
    void run(Rng& rng, int32_t count, LocusAt&& locusAt, AfterLocus&& afterLocus, MsatResult& r,
             const SimulationContext& context) {
        const int32_t k = p_.SampleSize;
        r.sizes.recreate(k, count);
        r.genealogies.resize(static_cast<size_t>(count));
        r.repeatUnits.resize(static_cast<size_t>(count));
        r.trees.resize(static_cast<size_t>(count));
        for (int32_t column = 0; column < count; ++column) {
            const MsatLocusParams locus = locusAt(column);
            r.repeatUnits[static_cast<size_t>(column)] = locus.RepeatUnit;
            const int32_t ancestral = DrawSizeInRange(locus, rng);
            for (int32_t i = 0; i < k; ++i)
                r.sizes.at(i, column) = ancestral;
            // Every locus lives in 2N gene copies, whether or not the run is diploid.
            r.popSize = 2 * p_.PopSize;
            MutationProbability mutation;
            mutation.constant = locus.LocusMutationRate;
            Genealogy& g = r.genealogies[static_cast<size_t>(column)];
            if (p_.model) {
                if constexpr (std::is_same_v<Rng, StreamRandom>) {
                    structured_.simulate(p_.model->history, p_.model->copies, rng, tree_,
                                         context.stop);
                    r.demes.resize(static_cast<size_t>(count));
                    structuredGenealogy(tree_, locus.LocusMutationRate, rng, g, sampleOf_,
                                        &r.demes[static_cast<size_t>(column)]);
                } else {
                    throw RunError("Range check error",
                                   "a demographic model runs with --rng streams");
                }
            } else if constexpr (std::is_same_v<Rng, StreamRandom>) {
                if (events_)
                    eventSimulator_.simulate(g, k, r.popSize, demography_, mutation, rng,
                                             context.onCoalescence, context.stop);
                else
                    simulator_.simulate(g, k, r.popSize, demography_, mutation, rng,
                                        context.onCoalescence, context.stop);
            } else {
                simulator_.simulate(g, k, r.popSize, demography_, mutation, rng,
                                    context.onCoalescence, context.stop);
            }
            // Every locus lists the copies by their numbers: a model's in sample order, deme
            // by deme, known before the mutations; streams mode's drawn at random after them,
            // the sizes then moving to the rows drawn.
            GeneTree& tree = r.trees[static_cast<size_t>(column)];
            tree.assign(g);
            if (p_.model) tree.relabel(sampleOf_);
            int32_t largestSoFar = ancestral;
            applyLocusMutations(tree, p_.AlleleModel, locus, column, r.sizes, largestSoFar, rng);
            if constexpr (std::is_same_v<Rng, StreamRandom>) {
                if (!p_.model) {
                    drawCopyNumbers(k, rng, sampleOf_);
                    tree.relabel(sampleOf_);
                    column_.resize(static_cast<size_t>(k));
                    for (int32_t i = 0; i < k; ++i)
                        column_[static_cast<size_t>(sampleOf_[static_cast<size_t>(i)])] =
                            r.sizes.at(i, column);
                    for (int32_t i = 0; i < k; ++i)
                        r.sizes.at(i, column) = column_[static_cast<size_t>(i)];
                }
            }
            afterLocus(column, g, tree);
        }
        r.pairing.clear();
        if (std::is_same_v<Rng, StreamRandom> && count > 0) {
            // Renumbered copies pair in their order (a model's individuals are pairs of
            // copies of one deme).
            for (int32_t i = 1; i <= k; ++i)
                r.pairing.push_back(i);
        } else if (drawPairing_) {
            r.pairing = drawPairingOrder(k, rng);
        }
    }

  private:
    const RunParameters& p_;
    const bool drawPairing_;
    const bool events_;
    Demography demography_;
    GenealogySimulator simulator_;
    EventGenealogySimulator eventSimulator_;
    StructuredSimulator structured_;
    StructuredTree tree_;
    std::vector<int32_t> sampleOf_, column_;
};

class MsatRun {
  public:
    MsatRun(const RunParameters& p, const RunSlice& slice, RunRandom* lcg, RunObserver& observer,
            BlockFile& coalFile, BlockFile& mutFile, BlockFile* arlequinBatch,
            WrittenFiles* written, PipelineOutputs* pipelineOutputs, EachSimFiles* eachSim)
        : p_(p), slice_(slice), lcg_(lcg), observer_(observer), writtenFiles_(written),
          files_(coalFile, mutFile, written), arlequinBatch_(arlequinBatch),
          pipelineOutputs_(pipelineOutputs), eachSim_(eachSim),
          params_(joinPath(p.WorkDir, p.MsatParamsName)), k_(p.SampleSize), loci_(p.NumLoci),
          sims_(p.SimCount), popSize_(p.PopSize),
          demes_(p.model ? demeGroups(*p.model) : DemeGroups{}) {}

    bool run(RunOutcome& outcome) {
        const std::string& dir = p_.WorkDir;
        files_.createNewick(joinPath(dir, p_.NewickName));
        if (p_.MSatOut) dataFile_ = BlockFile(joinPath(dir, p_.MsatDataName), true, writtenFiles_);
        if (sims_ < 0)
            throw RunError("Range check error", "number of simulations " + std::to_string(sims_));
        const int64_t records = static_cast<int64_t>(sims_) * loci_;
        const int64_t lastRecord = static_cast<int64_t>(slice_.last()) * loci_;
        if (records > int64_t{kLargestCount} || lastRecord > int64_t{kLargestCount})
            throw RunError("Range check error", "simulations times loci " +
                                                    std::to_string(lastRecord) +
                                                    " exceeds 2147483647 genealogies");
        // At least the result tables and, once a simulation runs, the k allele sizes of every
        // locus and about 16 bytes a copy for the genealogy.
        checkFitsInMemory(24.0 * static_cast<double>(records) +
                              (sims_ > 0 ? static_cast<double>(k_) * (4.0 * loci_ + 16) : 0),
                          "sample size " + std::to_string(k_) + ", " + std::to_string(loci_) +
                              " loci, " + std::to_string(sims_) + " simulation(s)");
        // A streams run keeps a block of rows and appends them to a part file of the summary
        // table, renamed at the end (see the DNA run).
        chunked_ = slice_.streams;
        tables_.recreate(chunked_ ? std::min(sims_, kRowsPerBlock) : sims_, loci_);
        if (chunked_) summary_.open(joinPath(dir, p_.SummaryName), slice_.first, writtenFiles_);
        files_.createMatrices(dir);
        mutCounts_.assign(static_cast<size_t>(records), 0);
        const int64_t progressMax = static_cast<int64_t>(k_ - 1) * loci_ * sims_;
        const int64_t perSimulation = static_cast<int64_t>(k_ - 1) * loci_;

        const bool dataBlock = p_.MSatOut && p_.AlleleModel != MsatModel::InfiniteAlleles;
        const bool arlequin = p_.ArlequinFiles && arlequinBatch_ != nullptr;
        // No pairing is drawn when neither the genotype table nor Arlequin is written.
        const bool drawPairing = dataBlock || arlequin;
        const auto consume = [&](int32_t s, const MsatResult& r) { write(s, r); };
        bool finished = false;
        try {
            if (lcg_) {
                // One generator for the whole run. Every simulation reads the parameter file
                // again, a locus just before its genealogy, and the files of each genealogy are
                // written as soon as it is complete: an error in the file stops the run at its
                // locus.
                genealogiesWritten_ = true;
                finished = runSimulationsInOrder<MsatResult>(
                    slice_.first, slice_.last(), 1, observer_, perSimulation, progressMax,
                    [&] {
                        return [&, sim = std::make_shared<MsatSimulation>(p_, drawPairing)](
                                   int32_t s, MsatResult& r, const SimulationContext& c) {
                            params_.open();
                            sim->run(
                                *lcg_, loci_,
                                [&](int32_t column) { return readLocus(params_, column + 1); },
                                [&](int32_t column, const Genealogy& g, const GeneTree& tree) {
                                    writeGenealogy(s, column + 1, g, tree);
                                },
                                r, c);
                        };
                    },
                    consume);
            } else {
                // Simulation s draws from stream s alone; the loci are read once.
                const std::vector<MsatLocusParams> loci = readLoci(params_, loci_);
                const uint64_t seed = slice_.seed;
                finished = runSimulationsInOrder<MsatResult>(
                    slice_.first, slice_.last(), slice_.threads, observer_, perSimulation,
                    progressMax,
                    [&] {
                        return [&, sim = std::make_shared<MsatSimulation>(p_, drawPairing,
                                                                          slice_.events)](
                                   int32_t s, MsatResult& r, const SimulationContext& c) {
                            StreamRandom rng(seed, static_cast<uint32_t>(s));
                            sim->run(
                                rng, loci_,
                                [&](int32_t column) { return loci[static_cast<size_t>(column)]; },
                                [](int32_t, const Genealogy&, const GeneTree&) {}, r, c);
                        };
                    },
                    consume);
            }
        } catch (const RunStopped&) {
            // Stopped inside a genealogy: the run ends after the last whole simulation.
            finished = false;
        }
        params_.close();
        if (!finished) {
            fillOutcome(outcome, written_ * loci_);
            outcome.status = RunStatus::Stopped;
            return false;
        }

        if (chunked_) {
            if (summary_.blockPending()) flushRows();
            summary_.finish();
        } else {
            writeSummaryTable(dir, p_.SummaryName,
                              msatSummaryTable(tables_, loci_, k_, p_.MSatDiversity, slice_.first),
                              writtenFiles_);
        }
        fillOutcome(outcome, static_cast<int32_t>(records));
        outcome.status = RunStatus::Completed;
        return true;
    }

  private:
    // The row of simulation s in the tables (1-based).
    int32_t tableRow(int32_t s) const {
        return chunked_ ? summary_.rowsHeld() + 1 : s - slice_.first + 1;
    }

    // The rows of the block held so far, appended to the part file of the summary table.
    void flushRows() {
        tables_.simCount = summary_.rowsHeld();
        summary_.writeBlock(
            msatSummaryTable(tables_, loci_, k_, p_.MSatDiversity, summary_.firstInBlock()));
    }

    // The files and tables of the genealogy of locus l of simulation s.
    void writeGenealogy(int32_t s, int32_t l, const Genealogy& g, const GeneTree& tree) {
        const int32_t row = s - slice_.first + 1;
        const size_t index = tables_.index(tableRow(s), l);
        tables_.MsatTmrca[index] = g.Generation;
        tables_.MsatInfAlleles[index] = g.MutEventCount() + 1;
        files_.write((s - 1) * loci_ + l, g, tree, p_.model ? &p_.model->sampleNames : nullptr);
        mutCounts_[static_cast<size_t>((row - 1) * loci_ + l - 1)] = g.MutEventCount();
    }

    void write(int32_t s, const MsatResult& r) {
        const int32_t row = s - slice_.first + 1;
        if (!genealogiesWritten_)
            for (int32_t l = 1; l <= loci_; ++l)
                writeGenealogy(s, l, r.genealogies[static_cast<size_t>(l - 1)],
                               r.trees[static_cast<size_t>(l - 1)]);
        if (p_.MSatOut && p_.AlleleModel != MsatModel::InfiniteAlleles) {
            genotypeBlock_.clear();
            appendGenotypeBlock(r.sizes, r.pairing, genotypeBlock_, &demes_);
            dataFile_.write(genotypeBlock_);
        }
        if (p_.ArlequinFiles && arlequinBatch_ != nullptr)
            writeArlequinProject(*arlequinBatch_, p_.WorkDir, s,
                                 msatArlequinProject(r.sizes, r.pairing, &demes_));
        // Statistics table, when asked.
        if (pipelineOutputs_) pipelineOutputs_->addMsatSimulation(s, r.sizes, r.repeatUnits);
        if (eachSim_)
            eachSim_->addMsat(s, r.trees, r.sizes, r.pairing.empty() ? nullptr : &r.pairing);
        if (p_.AlleleModel != MsatModel::InfiniteAlleles) {
            for (int32_t l = 1; l <= loci_; ++l) {
                const LocusDiversity d = locusDiversity(r.sizes, l - 1, scratch_);
                const size_t index = tables_.index(tableRow(s), l);
                tables_.MsatAlleleCount[index] = d.alleleCount;
                tables_.MsatGeneDiversity[index] = d.geneDiversity;
            }
        }
        // What the window's plots read: per genealogy its TMRCA and waiting times, per locus
        // the sums of the allele counts and gene diversities.
        alleleSum_.resize(static_cast<size_t>(loci_), 0);
        diversitySum_.resize(static_cast<size_t>(loci_), 0);
        for (int32_t l = 1; l <= loci_; ++l) {
            const Genealogy& g = r.genealogies[static_cast<size_t>(l - 1)];
            tmrcas_.push_back(g.Generation);
            addWaitingTimes(g, k_, waitingTimeSum_);
            const size_t index = tables_.index(tableRow(s), l);
            if (p_.AlleleModel == MsatModel::InfiniteAlleles) {
                alleleSum_[static_cast<size_t>(l - 1)] += g.MutEventCount() + 1;
            } else {
                alleleSum_[static_cast<size_t>(l - 1)] += tables_.MsatAlleleCount[index];
                diversitySum_[static_cast<size_t>(l - 1)] += tables_.MsatGeneDiversity[index];
            }
        }
        branchDemes_.insert(branchDemes_.end(), r.demes.begin(), r.demes.end());
        if (loci_ > 0) {
            popSize_ = r.popSize;
            lastGenealogy_ = r.genealogies.back();
            haveGenealogy_ = true;
        }
        written_ = row;
        if (chunked_) {
            summary_.addRow();
            if (summary_.rowsHeld() == kRowsPerBlock) flushRows();
        }
    }

    void fillOutcome(RunOutcome& outcome, int32_t records) {
        outcome.simCount = sims_;
        outcome.loci = loci_;
        outcome.recordCount = records;
        outcome.shownRecord = records;
        if (!branchDemes_.empty()) {
            branchDemes_.resize(static_cast<size_t>(records));
            outcome.branchDemesPerRecord = std::move(branchDemes_);
        }
        outcome.MutCountPerSim = mutCounts_;
        outcome.MutCountPerSim.resize(static_cast<size_t>(records));
        outcome.popSize = popSize_;
        if (haveGenealogy_) outcome.lastGenealogy = std::move(lastGenealogy_);
        outcome.simsDone = written_;
        outcome.constantSize = !p_.FluctuatingN && p_.Mergers == MergeRule::One;
        outcome.tmrcaPerRecord = tmrcas_;
        outcome.tmrcaPerRecord.resize(static_cast<size_t>(records));
        outcome.waitingTimeSum = waitingTimeSum_;
        const bool infinite = p_.AlleleModel == MsatModel::InfiniteAlleles;
        outcome.meanAllelesPerLocus.assign(static_cast<size_t>(loci_), 0);
        outcome.meanGeneDiversityPerLocus.clear();
        if (!infinite) outcome.meanGeneDiversityPerLocus.assign(static_cast<size_t>(loci_), 0);
        for (size_t l = 0; written_ > 0 && l < alleleSum_.size(); ++l) {
            outcome.meanAllelesPerLocus[l] = alleleSum_[l] / written_;
            if (!infinite) outcome.meanGeneDiversityPerLocus[l] = diversitySum_[l] / written_;
        }
    }

    const RunParameters& p_;
    const RunSlice& slice_;
    RunRandom* lcg_;
    RunObserver& observer_;
    WrittenFiles* writtenFiles_; // the run's record of its files
    GenealogyFiles files_;
    BlockFile* arlequinBatch_;
    PipelineOutputs* pipelineOutputs_;
    EachSimFiles* eachSim_;
    BlockFile dataFile_;
    MsatParamReader params_;
    const int32_t k_, loci_, sims_;
    int32_t popSize_;
    int32_t written_ = 0;
    bool genealogiesWritten_ = false; // by the simulation itself, locus by locus
    static constexpr int32_t kRowsPerBlock = 4096;
    MsatResultTables tables_;
    bool chunked_ = false;
    SummaryParts summary_;
    std::vector<int32_t> mutCounts_;
    std::vector<int32_t> tmrcas_;
    std::vector<int64_t> waitingTimeSum_;
    std::vector<double> alleleSum_, diversitySum_;
    Genealogy lastGenealogy_;
    std::vector<BranchDemes> branchDemes_;
    bool haveGenealogy_ = false;
    std::string genotypeBlock_;
    std::vector<int32_t> scratch_;
    const DemeGroups demes_; // a model's sampled demes, empty without one
};

} // namespace

bool runMicrosatellites(const RunParameters& p, const RunSlice& slice, RunRandom* lcg,
                        RunObserver& observer, BlockFile& coalFile, BlockFile& mutFile,
                        BlockFile* arlequinBatch, RunOutcome& outcome, WrittenFiles* written,
                        PipelineOutputs* pipelineOutputs, EachSimFiles* eachSim) {
    MsatRun run(p, slice, lcg, observer, coalFile, mutFile, arlequinBatch, written, pipelineOutputs,
                eachSim);
    return run.run(outcome);
}

} // namespace quenlith
