#include "output/alignment.h"

namespace quenlith {

const char* outputFormatName(OutputFormat f) {
    switch (f) {
    case OutputFormat::Clustal:
        return "Clustal";
    case OutputFormat::Nexus:
        return "Nexus";
    case OutputFormat::Fasta:
        return "Fasta";
    case OutputFormat::MrBayes:
        return "MrBayes";
    }
    return "Nexus";
}

namespace {

constexpr const char* kEol = "\r\n";

// One copy as a block writes it: its column and the name parts.
struct CopyEntry {
    int32_t column;     // 0-based column of SampleSequences
    int32_t number;     // copy number c (1-based)
    int32_t individual; // J: positions 2i and 2i + 1 form individual i + 1
};

std::vector<CopyEntry> copyEntries(int32_t k, const std::vector<int32_t>* pairingOrder) {
    std::vector<CopyEntry> entries;
    entries.reserve(static_cast<size_t>(k));
    for (int32_t p = 0; p < k; ++p) {
        const int32_t c = pairingOrder ? (*pairingOrder)[static_cast<size_t>(p)] : p + 1;
        entries.push_back({c - 1, c, p / 2 + 1});
    }
    return entries;
}

// The name of a copy of a model's sample without the simulation: NAME_i (haploid),
// NAME_j_i (diploid, j the individual of the deme) or, with `individualOnly`, NAME_j.
std::string demeCopyName(const DemeGroups& demes, const CopyEntry& e, bool diploid,
                         bool individualOnly) {
    const DemeGroups::Place at = demes.place(e.number);
    const std::string& deme = demes.names[at.deme];
    if (!diploid) return deme + "_" + std::to_string(at.number);
    const std::string individual = deme + "_" + std::to_string((at.number + 1) / 2);
    return individualOnly ? individual : individual + "_" + std::to_string(at.number);
}

void appendNexusData(const SampleSequences& seqs, int32_t s, const std::vector<CopyEntry>& copies,
                     bool diploid, const char* individualPrefix, const DemeGroups* demes,
                     std::string& out) {
    const std::string sim = std::to_string(s);
    out += "#NEXUS";
    out += kEol;
    out += kEol;
    out += "BEGIN DATA;";
    out += kEol;
    out += "DIMENSIONS NTAX=" + std::to_string(seqs.copies) +
           " NCHAR=" + std::to_string(seqs.length) + ";";
    out += kEol;
    out += "FORMAT DATATYPE=DNA;";
    out += kEol;
    out += "MATRIX";
    out += kEol;
    for (const CopyEntry& e : copies) {
        if (demes)
            out += demeCopyName(*demes, e, diploid, false) + "_" + sim;
        else if (diploid)
            out += individualPrefix + std::to_string(e.individual) + "_" +
                   std::to_string(e.number) + "_" + sim;
        else
            out += std::to_string(e.number) + "_" + sim;
        out += kEol;
        appendSequenceText(seqs, e.column, out);
        out += kEol;
    }
    out += ";";
    out += kEol;
    out += "end;";
    out += kEol;
    out += kEol;
}

} // namespace

std::string rightJustified(const std::string& text, size_t width) {
    if (text.size() >= width) return text;
    return std::string(width - text.size(), ' ') + text;
}

void appendSequenceText(const SampleSequences& seqs, int32_t column, std::string& out) {
    const size_t n = static_cast<size_t>(seqs.length);
    const size_t start = out.size();
    out.append(seqs.copy(column), n);
    // Upper-cased in place through a local pointer (a store through the string itself could
    // change its size, so the compiler would reload it every byte), branch-free, in blocks of
    // a fixed count that GCC vectorises already at -O2.
    unsigned char* p = reinterpret_cast<unsigned char*>(out.data() + start);
    const auto upper = [](unsigned char c) {
        return static_cast<unsigned char>(c - (static_cast<unsigned char>(c - 'a') < 26 ? 32 : 0));
    };
    constexpr size_t kBlock = 32;
    size_t i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (size_t j = 0; j < kBlock; ++j)
            p[i + j] = upper(p[i + j]);
    for (; i < n; ++i)
        p[i] = upper(p[i]);
}

void appendAlignmentBlock(const SampleSequences& seqs, int32_t s,
                          const std::vector<int32_t>* pairingOrder, const AlignmentLayout& layout,
                          std::string& out) {
    const bool diploid = pairingOrder != nullptr;
    const DemeGroups* demes = layout.demes && !layout.demes->empty() ? layout.demes : nullptr;
    const std::vector<CopyEntry> copies = copyEntries(seqs.copies, pairingOrder);
    const std::string sim = std::to_string(s);
    switch (layout.format) {
    case OutputFormat::Fasta:
        // A count header, then names right-justified in ten characters before each sequence.
        out += std::to_string(seqs.copies) + " " + std::to_string(seqs.length);
        out += kEol;
        for (const CopyEntry& e : copies) {
            const int32_t name = diploid ? e.individual : e.number;
            // Names longer than ten characters with the blank are written whole: the layout
            // is relaxed PHYLIP, a name ends at the first blank.
            out += rightJustified(
                (demes ? demeCopyName(*demes, e, diploid, true) : std::to_string(name)) + "_" +
                    sim + " ",
                10);
            appendSequenceText(seqs, e.column, out);
            out += kEol;
        }
        out += kEol;
        break;
    case OutputFormat::Clustal:
        for (const CopyEntry& e : copies) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on ">" + string.
            if (demes) {
                out += '>';
                out += demeCopyName(*demes, e, diploid, false);
                out += '_';
                out += sim;
                out += kEol;
                appendSequenceText(seqs, e.column, out);
                out += kEol;
                continue;
            }
            if (diploid) {
                out += ">Ind_";
                out += std::to_string(e.individual);
                out += '_';
            } else {
                out += '>';
            }
            out += std::to_string(e.number);
            out += '_';
            out += sim;
            out += kEol;
            appendSequenceText(seqs, e.column, out);
            out += kEol;
        }
        out += kEol;
        break;
    case OutputFormat::Nexus:
        appendNexusData(seqs, s, copies, diploid, "Ind_", demes, out);
        break;
    case OutputFormat::MrBayes:
        appendNexusData(seqs, s, copies, diploid, "Ind", demes, out);
        out += "begin mrbayes;";
        out += kEol;
        out += "set autoclose=yes;";
        out += kEol;
        {
            // nst=1 with free base frequencies is F81, nst=2 HKY85; the equal-frequency models
            // fix the frequencies so that MrBayes analyses the model that simulated the data.
            const bool oneRate =
                layout.model == SubstitutionModel::JC69 || layout.model == SubstitutionModel::F81;
            const bool equalFreqs =
                layout.model == SubstitutionModel::JC69 || layout.model == SubstitutionModel::K2P;
            out += "lset nst=";
            out += oneRate ? "1" : "2";
            out += " ";
            if (layout.gammaRates) out += "rates=gamma";
            out += ";";
            out += kEol;
            if (equalFreqs) {
                out += "prset statefreqpr=fixed(equal);";
                out += kEol;
            }
        }
        // Each simulation's chain writes files of its own name, so that the blocks of one
        // file do not overwrite each other's results.
        out += "mcmc ngen=1000 printfreq=100 samplefreq=10 nchains=4 savebrlens=yes filename=sim_";
        out += sim;
        out += ";";
        out += kEol;
        out += "end;";
        out += kEol;
        break;
    }
}

} // namespace quenlith
