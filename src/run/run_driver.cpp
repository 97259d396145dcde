#include "run/run_driver.h"

#include "base/file_io.h"
#include "base/limits.h"
#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "output/each_sim.h"
#include "output/pipeline_outputs.h"
#include "run/dna_run.h"
#include "run/each_sim_settings.h"
#include "run/msat_run.h"
#include "run/output_files.h"
#include "run/output_paths.h"
#include "run/pipeline_settings.h"
#include "run/run_kind.h"
#include "run/run_log.h"
#include "run/run_model.h"
#include "run/run_parameters.h"
#include "run/run_slice.h"
#include "run/run_start.h"
#include "run/sim_pipeline.h"
#include "run/slice_join.h"
#include "run/slice_manifest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>

namespace quenlith {

namespace {

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
    if (complete) m.files = sliceFileDigests(form, p, slice.first, slice.count, nullptr, &written);
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
    // A streams run's record also takes the digests its manifest lists as the files are
    // written.
    WrittenFiles written;
    if (slice.streams) written.tallyWrites(sliceFilePaths(form, p));
    // The two distribution files are created on every press, before the validation.
    BlockFile coalFile = createRunFile(RunFile::CoalDistrib, p, &written);
    BlockFile mutFile = createRunFile(RunFile::MutDistrib, p, &written);
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

    // DNA runs only: a microsatellite run has no sequences to write.
    BlockFile sequenceFile = createRunFile(RunFile::SeqOut, p, &written);
    BlockFile arlequinBatch = createRunFile(RunFile::ArlequinBatch, p, &written);

    PipelineOutputs pipelineOutputs;
    pipelineOutputs.open(pipelineOutputSettings(p, form, seed), &written);
    PipelineOutputs* pipeline = pipelineOutputs.active() ? &pipelineOutputs : nullptr;
    EachSimFiles eachSim;
    if (form.chkEachSim) eachSim.open(eachSimSettings(form, p, seed), &written);
    EachSimFiles* perSim = eachSim.isOpen() ? &eachSim : nullptr;

    const KindFiles files{coalFile,
                          mutFile,
                          sequenceFile.isOpen() ? &sequenceFile : nullptr,
                          arlequinBatch.isOpen() ? &arlequinBatch : nullptr,
                          pipeline,
                          perSim,
                          &written};
    const std::unique_ptr<RunKind> kind =
        p.Msats ? makeMsatKind(p, slice, files)
                : makeDnaKind(p, slice, rootFromFile ? &rootSites : nullptr, files);
    const bool completed = driveSimulations(*kind, p, slice, slice.streams ? nullptr : &rng,
                                            observer, outcome, &written);
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
    if (!completed) return outcome; // stopped on request: no log

    kind->fillLog(log);
    writeLogAtEnd(form, log, written);
    if (slice.streams) writeManifest(form, p, slice, digestText, log, true, written);
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
