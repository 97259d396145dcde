// The statistics table, VCF and ms file within whole runs: asking for them changes no other
// file by a byte, they are refused before the run when their names collide or the run
// cannot have them, and their contents agree with the sequences and allele sizes written.
#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "output/ms_writer.h"
#include "output/pipeline_outputs.h"
#include "output/vcf_writer.h"
#include "run/run_parameters.h"
#include "support/temp_dir.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <htslib/vcf.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace quenlith;
using quenlith::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> split(const std::string& args) {
    std::istringstream in(args);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

int run(const TempDir& dir, const std::string& args, std::string* err = nullptr) {
    std::ostringstream out, errors;
    const int status = runCli(split(args + " --quiet --workdir " + dir.str()), out, errors, false);
    if (err) *err = errors.str();
    return status;
}

// Every file under the directory, by relative path; the log without its date and times.
std::map<std::string, std::string> files(const TempDir& dir, const std::set<std::string>& skip) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        if (!e.is_regular_file()) continue;
        const std::string name = fs::relative(e.path(), dir.path()).string();
        if (skip.count(name)) continue;
        std::string content = dir.read(name);
        for (size_t at = 0; (at = content.find(dir.str(), at)) != std::string::npos;)
            content.replace(at, dir.str().size(), "WORKDIR");
        if (name == "logFile.txt") {
            std::istringstream in(content);
            std::string line, masked;
            for (int n = 0; std::getline(in, line); ++n)
                masked += (n >= 3 && n <= 5 ? std::string("time") : line) + "\n";
            content = masked;
        }
        out[name] = content;
    }
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace

TEST(PipelineOutputs, AskingForThemChangesNoOtherFile) {
    const std::string pipeline = " --stats st.csv --vcf v.vcf.gz --ms s.ms";
    const std::vector<std::string> runs = {
        "--seed 11 --sims 6 --sample-size 9 --pop-size 200 --mutation-rate 0.00003 --seq-out "
        "--seq-diversity --arlequin",
        "--seed 12 --sims 5 --sample-size 7 --pop-size 150 --mutation-rate 0.00003 --diploid",
        "--seed 13 --sims 5 --sample-size 8 --pop-size 150 --mutation-rate 0.00003 --diploid "
        "--seq-out --format Fasta --arlequin --model HKY85 --gamma 0.5",
    };
    for (const std::string& args : runs) {
        TempDir plain, asked;
        ASSERT_EQ(run(plain, args), 0);
        ASSERT_EQ(run(asked, args + pipeline), 0);
        const auto before = files(plain, {}), after = files(asked, {"st.csv", "v.vcf.gz", "s.ms"});
        EXPECT_GE(before.size(), 7u);
        EXPECT_TRUE(before == after) << args; // every byte of every other file
        EXPECT_EQ(lines(asked.read("st.csv")).size(),
                  args.find("--sims 6") != std::string::npos ? 7u : 6u);
        EXPECT_FALSE(plain.exists("stats.csv") || plain.exists("sites.vcf") ||
                     plain.exists("sites.ms"));
    }
    // Microsatellites: the statistics table only.
    TempDir plain, asked;
    for (const TempDir* d : {&plain, &asked})
        d->write("msatparam.txt", "1 100 140 2 0.0005\n2 180 220 4 0.001\n");
    const std::string msat = "--seed 5 --msat --loci 2 --msat-model stepwise --sims 4 "
                             "--sample-size 10 --pop-size 300 --msat-out --msat-diversity";
    ASSERT_EQ(run(plain, msat), 0);
    ASSERT_EQ(run(asked, msat + " --stats st.csv"), 0);
    EXPECT_TRUE(files(plain, {}) == files(asked, {"st.csv"}));
    const auto table = lines(asked.read("st.csv"));
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0] + "\n", msatStatisticsHeader(2));
    // The summary table's gene diversity (3 decimals) is the expected heterozygosity.
    const auto summary = lines(asked.read("outfile.csv"));
    for (size_t s = 1; s <= 4; ++s) {
        std::vector<std::string> f;
        std::stringstream row(table[s]);
        for (std::string x; std::getline(row, x, ',');)
            f.push_back(x);
        std::stringstream srow(summary[s]);
        std::vector<std::string> g;
        for (std::string x; std::getline(srow, x, ',');)
            g.push_back(x);
        ASSERT_EQ(f.size(), 9u);
        EXPECT_NEAR(std::stod(f[2]), std::stod(g[5]), 0.0005);
        EXPECT_NEAR(std::stod(f[6]), std::stod(g[10]), 0.0005);
        EXPECT_EQ(f[1], std::to_string(static_cast<int>(std::lround(std::stod(g[4]) * 10))));
    }
}

const std::string kUnscattered =
    "The statistics table, the VCF and the ms file are made from the sequences: they need "
    "\"Scatter Mutations on simulated DNA sequence\" (--no-scatter leaves every sequence "
    "without mutations)";

TEST(PipelineOutputs, RefusedBeforeTheRun) {
    struct Case {
        std::string args, warning;
    };
    // Names are checked with every file of the run before anything is touched; what the
    // run reads is validated after the two distribution files are created.
    const std::vector<Case> cases = {
        {"--stats outfile.csv", "Two files of the run have one name: outfile.csv is the "
                                "statistics table and the summary table"},
        {"--stats ./NewickTrees.tre", "Two files of the run have one name: ./NewickTrees.tre "
                                      "is the Newick tree file and the statistics table"},
        {"--stats TreeMatFile.txt", "Two files of the run have one name: TreeMatFile.txt is "
                                    "the genealogy matrix file and the statistics table"},
        {"--seq-out --ms seqout.txt", "Two files of the run have one name: seqout.txt is the "
                                      "sequence output file and the ms file"},
        {"--seq-input root.txt --stats root.txt", "Two files of the run have one name: root.txt "
                                                  "is the input DNA sequence file and the "
                                                  "statistics table"},
        {"--stats a.csv --ms a.csv",
         "Two files of the run have one name: a.csv is the statistics table and the ms file"},
        {"--msat --stats msatparam.txt", "Two files of the run have one name: msatparam.txt is "
                                         "the microsatellite parameter file and the statistics "
                                         "table"},
        {"--stats=", "The name of the statistics table is empty"},
        {"--msat --vcf x.vcf",
         "A VCF file holds DNA sites: it cannot be written in a microsatellite run"},
        {"--msat --ms x.ms",
         "An ms file holds DNA sites: it cannot be written in a microsatellite run"},
        {"--no-scatter --stats s.csv", kUnscattered},
        {"--no-scatter --vcf s.vcf", kUnscattered},
        {"--no-scatter --ms s.ms --sims 3", kUnscattered},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("root.txt", "ACGTACGTAC");
        dir.write("msatparam.txt", "1 100 140 2 0.0005\n");
        std::string err;
        EXPECT_EQ(run(dir, "--seed 1 " + c.args, &err), 2) << c.args;
        EXPECT_EQ(err, "WARNING: " + c.warning + "\n");
        // A name refused: nothing is written; a run refused: only the two distribution files.
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            names.insert(e.path().filename().string());
        std::set<std::string> expected{"root.txt", "msatparam.txt"};
        if (c.warning.find("holds DNA sites") != std::string::npos || c.warning == kUnscattered)
            expected.insert({"CoalDistrib.csv", "MutDistrib.csv"});
        EXPECT_EQ(names, expected) << c.args;
    }
    // Not collisions: the sequence file name while no sequence file is written; the names
    // of other runs' inputs.
    for (const std::string args : {"--stats seqout.txt", "--ms seqin.txt", "--vcf msatparam.txt"}) {
        TempDir dir;
        EXPECT_EQ(run(dir, "--seed 1 " + args), 0) << args;
    }
}

TEST(PipelineOutputs, CommandLineOptionsCheckTheBoxes) {
    const CliParse parse = parseCliOptions({"--stats", "a.csv", "--vcf=b.vcf.gz", "--ms", "c"});
    ASSERT_EQ(parse.error, "");
    const FormValues& f = parse.options.form;
    EXPECT_TRUE(f.chkStats && f.chkVcf && f.chkMs);
    EXPECT_EQ(f.edtStats + f.edtVcf + f.edtMs, "a.csvb.vcf.gzc");
    const RunParameters p = readRunParameters(f).params;
    EXPECT_TRUE(p.Stats && p.Vcf && p.Ms);
    EXPECT_EQ(p.StatsName + p.VcfName + p.MsName, "a.csvb.vcf.gzc");
    const FormValues defaults;
    EXPECT_FALSE(defaults.chkStats || defaults.chkVcf || defaults.chkMs);
}

// The VCF read back with htslib and the ms file, against the ms file's own 0/1 lines and the
// sequence file: same sites, genotypes by the pairing of the sequence file.
TEST(PipelineOutputs, VcfAndMsAgreeWithTheSequenceFile) {
    for (const bool gz : {false, true}) {
        TempDir dir;
        const std::string vcfName = gz ? "v.vcf.gz" : "v.vcf";
        ASSERT_EQ(run(dir, "--seed 21 --sims 4 --sample-size 7 --pop-size 100 --seq-length 300 "
                           "--mutation-rate 0.0001 --diploid --seq-out --format Clustal --vcf " +
                               vcfName + " --ms s.ms --stats st.csv"),
                  0);
        // Sequences by copy number, and each individual's copies in order, from the names
        // ">Ind_J_c_s".
        const auto seqLines = lines(dir.read("seqout.txt"));
        std::map<int, std::map<int, std::string>> byCopy;         // sim -> copy -> sequence
        std::map<int, std::vector<std::vector<int>>> individuals; // sim -> J -> copies
        for (size_t i = 0; i + 1 < seqLines.size(); ++i) {
            std::string name = seqLines[i];
            if (name.rfind(">Ind_", 0) != 0) continue;
            int J, c, s;
            ASSERT_EQ(std::sscanf(name.c_str(), ">Ind_%d_%d_%d", &J, &c, &s), 3);
            std::string seq = seqLines[i + 1];
            if (!seq.empty() && seq.back() == '\r') seq.pop_back();
            byCopy[s][c] = seq;
            auto& ind = individuals[s];
            if (static_cast<int>(ind.size()) < J) ind.resize(static_cast<size_t>(J));
            ind[static_cast<size_t>(J - 1)].push_back(c);
        }
        ASSERT_EQ(byCopy.size(), 4u);

        htsFile* fp = hts_open(dir.file(vcfName).c_str(), "r");
        ASSERT_TRUE(fp);
        bcf_hdr_t* hdr = bcf_hdr_read(fp);
        ASSERT_TRUE(hdr);
        ASSERT_EQ(bcf_hdr_nsamples(hdr), 4);
        EXPECT_STREQ(hdr->samples[0], "ind1");
        bcf1_t* rec = bcf_init();
        int32_t* gt = nullptr;
        int ngt = 0;
        std::map<int, std::vector<int>> sites; // sim -> 0-based sites
        std::map<int, std::string> refs;       // sim -> REF base of each site
        while (bcf_read(fp, hdr, rec) == 0) {
            bcf_unpack(rec, BCF_UN_ALL);
            const int s = std::stoi(std::string(bcf_hdr_id2name(hdr, rec->rid)).substr(3));
            sites[s].push_back(static_cast<int>(rec->pos));
            refs[s] += rec->d.allele[0][0];
            ASSERT_EQ(bcf_get_genotypes(hdr, rec, &gt, &ngt), 8);
            for (int J = 0; J < 4; ++J) {
                const auto& copies = individuals[s][static_cast<size_t>(J)];
                for (size_t a = 0; a < 2; ++a) {
                    const int32_t v = gt[2 * J + static_cast<int>(a)];
                    if (a == 1 && copies.size() == 1) {
                        EXPECT_EQ(v, bcf_int32_vector_end);
                        continue;
                    }
                    if (a == 1) {
                        EXPECT_TRUE(bcf_gt_is_phased(v));
                    }
                    const char base = rec->d.allele[bcf_gt_allele(v)][0];
                    EXPECT_EQ(base, byCopy[s][copies[a]][static_cast<size_t>(rec->pos)]);
                }
            }
        }
        free(gt);
        bcf_destroy(rec);
        bcf_hdr_destroy(hdr);
        hts_close(fp);

        // ms: per simulation the VCF's sites that hold REF (the root) and one other base, and
        // 1 exactly where a copy differs from REF; the rows are the individuals' copies in
        // the VCF's order.
        const auto ms = lines(dir.read("s.ms"));
        EXPECT_EQ(ms[0], "quenlith-cli 7 4 --seed 21 --pop-size 100 --seq-length 300 "
                         "--mutation-rate 0.0001 --diploid --seq-out --format Clustal --stats "
                         "st.csv --vcf " +
                             vcfName + " --ms s.ms");
        EXPECT_EQ(ms[1], "21");
        size_t at = 2;
        int leftOut = 0;
        for (int s = 1; s <= 4; ++s) {
            std::vector<int> order;
            for (const auto& ind : individuals[s])
                order.insert(order.end(), ind.begin(), ind.end());
            ASSERT_EQ(order.size(), 7u);
            std::vector<size_t> kept; // indices into sites[s]
            for (size_t x = 0; x < sites[s].size(); ++x) {
                std::set<char> bases;
                for (int c = 1; c <= 7; ++c)
                    bases.insert(byCopy[s][c][static_cast<size_t>(sites[s][x])]);
                if (bases.size() == 2 && bases.count(refs[s][x]))
                    kept.push_back(x);
                else
                    ++leftOut;
            }
            ASSERT_EQ(ms[at], "");
            ASSERT_EQ(ms[at + 1], "//");
            const size_t S = kept.size();
            ASSERT_EQ(ms[at + 2], "segsites: " + std::to_string(S));
            at += 3;
            if (S == 0) continue;
            std::istringstream pos(ms[at].substr(std::string("positions:").size()));
            for (const size_t x : kept) {
                double p;
                pos >> p;
                EXPECT_NEAR(p, sites[s][x] / 300.0, 0.5e-4); // four decimals
            }
            for (size_t r = 0; r < 7; ++r) {
                const std::string& bits = ms[at + 1 + r];
                ASSERT_EQ(bits.size(), S);
                for (size_t y = 0; y < S; ++y) {
                    const size_t x = kept[y];
                    const char base = byCopy[s][order[r]][static_cast<size_t>(sites[s][x])];
                    EXPECT_EQ(bits[y], base == refs[s][x] ? '0' : '1') << s << " " << r;
                }
            }
            at += 8;
        }
        EXPECT_EQ(at, ms.size());
        EXPECT_LT(leftOut, 3); // rare at this rate: the columns above are what is checked
    }
}

TEST(PipelineOutputs, OwnPairingIsAPermutationThatVaries) {
    std::set<std::vector<int32_t>> seen;
    for (int64_t s = 1; s <= 50; ++s) {
        const auto p = PipelineOutputs::ownPairing(9, 42, s);
        std::vector<int32_t> sorted(p);
        std::sort(sorted.begin(), sorted.end());
        for (int32_t i = 0; i < 9; ++i)
            ASSERT_EQ(sorted[static_cast<size_t>(i)], i + 1);
        seen.insert(p);
    }
    EXPECT_GT(seen.size(), 45u);
    EXPECT_EQ(PipelineOutputs::ownPairing(9, 42, 3), PipelineOutputs::ownPairing(9, 42, 3));
}

// The order in which the files list the copies of a simulation. Where the copies are
// exchangeable (readers of ms files and VCFs assume it), rows next to each other differ as
// much as rows ten apart; the default mode's alignment lists neighbours in the genealogy next
// to each other. In streams mode the copies are numbered at random, the same in every file:
// the leaves of a cherry of the Newick tree name rows that are close relatives in the
// alignment, the ms file and the VCF.
namespace {

using Rows = std::vector<std::vector<int>>; // one simulation: a row of values per copy

std::vector<std::string> textLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> words(const std::string& line, char sep = ' ') {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; std::getline(in, w, sep);)
        if (!w.empty()) out.push_back(w);
    return out;
}

// The Fasta layout's blocks: "k L", then per copy "<copy>_<simulation> <sequence>".
std::vector<Rows> alignmentRows(const std::string& text) {
    std::vector<Rows> sims;
    for (const std::string& line : textLines(text)) {
        const auto w = words(line);
        if (w.size() != 2) continue;
        if (w[0].find('_') == std::string::npos) {
            sims.emplace_back();
            continue;
        }
        sims.back().emplace_back(w[1].begin(), w[1].end());
    }
    return sims;
}

// ms: the 0/1 lines after "positions:".
std::vector<Rows> msRows(const std::string& text) {
    std::vector<Rows> sims;
    bool inRows = false;
    for (const std::string& line : textLines(text)) {
        if (line == "//") {
            sims.emplace_back();
            inRows = false;
        } else if (line.rfind("segsites: 0", 0) == 0) {
            inRows = false;
        } else if (line.rfind("positions:", 0) == 0) {
            inRows = true;
        } else if (inRows && !line.empty()) {
            sims.back().emplace_back(line.begin(), line.end());
        }
    }
    return sims;
}

// A haploid VCF: per simulation (CHROM) a row per sample of its genotypes. Simulations
// without a site have no row: the caller pads them.
std::map<std::string, Rows> vcfRows(const std::string& text) {
    std::map<std::string, Rows> sims;
    for (const std::string& line : textLines(text)) {
        if (line.empty() || line[0] == '#') continue;
        const auto f = words(line, '\t');
        Rows& rows = sims[f[0]];
        rows.resize(f.size() - 9);
        for (size_t c = 9; c < f.size(); ++c)
            rows[c - 9].push_back(std::stoi(f[c]));
    }
    return sims;
}

// The genotype table: a row per individual of its allele sizes (three digits each).
std::vector<Rows> genotypeRows(const std::string& text) {
    std::vector<Rows> sims;
    for (const std::string& line : textLines(text)) {
        if (line == "POP") sims.emplace_back();
        const size_t comma = line.find(" , ");
        if (comma == std::string::npos || sims.empty()) continue;
        std::vector<int> row;
        for (const std::string& code : words(line.substr(comma + 3)))
            for (size_t at = 0; at + 3 <= code.size(); at += 3)
                row.push_back(std::stoi(code.substr(at, 3)));
        sims.back().push_back(row);
    }
    return sims;
}

// The leaves of every cherry of each Newick line.
std::vector<std::vector<std::pair<int, int>>> cherries(const std::string& text) {
    std::vector<std::vector<std::pair<int, int>>> out;
    const std::regex cherry(R"(\((\d+):\d+,(\d+):\d+\))");
    for (const std::string& line : textLines(text)) {
        if (line.empty()) continue;
        out.emplace_back();
        for (std::sregex_iterator m(line.begin(), line.end(), cherry), end; m != end; ++m)
            out.back().emplace_back(std::stoi((*m)[1]), std::stoi((*m)[2]));
    }
    return out;
}

double distance(const std::vector<int>& a, const std::vector<int>& b) {
    double d = 0;
    for (size_t i = 0; i < a.size(); ++i)
        d += a[i] != b[i] ? 1 : 0;
    return d;
}

// Per simulation the mean distance of rows j and j + 1 less that of rows j and j + 10; their
// mean over the simulations in units of its standard error.
double adjacencyZ(const std::vector<Rows>& sims) {
    std::vector<double> x;
    for (const Rows& r : sims) {
        if (r.size() < 11) continue;
        double near = 0, far = 0;
        for (size_t j = 0; j + 1 < r.size(); ++j)
            near += distance(r[j], r[j + 1]);
        for (size_t j = 0; j + 10 < r.size(); ++j)
            far += distance(r[j], r[j + 10]);
        x.push_back(near / static_cast<double>(r.size() - 1) -
                    far / static_cast<double>(r.size() - 10));
    }
    double mean = 0, var = 0;
    for (const double v : x)
        mean += v;
    mean /= static_cast<double>(x.size());
    for (const double v : x)
        var += (v - mean) * (v - mean);
    var /= static_cast<double>(x.size() - 1);
    return mean / std::sqrt(var / static_cast<double>(x.size()));
}

// The mean distance of the rows of the Newick file's cherries over that of all pairs of rows.
double cherryRatio(const std::vector<Rows>& sims,
                   const std::vector<std::vector<std::pair<int, int>>>& trees) {
    double cherry = 0, all = 0;
    int nCherry = 0, nAll = 0;
    for (size_t s = 0; s < sims.size(); ++s) {
        const Rows& r = sims[s];
        if (r.empty()) continue;
        for (const auto& [a, b] : trees[s]) {
            cherry += distance(r[static_cast<size_t>(a)], r[static_cast<size_t>(b)]);
            ++nCherry;
        }
        for (size_t i = 0; i < r.size(); ++i)
            for (size_t j = i + 1; j < r.size(); ++j) {
                all += distance(r[i], r[j]);
                ++nAll;
            }
    }
    return (cherry / nCherry) / (all / nAll);
}

} // namespace

TEST(PipelineOutputs, RowsAreExchangeableWhereTheFilesSaySoAndStreamsFilesAgree) {
    // k = 20, theta = 2 N p = 20 on 1000 sites, 500 simulations.
    const std::string dna =
        "--seed 5 --sims 500 --sample-size 20 --pop-size 1000 "
        "--mutation-rate 0.00001 --seq-out --format Fasta --vcf v.vcf --ms s.ms";
    constexpr double kZ = 4.5; // about 1 in 10^5 for each of the checks of exchangeability
    for (const bool streams : {false, true}) {
        SCOPED_TRACE(streams ? "streams" : "default");
        TempDir dir;
        ASSERT_EQ(run(dir, dna + (streams ? " --rng streams" : "")), 0);
        const auto alignment = alignmentRows(dir.read("seqout.txt"));
        const auto ms = msRows(dir.read("s.ms"));
        const auto vcfBySim = vcfRows(dir.read("v.vcf"));
        ASSERT_EQ(alignment.size(), 500u);
        ASSERT_EQ(ms.size(), 500u);
        std::vector<Rows> vcf(500);
        for (size_t s = 0; s < vcf.size(); ++s) {
            const auto it = vcfBySim.find("sim" + std::to_string(s + 1));
            vcf[s] = it != vcfBySim.end() ? it->second : Rows(20);
        }
        EXPECT_LT(std::abs(adjacencyZ(ms)), kZ);
        EXPECT_LT(std::abs(adjacencyZ(vcf)), kZ);
        if (streams) {
            EXPECT_LT(std::abs(adjacencyZ(alignment)), kZ);
            // Two copies of a cherry are close relatives in every file: the copies' numbers
            // are the same in all of them.
            const auto trees = cherries(dir.read("NewickTrees.tre"));
            ASSERT_EQ(trees.size(), 500u);
            const std::vector<const std::vector<Rows>*> files = {&alignment, &ms, &vcf};
            for (const auto* rows : files)
                EXPECT_LT(cherryRatio(*rows, trees), 0.5);
        } else {
            // The default mode's order: neighbours in the genealogy are next to each other.
            EXPECT_LT(adjacencyZ(alignment), -10);
        }
    }
    // Microsatellites in streams mode: 20 individuals of two copies each at five loci.
    TempDir dir;
    std::ofstream(dir.file("msatparam.txt"), std::ios::binary)
        << "1 300 300 1 0.005\r\n2 300 300 1 0.005\r\n3 300 300 1 0.005\r\n"
           "4 300 300 1 0.005\r\n5 300 300 1 0.005\r\n";
    ASSERT_EQ(run(dir, "--rng streams --seed 5 --sims 500 --sample-size 40 --pop-size 500 --msat "
                       "--loci 5 --msat-model stepwise --msat-out"),
              0);
    const auto genotypes = genotypeRows(dir.read("MsatData.csv"));
    ASSERT_EQ(genotypes.size(), 500u);
    ASSERT_EQ(genotypes[0].size(), 20u);
    EXPECT_LT(std::abs(adjacencyZ(genotypes)), kZ);
}

// The ms file's positions against printf's rounding of site / L, for every site of lengths
// with midpoints (a power of two), with more decimals, and beyond 10^6.
TEST(PipelineOutputs, MsPositionsAreThoseOfPrintf) {
    for (const int32_t length : {1, 3, 7, 1000, 10000, 10001, 32768, 99999, 1000000, 1048576}) {
        int decimals = 4;
        for (int64_t scale = 10000; scale < length; scale *= 10)
            ++decimals;
        const int32_t step = length > 100000 ? 7 : 1;
        for (int32_t site = 0; site < length; site += step) {
            std::string got;
            MsWriter::appendPosition(site, length, got);
            char want[64];
            std::snprintf(want, sizeof want, "%.*f", decimals,
                          static_cast<double>(site) / static_cast<double>(length));
            ASSERT_EQ(got, want) << site << " / " << length;
        }
    }
}
