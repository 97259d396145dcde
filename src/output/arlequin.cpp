#include "output/arlequin.h"

#include "output/alignment.h"

namespace quenlith {

namespace {

constexpr const char* kEol = "\r\n";

void appendLine(std::string& out, const std::string& line) {
    out += line;
    out += kEol;
}

void appendHead(std::string& out, bool dna, bool genotypic, const char* sampleName,
                int32_t sampleSize) {
    appendLine(out, "[Profile]");
    if (dna) {
        appendLine(out, "   Title=\"DNA sequence data generated using coalescent simulations\"");
        appendLine(out, "   NbSamples=1");
        appendLine(out, genotypic ? "   GenotypicData=1" : "   GenotypicData=0");
        appendLine(out, "   DataType=DNA");
        appendLine(out, "   LocusSeparator=NONE");
    } else {
        appendLine(out, "   Title=\"Microsatellite data generated using coalescent simulations\"");
        appendLine(out, "   NbSamples=1");
        appendLine(out, "   GenotypicData=1");
        appendLine(out, "   GameticPhase=0");
        appendLine(out, "   DataType=MICROSAT");
        appendLine(out, "   LocusSeparator=WHITESPACE");
    }
    appendLine(out, "[Data]");
    appendLine(out, " [[Samples]]");
    appendLine(out, std::string("   SampleName=\"") + sampleName + "\"");
    appendLine(out, "   SampleSize=" + std::to_string(sampleSize));
    appendLine(out, "   SampleData= {");
}

// The start of a data line at position p of a pairing: the individual's number on its
// first copy, blanks up to the data column on its second.
void appendPairedPrefix(std::string& out, int32_t p) {
    if (p % 2 == 0)
        out += rightJustified(std::to_string(p / 2 + 1) + " ", 10) + " 1 ";
    else
        out += std::string(13, ' ');
}

} // namespace

std::string arlequinProjectPath(const std::string& workDir, int32_t s) {
    return workDir + "/Arlequin/sim_" + std::to_string(s) + ".arp";
}

std::string dnaArlequinProject(const SampleSequences& seqs,
                               const std::vector<int32_t>* pairingOrder) {
    const int32_t k = seqs.copies;
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

std::string msatArlequinProject(const AlleleSizes& sizes,
                                const std::vector<int32_t>& pairingOrder) {
    const int32_t k = sizes.copies;
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
    const std::string path = arlequinProjectPath(workDir, s);
    batch.write(path + kEol);
    writeWholeFile(path, project);
}

} // namespace quenlith
