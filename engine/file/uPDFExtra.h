#pragma once
// Decimal text helpers: reading and writing numbers with "." as the decimal separator, never
// through the process locale (the application sets the C locale from the environment).

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// Trimmed of bytes up to 32: only `0123456789.-`, at most one `.`, a `-` only first (later
// ones pass). The empty text passes.
bool IsNumberText(std::string_view text);

// 0 for text that is not a number text; integers as 32-bit values (0 when out of range); reals
// as |integer part| + up to 9 fraction digits, negated when a `-` occurs anywhere.
double NumberFromText(std::string_view text);

// 15 significant digits, shortest general form; values written with an exponent become `0.00`;
// decimals > 0 cut (not rounded) to that many digits, <= 0 drop the point; zeros in front up to
// width. Non-finite values write as `0`.
std::string NumberToText(int width, int decimals, double value);

// A 32-bit signed decimal with optional leading spaces and sign; false when invalid or out of
// range (the reading used by NumberFromText and by classic cross-reference fields).
bool TryReadInt32(std::string_view text, std::int32_t& result);

} // namespace korvel
