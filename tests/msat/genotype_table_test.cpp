// The genotype table: allele codes and the block of one simulation.
#include "msat/genotype_table.h"

#include <gtest/gtest.h>

using namespace quenlith;

namespace {

AlleleSizes table(std::vector<std::vector<int32_t>> copies) {
    AlleleSizes sizes;
    sizes.recreate(static_cast<int32_t>(copies.size()),
                   copies.empty() ? 0 : static_cast<int32_t>(copies[0].size()));
    for (size_t i = 0; i < copies.size(); ++i)
        for (size_t l = 0; l < copies[i].size(); ++l)
            sizes.at(static_cast<int32_t>(i), static_cast<int32_t>(l)) = copies[i][l];
    return sizes;
}

} // namespace

TEST(GenotypeTable, AlleleCodes) {
    EXPECT_EQ(alleleCode(7), "07");
    EXPECT_EQ(alleleCode(95), "095");
    EXPECT_EQ(alleleCode(99), "099");
    EXPECT_EQ(alleleCode(100), "100");
    EXPECT_EQ(alleleCode(1234), "1234");
    EXPECT_EQ(alleleCode(0), "00");
    EXPECT_EQ(alleleCode(-3), "0-3");
}

TEST(GenotypeTable, WorkedExampleBlock) {
    // k = 4, L = 2, PairingOrder 3, 1, 4, 2.
    const AlleleSizes sizes = table({{100, 98}, {104, 100}, {102, 96}, {98, 96}});
    std::string block;
    appendGenotypeBlock(sizes, {3, 1, 4, 2}, block);
    EXPECT_EQ(block, "Simulated microsatellite data\r\n"
                     "    Locus1\r\n"
                     "    Locus2\r\n"
                     "POP\r\n"
                     "      1 ,  102100 096098 \r\n"
                     "      2 ,  098104 096100 \r\n"
                     "\r\n");
}

TEST(GenotypeTable, OddSamplesManyLociAndNoLoci) {
    // k = 5: two individuals, the copy at the last position is left out; codes of unequal
    // width are run together.
    const AlleleSizes sizes = table({{7, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
                                     {1234, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
                                     {-3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
                                     {100, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
                                     {555, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}});
    std::string block;
    appendGenotypeBlock(sizes, {2, 1, 3, 5, 4}, block);
    const std::string expected = "Simulated microsatellite data\r\n"
                                 "    Locus1\r\n    Locus2\r\n    Locus3\r\n    Locus4\r\n"
                                 "    Locus5\r\n    Locus6\r\n    Locus7\r\n    Locus8\r\n"
                                 "    Locus9\r\n   Locus10\r\n   Locus11\r\n   Locus12\r\n"
                                 "POP\r\n"
                                 "      1 ,  123407 0201 0201 0201 0201 0201 0201 0201 0201 "
                                 "0201 0201 0201 \r\n"
                                 "      2 ,  0-3555 0305 0305 0305 0305 0305 0305 0305 0305 "
                                 "0305 0305 0305 \r\n"
                                 "\r\n";
    EXPECT_EQ(block, expected);

    // L = 0: the title, "POP", and individual lines of the comma field and one blank.
    AlleleSizes none;
    none.recreate(4, 0);
    block.clear();
    appendGenotypeBlock(none, {1, 2, 3, 4}, block);
    EXPECT_EQ(block, "Simulated microsatellite data\r\nPOP\r\n      1 ,  \r\n      2 ,  \r\n\r\n");

    // Individual numbers of several digits keep the 10-character field.
    AlleleSizes many;
    many.recreate(24, 1);
    std::vector<int32_t> order;
    for (int32_t c = 1; c <= 24; ++c)
        order.push_back(c);
    block.clear();
    appendGenotypeBlock(many, order, block);
    EXPECT_NE(block.find("\r\n     12 ,  0000 \r\n\r\n"), std::string::npos);
}
