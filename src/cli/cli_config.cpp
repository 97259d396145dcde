#include "cli/cli_config.h"

#include "run/parameter_table.h"

#include <sstream>

namespace quenlith {

namespace {

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// A value as written: in double quotes when blanks at its ends, a quote or a leading "#"
// would otherwise change it.
std::string quoted(const std::string& v) {
    const bool plain = !v.empty() && v.front() != ' ' && v.back() != ' ' && v.front() != '\t' &&
                       v.back() != '\t' && v.front() != '#' &&
                       v.find_first_of("\"\\\r\n") == std::string::npos;
    if (plain) return v;
    std::string q = "\"";
    for (const char c : v) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

bool unquote(const std::string& v, std::string& out) {
    out.clear();
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') {
        out = v;
        return v.empty() || v.front() != '"';
    }
    for (size_t i = 1; i + 1 < v.size(); ++i) {
        if (v[i] == '\\') {
            if (i + 2 >= v.size()) return false;
            ++i;
        }
        out += v[i];
    }
    return true;
}

std::string optionName(const char* option) {
    return std::string(option).substr(2);
}

} // namespace

std::string configText(const CliOptions& o) {
    std::string text =
        "# quenlith-cli parameter file: read it back with --config FILE.\n"
        "# One option a line, \"name = value\" (quenlith-cli --help lists them); flags take true\n"
        "# or false. Lines starting with # are comments: the options not in effect.\n";
    if (o.seed) text += "seed = " + std::to_string(*o.seed) + "\n";
    for (const ParameterEntry& e : parameterTable()) {
        if (!*e.option) continue;
        const std::string name = optionName(e.option);
        const std::vector<std::string> words = parameterOptionWords(e, o.form);
        switch (e.kind) {
        case ParameterKind::Flag:
            text += name + " = " + (words.empty() ? "false" : "true") + "\n";
            break;
        case ParameterKind::CheckedText:
            text += (words.empty() ? "# " : "") + name + " = " + quoted(e.get(o.form)) + "\n";
            break;
        case ParameterKind::Number:
            // 0 threads (every core) has no option of its own.
            if (e.get(o.form) == parameterDefault(e.field) && e.get(o.form) == "0")
                text += "# " + name + " = " + std::string(e.defaultNote) + "\n";
            else
                text += name + " = " + e.get(o.form) + "\n";
            break;
        case ParameterKind::Choice:
            // A choice left to its default (the engine of the run's kind) has no option.
            if (words.size() == 2)
                text += name + " = " + quoted(words[1]) + "\n";
            else
                text += "# " + name + " = " + std::string(e.defaultNote) + "\n";
            break;
        default:
            text += name + " = " + quoted(words.size() == 2 ? words[1] : e.get(o.form)) + "\n";
            break;
        }
    }
    text += (o.imageFile.empty() ? "# image = \n" : "image = " + quoted(o.imageFile) + "\n");
    text += std::string("quiet = ") + (o.quiet ? "true" : "false") + "\n";
    return text;
}

std::string applyConfigText(
    const std::string& name, const std::string& text, CliOptions& o,
    const std::function<std::string(const std::string&, const std::string&, bool& isFlag)>& apply) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string where = name + " line " + std::to_string(number) + ": ";
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos) return where + "not \"name = value\": '" + t + "'";
        const std::string key = trim(t.substr(0, eq));
        std::string value;
        if (!unquote(trim(t.substr(eq + 1)), value))
            return where + "a value with an unmatched quote: '" + t + "'";
        for (const char* refused : {"config", "write-config", "help", "version", "join"})
            if (key == refused) return where + "--" + key + " cannot be given in a parameter file";
        if (key.empty() || key.rfind("-", 0) == 0)
            return where + "an option name without its dashes, such as 'sims', not '" + key + "'";
        bool isFlag = false;
        // Asked first as an option with a value: a flag says so and is applied below.
        std::string error = apply("--" + key, value, isFlag);
        if (!isFlag) {
            if (!error.empty()) return where + error;
            continue;
        }
        const std::string v = trim(value);
        const bool on = v == "true" || v == "yes" || v == "on" || v == "1";
        const bool off = v == "false" || v == "no" || v == "off" || v == "0";
        if (!on && !off) return where + key + " takes true or false, not '" + value + "'";
        if (on) {
            error = apply("--" + key, "", isFlag);
            if (!error.empty()) return where + error;
        } else if (key == "quiet") {
            o.quiet = false;
        } else {
            for (const ParameterEntry& e : parameterTable())
                if (*e.option && optionName(e.option) == key)
                    e.set(o.form, parameterDefault(e.field));
        }
    }
    return {};
}

} // namespace quenlith
