#pragma once
// Appending integers in plain decimal (IntToStr's form) to a text without a temporary
// string per number.
#include <charconv>
#include <cstdint>
#include <string>

namespace quenlith {

inline void appendDecimal(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

} // namespace quenlith
