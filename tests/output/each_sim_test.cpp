// One data set per file: the names of the copies across the files of a simulation, the
// GenePop codes, the run's files left as they are, stale files, threads, slices and the join.
#include "cli/cli_run.h"
#include "output/each_sim.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

int runIn(const TempDir& dir, std::vector<std::string> args, std::string* err = nullptr) {
    args.insert(args.end(), {"--workdir", dir.str()});
    std::ostringstream out, errs;
    const int status = runCli(args, out, errs, false);
    if (err) *err = errs.str();
    return status;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The taxon names of each layout, in file order.
std::vector<std::string> fastaNames(const std::string& text) {
    std::vector<std::string> names;
    for (const std::string& l : lines(text))
        if (!l.empty() && l[0] == '>') names.push_back(l.substr(1));
    return names;
}
std::vector<std::string> phylipNames(const std::string& text, size_t sites) {
    std::vector<std::string> names;
    const auto all = lines(text);
    for (size_t i = 1; i < all.size(); ++i) {
        const std::string& l = all[i];
        EXPECT_EQ(l.size() - l.find_last_of(' ') - 1, sites) << l; // name, blanks, sequence
        EXPECT_NE(l[0], ' ') << "names are left-aligned";
        names.push_back(l.substr(0, l.find(' ')));
    }
    return names;
}
std::vector<std::string> nexusNames(const std::string& text) {
    std::vector<std::string> names;
    bool matrix = false;
    for (const std::string& l : lines(text)) {
        if (l.find("MATRIX") != std::string::npos) {
            matrix = true;
        } else if (matrix && l.find(';') != std::string::npos) {
            matrix = false;
        } else if (matrix) {
            std::istringstream row(l);
            std::string name, seq, rest;
            row >> name >> seq;
            EXPECT_FALSE(row >> rest) << "one line per taxon: " << l;
            names.push_back(name);
        }
    }
    return names;
}
std::vector<std::string> treeTips(const std::string& newick) {
    std::vector<std::string> tips;
    const std::regex tip("[(,]([A-Za-z0-9_]+):");
    for (std::sregex_iterator it(newick.begin(), newick.end(), tip), end; it != end; ++it)
        tips.push_back((*it)[1]);
    return tips;
}
std::set<std::string> asSet(const std::vector<std::string>& v) {
    return {v.begin(), v.end()};
}

// Every file of a working directory but the run log (which holds the times) and the folder.
std::map<std::string, std::string> runFiles(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        const std::string rel = fs::relative(e.path(), dir.path()).string();
        // The slice manifest holds the form, --each-sim included.
        if (e.is_regular_file() && rel != "logFile.txt" && rel != "QuenlithSlice.txt" &&
            rel.rfind("E/", 0) != 0)
            files[rel] = dir.read(rel);
    }
    return files;
}

} // namespace

TEST(EachSim, EveryFileOfASimulationNamesTheSameCopiesOnce) {
    // Haploid and diploid (odd k), the pairing drawn by the run (sequence file) or not.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"--diploid"}, {"--diploid", "--seq-out"}}) {
        TempDir dir;
        std::vector<std::string> args = {"--seed",
                                         "3",
                                         "--sample-size",
                                         "9",
                                         "--sims",
                                         "3",
                                         "--seq-length",
                                         "25",
                                         "--mutation-rate",
                                         "0.00002",
                                         "--each-sim",
                                         "E",
                                         "--each-sim-format",
                                         "nexus, PHYLIP,fasta"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(runIn(dir, args), 0);
        const auto manifest = lines(dir.read("E/manifest.tsv"));
        ASSERT_EQ(manifest.size(), 4u);
        EXPECT_EQ(manifest[0], "simulation\tcopies\tsites\ttree\tfasta\tphylip\tnexus");
        for (int s = 1; s <= 3; ++s) {
            const std::string n = "E/sim_00000" + std::to_string(s);
            EXPECT_EQ(manifest[static_cast<size_t>(s)],
                      std::to_string(s) + "\t9\t25\tsim_00000" + std::to_string(s) +
                          ".nwk\tsim_00000" + std::to_string(s) + ".fasta\tsim_00000" +
                          std::to_string(s) + ".phy\tsim_00000" + std::to_string(s) + ".nex");
            const auto fasta = fastaNames(dir.read(n + ".fasta"));
            const auto tips = treeTips(dir.read(n + ".nwk"));
            ASSERT_EQ(fasta.size(), 9u);
            EXPECT_EQ(asSet(fasta).size(), 9u) << "names unique";
            EXPECT_EQ(asSet(tips), asSet(fasta));
            EXPECT_EQ(tips.size(), 9u);
            EXPECT_EQ(phylipNames(dir.read(n + ".phy"), 25), fasta);
            EXPECT_EQ(nexusNames(dir.read(n + ".nex")), fasta);
            if (extra.empty()) {
                EXPECT_EQ(fasta.front(), "ind1");
            } else {
                EXPECT_EQ(fasta[0], "ind1a");
                EXPECT_EQ(fasta[1], "ind1b");
                EXPECT_EQ(fasta[8], "ind5a"); // the odd copy
            }
        }
    }
}

TEST(EachSim, TheSequenceOfANameIsTheSequenceOfThatCopyInTheRunsOwnFile) {
    // The Fasta-style sequence file names each copy c as "c_s" (haploid): its sequence must
    // be the one that the per-simulation file gives ind<c>.
    TempDir dir;
    ASSERT_EQ(runIn(dir, {"--seed", "8", "--sample-size", "6", "--sims", "2", "--seq-length", "30",
                          "--mutation-rate", "0.00003", "--seq-out", "--format", "Clustal",
                          "--each-sim", "E"}),
              0);
    const auto own = lines(dir.read("seqout.txt"));
    const auto each = lines(dir.read("E/sim_000002.fasta"));
    std::map<std::string, std::string> mine, theirs;
    for (size_t i = 0; i + 1 < own.size(); ++i)
        if (!own[i].empty() && own[i][0] == '>' && own[i].size() > 3 &&
            own[i].substr(own[i].size() - 3) == "_2\r")
            mine[">ind" + own[i].substr(1, own[i].size() - 4)] =
                own[i + 1].substr(0, own[i + 1].size() - 1);
    for (size_t i = 0; i + 1 < each.size(); i += 2)
        theirs[each[i]] = each[i + 1];
    EXPECT_EQ(mine.size(), 6u);
    EXPECT_EQ(mine, theirs);
}

TEST(EachSim, OtherFilesOfTheRunStayByteForByte) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--diploid", "--seq-out", "--format", "Nexus"},
          {"--rng", "streams", "--threads", "3", "--vcf", "v.vcf", "--diploid"}}) {
        TempDir plain, with;
        std::vector<std::string> args = {"--seed",          "21",     "--sample-size", "8",
                                         "--sims",          "4",      "--seq-length",  "40",
                                         "--mutation-rate", "0.00001"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(runIn(plain, args), 0);
        args.insert(args.end(), {"--each-sim", "E"});
        ASSERT_EQ(runIn(with, args), 0);
        const auto a = runFiles(plain), b = runFiles(with);
        EXPECT_GE(a.size(), 7u);
        for (const auto& [name, text] : a)
            EXPECT_TRUE(b.count(name) && b.at(name) == text) << name << " changed";
        EXPECT_EQ(a.size(), b.size());
        EXPECT_TRUE(with.exists("E/sim_000004.fasta"));
    }
}

TEST(EachSim, MicrosatelliteRunsWriteATreePerLocusAndGenePop) {
    TempDir dir;
    dir.write("msatparam.txt", "1 100 999 1 0.002\r\n2 10 3000 3 0.05\r\n");
    ASSERT_EQ(
        runIn(dir, {"--seed", "4", "--msat", "--loci", "2", "--sims", "2", "--msat-model",
                    "stepwise", "--sample-size", "7", "--pop-size", "300", "--each-sim", "G"}),
        0);
    const auto gen = lines(dir.read("G/sim_000002.gen"));
    ASSERT_EQ(gen.size(), 4u + 3u); // title, 2 loci, Pop, 3 individuals (the 7th copy alone)
    EXPECT_EQ(gen[3], "Pop");
    const std::regex row("ind[1-3],( [0-9]{6}){2}");
    for (size_t i = 4; i < gen.size(); ++i)
        EXPECT_TRUE(std::regex_match(gen[i], row)) << gen[i];
    const auto trees = lines(dir.read("G/sim_000002.nwk"));
    ASSERT_EQ(trees.size(), 2u);
    for (const auto& t : trees) {
        const auto tips = treeTips(t);
        EXPECT_EQ(asSet(tips).size(), 7u);
        EXPECT_TRUE(asSet(tips).count("ind3b"));
    }
    EXPECT_EQ(lines(dir.read("G/manifest.tsv"))[2], "2\t7\t2\tsim_000002.nwk\tsim_000002.gen");
}

TEST(EachSim, GenePopCodesAreThreeDigitsWhateverTheSizes) {
    AlleleSizes sizes;
    sizes.recreate(4, 3);
    const int32_t values[4][3] = {{7, 1500, -5}, {120, 1600, 5000}, {7, 1500, 0}, {999, 2498, 9}};
    for (int c = 0; c < 4; ++c)
        for (int l = 0; l < 3; ++l)
            sizes.at(c, l) = values[c][l];
    std::string out;
    appendGenePop(sizes, {2, 1, 4, 3}, 5, out);
    const auto got = lines(out);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[0], "Simulation 5 of quenlith; locus2 codes are sizes minus 1499; locus3 codes "
                      "are ranks of the sizes");
    // Locus 1 by size; locus 2 shifted (1500 -> 001); locus 3 spans 5006 values: ranks.
    EXPECT_EQ(got[4], "Pop");
    EXPECT_EQ(got[5], "ind1, 120007 101001 004001");
    EXPECT_EQ(got[6], "ind2, 999007 999001 003002");
}

TEST(EachSim, FormatListsAndNames) {
    EachSimFormats f;
    EXPECT_EQ(parseEachSimFormats(" Fasta ,nexus", f), "");
    EXPECT_TRUE(f.fasta && f.nexus && !f.phylip);
    EXPECT_NE(parseEachSimFormats("fasta,clustal", f), "");
    EXPECT_NE(parseEachSimFormats("", f), "");
    EXPECT_NE(parseEachSimFormats("fasta,", f), "");
    EXPECT_EQ(eachSimFileName(42, eachSimDigits(100), "nwk"), "sim_000042.nwk");
    EXPECT_EQ(eachSimFileName(42, eachSimDigits(12345678), "gen"), "sim_00000042.gen");
    const CopyNames n = eachSimCopyNames(5, nullptr);
    EXPECT_EQ(n.byColumn, (std::vector<std::string>{"ind1", "ind2", "ind3", "ind4", "ind5"}));
    const std::vector<int32_t> pairing = {3, 1, 5, 2, 4};
    const CopyNames d = eachSimCopyNames(5, &pairing);
    EXPECT_EQ(d.byColumn, (std::vector<std::string>{"ind1b", "ind2b", "ind1a", "ind3a", "ind2a"}));
    EXPECT_EQ(d.order, (std::vector<int32_t>{2, 0, 4, 1, 3}));
}

TEST(EachSim, StaleFilesGoRefusalsComeFirst) {
    TempDir dir;
    fs::create_directories(dir.path() / "E");
    for (const char* old : {"E/sim_000009.fasta", "E/sim_1.nwk", "E/sim_000002.gen"})
        dir.write(old, "old");
    dir.write("E/notes.txt", "mine");
    dir.write("E/sim_000001.txt", "mine too");
    ASSERT_EQ(runIn(dir, {"--seed", "1", "--sims", "2", "--sample-size", "4", "--each-sim", "E"}),
              0);
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path() / "E"))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"manifest.tsv", "notes.txt", "sim_000001.txt",
                                            "sim_000001.fasta", "sim_000001.nwk",
                                            "sim_000002.fasta", "sim_000002.nwk"}));

    TempDir refused;
    std::string err;
    EXPECT_EQ(runIn(refused, {"--each-sim", "E", "--each-sim-format", "fasta,clustal"}, &err), 2);
    EXPECT_NE(err.find("clustal"), std::string::npos) << err;
    refused.write("F", "a file");
    EXPECT_EQ(runIn(refused, {"--each-sim", "F"}, &err), 2);
    EXPECT_NE(err.find("is a file"), std::string::npos) << err;
    EXPECT_EQ(runIn(refused, {"--each-sim", "./outfile.csv"}, &err), 2);
    EXPECT_NE(err.find("the summary table"), std::string::npos) << err;
    EXPECT_FALSE(refused.exists("CoalDistrib.csv")) << "refused before anything is written";
}

TEST(EachSim, StreamsSlicesJoinToTheWholeRunAtAnyThreadCount) {
    const std::vector<std::string> common = {"--rng",
                                             "streams",
                                             "--seed",
                                             "99",
                                             "--sample-size",
                                             "6",
                                             "--seq-length",
                                             "30",
                                             "--diploid",
                                             "--mutation-rate",
                                             "0.00002",
                                             "--each-sim",
                                             "E",
                                             "--each-sim-format",
                                             "phylip,nexus"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), common.begin(), common.end());
        return more;
    };
    TempDir one, four, a, b, joined;
    ASSERT_EQ(runIn(one, with({"--sims", "7", "--threads", "1"})), 0);
    ASSERT_EQ(runIn(four, with({"--sims", "7", "--threads", "4"})), 0);
    ASSERT_EQ(runIn(a, with({"--sims", "3", "--of", "7"})), 0);
    ASSERT_EQ(runIn(b, with({"--sims", "4", "--first-sim", "4", "--of", "7"})), 0);
    ASSERT_EQ(runIn(joined, {"--join", b.str(), a.str()}), 0);
    auto folder = [](const TempDir& d) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(d.path() / "E"))
            files[e.path().filename().string()] = d.read("E/" + e.path().filename().string());
        return files;
    };
    const auto whole = folder(one);
    EXPECT_EQ(whole.size(), 1u + 7 * 3);
    EXPECT_EQ(folder(four), whole);
    EXPECT_EQ(folder(joined), whole);
    EXPECT_TRUE(b.exists("E/sim_000004.phy")) << "the slice keeps its files";
}

TEST(EachSim, TheJoinRenamesToTheWholeRunsDigits) {
    TempDir slice, out;
    fs::create_directories(slice.path() / "E");
    slice.write("E/manifest.tsv", "simulation\tcopies\tsites\ttree\n3\t2\t1\tsim_000003.nwk\n");
    slice.write("E/sim_000003.nwk", "(ind1:1,ind2:1);\n");
    joinEachSimFolders({slice.file("E")}, out.file("E"), 1234567);
    EXPECT_EQ(out.read("E/sim_0000003.nwk"), "(ind1:1,ind2:1);\n");
    EXPECT_EQ(out.read("E/manifest.tsv"),
              "simulation\tcopies\tsites\ttree\n3\t2\t1\tsim_0000003.nwk\n");
    fs::remove(slice.path() / "E/sim_000003.nwk");
    EXPECT_THROW(joinEachSimFolders({slice.file("E")}, out.file("E"), 3), std::exception);
}
