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
#include "output/each_sim.h"
#include "output/pairing.h"
#include "output/pipeline_outputs.h"
#include "output/summary_table.h"
#include "run/arlequin_projects.h"
#include "run/genealogy_files.h"
#include "run/output_files.h"
#include "run/run_kind.h"
#include "run/run_model.h"
#include "run/run_slice.h"

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
struct MsatResult : SimulationResult {
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

    // Formatted: the blocks of each locus's genealogy files (streams mode; the default mode
    // writes them as the simulation goes), the genotype block and the Arlequin project
    // (when written), and per locus the table's allele count and gene diversity.
    std::vector<GenealogyFiles::Blocks> genealogyBlocks;
    std::string genotypeBlock, arlequinProject;
    std::vector<LocusDiversity> diversity;
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

class MsatKind;

// The simulations of one thread.
class MsatSimulator : public KindSimulator {
  public:
    MsatSimulator(MsatKind& kind);
    // Every simulation reads the parameter file again, a locus just before its genealogy,
    // and the files of each genealogy are written as soon as it is complete: an error in the
    // file stops the run at its locus.
    void simulate(int32_t s, RunRandom& rng, SimulationResult& result,
                  const SimulationContext& context) override;
    // The loci as read once before the run.
    void simulate(int32_t s, StreamRandom& rng, SimulationResult& result,
                  const SimulationContext& context) override;
    void format(int32_t s, SimulationResult& result) override;

  private:
    MsatKind& kind_;
    MsatSimulation sim_;
    std::vector<int32_t> scratch_;
};

class MsatKind : public RunKind {
  public:
    MsatKind(const RunParameters& p, const RunSlice& slice, const KindFiles& files)
        : p_(p), slice_(slice), files_(files),
          genealogyFiles_(files.coal, files.mut, files.written),
          params_(joinPath(p.WorkDir, p.MsatParamsName)), k_(p.SampleSize), loci_(p.NumLoci),
          sims_(p.SimCount), popSize_(p.PopSize),
          demes_(p.model ? demeGroups(*p.model) : DemeGroups{}),
          dataBlock_(p.MSatOut && p.AlleleModel != MsatModel::InfiniteAlleles),
          arlequin_(p.ArlequinFiles && files.arlequinBatch != nullptr),
          projects_(arlequin_ ? files.arlequinBatch : nullptr, p.WorkDir,
                    slice.streams && slice.threads > 1, files.written) {}

    void prepare(RunRandom* lcg) override {
        const std::string& dir = p_.WorkDir;
        genealogyFiles_.createNewick(joinPath(dir, p_.NewickName));
        dataFile_ = createRunFile(RunFile::MsatData, p_, files_.written);
        if (sims_ < 0)
            throw RunError("Range check error", "number of simulations " + std::to_string(sims_));
        const int64_t records = static_cast<int64_t>(sims_) * loci_;
        const int64_t lastRecord = static_cast<int64_t>(slice_.last()) * loci_;
        if (records > int64_t{kLargestCount} || lastRecord > int64_t{kLargestCount})
            throw RunError("Range check error", "simulations times loci " +
                                                    std::to_string(lastRecord) +
                                                    " exceeds 2147483647 genealogies");
        // At least the result tables and, once a simulation runs, the k allele sizes of every
        // locus and the genealogy.
        checkFitsInMemory(
            24.0 * static_cast<double>(records) +
                (sims_ > 0 ? static_cast<double>(k_) * (4.0 * loci_ + kGenealogyBytesPerCopy) : 0),
            "sample size " + std::to_string(k_) + ", " + std::to_string(loci_) + " loci, " +
                std::to_string(sims_) + " simulation(s)");
        genealogyFiles_.createMatrices(dir);
        mutCounts_.assign(static_cast<size_t>(records), 0);
        // A streams run reads the loci once; the default mode reads them as it goes and
        // writes each genealogy's files as soon as it is complete.
        if (lcg)
            genealogiesWritten_ = true;
        else
            lociRead_ = readLoci(params_, loci_);
    }

    int64_t progressPerSimulation() const override { return static_cast<int64_t>(k_ - 1) * loci_; }
    std::unique_ptr<SimulationResult> makeResult() const override {
        return std::make_unique<MsatResult>();
    }
    std::unique_ptr<KindSimulator> makeSimulator() override {
        return std::make_unique<MsatSimulator>(*this);
    }

    // The default mode's loci, read just before their genealogies.
    MsatParamReader& params() { return params_; }
    const std::vector<MsatLocusParams>& loci() const { return lociRead_; }
    int32_t lociCount() const { return loci_; }
    // No pairing is drawn when neither the genotype table nor Arlequin is written.
    bool drawPairing() const { return dataBlock_ || arlequin_; }
    const RunParameters& run() const { return p_; }
    bool events() const { return slice_.events; }

    // The files of the genealogy of locus l of simulation s, written at once.
    void writeGenealogy(int32_t s, int32_t l, const Genealogy& g, const GeneTree& tree) {
        GenealogyFiles::format((s - 1) * loci_ + l, g, tree, nullptr, blocks_);
        genealogyFiles_.write(blocks_);
    }

    // The blocks of simulation s, formatted on the thread that simulated it.
    void format(int32_t s, MsatResult& r, std::vector<int32_t>& scratch) const {
        r.genealogyBlocks.resize(static_cast<size_t>(genealogiesWritten_ ? 0 : loci_));
        for (size_t l = 0; l < r.genealogyBlocks.size(); ++l)
            GenealogyFiles::format((s - 1) * loci_ + static_cast<int32_t>(l) + 1, r.genealogies[l],
                                   r.trees[l], p_.model ? &p_.model->sampleNames : nullptr,
                                   r.genealogyBlocks[l]);
        r.genotypeBlock.clear();
        if (dataBlock_) appendGenotypeBlock(r.sizes, r.pairing, r.genotypeBlock, &demes_);
        r.arlequinProject.clear();
        if (arlequin_) {
            r.arlequinProject = msatArlequinProject(r.sizes, r.pairing, &demes_);
            projects_.formatted(s, r.arlequinProject);
        }
        r.diversity.clear();
        if (p_.AlleleModel != MsatModel::InfiniteAlleles)
            for (int32_t l = 0; l < loci_; ++l)
                r.diversity.push_back(locusDiversity(r.sizes, l, scratch));
    }

    void write(int32_t s, const SimulationResult& result) override {
        const MsatResult& r = static_cast<const MsatResult&>(result);
        const int32_t row = s - slice_.first + 1;
        for (const GenealogyFiles::Blocks& b : r.genealogyBlocks)
            genealogyFiles_.write(b);
        if (dataBlock_) dataFile_.write(r.genotypeBlock);
        projects_.write(s, r.arlequinProject);
        // Statistics table, when asked.
        if (files_.pipeline) files_.pipeline->addMsatSimulation(s, r.sizes, r.repeatUnits);
        if (files_.eachSim)
            files_.eachSim->addMsat(s, r.trees, r.sizes, r.pairing.empty() ? nullptr : &r.pairing);
        // What the window's plots read: per genealogy its TMRCA and waiting times, per locus
        // the sums of the allele counts and gene diversities.
        alleleSum_.resize(static_cast<size_t>(loci_), 0);
        diversitySum_.resize(static_cast<size_t>(loci_), 0);
        for (int32_t l = 1; l <= loci_; ++l) {
            const Genealogy& g = r.genealogies[static_cast<size_t>(l - 1)];
            mutCounts_[static_cast<size_t>((row - 1) * loci_ + l - 1)] = g.MutEventCount();
            tmrcas_.push_back(g.Generation);
            addWaitingTimes(g, k_, waitingTimeSum_);
            if (p_.AlleleModel == MsatModel::InfiniteAlleles) {
                alleleSum_[static_cast<size_t>(l - 1)] += g.MutEventCount() + 1;
            } else {
                const LocusDiversity& d = r.diversity[static_cast<size_t>(l - 1)];
                alleleSum_[static_cast<size_t>(l - 1)] += d.alleleCount;
                diversitySum_[static_cast<size_t>(l - 1)] += d.geneDiversity;
            }
        }
        branchDemes_.insert(branchDemes_.end(), r.demes.begin(), r.demes.end());
        if (loci_ > 0) {
            popSize_ = r.popSize;
            lastGenealogy_ = r.genealogies.back();
            haveGenealogy_ = true;
        }
    }

    void reserveRows(int32_t rows) override { tables_.recreate(rows, loci_); }
    void setRow(int32_t index, const SimulationResult& result) override {
        const MsatResult& r = static_cast<const MsatResult&>(result);
        for (int32_t l = 1; l <= loci_; ++l) {
            const Genealogy& g = r.genealogies[static_cast<size_t>(l - 1)];
            const size_t i = tables_.index(index + 1, l);
            tables_.MsatTmrca[i] = g.Generation;
            tables_.MsatInfAlleles[i] = g.MutEventCount() + 1;
            if (!r.diversity.empty()) {
                const LocusDiversity& d = r.diversity[static_cast<size_t>(l - 1)];
                tables_.MsatAlleleCount[i] = d.alleleCount;
                tables_.MsatGeneDiversity[i] = d.geneDiversity;
            }
        }
    }
    std::string summaryText(int32_t rows, int32_t first) override {
        tables_.simCount = rows;
        return msatSummaryTable(tables_, loci_, k_, p_.MSatDiversity, first);
    }

    void fillOutcome(RunOutcome& outcome, int32_t done, bool) override {
        params_.close();
        const int32_t records = done * loci_;
        outcome.loci = loci_;
        outcome.recordCount = records;
        outcome.shownRecord = records;
        if (!branchDemes_.empty()) {
            branchDemes_.resize(static_cast<size_t>(records));
            outcome.branchDemesPerRecord = std::move(branchDemes_);
        }
        outcome.MutCountPerSim = std::move(mutCounts_);
        outcome.MutCountPerSim.resize(static_cast<size_t>(records));
        outcome.popSize = popSize_;
        if (haveGenealogy_) outcome.lastGenealogy = std::move(lastGenealogy_);
        outcome.tmrcaPerRecord = std::move(tmrcas_);
        outcome.tmrcaPerRecord.resize(static_cast<size_t>(records));
        outcome.waitingTimeSum = std::move(waitingTimeSum_);
        const bool infinite = p_.AlleleModel == MsatModel::InfiniteAlleles;
        outcome.meanAllelesPerLocus.assign(static_cast<size_t>(loci_), 0);
        outcome.meanGeneDiversityPerLocus.clear();
        if (!infinite) outcome.meanGeneDiversityPerLocus.assign(static_cast<size_t>(loci_), 0);
        for (size_t l = 0; done > 0 && l < alleleSum_.size(); ++l) {
            outcome.meanAllelesPerLocus[l] = alleleSum_[l] / done;
            if (!infinite) outcome.meanGeneDiversityPerLocus[l] = diversitySum_[l] / done;
        }
    }
    void discardUnwritten() override { projects_.discardUnwritten(); }

    void fillLog(RunLogValues& log) override {
        log.PopSize = popSize_;
        log.loci = readMsatParamsForLog(joinPath(p_.WorkDir, p_.MsatParamsName), p_.NumLoci);
    }

  private:
    const RunParameters& p_;
    const RunSlice& slice_;
    const KindFiles files_;
    GenealogyFiles genealogyFiles_;
    GenealogyFiles::Blocks blocks_;
    BlockFile dataFile_;
    MsatParamReader params_;
    std::vector<MsatLocusParams> lociRead_;
    const int32_t k_, loci_, sims_;
    int32_t popSize_;
    bool genealogiesWritten_ = false; // by the simulation itself, locus by locus
    MsatResultTables tables_;
    std::vector<int32_t> mutCounts_;
    std::vector<int32_t> tmrcas_;
    std::vector<int64_t> waitingTimeSum_;
    std::vector<double> alleleSum_, diversitySum_;
    Genealogy lastGenealogy_;
    std::vector<BranchDemes> branchDemes_;
    bool haveGenealogy_ = false;
    const DemeGroups demes_; // a model's sampled demes, empty without one
    const bool dataBlock_, arlequin_;
    mutable ArlequinProjects projects_; // formatted by the workers
};

MsatSimulator::MsatSimulator(MsatKind& kind)
    : kind_(kind), sim_(kind.run(), kind.drawPairing(), kind.events()) {}

void MsatSimulator::simulate(int32_t s, RunRandom& rng, SimulationResult& result,
                             const SimulationContext& context) {
    MsatParamReader& params = kind_.params();
    params.open();
    sim_.run(
        rng, kind_.lociCount(), [&](int32_t column) { return readLocus(params, column + 1); },
        [&](int32_t column, const Genealogy& g, const GeneTree& tree) {
            kind_.writeGenealogy(s, column + 1, g, tree);
        },
        static_cast<MsatResult&>(result), context);
}

void MsatSimulator::simulate(int32_t, StreamRandom& rng, SimulationResult& result,
                             const SimulationContext& context) {
    const std::vector<MsatLocusParams>& loci = kind_.loci();
    sim_.run(
        rng, kind_.lociCount(), [&](int32_t column) { return loci[static_cast<size_t>(column)]; },
        [](int32_t, const Genealogy&, const GeneTree&) {}, static_cast<MsatResult&>(result),
        context);
}

void MsatSimulator::format(int32_t s, SimulationResult& result) {
    kind_.format(s, static_cast<MsatResult&>(result), scratch_);
}

} // namespace

std::unique_ptr<RunKind> makeMsatKind(const RunParameters& p, const RunSlice& slice,
                                      const KindFiles& files) {
    return std::make_unique<MsatKind>(p, slice, files);
}

} // namespace quenlith
