#include "file/uPDFParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <unordered_set>

#include "file/uPDFErrors.h"
#include "file/uPDFExtra.h"
#include "file/uPDFFilters.h"
#include "file/uPDFStructure.h"

namespace korvel {

// ---------------------------------------------------------------------------------------------
// The scanner

namespace {

// Scans one object of PDF syntax. Positions are 0-based here (the first byte is position 0);
// the rules in terms of "position < length" use Pos + 1 for the 1-based position.
class TSyntaxScanner {
public:
    TSyntaxScanner(TPDFStructure& store, std::string_view text) : FStore(store), FText(text) {}

    // White space and comments; the last byte of the text is never passed as white space.
    void SkipWhiteSpace() {
        const std::size_t n = FText.size();
        while (Pos + 1 < n) {
            const auto c = at(Pos);
            if (IsWhiteSpace(c)) {
                ++Pos;
            } else if (c == '%') {
                while (Pos + 1 < n && at(Pos) != '\n' && at(Pos) != '\r')
                    ++Pos;
                if (at(Pos) == '\r' && Pos + 1 < n && at(Pos + 1) == '\n')
                    Pos += 2;
                else
                    ++Pos;
            } else {
                break;
            }
        }
    }

    // depth is the number of containers around the object being scanned.
    TPDFObject* ScanObject(int depth) {
        const std::size_t n = FText.size();
        if (Pos >= n)
            return nullptr;
        const std::size_t after = n - Pos - 1; // bytes after the current one
        const auto c = at(Pos);
        if (c == '<' && after > 2 && at(Pos + 1) == '<')
            return scanDictionary(depth);
        if (c == '[' && after > 1)
            return scanArray(depth);
        if (keywordAt("true"))
            return FStore.CreateBoolean(true);
        if (keywordAt("false"))
            return FStore.CreateBoolean(false);
        if (keywordAt("null"))
            return FStore.CreateNull();
        if (c == '-' || c == '.' || IsDigit(c))
            return scanNumberOrRef();
        if (c == '(')
            return scanLiteralString();
        if (c == '<' && after > 1)
            return scanHexString();
        if (c == '/')
            return scanName();
        return nullptr;
    }

    std::size_t Pos = 0;
    bool Stopped = false; // a flood of openings was met: every open container ends

private:
    unsigned char at(std::size_t i) const { return static_cast<unsigned char>(FText[i]); }

    bool keywordAt(std::string_view keyword) {
        if (FText.size() - Pos < keyword.size() || FText.substr(Pos, keyword.size()) != keyword)
            return false;
        const std::size_t end = Pos + keyword.size();
        if (end < FText.size() && !IsWhiteSpace(at(end)) && !IsDelimiter(at(end)))
            return false;
        Pos = end;
        return true;
    }

    // A container opened deeper than kMaxNesting scans as none and its enclosing container
    // ends there. The enclosing container's parent then reads on from that bracket; at the
    // second refusal the input is a flood of openings, and every open container ends where it
    // stands, so that each further byte stops making a new (empty) container.
    bool refuseDeeper(int depth) {
        if (depth < kMaxNesting)
            return false;
        // A dictionary asks again at the same place for the value after its key: one refusal.
        if (Pos != FRefusedAt && ++FRefusals >= 2)
            Stopped = true;
        FRefusedAt = Pos;
        return true;
    }

    TPDFObject* scanDictionary(int depth) {
        if (refuseDeeper(depth))
            return nullptr;
        Pos += 2;
        TPDFDictionary* dict = FStore.CreateDictionary();
        while (!Stopped) {
            SkipWhiteSpace();
            TPDFObject* key = ScanObject(depth + 1);
            if (Stopped)
                break;
            SkipWhiteSpace();
            TPDFObject* value = ScanObject(depth + 1);
            TPDFName* name = Cast<TPDFName>(key);
            if (!name || !value)
                break;
            dict->PutEntry(name, value);
        }
        if (Pos + 1 < FText.size() && at(Pos) == '>' && at(Pos + 1) == '>')
            Pos += 2;
        dict->EndPosition = static_cast<std::int64_t>(Pos) + 1;
        dict->ShrinkToFit(); // parsed containers rarely grow: keep no spare room
        return dict;
    }

    TPDFObject* scanArray(int depth) {
        if (refuseDeeper(depth))
            return nullptr;
        Pos += 1;
        TPDFArray* array = FStore.CreateArray();
        while (!Stopped) {
            SkipWhiteSpace();
            TPDFObject* item = ScanObject(depth + 1);
            if (!item)
                break;
            array->Add(item);
        }
        array->ShrinkToFit();
        if (Pos < FText.size() && at(Pos) == ']')
            ++Pos;
        return array;
    }

    // Reads a number token at Pos and moves past it; isReal tells whether it had a `.`.
    double readNumberToken(bool& isReal) {
        const std::size_t start = Pos;
        bool dot = at(Pos) == '.';
        ++Pos;
        while (Pos < FText.size()) {
            const auto c = at(Pos);
            if (IsDigit(c)) {
                ++Pos;
            } else if (c == '.' && !dot) {
                dot = true;
                ++Pos;
            } else {
                break;
            }
        }
        isReal = dot;
        const std::string_view token = FText.substr(start, Pos - start);
        if (!dot) {
            std::int32_t value = 0;
            return TryReadInt32(token, value) ? value : 0;
        }
        std::string text;
        if (token.front() == '.')
            text += '0';
        text += token;
        if (token.back() == '.')
            text += '0';
        return NumberFromText(text);
    }

    TPDFObject* scanNumberOrRef() {
        bool isReal = false;
        const double first = readNumberToken(isReal);
        if (isReal)
            return FStore.CreateNumber(first);
        const std::size_t afterFirst = Pos;
        SkipWhiteSpace();
        if (Pos < FText.size() && IsDigit(at(Pos))) {
            bool secondReal = false;
            const double second = readNumberToken(secondReal);
            SkipWhiteSpace();
            if (Pos < FText.size() && at(Pos) == 'R') {
                ++Pos;
                return FStore.CreateRef(static_cast<std::int32_t>(first), TruncToInt32(second));
            }
        }
        Pos = afterFirst;
        return FStore.CreateNumber(first);
    }

    TPDFObject* scanLiteralString() {
        const std::size_t n = FText.size();
        const std::size_t open = Pos;
        // Every container around an unterminated string asks again at the same position;
        // the answer is remembered so that the text is not searched to its end each time.
        if (open == FUnterminatedAt)
            return nullptr;
        std::size_t i = open + 1;
        int depth = 1;
        while (i < n && depth > 0) {
            const auto c = at(i);
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                --depth;
            } else if (c == '\\' && i + 2 < n) {
                const auto next = at(i + 1);
                if (next == '(' || next == ')' || next == '\\')
                    ++i;
            }
            ++i;
        }
        if (depth != 0) {
            FUnterminatedAt = open;
            return nullptr;
        }
        const std::string_view raw = FText.substr(open + 1, i - open - 2);
        Pos = i;
        return FStore.CreateString(rewriteLiteral(raw), false);
    }

    static std::string rewriteLiteral(std::string_view raw) {
        std::string out;
        out.reserve(raw.size());
        const std::size_t n = raw.size();
        std::size_t k = 0;
        while (k < n) {
            const char c = raw[k];
            if (c == '\r') {
                out += '\n';
                ++k;
                if (k < n && raw[k] == '\n')
                    ++k;
                continue;
            }
            if (c != '\\' || k + 1 >= n) {
                out += c;
                ++k;
                continue;
            }
            const char d = raw[k + 1];
            if (IsDigit(static_cast<unsigned char>(d))) {
                // Up to three digits in base-8 positions; 8 and 9 count at face value.
                int value = 0;
                std::size_t m = 0;
                while (m < 3 && k + 1 + m < n &&
                       IsDigit(static_cast<unsigned char>(raw[k + 1 + m]))) {
                    value = value * 8 + (raw[k + 1 + m] - '0');
                    ++m;
                }
                out += static_cast<char>(value & 0xFF);
                k += 1 + m;
                continue;
            }
            k += 2;
            switch (d) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case '(':
            case ')':
            case '\\':
                out += d;
                break;
            case '\n':
                break;
            case '\r':
                if (k < n && raw[k] == '\n')
                    ++k;
                break;
            default:
                out += '\\';
                out += d;
                break;
            }
        }
        return out;
    }

    TPDFObject* scanHexString() {
        const std::size_t n = FText.size();
        const std::size_t close = FText.find('>', Pos + 1);
        std::string_view body;
        if (close == std::string_view::npos) {
            // Unterminated: everything up to, not including, the last byte.
            body = FText.substr(Pos + 1, n - Pos - 2);
            Pos = n;
        } else {
            body = FText.substr(Pos + 1, close - Pos - 1);
            Pos = close + 1;
        }
        std::string digits;
        digits.reserve(body.size() + 1);
        for (const char ch : body)
            if (HexDigitValue(static_cast<unsigned char>(ch)) >= 0)
                digits += ch;
        if (digits.size() % 2 != 0)
            digits += '0';
        std::string bytes;
        bytes.reserve(digits.size() / 2);
        for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
            bytes += static_cast<char>(HexDigitValue(static_cast<unsigned char>(digits[i])) * 16 +
                                       HexDigitValue(static_cast<unsigned char>(digits[i + 1])));
        return FStore.CreateString(std::move(bytes), true);
    }

    TPDFObject* scanName() {
        const std::size_t start = Pos + 1;
        std::size_t end = start;
        while (end < FText.size() && !IsWhiteSpace(at(end)) && !IsDelimiter(at(end)))
            ++end;
        Pos = end;
        const std::string_view raw = FText.substr(start, end - start);
        std::string value;
        value.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '#' && i + 2 < raw.size()) {
                const int hi = HexDigitValue(static_cast<unsigned char>(raw[i + 1]));
                const int lo = HexDigitValue(static_cast<unsigned char>(raw[i + 2]));
                if (hi >= 0 && lo >= 0) {
                    value += static_cast<char>(hi * 16 + lo);
                    i += 2;
                    continue;
                }
            }
            value += raw[i];
        }
        return FStore.InternName(std::move(value));
    }

    TPDFStructure& FStore;
    std::string_view FText;
    std::size_t FUnterminatedAt = std::string_view::npos;
    int FRefusals = 0;
    std::size_t FRefusedAt = std::string_view::npos;
};

} // namespace

TPDFObject* TPDFStructure::Parse(std::string_view text) {
    return Parse(text, nullptr);
}

TPDFObject* TPDFStructure::Parse(std::string_view text, std::size_t* endPos) {
    if (text.empty()) {
        if (endPos)
            *endPos = 0;
        return nullptr;
    }
    TSyntaxScanner scanner(*this, text);
    scanner.SkipWhiteSpace();
    TPDFObject* value = scanner.ScanObject(0);
    if (endPos)
        *endPos = scanner.Pos;
    return value;
}

// ---------------------------------------------------------------------------------------------
// Content-stream operand decoders

std::string ParseHexToken(std::string_view token) {
    if (token.size() < 2 || token.front() != '<' || token.back() != '>')
        return {};
    std::string digits;
    for (const char ch : token.substr(1, token.size() - 2)) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsDigit(c) || (c >= 'A' && c <= 'Z'))
            digits += static_cast<char>(c);
        else if (c >= 'a' && c <= 'z')
            digits += static_cast<char>(c - 32);
    }
    if (digits.size() % 2 != 0)
        digits += '0';
    std::string bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const int hi = HexDigitValue(static_cast<unsigned char>(digits[i]));
        const int lo = HexDigitValue(static_cast<unsigned char>(digits[i + 1]));
        bytes += static_cast<char>(hi >= 0 && lo >= 0 ? hi * 16 + lo : 0);
    }
    return bytes;
}

std::string ParseLiteralToken(std::string_view token) {
    if (token.size() < 2)
        return {};
    const std::string_view body = token.substr(1, token.size() - 2);
    const std::size_t n = body.size();
    std::string out;
    out.reserve(n);
    // The numeric escape of `count` bytes at `at`: all digits, read as a decimal number, at most
    // `limit`; the value is the bytes in base-8 positions.
    auto octal = [&](std::size_t at, std::size_t count, int limit, int& value) {
        if (at + count > n)
            return false;
        int decimal = 0;
        int base8 = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const auto c = static_cast<unsigned char>(body[at + i]);
            if (!IsDigit(c))
                return false;
            decimal = decimal * 10 + (c - '0');
            base8 = base8 * 8 + (c - '0');
        }
        if (decimal > limit)
            return false;
        value = base8 & 0xFF;
        return true;
    };
    std::size_t k = 0;
    while (k < n) {
        const char c = body[k];
        if (c != '\\') {
            out += c;
            ++k;
            continue;
        }
        if (k + 1 >= n) { // a trailing backslash has nothing to escape
            ++k;
            continue;
        }
        const char d = body[k + 1];
        switch (d) {
        case 'b':
            out += '\b';
            k += 2;
            continue;
        case 't':
            out += '\t';
            k += 2;
            continue;
        case 'n':
            out += '\n';
            k += 2;
            continue;
        case 'f':
            out += '\f';
            k += 2;
            continue;
        case 'r':
            out += '\r';
            k += 2;
            continue;
        case '(':
        case ')':
        case '\\':
            out += d;
            k += 2;
            continue;
        case '\r':
            k += 2;
            if (k < n && body[k] == '\n')
                ++k;
            continue;
        case '\n':
            k += 2;
            continue;
        default:
            break;
        }
        int value = 0;
        if (octal(k + 1, 3, 777, value)) {
            out += static_cast<char>(value);
            k += 4;
        } else if (octal(k + 1, 2, 77, value)) {
            out += static_cast<char>(value);
            k += 3;
        } else if (octal(k + 1, 1, 7, value)) {
            out += static_cast<char>(value);
            k += 2;
        } else {
            out += d;
            k += 2;
        }
    }
    return out;
}

} // namespace korvel
