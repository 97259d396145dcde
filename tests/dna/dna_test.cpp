// DNA set-up (root sequence, invariable sites, gamma draw) and the substitution models.
#include "base/run_error.h"
#include "dna/dna_setup.h"
#include "dna/substitution.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace quenlith;

namespace {

DnaSettings dnaParams() {
    DnaSettings p;
    p.SequenceLength = 1000;
    p.MutationRate = 0.0000001L;
    p.Model = SubstitutionModel::JC69;
    return p;
}

std::map<char, int> counts(const std::string& s) {
    std::map<char, int> c;
    for (char ch : s)
        ++c[ch];
    return c;
}

} // namespace

TEST(RootFile, SitesAreTheBytesWithoutLineBreaksOrBlanks) {
    EXPECT_EQ(rootSitesFromFileContent("acgtacgt\n"), "acgtacgt");
    EXPECT_EQ(rootSitesFromFileContent("acgtacgt\r\n"), "acgtacgt");
    EXPECT_EQ(rootSitesFromFileContent("acgt"), "acgt"); // no last base lost
    EXPECT_EQ(rootSitesFromFileContent("AC gt\tNN\r\nac\n"), "ACgtNNac");
    EXPECT_EQ(rootSitesFromFileContent(std::string("acg\x1atttt", 8)), "acg");
    EXPECT_EQ(rootSitesFromFileContent("\r\n \t\n"), "");
    EXPECT_EQ(rootSitesFromFileContent(""), "");
}

TEST(DnaSetup, LengthProbabilityAndRoot) {
    RunRandom rng(5);
    DnaSettings p = dnaParams();
    DnaSetup s = prepareDna(p, nullptr, rng);
    EXPECT_EQ(s.SequenceLength, 1000);
    EXPECT_NEAR(static_cast<double>(s.SeqMutProb), 1e-4, 1e-7);
    auto c = counts(s.RootSequence);
    EXPECT_EQ(c['a'] + c['c'] + c['g'] + c['t'], 1000);
    for (char b : {'a', 'c', 'g', 't'})
        EXPECT_NEAR(c[b], 250, 60);

    p.InvarSites = true;
    p.InvariableFraction = 0.25;
    EXPECT_EQ(prepareDna(p, nullptr, rng).SequenceLength, 750);
    p.InvariableFraction = 0.1;
    EXPECT_EQ(prepareDna(p, nullptr, rng).SequenceLength, 900);
    p.InvariableFraction = 1;
    s = prepareDna(p, nullptr, rng);
    EXPECT_EQ(s.SequenceLength, 0);
    EXPECT_EQ(s.SeqMutProb, 0);
    EXPECT_TRUE(s.RootSequence.empty());

    // A root from a file sets the length and the probability rests on it.
    p.InvarSites = false;
    const std::string root = "ACGTacgtNN";
    const uint32_t before = rng.state();
    s = prepareDna(p, &root, rng);
    EXPECT_EQ(rng.state(), before); // nothing drawn
    EXPECT_EQ(s.RootSequence, root);
    EXPECT_EQ(s.SequenceLength, 10);
    EXPECT_EQ(s.SeqMutProb, 1 - std::pow(1 - 0.0000001L, 10.0L));
    EXPECT_EQ(s.FreqA + s.FreqC + s.FreqG + s.FreqT, 0); // frequencies not read

    p.SequenceLength = -1;
    EXPECT_THROW(prepareDna(p, nullptr, rng), RunError);
}

TEST(DnaSetup, RootFromBaseFrequencies) {
    RunRandom rng(8);
    DnaSettings p = dnaParams();
    p.Model = SubstitutionModel::F81;
    p.FreqA = 1;
    DnaSetup s = prepareDna(p, nullptr, rng);
    EXPECT_EQ(counts(s.RootSequence)['a'], 1000);

    p.Model = SubstitutionModel::HKY85;
    p.FreqA = p.FreqC = p.FreqG = 0.2;
    p.SequenceLength = 20000;
    s = prepareDna(p, nullptr, rng);
    EXPECT_NEAR(counts(s.RootSequence)['t'] / 20000.0, 0.4, 0.02);
    EXPECT_DOUBLE_EQ(s.FreqT, 0.4);

    p.FreqA = p.FreqC = p.FreqG = 0.5; // no band left for g and t
    s = prepareDna(p, nullptr, rng);
    auto c = counts(s.RootSequence);
    EXPECT_EQ(c['a'] + c['c'], 20000);

    // Frequencies are resolved in steps of 0.01: 0.255 gives 'a' for r = 0..25.
    p.FreqA = 0.255;
    p.FreqC = p.FreqG = 0.25;
    p.SequenceLength = 3000;
    RunRandom replay(77), drawn(77);
    s = prepareDna(p, nullptr, drawn);
    for (char site : s.RootSequence) {
        const int32_t r = replay.Random(100);
        ASSERT_EQ(site == 'a', r <= 25) << r;
    }
}

TEST(SubstitutionModels, DrawsAndBands) {
    // K2P with R = 0.5: b = 50, Random(250); a -> g below 50, c below 150, else t.
    const BaseChanger k2p(SubstitutionModel::K2P, 0.25, 0.25, 0.25, 0.5);
    // HKY85 with piA = 0.4, piC = piG = piT = 0.2, R = 2: 'a' draws Random(80):
    // 0..39 g, 40..59 c, 60..79 t.
    const BaseChanger hky(SubstitutionModel::HKY85, 0.4, 0.2, 0.2, 2);
    const BaseChanger jc(SubstitutionModel::JC69, 0.25, 0.25, 0.25, 2);
    const BaseChanger k2pNoTransitions(SubstitutionModel::K2P, 0.25, 0.25, 0.25, 0);
    const BaseChanger f81(SubstitutionModel::F81, 0.25, 0.25, 0.25, 2);
    for (uint32_t seed = 0; seed < 2000; ++seed) {
        RunRandom rng(seed * 2654435761u), replay(seed * 2654435761u);
        const int32_t r1 = replay.Random(250);
        const char k = k2p.change('A', rng);
        ASSERT_EQ(k, r1 < 50 ? 'g' : r1 < 150 ? 'c' : 't');
        const int32_t r2 = replay.Random(80);
        ASSERT_EQ(hky.change('a', rng), r2 < 40 ? 'g' : r2 < 60 ? 'c' : 't');
        const int32_t r3 = replay.Random(3);
        ASSERT_EQ(jc.change('t', rng), "acg"[r3]);
        const int32_t r4 = replay.Random(200);
        ASSERT_EQ(k2pNoTransitions.change('c', rng), r4 < 100 ? 'a' : 'g');
        const int32_t r5 = replay.Random(75);
        ASSERT_EQ(f81.change('g', rng), r5 < 25 ? 'a' : r5 < 50 ? 'c' : 't');
        ASSERT_EQ(rng.state(), replay.state());
    }
}

TEST(SubstitutionModels, OtherBytesStayAndOnlyJcK2pDraw) {
    RunRandom rng(1);
    const BaseChanger jc(SubstitutionModel::JC69, 0.25, 0.25, 0.25, 2);
    const BaseChanger k2p(SubstitutionModel::K2P, 0.25, 0.25, 0.25, 2);
    const BaseChanger f81(SubstitutionModel::F81, 0.25, 0.25, 0.25, 2);
    const BaseChanger hky(SubstitutionModel::HKY85, 0.25, 0.25, 0.25, 2);
    uint32_t s = rng.state();
    EXPECT_EQ(jc.change('N', rng), 'N');
    EXPECT_NE(rng.state(), s);
    s = rng.state();
    EXPECT_EQ(k2p.change('-', rng), '-');
    EXPECT_NE(rng.state(), s);
    s = rng.state();
    EXPECT_EQ(f81.change('N', rng), 'N');
    EXPECT_EQ(hky.change('?', rng), '?');
    EXPECT_EQ(rng.state(), s);
    // F81 with piA = 1 mutating an 'a': T = 0, Random(0), no band: unchanged.
    const BaseChanger allA(SubstitutionModel::F81, 1, 0, 0, 2);
    EXPECT_EQ(allA.change('a', rng), 'a');
    // JC69 never keeps a base.
    for (int i = 0; i < 200; ++i)
        EXPECT_NE(jc.change('c', rng), 'c');
}

TEST(Gamma, VariatesHaveMeanAlpha) {
    for (double alpha : {0.3, 0.5, 1.0, 2.0, 2.5, 4.7}) {
        RunRandom rng(static_cast<uint32_t>(alpha * 1000));
        const int n = 40000;
        double sum = 0, sum2 = 0;
        for (int i = 0; i < n; ++i) {
            const double g = gammaVariate(alpha, rng);
            ASSERT_GE(g, 0);
            sum += g;
            sum2 += g * g;
        }
        const double mean = sum / n;
        EXPECT_NEAR(mean, alpha, 4 * std::sqrt(alpha / n)) << alpha;
        EXPECT_NEAR(sum2 / n - mean * mean, alpha, 0.1 * alpha + 0.05) << alpha;
    }
    // alpha = 1 is one exponential: -ln U of one uniform.
    RunRandom a(42), b(42);
    EXPECT_DOUBLE_EQ(gammaVariate(1, a), -std::log(static_cast<double>(b.RandomFloat())));
}

TEST(Scatter, MutationsReachTheCopiesBelowTheirLineage) {
    // k = 4: (0,1) merge at 10, then (2,3) at 20, then the root at 30.
    Genealogy g;
    g.SampleSize = 4;
    g.CoalEvents = {{10, 0, 1}, {20, 1, 2}, {30, 0, 1}};
    g.rebuildTree();
    // A mutation on leaf 3 (before any merge), one on the (2,3) lineage.
    g.MutEvents = {{5, 3}, {25, 1}};
    g.mutationNodes = {3, 5};
    SampleSequences seqs;
    seqs.reset("aaaa", 4);
    const BaseChanger jc(SubstitutionModel::JC69, 0.25, 0.25, 0.25, 2);
    RunRandom rng(9);
    ScatterMutations(GeneTree(g), seqs, jc, rng);
    // Copies 0 and 1 keep the root everywhere.
    EXPECT_EQ(std::string(seqs.copy(0), 4), "aaaa");
    EXPECT_EQ(std::string(seqs.copy(1), 4), "aaaa");
    int differ23 = 0;
    for (int site = 0; site < 4; ++site)
        differ23 += seqs.at(site, 2) != seqs.at(site, 3);
    EXPECT_LE(differ23, 1);
    EXPECT_GE(countFiniteSegSites(seqs), 1);
    EXPECT_LE(countFiniteSegSites(seqs), 2);
}

TEST(Scatter, ARevertedSiteIsNotSegregating) {
    Genealogy g;
    g.SampleSize = 2;
    g.CoalEvents = {{10, 0, 1}};
    g.rebuildTree();
    SampleSequences seqs;
    seqs.reset("a", 2);
    // Two mutations on leaf 0 at the only site: JC69 from 'a' and back can restore 'a'.
    g.MutEvents = {{1, 0}, {2, 0}};
    g.mutationNodes = {0, 0};
    const BaseChanger jc(SubstitutionModel::JC69, 0.25, 0.25, 0.25, 2);
    int restored = 0;
    for (uint32_t seed = 0; seed < 300; ++seed) {
        seqs.reset("a", 2);
        RunRandom rng(seed);
        ScatterMutations(GeneTree(g), seqs, jc, rng);
        const bool same = seqs.at(0, 0) == 'a';
        EXPECT_EQ(countFiniteSegSites(seqs), same ? 0 : 1);
        restored += same;
    }
    EXPECT_GT(restored, 50); // about one in three
    EXPECT_LT(restored, 150);
}
