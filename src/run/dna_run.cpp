#include "run/dna_run.h"

#include "base/file_io.h"
#include "base/memory_check.h"
#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "dna/substitution.h"
#include "genealogy/event_genealogy.h"
#include "genealogy/gene_tree.h"
#include "genealogy/structured_genealogy.h"
#include "output/alignment.h"
#include "output/arlequin.h"
#include "output/diversity.h"
#include "output/each_sim.h"
#include "output/pairing.h"
#include "output/pipeline_outputs.h"
#include "output/run_tables.h"
#include "output/summary_table.h"
#include "run/arlequin_projects.h"
#include "run/genealogy_files.h"
#include "run/run_model.h"
#include "run/run_parameters.h"
#include "run/run_slice.h"

#include <algorithm>
#include <type_traits>

namespace quenlith {

namespace {

// What one DNA simulation yields: its genealogy, the sample sequences, the pairing of the
// copies into individuals (when the sequence file is written for a diploid run) and the
// population size at its end.
struct DnaResult : SimulationResult {
    Genealogy genealogy;
    SampleSequences sequences;
    std::vector<int32_t> pairing;
    // The genealogy as a tree, each leaf in its row: its own index, or when the copies are
    // renumbered (a model: in sample order, deme by deme; streams mode: at random) its
    // number. Renumbered copies also have the order of the rows (1 .. k).
    GeneTree tree;
    std::vector<int32_t> rowOrder;
    // With a model: where the lineages lived, and the pairwise statistics by deme.
    BranchDemes demes;
    DemePairStatistics demeStatistics;
    int32_t popSize = 0;

    // Formatted: the blocks of the genealogy's files, of the sequence file and the Arlequin
    // project (when written), and the summary table's values.
    GenealogyFiles::Blocks genealogyBlocks;
    std::string sequenceBlock, arlequinProject;
    int32_t finiteSegSites = 0;
    SequenceDiversity diversity;
};

// One DNA simulation, for one thread: a function of the run's values and a generator.
class DnaSimulation {
  public:
    DnaSimulation(const RunParameters& p, const DnaSetup& setup, bool drawPairing, bool events)
        : p_(p), setup_(setup), model_(p.Model, p.FreqA, p.FreqC, p.FreqG, p.TiTv),
          drawPairing_(drawPairing), events_(events) {
        demography_.fluctuating = p.FluctuatingN;
        demography_.growthStart = p.GrowthStart;
        demography_.growthEnd = p.GrowthEnd;
        demography_.changePercent = p.ChangePercent;
        simulator_.mergers = eventSimulator_.mergers = structured_.mergers = p.Mergers;
    }

    // popSize is the size the simulation starts from; the fluctuating size changes it.
    template <typename Rng>
    void run(Rng& rng, int32_t& popSize, DnaResult& r, const SimulationContext& context) {
        const int32_t k = p_.SampleSize;
        r.sequences.reset(setup_.RootSequence, k);
        r.rowOrder.clear();
        MutationProbability mutation;
        mutation.constant = setup_.SeqMutProb;
        if (p_.ShapeParameter) {
            const double alpha = p_.GammaShape;
            const long double u = p_.MutationRate;
            const int32_t length = setup_.SequenceLength;
            mutation.perGeneration = [alpha, u, length](auto& draws) -> long double {
                return gammaSeqMutProb(alpha, u, length, draws);
            };
            mutation.gamma = {alpha, u, length};
        }
        if (p_.model)
            simulateModel(rng, r, context);
        else if constexpr (std::is_same_v<Rng, StreamRandom>) {
            if (events_) {
                eventSimulator_.simulate(r.genealogy, k, popSize, demography_, mutation, rng,
                                         context.onCoalescence, context.stop);
            } else {
                simulator_.simulate(r.genealogy, k, popSize, demography_, mutation, rng,
                                    context.onCoalescence, context.stop);
            }
        } else {
            simulator_.simulate(r.genealogy, k, popSize, demography_, mutation, rng,
                                context.onCoalescence, context.stop);
        }
        r.tree.assign(r.genealogy);
        if constexpr (std::is_same_v<Rng, StreamRandom>) {
            // Streams mode numbers the copies at random (drawn after the genealogy, before
            // the substitutions), so that every file lists exchangeable copies; a model
            // numbers them deme by deme. Leaf i is then row sampleOf_[i].
            if (!p_.model) drawCopyNumbers(k, rng, sampleOf_);
            r.tree.relabel(sampleOf_);
            if (p_.model) r.tree.deme = leafDemes_;
            r.rowOrder.resize(sampleOf_.size());
            for (size_t i = 0; i < r.rowOrder.size(); ++i)
                r.rowOrder[i] = static_cast<int32_t>(i) + 1;
        }
        if (p_.ScatterMut) ScatterMutations(r.tree, r.sequences, model_, rng);
        // The pairing's draws follow the scatter's. Renumbered copies pair in their order
        // (a model's individuals are pairs of samples of one deme).
        r.pairing.clear();
        if (!r.rowOrder.empty()) {
            if (p_.Diploid) r.pairing = r.rowOrder;
        } else if (drawPairing_) {
            r.pairing = drawPairingOrder(k, rng);
        }
        r.popSize = popSize;
    }

  private:
    template <typename Rng>
    void simulateModel(Rng& rng, DnaResult& r, const SimulationContext& context) {
        if constexpr (std::is_same_v<Rng, StreamRandom>) {
            structured_.simulate(p_.model->history, p_.model->copies, rng, tree_, context.stop);
            structuredGenealogy(tree_, setup_.SeqMutProb, rng, r.genealogy, sampleOf_, &r.demes);
            leafDemes_.assign(r.demes.bottom.begin(),
                              r.demes.bottom.begin() +
                                  static_cast<std::ptrdiff_t>(sampleOf_.size()));
            r.demeStatistics = demePairStatistics(
                r.genealogy, leafDemes_, static_cast<int32_t>(p_.model->history.demes.size()));
        } else {
            throw RunError("Range check error", "a demographic model runs with --rng streams");
        }
    }

    const RunParameters& p_;
    const DnaSetup& setup_;
    const BaseChanger model_;
    const bool drawPairing_;
    const bool events_;
    Demography demography_;
    GenealogySimulator simulator_;
    StructuredSimulator structured_;
    StructuredTree tree_;
    std::vector<int32_t> sampleOf_;
    std::vector<int32_t> leafDemes_;
    EventGenealogySimulator eventSimulator_;
};

// The sequence file's layout; a model's copies are named by their deme.
AlignmentLayout alignmentLayout(const RunParameters& p, const DemeGroups& demes) {
    return {p.Format, p.Model, p.ShapeParameter, &demes};
}

class DnaKind;

// The simulations of one thread. In the default mode the fluctuating size carries over from
// one simulation to the next; in streams mode every simulation starts from the entered size.
class DnaSimulator : public KindSimulator {
  public:
    DnaSimulator(const DnaKind& kind);
    void simulate(int32_t, RunRandom& rng, SimulationResult& result,
                  const SimulationContext& context) override {
        sim_.run(rng, popSize_, static_cast<DnaResult&>(result), context);
    }
    void simulate(int32_t, StreamRandom& rng, SimulationResult& result,
                  const SimulationContext& context) override {
        int32_t popSize = startSize_;
        sim_.run(rng, popSize, static_cast<DnaResult&>(result), context);
    }
    void format(int32_t s, SimulationResult& result) override;

  private:
    const DnaKind& kind_;
    DnaSimulation sim_;
    const int32_t startSize_;
    int32_t popSize_;
};

class DnaKind : public RunKind {
  public:
    DnaKind(const RunParameters& p, const RunSlice& slice, const std::string* rootFromFile,
            const KindFiles& files)
        : p_(p), slice_(slice), rootFromFile_(rootFromFile), files_(files),
          genealogyFiles_(files.coal, files.mut, files.written),
          demes_(p.model ? demeGroups(*p.model) : DemeGroups{}),
          layout_(alignmentLayout(p, demes_)), enteredSize_(p.Diploid ? 2 * p.PopSize : p.PopSize),
          popSize_(enteredSize_),
          projects_(p.ArlequinFiles && files.sequences ? files.arlequinBatch : nullptr, p.WorkDir,
                    slice.streams && slice.threads > 1, files.written) {}

    void prepare(RunRandom* lcg) override {
        if (lcg) {
            setup_ = prepareDna(p_, rootFromFile_, *lcg);
        } else {
            // What a streams run draws once comes from stream 0.
            StreamRandom root(slice_.seed, 0);
            setup_ = prepareDna(p_, rootFromFile_, root);
        }
        genealogyFiles_.createNewick(joinPath(p_.WorkDir, p_.NewickName));
        genealogyFiles_.createMatrices(p_.WorkDir);
        const int32_t sequenceLength = setup_.SequenceLength;
        const int32_t k = p_.SampleSize;
        const int32_t sims = slice_.count;
        // At least the per-simulation tables (a streams run keeps only the mutation counts)
        // and, once a simulation runs, the k sequences and the genealogy.
        const double length = sequenceLength;
        const double perSimulation = slice_.streams ? 4.0 : 32.0;
        checkFitsInMemory(
            perSimulation * sims +
                (sims > 0 ? static_cast<double>(k) * (length + kGenealogyBytesPerCopy) : 0),
            "sample size " + std::to_string(k) + ", sequence length " +
                std::to_string(sequenceLength) + ", " + std::to_string(sims) + " simulation(s)");
        mutCounts_.reserve(static_cast<size_t>(std::max(sims, 0)));
        tmrcas_.reserve(static_cast<size_t>(std::max(sims, 0)));
    }

    int64_t progressPerSimulation() const override { return p_.SampleSize - 1; }
    std::unique_ptr<SimulationResult> makeResult() const override {
        return std::make_unique<DnaResult>();
    }
    std::unique_ptr<KindSimulator> makeSimulator() override {
        return std::make_unique<DnaSimulator>(*this);
    }

    // The blocks of simulation s, formatted on the thread that simulated it.
    void format(int32_t s, DnaResult& r) const {
        const Genealogy& g = r.genealogy;
        GenealogyFiles::format(s, g, r.tree, p_.model ? &p_.model->sampleNames : nullptr,
                               r.genealogyBlocks);
        r.finiteSegSites = p_.ScatterMut ? countFiniteSegSites(r.sequences) : 0;
        if (p_.SeqDiversity) r.diversity = sequenceDiversity(r.sequences);
        r.sequenceBlock.clear();
        r.arlequinProject.clear();
        if (files_.sequences) {
            const std::vector<int32_t>* pairing = p_.Diploid ? &r.pairing : nullptr;
            appendAlignmentBlock(r.sequences, s, pairing, layout_, r.sequenceBlock);
            if (projects_.active()) {
                r.arlequinProject = dnaArlequinProject(r.sequences, pairing, &demes_);
                projects_.formatted(s, r.arlequinProject);
            }
        }
    }

    void write(int32_t s, const SimulationResult& result) override {
        const DnaResult& r = static_cast<const DnaResult&>(result);
        const Genealogy& g = r.genealogy;
        genealogyFiles_.writeTrees(r.genealogyBlocks);
        if (files_.sequences) {
            files_.sequences->write(r.sequenceBlock);
            projects_.write(s, r.arlequinProject);
        }
        // Statistics table, VCF and ms file, when asked (the pairing only if drawn).
        if (files_.pipeline)
            files_.pipeline->addDnaSimulation(s, r.sequences, setup_.RootSequence,
                                              files_.sequences && p_.Diploid ? &r.pairing : nullptr,
                                              r.rowOrder.empty() ? nullptr : &r.rowOrder);
        if (files_.eachSim) {
            const std::vector<int32_t>* pairing =
                !r.rowOrder.empty() ? &r.rowOrder
                                    : (files_.sequences && p_.Diploid ? &r.pairing : nullptr);
            files_.eachSim->addDna(s, r.tree, r.sequences, pairing);
        }
        genealogyFiles_.writeMatrices(r.genealogyBlocks);
        mutCounts_.push_back(g.MutEventCount());
        // What the window's plots read.
        tmrcas_.push_back(g.tmrca());
        addWaitingTimes(g, p_.SampleSize, waitingTimeSum_);
        popSize_ = r.popSize;
        if (s == slice_.last()) lastGenealogy_ = g;
        if (!r.demes.empty()) {
            branchDemes_.push_back(r.demes);
            const DemePairStatistics& d = r.demeStatistics;
            pi_.insert(pi_.end(), d.pi.begin(), d.pi.end());
            dxy_.insert(dxy_.end(), d.dxy.begin(), d.dxy.end());
            fst_.insert(fst_.end(), d.fst.begin(), d.fst.end());
        }
    }

    void reserveRows(int32_t rows) override { tables_.recreate(rows); }
    void setRow(int32_t index, const SimulationResult& result) override {
        const DnaResult& r = static_cast<const DnaResult&>(result);
        const Genealogy& g = r.genealogy;
        const size_t i = static_cast<size_t>(index);
        if (p_.SeqDiversity) {
            tables_.HaplotypeDiversityPerSim[i] = r.diversity.haplotype;
            tables_.NucleotideDiversityPerSim[i] = r.diversity.nucleotide;
        }
        tables_.TmrcaPerSim[i] = g.tmrca();
        tables_.SegSitesPerSim[i] = p_.SegSites ? g.MutEventCount() : 0;
        tables_.FiniteSegSitesPerSim[i] = r.finiteSegSites;
        tables_.MutCountPerSim[i] = g.MutEventCount();
    }
    std::string summaryText(int32_t rows, int32_t first) override {
        if (static_cast<size_t>(rows) == tables_.TmrcaPerSim.size())
            return dnaSummaryTable(tables_, p_.SeqDiversity, first);
        PerSimulationTables block = tables_;
        const size_t n = static_cast<size_t>(rows);
        for (auto* column : {&block.TmrcaPerSim, &block.SegSitesPerSim, &block.FiniteSegSitesPerSim,
                             &block.MutCountPerSim})
            column->resize(n);
        block.HaplotypeDiversityPerSim.resize(n);
        block.NucleotideDiversityPerSim.resize(n);
        return dnaSummaryTable(block, p_.SeqDiversity, first);
    }

    void fillOutcome(RunOutcome& outcome, int32_t done, bool finished) override {
        outcome.recordCount = done;
        outcome.shownRecord = done;
        mutCounts_.resize(static_cast<size_t>(done));
        outcome.MutCountPerSim = std::move(mutCounts_);
        outcome.tmrcaPerRecord = std::move(tmrcas_);
        outcome.waitingTimeSum = std::move(waitingTimeSum_);
        outcome.popSize = popSize_;
        outcome.mutationProbability =
            p_.ShapeParameter ? -1.0 : static_cast<double>(setup_.SeqMutProb);
        if (finished && done > 0) outcome.lastGenealogy = std::move(lastGenealogy_);
        outcome.branchDemesPerRecord = std::move(branchDemes_);
        outcome.piPerSim = std::move(pi_);
        outcome.dxyPerSim = std::move(dxy_);
        outcome.fstPerSim = std::move(fst_);
    }
    void discardUnwritten() override { projects_.discardUnwritten(); }

    void fillLog(RunLogValues& log) override {
        log.PopSize = popSize_;
        log.FreqA = setup_.FreqA;
        log.FreqC = setup_.FreqC;
        log.FreqG = setup_.FreqG;
        log.FreqT = setup_.FreqT;
        log.MutationRate = static_cast<double>(p_.MutationRate);
        log.SequenceLength = setup_.SequenceLength;
    }

  private:
    friend class DnaSimulator;
    const RunParameters& p_;
    const RunSlice& slice_;
    const std::string* rootFromFile_;
    const KindFiles files_;
    GenealogyFiles genealogyFiles_;
    const DemeGroups demes_; // a model's sampled demes, empty without one
    const AlignmentLayout layout_;
    DnaSetup setup_;
    const int32_t enteredSize_; // in gene copies
    int32_t popSize_; // the size at the end of the last simulation written, in gene copies
    PerSimulationTables tables_;
    std::vector<int32_t> mutCounts_;
    std::vector<int32_t> tmrcas_;
    std::vector<int64_t> waitingTimeSum_;
    Genealogy lastGenealogy_;
    mutable ArlequinProjects projects_; // formatted by the workers
    std::vector<BranchDemes> branchDemes_;
    std::vector<double> pi_, dxy_, fst_;
};

// The pairing is drawn for a diploid run's sequence file alone.
DnaSimulator::DnaSimulator(const DnaKind& kind)
    : kind_(kind), sim_(kind.p_, kind.setup_, kind.files_.sequences != nullptr && kind.p_.Diploid,
                        kind.slice_.events),
      startSize_(kind.enteredSize_), popSize_(kind.enteredSize_) {}

void DnaSimulator::format(int32_t s, SimulationResult& result) {
    kind_.format(s, static_cast<DnaResult&>(result));
}

} // namespace

std::unique_ptr<RunKind> makeDnaKind(const RunParameters& p, const RunSlice& slice,
                                     const std::string* rootFromFile, const KindFiles& files) {
    return std::make_unique<DnaKind>(p, slice, rootFromFile, files);
}

} // namespace quenlith
