#include "run/run_log.h"

#include "base/convert.h"
#include "base/file_io.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace quenlith {

namespace {

constexpr const char* kEol = "\r\n";

void line(std::string& out, const std::string& text) {
    out += text;
    out += kEol;
}

std::string number(int32_t v) {
    return std::to_string(v);
}

// Local date as YYYY-MM-DD or time of day as HH:MM:SS.
std::string localTimeText(std::chrono::system_clock::time_point t, const char* format) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char buf[32];
    const size_t n = std::strftime(buf, sizeof buf, format, &parts);
    return std::string(buf, n);
}

std::string dateText(std::chrono::system_clock::time_point t) {
    return localTimeText(t, "%Y-%m-%d");
}
std::string timeText(std::chrono::system_clock::time_point t) {
    return localTimeText(t, "%H:%M:%S");
}

std::string padLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string frequencyLine(const RunLogValues& v) {
    return "A:C:G:T = " + logFixed(v.FreqA, 2) + ":" + logFixed(v.FreqC, 2) + ":" +
           logFixed(v.FreqG, 2) + ":" + logFixed(v.FreqT, 2);
}

// The ratio is cut to its first four characters, so the line never passes 16 characters.
std::string ratioLine(const FormValues& form) {
    return "TiTv ratio: " + logFixed(lenientDouble(form.edtTiTv), 2).substr(0, 4);
}

// The output-file section; dataFileLine names the data file of the run, if one was written.
void appendOutputFiles(const FormValues& form, const std::string& dataFileLine, std::string& out) {
    line(out, "Output Files");
    line(out, "************");
    line(out, "");
    line(out, "Tmrca and diversity indices: " + form.edtTmrca);
    line(out, "Newick tree output file: " + form.edtNewickTrees);
    if (!dataFileLine.empty()) line(out, dataFileLine);
    line(out, "Distribution of coalescence times with genealogy length: " + form.edtCoalDistrib);
    line(out, "Distribution of mutation times with genealogy length: " + form.edtMutDistrib);
}

void appendDnaMutationSection(const FormValues& form, const RunLogValues& v, std::string& out) {
    line(out, "Datatype: DNA sequence");
    line(out, "Mutation rate: " + logScientific(v.MutationRate));
    line(out, "Sequence Length: " + number(v.SequenceLength));
    line(out, form.chkSeqInput ? "Root sequence provided in " + form.edtSeqFile
                               : "Root sequence generated at random");
    switch (form.model) {
    case SubstitutionModel::JC69:
        line(out, "Substitution model: JC69");
        break;
    case SubstitutionModel::F81:
        line(out, "Substitution model: F81");
        line(out, frequencyLine(v));
        break;
    case SubstitutionModel::K2P:
        line(out, "Substitution model: Kimura 2-parameter");
        line(out, ratioLine(form));
        break;
    case SubstitutionModel::HKY85:
        line(out, "Substitution model: HKY85");
        line(out, ratioLine(form));
        line(out, frequencyLine(v));
        break;
    }
    if (form.chkInvarSites)
        line(out, "Proportion of invariable sites: " + logFixed(lenientDouble(form.edtI), 3));
    if (form.chkShapeParameter)
        line(out, "Among-site rate variation shape parameter: " +
                      logFixed(lenientDouble(form.edtAlpha), 3));
    line(out, "");
    appendOutputFiles(form, form.chkSeqOut ? "Sequence data output file: " + form.edtSeqOut : "",
                      out);
}

void appendDemographics(const FormValues& form, const RunLogValues& v, std::string& out) {
    if (!form.chkVarRepSuc && !form.chkFluctuatingN) return;
    line(out, "");
    line(out, "Demographics");
    line(out, "************");
    line(out, "");
    if (form.chkVarRepSuc)
        line(out,
             "Variance in reproductive success: " + logFixed(lenientDouble(form.edtVarRepSuc), 3));
    if (form.chkFluctuatingN) {
        line(out, "Population growth starts at generation: " + number(v.GrowthStart));
        line(out, "Population growth ends at generation: " + number(v.GrowthEnd));
        line(out, "Population size changes by " + logFixed(lenientDouble(form.edtChangeN), 2) +
                      "% each generation");
    }
}

} // namespace

std::string logScientific(double value) {
    if (std::isnan(value)) return "Nan";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buf[64];
    // printf gives d.ddddddddddddddde±XX (at least two exponent digits); the log's form has
    // a blank or minus sign, "E", the exponent's sign and four digits.
    std::snprintf(buf, sizeof buf, "%.14e", value);
    std::string text(buf);
    const size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    const char sign = text[e + 1];
    const std::string digits = text.substr(e + 2);
    if (mantissa[0] != '-') mantissa.insert(mantissa.begin(), ' ');
    const std::string exponent =
        digits.size() < 4 ? std::string(4 - digits.size(), '0') + digits : digits;
    return mantissa + "E" + sign + exponent;
}

std::string logFixed(double value, int decimals) {
    const int n = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    text.resize(static_cast<size_t>(n));
    return text;
}

void appendMsatMutationSection(const FormValues& form, const RunLogValues& values,
                               std::string& out) {
    line(out, "Datatype: Microsatellites");
    line(out, "Number of loci: " + number(lenientInt(form.edtNumLoci)));
    switch (form.msatModel) {
    case MsatModel::InfiniteAlleles:
        line(out, "Mutation model: infinite allele");
        break;
    case MsatModel::Stepwise:
        line(out, "Mutation model: Stepwise");
        break;
    case MsatModel::RandomAlleles:
        line(out, "Mutation model: Random allele");
        break;
    }
    line(out, "");
    line(out, "Locus #   Size Range   Repeat Type      Mutation Rate");
    line(out, "*******   **********   ***********      *************");
    for (const MsatLocusParams& locus : values.loci)
        line(out, padLeft(number(locus.LocusLabel), 3) + padLeft(number(locus.MinSize), 10) +
                      padLeft(number(locus.MaxSize), 5) + padLeft(number(locus.RepeatUnit), 8) +
                      std::string(11, ' ') + logScientific(locus.LocusMutationRate));
    appendOutputFiles(
        form, form.chkMSatOut ? "Microsatellite profiles generated: " + form.edtMSatData : "", out);
}

std::string runLogText(const FormValues& form, const RunLogValues& values) {
    return runLogText(form, values, std::chrono::system_clock::now());
}

std::string runLogText(const FormValues& form, const RunLogValues& v,
                       std::chrono::system_clock::time_point logDate) {
    std::string out;
    line(out, "Coalescent Simulations generated with Tolvarin0.2b: LogFile");
    line(out, std::string(60, '*'));
    line(out, "");
    line(out, dateText(logDate));
    line(out, "Started at: " + timeText(v.StartTime));
    line(out, "Finished at: " + timeText(v.EndTime));
    line(out, "Random seed: " + std::to_string(v.Seed));
    line(out, "");
    line(out, "Coalescent Parameters");
    line(out, std::string(21, '*'));
    line(out, "");
    if (form.chkFluctuatingN) {
        line(out, "Starting population Size: " + number(v.EnteredPopSize));
        line(out, "Final population Size: " + number(v.PopSize));
    } else {
        line(out, "Population size: " + number(v.PopSize));
    }
    line(out, "Number of samples: " + number(v.SampleSize));
    line(out, "Number of simulations: " + number(v.SimCount));
    // The default rule keeps the log as it was.
    if (form.mergers == MergeRule::All)
        line(out, "Merges per generation: every set of lineages on one parent (--mergers all)");
    line(out, "");
    line(out, "Mutation Parameters");
    line(out, std::string(19, '*'));
    line(out, "");
    if (form.chkMsats)
        appendMsatMutationSection(form, v, out);
    else
        appendDnaMutationSection(form, v, out);
    appendDemographics(form, v, out);
    if (!v.modelLines.empty()) {
        line(out, "");
        line(out, "Demographic Model");
        line(out, std::string(17, '*'));
        line(out, "");
        for (const std::string& l : v.modelLines)
            line(out, l);
    }
    return out;
}

void writeRunLog(const FormValues& form, const RunLogValues& values) {
    writeWholeFile(joinPath(form.WorkDir, form.edtLogFile), runLogText(form, values));
}

} // namespace quenlith
