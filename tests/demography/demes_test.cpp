#include "demography/demes_model.h"
#include "demography/demes_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quenlith::demes {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kData = fs::path(QUENLITH_TEST_DATA) / "demes";

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Empty when a and b are the same resolved model: numbers as doubles (relative tolerance
// 1e-12), everything else exactly; otherwise where they first differ.
std::string difference(const json& a, const json& b, const std::string& where = "") {
    if (a.is_number() && b.is_number()) {
        const double x = a.get<double>(), y = b.get<double>();
        return std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), std::fabs(y))
                   ? ""
                   : where + ": " + a.dump() + " != " + b.dump();
    }
    if (a.type() != b.type()) return where + ": " + a.dump() + " != " + b.dump();
    if (a.is_object()) {
        if (a.size() != b.size()) return where + ": different fields";
        for (auto it = a.begin(); it != a.end(); ++it) {
            if (!b.contains(it.key())) return where + ": no field " + it.key();
            if (auto d = difference(*it, b[it.key()], where + "." + it.key()); !d.empty()) return d;
        }
        return "";
    }
    if (a.is_array()) {
        if (a.size() != b.size()) return where + ": different lengths";
        for (size_t i = 0; i < a.size(); ++i)
            if (auto d = difference(a[i], b[i], where + "[" + std::to_string(i) + "]"); !d.empty())
                return d;
        return "";
    }
    return a == b ? "" : where + ": " + a.dump() + " != " + b.dump();
}

std::vector<fs::path> yamlFiles(const fs::path& dir, bool recursive) {
    std::vector<fs::path> out;
    auto add = [&](const fs::directory_entry& e) {
        if (e.path().extension() == ".yaml") out.push_back(e.path());
    };
    if (recursive)
        for (const auto& e : fs::recursive_directory_iterator(dir))
            add(e);
    else
        for (const auto& e : fs::directory_iterator(dir))
            add(e);
    std::sort(out.begin(), out.end());
    return out;
}

// Every valid case and example of the format resolves to the model its reference parser
// gives (stored beside them), and resolving that resolved form again changes nothing.
TEST(DemesConformance, ValidModelsResolveAsTheReferenceDoes) {
    std::vector<fs::path> files = yamlFiles(kData / "test-cases" / "valid", false);
    const std::vector<fs::path> examples = yamlFiles(kData / "examples", true);
    files.insert(files.end(), examples.begin(), examples.end());
    ASSERT_EQ(files.size(), 258u + 39u);
    int publishedCount = 0;
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        const fs::path stored =
            kData / "reference-resolved" / fs::relative(f, kData).replace_extension(".json");
        const json expected = json::parse(readText(stored));
        std::string ours;
        try {
            ours = resolvedJson(readModelFile(f.string()));
        } catch (const DemesError& e) {
            ADD_FAILURE() << "refused: " << e.what();
            continue;
        }
        EXPECT_EQ(difference(json::parse(ours), expected), "");
        // The examples also carry the resolved form the format's authors published.
        const fs::path published = fs::path(f).replace_extension(".resolved.json");
        if (fs::exists(published)) {
            EXPECT_EQ(difference(json::parse(ours), json::parse(readText(published))), "");
            ++publishedCount;
        }
        EXPECT_EQ(resolvedJson(readModel(ours, "resolved")), ours) << "not idempotent";
    }
    EXPECT_EQ(publishedCount, 18);
}

// Every invalid case is refused with a message that starts with the file and says more.
TEST(DemesConformance, InvalidModelsAreRefused) {
    const std::vector<fs::path> files = yamlFiles(kData / "test-cases" / "invalid", false);
    ASSERT_EQ(files.size(), 508u);
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        try {
            readModelFile(f.string());
            ADD_FAILURE() << "accepted";
        } catch (const DemesError& e) {
            const std::string m = e.what();
            EXPECT_EQ(m.rfind(f.string() + ": ", 0), 0u) << m;
            EXPECT_GT(m.size(), f.string().size() + 10) << m;
        }
    }
}

// Deleting any one line of a valid model gives a valid model or a refusal, never another
// kind of failure (a lookup or type error of the reader escaping).
TEST(DemesConformance, DamagedModelsAreResolvedOrRefused) {
    int refused = 0, resolved = 0;
    for (const fs::path& f : yamlFiles(kData / "test-cases" / "valid", false)) {
        std::vector<std::string> lines;
        std::istringstream in(readText(f));
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        for (size_t drop = 0; drop < lines.size(); ++drop) {
            std::string text;
            for (size_t i = 0; i < lines.size(); ++i)
                if (i != drop) text += lines[i] + "\n";
            try {
                resolvedJson(readModel(text, "damaged"));
                ++resolved;
            } catch (const DemesError&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 500);
    EXPECT_GT(resolved, 500);
}

std::string refusal(const std::string& yaml) {
    try {
        readModel(yaml, "m.yaml");
    } catch (const DemesError& e) {
        return e.what();
    }
    return "accepted";
}

// Messages name the field, the reason, and the line.
TEST(DemesRefusal, MessagesNameTheFieldAndTheReason) {
    const std::string head = "time_units: generations\ndemes:\n";
    const std::string root = "- name: A\n  epochs: [{start_size: 100, end_time: 100}]\n";
    EXPECT_EQ(
        refusal(head + root +
                "- name: B\n  ancestors: [A]\n  epochs:\n  - {start_size: 5, end_time: 120}\n"),
        "m.yaml: demes[1].epochs[0].end_time: must be below the deme's start time 100, not "
        "120 (line 8)");
    EXPECT_EQ(refusal(head + "- name: A\n  epochs:\n  - {start_size: 1, end_time: 50}\n"
                             "  - {start_size: 2, end_time: 50}\n"),
              "m.yaml: demes[0].epochs[1].end_time: must be below the epoch's start time 50, not "
              "50 (line 6)");
    EXPECT_EQ(refusal(head + "- name: A\n  epochs: [{start_size: 1, end_thyme: 3}]\n"),
              "m.yaml: demes[0].epochs[0].end_thyme: unknown field (allowed here: end_time, "
              "start_size, end_size, selfing_rate, cloning_rate, size_function) (line 4)");
    EXPECT_EQ(refusal(head + "- name: A\n  epochs: [{start_size: -1}]\n"),
              "m.yaml: demes[0].epochs[0].start_size: must be above 0 and finite, not -1 (line 4)");
    EXPECT_EQ(refusal(head + "- name: A\n  name: B\n  epochs: [{start_size: 1}]\n"),
              "m.yaml: demes[0].name: the key appears twice (line 4)");
    EXPECT_EQ(refusal("time_units: years\ndemes: [{name: A, epochs: [{start_size: 1}]}]\n"),
              "m.yaml: generation_time: needed to convert times in years into generations");
    EXPECT_EQ(refusal(head + root + "- {name: B, epochs: [{start_size: 1}]}\n" +
                      "- {name: C, epochs: [{start_size: 1}]}\n" +
                      "migrations:\n- {source: B, dest: C, rate: 0.6}\n"
                      "- {source: A, dest: C, rate: 0.5}\n"),
              "m.yaml: migrations[1]: the migration rates into 'C' sum to 1.1, above 1, between "
              "times infinity and 100 (line 9)");
    EXPECT_EQ(refusal(head + root + "- {name: B, epochs: [{start_size: 1}]}\n" +
                      "pulses:\n- {sources: [B], dest: A, time: 100, proportions: [0.1]}\n"),
              "m.yaml: pulses[0].time: the dest 'A' does not exist at 100 (it exists from "
              "infinity to 100, its end excluded) (line 7)");
    EXPECT_EQ(refusal(head + root + "- {name: B, epochs: [{start_size: 1}]}\n" +
                      "migrations:\n- {demes: [A, B], rate: 0.1, source: A}\n"),
              "m.yaml: migrations[0]: give either source and dest (one direction) or demes "
              "(symmetric) (line 7)");
    EXPECT_EQ(refusal(head + "- name: A\n  epochs: [{start_size: 1}]\n- name: A\n"),
              "m.yaml: demes[1].name: the name 'A' is already used by demes[0] (line 5)");
}

TEST(DemesRefusal, TextThatIsNotAModel) {
    EXPECT_EQ(refusal("time_units: generations\ndemes:\n  - name: [A\n"),
              "m.yaml: not a YAML file: line 4, column 1: end of sequence flow not found");
    EXPECT_EQ(refusal(""), "m.yaml: the file holds no model");
    EXPECT_EQ(refusal("# only a comment\n"), "m.yaml: the file holds no model");
    // A stray comma, on which the YAML reader would otherwise loop without end.
    EXPECT_EQ(refusal("[1, 2]\n,\n"), "m.yaml: not a YAML file: line 2, column 1: unexpected ','");
    EXPECT_EQ(refusal(","), "m.yaml: not a YAML file: line 1, column 1: unexpected ','");
    EXPECT_EQ(refusal("a: 1\n---\nb: 2\n"),
              "m.yaml: the file holds several YAML documents; a model is one");
    EXPECT_EQ(refusal("- 1\n- 2\n"),
              "m.yaml: the model must be a mapping of fields (time_units, demes, ...) (line 1)");
    // Quoted numbers are text; booleans are not numbers.
    EXPECT_EQ(refusal("time_units: generations\ndemes: [{name: A, epochs: [{start_size: '5'}]}]"),
              "m.yaml: demes[0].epochs[0].start_size: must be a number above 0, not the text '5' "
              "(line 2)");
    EXPECT_EQ(refusal("time_units: generations\ndemes: [{name: A, epochs: [{start_size: true}]}]"),
              "m.yaml: demes[0].epochs[0].start_size: must be a number above 0, not true (line 2)");
    EXPECT_EQ(refusal("time_units: generations\ndemes: [{name: A, epochs: [{start_size: 1}]}]"),
              "accepted");
    EXPECT_THROW(readModelFile((kData / "no-such-file.yaml").string()), DemesError);
    // Text that is not UTF-8 cannot be written as JSON: refused where it is.
    EXPECT_EQ(refusal("time_units: generations\ndescription: \"a\xff\"\n"),
              "m.yaml: description: not UTF-8 text (line 2)");
    // Non-finite metadata numbers are written as the format writes infinity.
    const Model m =
        readModel("time_units: generations\nmetadata: {x: .nan, y: -.inf, z: [1, 2.5]}\n"
                  "demes: [{name: A, epochs: [{start_size: 1}]}]\n");
    EXPECT_EQ(m.metadataJson, R"({"x":"NaN","y":"-Infinity","z":[1,2.5]})");
    // Nine levels of ten aliases each stand for 10^9 values: refused, not expanded.
    std::string bomb =
        "time_units: generations\nmetadata:\n  a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
    for (int i = 1; i < 9; ++i) {
        const std::string prev = "*a" + std::to_string(i - 1);
        bomb += "  a" + std::to_string(i) + ": &a" + std::to_string(i) + " [" + prev;
        for (int j = 1; j < 10; ++j)
            bomb += ", " + prev;
        bomb += "]\n";
    }
    EXPECT_NE(refusal(bomb).find("the model holds more than 250000 values (through aliases?)"),
              std::string::npos);
    // Nesting deeper than any model: refused by the YAML reader, not a stack overflow.
    EXPECT_THROW(readModel("metadata: " + std::string(100000, '[') + std::string(100000, ']')),
                 DemesError);
}

// Sizes and times in generations from the Out-of-Africa example (years, 25 per generation),
// against values worked out by hand.
TEST(DemographyTimeline, OutOfAfricaInGenerations) {
    const DemographyTimeline t(
        readModelFile((kData / "examples" / "gutenkunst_ooa.yaml").string()));
    ASSERT_EQ(t.demeCount(), 6u);
    const size_t anc = *t.demeIndex("ancestral"), amh = *t.demeIndex("AMH"),
                 ooa = *t.demeIndex("OOA"), yri = *t.demeIndex("YRI"), ceu = *t.demeIndex("CEU"),
                 chb = *t.demeIndex("CHB");
    EXPECT_FALSE(t.demeIndex("ceu"));
    // 220e3 / 25, 140e3 / 25, 21.2e3 / 25.
    EXPECT_TRUE(std::isinf(t.startTime(anc)));
    EXPECT_DOUBLE_EQ(t.endTime(anc), 8800);
    EXPECT_DOUBLE_EQ(t.startTime(amh), 8800);
    EXPECT_DOUBLE_EQ(t.endTime(amh), 5600);
    EXPECT_DOUBLE_EQ(t.startTime(ceu), 848);
    EXPECT_EQ(t.changeTimes(), (std::vector<double>{0, 848, 5600, 8800}));
    // Half way through CEU's growth from 1000 to 29725: 1000 * sqrt(29.725).
    EXPECT_NEAR(t.size(ceu, 424), 5452.0638, 1e-3);
    EXPECT_DOUBLE_EQ(t.size(ceu, 0), 29725);
    EXPECT_NEAR(t.size(ceu, 847.999999), 1000, 1e-3);
    // A deme exists over [end, start): OOA at 848, CEU not yet.
    EXPECT_EQ(t.size(ceu, 848), 0);
    EXPECT_EQ(t.size(ooa, 848), 2100);
    EXPECT_EQ(t.size(anc, 1e9), 7300);
    EXPECT_EQ(t.size(anc, 8799), 0);
    EXPECT_EQ(t.size(chb, 0), 54090);
    ASSERT_EQ(t.ancestors(ceu).size(), 1u);
    EXPECT_EQ(t.ancestors(ceu)[0].deme, ooa);
    EXPECT_EQ(t.ancestors(ceu)[0].proportion, 1);
    EXPECT_TRUE(t.ancestors(anc).empty());
    // Symmetric migrations, both ways, over the time both demes exist.
    EXPECT_EQ(t.migrationRate(yri, ceu, 848), 0);
    EXPECT_EQ(t.migrationRate(yri, ceu, 847.5), 3e-5);
    EXPECT_EQ(t.migrationRate(ceu, yri, 0), 3e-5);
    EXPECT_EQ(t.migrationRate(yri, ooa, 848), 25e-5);
    EXPECT_EQ(t.migrationRate(ooa, yri, 5599), 25e-5);
    EXPECT_EQ(t.migrationRate(ooa, yri, 5600), 0);
    EXPECT_EQ(t.migrationRate(ooa, yri, 100), 0);
    EXPECT_EQ(t.migrationRate(ceu, chb, 10), 9.6e-5);
    // Into YRI: from CEU and CHB after 848, from OOA before.
    const auto into = t.migrationsInto(yri, 100);
    ASSERT_EQ(into.size(), 2u);
    EXPECT_EQ(into[0].deme, ceu);
    EXPECT_EQ(into[0].proportion, 3e-5);
    EXPECT_EQ(into[1].deme, chb);
    EXPECT_EQ(into[1].proportion, 1.9e-5);
    const auto early = t.migrationsInto(yri, 1000);
    ASSERT_EQ(early.size(), 1u);
    EXPECT_EQ(early[0].deme, ooa);
    EXPECT_TRUE(t.migrationsInto(anc, 9000).empty());
    EXPECT_TRUE(t.pulses().empty());
}

TEST(DemographyTimeline, SizeFunctionsAndPulses) {
    const DemographyTimeline t(readModel(R"(
time_units: years
generation_time: 2
demes:
- name: A
  epochs:
  - {start_size: 400, end_time: 20}
  - {end_size: 100, end_time: 10}
  - {start_size: 100, end_size: 200, size_function: linear}
- name: B
  ancestors: [A]
  start_time: 40
  epochs: [{start_size: 50}]
pulses:
- {sources: [A], dest: B, proportions: [0.25], time: 8}
- {sources: [B], dest: A, proportions: [0.5], time: 30}
)"));
    const size_t a = 0, b = 1;
    // Generations: epochs of A end at 10 and 5; B starts at 20.
    EXPECT_EQ(t.size(a, 10), 400);
    // Exponential from 400 to 100 over (10, 5]: 400 * (1/4)^(2/5) at 8.
    EXPECT_NEAR(t.size(a, 8), 400 * std::pow(0.25, 0.4), 1e-9);
    EXPECT_NEAR(t.size(a, 7.5), 200, 1e-9);
    EXPECT_DOUBLE_EQ(t.size(a, 5), 100);
    // Linear from 100 to 200 over (5, 0].
    EXPECT_DOUBLE_EQ(t.size(a, 2.5), 150);
    EXPECT_DOUBLE_EQ(t.size(a, 1), 180);
    EXPECT_DOUBLE_EQ(t.size(a, 0), 200);
    EXPECT_EQ(t.size(b, 20), 0);
    EXPECT_EQ(t.size(b, 19), 50);
    // Pulses oldest first, at 30 / 2 and 8 / 2 generations.
    ASSERT_EQ(t.pulses().size(), 2u);
    EXPECT_EQ(t.pulses()[0].time, 15);
    EXPECT_EQ(t.pulses()[0].dest, a);
    EXPECT_EQ(t.pulses()[1].time, 4);
    ASSERT_EQ(t.pulsesAt(4).size(), 1u);
    EXPECT_EQ(t.pulsesAt(4)[0].sources[0].deme, a);
    EXPECT_EQ(t.pulsesAt(4)[0].sources[0].proportion, 0.25);
    EXPECT_TRUE(t.pulsesAt(8).empty());
    EXPECT_EQ(t.changeTimes(), (std::vector<double>{0, 4, 5, 10, 15, 20}));
}

} // namespace
} // namespace quenlith::demes
