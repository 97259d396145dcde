#include "msat/msat_params.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <charconv>
#include <cmath>
#include <string>

namespace quenlith {

namespace {

constexpr size_t kIntegerTokenLength = 32;
constexpr size_t kRealTokenLength = 64;
// Average number of tries of one size draw above which a locus is refused.
constexpr int64_t kMaxSizeDrawTries = 100000;

bool isSeparator(char c) {
    return static_cast<unsigned char>(c) <= 32;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string locusField(int32_t locus, const char* field) {
    return "locus " + std::to_string(locus) + ", " + field;
}

} // namespace

bool parseParamInteger(std::string_view t, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    if (i == t.size()) return false;
    int64_t magnitude = 0;
    for (; i < t.size(); ++i) {
        if (!isDigit(t[i])) return false;
        magnitude = magnitude * 10 + (t[i] - '0');
        if (magnitude > 2147483648LL) return false;
    }
    const int64_t v = negative ? -magnitude : magnitude;
    if (v > 2147483647LL) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool parseParamReal(std::string_view t, double& value) {
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    const size_t start = i;
    size_t mantissaDigits = 0;
    while (i < t.size() && isDigit(t[i])) {
        ++i;
        ++mantissaDigits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i])) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return false;
    bool tinyExponent = false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) tinyExponent = t[i++] == '-';
        size_t exponentDigits = 0;
        while (i < t.size() && isDigit(t[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0) return false;
    }
    if (i != t.size()) return false;

    // from_chars takes neither a "+" nor a sign at all here; the sign is applied after.
    double magnitude = 0;
    const auto res = std::from_chars(t.data() + start, t.data() + t.size(), magnitude);
    if (res.ec == std::errc::result_out_of_range) {
        if (!tinyExponent) return false; // overflow
        magnitude = 0;                   // underflow reads as 0
    } else if (res.ec != std::errc() || res.ptr != t.data() + t.size() ||
               !std::isfinite(magnitude)) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

void MsatParamReader::open() {
    // Read whole for every simulation: 256 MiB is far more than the loci of any run take.
    text_ = readWholeFile(path_, 268435456, "far more than the parameters of any run");
    pos_ = 0;
}

void MsatParamReader::close() {
    text_.clear();
    text_.shrink_to_fit();
    pos_ = 0;
}

std::string_view MsatParamReader::nextToken(size_t maxLength) {
    while (pos_ < text_.size() && isSeparator(text_[pos_]))
        ++pos_;
    const size_t start = pos_;
    while (pos_ < text_.size() && !isSeparator(text_[pos_]) && pos_ - start < maxLength)
        ++pos_;
    return std::string_view(text_).substr(start, pos_ - start);
}

void MsatParamReader::invalidNumber(int32_t locus, const char* field,
                                    std::string_view token) const {
    throw RunError("Invalid numeric input",
                   path_ + ": " + locusField(locus, field) + " \"" + std::string(token) + "\"");
}

int32_t MsatParamReader::readInteger(int32_t locus, const char* field) {
    const std::string_view token = nextToken(kIntegerTokenLength);
    if (token.empty()) return 0; // end of the file
    int32_t value = 0;
    if (!parseParamInteger(token, value)) invalidNumber(locus, field, token);
    return value;
}

double MsatParamReader::readReal(int32_t locus, const char* field) {
    const std::string_view token = nextToken(kRealTokenLength);
    if (token.empty()) return 0;
    double value = 0;
    if (!parseParamReal(token, value)) invalidNumber(locus, field, token);
    return value;
}

void MsatParamReader::skipRestOfLine() {
    while (pos_ < text_.size() && text_[pos_] != '\r' && text_[pos_] != '\n')
        ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\r') {
        ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    } else if (pos_ < text_.size()) {
        ++pos_; // '\n'
    }
}

MsatLocusParams MsatParamReader::readLocus(int32_t locus) {
    MsatLocusParams p;
    p.LocusLabel = readInteger(locus, "LocusLabel");
    p.MinSize = readInteger(locus, "MinSize");
    p.MaxSize = readInteger(locus, "MaxSize");
    p.RepeatUnit = readInteger(locus, "RepeatUnit");
    p.LocusMutationRate = readReal(locus, "LocusMutationRate");
    skipRestOfLine();
    return p;
}

void checkLocusParams(const MsatLocusParams& p, int32_t locus, const std::string& path) {
    const std::string l = "Locus " + std::to_string(locus) + ": ";
    if (p.MaxSize < p.MinSize)
        throw RunError(l + "MaxSize (" + std::to_string(p.MaxSize) + ") is below MinSize (" +
                           std::to_string(p.MinSize) + ")",
                       path);
    if (static_cast<int64_t>(p.MaxSize) - p.MinSize > 2147483647LL)
        throw RunError(l + "the size range MinSize .. MaxSize is wider than 2147483647", path);
    if (p.RepeatUnit < 0)
        throw RunError(l + "RepeatUnit (" + std::to_string(p.RepeatUnit) + ") is negative", path);
    if (!(p.LocusMutationRate >= 0 && p.LocusMutationRate <= 1))
        throw RunError(l + "LocusMutationRate is outside [0, 1]", path);
    // A size is drawn by trying offsets in the range until one is a multiple of RepeatUnit:
    // span / (number of sizes) tries on average, which a repeat unit as large as a wide range
    // would make billions.
    const int64_t span = static_cast<int64_t>(p.MaxSize) - p.MinSize;
    if (p.RepeatUnit > 0 && span > 0) {
        const int64_t sizes = (span + p.RepeatUnit - 1) / p.RepeatUnit;
        const int64_t tries = span / sizes;
        if (tries > kMaxSizeDrawTries)
            throw RunError(l + "RepeatUnit (" + std::to_string(p.RepeatUnit) + ") leaves " +
                               std::to_string(sizes) + (sizes == 1 ? " size" : " sizes") +
                               " in the range MinSize .. MaxSize: drawing one would take about " +
                               std::to_string(tries) + " tries (at most " +
                               std::to_string(kMaxSizeDrawTries) + ")",
                           path);
    }
}

std::vector<MsatLocusParams> readMsatParamsForLog(const std::string& path, int32_t loci) {
    MsatParamReader reader(path);
    reader.open();
    std::vector<MsatLocusParams> out;
    for (int32_t l = 1; l <= loci; ++l)
        out.push_back(reader.readLocus(l));
    return out;
}

} // namespace quenlith
