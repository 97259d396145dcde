#include "run/run_driver.h"
#include "base/limits.h"

#include "base/file_io.h"
#include "base/memory_check.h"
#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "dna/substitution.h"
#include "genealogy/event_genealogy.h"
#include "genealogy/gene_tree.h"
#include "genealogy/structured_genealogy.h"
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
#include "run/each_sim_settings.h"
#include "run/genealogy_files.h"
#include "run/msat_run.h"
#include "run/output_paths.h"
#include "run/pipeline_settings.h"
#include "run/run_log.h"
#include "run/run_model.h"
#include "run/run_parameters.h"
#include "run/run_slice.h"
#include "run/run_start.h"
#include "run/sim_pipeline.h"
#include "run/slice_join.h"
#include "run/slice_manifest.h"
#include "run/summary_parts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace quenlith {

namespace {

// What one DNA simulation yields: its genealogy, the sample sequences, the pairing of the
// copies into individuals (when the sequence file is written for a diploid run) and the
// population size at its end.
struct DnaResult {
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

// The writers of a DNA run: they take the results in simulation order.
class DnaWriter {
  public:
    DnaWriter(const RunParameters& p, const RunSlice& slice, const DnaSetup& setup,
              GenealogyFiles& genealogyFiles, BlockFile* sequenceFile, BlockFile* arlequinBatch,
              PipelineOutputs* pipelineOutputs, EachSimFiles* eachSim, WrittenFiles* written)
        : p_(p), slice_(slice), setup_(setup), writtenFiles_(written),
          genealogyFiles_(genealogyFiles), sequenceFile_(sequenceFile),
          arlequinBatch_(arlequinBatch), pipelineOutputs_(pipelineOutputs), eachSim_(eachSim),
          demes_(p.model ? demeGroups(*p.model) : DemeGroups{}),
          layout_(alignmentLayout(p, demes_)) {
        const int32_t sequenceLength = setup.SequenceLength;
        const int32_t k = p.SampleSize;
        const int32_t sims = slice.count;
        // At least the per-simulation tables (a streams run keeps only the mutation counts)
        // and, once a simulation runs, the k sequences and about 16 bytes a copy for the
        // genealogy.
        const double length = sequenceLength;
        const double perSimulation = slice.streams ? 4.0 : 32.0;
        checkFitsInMemory(
            perSimulation * sims + (sims > 0 ? static_cast<double>(k) * (length + 16) : 0),
            "sample size " + std::to_string(k) + ", sequence length " +
                std::to_string(sequenceLength) + ", " + std::to_string(sims) + " simulation(s)");
        // A streams run keeps a bounded block of rows and appends the summary table's rows
        // block by block to a part file, renamed at the end: its memory does not grow with
        // the number of simulations (the mutation counts apart, 4 bytes a simulation).
        chunked_ = slice.streams;
        tables_.recreate(chunked_ ? std::min(sims, kRowsPerBlock) : sims);
        if (chunked_) {
            summary_.open(joinPath(p_.WorkDir, p_.SummaryName), slice.first, writtenFiles_);
            mutCounts_.reserve(static_cast<size_t>(sims));
        }
        tmrcas_.reserve(static_cast<size_t>(sims));
    }

    // The summary table: written whole, or (streams) its last rows appended and the part
    // file renamed.
    void writeSummary() {
        if (!chunked_) {
            writeSummaryTable(p_.WorkDir, p_.SummaryName,
                              dnaSummaryTable(tables_, p_.SeqDiversity, slice_.first),
                              writtenFiles_);
            return;
        }
        if (summary_.blockPending()) flushRows();
        summary_.finish();
    }

    void write(int32_t s, const DnaResult& r) {
        const Genealogy& g = r.genealogy;
        genealogyFiles_.writeTrees(g, r.tree, p_.model ? &p_.model->sampleNames : nullptr);

        const int32_t infiniteSegSites = p_.SegSites ? g.MutEventCount() : 0;
        const int32_t finiteSegSites = p_.ScatterMut ? countFiniteSegSites(r.sequences) : 0;
        const size_t index = chunked_ ? static_cast<size_t>(summary_.rowsHeld())
                                      : static_cast<size_t>(s - slice_.first);
        if (p_.SeqDiversity) {
            const SequenceDiversity diversity = sequenceDiversity(r.sequences);
            tables_.HaplotypeDiversityPerSim[index] = diversity.haplotype;
            tables_.NucleotideDiversityPerSim[index] = diversity.nucleotide;
        }

        if (sequenceFile_) {
            const std::vector<int32_t>* pairing = p_.Diploid ? &r.pairing : nullptr;
            sequenceBlock_.clear();
            appendAlignmentBlock(r.sequences, s, pairing, layout_, sequenceBlock_);
            sequenceFile_->write(sequenceBlock_);
            if (p_.ArlequinFiles && arlequinBatch_)
                writeArlequinProject(*arlequinBatch_, p_.WorkDir, s,
                                     dnaArlequinProject(r.sequences, pairing, &demes_));
        }

        // Statistics table, VCF and ms file, when asked (the pairing only if drawn).
        if (pipelineOutputs_)
            pipelineOutputs_->addDnaSimulation(s, r.sequences, setup_.RootSequence,
                                               sequenceFile_ && p_.Diploid ? &r.pairing : nullptr,
                                               r.rowOrder.empty() ? nullptr : &r.rowOrder);
        if (eachSim_) {
            const std::vector<int32_t>* pairing =
                !r.rowOrder.empty() ? &r.rowOrder
                                    : (sequenceFile_ && p_.Diploid ? &r.pairing : nullptr);
            eachSim_->addDna(s, r.tree, r.sequences, pairing);
        }

        tables_.TmrcaPerSim[index] = g.tmrca();
        tables_.SegSitesPerSim[index] = infiniteSegSites;
        tables_.FiniteSegSitesPerSim[index] = finiteSegSites;
        genealogyFiles_.writeMatrices(s, g);
        tables_.MutCountPerSim[index] = g.MutEventCount();
        if (chunked_) {
            mutCounts_.push_back(g.MutEventCount());
            summary_.addRow();
            if (summary_.rowsHeld() == static_cast<int32_t>(tables_.TmrcaPerSim.size()))
                flushRows();
        }
        // What the window's plots read.
        tmrcas_.push_back(g.tmrca());
        addWaitingTimes(g, p_.SampleSize, waitingTimeSum_);
        ++written_;
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

    // A model run's deme histories and statistics, handed over to the outcome.
    void moveDemesTo(RunOutcome& outcome) {
        outcome.branchDemesPerRecord = std::move(branchDemes_);
        outcome.piPerSim = std::move(pi_);
        outcome.dxyPerSim = std::move(dxy_);
        outcome.fstPerSim = std::move(fst_);
    }

    // Whole simulations written so far.
    int32_t written() const { return written_; }
    std::vector<int32_t>& tmrcas() { return tmrcas_; }
    std::vector<int64_t>& waitingTimeSum() { return waitingTimeSum_; }

    std::vector<int32_t>& mutationCounts() {
        return chunked_ ? mutCounts_ : tables_.MutCountPerSim;
    }
    int32_t popSize() const { return popSize_; }
    void setPopSize(int32_t n) { popSize_ = n; }
    Genealogy& lastGenealogy() { return lastGenealogy_; }

  private:
    const RunParameters& p_;
    const RunSlice& slice_;
    const DnaSetup& setup_;
    WrittenFiles* writtenFiles_; // the run's record of its files
    GenealogyFiles& genealogyFiles_;
    BlockFile* sequenceFile_;
    BlockFile* arlequinBatch_;
    PipelineOutputs* pipelineOutputs_;
    EachSimFiles* eachSim_;
    const DemeGroups demes_; // a model's sampled demes, empty without one
    const AlignmentLayout layout_;
    // The rows of the block held so far, appended to the part file.
    void flushRows() {
        PerSimulationTables block = tables_;
        for (auto* column : {&block.TmrcaPerSim, &block.SegSitesPerSim, &block.FiniteSegSitesPerSim,
                             &block.MutCountPerSim})
            column->resize(static_cast<size_t>(summary_.rowsHeld()));
        block.HaplotypeDiversityPerSim.resize(static_cast<size_t>(summary_.rowsHeld()));
        block.NucleotideDiversityPerSim.resize(static_cast<size_t>(summary_.rowsHeld()));
        summary_.writeBlock(dnaSummaryTable(block, p_.SeqDiversity, summary_.firstInBlock()));
    }

    static constexpr int32_t kRowsPerBlock = 4096;
    PerSimulationTables tables_;
    bool chunked_ = false;
    SummaryParts summary_;
    std::vector<int32_t> mutCounts_;
    std::vector<int32_t> tmrcas_;
    std::vector<int64_t> waitingTimeSum_;
    int32_t written_ = 0;
    int32_t popSize_ = 0;
    Genealogy lastGenealogy_;
    std::string sequenceBlock_;
    std::vector<BranchDemes> branchDemes_;
    std::vector<double> pi_, dxy_, fst_;
};

// The DNA path of a run, from the DNA set-up to the last simulation.
class DnaRun {
  public:
    DnaRun(const RunParameters& p, const RunSlice& slice, const std::string* rootFromFile,
           RunRandom* lcg, RunObserver& observer, BlockFile& coalFile, BlockFile& mutFile,
           BlockFile* sequenceFile, BlockFile* arlequinBatch, PipelineOutputs* pipelineOutputs,
           EachSimFiles* eachSim, WrittenFiles* written)
        : p_(p), slice_(slice), lcg_(lcg), observer_(observer), writtenFiles_(written),
          files_(coalFile, mutFile, written), sequenceFile_(sequenceFile),
          arlequinBatch_(arlequinBatch), pipelineOutputs_(pipelineOutputs), eachSim_(eachSim),
          popSize_(p.PopSize) {
        if (lcg) {
            setup_ = prepareDna(p, rootFromFile, *lcg);
        } else {
            // What a streams run draws once comes from stream 0.
            StreamRandom root(slice.seed, 0);
            setup_ = prepareDna(p, rootFromFile, root);
        }
        if (p.Diploid) popSize_ *= 2;
        files_.createNewick(joinPath(p.WorkDir, p.NewickName));
        files_.createMatrices(p.WorkDir);
    }

    // Returns false when the observer asked to stop.
    bool simulateAll(RunOutcome& outcome) {
        const int32_t k = p_.SampleSize;
        const int32_t sims = p_.SimCount;
        if (sims < 0)
            throw RunError("Range check error", "number of simulations " + std::to_string(sims));
        writer_.emplace(p_, slice_, setup_, files_, sequenceFile_, arlequinBatch_, pipelineOutputs_,
                        eachSim_, writtenFiles_);
        writer_->setPopSize(popSize_);
        const bool drawPairing = sequenceFile_ != nullptr && p_.Diploid;
        const int64_t progressMax = static_cast<int64_t>(k - 1) * sims;
        const auto consume = [&](int32_t s, const DnaResult& r) { writer_->write(s, r); };
        bool finished = false;
        try {
            if (lcg_) {
                // One generator for the whole run: the simulations follow each other on one
                // thread, and the fluctuating size carries over from one to the next.
                int32_t popSize = popSize_;
                finished = runSimulationsInOrder<DnaResult>(
                    slice_.first, slice_.last(), 1, observer_, k - 1, progressMax,
                    [&] {
                        return [&, sim = std::make_shared<DnaSimulation>(p_, setup_, drawPairing,
                                                                         slice_.events)](
                                   int32_t, DnaResult& r, const SimulationContext& c) {
                            sim->run(*lcg_, popSize, r, c);
                        };
                    },
                    consume);
            } else {
                // Simulation s draws from stream s alone and starts from the entered size.
                const int32_t startSize = popSize_;
                const uint64_t seed = slice_.seed;
                finished = runSimulationsInOrder<DnaResult>(
                    slice_.first, slice_.last(), slice_.threads, observer_, k - 1, progressMax,
                    [&] {
                        return [&, sim = std::make_shared<DnaSimulation>(p_, setup_, drawPairing,
                                                                         slice_.events)](
                                   int32_t s, DnaResult& r, const SimulationContext& c) {
                            StreamRandom rng(seed, static_cast<uint32_t>(s));
                            int32_t popSize = startSize;
                            sim->run(rng, popSize, r, c);
                        };
                    },
                    consume);
            }
        } catch (const RunStopped&) {
            // Stopped inside a genealogy: the run ends after the last whole simulation.
            finished = false;
        }
        fillOutcome(outcome, finished);
        return finished;
    }

    // The outcome after the simulations written so far.
    void fillOutcome(RunOutcome& outcome, bool finished) {
        const int32_t done = writer_->written();
        outcome.simCount = p_.SimCount;
        outcome.simsDone = done;
        outcome.recordCount = done;
        outcome.shownRecord = done;
        std::vector<int32_t>& counts = writer_->mutationCounts();
        counts.resize(static_cast<size_t>(done));
        outcome.MutCountPerSim = std::move(counts);
        outcome.tmrcaPerRecord = std::move(writer_->tmrcas());
        outcome.waitingTimeSum = std::move(writer_->waitingTimeSum());
        outcome.popSize = writer_->popSize();
        outcome.constantSize = !p_.FluctuatingN && p_.Mergers == MergeRule::One;
        outcome.mutationProbability =
            p_.ShapeParameter ? -1.0 : static_cast<double>(setup_.SeqMutProb);
        if (finished && done > 0) outcome.lastGenealogy = std::move(writer_->lastGenealogy());
        writer_->moveDemesTo(outcome);
    }

    const DnaSetup& setup() const { return setup_; }
    void writeSummary() { writer_->writeSummary(); }
    int32_t popSize() const { return writer_->popSize(); }

  private:
    const RunParameters& p_;
    const RunSlice& slice_;
    RunRandom* lcg_;
    RunObserver& observer_;
    WrittenFiles* writtenFiles_; // the run's record of its files
    GenealogyFiles files_;
    BlockFile* sequenceFile_;
    BlockFile* arlequinBatch_;
    PipelineOutputs* pipelineOutputs_;
    EachSimFiles* eachSim_;
    DnaSetup setup_;
    int32_t popSize_;
    std::optional<DnaWriter> writer_;
};

// The last step of both paths: the end time, then the log.
void writeLogAtEnd(const FormValues& form, RunLogValues values, const WrittenFiles& written) {
    values.EndTime = std::chrono::system_clock::now();
    written.check(); // no log beside a file of the run that has gone
    writeRunLog(form, values);
}

// Writes the slice manifest of a streams run (see slice_manifest.h); once the run completed,
// with the sizes and digests of the files a join reads.
void writeManifest(const FormValues& form, const RunParameters& p, const RunSlice& slice,
                   const std::string& digest, const RunLogValues& log, bool complete,
                   WrittenFiles& written) {
    SliceManifest m;
    m.complete = complete;
    m.seed = slice.seed;
    m.first = slice.first;
    m.count = slice.count;
    m.of = form.ofSims > 0 ? form.ofSims : slice.first + slice.count - 1;
    if (complete) m.files = sliceFileDigests(p, slice.first, slice.count);
    m.inputDigest = digest;
    m.log = log;
    m.form = form;
    // The engine the slice ran, so that a default slice and one that names it agree.
    if (m.form.engine == GenealogyEngine::Default)
        m.form.engine = slice.events ? GenealogyEngine::Events : GenealogyEngine::Generations;
    writeWholeFile(joinPath(form.WorkDir, kSliceManifestName), sliceManifestText(m), &written);
}

RunOutcome runChecked(const FormValues& form, uint64_t seed, RunObserver& observer) {
    const auto startTime = std::chrono::system_clock::now();
    ReadParameters read = readRunParameters(form);
    const RunParameters& p = read.params;
    RunOutcome outcome;
    outcome.seed = seed;
    outcome.workDir = p.WorkDir;
    outcome.msats = p.Msats;
    outcome.sampleSize = p.SampleSize;
    outcome.loci = p.Msats ? p.NumLoci : 0;
    outcome.drawMutations = p.DrawMut;

    // Refused before anything is written.
    outcome.warning = runControlError(form, p.SimCount, seed);
    if (outcome.warning.empty()) outcome.warning = checkEachSim(form, p);
    if (outcome.warning.empty()) outcome.warning = checkOutputPaths(form, p);
    if (!outcome.warning.empty()) return outcome;
    outcome.warning = modelControlsError(form);
    if (!outcome.warning.empty()) return outcome;
    // A demographic model, read and matched with its samples; its copies set the sample size.
    if (form.chkDemes && read.warning.empty()) {
        auto model = std::make_shared<RunModel>();
        outcome.warning = readRunModel(form, *model);
        if (!outcome.warning.empty()) return outcome;
        read.params.SampleSize = model->sampleSize();
        read.params.model = model;
        outcome.sampleSize = p.SampleSize;
        for (const DiscreteDeme& d : model->history.demes)
            outcome.demeNames.push_back(d.name);
        for (const StructuredSample& c : model->copies)
            outcome.sampleDemes.push_back(c.deme);
        outcome.hasTwoDemeChain = twoDemeChainOf(model->history, outcome.twoDemeChain);
    }
    RunSlice slice;
    slice.streams = form.rngKind == RandomKind::Streams;
    slice.seed = seed;
    slice.first = slice.streams ? static_cast<int32_t>(form.firstSim) : 1;
    slice.count = p.SimCount > 0 ? p.SimCount : 0;
    slice.threads = slice.streams ? workerThreads(form.threads) : 1;
    slice.events = slice.streams && form.engine != GenealogyEngine::Generations;
    RunRandom rng(static_cast<uint32_t>(seed));

    // The working directory's lock, the file names and an earlier run's end files, before
    // the first file is touched.
    RunStart start = startRun(form, p);
    if (!start.warning.empty()) {
        outcome.warning = start.warning;
        return outcome;
    }
    // Every file this run writes, so that its end can tell none has gone; the run's alone.
    WrittenFiles written;
    // The two distribution files are created on every press, before the validation.
    BlockFile coalFile(joinPath(p.WorkDir, p.CoalDistribName), true, &written);
    BlockFile mutFile(joinPath(p.WorkDir, p.MutDistribName), true, &written);
    if (!read.warning.empty()) {
        outcome.warning = read.warning;
        return outcome;
    }
    std::string rootSites;
    uint64_t digest = textDigest("");
    const bool rootFromFile = !p.Msats && p.SeqInput;
    if (rootFromFile) {
        const std::string content = readWholeFile(joinPath(p.WorkDir, p.SeqFileName), kLargestCount,
                                                  "the longest sequence a run can use");
        digest = textDigest(content, digest);
        rootSites = rootSitesFromFileContent(content);
        if (rootSites.empty()) {
            outcome.warning = "The input DNA sequence file holds no sequence";
            return outcome;
        }
    }
    std::string digestText;
    RunLogValues log;
    log.SampleSize = p.SampleSize;
    log.EnteredPopSize = p.EnteredPopSize;
    log.StartTime = startTime;
    log.Seed = seed;
    log.SimCount = p.SimCount;
    log.GrowthStart = p.GrowthStart;
    log.GrowthEnd = p.GrowthEnd;
    if (p.model) log.modelLines = runModelLogLines(*p.model);
    if (slice.streams) {
        if (p.Msats)
            digest = textDigest(readWholeFile(joinPath(p.WorkDir, p.MsatParamsName)), digest);
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
        digestText = hex;
        writeManifest(form, p, slice, digestText, log, false, written);
    }

    BlockFile sequenceFile;
    // DNA runs only: a microsatellite run has no sequences to write.
    if (!p.Msats && p.ScatterMut && p.SeqOut)
        sequenceFile = BlockFile(joinPath(p.WorkDir, p.SeqOutName), true, &written);
    BlockFile arlequinBatch;
    if (p.ArlequinFiles && (p.SeqOut || p.MSatOut)) {
        createDirectoryIgnoringErrors(joinPath(p.WorkDir, "Arlequin"));
        arlequinBatch = BlockFile(joinPath(p.WorkDir, "ArlequinBatch.arp"), true, &written);
    }

    PipelineOutputs pipelineOutputs;
    pipelineOutputs.open(pipelineOutputSettings(p, form, seed), &written);
    PipelineOutputs* pipeline = pipelineOutputs.active() ? &pipelineOutputs : nullptr;
    EachSimFiles eachSim;
    if (form.chkEachSim) eachSim.open(eachSimSettings(form, p, seed), &written);
    EachSimFiles* perSim = eachSim.isOpen() ? &eachSim : nullptr;

    if (p.Msats) {
        const bool completed = runMicrosatellites(
            p, slice, slice.streams ? nullptr : &rng, observer, coalFile, mutFile,
            arlequinBatch.isOpen() ? &arlequinBatch : nullptr, outcome, &written, pipeline, perSim);
        pipelineOutputs.close();
        eachSim.close();
        if (!completed) return outcome; // stopped on request: no log
        log.PopSize = outcome.popSize;
        log.loci = readMsatParamsForLog(joinPath(p.WorkDir, p.MsatParamsName), p.NumLoci);
        writeLogAtEnd(form, log, written);
        if (slice.streams) writeManifest(form, p, slice, digestText, log, true, written);
        return outcome;
    }

    DnaRun dna(p, slice, rootFromFile ? &rootSites : nullptr, slice.streams ? nullptr : &rng,
               observer, coalFile, mutFile, sequenceFile.isOpen() ? &sequenceFile : nullptr,
               arlequinBatch.isOpen() ? &arlequinBatch : nullptr, pipeline, perSim, &written);
    const bool completed = dna.simulateAll(outcome);
    if (completed) {
        pipelineOutputs.close();
    } else {
        // Stopped: the VCF's and the ms file's headers describe the simulations written, as
        // those of a run of that many.
        FormValues written = form;
        written.chkMultipleSims = true;
        written.edtNumberSimulations = std::to_string(outcome.simsDone);
        RunParameters writtenParams = p;
        writtenParams.MultipleSims = true;
        writtenParams.SimCount = outcome.simsDone;
        pipelineOutputs.closeAfter(outcome.simsDone, msCommandLine(written, writtenParams, seed));
    }
    eachSim.close();
    if (!completed) {
        outcome.status = RunStatus::Stopped;
        return outcome;
    }
    dna.writeSummary();

    log.PopSize = dna.popSize();
    log.FreqA = dna.setup().FreqA;
    log.FreqC = dna.setup().FreqC;
    log.FreqG = dna.setup().FreqG;
    log.FreqT = dna.setup().FreqT;
    log.MutationRate = static_cast<double>(p.MutationRate);
    log.SequenceLength = dna.setup().SequenceLength;
    writeLogAtEnd(form, log, written);
    if (slice.streams) writeManifest(form, p, slice, digestText, log, true, written);
    outcome.status = RunStatus::Completed;
    return outcome;
}

} // namespace

std::string runControlError(const FormValues& form, int32_t simCount, uint64_t seed) {
    const bool streams = form.rngKind == RandomKind::Streams;
    if (!streams && seed > 4294967295ull)
        return "The seed " + std::to_string(seed) +
               " is above 4294967295, the largest seed of the default generator (--rng lcg); "
               "seeds up to 18446744073709551615 need --rng streams";
    if (!streams && form.firstSim != 1)
        return "A slice of a run (first simulation " + std::to_string(form.firstSim) +
               ") needs --rng streams: with the default generator every simulation depends on "
               "the ones before it";
    if (form.threads < 0) return "The number of threads must be 1 or more";
    if (!streams && form.engine != GenealogyEngine::Default)
        return "The genealogy engine (--engine) needs --rng streams: the default generator "
               "always walks the generations";
    if (streams) {
        if (form.firstSim < 1)
            return "The first simulation of a slice must be 1 or more, not " +
                   std::to_string(form.firstSim);
        const int64_t last = form.firstSim + std::max<int64_t>(simCount, 1) - 1;
        if (last > int64_t{kLargestCount})
            return "Simulations " + std::to_string(form.firstSim) + " to " + std::to_string(last) +
                   " pass the last simulation number of a run, 2147483647";
    }
    if (!streams && form.ofSims > 0)
        return "A slice of a run of " + std::to_string(form.ofSims) +
               " simulations (--of) needs --rng streams: with the default generator every "
               "simulation depends on the ones before it";
    if (streams && form.firstSim != 1 && form.ofSims <= 0)
        return "A slice starting at simulation " + std::to_string(form.firstSim) +
               " needs --of S, the number of simulations of the whole run, so that the join "
               "can tell when a slice is missing";
    if (streams && form.ofSims > 0) {
        const int64_t last = form.firstSim + std::max<int64_t>(simCount, 0) - 1;
        if (form.firstSim > form.ofSims || last > form.ofSims)
            return "Simulations " + std::to_string(form.firstSim) + " to " + std::to_string(last) +
                   " are not in a run of " + std::to_string(form.ofSims) + " simulations (--of)";
    }
    return {};
}

void addWaitingTimes(const Genealogy& g, int32_t sampleSize, std::vector<int64_t>& sums) {
    if (sampleSize < 2) return;
    if (sums.size() < static_cast<size_t>(sampleSize) + 1)
        sums.resize(static_cast<size_t>(sampleSize) + 1, 0);
    int32_t previous = 0;
    const size_t events = std::min(g.CoalEvents.size(), static_cast<size_t>(sampleSize - 1));
    for (size_t e = 0; e < events; ++e) {
        sums[static_cast<size_t>(sampleSize) - e] += g.CoalEvents[e].generation - previous;
        previous = g.CoalEvents[e].generation;
    }
}

RunOutcome RunSimulation(const FormValues& form, uint64_t seed, RunObserver& observer) {
    try {
        return runChecked(form, seed, observer);
    } catch (const std::bad_alloc&) {
        throw RunError("Out of memory");
    } catch (const std::length_error&) {
        throw RunError("Out of memory");
    }
}

} // namespace quenlith
