// The VCF as a file of the run like the others, through whole runs of quenlith-cli: deleted or
// replaced by a symbolic link during the run, and on a full disk or past the file-size limit,
// where it ends with its last whole record (a .vcf.gz with its last whole BGZF block and the
// end-of-file block) that htslib and bcftools read.
#include "fault/fault_support.h"
#include "support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/kstring.h>

using namespace quenlith::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> vcfArgs(const std::string& dir, const std::string& vcf,
                                 const std::string& sims, const std::string& k = "100") {
    return {"--quiet", "--seed",       "3",     "--sample-size",   k,         "--pop-size",
            "200",     "--seq-length", "20000", "--mutation-rate", "0.00001", "--sims",
            sims,      "--vcf",        vcf,     "--workdir",       dir};
}

// The text of a VCF as htslib reads it (decompressed), with whether a BGZF file ends with
// its end-of-file block.
struct VcfText {
    bool read = false;
    std::string text;
    bool eof = false;
};

VcfText readVcf(const std::string& path) {
    VcfText v;
    htsFile* in = hts_open(path.c_str(), "r");
    if (!in) return v;
    kstring_t line = {0, 0, nullptr};
    int status;
    while ((status = hts_getline(in, 2, &line)) >= 0)
        v.text += std::string(line.s, line.l) + "\n";
    free(line.s);
    v.read = status == -1;
    hts_close(in);
    if (BGZF* z = bgzf_open(path.c_str(), "r")) {
        v.eof = bgzf_check_EOF(z) == 1;
        bgzf_close(z);
    }
    return v;
}

// bcftools reads every record without a warning.
bool bcftoolsReads(const std::string& path) {
    const std::string err = path + ".bcftools.err";
    const std::string command = "bcftools view -H '" + path + "' > /dev/null 2> '" + err + "'";
    const int status = std::system(command.c_str());
    std::ifstream in(err);
    std::stringstream ss;
    ss << in.rdbuf();
    fs::remove(err);
    return status == 0 && ss.str().empty();
}

size_t lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    size_t n = 0;
    for (const char c : ss.str())
        n += c == '\n';
    return n;
}

bool waitForLines(const std::string& path, size_t n) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        if (lines(path) >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The VCF of a failed run against that of the run without the fault: whole records, the
// first of the reference's, and (compressed) closed with the end-of-file block.
void expectWholeRecords(const std::string& got, const std::string& want, bool compressed) {
    const VcfText g = readVcf(got), w = readVcf(want);
    ASSERT_TRUE(w.read);
    EXPECT_TRUE(g.read) << got << " cannot be read";
    EXPECT_LT(g.text.size(), w.text.size());
    EXPECT_EQ(w.text.compare(0, g.text.size(), g.text), 0) << "not the reference's first records";
    if (compressed) {
        EXPECT_TRUE(g.eof) << "no BGZF end-of-file block";
    }
    // Whole lines: the header and the records up to a line end.
    const std::string raw = readFile(got);
    if (!compressed) {
        EXPECT_EQ(raw.back(), '\n');
    }
    EXPECT_NE(g.text.find("#CHROM"), std::string::npos);
    EXPECT_TRUE(bcftoolsReads(got)) << "bcftools does not read " << got;
}

} // namespace

TEST(VcfFault, DeletedOrReplacedDuringTheRunFailsTheRun) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced by a symbolic link" : "deleted");
        TempDir dir;
        CliChild child = startCli(vcfArgs(dir.str(), "v.vcf", "3000", "20"));
        ASSERT_TRUE(waitForLines(dir.file("NewickTrees.tre"), 2));
        if (replace)
            fs::rename(dir.path() / "v.vcf", dir.path() / "v.vcf.moved");
        else
            fs::remove(dir.path() / "v.vcf");
        if (replace) {
            dir.write("other.vcf", "##fileformat=VCFv4.2\n");
            fs::create_symlink(dir.file("other.vcf"), dir.path() / "v.vcf");
        }
        const CliRun r = finishCli(child, 120);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
                  "error: File not found: " + dir.file("v.vcf") +
                      (replace ? " (replaced during the run)\n" : " (deleted during the run)\n"));
        EXPECT_FALSE(dir.exists("logFile.txt"));
    }
}

// Past the file-size limit the VCF, the largest file, fails first.
TEST(VcfFault, FileSizeLimitCutsTheVcfToItsLastWholeRecord) {
    TempDir reference, dir;
    ASSERT_EQ(runCli(vcfArgs(reference.str(), "v.vcf", "8")).status, 0);
    CliChild child = startCli(vcfArgs(dir.str(), "v.vcf", "8"), [] {
        const rlimit limit{1000000, 1000000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    const CliRun r = finishCli(child);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: File too large: " + dir.file("v.vcf") + "\n");
    EXPECT_GT(fs::file_size(dir.path() / "v.vcf"), 900000u);
    expectWholeRecords(dir.file("v.vcf"), reference.file("v.vcf"), false);
    EXPECT_EQ(brokenFiles(filesBelow(dir.path()), filesBelow(reference.path()), "v.vcf"), "");
}

// On small disks (tmpfs) of several sizes, whichever file fills the disk, the VCF and every
// other file end whole; on some of the sizes it is the VCF's own write that fails.
TEST(VcfFault, FullDiskLeavesAReadableVcf) {
    for (const bool compressed : {true, false}) {
        const std::string name = compressed ? "v.vcf.gz" : "v.vcf";
        SCOPED_TRACE(name);
        TempDir reference;
        ASSERT_EQ(runCli(vcfArgs(reference.str(), name, "6", "400")).status, 0);
        const auto want = filesBelow(reference.path());
        int vcfFailed = 0;
        for (const int kib : {300, 700, 1100, 1500, 1900}) {
            SCOPED_TRACE(kib);
            TempDir dir;
            const fs::path small = dir.path() / "small";
            fs::create_directories(small);
            const std::string size = "size=" + std::to_string(kib) + "k";
            if (::mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) != 0)
                GTEST_SKIP() << "no tmpfs can be mounted here (not root)";
            struct Unmount {
                const fs::path& at;
                ~Unmount() { ::umount(at.c_str()); }
            } unmount{small};
            const CliRun r = runCli(vcfArgs(small.string(), name, "6", "400"));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err.rfind("error: Disk full: " + small.string() + "/", 0), 0u) << r.err;
            vcfFailed += r.err == "error: Disk full: " + (small / name).string() + "\n";
            expectWholeRecords((small / name).string(), reference.file(name), compressed);
            EXPECT_EQ(brokenFiles(filesBelow(small), want, name), "");
        }
        EXPECT_GT(vcfFailed, 0) << "the VCF's own write never failed";
    }
}

// A run stopped by SIGTERM: its VCF declares the simulations written, and its ms file's
// command line is that of a run of that many; both are then the files of such a run.
TEST(VcfFault, StoppedRunsHeadersDescribeTheirFiles) {
    for (const std::string vcf : {"v.vcf.gz", "v.vcf"}) {
        SCOPED_TRACE(vcf);
        auto args = [&](const std::string& dir, const std::string& sims) {
            return std::vector<std::string>{"--quiet", "--seed",     "5",    "--sample-size",
                                            "20",      "--pop-size", "40",   "--seq-length",
                                            "200000",  "--sims",     sims,   "--vcf",
                                            vcf,       "--ms",       "s.ms", "--stats",
                                            "st.csv",  "--workdir",  dir};
        };
        TempDir dir;
        CliChild child = startCli(args(dir.str(), "30000"));
        ASSERT_TRUE(waitForLines(dir.file("NewickTrees.tre"), 2));
        ::kill(child.pid, SIGTERM);
        const CliRun r = finishCli(child);
        EXPECT_EQ(r.signal, SIGTERM);
        const size_t whole = lines(dir.file("NewickTrees.tre"));
        ASSERT_LT(whole, 30000u) << "the run ended before the signal";
        TempDir reference;
        ASSERT_EQ(runCli(args(reference.str(), std::to_string(whole))).status, 0);
        auto want = filesBelow(reference.path());
        want.erase("logFile.txt");
        want.erase("outfile.csv");
        const auto got = filesBelow(dir.path());
        for (const auto& [name, text] : want)
            EXPECT_TRUE(got.count(name) && got.at(name) == text) << name << " differs";
        EXPECT_EQ(got.size(), want.size()); // no part file left
        const VcfText v = readVcf(dir.file(vcf));
        size_t contigs = 0;
        for (size_t at = v.text.find("##contig="); at != std::string::npos;
             at = v.text.find("##contig=", at + 1))
            ++contigs;
        EXPECT_EQ(contigs, whole);
    }
}
