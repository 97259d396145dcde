#include "base/convert.h"
#include "base/limits.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>

namespace quenlith {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The longest prefix of `text` that reads as a real number, without leading blanks and
// without a leading "+", so that std::from_chars accepts it.
struct RealPrefix {
    std::string digits;
    bool valid = false;
};

RealPrefix realPrefix(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && t[i] == ' ')
        ++i;
    RealPrefix r;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        if (t[i] == '-') r.digits += '-';
        ++i;
    }
    size_t mantissaDigits = 0;
    while (i < t.size() && isDigit(t[i])) {
        r.digits += t[i++];
        ++mantissaDigits;
    }
    if (i < t.size() && t[i] == '.') {
        std::string frac = ".";
        size_t j = i + 1;
        while (j < t.size() && isDigit(t[j]))
            frac += t[j++];
        if (mantissaDigits > 0 || frac.size() > 1) {
            r.digits += frac;
            mantissaDigits += frac.size() - 1;
            i = j;
        }
    }
    if (mantissaDigits == 0) return r;
    r.valid = true;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        std::string exp = "e";
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) exp += t[j++];
        size_t expDigits = 0;
        while (j < t.size() && isDigit(t[j])) {
            exp += t[j++];
            ++expDigits;
        }
        if (expDigits > 0) r.digits += exp;
    }
    return r;
}

// Whether a number written as `digits` (the form realPrefix gives) is at least 10 in
// magnitude: the decimal place of its first significant digit plus its exponent is positive.
// A number out of a type's range lies so far from 1 that this tells overflow from underflow,
// however many digits or zeros it is written with.
bool aboveTen(const std::string& digits) {
    size_t i = digits[0] == '-' ? 1 : 0;
    int64_t integerDigits = 0, leadingZeros = 0;
    bool significant = false, fraction = false;
    for (; i < digits.size() && digits[i] != 'e'; ++i) {
        const char c = digits[i];
        if (c == '.') {
            fraction = true;
        } else if (significant || c != '0') {
            significant = true;
            if (!fraction) ++integerDigits;
        } else if (fraction) {
            ++leadingZeros;
        }
    }
    if (!significant) return false;
    int64_t exponent = 0;
    if (i < digits.size()) {
        bool negative = false;
        if (++i < digits.size() && (digits[i] == '+' || digits[i] == '-'))
            negative = digits[i++] == '-';
        for (; i < digits.size(); ++i)
            exponent = std::min<int64_t>(exponent * 10 + (digits[i] - '0'), 1000000000000LL);
        if (negative) exponent = -exponent;
    }
    const int64_t place = integerDigits > 0 ? integerDigits - 1 : -(leadingZeros + 1);
    return place + exponent > 0;
}

template <typename Real> Real parseReal(std::string_view text) {
    RealPrefix p = realPrefix(text);
    if (!p.valid) return 0;
    Real value = 0;
    auto res = std::from_chars(p.digits.data(), p.digits.data() + p.digits.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow and underflow: too large gives an
        // infinity, too small a zero, of the number's sign.
        const bool negative = p.digits[0] == '-';
        if (!aboveTen(p.digits)) return negative ? -Real(0) : Real(0);
        return negative ? -std::numeric_limits<Real>::infinity()
                        : std::numeric_limits<Real>::infinity();
    }
    return value;
}

} // namespace

int32_t lenientInt(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && t[i] == ' ')
        ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && (t[i] == '$' || t[i] == 'x' || t[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    int64_t value = 0;
    for (; i < t.size(); ++i) {
        int d = base == 16 ? hexDigit(t[i]) : (isDigit(t[i]) ? t[i] - '0' : -1);
        if (d < 0) break;
        int64_t next = value * base + d;
        if (next > kLargestCount) break;
        value = next;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

long double lenientExtended(std::string_view text) {
    return parseReal<long double>(text);
}

double lenientDouble(std::string_view text) {
    return parseReal<double>(text);
}

} // namespace quenlith
