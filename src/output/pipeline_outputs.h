#pragma once
// The files for analysis pipelines, written only when asked: the statistics table, the VCF
// and the ms file. One object per run; the run hands it each simulation's data in memory,
// in simulation order, and nothing else of the run changes (no draw from the run's
// generator, no other file touched).
#include "dna/substitution.h"
#include "msat/msat_types.h"
#include "output/ms_writer.h"
#include "output/statistics.h"
#include "output/vcf_writer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenlith {

struct PipelineOutputSettings {
    std::string workDir;
    bool stats = false;
    std::string statsName;
    bool vcf = false; // DNA runs only
    std::string vcfName;
    bool ms = false; // DNA runs only
    std::string msName;

    bool msats = false;
    int32_t sampleSize = 0;
    int32_t loci = 0;
    bool sizesAreLengths = true; // false under the infinite alleles model
    bool diploid = false;
    int64_t firstSimulation = 1;
    int64_t simulationCount = 0;
    uint64_t seed = 0;
    std::string msCommandLine; // first line of the ms file
    // The VCF's sample names and populations when not copy1 ... / ind1 ... (a run with a
    // demographic model).
    std::vector<std::string> sampleNames, samplePopulations;
    // The sampled demes of a run with a model: the statistics table's per-deme columns.
    DemeGroups demes;
};

class PipelineOutputs {
  public:
    // Creates the files that are asked for (and writes their headers where known), recorded
    // in `written` (the run's record, which outlives this object) when given.
    void open(const PipelineOutputSettings& settings, WrittenFiles* written = nullptr);
    bool active() const { return active_; }

    // One DNA simulation. `pairing` is the run's PairingOrder when it drew one for this
    // simulation (diploid runs with a sequence file), else null: the copies are then ordered
    // by the same rejection method from a generator of its own, keyed by the run's seed and
    // the simulation number, so the run's own draws stay as they are. The VCF's samples and
    // the ms file's rows follow that order (a diploid VCF pairs the copies by it).
    // `rows`, when given (a run with a demographic model), is the order of the copies
    // itself: the samples deme by deme.
    void addDnaSimulation(int64_t simulation, const SampleSequences& seqs, std::string_view root,
                          const std::vector<int32_t>* pairing,
                          const std::vector<int32_t>* rows = nullptr);
    // One microsatellite simulation: the allele sizes of every locus and each locus's repeat
    // unit.
    void addMsatSimulation(int64_t simulation, const AlleleSizes& sizes,
                           const std::vector<int32_t>& repeatUnits);
    // Finishes the files (the VCF's compressed stream included).
    void close();
    // Finishes the files of a run stopped after `simulations` whole simulations: the VCF's
    // header and the ms file's command line (`msCommandLine`, that of a run of that many)
    // describe what the files hold.
    void closeAfter(int64_t simulations, const std::string& msCommandLine);

    // The VCF's and ms file's own order of the copies of simulation s when the run drew none.
    static std::vector<int32_t> ownPairing(int32_t k, uint64_t seed, int64_t simulation);

  private:
    PipelineOutputSettings settings_;
    WrittenFiles* written_ = nullptr;
    bool active_ = false;
    BlockFile statsFile_;
    VcfWriter vcf_;
    MsWriter ms_;
    std::string row_;
    std::vector<MsatLocusStatistics> lociStats_;
    std::vector<DemeMsatStatistics> demeStats_;
};

} // namespace quenlith
