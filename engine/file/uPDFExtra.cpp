#include "file/uPDFExtra.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cmath>
#include <limits>

namespace korvel {

namespace {

std::string_view trimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

} // namespace

bool IsNumberText(std::string_view text) {
    text = trimControls(text);
    const std::size_t minus = text.find('-');
    if (minus != std::string_view::npos && minus != 0)
        return false;
    int dots = 0;
    for (const char c : text) {
        if (c == '.')
            ++dots;
        else if (c != '-' && !IsDigit(static_cast<unsigned char>(c)))
            return false;
    }
    return dots <= 1;
}

bool TryReadInt32(std::string_view text, std::int32_t& result) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size())
        return false;
    // Accumulated in 64 bits and stopped just past the 32-bit range, so no digit count
    // can overflow.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            return false;
    }
    result = static_cast<std::int32_t>(negative ? -value : value);
    return true;
}

double NumberFromText(std::string_view text) {
    if (!IsNumberText(text))
        return 0;
    const std::size_t dot = text.find('.');
    std::int32_t whole = 0;
    if (dot == std::string_view::npos)
        return TryReadInt32(text, whole) ? whole : 0;
    if (!TryReadInt32(text.substr(0, dot), whole))
        whole = 0;
    double result = std::fabs(static_cast<double>(whole));
    // At most nine fraction digits: they always fit a 32-bit integer.
    const std::string_view fraction = text.substr(dot + 1, 9);
    std::int32_t f = 0;
    // The powers of ten up to 1e9 are exact doubles (pow gives these same values).
    static constexpr double kPowersOfTen[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    if (!fraction.empty() && TryReadInt32(fraction, f))
        result += f / kPowersOfTen[fraction.size()];
    if (text.find('-') != std::string_view::npos)
        result = -result;
    return result;
}

std::string NumberToText(int width, int decimals, double value) {
    if (!std::isfinite(value) || value == 0)
        value = 0; // also turns -0 into 0
    // The shortest general form with 15 significant digits, trailing zeros removed; it uses
    // an exponent below 1e-5 and from 1e15 on, and such values write as 0.00. (C's %g turns to
    // an exponent already below 1e-4, so that decade is written in fixed form here.)
    // Built in a buffer: the result of a record's number fits the string's own storage, and
    // records write millions of them.
    char buffer[64];
    char* const first = buffer;
    char* const limit = buffer + 40; // room left for the point and ten zeros
    char* end = std::to_chars(first, limit, value, std::chars_format::general, 15).ptr;
    if (std::find(first, end, 'e') != end) {
        const double magnitude = std::fabs(value);
        if (magnitude >= 1e-5 && magnitude < 1e-4) {
            // the first significant digit is the fifth decimal: 15 digits end at the 19th
            end = std::to_chars(first, limit, value, std::chars_format::fixed, 19).ptr;
            while (end[-1] == '0')
                --end;
        } else {
            std::memcpy(first, "0.00", 4);
            end = first + 4;
        }
    }
    char* const dot = std::find(first, end, '.');
    if (decimals <= 0) {
        end = dot;
    } else {
        if (dot == end)
            *end++ = '.';
        std::memset(end, '0', 10);
        end += 10;
        const std::size_t cut =
            static_cast<std::size_t>(dot - first) + 1 + static_cast<std::size_t>(decimals);
        if (cut < static_cast<std::size_t>(end - first))
            end = first + cut;
    }
    // A negative value that truncates to zero writes as 0, not -0.
    const char* begin = first;
    if (*begin == '-' &&
        std::all_of(begin, static_cast<const char*>(end),
                    [](char c) { return c == '-' || c == '0' || c == '.'; }))
        ++begin;
    const std::size_t length = static_cast<std::size_t>(end - begin);
    std::string text;
    if (width > 0 && length < static_cast<std::size_t>(width)) {
        text.assign(static_cast<std::size_t>(width) - length, '0');
        text.append(begin, length);
    } else {
        text.assign(begin, length);
    }
    return text;
}

std::string PDFNumberText(double value, int decimals) {
    std::string text = NumberToText(0, decimals, value);
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    return text;
}

std::string PDFNumberText(double value) {
    return PDFNumberText(value, 4);
}

std::int32_t TruncToInt32(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int32_t RoundToInt32(double value) {
    if (std::isnan(value))
        return 0;
    const double r = std::nearbyint(value); // the default rounding: halves to even
    if (r >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (r <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

} // namespace korvel
