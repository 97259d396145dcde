// The summary table of both data types and the two DNA diversity indices.
#include "dna/substitution.h"
#include "genealogy/genealogy.h"
#include "output/diversity.h"
#include "output/summary_table.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace quenlith;

namespace {

SampleSequences sequencesOf(const std::vector<std::string>& copies) {
    SampleSequences s;
    s.reset(copies.at(0), static_cast<int32_t>(copies.size()));
    for (size_t i = 0; i < copies.size(); ++i)
        std::copy(copies[i].begin(), copies[i].end(), s.copy(static_cast<int32_t>(i)));
    // Mark every site as hit, as a scatter touching all of them would.
    for (int32_t j = 0; j < s.length; ++j)
        s.hitSites.push_back(j);
    return s;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(SummaryTable, DnaWithAndWithoutDiversity) {
    PerSimulationTables t;
    t.recreate(2);
    t.TmrcaPerSim = {812, 7};
    t.SegSitesPerSim = {57, 0};
    t.FiniteSegSitesPerSim = {55, 0};
    t.HaplotypeDiversityPerSim = {0.987755, 1};
    t.NucleotideDiversityPerSim = {0.012344999, 0.5};
    EXPECT_EQ(dnaSummaryTable(t, false),
              "Simulation #, Tmrca, Infinite s, Finite s\r\n1, 812, 57, 55\r\n2, 7, 0, 0\r\n");
    EXPECT_EQ(dnaSummaryTable(t, true),
              "Simulation#, Tmrca, Infinite s, Finite s, Allelic Div, Nucleotide Div\r\n"
              "1, 812, 57, 55, 0.98776, 0.01234\r\n2, 7, 0, 0, 1.00000, 0.50000\r\n");
    t.recreate(0);
    EXPECT_EQ(dnaSummaryTable(t, false), "Simulation #, Tmrca, Infinite s, Finite s\r\n");
}

TEST(SummaryTable, MicrosatelliteColumnsPerLocus) {
    MsatResultTables t;
    t.recreate(2, 2);
    t.MsatTmrca = {100, 200, 300, 400};
    t.MsatInfAlleles = {5, 6, 7, 8};
    t.MsatAlleleCount = {3, 4, 5, 50};
    t.MsatGeneDiversity = {0.5, 0.25, 0.0625, 1};
    EXPECT_EQ(msatSummaryTable(t, 2, 50, false),
              "Simulation #, Tmrca:Loc 1, Inf a:Loc 1, Fin a:Loc 1, Tmrca:Loc 2, Inf a:Loc 2, "
              "Fin a:Loc 2, \r\n1, 100, 5, 3, 200, 6, 4, \r\n2, 300, 7, 5, 400, 8, 50, \r\n");
    // 1 + 2 x 5 columns; the allele count over k in F6.3 (3/50 = 0.06 gives " 0.060").
    EXPECT_EQ(msatSummaryTable(t, 2, 50, true),
              "Simulation #, Tmrca:Loc 1, Inf a:Loc 1, Fin a:Loc 1, Allelic Diversity:Loc 1, "
              "Gene Diversity:Loc 1, Tmrca:Loc 2, Inf a:Loc 2, Fin a:Loc 2, Allelic "
              "Diversity:Loc 2, Gene Diversity:Loc 2, \r\n"
              "1, 100, 5, 3,  0.060,  0.500, 200, 6, 4,  0.080,  0.250, \r\n"
              "2, 300, 7, 5,  0.100,  0.062, 400, 8, 50,  1.000,  1.000, \r\n");
    t.recreate(1, 0);
    EXPECT_EQ(msatSummaryTable(t, 0, 4, true), "Simulation #, \r\n1, \r\n");
}

TEST(Diversity, WorkedCases) {
    // k = 2 differing at 3 of 1000 sites.
    std::string a(1000, 'a'), b = a;
    b[10] = b[500] = b[999] = 'c';
    SequenceDiversity d = sequenceDiversity(sequencesOf({a, b}));
    EXPECT_EQ(d.haplotype, 1.0);
    EXPECT_EQ(d.nucleotide, static_cast<double>(3.0L / 1000));
    // k = 4, copies 1 and 2 identical, every other pair differing: P = 6, Z = 1.
    d = sequenceDiversity(sequencesOf({"aaaa", "aaaa", "aaac", "aagg"}));
    EXPECT_EQ(d.haplotype, static_cast<double>(5.0L / 6));
    // Distances 0, 1/4, 2/4 (twice each from copies 1 and 2) and 2/4 between 3 and 4.
    EXPECT_DOUBLE_EQ(d.nucleotide, (0 + 0.25 + 0.5 + 0.25 + 0.5 + 0.5) / 6);
    // Case does not count as a difference.
    d = sequenceDiversity(sequencesOf({"acgt", "ACGT", "AcGt"}));
    EXPECT_EQ(d.haplotype, 0.0);
    EXPECT_EQ(d.nucleotide, 0.0);
    // No site: both indices 0.
    d = sequenceDiversity(sequencesOf({"", ""}));
    EXPECT_EQ(d.haplotype, 0.0);
    EXPECT_EQ(d.nucleotide, 0.0);
}

TEST(Diversity, HitSitesGiveTheSameBitsAsEverySite) {
    // Genealogies with many mutations on long sequences, scattered as a run scatters them.
    for (uint32_t seed : {1u, 2u, 3u, 99u}) {
        RunRandom rng(seed);
        const int32_t k = 12 + static_cast<int32_t>(seed % 7);
        std::string root(2000, 'a');
        for (char& c : root)
            c = "acgtACGT"[rng.Random(8)];
        Genealogy g;
        GenealogySimulator sim;
        int32_t n = 200;
        MutationProbability mutation;
        mutation.constant = 0.01L * seed;
        sim.simulate(g, k, n, Demography{}, mutation, rng, [] {});
        SampleSequences seqs;
        seqs.reset(root, k);
        const BaseChanger model(SubstitutionModel::JC69, 0.25, 0.25, 0.25, 2);
        ScatterMutations(GeneTree(g), seqs, model, rng);
        ASSERT_GT(seqs.hitSites.size(), 5u);
        ASSERT_LT(seqs.hitSites.size(), 2000u);
        const SequenceDiversity fast = sequenceDiversity(seqs);
        const SequenceDiversity slow = sequenceDiversityAllSites(seqs);
        EXPECT_TRUE(sameBits(fast.haplotype, slow.haplotype)) << seed;
        EXPECT_TRUE(sameBits(fast.nucleotide, slow.nucleotide)) << seed;
        EXPECT_GT(fast.nucleotide, 0.0);
    }
    // Bytes of many kinds at a site (up to 20 codes), two kinds only, and copies repeated:
    // every width of code gives the same bits as the full comparison.
    for (const char* alphabet : {"acgtnNACGT-?xyzXYZ.*", "aC", "acgtn"}) {
        RunRandom rng(7);
        const size_t kinds = std::strlen(alphabet);
        std::vector<std::string> copies(40, std::string(300, 'a'));
        for (size_t c = 0; c < copies.size(); ++c) {
            if (c % 3 == 2) {
                copies[c] = copies[c - 1]; // a repeated haplotype
                continue;
            }
            for (size_t j = 0; j < 300; j += 1 + rng.Random(3))
                copies[c][j] = alphabet[rng.Random(static_cast<int32_t>(kinds))];
        }
        const SampleSequences seqs = sequencesOf(copies);
        const SequenceDiversity fast = sequenceDiversity(seqs);
        const SequenceDiversity slow = sequenceDiversityAllSites(seqs);
        EXPECT_TRUE(sameBits(fast.haplotype, slow.haplotype)) << alphabet;
        EXPECT_TRUE(sameBits(fast.nucleotide, slow.nucleotide)) << alphabet;
        EXPECT_LT(fast.haplotype, 1.0);
        EXPECT_GT(fast.nucleotide, 0.0);
    }
    // Without a scatter every copy equals the root.
    SampleSequences same;
    same.reset("acgtacgt", 5);
    const SequenceDiversity d = sequenceDiversity(same);
    EXPECT_EQ(d.haplotype, 0.0);
    EXPECT_EQ(d.nucleotide, 0.0);
}
