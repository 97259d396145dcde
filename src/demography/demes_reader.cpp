#include "demography/demes_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

namespace quenlith::demes {

namespace {

using Json = nlohmann::ordered_json;

// Proportions of a deme's ancestors must sum to 1 within this relative tolerance; pulse
// proportions and the migration rates into a deme may exceed 1 by at most kSlack.
constexpr double kRelativeTolerance = 1e-9;
constexpr double kSlack = 1e-6;

std::string number(double v) {
    if (std::isinf(v)) return v > 0 ? "infinity" : "-infinity";
    if (std::isnan(v)) return "nan";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::to_string(v);
}

std::string inQuotes(const std::string& s) {
    return "'" + s + "'";
}

// What a value of the wrong type is, for messages: ", not a list" and so on.
std::string found(const nlohmann::ordered_json& v) {
    if (v.is_null()) return ", not empty (null)";
    if (v.is_boolean()) return std::string(", not ") + (v.get<bool>() ? "true" : "false");
    if (v.is_string()) return ", not the text " + inQuotes(v.get<std::string>());
    if (v.is_array()) return ", not a list";
    if (v.is_object()) return ", not a mapping";
    return ", not " + v.dump();
}

// True when s is well-formed UTF-8 (no surrogates, no overlong forms).
bool isUtf8(const std::string& s) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t length = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

// Non-finite numbers of the metadata as JSON can hold them: "Infinity", "-Infinity", "NaN".
void finiteJson(nlohmann::ordered_json& v) {
    if (v.is_number_float() && !std::isfinite(v.get<double>())) {
        const double x = v.get<double>();
        v = std::isnan(x) ? "NaN" : x > 0 ? "Infinity" : "-Infinity";
    } else if (v.is_structured()) {
        for (auto& item : v)
            finiteJson(item);
    }
}

// --- YAML to a typed tree ----------------------------------------------------------------
// yaml-cpp leaves plain scalars untyped; they are resolved here by the YAML 1.2 core schema
// (null, booleans, integers, floats with .inf and .nan, otherwise text). Quoted scalars are
// always text. The line of every node is kept for messages, by its path in the document.

class YamlToJson {
  public:
    explicit YamlToJson(std::map<std::string, int>& lines) : lines_(lines) {}

    Json convert(const YAML::Node& n, const std::string& path) {
        // Aliases repeat a node without repeating its text: a few lines can stand for
        // billions of values. A model has far fewer.
        if (++values_ > kMaxValues)
            fail(path,
                 "the model holds more than " + std::to_string(kMaxValues) +
                     " values (through aliases?)",
                 n.Mark().line + 1);
        lines_[path] = n.Mark().line + 1;
        switch (n.Type()) {
        case YAML::NodeType::Null:
            return nullptr;
        case YAML::NodeType::Scalar:
            return scalar(n, path);
        case YAML::NodeType::Sequence: {
            Json out = Json::array();
            size_t i = 0;
            for (const YAML::Node& item : n)
                out.push_back(convert(item, path + "[" + std::to_string(i++) + "]"));
            return out;
        }
        case YAML::NodeType::Map: {
            Json out = Json::object();
            for (const auto& kv : n) {
                if (!kv.first.IsScalar())
                    fail(path, "a key is not a plain name", kv.first.Mark().line + 1);
                const std::string key = kv.first.Scalar();
                if (!isUtf8(key)) fail(path, "a key is not UTF-8 text", kv.first.Mark().line + 1);
                const std::string keyPath = path.empty() ? key : path + "." + key;
                if (out.contains(key))
                    fail(keyPath, "the key appears twice", kv.first.Mark().line + 1);
                out[key] = convert(kv.second, keyPath);
            }
            return out;
        }
        case YAML::NodeType::Undefined:
            break;
        }
        return nullptr;
    }

  private:
    [[noreturn]] static void fail(const std::string& path, const std::string& reason, int line) {
        throw DemesError((path.empty() ? "" : path + ": ") + reason + " (line " +
                         std::to_string(line) + ")");
    }

    Json scalar(const YAML::Node& n, const std::string& path) {
        const std::string& tag = n.Tag();
        const std::string& s = n.Scalar();
        if (!isUtf8(s)) fail(path, "not UTF-8 text", n.Mark().line + 1);
        static const std::string core = "tag:yaml.org,2002:";
        if (tag == "!" || tag == core + "str") return s;
        if (tag == "?" || tag.empty()) return plain(s);
        const Json v = plain(s);
        if ((tag == core + "float" && v.is_number()) ||
            (tag == core + "int" && v.is_number_integer()) ||
            (tag == core + "bool" && v.is_boolean()) || (tag == core + "null" && v.is_null()))
            return tag == core + "float" ? Json(v.get<double>()) : v;
        fail(path, "the value " + inQuotes(s) + " does not fit its tag " + tag, n.Mark().line + 1);
    }

    static Json plain(const std::string& s) {
        static const std::regex nullRe("~|null|Null|NULL|");
        static const std::regex trueRe("true|True|TRUE");
        static const std::regex falseRe("false|False|FALSE");
        static const std::regex intRe("[-+]?[0-9]+");
        static const std::regex octRe("0o[0-7]+");
        static const std::regex hexRe("0x[0-9a-fA-F]+");
        static const std::regex floatRe("[-+]?(\\.[0-9]+|[0-9]+(\\.[0-9]*)?)([eE][-+]?[0-9]+)?");
        static const std::regex infRe("[-+]?\\.(inf|Inf|INF)");
        static const std::regex nanRe("\\.(nan|NaN|NAN)");
        if (std::regex_match(s, nullRe)) return nullptr;
        if (std::regex_match(s, trueRe)) return true;
        if (std::regex_match(s, falseRe)) return false;
        auto integer = [&](const std::string& digits, int base) -> Json {
            errno = 0;
            const long long v = std::strtoll(digits.c_str(), nullptr, base);
            if (errno == ERANGE) return std::strtod(s.c_str(), nullptr);
            return v;
        };
        if (std::regex_match(s, intRe)) return integer(s, 10);
        if (std::regex_match(s, octRe)) return integer(s.substr(2), 8);
        if (std::regex_match(s, hexRe)) return integer(s.substr(2), 16);
        if (std::regex_match(s, floatRe)) return std::strtod(s.c_str(), nullptr);
        if (std::regex_match(s, infRe)) return s[0] == '-' ? -kInfinity : kInfinity;
        if (std::regex_match(s, nanRe)) return std::nan("");
        return s;
    }

    static constexpr size_t kMaxValues = 250000;
    std::map<std::string, int>& lines_;
    size_t values_ = 0;
};

// --- Resolution --------------------------------------------------------------------------

// A value with the path it is reported under: its own field, or the defaults field it
// came from. `value` is null when the field is absent.
struct Field {
    const Json* value = nullptr;
    std::string path;
    explicit operator bool() const { return value != nullptr; }
};

// A name as a Python identifier: a character of Unicode's XID_Start or "_", then characters
// of XID_Continue (ICU's character properties). Text that is not UTF-8 is not a name.
bool isIdentifier(const std::string& s) {
    if (s.empty()) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t length = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        const bool first = i == 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
        const bool ok = first ? (c == '_' || u_hasBinaryProperty(c, UCHAR_XID_START))
                              : u_hasBinaryProperty(c, UCHAR_XID_CONTINUE);
        if (!ok) return false;
    }
    return true;
}

enum class Kind {
    Text,
    NonEmptyText,
    Identifier,
    PositiveFinite,
    NonNegativeFinite,
    Rate,
    PositiveOrInfinity,
    IdentifierList,
    NonEmptyIdentifierList,
    ProportionList,
    PulseProportions, // non-empty, summing to at most 1
    Object,
};

class Resolver {
  public:
    explicit Resolver(std::map<std::string, int> lines) : lines_(std::move(lines)) {}

    Model resolve(const Json& root) {
        if (!root.is_object())
            fail("", "the model must be a mapping of fields (time_units, demes, ...)");
        checkKeys(root, "",
                  {"description", "doi", "metadata", "time_units", "generation_time", "defaults",
                   "demes", "migrations", "pulses"});
        readDefaults(root);
        readTopLevel(root);
        const Field demes = field(root, "", "demes");
        if (!demes) fail("demes", "the model needs a list of demes");
        if (!demes.value->is_array()) fail("demes", "must be a list of demes");
        if (demes.value->empty()) fail("demes", "the model needs at least one deme");
        for (size_t i = 0; i < demes.value->size(); ++i)
            readDeme((*demes.value)[i], "demes[" + std::to_string(i) + "]");
        readMigrations(root);
        readPulses(root);
        return std::move(model_);
    }

  private:
    [[noreturn]] void fail(const std::string& path, const std::string& reason) const {
        std::string message = path.empty() ? reason : path + ": " + reason;
        // The line of the field, or of the nearest enclosing one that has a line.
        for (std::string p = path;;) {
            if (auto it = lines_.find(p); it != lines_.end()) {
                message += " (line " + std::to_string(it->second) + ")";
                break;
            }
            const size_t cut = p.find_last_of(".[");
            if (cut == std::string::npos) break;
            p.resize(cut);
        }
        throw DemesError(message);
    }

    static std::string join(const std::string& path, const std::string& key) {
        return path.empty() ? key : path + "." + key;
    }

    // The field `key` of `obj`, else the same field of `defaults`.
    static Field field(const Json& obj, const std::string& path, const std::string& key,
                       const Json* defaults = nullptr, const std::string& defaultsPath = {}) {
        if (auto it = obj.find(key); it != obj.end()) return {&*it, join(path, key)};
        if (defaults)
            if (auto it = defaults->find(key); it != defaults->end())
                return {&*it, join(defaultsPath, key)};
        return {};
    }

    void checkKeys(const Json& obj, const std::string& path,
                   std::initializer_list<const char*> allowed) const {
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            if (std::none_of(allowed.begin(), allowed.end(),
                             [&](const char* a) { return it.key() == a; })) {
                std::string list;
                for (const char* a : allowed)
                    list += std::string(list.empty() ? "" : ", ") + a;
                fail(join(path, it.key()), "unknown field (allowed here: " + list + ")");
            }
        }
    }

    static bool isNumber(const Json& v) { return v.is_number(); }

    // Checks the type and range of a value (a null value is refused like any other type).
    void check(const Field& f, Kind kind) const {
        const Json& v = *f.value;
        auto needNumber = [&](const char* what) {
            if (!isNumber(v)) fail(f.path, std::string("must be a number ") + what + found(v));
            return v.get<double>();
        };
        switch (kind) {
        case Kind::Text:
            if (!v.is_string()) fail(f.path, "must be text" + found(v));
            return;
        case Kind::NonEmptyText:
            if (!v.is_string() || v.get<std::string>().empty())
                fail(f.path, "must be a name" + found(v));
            return;
        case Kind::Identifier:
            if (!v.is_string()) fail(f.path, "must be a deme name" + found(v));
            if (!isIdentifier(v.get<std::string>()))
                fail(f.path, inQuotes(v.get<std::string>()) +
                                 " is not a valid name (letters, digits and _, not starting "
                                 "with a digit)");
            return;
        case Kind::PositiveFinite: {
            const double x = needNumber("above 0");
            if (!(x > 0 && !std::isinf(x)))
                fail(f.path, "must be above 0 and finite, not " + number(x));
            return;
        }
        case Kind::NonNegativeFinite: {
            const double x = needNumber("of 0 or more");
            if (!(x >= 0 && !std::isinf(x)))
                fail(f.path, "must be 0 or more and finite, not " + number(x));
            return;
        }
        case Kind::Rate: {
            const double x = needNumber("from 0 to 1");
            if (!(0 <= x && x <= 1)) fail(f.path, "must be from 0 to 1, not " + number(x));
            return;
        }
        case Kind::PositiveOrInfinity: {
            if (v.is_string() && v.get<std::string>() == "Infinity") return;
            if (!isNumber(v)) fail(f.path, "must be a number above 0 or \"Infinity\"" + found(v));
            const double x = v.get<double>();
            if (!(x > 0)) fail(f.path, "must be above 0, not " + number(x));
            return;
        }
        case Kind::IdentifierList:
        case Kind::NonEmptyIdentifierList:
            if (!v.is_array()) fail(f.path, "must be a list of deme names" + found(v));
            if (kind == Kind::NonEmptyIdentifierList && v.empty())
                fail(f.path, "must list at least one deme");
            for (size_t i = 0; i < v.size(); ++i)
                check({&v[i], f.path + "[" + std::to_string(i) + "]"}, Kind::Identifier);
            return;
        case Kind::ProportionList:
        case Kind::PulseProportions: {
            if (!v.is_array()) fail(f.path, "must be a list of proportions" + found(v));
            double sum = 0;
            for (size_t i = 0; i < v.size(); ++i) {
                const std::string p = f.path + "[" + std::to_string(i) + "]";
                if (!isNumber(v[i])) fail(p, "must be a number above 0, at most 1");
                const double x = v[i].get<double>();
                if (!(0 < x && x <= 1)) fail(p, "must be above 0 and at most 1, not " + number(x));
                sum += x;
            }
            if (kind == Kind::PulseProportions && v.empty())
                fail(f.path, "must list at least one proportion");
            if (kind == Kind::PulseProportions && !(sum <= 1))
                fail(f.path, "sum to " + number(sum) + ", above 1");
            return;
        }
        case Kind::Object:
            if (!v.is_object()) fail(f.path, "must be a mapping of fields" + found(v));
            return;
        }
    }

    // `f` checked, as a number; "Infinity" is infinite.
    double numberOf(const Field& f, Kind kind) const {
        check(f, kind);
        if (f.value->is_string()) return kInfinity;
        return f.value->get<double>();
    }
    std::string textOf(const Field& f, Kind kind) const {
        check(f, kind);
        return f.value->get<std::string>();
    }
    std::vector<std::string> namesOf(const Field& f, Kind kind) const {
        check(f, kind);
        return f.value->get<std::vector<std::string>>();
    }
    std::vector<double> proportionsOf(const Field& f, Kind kind) const {
        check(f, kind);
        std::vector<double> out;
        for (const Json& x : *f.value)
            out.push_back(x.get<double>());
        return out;
    }
    const Json* objectOf(const Field& f) const {
        if (!f) return nullptr;
        check(f, Kind::Object);
        return f.value;
    }

    // --- defaults ---
    void checkFields(const Json& obj, const std::string& path,
                     std::initializer_list<std::pair<const char*, Kind>> fields) const {
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            const auto found = std::find_if(fields.begin(), fields.end(),
                                            [&](const auto& p) { return it.key() == p.first; });
            if (found == fields.end()) {
                std::string list;
                for (const auto& p : fields)
                    list += std::string(list.empty() ? "" : ", ") + p.first;
                fail(join(path, it.key()), "unknown field (allowed here: " + list + ")");
            }
            check({&*it, join(path, it.key())}, found->second);
        }
    }

    void checkEpochFields(const Json& obj, const std::string& path) const {
        checkFields(obj, path,
                    {{"end_time", Kind::NonNegativeFinite},
                     {"start_size", Kind::PositiveFinite},
                     {"end_size", Kind::PositiveFinite},
                     {"selfing_rate", Kind::Rate},
                     {"cloning_rate", Kind::Rate},
                     {"size_function", Kind::Text}});
    }

    void readDefaults(const Json& root) {
        const Json* defaults = objectOf(field(root, "", "defaults"));
        if (!defaults) return;
        checkKeys(*defaults, "defaults", {"epoch", "deme", "migration", "pulse"});
        epochDefaults_ = objectOf(field(*defaults, "defaults", "epoch"));
        demeDefaults_ = objectOf(field(*defaults, "defaults", "deme"));
        migrationDefaults_ = objectOf(field(*defaults, "defaults", "migration"));
        pulseDefaults_ = objectOf(field(*defaults, "defaults", "pulse"));
        if (epochDefaults_) checkEpochFields(*epochDefaults_, "defaults.epoch");
        if (demeDefaults_)
            checkFields(*demeDefaults_, "defaults.deme",
                        {{"description", Kind::Text},
                         {"start_time", Kind::PositiveOrInfinity},
                         {"ancestors", Kind::IdentifierList},
                         {"proportions", Kind::ProportionList}});
        if (migrationDefaults_)
            checkFields(*migrationDefaults_, "defaults.migration",
                        {{"rate", Kind::Rate},
                         {"start_time", Kind::PositiveOrInfinity},
                         {"end_time", Kind::NonNegativeFinite},
                         {"source", Kind::Identifier},
                         {"dest", Kind::Identifier},
                         {"demes", Kind::IdentifierList}});
        if (pulseDefaults_)
            checkFields(*pulseDefaults_, "defaults.pulse",
                        {{"sources", Kind::NonEmptyIdentifierList},
                         {"dest", Kind::Identifier},
                         {"time", Kind::PositiveFinite},
                         {"proportions", Kind::PulseProportions}});
    }

    void readTopLevel(const Json& root) {
        if (const Field f = field(root, "", "description"))
            model_.description = textOf(f, Kind::Text);
        const Field units = field(root, "", "time_units");
        if (!units) fail("time_units", "the model needs time_units (generations, years, ...)");
        model_.timeUnits = textOf(units, Kind::Text);
        const Field g = field(root, "", "generation_time");
        if (g) model_.generationTime = numberOf(g, Kind::PositiveFinite);
        if (model_.timeUnits == "generations") {
            if (g && model_.generationTime != 1)
                fail("generation_time", "must be 1 when time_units is generations, not " +
                                            number(model_.generationTime));
        } else if (!g) {
            fail("generation_time",
                 "needed to convert times in " + model_.timeUnits + " into generations");
        }
        if (const Field f = field(root, "", "doi")) {
            if (!f.value->is_array()) fail(f.path, "must be a list of texts");
            for (size_t i = 0; i < f.value->size(); ++i)
                model_.doi.push_back(textOf(
                    {&(*f.value)[i], f.path + "[" + std::to_string(i) + "]"}, Kind::NonEmptyText));
        }
        if (const Json* m = objectOf(field(root, "", "metadata"))) {
            Json metadata = *m;
            finiteJson(metadata);
            model_.metadataJson = metadata.dump();
        }
    }

    size_t demeIndex(const std::string& name, const std::string& path) const {
        for (size_t i = 0; i < model_.demes.size(); ++i)
            if (model_.demes[i].name == name) return i;
        fail(path, "no deme named " + inQuotes(name) + " (defined before this point)");
    }
    const Deme& demeNamed(const std::string& name, const std::string& path) const {
        return model_.demes[demeIndex(name, path)];
    }

    // --- demes ---
    void readDeme(const Json& data, const std::string& path) {
        check({&data, path}, Kind::Object);
        checkKeys(data, path,
                  {"name", "description", "start_time", "ancestors", "proportions", "epochs",
                   "defaults"});
        const std::string dd = "defaults.deme";
        Deme deme;
        const Field name = field(data, path, "name");
        if (!name) fail(path, "the deme needs a name");
        deme.name = textOf(name, Kind::Identifier);
        for (size_t j = 0; j < model_.demes.size(); ++j)
            if (model_.demes[j].name == deme.name)
                fail(name.path, "the name " + inQuotes(deme.name) + " is already used by demes[" +
                                    std::to_string(j) + "]");
        if (const Field f = field(data, path, "description", demeDefaults_, dd))
            deme.description = textOf(f, Kind::Text);
        const Field ancestors = field(data, path, "ancestors", demeDefaults_, dd);
        if (ancestors) {
            deme.ancestors = namesOf(ancestors, Kind::IdentifierList);
            for (size_t k = 0; k < deme.ancestors.size(); ++k) {
                const std::string p = ancestors.path + "[" + std::to_string(k) + "]";
                if (deme.ancestors[k] == deme.name) fail(p, "a deme cannot be its own ancestor");
                demeIndex(deme.ancestors[k], p);
                for (size_t l = 0; l < k; ++l)
                    if (deme.ancestors[l] == deme.ancestors[k])
                        fail(p, inQuotes(deme.ancestors[k]) + " is listed twice");
            }
        }
        const Field proportions = field(data, path, "proportions", demeDefaults_, dd);
        if (proportions) {
            deme.proportions = proportionsOf(proportions, Kind::ProportionList);
        } else if (deme.ancestors.size() == 1) {
            deme.proportions = {1.0};
        } else if (deme.ancestors.size() > 1) {
            fail(join(path, "proportions"), "needed when a deme has more than one ancestor");
        }
        const std::string pp = proportions ? proportions.path : join(path, "proportions");
        if (deme.proportions.size() != deme.ancestors.size())
            fail(pp, std::to_string(deme.proportions.size()) + " proportion(s) for " +
                         std::to_string(deme.ancestors.size()) + " ancestor(s)");
        if (!deme.ancestors.empty()) {
            double sum = 0;
            for (double x : deme.proportions)
                sum += x;
            if (!(std::fabs(sum - 1) <= kRelativeTolerance * std::max(std::fabs(sum), 1.0)))
                fail(pp, "must sum to 1, not " + number(sum));
        }

        const Field start = field(data, path, "start_time", demeDefaults_, dd);
        const std::string sp = start ? start.path : join(path, "start_time");
        if (start) {
            deme.startTime = numberOf(start, Kind::PositiveOrInfinity);
        } else if (deme.ancestors.size() == 1) {
            deme.startTime = demeNamed(deme.ancestors[0], sp).endTime();
        } else if (deme.ancestors.size() > 1) {
            fail(sp, "needed when a deme has more than one ancestor");
        }
        if (deme.ancestors.empty() && !std::isinf(deme.startTime))
            fail(sp, "a deme without ancestors starts at infinity, not " + number(deme.startTime));
        if (!deme.ancestors.empty() && std::isinf(deme.startTime))
            fail(sp, "a deme with ancestors needs a finite start time");
        for (const std::string& a : deme.ancestors) {
            const Deme& anc = demeNamed(a, sp);
            if (!(anc.startTime > deme.startTime && deme.startTime >= anc.endTime()))
                fail(sp, "the ancestor " + inQuotes(a) + " does not exist at " +
                             number(deme.startTime) + " (it exists from " + number(anc.startTime) +
                             " to " + number(anc.endTime()) + ")");
        }

        // Epoch defaults: the deme's own, over the top-level ones.
        const Json* local = nullptr;
        if (const Json* d = objectOf(field(data, path, "defaults"))) {
            checkKeys(*d, join(path, "defaults"), {"epoch"});
            local = objectOf(field(*d, join(path, "defaults"), "epoch"));
            if (local) checkEpochFields(*local, join(path, "defaults.epoch"));
        }
        const Json emptyEpochs = Json::array({Json::object()});
        const Field epochsField = field(data, path, "epochs");
        const std::string ep = join(path, "epochs");
        if (epochsField && !epochsField.value->is_array()) fail(ep, "must be a list of epochs");
        const Json& epochs = epochsField ? *epochsField.value : emptyEpochs;
        if (epochs.empty()) fail(ep, "a deme needs at least one epoch");
        double previousEnd = deme.startTime;
        for (size_t k = 0; k < epochs.size(); ++k) {
            const std::string p = ep + "[" + std::to_string(k) + "]";
            deme.epochs.push_back(readEpoch(epochs[k], p, local, join(path, "defaults.epoch"), k,
                                            epochs.size(), previousEnd,
                                            k == 0 ? nullptr : &deme.epochs.back()));
            previousEnd = deme.epochs.back().endTime;
        }
        model_.demes.push_back(std::move(deme));
    }

    Field epochField(const Json& data, const std::string& path, const char* key, const Json* local,
                     const std::string& localPath) const {
        if (Field f = field(data, path, key, local, localPath)) return f;
        return field(Json::object(), path, key, epochDefaults_, "defaults.epoch");
    }

    Epoch readEpoch(const Json& data, const std::string& path, const Json* local,
                    const std::string& localPath, size_t k, size_t count, double start,
                    const Epoch* previous) const {
        check({&data, path}, Kind::Object);
        checkEpochFields(data, path);
        auto get = [&](const char* key) { return epochField(data, path, key, local, localPath); };
        Epoch e;
        const Field end = get("end_time");
        if (end) {
            e.endTime = numberOf(end, Kind::NonNegativeFinite);
        } else if (k + 1 < count) {
            fail(join(path, "end_time"), "needed for every epoch but the last");
        }
        if (!(e.endTime < start))
            fail(end ? end.path : join(path, "end_time"),
                 "must be below the " + std::string(k == 0 ? "deme's" : "epoch's") +
                     " start time " + number(start) + ", not " + number(e.endTime));
        const Field startSize = get("start_size");
        const Field endSize = get("end_size");
        if (startSize) e.startSize = numberOf(startSize, Kind::PositiveFinite);
        if (endSize) e.endSize = numberOf(endSize, Kind::PositiveFinite);
        if (!startSize) {
            if (previous) {
                e.startSize = previous->endSize;
            } else if (endSize) {
                e.startSize = e.endSize;
            } else {
                fail(path, "the first epoch needs start_size or end_size");
            }
        }
        if (!endSize) e.endSize = e.startSize;
        if (std::isinf(start) && e.startSize != e.endSize)
            fail(path, "the size cannot change in an epoch that starts at infinity (start_size " +
                           number(e.startSize) + ", end_size " + number(e.endSize) + ")");
        const Field function = get("size_function");
        if (function) {
            const std::string name = textOf(function, Kind::Text);
            if (name == "constant")
                e.sizeFunction = SizeFunction::Constant;
            else if (name == "exponential")
                e.sizeFunction = SizeFunction::Exponential;
            else if (name == "linear")
                e.sizeFunction = SizeFunction::Linear;
            else
                fail(function.path, "unknown size function " + inQuotes(name) +
                                        " (constant, exponential or linear)");
            if (e.sizeFunction != SizeFunction::Constant && std::isinf(start))
                fail(function.path, "must be constant in an epoch that starts at infinity");
        } else {
            e.sizeFunction =
                e.startSize == e.endSize ? SizeFunction::Constant : SizeFunction::Exponential;
        }
        if (e.sizeFunction == SizeFunction::Constant && e.startSize != e.endSize)
            fail(function.path, "constant, but start_size " + number(e.startSize) +
                                    " differs from end_size " + number(e.endSize));
        if (const Field f = get("selfing_rate")) e.selfingRate = numberOf(f, Kind::Rate);
        if (const Field f = get("cloning_rate")) e.cloningRate = numberOf(f, Kind::Rate);
        return e;
    }

    // --- migrations ---
    void readMigrations(const Json& root) {
        const Field list = field(root, "", "migrations");
        if (!list) return;
        if (!list.value->is_array()) fail("migrations", "must be a list of migrations");
        const std::string md = "defaults.migration";
        std::vector<std::string> origin; // the path of each resolved migration
        for (size_t i = 0; i < list.value->size(); ++i) {
            const Json& data = (*list.value)[i];
            const std::string path = "migrations[" + std::to_string(i) + "]";
            check({&data, path}, Kind::Object);
            checkKeys(data, path, {"rate", "start_time", "end_time", "source", "dest", "demes"});
            auto get = [&](const char* key) {
                return field(data, path, key, migrationDefaults_, md);
            };
            const Field rate = get("rate");
            if (!rate) fail(join(path, "rate"), "every migration needs a rate");
            const double r = numberOf(rate, Kind::Rate);
            const Field start = get("start_time");
            const Field end = get("end_time");
            std::optional<double> startTime, endTime;
            if (start) startTime = numberOf(start, Kind::PositiveOrInfinity);
            if (end) endTime = numberOf(end, Kind::NonNegativeFinite);
            const Field source = get("source");
            const Field dest = get("dest");
            const Field demes = get("demes");
            if (source) check(source, Kind::NonEmptyText);
            if (dest) check(dest, Kind::NonEmptyText);
            std::vector<std::pair<std::string, std::string>> pairs;
            if (demes && !source && !dest) {
                const std::vector<std::string> names = namesOf(demes, Kind::IdentifierList);
                if (names.size() < 2)
                    fail(demes.path, "symmetric migration needs two demes or more");
                for (size_t a = 0; a < names.size(); ++a) {
                    const std::string p = demes.path + "[" + std::to_string(a) + "]";
                    demeIndex(names[a], p);
                    for (size_t b = 0; b < a; ++b)
                        if (names[a] == names[b]) fail(p, inQuotes(names[a]) + " is listed twice");
                }
                for (size_t a = 0; a < names.size(); ++a)
                    for (size_t b = a + 1; b < names.size(); ++b) {
                        pairs.emplace_back(names[a], names[b]);
                        pairs.emplace_back(names[b], names[a]);
                    }
            } else if (!demes && source && dest) {
                demeIndex(source.value->get<std::string>(), source.path);
                demeIndex(dest.value->get<std::string>(), dest.path);
                pairs.emplace_back(source.value->get<std::string>(),
                                   dest.value->get<std::string>());
            } else {
                fail(path, "give either source and dest (one direction) or demes (symmetric)");
            }
            for (const auto& [s, d] : pairs) {
                const Deme& sd = demeNamed(s, path);
                const Deme& dd = demeNamed(d, path);
                Migration m;
                m.source = s;
                m.dest = d;
                m.rate = r;
                m.startTime = startTime ? *startTime : std::min(sd.startTime, dd.startTime);
                m.endTime = endTime ? *endTime : std::max(sd.endTime(), dd.endTime());
                const std::string what = " (" + s + " to " + d + ")";
                if (s == d) fail(path, "source and dest are the same deme " + inQuotes(s));
                if (!(m.startTime > m.endTime))
                    fail(start ? start.path : path,
                         "start_time " + number(m.startTime) + " must be above end_time " +
                             number(m.endTime) + what +
                             (start && end ? "" : "; the demes must exist at the same time"));
                for (const Deme* x : {&sd, &dd}) {
                    if (m.startTime > x->startTime)
                        fail(start ? start.path : path, number(m.startTime) + " is before deme " +
                                                            inQuotes(x->name) + " starts at " +
                                                            number(x->startTime) + what);
                    if (m.endTime < x->endTime())
                        fail(end ? end.path : path, number(m.endTime) + " is after deme " +
                                                        inQuotes(x->name) + " ends at " +
                                                        number(x->endTime()) + what);
                }
                model_.migrations.push_back(m);
                origin.push_back(path);
            }
        }
        const auto& ms = model_.migrations;
        for (size_t a = 0; a < ms.size(); ++a)
            for (size_t b = a + 1; b < ms.size(); ++b)
                if (ms[a].source == ms[b].source && ms[a].dest == ms[b].dest &&
                    !(ms[a].endTime >= ms[b].startTime || ms[b].endTime >= ms[a].startTime))
                    fail(origin[b], "the migration from " + ms[b].source + " to " + ms[b].dest +
                                        " overlaps the one of " + origin[a] + " in time");
        // The rates into a deme may not sum above 1 in any interval between migration times.
        std::vector<double> bounds;
        for (const Migration& m : ms) {
            if (!std::isinf(m.startTime)) bounds.push_back(m.startTime);
            bounds.push_back(m.endTime);
        }
        std::sort(bounds.begin(), bounds.end(), std::greater<>());
        bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
        for (size_t j = 0; j < bounds.size(); ++j) {
            const double hi = j == 0 ? kInfinity : bounds[j - 1];
            const double lo = bounds[j];
            std::map<std::string, double> into;
            for (size_t k = 0; k < ms.size(); ++k) {
                if (lo >= ms[k].startTime || ms[k].endTime >= hi) continue;
                double& sum = into[ms[k].dest];
                sum += ms[k].rate;
                if (sum > 1 + kSlack)
                    fail(origin[k], "the migration rates into " + inQuotes(ms[k].dest) +
                                        " sum to " + number(sum) + ", above 1, between times " +
                                        number(hi) + " and " + number(lo));
            }
        }
    }

    // --- pulses ---
    void readPulses(const Json& root) {
        const Field list = field(root, "", "pulses");
        if (!list) return;
        if (!list.value->is_array()) fail("pulses", "must be a list of pulses");
        const std::string pd = "defaults.pulse";
        for (size_t i = 0; i < list.value->size(); ++i) {
            const Json& data = (*list.value)[i];
            const std::string path = "pulses[" + std::to_string(i) + "]";
            check({&data, path}, Kind::Object);
            checkKeys(data, path, {"sources", "dest", "time", "proportions"});
            auto get = [&](const char* key) { return field(data, path, key, pulseDefaults_, pd); };
            Pulse p;
            const Field sources = get("sources");
            if (!sources) fail(join(path, "sources"), "every pulse needs its sources");
            p.sources = namesOf(sources, Kind::IdentifierList);
            const Field dest = get("dest");
            if (!dest) fail(join(path, "dest"), "every pulse needs a dest");
            p.dest = textOf(dest, Kind::Identifier);
            const Field time = get("time");
            if (!time) fail(join(path, "time"), "every pulse needs a time");
            p.time = numberOf(time, Kind::PositiveFinite);
            const Field proportions = get("proportions");
            if (!proportions) fail(join(path, "proportions"), "every pulse needs proportions");
            p.proportions = proportionsOf(proportions, Kind::ProportionList);

            if (p.sources.empty()) fail(sources.path, "must list at least one deme");
            const Deme& dd = demeNamed(p.dest, dest.path);
            for (size_t k = 0; k < p.sources.size(); ++k) {
                const std::string sp = sources.path + "[" + std::to_string(k) + "]";
                if (p.sources[k] == p.dest) fail(sp, "the dest cannot be one of the sources");
                for (size_t l = 0; l < k; ++l)
                    if (p.sources[l] == p.sources[k])
                        fail(sp, inQuotes(p.sources[k]) + " is listed twice");
                const Deme& sd = demeNamed(p.sources[k], sp);
                if (!(sd.startTime > p.time && p.time >= sd.endTime()))
                    fail(time.path, "the source " + inQuotes(sd.name) + " does not exist at " +
                                        number(p.time) + " (it exists from " +
                                        number(sd.startTime) + " to " + number(sd.endTime()) + ")");
            }
            if (p.proportions.size() != p.sources.size())
                fail(proportions.path, std::to_string(p.proportions.size()) +
                                           " proportion(s) for " +
                                           std::to_string(p.sources.size()) + " source(s)");
            if (!(dd.startTime >= p.time && p.time > dd.endTime()))
                fail(time.path, "the dest " + inQuotes(dd.name) + " does not exist at " +
                                    number(p.time) + " (it exists from " + number(dd.startTime) +
                                    " to " + number(dd.endTime()) + ", its end excluded)");
            double sum = 0;
            for (double x : p.proportions)
                sum += x;
            if (sum > 1 + kSlack) fail(proportions.path, "sum to " + number(sum) + ", above 1");
            model_.pulses.push_back(std::move(p));
        }
        // Oldest first; pulses of one time keep their order, which changes their outcome.
        std::stable_sort(model_.pulses.begin(), model_.pulses.end(),
                         [](const Pulse& a, const Pulse& b) { return a.time > b.time; });
    }

    std::map<std::string, int> lines_;
    Model model_;
    const Json* epochDefaults_ = nullptr;
    const Json* demeDefaults_ = nullptr;
    const Json* migrationDefaults_ = nullptr;
    const Json* pulseDefaults_ = nullptr;
};

Json timeJson(double t) {
    return std::isinf(t) ? Json("Infinity") : Json(t);
}

// Counts the documents of a YAML text without building them. yaml-cpp 0.7 never gets past a
// stray "," between documents (it yields empty documents without end), so a document that
// starts where the previous one did is reported instead of read again.
class DocumentCounter : public YAML::EventHandler {
  public:
    void OnDocumentStart(const YAML::Mark& m) override { start = m; }
    void OnDocumentEnd() override {}
    void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
    void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
    void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  const std::string&) override {}
    void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                         YAML::EmitterStyle::value) override {}
    void OnSequenceEnd() override {}
    void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                    YAML::EmitterStyle::value) override {}
    void OnMapEnd() override {}
    YAML::Mark start;
};

[[noreturn]] void notYaml(const std::string& source, const YAML::Mark& mark,
                          const std::string& reason) {
    throw DemesError(source + ": not a YAML file: line " + std::to_string(mark.line + 1) +
                     ", column " + std::to_string(mark.column + 1) + ": " + reason);
}

// The number of documents in `text`, at most 3.
int countDocuments(const std::string& text, const std::string& source) {
    std::istringstream in(text);
    YAML::Parser parser(in);
    int count = 0;
    int previous = -1;
    for (DocumentCounter counter; count < 3 && parser.HandleNextDocument(counter); ++count) {
        if (counter.start.pos == previous) notYaml(source, counter.start, "unexpected ','");
        previous = counter.start.pos;
    }
    return count;
}

} // namespace

Model readModel(const std::string& text, const std::string& source) {
    YAML::Node doc;
    try {
        const int documents = countDocuments(text, source);
        if (documents == 0) throw DemesError(source + ": the file holds no model");
        if (documents > 1)
            throw DemesError(source + ": the file holds several YAML documents; a model is one");
        doc = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        notYaml(source, e.mark, e.msg);
    }
    try {
        std::map<std::string, int> lines;
        const Json root = YamlToJson(lines).convert(doc, "");
        return Resolver(std::move(lines)).resolve(root);
    } catch (const DemesError& e) {
        throw DemesError(source + ": " + e.what());
    }
}

Model readModelFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw DemesError(path + ": cannot read the file: " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw DemesError(path + ": cannot read the file");
    return readModel(text.str(), path);
}

std::string resolvedJson(const Model& model) {
    Json out = Json::object();
    out["time_units"] = model.timeUnits;
    out["generation_time"] = model.generationTime;
    out["doi"] = model.doi;
    out["description"] = model.description;
    out["metadata"] = Json::parse(model.metadataJson);
    Json demes = Json::array();
    for (const Deme& d : model.demes) {
        Json epochs = Json::array();
        for (const Epoch& e : d.epochs)
            epochs.push_back({{"end_time", e.endTime},
                              {"start_size", e.startSize},
                              {"end_size", e.endSize},
                              {"size_function", sizeFunctionName(e.sizeFunction)},
                              {"selfing_rate", e.selfingRate},
                              {"cloning_rate", e.cloningRate}});
        demes.push_back({{"name", d.name},
                         {"description", d.description},
                         {"start_time", timeJson(d.startTime)},
                         {"epochs", epochs},
                         {"proportions", d.proportions},
                         {"ancestors", d.ancestors}});
    }
    out["demes"] = demes;
    Json migrations = Json::array();
    for (const Migration& m : model.migrations)
        migrations.push_back({{"rate", m.rate},
                              {"start_time", timeJson(m.startTime)},
                              {"end_time", m.endTime},
                              {"source", m.source},
                              {"dest", m.dest}});
    out["migrations"] = migrations;
    Json pulses = Json::array();
    for (const Pulse& p : model.pulses)
        pulses.push_back({{"sources", p.sources},
                          {"dest", p.dest},
                          {"time", p.time},
                          {"proportions", p.proportions}});
    out["pulses"] = pulses;
    // Every text was checked to be UTF-8 when read; a model built otherwise gets U+FFFD.
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace quenlith::demes
