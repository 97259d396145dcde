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
#include <filesystem>
#include <gtest/gtest.h>
#include <htslib/vcf.h>
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

namespace {

// Mean differences between rows i and i + 1 and between rows i and i + 10 of every
// simulation, from rows of 0/1 (or allele) characters per simulation.
std::pair<double, double> adjacentAndDistant(const std::vector<std::vector<std::string>>& sims) {
    double adjacent = 0, distant = 0;
    int64_t nAdjacent = 0, nDistant = 0;
    auto differences = [](const std::string& a, const std::string& b) {
        int n = 0;
        for (size_t x = 0; x < a.size(); ++x)
            n += a[x] != b[x];
        return n;
    };
    for (const auto& rows : sims)
        for (size_t i = 0; i < rows.size(); ++i) {
            if (i + 1 < rows.size()) adjacent += differences(rows[i], rows[i + 1]), ++nAdjacent;
            if (i + 10 < rows.size()) distant += differences(rows[i], rows[i + 10]), ++nDistant;
        }
    return {adjacent / static_cast<double>(nAdjacent), distant / static_cast<double>(nDistant)};
}

} // namespace

// Readers of ms files and VCFs take the rows as exchangeable: neighbouring rows must be no
// closer relatives than distant ones (in the tree's order they differ at about a quarter of
// the sites that rows ten apart do).
TEST(PipelineOutputs, MsRowsAndVcfColumnsAreExchangeable) {
    for (const std::string rng : {"lcg", "streams"}) {
        TempDir dir;
        ASSERT_EQ(run(dir, "--seed 5 --rng " + rng +
                               " --sims 300 --sample-size 20 --pop-size 1000 --seq-length 2000 "
                               "--mutation-rate 0.0000025 --ms s.ms --vcf v.vcf"),
                  0);
        std::vector<std::vector<std::string>> ms;
        for (const std::string& line : lines(dir.read("s.ms"))) {
            if (line == "//")
                ms.emplace_back();
            else if (!ms.empty() && !line.empty() && (line[0] == '0' || line[0] == '1'))
                ms.back().push_back(line);
        }
        ASSERT_EQ(ms.size(), 300u);
        // The VCF's haploid columns, per simulation: one string of alleles per sample.
        std::vector<std::vector<std::string>> vcf(300, std::vector<std::string>(20));
        for (const std::string& line : lines(dir.read("v.vcf"))) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> f;
            std::istringstream in(line);
            for (std::string w; std::getline(in, w, '\t');)
                f.push_back(w);
            ASSERT_EQ(f.size(), 29u);
            const size_t s = std::stoul(f[0].substr(3)) - 1;
            for (size_t c = 0; c < 20; ++c)
                vcf[s][c] += f[9 + c];
        }
        for (const auto* rows : {&ms, &vcf}) {
            const auto [adjacent, distant] = adjacentAndDistant(*rows);
            EXPECT_GT(adjacent, 7.0) << rng; // about theta = 10
            EXPECT_NEAR(adjacent / distant, 1.0, 0.1) << rng << " " << adjacent << " " << distant;
        }
    }
}
