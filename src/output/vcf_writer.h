#pragma once
// The segregating sites of every simulation of a DNA run as one VCF file, written with
// htslib: one contig per simulation ("sim<s>", the sequence length as its length), the
// root's base as REF and the other bases present as ALT, haploid genotypes (one sample per
// copy, in the order given, a random one in a run) or phased diploid ones (one sample per
// individual of the pairing). A name ending in ".gz" is written BGZF-compressed.
#include "dna/substitution.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quenlith {

class WrittenFiles;

struct VcfLayout {
    int32_t copies = 0;          // k
    bool diploid = false;        // samples are the individuals of the pairing
    int64_t firstSimulation = 1; // contigs sim<first> .. sim<first + count - 1>
    int64_t simulationCount = 0;
    // Sample names and their populations (one "##SAMPLE" header line each), when not those
    // of sampleNames(copies, diploid): a run with a demographic model.
    std::vector<std::string> sampleNames, samplePopulations;
    int32_t sequenceLength = 0; // the contigs' length; 0: that of the first simulation
};

class VcfWriter {
  public:
    VcfWriter();
    ~VcfWriter();
    VcfWriter(const VcfWriter&) = delete;
    VcfWriter& operator=(const VcfWriter&) = delete;

    // Creates the file (recorded in `written` when given); the header follows with the first
    // simulation (it needs L).
    void open(const std::string& path, const VcfLayout& layout, WrittenFiles* written = nullptr);
    // `order` lists the copy numbers 1 .. k: haploid sample i holds copy order[i]; in diploid
    // runs positions 2i and 2i + 1 form individual i + 1.
    void addSimulation(int64_t simulation, const SampleSequences& seqs, std::string_view root,
                       const std::vector<int32_t>& order);
    // Appends the records of another file of the same run (a slice's VCF, whose contigs are
    // among this file's) in their order; the header takes its length from that file when
    // no simulation came before.
    void copyRecordsFrom(const std::string& path);
    void close();
    // Closes a file of a run that ended early, after `simulations` whole simulations: its
    // header then declares those alone, as that of a run of that many (the file is written
    // anew beside it and renamed over it).
    void closeAfter(int64_t simulations);
    bool isOpen() const;

    // Sample names: copy1 .. copyk, or ind1 .. ind<ceil(k/2)>.
    static std::vector<std::string> sampleNames(int32_t copies, bool diploid);

  private:
    void writeHeader(int32_t length);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quenlith
