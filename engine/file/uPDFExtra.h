#pragma once
// Decimal text helpers: reading and writing numbers with "." as the decimal separator, never
// through the process locale (the application sets the C locale from the environment); the
// digit tests every reader shares.

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
// width. Non-finite values and negative zero write as zero does.
std::string NumberToText(int width, int decimals, double value);

// The number form of PDF syntax: NumberToText(0, 4, value) without trailing fraction zeros and
// without a trailing point (12 -> "12", 1.23456 -> "1.2345").
std::string PDFNumberText(double value);
// As PDFNumberText with another count of decimals; the point and zeros after it are dropped,
// never zeros of the integer part.
std::string PDFNumberText(double value, int decimals);

// A 32-bit signed decimal with optional leading spaces and sign; false when invalid or out of
// range (the reading used by NumberFromText and by classic cross-reference fields).
bool TryReadInt32(std::string_view text, std::int32_t& result);

// A float as a 32-bit integer: truncated towards zero, saturated at the 32-bit range; NaN gives
// 0. Never undefined behaviour, whatever the value.
std::int32_t TruncToInt32(double value);
// A float as the nearest 32-bit integer: halves to even, saturated at the 32-bit range; NaN
// gives 0.
std::int32_t RoundToInt32(double value);

// An ASCII decimal digit.
constexpr bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(unsigned char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

} // namespace korvel
