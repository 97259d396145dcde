#include "output/vcf_writer.h"

#include "base/run_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

#include <htslib/hts.h>
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

} // namespace

struct VcfWriter::Impl {
    std::string path;
    VcfLayout layout;
    htsFile* file = nullptr;
    bcf_hdr_t* header = nullptr;
    bcf1_t* record = nullptr;
    bool headerWritten = false;
    std::vector<int32_t> genotypes;
    std::vector<int32_t> sites;

    ~Impl() {
        if (record) bcf_destroy(record);
        if (header) bcf_hdr_destroy(header);
        if (file) hts_close(file);
    }
};

VcfWriter::VcfWriter() = default;
VcfWriter::~VcfWriter() = default;

bool VcfWriter::isOpen() const {
    return impl_ && impl_->file;
}

std::vector<std::string> VcfWriter::sampleNames(int32_t copies, bool diploid) {
    std::vector<std::string> names;
    const int32_t samples = diploid ? (copies + 1) / 2 : copies;
    for (int32_t i = 1; i <= samples; ++i)
        names.push_back((diploid ? "ind" : "copy") + std::to_string(i));
    return names;
}

void VcfWriter::open(const std::string& path, const VcfLayout& layout) {
    impl_ = std::make_unique<Impl>();
    impl_->path = path;
    impl_->layout = layout;
    // Failures reach the user as the run's own error; htslib's messages would repeat them.
    hts_set_log_level(HTS_LOG_OFF);
    errno = 0;
    impl_->file = hts_open(path.c_str(), endsWith(path, ".gz") ? "wz" : "w");
    if (!impl_->file) fail(path);
    impl_->record = bcf_init();
    if (!impl_->record) throw RunError("Out of memory");
}

void VcfWriter::writeHeader(int32_t length) {
    Impl& m = *impl_;
    m.header = bcf_hdr_init("w");
    if (!m.header) throw RunError("Out of memory");
    auto append = [&](const std::string& line) {
        if (bcf_hdr_append(m.header, line.c_str()) != 0) throw RunError("Out of memory");
    };
    append("##source=quenlith " QUENLITH_VERSION);
    const std::string lengthText = length > 0 ? ",length=" + std::to_string(length) : "";
    for (int64_t s = m.layout.firstSimulation;
         s < m.layout.firstSimulation + m.layout.simulationCount; ++s)
        append("##contig=<ID=sim" + std::to_string(s) + lengthText + ">");
    append("##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">");
    for (const std::string& name : sampleNames(m.layout.copies, m.layout.diploid))
        if (bcf_hdr_add_sample(m.header, name.c_str()) != 0) throw RunError("Out of memory");
    if (bcf_hdr_sync(m.header) != 0) throw RunError("Out of memory");
    errno = 0;
    if (bcf_hdr_write(m.file, m.header) != 0) fail(m.path);
    m.headerWritten = true;
}

void VcfWriter::addSimulation(int64_t simulation, const SampleSequences& seqs,
                              std::string_view root, const std::vector<int32_t>* pairing) {
    Impl& m = *impl_;
    if (!m.headerWritten) writeHeader(seqs.length);
    const int32_t k = seqs.copies;
    const bool diploid = m.layout.diploid;
    if (diploid && (!pairing || static_cast<int32_t>(pairing->size()) != k))
        throw RunError("Range check error", "VCF: no pairing of the copies into individuals");
    const std::string contig = "sim" + std::to_string(simulation);
    const int rid = bcf_hdr_name2id(m.header, contig.c_str());
    if (rid < 0) throw RunError("Range check error", "VCF: simulation " + contig + " not declared");

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
                m.genotypes[static_cast<size_t>(i)] = bcf_gt_unphased(allele(i));
        } else {
            for (int32_t ind = 0; ind < samples; ++ind) {
                const size_t p = static_cast<size_t>(2 * ind);
                m.genotypes[p] = bcf_gt_unphased(allele((*pairing)[p] - 1));
                // With k odd the last individual has one copy: a haploid genotype.
                m.genotypes[p + 1] = p + 1 < static_cast<size_t>(k)
                                         ? bcf_gt_phased(allele((*pairing)[p + 1] - 1))
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
        errno = 0;
        if (bcf_write(m.file, m.header, m.record) != 0) fail(m.path);
    }
}

void VcfWriter::copyRecordsFrom(const std::string& path) {
    Impl& m = *impl_;
    errno = 0;
    htsFile* in = hts_open(path.c_str(), "r");
    if (!in) fail(path);
    bcf_hdr_t* header = bcf_hdr_read(in);
    bcf1_t* record = bcf_init();
    struct Closer {
        htsFile* in;
        bcf_hdr_t* header;
        bcf1_t* record;
        ~Closer() {
            if (record) bcf_destroy(record);
            if (header) bcf_hdr_destroy(header);
            hts_close(in);
        }
    } closer{in, header, record};
    if (!header || !record) throw RunError("File access denied", path + " (not a VCF file)");
    if (!m.headerWritten) {
        // Every contig of a run has the sequence length: take it from the first one.
        int32_t length = m.layout.sequenceLength;
        if (length <= 0 && header->n[BCF_DT_CTG] > 0) {
            bcf_hrec_t* contig =
                bcf_hdr_get_hrec(header, BCF_HL_CTG, "ID", bcf_hdr_id2name(header, 0), nullptr);
            const int key = contig ? bcf_hrec_find_key(contig, "length") : -1;
            if (key >= 0) length = static_cast<int32_t>(std::atol(contig->vals[key]));
        }
        writeHeader(length);
    }
    int status;
    while ((status = bcf_read(in, header, record)) == 0) {
        if (bcf_translate(m.header, header, record) != 0)
            throw RunError("Range check error", path + ": a contig that the run does not declare");
        errno = 0;
        if (bcf_write(m.file, m.header, record) != 0) fail(m.path);
    }
    if (status < -1) throw RunError("File access denied", path + " (a record cannot be read)");
}

void VcfWriter::close() {
    if (!isOpen()) return;
    if (!impl_->headerWritten) writeHeader(0);
    Impl& m = *impl_;
    if (m.record) bcf_destroy(m.record);
    m.record = nullptr;
    errno = 0;
    const int status = hts_close(m.file);
    m.file = nullptr;
    if (status != 0) fail(m.path);
}

} // namespace quenlith
