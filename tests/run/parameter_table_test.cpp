// The parameter table against FormValues: every field has one entry, every entry reads and
// writes its field, and the command line's options follow from it.
#include "run/parameter_table.h"

#include <gtest/gtest.h>

#include <set>

using namespace quenlith;

TEST(ParameterTable, OneEntryForEveryFieldOfTheForm) {
    // A field added to FormValues without an entry changes the count.
    EXPECT_EQ(aggregateFieldCount<FormValues>(), parameterTable().size());
    std::set<std::string> fields, options;
    for (const auto& e : parameterTable()) {
        EXPECT_TRUE(fields.insert(e.field).second) << "twice: " << e.field;
        if (*e.option) {
            EXPECT_TRUE(options.insert(e.option).second) << "twice: " << e.option;
        }
    }
}

TEST(ParameterTable, EachEntryReadsAndWritesItsOwnField) {
    // Setting one field to a value other than its default changes that field only.
    const FormValues defaults;
    for (const auto& e : parameterTable()) {
        FormValues f;
        const std::string before = e.get(f);
        std::string other = e.kind == ParameterKind::Flag ? (before == "1" ? "0" : "1")
                            : e.kind == ParameterKind::Choice
                                ? std::to_string(e.choices.back().value == std::stoi(before)
                                                     ? e.choices.front().value
                                                     : e.choices.back().value)
                            : e.kind == ParameterKind::Number ? "7"
                                                              : before + "x";
        ASSERT_TRUE(e.set(f, other)) << e.field;
        EXPECT_EQ(e.get(f), other) << e.field;
        for (const auto& o : parameterTable())
            if (&o != &e) {
                EXPECT_EQ(o.get(f), o.get(defaults)) << e.field << " changed " << o.field;
            }
    }
}

TEST(ParameterTable, EveryFieldReachableFromTheCommandLine) {
    // A field without an option of its own is the check box ticked by another's option.
    std::set<std::string> ticked;
    for (const auto& e : parameterTable())
        if (e.kind == ParameterKind::CheckedText) {
            ASSERT_NE(findParameter(e.checkField), nullptr) << e.field;
            ticked.insert(e.checkField);
        }
    for (const auto& e : parameterTable())
        if (!*e.option) {
            EXPECT_TRUE(ticked.count(e.field)) << e.field << " has no option";
        }
}

TEST(ParameterTable, OptionsSetTheFieldAndTheCommandLineRepeatsIt) {
    FormValues f;
    const ParameterEntry* sims = findParameter("edtNumberSimulations");
    ASSERT_NE(sims, nullptr);
    EXPECT_EQ(parameterOptionWords(*sims, f), std::vector<std::string>{});
    EXPECT_EQ(applyParameterOption(*sims, f, "12"), "");
    EXPECT_TRUE(f.chkMultipleSims);
    EXPECT_EQ(f.edtNumberSimulations, "12");
    EXPECT_EQ(parameterOptionWords(*sims, f), (std::vector<std::string>{"--sims", "12"}));

    const ParameterEntry* draw = findParameter("chkDrawMut");
    EXPECT_EQ(applyParameterOption(*draw, f, ""), "");
    EXPECT_FALSE(f.chkDrawMut);
    EXPECT_EQ(parameterOptionWords(*draw, f), std::vector<std::string>{"--no-draw-mutations"});

    const ParameterEntry* model = findParameter("model");
    EXPECT_NE(applyParameterOption(*model, f, "GTR"), "");
    EXPECT_EQ(f.model, SubstitutionModel::JC69);
    EXPECT_EQ(applyParameterOption(*model, f, "HKY85"), "");
    EXPECT_EQ(f.model, SubstitutionModel::HKY85);
    EXPECT_EQ(parameterOptionWords(*model, f), (std::vector<std::string>{"--model", "HKY85"}));

    EXPECT_NE(applyParameterOption(*findParameter("threads"), f, "0"), "");
    EXPECT_NE(applyParameterOption(*findParameter("threads"), f, "2x"), "");
    EXPECT_EQ(applyParameterOption(*findParameter("threads"), f, "3"), "");
    EXPECT_EQ(f.threads, 3);
}

TEST(ParameterTable, DefaultsComeFromTheForm) {
    EXPECT_EQ(parameterDefault("edtSampleSize"), FormValues{}.edtSampleSize);
    EXPECT_EQ(parameterDefaultHelp(*findParameter("edtNumberSimulations")),
              "unchecked, " + FormValues{}.edtNumberSimulations);
    EXPECT_EQ(parameterDefaultHelp(*findParameter("chkDrawMut")), "checked");
    EXPECT_EQ(parameterDefaultHelp(*findParameter("rdgOutput")), "Nexus");
}
