#include "run/slice_manifest.h"
#include "base/limits.h"

#include "run/parameter_table.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

namespace quenlith {

namespace {

// The fields of FormValues a manifest holds, from the parameter table: name, reading as text,
// setting from text.
struct FieldAccess {
    const char* name;
    std::function<std::string(const FormValues&)> get;
    std::function<bool(FormValues&, const std::string&)> set;
};

const std::vector<FieldAccess>& fieldAccess() {
    static const std::vector<FieldAccess> fields = [] {
        std::vector<FieldAccess> out;
        for (const ParameterEntry& e : parameterTable())
            if (e.inManifest) out.push_back({e.field, e.get, e.set});
        return out;
    }();
    return fields;
}

std::string escaped(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string unescaped(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char c = v[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += v[i];
        }
    }
    return out;
}

// Doubles as the shortest text that reads back to the same value.
std::string exact(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

bool readInt64(const std::string& v, int64_t& out) {
    if (v.empty()) return false;
    char* end = nullptr;
    out = std::strtoll(v.c_str(), &end, 10);
    return *end == '\0';
}

bool readInt32(const std::string& v, int32_t& out) {
    int64_t n;
    if (!readInt64(v, n) || n < int64_t{kSmallestInt32} || n > int64_t{kLargestCount}) return false;
    out = static_cast<int32_t>(n);
    return true;
}

bool readDouble(const std::string& v, double& out) {
    if (v.empty()) return false;
    char* end = nullptr;
    out = std::strtod(v.c_str(), &end);
    return *end == '\0';
}

} // namespace

std::vector<std::pair<std::string, std::string>> formFields(const FormValues& form) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& f : fieldAccess())
        out.emplace_back(f.name, f.get(form));
    return out;
}

uint64_t textDigest(const std::string& text, uint64_t hash) {
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string sliceManifestText(const SliceManifest& m) {
    std::string t;
    const auto line = [&t](const std::string& key, const std::string& value) {
        t += key + " " + escaped(value) + "\n";
    };
    line("quenlith-slice", "2");
    line("state", m.complete ? "complete" : "running");
    line("rng", "streams");
    line("seed", std::to_string(m.seed));
    line("first", std::to_string(m.first));
    line("count", std::to_string(m.count));
    line("of", std::to_string(m.of));
    line("input", m.inputDigest);
    for (const SliceFile& f : m.files)
        line("file", std::to_string(f.size) + " " + f.sha256 + " " + f.name);
    const RunLogValues& v = m.log;
    line("log.SampleSize", std::to_string(v.SampleSize));
    line("log.PopSize", std::to_string(v.PopSize));
    line("log.EnteredPopSize", std::to_string(v.EnteredPopSize));
    line("log.FreqA", exact(v.FreqA));
    line("log.FreqC", exact(v.FreqC));
    line("log.FreqG", exact(v.FreqG));
    line("log.FreqT", exact(v.FreqT));
    line("log.MutationRate", exact(v.MutationRate));
    line("log.GrowthStart", std::to_string(v.GrowthStart));
    line("log.GrowthEnd", std::to_string(v.GrowthEnd));
    line("log.SequenceLength", std::to_string(v.SequenceLength));
    for (const MsatLocusParams& l : v.loci)
        line("log.locus", std::to_string(l.LocusLabel) + " " + std::to_string(l.MinSize) + " " +
                              std::to_string(l.MaxSize) + " " + std::to_string(l.RepeatUnit) + " " +
                              exact(l.LocusMutationRate));
    for (const std::string& l : v.modelLines)
        line("log.model", l);
    for (const auto& [name, value] : formFields(m.form))
        line("form." + name, value);
    return t;
}

bool parseSliceManifest(const std::string& text, SliceManifest& m, std::string& error) {
    m = SliceManifest{};
    std::map<std::string, std::string> values;
    std::vector<std::string> loci, files, modelLines;
    std::istringstream in(text);
    std::string row;
    while (std::getline(in, row)) {
        // A raw carriage return is never written (values escape it): CR LF line ends of a
        // copy made on another system.
        if (!row.empty() && row.back() == '\r') row.pop_back();
        if (row.empty()) continue;
        const size_t space = row.find(' ');
        if (space == std::string::npos) {
            error = "malformed line '" + row + "'";
            return false;
        }
        const std::string key = row.substr(0, space);
        const std::string value = unescaped(row.substr(space + 1));
        if (key == "log.locus")
            loci.push_back(value);
        else if (key == "file")
            files.push_back(value);
        else if (key == "log.model")
            modelLines.push_back(value);
        else
            values[key] = value;
    }
    const std::string version = values["quenlith-slice"];
    if (version == "1") {
        // Without the whole run's size and the files' digests a missing last slice or a cut
        // file would pass unseen.
        error = "written by an earlier version of quenlith, without the whole run's size and "
                "the digests of its files: run that slice again";
        return false;
    }
    if (version != "2") {
        error = version.empty() ? "not a slice manifest (no quenlith-slice line)"
                                : "a slice manifest of an unknown version '" + version + "'";
        return false;
    }
    const std::string state = values["state"];
    if (state != "complete" && state != "running") {
        error = "unknown state '" + state + "'";
        return false;
    }
    m.complete = state == "complete";
    if (values["rng"] != "streams") {
        error = "not a streams run";
        return false;
    }
    const std::string& seedText = values["seed"];
    if (seedText.empty() || seedText.find_first_not_of("0123456789") != std::string::npos) {
        error = "malformed seed";
        return false;
    }
    m.seed = std::strtoull(seedText.c_str(), nullptr, 10);
    RunLogValues& v = m.log;
    v.modelLines = modelLines;
    m.inputDigest = values["input"];
    bool ok =
        readInt64(values["first"], m.first) && readInt64(values["count"], m.count) &&
        readInt64(values["of"], m.of) && readInt32(values["log.SampleSize"], v.SampleSize) &&
        readInt32(values["log.PopSize"], v.PopSize) &&
        readInt32(values["log.EnteredPopSize"], v.EnteredPopSize) &&
        readDouble(values["log.FreqA"], v.FreqA) && readDouble(values["log.FreqC"], v.FreqC) &&
        readDouble(values["log.FreqG"], v.FreqG) && readDouble(values["log.FreqT"], v.FreqT) &&
        readDouble(values["log.MutationRate"], v.MutationRate) &&
        readInt32(values["log.GrowthStart"], v.GrowthStart) &&
        readInt32(values["log.GrowthEnd"], v.GrowthEnd) &&
        readInt32(values["log.SequenceLength"], v.SequenceLength);
    for (const std::string& l : loci) {
        std::istringstream ls(l);
        MsatLocusParams p;
        std::string rate;
        ls >> p.LocusLabel >> p.MinSize >> p.MaxSize >> p.RepeatUnit >> rate;
        ok = ok && !ls.fail() && readDouble(rate, p.LocusMutationRate);
        v.loci.push_back(p);
    }
    for (const std::string& f : files) {
        SliceFile file;
        const size_t a = f.find(' '), b = a == std::string::npos ? a : f.find(' ', a + 1);
        int64_t size = -1;
        ok = ok && b != std::string::npos && readInt64(f.substr(0, a), size) && size >= 0 &&
             b - a - 1 == 64 && b + 1 < f.size();
        if (!ok) break;
        file.size = static_cast<uint64_t>(size);
        file.sha256 = f.substr(a + 1, 64);
        file.name = f.substr(b + 1);
        m.files.push_back(file);
    }
    if (!ok) {
        error = "malformed values";
        return false;
    }
    for (const auto& f : fieldAccess()) {
        const auto it = values.find(std::string("form.") + f.name);
        if (it == values.end() || !f.set(m.form, it->second)) {
            error = std::string("missing or malformed control ") + f.name;
            return false;
        }
    }
    return true;
}

} // namespace quenlith
