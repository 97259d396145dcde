#include "output/arlequin.h"

#include "output/alignment.h"

namespace quenlith {

namespace {

constexpr const char* kEol = "\r\n";

void appendLine(std::string& out, const std::string& line) {
    out += line;
    out += kEol;
}

void appendProfile(std::string& out, bool dna, bool genotypic, size_t samples) {
    const std::string nbSamples = "   NbSamples=" + std::to_string(samples);
    appendLine(out, "[Profile]");
    if (dna) {
        appendLine(out, "   Title=\"DNA sequence data generated using coalescent simulations\"");
        appendLine(out, nbSamples);
        appendLine(out, genotypic ? "   GenotypicData=1" : "   GenotypicData=0");
        appendLine(out, "   DataType=DNA");
        appendLine(out, "   LocusSeparator=NONE");
    } else {
        appendLine(out, "   Title=\"Microsatellite data generated using coalescent simulations\"");
        appendLine(out, nbSamples);
        appendLine(out, "   GenotypicData=1");
        appendLine(out, "   GameticPhase=0");
        appendLine(out, "   DataType=MICROSAT");
        appendLine(out, "   LocusSeparator=WHITESPACE");
    }
    appendLine(out, "[Data]");
    appendLine(out, " [[Samples]]");
}

void appendSampleHead(std::string& out, const std::string& sampleName, int32_t sampleSize) {
    appendLine(out, "   SampleName=\"" + sampleName + "\"");
    appendLine(out, "   SampleSize=" + std::to_string(sampleSize));
    appendLine(out, "   SampleData= {");
}

void appendHead(std::string& out, bool dna, bool genotypic, const char* sampleName,
                int32_t sampleSize) {
    appendProfile(out, dna, genotypic, 1);
    appendSampleHead(out, sampleName, sampleSize);
}

// The start of a data line at position p of a pairing: the individual's number on its
// first copy, blanks up to the data column on its second.
void appendPairedPrefix(std::string& out, int32_t p) {
    if (p % 2 == 0)
        out += rightJustified(std::to_string(p / 2 + 1) + " ", 10) + " 1 ";
    else
        out += std::string(13, ' ');
}

// A project of one sample per deme: per deme its head and its data lines (the line of
// position p), then the structure that groups them all.
template <typename AppendData>
std::string demeProject(bool dna, bool genotypic, const DemeGroups& demes, AppendData&& data) {
    std::string out;
    appendProfile(out, dna, genotypic, demes.names.size());
    for (size_t d = 0; d < demes.names.size(); ++d) {
        const int32_t n = demes.counts[d];
        appendSampleHead(out, demes.names[d], genotypic ? n / 2 : n);
        const int32_t first = demes.start(d);
        for (int32_t i = 0; i < (genotypic ? n / 2 * 2 : n); ++i) {
            // Copies (individuals) named as in the other files, A_i; a second copy of an
            // individual has no name and no frequency.
            const std::string name =
                demes.names[d] + "_" + std::to_string(genotypic ? i / 2 + 1 : i + 1);
            if (genotypic && i % 2 == 1)
                out += std::string(13, ' ');
            else
                out += rightJustified(name + " ", 10) + " 1 ";
            data(out, first + i);
            out += kEol;
        }
        appendLine(out, "}");
    }
    appendLine(out, "");
    appendLine(out, " [[Structure]]");
    appendLine(out, "   StructureName=\"The sampled demes\"");
    appendLine(out, "   NbGroups=1");
    appendLine(out, "   Group={");
    for (const std::string& name : demes.names)
        appendLine(out, "      \"" + name + "\"");
    appendLine(out, "   }");
    return out;
}

} // namespace

std::string arlequinProjectPath(const std::string& workDir, int32_t s) {
    return workDir + "/Arlequin/sim_" + std::to_string(s) + ".arp";
}

std::string dnaArlequinProject(const SampleSequences& seqs,
                               const std::vector<int32_t>* pairingOrder, const DemeGroups* demes) {
    const int32_t k = seqs.copies;
    if (demes && !demes->empty())
        return demeProject(true, pairingOrder != nullptr, *demes, [&](std::string& out, int32_t p) {
            appendSequenceText(seqs, pairingOrder ? (*pairingOrder)[static_cast<size_t>(p)] - 1 : p,
                               out);
        });
    std::string out;
    out.reserve(512 + static_cast<size_t>(k) * (static_cast<size_t>(seqs.length) + 16));
    if (pairingOrder) {
        appendHead(out, true, true, "Homogenous population", k / 2);
        for (int32_t p = 0; p < k; ++p) {
            appendPairedPrefix(out, p);
            appendSequenceText(seqs, (*pairingOrder)[static_cast<size_t>(p)] - 1, out);
            out += kEol;
        }
    } else {
        appendHead(out, true, false, "Panmictic population", k);
        for (int32_t i = 1; i <= k; ++i) {
            out += rightJustified(std::to_string(i) + " ", 10) + " 1 ";
            appendSequenceText(seqs, i - 1, out);
            out += kEol;
        }
    }
    appendLine(out, "}");
    return out;
}

std::string msatArlequinProject(const AlleleSizes& sizes, const std::vector<int32_t>& pairingOrder,
                                const DemeGroups* demes) {
    const int32_t k = sizes.copies;
    if (demes && !demes->empty())
        return demeProject(false, true, *demes, [&](std::string& out, int32_t p) {
            const int32_t row = pairingOrder[static_cast<size_t>(p)] - 1;
            for (int32_t l = 0; l < sizes.loci; ++l) {
                out += std::to_string(sizes.at(row, l));
                out += ' ';
            }
        });
    std::string out;
    appendHead(out, false, true, "Panmictic population", k / 2);
    for (int32_t p = 0; p < k; ++p) {
        appendPairedPrefix(out, p);
        const int32_t row = pairingOrder[static_cast<size_t>(p)] - 1;
        for (int32_t l = 0; l < sizes.loci; ++l) {
            out += std::to_string(sizes.at(row, l));
            out += ' ';
        }
        out += kEol;
    }
    appendLine(out, "}");
    return out;
}

void writeArlequinProject(BlockFile& batch, const std::string& workDir, int32_t s,
                          const std::string& project) {
    appendArlequinBatchLine(batch, workDir, s);
    writeArlequinProjectFile(workDir, s, project, batch.written());
}

void appendArlequinBatchLine(BlockFile& batch, const std::string& workDir, int32_t s) {
    batch.write(arlequinProjectPath(workDir, s) + kEol);
}

void writeArlequinProjectFile(const std::string& workDir, int32_t s, const std::string& project,
                              WrittenFiles* written) {
    writeWholeFile(arlequinProjectPath(workDir, s), project, written);
}

} // namespace quenlith
