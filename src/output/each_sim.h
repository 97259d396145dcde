#pragma once
// One data set per file: for every simulation s, files sim_<s>.<ext> in a folder of their
// own, in the layouts that phylogenetics and population-genetics tools read as they are:
// FASTA, relaxed sequential PHYLIP, NEXUS (a DATA block, one line per taxon), the genealogy
// as Newick, and for microsatellites GenePop. A manifest (manifest.tsv) lists them.
//
// Every gene copy has one name in every file of its simulation: "ind<i>" in a haploid DNA
// run, "ind<i>a" and "ind<i>b" for the two copies of diploid individual i. The names hold
// no underscore, which NEXUS and Newick readers take for a blank.
#include "base/deme_groups.h"
#include "base/file_io.h"
#include "dna/substitution.h"
#include "genealogy/gene_tree.h"
#include "msat/msat_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

inline constexpr const char* kEachSimManifest = "manifest.tsv";

struct EachSimFormats {
    bool fasta = false;
    bool phylip = false;
    bool nexus = false;
};

// Reads a comma-separated list of fasta, phylip and nexus (any case, blanks ignored). Returns
// an error text, empty on success; an empty list is refused.
std::string parseEachSimFormats(const std::string& text, EachSimFormats& formats);

// The names of the copies by their column (0-based), and the order in which the files list
// them. `pairing` holds the copy numbers 1 .. k by position (positions 2i and 2i + 1 form
// individual i + 1); null for a haploid sample, whose copy c is individual c. With a model's
// `demes` the names carry the deme and the number within it: A_3 (haploid), A_2a and A_2b
// (the two copies of individual 2 of deme A, paired within the deme).
struct CopyNames {
    std::vector<std::string> byColumn;
    std::vector<int32_t> order; // columns, in the order of the individuals
};
CopyNames eachSimCopyNames(int32_t k, const std::vector<int32_t>* pairing,
                           const DemeGroups* demes = nullptr);

// The layouts of one simulation (LF line ends). Sequences are upper-cased.
void appendFastaAlignment(const SampleSequences& seqs, const CopyNames& names, std::string& out);
// Relaxed sequential PHYLIP: "k L", then per taxon its name left-aligned and padded with
// blanks to at least ten characters, one blank at least, and its sequence on the same line.
void appendPhylipAlignment(const SampleSequences& seqs, const CopyNames& names, std::string& out);
void appendNexusAlignment(const SampleSequences& seqs, const CopyNames& names, std::string& out);
// GenePop: a title line, one locus name per line, "Pop", then one line per diploid individual
// "ind<i>," and per locus its two allele codes of three digits. A locus whose sizes all lie
// in 1 .. 999 is written by size; otherwise its codes are the sizes shifted so that the
// smallest is 001 (the title line gives the shift), or, when they span more than 999
// values, the rank of the size among the locus's sizes. An odd last copy is in no individual.
// With a model's `demes`, one "Pop" per deme and its individuals named A_1, A_2, ...
void appendGenePop(const AlleleSizes& sizes, const std::vector<int32_t>& pairing, int64_t s,
                   std::string& out, const DemeGroups* demes = nullptr);

// The name of simulation s's file with `ext`, its number zero-padded to `width` digits.
std::string eachSimFileName(int64_t s, int width, const char* ext);
// The digits of the file names of a run whose last simulation is `last`: at least six.
int eachSimDigits(int64_t last);

struct EachSimSettings {
    std::string folder; // path of the folder (created when missing)
    EachSimFormats formats;
    bool alignments = true; // false: the sequences keep the root's bases, trees only
    bool msats = false;
    bool diploid = false;       // DNA: pair the copies into individuals
    uint64_t seed = 0;          // keys the pairing when the run drew none
    int64_t lastSimulation = 1; // sets the digits of the names
    DemeGroups demes;           // a model's sampled demes, empty without one
};

class EachSimFiles {
  public:
    // Creates the folder, removes the sim_* files and the manifest an earlier run left there
    // and starts the manifest (recorded in `written` when given; the sim_* files, of which a
    // run may write millions, are not). Throws RunError when the folder cannot be made.
    void open(const EachSimSettings& settings, WrittenFiles* written = nullptr);
    bool isOpen() const { return open_; }

    // One DNA simulation. `pairing` is the run's own pairing of the copies when it drew one
    // for this simulation, else null (a diploid run then pairs as the VCF does). The tree's
    // leaves are named after their rows.
    void addDna(int64_t s, const GeneTree& tree, const SampleSequences& seqs,
                const std::vector<int32_t>* pairing);
    // One microsatellite simulation: a genealogy per locus (one tree per line), the GenePop
    // file. The copies are always paired into diploid individuals.
    void addMsat(int64_t s, const std::vector<GeneTree>& trees, const AlleleSizes& sizes,
                 const std::vector<int32_t>* pairing);
    void close();

  private:
    std::vector<int32_t> pairingOf(int64_t s, int32_t k, const std::vector<int32_t>* drawn) const;
    void put(const std::string& name, const std::string& text);
    void appendTree(const GeneTree& tree, const CopyNames& names);
    EachSimSettings settings_;
    bool open_ = false;
    int width_ = 6;
    BlockFile manifest_;
    std::string text_, row_;
};

// The manifest's header line for the files of a run (without its line end).
std::string eachSimManifestHeader(bool msats, bool alignments, const EachSimFormats& formats);

// Brings the per-simulation files of slices into the folder of the whole run: each slice's
// folder `sliceFolders[i]` (in simulation order) holds the files its manifest lists; they are
// linked (or copied, across file systems) into `outFolder` under the names of a run of
// `total` simulations, and the manifests joined (the manifest recorded in `written` when
// given). Throws RunError when a listed file is missing.
void joinEachSimFolders(const std::vector<std::string>& sliceFolders, const std::string& outFolder,
                        int64_t total, WrittenFiles* written = nullptr);

} // namespace quenlith
