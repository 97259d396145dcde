// The sequence file layouts and the Arlequin project files, against the worked examples.
#include "base/run_error.h"
#include "output/alignment.h"
#include "output/arlequin.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <random>

using namespace quenlith;
using quenlith::testing::TempDir;

namespace {

SampleSequences sequencesOf(const std::vector<std::string>& copies) {
    SampleSequences s;
    s.reset(copies.at(0), static_cast<int32_t>(copies.size()));
    for (size_t i = 0; i < copies.size(); ++i)
        std::copy(copies[i].begin(), copies[i].end(), s.copy(static_cast<int32_t>(i)));
    return s;
}

std::string block(const SampleSequences& s, int32_t sim, const std::vector<int32_t>* pairing,
                  OutputFormat format, SubstitutionModel model = SubstitutionModel::JC69,
                  bool gamma = false) {
    std::string out;
    appendAlignmentBlock(s, sim, pairing, {format, model, gamma}, out);
    return out;
}

const std::vector<int32_t> kPairing3142 = {3, 1, 4, 2};

} // namespace

TEST(Alignment, NexusHaploidExample) {
    const SampleSequences s = sequencesOf({"acgt", "ACtT"});
    EXPECT_EQ(block(s, 3, nullptr, OutputFormat::Nexus),
              "#NEXUS\r\n\r\nBEGIN DATA;\r\nDIMENSIONS NTAX=2 NCHAR=4;\r\nFORMAT DATATYPE=DNA;\r\n"
              "MATRIX\r\n1_3\r\nACGT\r\n2_3\r\nACTT\r\n;\r\nend;\r\n\r\n");
}

TEST(Alignment, FastaDiploidExampleAndLongNames) {
    const SampleSequences s = sequencesOf({"aaaa", "cccc", "gggg", "tttt"});
    EXPECT_EQ(
        block(s, 1, &kPairing3142, OutputFormat::Fasta),
        "4 4\r\n      1_1 GGGG\r\n      1_1 AAAA\r\n      2_1 TTTT\r\n      2_1 CCCC\r\n\r\n");
    // A name that fills the field or passes it is written whole, the sequence right after.
    std::string out;
    appendAlignmentBlock(s, 10000, nullptr, {OutputFormat::Fasta}, out);
    EXPECT_NE(out.find("\r\n  1_10000 AAAA\r\n"), std::string::npos);
    const SampleSequences one = sequencesOf({"ac", "ag"});
    out.clear();
    appendAlignmentBlock(one, 123456789, nullptr, {OutputFormat::Fasta}, out);
    EXPECT_EQ(out, "2 2\r\n1_123456789 AC\r\n2_123456789 AG\r\n\r\n");
}

TEST(Alignment, ClustalNamesHaploidAndDiploid) {
    const SampleSequences s = sequencesOf({"aaaa", "cccc", "gggg", "tttt"});
    EXPECT_EQ(block(s, 2, nullptr, OutputFormat::Clustal),
              ">1_2\r\nAAAA\r\n>2_2\r\nCCCC\r\n>3_2\r\nGGGG\r\n>4_2\r\nTTTT\r\n\r\n");
    EXPECT_EQ(block(s, 2, &kPairing3142, OutputFormat::Clustal),
              ">Ind_1_3_2\r\nGGGG\r\n>Ind_1_1_2\r\nAAAA\r\n>Ind_2_4_2\r\nTTTT\r\n>Ind_2_2_2\r\n"
              "CCCC\r\n\r\n");
}

TEST(Alignment, MrBayesBlockIsNexusWithCommands) {
    const SampleSequences s = sequencesOf({"aaaa", "cccc", "gggg", "tttt"});
    const std::string head = "begin mrbayes;\r\nset autoclose=yes;\r\n";
    const std::string equal = "prset statefreqpr=fixed(equal);\r\n";
    const auto mcmc = [](int32_t sim) {
        return "mcmc ngen=1000 printfreq=100 samplefreq=10 nchains=4 savebrlens=yes "
               "filename=sim_" +
               std::to_string(sim) + ";\r\nend;\r\n";
    };
    // The diploid names lose the underscore after "Ind".
    std::string nexus = block(s, 1, &kPairing3142, OutputFormat::Nexus);
    for (size_t at; (at = nexus.find("Ind_")) != std::string::npos;)
        nexus.erase(at + 3, 1);
    // One rate class with fixed equal frequencies for JC69, free frequencies for F81;
    // two rate classes with equal frequencies for K2P, free ones for HKY85.
    EXPECT_EQ(block(s, 1, &kPairing3142, OutputFormat::MrBayes),
              nexus + head + "lset nst=1 ;\r\n" + equal + mcmc(1));
    EXPECT_EQ(block(s, 12, nullptr, OutputFormat::MrBayes, SubstitutionModel::F81),
              block(s, 12, nullptr, OutputFormat::Nexus) + head + "lset nst=1 ;\r\n" + mcmc(12));
    EXPECT_TRUE(block(s, 3, nullptr, OutputFormat::MrBayes, SubstitutionModel::K2P)
                    .ends_with("lset nst=2 ;\r\n" + equal + mcmc(3)));
    EXPECT_TRUE(block(s, 1, nullptr, OutputFormat::MrBayes, SubstitutionModel::HKY85, true)
                    .ends_with(head + "lset nst=2 rates=gamma;\r\n" + mcmc(1)));
    EXPECT_TRUE(block(s, 1, nullptr, OutputFormat::MrBayes, SubstitutionModel::JC69, true)
                    .ends_with("lset nst=1 rates=gamma;\r\n" + equal + mcmc(1)));
    EXPECT_TRUE(block(s, 1, nullptr, OutputFormat::MrBayes, SubstitutionModel::F81, true)
                    .ends_with(head + "lset nst=1 rates=gamma;\r\n" + mcmc(1)));
}

TEST(Alignment, OddDiploidSampleAndCaseOfBases) {
    const SampleSequences s = sequencesOf({"a-n?", "cccc", "gggg", "tttt", "xxxx"});
    const std::vector<int32_t> pairing = {5, 4, 3, 2, 1};
    const std::string out = block(s, 1, &pairing, OutputFormat::Nexus);
    EXPECT_NE(out.find("NTAX=5 NCHAR=4;"), std::string::npos);
    EXPECT_NE(out.find("Ind_3_1_1\r\nA-N?\r\n;\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Ind_2_2_1\r\n"), std::string::npos);
}

TEST(Arlequin, HaploidDnaExample) {
    const SampleSequences s = sequencesOf({"acgt", "actt"});
    EXPECT_EQ(dnaArlequinProject(s, nullptr),
              "[Profile]\r\n"
              "   Title=\"DNA sequence data generated using coalescent simulations\"\r\n"
              "   NbSamples=1\r\n"
              "   GenotypicData=0\r\n"
              "   DataType=DNA\r\n"
              "   LocusSeparator=NONE\r\n"
              "[Data]\r\n"
              " [[Samples]]\r\n"
              "   SampleName=\"Panmictic population\"\r\n"
              "   SampleSize=2\r\n"
              "   SampleData= {\r\n"
              "        1  1 ACGT\r\n"
              "        2  1 ACTT\r\n"
              "}\r\n");
    EXPECT_EQ(arlequinProjectPath("D", 12), "D/Arlequin/sim_12.arp");
}

TEST(Arlequin, DiploidDnaWithOddSample) {
    const SampleSequences s = sequencesOf({"aa", "cc", "gg", "tt", "ag"});
    const std::vector<int32_t> pairing = {2, 5, 1, 4, 3};
    const std::string text = dnaArlequinProject(s, &pairing);
    EXPECT_NE(text.find("   GenotypicData=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("   SampleName=\"Homogenous population\"\r\n   SampleSize=2\r\n"
                        "   SampleData= {\r\n"
                        "        1  1 CC\r\n"
                        "             AG\r\n"
                        "        2  1 AA\r\n"
                        "             TT\r\n"
                        "        3  1 GG\r\n"
                        "}\r\n"),
              std::string::npos)
        << text;
}

TEST(Arlequin, MicrosatelliteProject) {
    AlleleSizes sizes;
    sizes.recreate(4, 2);
    const int32_t values[4][2] = {{100, 98}, {104, 100}, {102, 96}, {98, 96}};
    for (int32_t c = 0; c < 4; ++c)
        for (int32_t l = 0; l < 2; ++l)
            sizes.at(c, l) = values[c][l];
    EXPECT_EQ(msatArlequinProject(sizes, kPairing3142),
              "[Profile]\r\n"
              "   Title=\"Microsatellite data generated using coalescent simulations\"\r\n"
              "   NbSamples=1\r\n"
              "   GenotypicData=1\r\n"
              "   GameticPhase=0\r\n"
              "   DataType=MICROSAT\r\n"
              "   LocusSeparator=WHITESPACE\r\n"
              "[Data]\r\n"
              " [[Samples]]\r\n"
              "   SampleName=\"Panmictic population\"\r\n"
              "   SampleSize=2\r\n"
              "   SampleData= {\r\n"
              "        1  1 102 96 \r\n"
              "             100 98 \r\n"
              "        2  1 98 96 \r\n"
              "             104 100 \r\n"
              "}\r\n");
    sizes.recreate(3, 0);
    EXPECT_TRUE(msatArlequinProject(sizes, {1, 3, 2})
                    .ends_with("        1  1 \r\n             \r\n        2  1 \r\n}\r\n"));
}

TEST(Arlequin, BatchLineThenProjectAndFailures) {
    TempDir dir;
    createDirectoryIgnoringErrors(dir.file("Arlequin"));
    BlockFile batch(dir.file("ArlequinBatch.arp"), true);
    writeArlequinProject(batch, dir.str(), 1, "one\r\n");
    writeArlequinProject(batch, dir.str(), 2, "two\r\n");
    EXPECT_EQ(dir.read("ArlequinBatch.arp"),
              dir.str() + "/Arlequin/sim_1.arp\r\n" + dir.str() + "/Arlequin/sim_2.arp\r\n");
    EXPECT_EQ(dir.read("Arlequin/sim_2.arp"), "two\r\n");

    // Without the folder the project cannot be created: the error ends the run, and the
    // batch line already written stays.
    TempDir bare;
    BlockFile batch2(bare.file("ArlequinBatch.arp"), true);
    try {
        writeArlequinProject(batch2, bare.str(), 1, "x");
        FAIL() << "no error";
    } catch (const RunError& e) {
        EXPECT_EQ(e.code(), ErrorCode::FileNotFound);
        EXPECT_EQ(e.detail(), bare.str() + "/Arlequin/sim_1.arp");
    }
    EXPECT_EQ(bare.read("ArlequinBatch.arp"), bare.str() + "/Arlequin/sim_1.arp\r\n");
}

// The block-wise upper-casing against a plain byte-by-byte one, over every byte value and
// lengths around the block size, appended after text already in the string.
TEST(Alignment, SequenceTextMatchesPlainUpperCasing) {
    std::mt19937 gen(14);
    for (int32_t length : {0, 1, 5, 31, 32, 33, 63, 64, 65, 100, 1000, 1031}) {
        for (int round = 0; round < 20; ++round) {
            std::string root(static_cast<size_t>(length), '\0');
            for (char& c : root)
                c = static_cast<char>(gen() & 0xFF);
            SampleSequences s;
            s.reset(root, 2);
            std::string plain = "prefix";
            for (char c : root)
                plain += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
            std::string out = "prefix";
            appendSequenceText(s, 1, out);
            ASSERT_EQ(out, plain) << "length " << length;
        }
    }
}
