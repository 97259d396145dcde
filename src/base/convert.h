#pragma once
// Lenient conversions of edit-box texts: never fail, take the longest valid prefix.
#include <cstdint>
#include <string_view>

namespace quenlith {

// Leading spaces, optional sign, decimal digits or hexadecimal digits after "$", "x", "X",
// "0x" or "0X". Stops at the first character that does not fit or before the magnitude
// would pass 2147483647. No digits give 0.
int32_t lenientInt(std::string_view text);

// Leading blanks, optional sign, digits, ".", digits, then an exponent only when "E"/"e"
// with an optional sign is followed by at least one digit. "." is the decimal point
// whatever the locale. Nothing valid gives 0.
long double lenientExtended(std::string_view text);
double lenientDouble(std::string_view text);

} // namespace quenlith
