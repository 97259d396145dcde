#include "fuzz_targets.h"

#include "base/convert.h"
#include "base/run_error.h"
#include "cli/cli_options.h"
#include "demography/demes_reader.h"
#include "dna/dna_setup.h"
#include "genealogy/event_genealogy.h"
#include "genealogy/gene_tree.h"
#include "genealogy/genealogy_check.h"
#include "msat/msat_params.h"
#include "run/run_driver.h"
#include "run/run_model.h"
#include "run/run_parameters.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace quenlith::fuzz {

namespace {

// ---- scratch directory and files ----

// One working directory per process, removed at its end.
const std::string& scratchDir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/quenlith-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("quenlith fuzz: mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const struct Cleanup {
        std::string path;
        ~Cleanup() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } cleanup{dir};
    return dir;
}

std::string scratchFile(const std::string& name) {
    return scratchDir() + "/" + name;
}

void writeScratch(const std::string& name, std::string_view content) {
    std::ofstream out(scratchFile(name), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string readScratch(const std::string& name) {
    std::ifstream in(scratchFile(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A seed that differs between inputs but is fixed for each (FNV-1a).
uint32_t seedOf(std::string_view input) {
    uint32_t h = 2166136261u;
    for (char c : input)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

// ---- whole runs ----

struct WholeRun {
    enum Kind { Completed, Rejected, Stopped, Error } kind = Error;
    std::string text; // the warning or the error's standard text
    std::string detail;
};

// The outcomes a run may have: anything else (another exception, a crash) is a fault.
WholeRun runWhole(const FormValues& form, uint32_t seed) {
    RunObserver observer;
    WholeRun r;
    try {
        const RunOutcome o = RunSimulation(form, seed, observer);
        switch (o.status) {
        case RunStatus::Completed:
            r.kind = WholeRun::Completed;
            break;
        case RunStatus::Rejected:
            r.kind = WholeRun::Rejected;
            r.text = o.warning;
            break;
        case RunStatus::Stopped:
            r.kind = WholeRun::Stopped;
            break;
        }
    } catch (const RunError& e) {
        r.kind = WholeRun::Error;
        r.text = e.text();
        r.detail = e.detail();
    }
    return r;
}

std::string describe(const WholeRun& r) {
    switch (r.kind) {
    case WholeRun::Completed:
        return "completed";
    case WholeRun::Rejected:
        return "refused with the warning \"" + r.text + "\"";
    case WholeRun::Stopped:
        return "stopped";
    case WholeRun::Error:
        return "error \"" + r.text + "\" (" + r.detail + ")";
    }
    return "?";
}

bool isStandardErrorText(const std::string& t) {
    for (const char* s :
         {"File not found", "File access denied", "Disk full", "Invalid numeric input",
          "Division by zero", "Range check error", "Out of memory", "File too large",
          "File name too long", "Working directory in use"})
        if (t == s) return true;
    return t.rfind("I/O error ", 0) == 0;
}

// A completed run wrote its log, and the log names the run's sample size.
std::string checkCompletedRun(const FormValues& form, const WholeRun& r) {
    if (r.kind != WholeRun::Completed) return {};
    const std::string log = readScratch(form.edtLogFile);
    const std::string samples =
        "Number of samples: " + std::to_string(lenientInt(form.edtSampleSize));
    if (!contains(log, samples + "\r\n"))
        return "completed run without a log naming its sample size";
    return {};
}

// ---- strict numbers of the parameter file, written independently of the reader ----

bool allDigits(std::string_view t) {
    if (t.empty()) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    return true;
}

bool referenceInteger(std::string_view t, int32_t& value) {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if (!allDigits(t)) return false;
    while (t.size() > 1 && t[0] == '0')
        t.remove_prefix(1);
    if (t.size() > 10) return false;
    long long v = std::stoll(std::string(t));
    if (negative) v = -v;
    if (v < -2147483648LL || v > 2147483647LL) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// [sign] (digits [. [digits]] | . digits) [(e|E) [sign] digits], nothing else.
bool realGrammar(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t exponentDigits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    return i == t.size();
}

// A value too small for a double reads as 0; one too large is not a number.
bool referenceReal(std::string_view t, double& value) {
    if (!realGrammar(t)) return false;
    const std::string text(t);
    errno = 0;
    const double v = std::strtod(text.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

bool sameReal(double expected, double got) {
    if (expected == got) return true;
    // Below the smallest normal double either rounding to 0 or keeping the subnormal is fine.
    return std::fabs(expected) < DBL_MIN && got == 0;
}

struct ReferenceFile {
    std::string_view text;
    size_t pos = 0;

    std::string_view token(size_t maxLength) {
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= 32)
            ++pos;
        const size_t start = pos;
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) > 32 &&
               pos - start < maxLength)
            ++pos;
        return text.substr(start, pos - start);
    }
    void skipLine() {
        while (pos < text.size() && text[pos] != '\r' && text[pos] != '\n')
            ++pos;
        if (pos < text.size() && text[pos++] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;
    }
    // One locus; false when a token is not a number.
    bool locus(MsatLocusParams& p) {
        int32_t* fields[4] = {&p.LocusLabel, &p.MinSize, &p.MaxSize, &p.RepeatUnit};
        for (int32_t* f : fields) {
            const std::string_view t = token(32);
            *f = 0;
            if (!t.empty() && !referenceInteger(t, *f)) return false;
        }
        const std::string_view t = token(64);
        p.LocusMutationRate = 0;
        if (!t.empty() && !referenceReal(t, p.LocusMutationRate)) return false;
        skipLine();
        return true;
    }
};

// A locus the run must refuse by name: an empty or too wide range, a negative repeat unit, a
// rate outside [0, 1], or a size draw that would need more than 100000 tries on average.
bool refusedLocus(const MsatLocusParams& p) {
    const int64_t span = static_cast<int64_t>(p.MaxSize) - p.MinSize;
    if (span < 0 || span > 2147483647LL || p.RepeatUnit < 0) return true;
    if (!(p.LocusMutationRate >= 0 && p.LocusMutationRate <= 1)) return true;
    if (p.RepeatUnit > 0 && span > 0) {
        const int64_t sizes = (span + p.RepeatUnit - 1) / p.RepeatUnit;
        if (span / sizes > 100000) return true;
    }
    return false;
}

// ---- lenient conversions, written independently of the converter ----

int32_t referenceLenientInt(std::string_view t) {
    size_t i = t.find_first_not_of(' ');
    if (i == std::string_view::npos) return 0;
    int sign = 1;
    if (t[i] == '+' || t[i] == '-') sign = t[i++] == '-' ? -1 : 1;
    int base = 10;
    if (i < t.size() && (t[i] == '$' || t[i] == 'x' || t[i] == 'X')) {
        base = 16;
        ++i;
    } else if (t.substr(i, 2) == "0x" || t.substr(i, 2) == "0X") {
        base = 16;
        i += 2;
    }
    const char* digits = "0123456789abcdef";
    long long v = 0;
    for (; i < t.size(); ++i) {
        const char c = static_cast<char>(t[i] >= 'A' && t[i] <= 'F' ? t[i] - 'A' + 'a' : t[i]);
        const char* d = c ? std::strchr(digits, c) : nullptr;
        if (!d || d - digits >= base) break;
        const long long next = v * base + (d - digits);
        if (next > 2147483647LL) break;
        v = next;
    }
    return static_cast<int32_t>(sign * v);
}

// The longest prefix that reads as a real number: blanks, sign, digits, ".", digits, and an
// exponent only when at least one digit follows "e" and its sign.
std::string realPrefix(std::string_view t) {
    size_t i = t.find_first_not_of(' ');
    if (i == std::string_view::npos) return {};
    const size_t start = i;
    if (t[i] == '+' || t[i] == '-') ++i;
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        size_t j = i + 1, fraction = 0;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9')
            ++j, ++fraction;
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0) return {};
    size_t end = i;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        const size_t first = j;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9')
            ++j;
        if (j > first) end = j;
    }
    return std::string(t.substr(start, end - start));
}

} // namespace

// ---- the targets ----

std::string msatParamsTarget(std::string_view input) try {
    if (input.empty()) return {};
    const unsigned options = static_cast<unsigned char>(input[0]);
    const std::string_view file = input.substr(1);
    const int32_t loci = static_cast<int32_t>((options >> 2) & 7);
    writeScratch("msatparam.txt", file);

    // The reader against the reference, two loci past the file's needs (missing numbers are 0).
    MsatParamReader reader(scratchFile("msatparam.txt"));
    reader.open();
    ReferenceFile reference{file};
    std::vector<MsatLocusParams> expected;
    int32_t firstInvalid = 0;
    for (int32_t l = 1; l <= loci + 2; ++l) {
        MsatLocusParams want;
        const bool valid = reference.locus(want);
        try {
            const MsatLocusParams got = reader.readLocus(l);
            if (!valid) return "locus " + std::to_string(l) + " holds a token that is not a number";
            if (got.LocusLabel != want.LocusLabel || got.MinSize != want.MinSize ||
                got.MaxSize != want.MaxSize || got.RepeatUnit != want.RepeatUnit ||
                !sameReal(want.LocusMutationRate, got.LocusMutationRate))
                return "locus " + std::to_string(l) + " read differently";
        } catch (const RunError& e) {
            if (valid) return "locus " + std::to_string(l) + " refused: " + e.text();
            if (e.text() != "Invalid numeric input") return "unexpected reader error " + e.text();
            firstInvalid = l;
            break;
        }
        expected.push_back(want);
    }
    reader.close();

    // The whole run: refused at the first locus it cannot simulate, or complete.
    FormValues f;
    f.WorkDir = scratchDir();
    f.chkMsats = true;
    f.edtNumLoci = std::to_string(loci);
    static const MsatModel models[4] = {MsatModel::InfiniteAlleles, MsatModel::Stepwise,
                                        MsatModel::RandomAlleles, MsatModel::Stepwise};
    f.msatModel = models[options & 3];
    f.edtSampleSize = "4";
    f.edtPopulationSize = "25";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "2";
    f.chkMSatOut = (options & 32) != 0;
    f.chkArlequin = (options & 64) != 0;
    f.chkMSatDiversity = true;
    const WholeRun run = runWhole(f, seedOf(input));

    // The first locus that cannot be simulated gives the error; 0: every locus can be.
    std::string want;
    int32_t wantLocus = 0;
    for (int32_t l = 1; l <= loci && wantLocus == 0; ++l) {
        const MsatLocusParams* p =
            l < firstInvalid || firstInvalid == 0 ? &expected[static_cast<size_t>(l - 1)] : nullptr;
        if (!p)
            want = "Invalid numeric input";
        else if (refusedLocus(*p))
            want = "Locus " + std::to_string(l) + ": ";
        else if (p->RepeatUnit == 0)
            want = "Division by zero";
        if (!want.empty()) wantLocus = l;
    }
    // Sizes that leave the 32-bit range stop the run with a range error at any locus
    // simulated before the expected error.
    if (run.kind == WholeRun::Error && run.text == "Range check error" && wantLocus != 1 &&
        (options & 3) != 2)
        return {};
    if (wantLocus == 0) {
        if (run.kind != WholeRun::Completed) return "a run of valid loci " + describe(run);
        return checkCompletedRun(f, run);
    }
    if (run.kind != WholeRun::Error || run.text.rfind(want, 0) != 0)
        return "expected \"" + want + "...\", the run " + describe(run);
    return {};
} catch (const std::exception& e) {
    return std::string("unexpected exception: ") + e.what();
}

std::string rootSequenceTarget(std::string_view input) try {
    std::string sites;
    for (char c : input) {
        if (c == 26) break;
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') sites += c;
    }
    if (rootSitesFromFileContent(input) != sites) return "root sites differ from the file's bytes";
    writeScratch("seqin.txt", input);

    const size_t n = input.size();
    FormValues f;
    f.WorkDir = scratchDir();
    f.chkSeqInput = true;
    f.edtSampleSize = n % 2 ? "3" : "4";
    f.edtPopulationSize = "10";
    f.chkMultipleSims = true;
    f.edtNumberSimulations = "2";
    f.edtMutationRate = "0.001";
    static const SubstitutionModel modelsByLength[4] = {
        SubstitutionModel::JC69, SubstitutionModel::K2P, SubstitutionModel::F81,
        SubstitutionModel::HKY85};
    f.model = modelsByLength[n % 4];
    f.rdgOutput = static_cast<OutputFormat>((n / 4) % 4);
    f.chkDiploid = (n / 16) % 2 != 0;
    f.chkShapeParameter = (n / 32) % 2 != 0;
    f.edtAlpha = "0.5";
    f.chkSeqOut = true;
    f.chkArlequin = true;
    f.chkSeqDiversity = true;
    const WholeRun run = runWhole(f, seedOf(input));

    if (sites.empty()) {
        if (run.kind != WholeRun::Rejected ||
            run.text != "The input DNA sequence file holds no sequence")
            return "a file without sites: the run " + describe(run);
        return {};
    }
    if (run.kind != WholeRun::Completed) return "the run " + describe(run);
    const std::string log = readScratch(f.edtLogFile);
    if (!contains(log, "Sequence Length: " + std::to_string(sites.size()) + "\r\n"))
        return "the log does not give the file's " + std::to_string(sites.size()) + " sites";
    return checkCompletedRun(f, run);
} catch (const std::exception& e) {
    return std::string("unexpected exception: ") + e.what();
}

std::string lenientNumbersTarget(std::string_view input) try {
    const int32_t i = lenientInt(input);
    const int32_t wantInt = referenceLenientInt(input);
    if (i != wantInt)
        return "integer " + std::to_string(i) + ", expected " + std::to_string(wantInt);

    const std::string prefix = realPrefix(input);
    errno = 0;
    const double wantDouble = prefix.empty() ? 0.0 : std::strtod(prefix.c_str(), nullptr);
    const double d = lenientDouble(input);
    if (!sameReal(wantDouble, d)) {
        char text[96];
        std::snprintf(text, sizeof text, "double %.17g, expected %.17g", d, wantDouble);
        return text;
    }
    const long double wantExtended = prefix.empty() ? 0.0L : std::strtold(prefix.c_str(), nullptr);
    const long double x = lenientExtended(input);
    if (!(x == wantExtended || (std::fabs(wantExtended) < LDBL_MIN && x == 0))) {
        char text[112];
        std::snprintf(text, sizeof text, "extended %.21Lg, expected %.21Lg", x, wantExtended);
        return text;
    }
    return {};
} catch (const std::exception& e) {
    return std::string("unexpected exception: ") + e.what();
}

namespace {

// Small enough to simulate within a fraction of a second.
bool smallRun(const RunParameters& p) {
    if (p.SampleSize > 12 || p.PopSize > 300 || p.SimCount > 3) return false;
    if (p.Msats) return p.NumLoci <= 3;
    if (p.SequenceLength > 500) return false;
    if (p.FluctuatingN && p.ChangePercent > 0 &&
        (p.ChangePercent > 1 || static_cast<int64_t>(p.GrowthEnd) - p.GrowthStart > 1000))
        return false;
    if (p.ShapeParameter && p.GammaShape > 50) return false;
    return true;
}

} // namespace

std::string cliOptionsTarget(std::string_view input) try {
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        if (end > start || end < input.size()) args.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    const CliParse parsed = parseCliOptions(args);
    if (!parsed.error.empty()) return {};
    if (parsed.options.help && cliHelpText().empty()) return "empty help";

    // The run the options describe, with every file kept in the scratch directory.
    FormValues f = parsed.options.form;
    const FormValues defaults;
    f.WorkDir = scratchDir();
    f.edtSeqFile = defaults.edtSeqFile;
    f.edtSeqOut = defaults.edtSeqOut;
    f.edtMsatIn = defaults.edtMsatIn;
    f.edtMSatData = defaults.edtMSatData;
    f.edtTmrca = defaults.edtTmrca;
    f.edtNewickTrees = defaults.edtNewickTrees;
    f.edtMutDistrib = defaults.edtMutDistrib;
    f.edtCoalDistrib = defaults.edtCoalDistrib;
    f.edtLogFile = defaults.edtLogFile;
    if (const std::string refusal = modelControlsError(f); !refusal.empty()) {
        const WholeRun run = runWhole(f, 1);
        if (run.kind != WholeRun::Rejected)
            return "refused model controls (" + refusal + "): the run " + describe(run);
        return {};
    }
    const ReadParameters read = readRunParameters(f);
    if (!read.warning.empty()) {
        const WholeRun run = runWhole(f, 1);
        if (run.kind != WholeRun::Rejected || run.text != read.warning)
            return "refused parameters (" + read.warning + "): the run " + describe(run);
        return {};
    }
    // A model's own refusals (its file, its samples, the options it replaces) come from
    // reading it at the run's start.
    if (f.chkDemes) {
        RunModel model;
        const std::string refusal = readRunModel(f, model);
        if (!refusal.empty()) {
            const WholeRun run = runWhole(f, 1);
            if (run.kind != WholeRun::Rejected)
                return "refused model (" + refusal + "): the run " + describe(run);
            return {};
        }
    }
    if (!smallRun(read.params)) return {};
    writeScratch(f.edtSeqFile, "acgtACGTnn\r\nacgt\r\n");
    writeScratch(f.edtMsatIn, "1 100 140 2 0.001\r\n2 180 220 4 0.01\r\n3 90 150 3 0.0001\r\n");
    const WholeRun run = runWhole(f, parsed.options.seed.value_or(seedOf(input)));
    if (run.kind == WholeRun::Error && !isStandardErrorText(run.text))
        return "the run " + describe(run);
    if (run.kind == WholeRun::Rejected || run.kind == WholeRun::Stopped)
        return "accepted parameters: the run " + describe(run);
    return checkCompletedRun(f, run);
} catch (const std::exception& e) {
    return std::string("unexpected exception: ") + e.what();
}

// A Demes model is resolved or refused with a DemesError, nothing else; a resolved model
// reads back from its JSON to the same JSON.
std::string demesModelTarget(std::string_view input) try {
    std::string json;
    try {
        json = demes::resolvedJson(demes::readModel(std::string(input), "fuzz"));
    } catch (const demes::DemesError& e) {
        return std::string(e.what()).empty() ? "a refusal without a message" : "";
    }
    try {
        if (demes::resolvedJson(demes::readModel(json, "resolved")) != json)
            return "the resolved model resolves to another model";
    } catch (const demes::DemesError& e) {
        return std::string("the resolved model is refused: ") + e.what();
    }
    return {};
} catch (const std::exception& e) {
    return std::string("unexpected exception: ") + e.what();
}

// The bytes of the input as the values of a small genealogy: the walk on both generators and
// the event-driven engine must each build one that passes genealogyFault, and whose tree
// passes treeFault with its leaves renumbered at random, or refuse it with a standard error (a
// size grown past the 32-bit range). Its tables alone give the same tree, and damaged, a
// sound forest.
std::string genealogyTarget(std::string_view input) try {
    size_t at = 0;
    const auto byte = [&]() -> uint32_t {
        return at < input.size() ? static_cast<unsigned char>(input[at++]) : 0;
    };
    const int32_t k = 1 + static_cast<int32_t>(byte() % 64);
    const int32_t n = 1 + static_cast<int32_t>((byte() << 8 | byte()) % 50000);
    MutationProbability mutation;
    mutation.constant = static_cast<long double>(byte()) / 2550.0L;
    const MergeRule rule = byte() % 2 ? MergeRule::All : MergeRule::One;
    Demography demography;
    if (const uint32_t f = byte(); f % 4 == 0) {
        demography.fluctuating = true;
        demography.growthStart = static_cast<int32_t>(byte() % 50);
        demography.growthEnd = demography.growthStart + static_cast<int32_t>(byte() % 200);
        demography.changePercent = (static_cast<double>(byte()) - 128) / 64;
    }
    const uint32_t seed = seedOf(input);
    const auto check = [&](auto& simulator, auto rng, const char* engine) -> std::string {
        simulator.mergers = rule;
        Genealogy g;
        int32_t size = n;
        try {
            simulator.simulate(g, k, size, demography, mutation, rng, {});
        } catch (const RunError& e) {
            return isStandardErrorText(e.text()) ? "" : engine + (": " + e.text());
        }
        if (const std::string fault = genealogyFault(g); !fault.empty())
            return std::string(engine) + ": " + fault;
        // Its tree with the leaves renumbered at random must stay sound.
        GeneTree tree(g);
        std::vector<int32_t> rows(static_cast<size_t>(k));
        std::iota(rows.begin(), rows.end(), 0);
        std::shuffle(rows.begin(), rows.end(), std::mt19937(seed));
        tree.relabel(rows);
        if (const std::string fault = treeFault(tree); !fault.empty())
            return std::string(engine) + ": renumbered tree: " + fault;
        // The tables alone (a genealogy read back from its files) give the same tree; damaged
        // by the input's last bytes, they give a forest whose links and mutations stay sound.
        Genealogy read = g;
        read.mutationNodes.clear();
        GeneTree fromTables;
        fromTables.assignTables(read);
        if (fromTables.left != tree.left || fromTables.mutationNode != tree.mutationNode)
            return std::string(engine) + ": the tables give another tree";
        if (!read.CoalEvents.empty())
            read.CoalEvents[byte() % read.CoalEvents.size()].first += static_cast<int32_t>(byte());
        if (!read.MutEvents.empty())
            read.MutEvents[byte() % read.MutEvents.size()].position -= static_cast<int32_t>(byte());
        fromTables.assignTables(read);
        const int32_t nodes = fromTables.nodeCount();
        for (int32_t x = 0; x < nodes; ++x) {
            const int32_t p = fromTables.parent[static_cast<size_t>(x)];
            if (p >= 0 && (p < k || p >= nodes ||
                           (fromTables.left[static_cast<size_t>(p - k)] != x &&
                            fromTables.right[static_cast<size_t>(p - k)] != x)))
                return std::string(engine) + ": damaged tables: node " + std::to_string(x) +
                       " is not held by its parent";
        }
        for (const int32_t x : fromTables.mutationNode)
            if (x < 0 || x >= nodes)
                return std::string(engine) + ": damaged tables: a mutation off the forest";
        return {};
    };
    GenealogySimulator walk;
    EventGenealogySimulator events;
    for (std::string fault :
         {check(walk, RunRandom(seed), "walk"), check(walk, StreamRandom(seed, 1), "streams walk"),
          check(events, StreamRandom(seed, 1), "events")})
        if (!fault.empty()) return fault;
    return {};
} catch (const std::exception& e) {
    return std::string("unexpected exception: ") + e.what();
}

const std::vector<Target>& allTargets() {
    static const std::vector<Target> targets = {
        {"msat_params", msatParamsTarget},         {"root_sequence", rootSequenceTarget},
        {"lenient_numbers", lenientNumbersTarget}, {"cli_options", cliOptionsTarget},
        {"demes_model", demesModelTarget},         {"genealogy", genealogyTarget},
    };
    return targets;
}

} // namespace quenlith::fuzz
