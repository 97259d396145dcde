#include "msat/msat_params.h"
#include "base/limits.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
    if (v > int64_t{kLargestCount}) return false;
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

namespace {

// Bytes asked of the system per read: a few hundred loci.
constexpr size_t kReadBlock = 16384;
// 256 MiB is far more than the loci of any run take.
constexpr size_t kMaxFileBytes = 268435456;

} // namespace

void MsatParamReader::closeFile() {
    fd_.reset();
}

void MsatParamReader::startReading() {
    closeFile();
    text_.clear();
    loaded_ = whole_ = false;
    reached_ = 0;
    fd_ = openRegularFile(path_);
    loaded_ = true;
    readUpTo(0);
}

bool MsatParamReader::readUpTo(size_t i) {
    if (!fd_.valid()) {
        if (whole_) return false;
        // Only the bytes checked at open() are held: read on from a fresh start.
        startReading();
    }
    while (i >= text_.size() && fd_.valid()) {
        const size_t held = text_.size();
        if (held >= kMaxFileBytes) {
            closeFile();
            loaded_ = false;
            throw RunError("File too large",
                           path_ + " (more than " + std::to_string(kMaxFileBytes) +
                               " bytes, far more than the parameters of any run)");
        }
        text_.resize(held + kReadBlock);
        const ssize_t n = ::read(fd_.get(), text_.data() + held, kReadBlock);
        const int err = errno;
        text_.resize(held + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && err == EINTR) continue;
        if (n < 0) {
            closeFile();
            loaded_ = false;
            throwIoError(err, path_);
        }
        if (n == 0) {
            closeFile();
            whole_ = true;
        }
    }
    return i < text_.size();
}

bool MsatParamReader::checkedPartUnchanged() const {
    // The reading looked at the bytes before reached_ and at byte reached_ (or found the end
    // of the file there): ask for one byte more than that, so that a file now longer or
    // shorter at that point is told apart.
    const size_t want = reached_ + 1;
    // A file that is no longer a regular one counts as changed: the fresh reading refuses it.
    const UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return false;
    struct stat st {};
    std::string now(want, '\0');
    size_t got = 0;
    bool ok = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
    while (ok && got < want) {
        const ssize_t n = ::read(fd.get(), now.data() + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    // Either the file still holds `want` bytes, or it ends exactly where text_ ended.
    const size_t expected = whole_ ? std::min(want, text_.size()) : want;
    return ok && text_.size() >= expected && got == expected &&
           std::memcmp(now.data(), text_.data(), got) == 0;
}

void MsatParamReader::open() {
    pos_ = 0;
    if (loaded_ && checkedPartUnchanged()) {
        closeFile();
        if (!whole_ || reached_ + 1 <= text_.size()) {
            // Only the checked bytes are known; the rest is read afresh should a reading go
            // further.
            text_.resize(reached_ + 1);
            whole_ = false;
        }
        return;
    }
    startReading();
}

void MsatParamReader::close() {
    closeFile();
    text_.clear();
    text_.shrink_to_fit();
    pos_ = 0;
    loaded_ = whole_ = false;
    reached_ = 0;
}

std::string_view MsatParamReader::nextToken(size_t maxLength) {
    while (has(pos_) && isSeparator(text_[pos_]))
        ++pos_;
    const size_t start = pos_;
    while (has(pos_) && !isSeparator(text_[pos_]) && pos_ - start < maxLength)
        ++pos_;
    reached_ = std::max(reached_, pos_);
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
    while (has(pos_) && text_[pos_] != '\r' && text_[pos_] != '\n')
        ++pos_;
    if (has(pos_) && text_[pos_] == '\r') {
        ++pos_;
        if (has(pos_) && text_[pos_] == '\n') ++pos_;
    } else if (has(pos_)) {
        ++pos_; // '\n'
    }
    reached_ = std::max(reached_, pos_);
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
    if (static_cast<int64_t>(p.MaxSize) - p.MinSize > int64_t{kLargestCount})
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
