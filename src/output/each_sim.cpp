#include "output/each_sim.h"

#include "base/random.h"
#include "base/run_error.h"
#include "output/alignment.h"
#include "output/newick.h"
#include "output/pairing.h"
#include "output/pipeline_outputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlith {

namespace fs = std::filesystem;

namespace {

const char* const kExtensions[] = {"fasta", "phy", "nex", "nwk", "gen"};

// "sim_<digits>.<one of the extensions>": the files this writer makes, and no other.
bool isEachSimFile(const std::string& name) {
    if (name.rfind("sim_", 0) != 0) return false;
    const size_t dot = name.find('.', 4);
    if (dot == std::string::npos || dot == 4) return false;
    for (size_t i = 4; i < dot; ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    const std::string ext = name.substr(dot + 1);
    return std::find(std::begin(kExtensions), std::end(kExtensions), ext) != std::end(kExtensions);
}

// Removes the files of this kind (regular files only) that a folder holds.
void removeEachSimFiles(const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> old;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (isEachSimFile(it->path().filename().string()) && it->is_symlink(ec) == false &&
            it->is_regular_file(ec))
            old.push_back(it->path());
    for (const fs::path& path : old)
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) throwIoError(errno, path.string());
}

// Writes a whole small file, leaving none when it cannot be written whole. These files are
// not recorded with the run's other files: a run may write millions of them.
void writeSmallFile(const std::string& path, const std::string& text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) throwIoError(errno, path);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            fd.reset();
            ::unlink(path.c_str());
            throwIoError(err, path);
        }
        done += static_cast<size_t>(n);
    }
    if (const int err = fd.close()) {
        ::unlink(path.c_str());
        throwIoError(err, path);
    }
}

void appendSequenceLine(const SampleSequences& seqs, int32_t column, std::string& out) {
    appendSequenceText(seqs, column, out);
    out += '\n';
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

std::string parseEachSimFormats(const std::string& text, EachSimFormats& formats) {
    formats = {};
    for (size_t start = 0; start <= text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        start = comma + 1;
        const size_t a = item.find_first_not_of(" \t");
        const size_t b = item.find_last_not_of(" \t");
        const std::string word = a == std::string::npos ? "" : lower(item.substr(a, b - a + 1));
        if (word.empty())
            return "a format is missing in '" + text +
                   "' (a comma-separated list of fasta, phylip, nexus)";
        if (word == "fasta")
            formats.fasta = true;
        else if (word == "phylip")
            formats.phylip = true;
        else if (word == "nexus")
            formats.nexus = true;
        else
            return "unknown format '" + item + "' (a comma-separated list of fasta, phylip, nexus)";
    }
    return {};
}

CopyNames eachSimCopyNames(int32_t k, const std::vector<int32_t>* pairing,
                           const DemeGroups* demes) {
    CopyNames n;
    n.byColumn.resize(static_cast<size_t>(k));
    n.order.reserve(static_cast<size_t>(k));
    for (int32_t p = 0; p < k; ++p) {
        const int32_t column = pairing ? (*pairing)[static_cast<size_t>(p)] - 1 : p;
        std::string name = "ind" + std::to_string(pairing ? p / 2 + 1 : p + 1);
        if (demes && !demes->empty()) {
            // The individual's place in its deme, from its first copy.
            const int32_t first = pairing ? (*pairing)[static_cast<size_t>(p - p % 2)] : p + 1;
            const DemeGroups::Place at = demes->place(first);
            name = demes->names[at.deme] + "_" +
                   std::to_string(pairing ? (at.number + 1) / 2 : at.number);
        }
        if (pairing) name += p % 2 == 0 ? "a" : "b";
        n.byColumn[static_cast<size_t>(column)] = std::move(name);
        n.order.push_back(column);
    }
    return n;
}

void appendFastaAlignment(const SampleSequences& seqs, const CopyNames& names, std::string& out) {
    for (const int32_t c : names.order) {
        out += '>';
        out += names.byColumn[static_cast<size_t>(c)];
        out += '\n';
        appendSequenceLine(seqs, c, out);
    }
}

void appendPhylipAlignment(const SampleSequences& seqs, const CopyNames& names, std::string& out) {
    size_t width = 10;
    for (const std::string& name : names.byColumn)
        width = std::max(width, name.size() + 1);
    out += std::to_string(seqs.copies) + " " + std::to_string(seqs.length) + "\n";
    for (const int32_t c : names.order) {
        const std::string& name = names.byColumn[static_cast<size_t>(c)];
        out += name;
        out.append(width - name.size(), ' ');
        appendSequenceLine(seqs, c, out);
    }
}

void appendNexusAlignment(const SampleSequences& seqs, const CopyNames& names, std::string& out) {
    size_t width = 0;
    for (const std::string& name : names.byColumn)
        width = std::max(width, name.size() + 1);
    out += "#NEXUS\n\nBEGIN DATA;\n";
    out += "  DIMENSIONS NTAX=" + std::to_string(seqs.copies) +
           " NCHAR=" + std::to_string(seqs.length) + ";\n";
    out += "  FORMAT DATATYPE=DNA MISSING=? GAP=-;\n  MATRIX\n";
    for (const int32_t c : names.order) {
        const std::string& name = names.byColumn[static_cast<size_t>(c)];
        out += "    ";
        out += name;
        out.append(width - name.size(), ' ');
        appendSequenceLine(seqs, c, out);
    }
    out += "  ;\nEND;\n";
}

void appendGenePop(const AlleleSizes& sizes, const std::vector<int32_t>& pairing, int64_t s,
                   std::string& out, const DemeGroups* demes) {
    if (demes && demes->empty()) demes = nullptr;
    const int32_t k = sizes.copies;
    const int32_t loci = sizes.loci;
    // The code of every size, locus by locus.
    std::vector<std::vector<int32_t>> distinct(static_cast<size_t>(loci));
    std::vector<int64_t> shift(static_cast<size_t>(loci), 0);
    std::vector<bool> ranked(static_cast<size_t>(loci), false);
    std::string notes;
    for (int32_t l = 0; l < loci; ++l) {
        std::vector<int32_t>& d = distinct[static_cast<size_t>(l)];
        for (int32_t c = 0; c < k; ++c)
            d.push_back(sizes.at(c, l));
        std::sort(d.begin(), d.end());
        d.erase(std::unique(d.begin(), d.end()), d.end());
        if (d.empty() || (d.front() >= 1 && d.back() <= 999)) continue;
        const int64_t span = int64_t{d.back()} - d.front() + 1;
        if (span <= 999) {
            shift[static_cast<size_t>(l)] = int64_t{d.front()} - 1;
            notes += "; locus" + std::to_string(l + 1) + " codes are sizes minus " +
                     std::to_string(shift[static_cast<size_t>(l)]);
        } else {
            ranked[static_cast<size_t>(l)] = true;
            notes += "; locus" + std::to_string(l + 1) + " codes are ranks of the sizes";
        }
    }
    const auto code = [&](int32_t copy, int32_t l) {
        const int32_t size = sizes.at(copy, l);
        int64_t value = size - shift[static_cast<size_t>(l)];
        if (ranked[static_cast<size_t>(l)]) {
            const auto& d = distinct[static_cast<size_t>(l)];
            value = std::lower_bound(d.begin(), d.end(), size) - d.begin() + 1;
        }
        std::string text = std::to_string(value);
        return std::string(3 - std::min<size_t>(3, text.size()), '0') + text;
    };
    out += "Simulation " + std::to_string(s) + " of quenlith" + notes + "\n";
    for (int32_t l = 1; l <= loci; ++l)
        out += "locus" + std::to_string(l) + "\n";
    if (!demes) out += "Pop\n";
    size_t deme = SIZE_MAX;
    for (int32_t i = 0; 2 * i + 1 < k; ++i) {
        if (demes) {
            // Pairs lie within a deme: a new deme starts a new Pop.
            const DemeGroups::Place at = demes->place(pairing[static_cast<size_t>(2 * i)]);
            if (at.deme != deme) out += "Pop\n";
            deme = at.deme;
            out += demes->names[at.deme] + "_" + std::to_string((at.number + 1) / 2) + ",";
        } else {
            out += "ind" + std::to_string(i + 1) + ",";
        }
        const int32_t first = pairing[static_cast<size_t>(2 * i)] - 1;
        const int32_t second = pairing[static_cast<size_t>(2 * i + 1)] - 1;
        for (int32_t l = 0; l < loci; ++l) {
            out += ' ';
            out += code(first, l);
            out += code(second, l);
        }
        out += '\n';
    }
}

int eachSimDigits(int64_t last) {
    return std::max<int>(6, static_cast<int>(std::to_string(std::max<int64_t>(last, 1)).size()));
}

std::string eachSimFileName(int64_t s, int width, const char* ext) {
    std::string digits = std::to_string(s);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return "sim_" + digits + "." + ext;
}

std::string eachSimManifestHeader(bool msats, bool alignments, const EachSimFormats& formats) {
    std::string h = msats ? "simulation\tcopies\tloci\ttree" : "simulation\tcopies\tsites\ttree";
    if (msats) return h + "\tgenepop";
    if (alignments && formats.fasta) h += "\tfasta";
    if (alignments && formats.phylip) h += "\tphylip";
    if (alignments && formats.nexus) h += "\tnexus";
    return h;
}

void EachSimFiles::open(const EachSimSettings& settings, WrittenFiles* written) {
    settings_ = settings;
    width_ = eachSimDigits(settings.lastSimulation);
    std::error_code ec;
    fs::create_directories(settings.folder, ec);
    if (!fs::is_directory(settings.folder, ec))
        throw RunError("File not found", settings.folder + ": the folder of the per-simulation "
                                                           "files cannot be created");
    // What an earlier run left would pass for files of this one.
    removeEachSimFiles(settings.folder);
    manifest_ = BlockFile(joinPath(settings.folder, kEachSimManifest), true, written);
    manifest_.write(eachSimManifestHeader(settings.msats, settings.alignments, settings.formats) +
                    "\n");
    open_ = true;
}

std::vector<int32_t> EachSimFiles::pairingOf(int64_t s, int32_t k,
                                             const std::vector<int32_t>* drawn) const {
    if (drawn) return *drawn;
    return PipelineOutputs::ownPairing(k, settings_.seed, s);
}

void EachSimFiles::put(const std::string& name, const std::string& text) {
    writeSmallFile(joinPath(settings_.folder, name), text);
    row_ += '\t';
    row_ += name;
}

// The Newick line of a tree, each leaf named after its row.
void EachSimFiles::appendTree(const GeneTree& tree, const CopyNames& names) {
    appendNewickTree(tree, &names.byColumn, text_);
    text_ += '\n';
}

void EachSimFiles::addDna(int64_t s, const GeneTree& tree, const SampleSequences& seqs,
                          const std::vector<int32_t>* pairing) {
    const int32_t k = seqs.copies;
    std::vector<int32_t> own;
    if (settings_.diploid) own = pairingOf(s, k, pairing);
    const CopyNames names =
        eachSimCopyNames(k, settings_.diploid ? &own : nullptr, &settings_.demes);
    row_ = std::to_string(s) + "\t" + std::to_string(k) + "\t" + std::to_string(seqs.length);
    text_.clear();
    appendTree(tree, names);
    put(eachSimFileName(s, width_, "nwk"), text_);
    if (settings_.alignments) {
        const EachSimFormats& f = settings_.formats;
        if (f.fasta) {
            text_.clear();
            appendFastaAlignment(seqs, names, text_);
            put(eachSimFileName(s, width_, "fasta"), text_);
        }
        if (f.phylip) {
            text_.clear();
            appendPhylipAlignment(seqs, names, text_);
            put(eachSimFileName(s, width_, "phy"), text_);
        }
        if (f.nexus) {
            text_.clear();
            appendNexusAlignment(seqs, names, text_);
            put(eachSimFileName(s, width_, "nex"), text_);
        }
    }
    row_ += '\n';
    manifest_.write(row_);
}

void EachSimFiles::addMsat(int64_t s, const std::vector<GeneTree>& trees, const AlleleSizes& sizes,
                           const std::vector<int32_t>* pairing) {
    const int32_t k = sizes.copies;
    const std::vector<int32_t> order = pairingOf(s, k, pairing);
    const CopyNames names = eachSimCopyNames(k, &order, &settings_.demes);
    row_ = std::to_string(s) + "\t" + std::to_string(k) + "\t" + std::to_string(sizes.loci);
    text_.clear();
    for (const GeneTree& tree : trees)
        appendTree(tree, names);
    put(eachSimFileName(s, width_, "nwk"), text_);
    text_.clear();
    appendGenePop(sizes, order, s, text_, &settings_.demes);
    put(eachSimFileName(s, width_, "gen"), text_);
    row_ += '\n';
    manifest_.write(row_);
}

void EachSimFiles::close() {
    manifest_.close();
    open_ = false;
}

void joinEachSimFolders(const std::vector<std::string>& sliceFolders, const std::string& outFolder,
                        int64_t total, WrittenFiles* written) {
    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (!fs::is_directory(outFolder, ec))
        throw RunError("File not found",
                       outFolder + ": the folder of the per-simulation files cannot be created");
    removeEachSimFiles(outFolder);
    const int width = eachSimDigits(total);
    std::string manifest;
    bool header = true;
    for (const std::string& folder : sliceFolders) {
        const std::string listPath = joinPath(folder, kEachSimManifest);
        std::ifstream in(listPath, std::ios::binary);
        if (!in)
            throw RunError("Cannot join the slices", "incomplete slice: " + listPath +
                                                         " is missing although its run wrote one");
        std::string line;
        bool first = true;
        while (std::getline(in, line)) {
            if (first) {
                first = false;
                if (header) manifest += line + "\n";
                header = false;
                continue;
            }
            // simulation, copies, sites or loci, then the files.
            std::vector<std::string> cells;
            std::stringstream row(line);
            for (std::string cell; std::getline(row, cell, '\t');)
                cells.push_back(cell);
            if (cells.size() < 4)
                throw RunError("Cannot join the slices", listPath + ": a row without its files");
            if (cells[0].empty() || cells[0].find_first_not_of("0123456789") != std::string::npos ||
                cells[0].size() > 10)
                throw RunError("Cannot join the slices", listPath + ": a row without its number");
            const int64_t s = std::stoll(cells[0]);
            std::string out = cells[0] + "\t" + cells[1] + "\t" + cells[2];
            for (size_t i = 3; i < cells.size(); ++i) {
                const std::string& name = cells[i];
                const size_t dot = name.rfind('.');
                const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
                const std::string to = eachSimFileName(s, width, ext.c_str());
                const std::string from = joinPath(folder, name);
                const std::string target = joinPath(outFolder, to);
                // A link keeps the slice whole and costs no space; a copy across file systems.
                if (::link(from.c_str(), target.c_str()) != 0) {
                    if (!fs::exists(from, ec))
                        throw RunError("Cannot join the slices",
                                       "incomplete slice: " + from + " is missing");
                    fs::copy_file(from, target, fs::copy_options::overwrite_existing, ec);
                    if (ec) throwIoError(ec.value(), target);
                }
                out += "\t" + to;
            }
            manifest += out + "\n";
        }
    }
    writeWholeFile(joinPath(outFolder, kEachSimManifest), manifest, written);
}

} // namespace quenlith
