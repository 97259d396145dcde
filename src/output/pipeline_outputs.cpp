#include "output/pipeline_outputs.h"

#include "base/file_io.h"
#include "base/random.h"
#include "base/run_error.h"
#include "output/pairing.h"

#include <cerrno>
#include <unistd.h>

namespace quenlith {

namespace {

// "-" is standard output; any other name lies in the working directory or is absolute.
std::string outputPath(const std::string& workDir, const std::string& name) {
    return name == kStandardOutput ? name : joinPath(workDir, name);
}

} // namespace

void PipelineOutputs::open(const PipelineOutputSettings& settings, WrittenFiles* written) {
    settings_ = settings;
    written_ = written;
    active_ = settings.stats || (!settings.msats && (settings.vcf || settings.ms));
    if (settings.stats) {
        statsFile_ = BlockFile(outputPath(settings.workDir, settings.statsName), true, written);
        statsFile_.write(settings.msats ? msatStatisticsHeader(settings.loci, settings.demes)
                                        : dnaStatisticsHeader(settings.sampleSize, settings.demes));
    }
    if (settings.msats) return;
    if (settings.vcf) {
        VcfLayout layout;
        layout.copies = settings.sampleSize;
        layout.diploid = settings.diploid;
        layout.firstSimulation = settings.firstSimulation;
        layout.simulationCount = settings.simulationCount;
        layout.sampleNames = settings.sampleNames;
        layout.samplePopulations = settings.samplePopulations;
        vcf_.open(outputPath(settings.workDir, settings.vcfName), layout, written);
    }
    if (settings.ms)
        ms_.open(outputPath(settings.workDir, settings.msName), settings.msCommandLine,
                 std::to_string(settings.seed), written);
}

std::vector<int32_t> PipelineOutputs::ownPairing(int32_t k, uint64_t seed, int64_t simulation) {
    // A key of its own (the seed with its bits mixed), so that these words are not those of
    // the simulation's stream in a run of independent streams. Haploid runs take it as the
    // order of the copies.
    StreamRandom rng(seed ^ 0x9E3779B97F4A7C15ull, static_cast<uint32_t>(simulation));
    return drawPairingOrder(k, rng);
}

void PipelineOutputs::addDnaSimulation(int64_t simulation, const SampleSequences& seqs,
                                       std::string_view root, const std::vector<int32_t>* pairing,
                                       const std::vector<int32_t>* rows) {
    if (statsFile_.isOpen()) {
        row_.clear();
        if (settings_.demes.empty()) {
            appendDnaStatisticsRow(simulation, computeDnaStatistics(seqs, root), row_);
        } else {
            const DemeDnaStatistics demes = computeDemeDnaStatistics(seqs, settings_.demes);
            appendDnaStatisticsRow(simulation, computeDnaStatistics(seqs, root), row_, &demes);
        }
        statsFile_.write(row_);
    }
    if (!vcf_.isOpen() && !ms_.isOpen()) return;
    // The copies of the VCF's samples and of the ms file's rows: the pairing into
    // individuals, or a random order of their own, so that rows are exchangeable.
    std::vector<int32_t> own;
    if (rows) {
        pairing = rows;
    } else if (!pairing || !settings_.diploid) {
        own = ownPairing(seqs.copies, settings_.seed, simulation);
        pairing = &own;
    }
    if (vcf_.isOpen()) vcf_.addSimulation(simulation, seqs, root, *pairing);
    if (ms_.isOpen()) ms_.addSimulation(seqs, root, *pairing);
}

void PipelineOutputs::addMsatSimulation(int64_t simulation, const AlleleSizes& sizes,
                                        const std::vector<int32_t>& repeatUnits) {
    if (!statsFile_.isOpen()) return;
    lociStats_.clear();
    for (int32_t l = 0; l < sizes.loci; ++l)
        lociStats_.push_back(computeMsatLocusStatistics(
            sizes, l, l < static_cast<int32_t>(repeatUnits.size()) ? repeatUnits[l] : 0,
            settings_.sizesAreLengths));
    demeStats_.clear();
    for (int32_t l = 0; !settings_.demes.empty() && l < sizes.loci; ++l)
        demeStats_.push_back(computeDemeMsatStatistics(
            sizes, l, l < static_cast<int32_t>(repeatUnits.size()) ? repeatUnits[l] : 0,
            settings_.sizesAreLengths, settings_.demes));
    row_.clear();
    appendMsatStatisticsRow(simulation, lociStats_, row_,
                            settings_.demes.empty() ? nullptr : &demeStats_);
    statsFile_.write(row_);
}

void PipelineOutputs::close() {
    statsFile_.close();
    vcf_.close();
    ms_.close();
}

namespace {

// Writes `path` anew with `firstLine` in place of its first line, a block at a time, and
// renames it over the old one, keeping it in the record `written`.
void replaceFirstLine(const std::string& path, const std::string& firstLine,
                      WrittenFiles* written) {
    const std::string part = path + ".part";
    const UniqueFd fd = openRegularFile(path);
    BlockFile out(part, true, written);
    out.write(firstLine + "\n");
    std::string block(1 << 20, '\0');
    bool skipping = true;
    for (;;) {
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) throwIoError(errno, path);
        if (n == 0) break;
        std::string_view got(block.data(), static_cast<size_t>(n));
        if (skipping) {
            const size_t eol = got.find('\n');
            if (eol == std::string_view::npos) continue;
            got.remove_prefix(eol + 1);
            skipping = false;
        }
        if (!got.empty()) out.write(got);
    }
    out.close();
    renameWrittenFile(part, path, written);
}

} // namespace

void PipelineOutputs::closeAfter(int64_t simulations, const std::string& msCommandLine) {
    statsFile_.close();
    vcf_.closeAfter(simulations);
    const bool ms = ms_.isOpen();
    ms_.close();
    if (ms && simulations < settings_.simulationCount)
        replaceFirstLine(joinPath(settings_.workDir, settings_.msName), msCommandLine, written_);
}

} // namespace quenlith
