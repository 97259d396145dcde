#include "output/vcf_writer.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>

namespace quenlith {

namespace {

unsigned char upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

bool endsWith(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

[[noreturn]] void fail(const std::string& path) {
    throwIoError(errno != 0 ? errno : EIO, path);
}

// The records are formatted by htslib against a header with this one contig, whose name is
// then replaced by the simulation's: the header in memory does not grow with the run.
constexpr std::string_view kContig = "sim0";

// The empty block that ends every BGZF file.
constexpr std::string_view kBgzfEof("\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00\x42\x43"
                                    "\x02\x00\x1b\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00",
                                    28);

} // namespace

// The text goes to the file in groups of whole lines of about a BGZF block's size, each
// group one write (compressed, in .vcf.gz, into whole BGZF blocks): a write that fails is
// taken back by BlockFile, so the file always ends with a whole record (and a whole block,
// closed with the end-of-file block). Group boundaries depend on the text alone, so a run
// and the join of its slices write the same bytes.
struct VcfWriter::Impl {
    std::string path;
    VcfLayout layout;
    bool compressed = false;
    BlockFile file;
    bcf_hdr_t* header = nullptr; // the samples and the one contig kContig
    bcf1_t* record = nullptr;
    bool headerWritten = false;
    int32_t headerLength = 0;
    std::vector<int32_t> genotypes;
    std::vector<int32_t> sites;
    std::string pending; // whole lines not yet written
    std::string packed;  // their BGZF blocks
    kstring_t line = {0, 0, nullptr};

    bool eofWritten = false;

    ~Impl() {
        // Not closed: the run failed elsewhere. The whole records held go out, and a
        // .vcf.gz is closed as a BGZF file, so that every reader takes what the file holds.
        if (file.isOpen() && !eofWritten) {
            try {
                flush();
                writeEof();
            } catch (...) {
            }
        }
        if (record) bcf_destroy(record);
        if (header) bcf_hdr_destroy(header);
        free(line.s);
    }

    void writeEof() {
        if (!compressed || eofWritten) return;
        eofWritten = true;
        file.write(kBgzfEof);
    }

    // Appends text that ends with a whole line.
    void add(std::string_view lines) {
        pending += lines;
        if (pending.size() >= BGZF_BLOCK_SIZE) flush();
    }

    void flush() {
        if (pending.empty()) return;
        std::string_view out = pending;
        if (compressed) {
            packed.clear();
            char block[BGZF_MAX_BLOCK_SIZE];
            for (size_t at = 0; at < pending.size(); at += BGZF_BLOCK_SIZE) {
                const size_t n = std::min<size_t>(BGZF_BLOCK_SIZE, pending.size() - at);
                size_t size = sizeof block;
                if (bgzf_compress(block, &size, pending.data() + at, n, -1) != 0)
                    throw RunError("Out of memory", path + " (compression)");
                packed.append(block, size);
            }
            out = packed;
        }
        try {
            file.write(out);
        } catch (...) {
            // What the file holds ends with a whole block: close it as a BGZF file.
            try {
                writeEof();
            } catch (...) {
            }
            pending.clear();
            throw;
        }
        pending.clear();
    }
};

VcfWriter::VcfWriter() = default;
VcfWriter::~VcfWriter() = default;

bool VcfWriter::isOpen() const {
    return impl_ && impl_->file.isOpen();
}

std::vector<std::string> VcfWriter::sampleNames(int32_t copies, bool diploid) {
    std::vector<std::string> names;
    const int32_t samples = diploid ? (copies + 1) / 2 : copies;
    for (int32_t i = 1; i <= samples; ++i)
        names.push_back((diploid ? "ind" : "copy") + std::to_string(i));
    return names;
}

void VcfWriter::open(const std::string& path, const VcfLayout& layout, WrittenFiles* written) {
    impl_ = std::make_unique<Impl>();
    impl_->path = path;
    impl_->layout = layout;
    impl_->compressed = endsWith(path, ".gz");
    impl_->file = BlockFile(path, true, written);
    impl_->record = bcf_init();
    if (!impl_->record) throw RunError("Out of memory");
}

void VcfWriter::writeHeader(int32_t length) {
    Impl& m = *impl_;
    m.headerLength = length;
    m.header = bcf_hdr_init("w");
    if (!m.header) throw RunError("Out of memory");
    auto append = [&](const std::string& line) {
        if (bcf_hdr_append(m.header, line.c_str()) != 0) throw RunError("Out of memory");
    };
    append("##source=quenlith " QUENLITH_VERSION);
    const std::string lengthText = length > 0 ? ",length=" + std::to_string(length) : "";
    const std::string placeholder = "##contig=<ID=" + std::string(kContig) + lengthText + ">\n";
    append(placeholder.substr(0, placeholder.size() - 1));
    append("##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">");
    const std::vector<std::string> names = m.layout.sampleNames.empty()
                                               ? sampleNames(m.layout.copies, m.layout.diploid)
                                               : m.layout.sampleNames;
    for (size_t i = 0; i < m.layout.samplePopulations.size() && i < names.size(); ++i)
        append("##SAMPLE=<ID=" + names[i] + ",Population=" + m.layout.samplePopulations[i] + ">");
    for (const std::string& name : names)
        if (bcf_hdr_add_sample(m.header, name.c_str()) != 0) throw RunError("Out of memory");
    if (bcf_hdr_sync(m.header) != 0) throw RunError("Out of memory");
    kstring_t text = {0, 0, nullptr};
    if (bcf_hdr_format(m.header, 0, &text) != 0) {
        free(text.s);
        throw RunError("Out of memory");
    }
    const std::string whole(text.s, text.l);
    free(text.s);
    // The contig lines of the simulations, in place of the one the header holds, one after
    // the other as they are written.
    const size_t at = whole.find(placeholder);
    if (at == std::string::npos) throw RunError("Range check error", "VCF header");
    m.add(std::string_view(whole).substr(0, at));
    for (int64_t s = m.layout.firstSimulation;
         s < m.layout.firstSimulation + m.layout.simulationCount; ++s)
        m.add("##contig=<ID=sim" + std::to_string(s) + lengthText + ">\n");
    m.add(std::string_view(whole).substr(at + placeholder.size()));
    m.headerWritten = true;
}

void VcfWriter::addSimulation(int64_t simulation, const SampleSequences& seqs,
                              std::string_view root, const std::vector<int32_t>& order) {
    Impl& m = *impl_;
    if (!m.headerWritten) writeHeader(seqs.length);
    const int32_t k = seqs.copies;
    const bool diploid = m.layout.diploid;
    if (static_cast<int32_t>(order.size()) != k)
        throw RunError("Range check error", "VCF: no order of the copies");
    const std::string contig = "sim" + std::to_string(simulation);
    if (simulation < m.layout.firstSimulation ||
        simulation >= m.layout.firstSimulation + m.layout.simulationCount)
        throw RunError("Range check error", "VCF: simulation " + contig + " not declared");
    const int rid = 0;

    m.sites.assign(seqs.hitSites.begin(), seqs.hitSites.end());
    std::sort(m.sites.begin(), m.sites.end());
    const int32_t samples = diploid ? (k + 1) / 2 : k;
    const int32_t ploidy = diploid ? 2 : 1;
    m.genotypes.assign(static_cast<size_t>(samples) * ploidy, 0);
    std::array<int, 256> alleleOf{};
    for (const int32_t j : m.sites) {
        // The bases present at the site, the root's first (REF), the others in A, C, G, T
        // order (any other byte after them).
        std::array<bool, 256> present{};
        for (int32_t i = 0; i < k; ++i)
            present[upper(seqs.copy(i)[j])] = true;
        const unsigned char ref = upper(root[static_cast<size_t>(j)]);
        std::string alleles(1, static_cast<char>(ref));
        int count = 0;
        for (int b = 0; b < 256; ++b)
            count += present[static_cast<size_t>(b)];
        if (count < 2) continue; // not segregating
        alleleOf[ref] = 0;
        int next = 1;
        for (const unsigned char b : {'A', 'C', 'G', 'T'}) {
            if (b == ref || !present[b]) continue;
            alleles += ',';
            alleles += static_cast<char>(b);
            alleleOf[b] = next++;
        }
        for (int b = 0; b < 256; ++b) {
            const auto u = static_cast<unsigned char>(b);
            if (!present[u] || u == ref || u == 'A' || u == 'C' || u == 'G' || u == 'T') continue;
            alleles += ',';
            alleles += static_cast<char>(u);
            alleleOf[u] = next++;
        }
        auto allele = [&](int32_t copy) { return alleleOf[upper(seqs.copy(copy)[j])]; };
        if (!diploid) {
            for (int32_t i = 0; i < k; ++i)
                m.genotypes[static_cast<size_t>(i)] =
                    bcf_gt_unphased(allele(order[static_cast<size_t>(i)] - 1));
        } else {
            for (int32_t ind = 0; ind < samples; ++ind) {
                const size_t p = static_cast<size_t>(2 * ind);
                m.genotypes[p] = bcf_gt_unphased(allele(order[p] - 1));
                // With k odd the last individual has one copy: a haploid genotype.
                m.genotypes[p + 1] = p + 1 < static_cast<size_t>(k)
                                         ? bcf_gt_phased(allele(order[p + 1] - 1))
                                         : bcf_int32_vector_end;
            }
        }
        bcf_clear(m.record);
        m.record->rid = rid;
        m.record->pos = j; // 0-based: POS j + 1
        if (bcf_update_alleles_str(m.header, m.record, alleles.c_str()) != 0 ||
            bcf_update_genotypes(m.header, m.record, m.genotypes.data(),
                                 static_cast<int>(m.genotypes.size())) != 0)
            throw RunError("Out of memory");
        m.line.l = 0;
        if (vcf_format(m.header, m.record, &m.line) != 0) throw RunError("Out of memory");
        const std::string_view text(m.line.s, m.line.l);
        m.pending += contig;
        m.add(text.substr(kContig.size()));
    }
}

void VcfWriter::copyRecordsFrom(const std::string& path) {
    Impl& m = *impl_;
    if (!m.headerWritten) writeHeader(m.layout.sequenceLength);
    // Failures reach the user as the join's own error; htslib's messages would repeat them.
    hts_set_log_level(HTS_LOG_OFF);
    errno = 0;
    htsFile* in = hts_open(path.c_str(), "r");
    if (!in) fail(path);
    struct Closer {
        htsFile* in;
        kstring_t line = {0, 0, nullptr};
        ~Closer() {
            free(line.s);
            hts_close(in);
        }
    } closer{in};
    // The records as text (lines: KS_SEP_LINE, 2), the header's lines left out: nothing of the
    // slice's header is kept.
    int status;
    while ((status = hts_getline(in, 2, &closer.line)) >= 0) {
        const std::string_view line(closer.line.s, closer.line.l);
        if (line.empty() || line[0] == '#') continue;
        if (line.compare(0, 3, "sim") != 0)
            throw RunError("Cannot join the slices", path + " holds a record of no simulation");
        m.pending += line;
        m.add("\n");
    }
    if (status < -1) throw RunError("Cannot join the slices", path + ": a record cannot be read");
}

void VcfWriter::close() {
    if (!isOpen()) return;
    Impl& m = *impl_;
    if (!m.headerWritten) writeHeader(m.layout.sequenceLength);
    m.flush();
    m.writeEof();
    m.file.close();
}

void VcfWriter::closeAfter(int64_t simulations) {
    if (!isOpen()) return;
    const VcfLayout planned = impl_->layout;
    const int32_t length = impl_->headerWritten ? impl_->headerLength : planned.sequenceLength;
    const std::string path = impl_->path;
    WrittenFiles* const written = impl_->file.written();
    close();
    if (simulations >= planned.simulationCount) return;
    // The records are those of the simulations written: copied under the header of a run
    // of that many.
    VcfLayout layout = planned;
    layout.simulationCount = std::max<int64_t>(simulations, 0);
    layout.sequenceLength = length;
    const std::string part = path + ".part";
    VcfWriter rewritten;
    rewritten.open(part, layout, written);
    rewritten.impl_->compressed = endsWith(path, ".gz");
    rewritten.copyRecordsFrom(path);
    rewritten.close();
    renameWrittenFile(part, path, written);
}

} // namespace quenlith
