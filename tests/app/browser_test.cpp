// The browser: record stepping, captions and reading records back from the matrix files.
#include "app/genealogy_browser.h"
#include "base/file_io.h"
#include "base/run_error.h"
#include "output/matrix_files.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quenlith;
namespace fs = std::filesystem;

namespace {

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("quenlith-browser-" + std::to_string(::getpid()) + "-" + std::to_string(next_++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string str() const { return path_.string(); }

  private:
    fs::path path_;
    static inline int next_ = 0;
};

// A DNA run through the core with a fixed seed.
RunOutcome dnaRun(const std::string& dir, const char* sims, const char* k) {
    FormValues f;
    f.WorkDir = dir;
    f.edtSampleSize = k;
    f.edtPopulationSize = "200";
    f.edtMutationRate = "0.00001";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = sims;
    RunObserver quiet;
    return RunSimulation(f, 20240611u, quiet);
}

// Genealogy record n of a hand-made microsatellite run: k = 3, n mutations.
Genealogy handMadeGenealogy(int32_t n) {
    Genealogy g;
    g.SampleSize = 3;
    g.CoalEvents = {{10 * n, 1, 2}, {10 * n + 5, 0, 1}};
    for (int32_t m = 0; m < n; ++m)
        g.MutEvents.push_back({m + 1, m % 3});
    return g;
}

RunOutcome handMadeMsatRun(const std::string& dir, int32_t sims, int32_t loci) {
    RunOutcome o;
    o.status = RunStatus::Completed;
    o.msats = true;
    o.sampleSize = 3;
    o.loci = loci;
    o.simCount = sims;
    o.recordCount = sims * loci;
    o.shownRecord = o.recordCount;
    o.popSize = 400;
    o.workDir = dir;
    std::string tree, mut;
    for (int32_t n = 1; n <= o.recordCount; ++n) {
        appendMatrixRecord(n, handMadeGenealogy(n), tree, mut);
        o.MutCountPerSim.push_back(n);
    }
    writeWholeFile(joinPath(dir, kTreeMatFile), tree);
    writeWholeFile(joinPath(dir, kMutMatFile), mut);
    o.lastGenealogy = handMadeGenealogy(o.recordCount);
    return o;
}

} // namespace

TEST(GenealogyBrowser, NothingBeforeARun) {
    GenealogyBrowser b;
    EXPECT_FALSE(b.runDone());
    EXPECT_FALSE(b.hasRecords());
}

TEST(GenealogyBrowser, DnaRunOf100WrapsAroundAndReadsTheRightRecords) {
    TempDir dir;
    const RunOutcome o = dnaRun(dir.str(), "100", "6");
    ASSERT_EQ(o.status, RunStatus::Completed);
    GenealogyBrowser b;
    b.setRun(o);
    EXPECT_EQ(b.shownRecord(), 100);

    b.forward();
    EXPECT_EQ(b.shownRecord(), 1);
    EXPECT_EQ(b.caption(), "1\\100");
    Genealogy first;
    ASSERT_TRUE(b.loadShown(first));
    EXPECT_EQ(first.CoalEvents.size(), 5u);
    EXPECT_EQ(first.MutEventCount(), o.MutCountPerSim[0]);

    b.back();
    EXPECT_EQ(b.shownRecord(), 100);
    EXPECT_EQ(b.caption(), "100\\100");
    Genealogy last;
    ASSERT_TRUE(b.loadShown(last));
    // Record 100 is the genealogy drawn at the end of the run.
    ASSERT_EQ(last.CoalEvents.size(), o.lastGenealogy.CoalEvents.size());
    for (size_t e = 0; e < last.CoalEvents.size(); ++e) {
        EXPECT_EQ(last.CoalEvents[e].generation, o.lastGenealogy.CoalEvents[e].generation);
        EXPECT_EQ(last.CoalEvents[e].first, o.lastGenealogy.CoalEvents[e].first);
    }
    ASSERT_EQ(last.MutEventCount(), o.lastGenealogy.MutEventCount());
    for (size_t m = 0; m < last.MutEvents.size(); ++m) {
        EXPECT_EQ(last.MutEvents[m].generation, o.lastGenealogy.MutEvents[m].generation);
        EXPECT_EQ(last.MutEvents[m].position, o.lastGenealogy.MutEvents[m].position);
    }

    b.back();
    EXPECT_EQ(b.caption(), "99\\100");
    for (int i = 0; i < 99; ++i)
        b.forward();
    EXPECT_EQ(b.shownRecord(), 98);
}

TEST(GenealogyBrowser, SingleSimulationShowsItselfBothWays) {
    TempDir dir;
    GenealogyBrowser b;
    b.setRun(dnaRun(dir.str(), "1", "4"));
    b.forward();
    EXPECT_EQ(b.caption(), "1\\1");
    b.back();
    EXPECT_EQ(b.caption(), "1\\1");
    Genealogy g;
    EXPECT_TRUE(b.loadShown(g));
}

TEST(GenealogyBrowser, MicrosatelliteCaptionsCountLociWithinSimulations) {
    TempDir dir;
    GenealogyBrowser b;
    b.setRun(handMadeMsatRun(dir.str(), 3, 2));
    EXPECT_EQ(b.shownRecord(), 6);
    const char* expected[] = {
        "Microsatellite Locus 1 Simulation 1", "Microsatellite Locus 2 Simulation 1",
        "Microsatellite Locus 1 Simulation 2", "Microsatellite Locus 2 Simulation 2",
        "Microsatellite Locus 1 Simulation 3", "Microsatellite Locus 2 Simulation 3",
    };
    for (int n = 1; n <= 6; ++n) {
        b.forward();
        EXPECT_EQ(b.shownRecord(), n);
        EXPECT_EQ(b.caption(), expected[n - 1]);
        Genealogy g;
        ASSERT_TRUE(b.loadShown(g));
        EXPECT_EQ(g.CoalEvents[0].generation, 10 * n);
        EXPECT_EQ(g.MutEventCount(), n);
    }
    b.forward();
    EXPECT_EQ(b.caption(), expected[0]);

    TempDir one;
    GenealogyBrowser single;
    single.setRun(handMadeMsatRun(one.str(), 4, 1));
    for (int n = 1; n <= 4; ++n) {
        single.forward();
        EXPECT_EQ(single.caption(), "Microsatellite Locus 1 Simulation " + std::to_string(n));
    }
}

TEST(GenealogyBrowser, MissingRecordOrFileAndEmptyRuns) {
    TempDir dir;
    GenealogyBrowser b;
    b.setRun(handMadeMsatRun(dir.str(), 2, 2));
    // The files now hold a different, shorter run: record 3 and 4 are gone.
    std::string tree, mut;
    for (int32_t n = 1; n <= 2; ++n)
        appendMatrixRecord(n, handMadeGenealogy(n), tree, mut);
    writeWholeFile(joinPath(dir.str(), kTreeMatFile), tree);
    writeWholeFile(joinPath(dir.str(), kMutMatFile), mut);
    b.back(); // record 3
    Genealogy g;
    EXPECT_FALSE(b.loadShown(g));

    fs::remove(fs::path(dir.str()) / kTreeMatFile);
    EXPECT_THROW(b.loadShown(g), RunError);

    // No simulation, or no locus: a completed run with nothing to browse.
    for (auto [sims, loci] : {std::pair{0, 2}, std::pair{3, 0}}) {
        TempDir empty;
        RunOutcome o = handMadeMsatRun(empty.str(), sims, loci);
        GenealogyBrowser e;
        e.setRun(o);
        EXPECT_TRUE(e.runDone());
        EXPECT_FALSE(e.hasRecords());
        EXPECT_FALSE(hasGenealogyToDraw(o));
    }
}

// A matrix file replaced by a FIFO, a device or a file larger than the memory: the browser
// reports an error and never waits on the file or runs out of memory uncaught.
TEST(GenealogyBrowser, MatrixFileThatIsNotARegularFileOrTooLarge) {
    TempDir dir;
    GenealogyBrowser b;
    b.setRun(dnaRun(dir.str(), "3", "5"));
    b.forward();
    const std::string tree = joinPath(dir.str(), kTreeMatFile);
    Genealogy g;

    fs::remove(tree);
    ASSERT_EQ(::mkfifo(tree.c_str(), 0666), 0);
    auto load = std::async(std::launch::async, [&]() -> std::string {
        try {
            b.loadShown(g);
            return "no error";
        } catch (const RunError& e) {
            return e.text() + ": " + e.detail();
        }
    });
    if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the browser waits on a FIFO";
        ::close(::open(tree.c_str(), O_WRONLY | O_NONBLOCK)); // let it go
    }
    EXPECT_EQ(load.get(), "File access denied: " + tree + " (not a regular file)");

    fs::remove(tree);
    fs::create_symlink("/dev/zero", tree);
    EXPECT_THROW(b.loadShown(g), RunError);

    // A sparse file of 1 TiB: reading it whole cannot be allocated.
    std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    overcommit >> mode;
    if (mode == 1) GTEST_SKIP() << "the kernel grants any allocation (overcommit_memory = 1)";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer's allocator ends the process instead of throwing";
#endif
    fs::remove(tree);
    const int fd = ::open(tree.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 40), 0);
    ::close(fd);
    try {
        b.loadShown(g);
        ADD_FAILURE() << "a 1 TiB matrix file was read";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::OutOfMemory);
        EXPECT_EQ(e.detail(), tree);
    }
}
