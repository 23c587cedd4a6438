#include "fonts/uPDFType1.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "file/uPDFExtra.h"
#include "fonts/FontTables.h"

namespace korvel {

namespace {

// ---------------------------------------------------------------------------------------------
// Shared helpers

// A resolved number of the dictionary, rounded; 0 when absent or not a number.
std::int64_t integerEntry(const TPDFFontRasterizer::ResolveFn& resolver, const TPDFDictionary* dict,
                          std::string_view key) {
    if (!dict)
        return 0;
    const auto* number = Cast<TPDFNumeric>(ResolveFontValue(resolver, dict->Get(key, false)));
    return number ? number->IntValue() : 0;
}

// The bytes [pos, pos + length) of data, cut at its end; empty for a start outside it.
std::string_view cut(std::string_view data, std::int64_t pos, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(data.size());
    if (pos < 0 || pos >= size || length <= 0)
        return {};
    return data.substr(static_cast<std::size_t>(pos),
                       static_cast<std::size_t>(std::min(length, size - pos)));
}

// ---------------------------------------------------------------------------------------------
// Type 1 clear text

bool isSeparator(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

// Ends a name: a separator or one of the PostScript delimiters.
bool endsName(unsigned char c) {
    switch (c) {
    case '%':
    case '(':
    case ')':
    case '/':
    case '<':
    case '>':
    case '[':
    case ']':
    case '{':
    case '}':
        return true;
    default:
        return isSeparator(c);
    }
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The charstring procedures keep their own names so that they never read as executable names.
bool isCharStringProcedure(std::string_view text, std::size_t pos) {
    const std::string_view two = text.substr(pos, 2);
    if (two != "RD" && two != "ND" && two != "NP")
        return false;
    return pos + 2 == text.size() || endsName(static_cast<unsigned char>(text[pos + 2]));
}

// Cuts the clear text into tokens; executable names come out as "/ps:<name>". A byte that can
// start no token ends the text. Every branch moves forward, so the walk is linear.
std::vector<std::string> tokenizeType1(std::string_view text) {
    std::vector<std::string> tokens;
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto nameEnd = [&](std::size_t from) {
        while (from < n && !endsName(static_cast<unsigned char>(text[from])))
            ++from;
        return from;
    };
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isSeparator(c)) {
            ++i;
        } else if (c == '%') {
            while (i < n && text[i] != '\r' && text[i] != '\n')
                ++i;
        } else if (c == '[' || c == ']' || c == '{' || c == '}') {
            tokens.emplace_back(1, static_cast<char>(c));
            ++i;
        } else if (isCharStringProcedure(text, i)) {
            tokens.emplace_back(text.substr(i, 2));
            i += 2;
        } else if (c == '-' || c == '.' || isDigit(c)) {
            bool dot = c == '.';
            std::size_t j = i + 1;
            for (; j < n; ++j) {
                const auto d = static_cast<unsigned char>(text[j]);
                if (d == '.' && !dot)
                    dot = true;
                else if (!isDigit(d))
                    break;
            }
            tokens.emplace_back(text.substr(i, j - i));
            i = j;
        } else if (c == '(') {
            int depth = 1;
            std::size_t j = i + 1;
            while (j < n && depth > 0) {
                const char d = text[j];
                if (d == '\\' && j + 1 < n &&
                    (text[j + 1] == '(' || text[j + 1] == ')' || text[j + 1] == '\\')) {
                    j += 2;
                    continue;
                }
                if (d == '(')
                    ++depth;
                else if (d == ')')
                    --depth;
                ++j;
            }
            tokens.emplace_back(text.substr(i, j - i));
            i = j;
        } else if (c == '<') {
            const std::size_t close = text.find('>', i + 1);
            const std::size_t end = close == std::string_view::npos ? n : close;
            tokens.emplace_back(text.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? n : close + 1;
        } else if (c == '/') {
            const std::size_t j = nameEnd(i + 1);
            tokens.emplace_back(text.substr(i, j - i));
            i = j;
        } else if (isLetter(c)) {
            const std::size_t j = nameEnd(i);
            std::string token = "/ps:";
            token.append(text.substr(i, j - i));
            tokens.push_back(std::move(token));
            i = j;
        } else {
            break;
        }
    }
    return tokens;
}

// Rewrites the PostScript tokens into PDF object syntax in one walk. The forward searches
// (the `begin` after a `dict`, the `def` closing an encoding) use cursors that only move
// forward: no rule ever makes a token into `begin`, `def` or `readonly`, so a position passed
// once never needs another look, and the whole walk stays linear however the tokens repeat.
void rewriteType1(std::vector<std::string>& t) {
    const std::size_t n = t.size();
    std::size_t beginCursor = 0;
    std::size_t closeCursor = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::string& token = t[i];
        if (token.empty())
            continue;
        if (token == "/ps:FontDirectory") {
            std::size_t j = i;
            while (j < n && t[j] != "/ps:dict")
                t[j++].clear();
            i = j - 1; // the walk resumes at the dict
        } else if (token == "/ps:readonly" || token == "/ps:def") {
            token.clear();
        } else if (token == "/ps:end") {
            token = ">>";
        } else if (token == "{") {
            token = "[";
        } else if (token == "}") {
            token = "]";
        } else if (token == "/ps:currentdict" || token == "/ps:currentfile") {
            token.clear();
        } else if (token == "/ps:dict") {
            token.clear();
            if (i > 0)
                t[i - 1].clear();
            beginCursor = std::max(beginCursor, i + 1);
            while (beginCursor < n && t[beginCursor] != "/ps:begin")
                ++beginCursor;
            if (beginCursor < n)
                t[beginCursor] = "<<";
        } else if (token == "/Encoding" && i + 2 < n) {
            if (t[i + 1] == "/ps:StandardEncoding") {
                t[i + 1] = "/StandardEncoding";
            } else if (t[i + 2] == "/ps:array") {
                // `N array ... dup c /name put ... readonly def` becomes `[ c /name ... ]`.
                t[i + 1] = "[";
                std::size_t j = i + 2;
                while (j < n && t[j] != "/ps:dup")
                    t[j++].clear();
                if (j < n) {
                    closeCursor = std::max(closeCursor, j + 1);
                    while (closeCursor < n && t[closeCursor] != "/ps:def" &&
                           t[closeCursor] != "/ps:readonly")
                        ++closeCursor;
                    if (closeCursor + 1 < n)
                        t[closeCursor] = "]";
                }
                i = j - 1; // the walk resumes at the first dup
            }
        } else if (token == "/ps:dup" || token == "/ps:put") {
            token.clear();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// CFF

// Big-endian reads over the font data; a read outside it yields zero bytes.
class TCFFReader {
public:
    explicit TCFFReader(std::string_view data) : FData(data) {}

    std::uint32_t Card8(std::int64_t pos) const {
        return pos >= 0 && pos < Size() ? static_cast<unsigned char>(FData[pos]) : 0;
    }
    std::uint32_t Card16(std::int64_t pos) const { return (Card8(pos) << 8) | Card8(pos + 1); }
    // An offset of offSize (1..4) bytes.
    std::uint32_t Offset(std::int64_t pos, int offSize) const {
        std::uint32_t value = 0;
        for (int k = 0; k < offSize; ++k)
            value = (value << 8) | Card8(pos + k);
        return value;
    }
    std::int64_t Size() const { return static_cast<std::int64_t>(FData.size()); }
    std::string_view Data() const { return FData; }

private:
    std::string_view FData;
};

// An INDEX read in place: items are found from their offsets on demand, so a count the file
// claims never sizes an allocation.
class TCFFIndex {
public:
    TCFFIndex() = default;
    // Reads the INDEX that starts at pos. An offSize outside 1..4 makes it invalid (and where
    // it ends unknown).
    TCFFIndex(const TCFFReader& reader, std::int64_t pos) : FReader(&reader) {
        Count = reader.Card16(pos);
        if (Count == 0) {
            End = pos + 2;
            return;
        }
        FOffSize = static_cast<int>(reader.Card8(pos + 2));
        if (FOffSize < 1 || FOffSize > 4) {
            Count = 0;
            Valid = false;
            End = pos + 3;
            return;
        }
        FOffsets = pos + 3;
        FDataStart = FOffsets + static_cast<std::int64_t>(Count + 1) * FOffSize;
        FFirst = reader.Offset(FOffsets, FOffSize);
        End = FDataStart + std::max<std::int64_t>(0, Relative(Count));
    }

    // Item i: the bytes between its offset and the next one, cut at the end of the data; empty
    // when the offsets decrease or lie before the first.
    std::string_view Item(std::uint32_t i) const {
        if (i >= Count)
            return {};
        const std::int64_t from = Relative(i);
        const std::int64_t to = Relative(i + 1);
        if (from < 0 || to <= from)
            return {};
        return cut(FReader->Data(), FDataStart + from, to - from);
    }

    std::uint32_t Count = 0;
    bool Valid = true;
    std::int64_t End = 0; // the position just after the INDEX

private:
    // Items follow one another from the start of the data, so positions count from offset 0.
    std::int64_t Relative(std::uint32_t i) const {
        return static_cast<std::int64_t>(
                   FReader->Offset(FOffsets + static_cast<std::int64_t>(i) * FOffSize, FOffSize)) -
               static_cast<std::int64_t>(FFirst);
    }

    const TCFFReader* FReader = nullptr;
    int FOffSize = 0;
    std::int64_t FOffsets = 0;
    std::int64_t FDataStart = 0;
    std::uint32_t FFirst = 0;
};

constexpr std::uint32_t kStandardStringCount = 391;
static_assert(tables::kCffStandardStringsCount == kStandardStringCount);
static_assert(tables::kCffStandardEncodingCount == 256);

// The predefined Expert and Expert Subset charsets and the Expert encoding, as runs of
// consecutive SIDs (and codes).
struct TSIDRun {
    std::uint16_t FirstSID;
    std::uint16_t Count;
};
constexpr TSIDRun kExpertCharset[] = {
    {0, 1},    {1, 1},   {229, 10}, {13, 3},  {99, 1},  {239, 10}, {27, 2},  {249, 18}, {109, 2},
    {267, 52}, {158, 1}, {155, 1},  {163, 1}, {319, 8}, {150, 1},  {164, 1}, {169, 1},  {327, 52}};
constexpr TSIDRun kExpertSubsetCharset[] = {
    {0, 1},   {1, 1},    {231, 2}, {235, 4}, {13, 3},  {99, 1},  {239, 10}, {27, 2},
    {249, 3}, {253, 14}, {109, 2}, {267, 4}, {272, 1}, {300, 3}, {305, 1},  {314, 2},
    {158, 1}, {155, 1},  {163, 1}, {320, 7}, {150, 1}, {164, 1}, {169, 1},  {327, 20}};
struct TCodeRun {
    std::uint8_t FirstCode;
    std::uint16_t FirstSID;
    std::uint8_t Count;
};
constexpr TCodeRun kExpertEncoding[] = {
    {32, 1, 1},    {33, 229, 2},  {36, 231, 8},  {44, 13, 3},   {47, 99, 1},   {48, 239, 10},
    {58, 27, 2},   {60, 249, 4},  {65, 253, 5},  {73, 258, 1},  {76, 259, 4},  {82, 263, 3},
    {86, 266, 1},  {87, 109, 2},  {89, 267, 3},  {93, 270, 4},  {97, 274, 30}, {161, 304, 3},
    {166, 307, 5}, {172, 312, 1}, {175, 313, 1}, {178, 314, 2}, {182, 316, 3}, {188, 158, 1},
    {189, 155, 1}, {190, 163, 1}, {191, 319, 7}, {200, 326, 1}, {201, 150, 1}, {202, 164, 1},
    {203, 169, 1}, {204, 327, 52}};

template <std::size_t N>
void charsetFromRuns(const TSIDRun (&runs)[N], std::vector<std::uint32_t>& sids) {
    std::size_t glyph = 0;
    for (const TSIDRun& run : runs)
        for (std::uint32_t k = 0; k < run.Count && glyph < sids.size(); ++k)
            sids[glyph++] = run.FirstSID + k;
}

// The Top DICT operators and how their operands are written as PDF syntax.
enum class TOperandKind : std::uint8_t { Number, String, Array, Private };
struct TDictOperator {
    int Code; // b0, or 1200 + b1 for the two-byte operators 12 b1
    const char* Name;
    TOperandKind Kind;
};
constexpr TDictOperator kTopDictOperators[] = {
    {0, "version", TOperandKind::String},
    {1, "Notice", TOperandKind::String},
    {2, "FullName", TOperandKind::String},
    {3, "FamilyName", TOperandKind::String},
    {4, "Weight", TOperandKind::String},
    {5, "FontBBox", TOperandKind::Array},
    {13, "UniqueID", TOperandKind::Number},
    {14, "XUID", TOperandKind::Array},
    {15, "charset", TOperandKind::Number},
    {16, "Encoding", TOperandKind::Number},
    {17, "CharStrings", TOperandKind::Number},
    {18, "Private", TOperandKind::Private},
    {1200, "Copyright", TOperandKind::String},
    {1201, "isFixedPitch", TOperandKind::Number},
    {1202, "ItalicAngle", TOperandKind::Number},
    {1203, "UnderlinePosition", TOperandKind::Number},
    {1204, "UnderlineThickness", TOperandKind::Number},
    {1205, "PaintType", TOperandKind::Number},
    {1206, "CharstringType", TOperandKind::Number},
    {1207, "FontMatrix", TOperandKind::Array},
    {1208, "StrokeWidth", TOperandKind::Number},
    {1220, "SyntheticBase", TOperandKind::Number},
    {1221, "PostScript", TOperandKind::String},
    {1222, "BaseFontName", TOperandKind::String},
    {1223, "BaseFontBlend", TOperandKind::Number},
    {1230, "ROS", TOperandKind::Array},
    {1231, "CIDFontVersion", TOperandKind::Number},
    {1232, "CIDFontRevision", TOperandKind::Number},
    {1233, "CIDFontType", TOperandKind::Number},
    {1234, "CIDCount", TOperandKind::Number},
    {1235, "UIDBase", TOperandKind::Number},
    {1236, "FDArray", TOperandKind::Number},
    {1237, "FDSelect", TOperandKind::Number},
    {1238, "FontName", TOperandKind::String},
};
constexpr std::size_t kTopDictOperatorCount = std::size(kTopDictOperators);

// A SID operand; -1 (an empty string) for values no SID can have.
std::int64_t sidOf(double value) {
    return value >= 0 && value <= 65535 ? static_cast<std::int64_t>(value) : -1;
}

// The value of a DICT real: nibbles 0-9 digits, a ".", b "E", c "E-", e "-", f the end. The
// object parser knows no exponents, so reals are written as plain decimals instead.
double realValue(std::string_view text) {
    double value = 0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value))
        return 0;
    return value;
}

// A number as PDF syntax: plain decimal digits, never an exponent. Magnitudes beyond 1e15 are
// clamped and below 1e-12 read as 0 so that no number writes hundreds of digits.
void appendNumber(std::string& out, double value) {
    constexpr double kLargest = 1e15;
    constexpr double kSmallest = 1e-12;
    if (!std::isfinite(value) || std::fabs(value) < kSmallest)
        value = 0;
    value = std::clamp(value, -kLargest, kLargest);
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    out.append(buffer, result.ec == std::errc() ? result.ptr : buffer);
}

void appendLiteralString(std::string& out, std::string_view bytes) {
    out.push_back('(');
    for (const char c : bytes) {
        if (c == '(' || c == ')' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back(')');
}

class TCFFFont {
public:
    explicit TCFFFont(std::string_view data) : FReader(data) {}

    const TCFFReader& Reader() const { return FReader; }
    void SetStrings(const TCFFIndex& strings) { FStrings = strings; }

    // The string of a SID: a standard string, else an item of the String INDEX (empty when
    // there is no such item).
    std::string_view SIDString(std::int64_t sid) const {
        if (sid < 0)
            return {};
        if (sid < kStandardStringCount)
            return tables::kCffStandardStrings[sid].string;
        if (sid - kStandardStringCount >= FStrings.Count)
            return {};
        return FStrings.Item(static_cast<std::uint32_t>(sid - kStandardStringCount));
    }

    // The Top DICT as PDF dictionary syntax. An operator given more than once is written once,
    // with its last operands (the parser would keep the last anyway); this bounds the text
    // however often a long string is named.
    std::string TopDictText(std::string_view dict) const {
        struct TEntry {
            std::size_t Operator;
            std::vector<double> Operands;
        };
        std::vector<TEntry> entries;
        std::array<int, kTopDictOperatorCount> entryOf;
        entryOf.fill(-1);
        std::vector<double> operands;
        auto byteAt = [&](std::size_t pos) -> std::uint32_t {
            return pos < dict.size() ? static_cast<unsigned char>(dict[pos]) : 0;
        };
        auto push = [&](double value) {
            if (operands.size() < static_cast<std::size_t>(kMaxDictOperands))
                operands.push_back(value);
        };
        std::size_t i = 0;
        while (i < dict.size()) {
            const std::uint32_t b0 = byteAt(i);
            if (b0 <= 21) {
                int code = static_cast<int>(b0);
                if (b0 == 12) {
                    code = 1200 + static_cast<int>(byteAt(i + 1));
                    i += 2;
                } else {
                    ++i;
                }
                const auto* op =
                    std::find_if(std::begin(kTopDictOperators), std::end(kTopDictOperators),
                                 [&](const TDictOperator& o) { return o.Code == code; });
                if (op != std::end(kTopDictOperators)) {
                    const auto index = static_cast<std::size_t>(op - std::begin(kTopDictOperators));
                    if (entryOf[index] < 0) {
                        entryOf[index] = static_cast<int>(entries.size());
                        entries.push_back({index, {}});
                    }
                    entries[static_cast<std::size_t>(entryOf[index])].Operands = operands;
                }
                operands.clear();
            } else if (b0 == 28) {
                push(static_cast<std::int16_t>((byteAt(i + 1) << 8) | byteAt(i + 2)));
                i += 3;
            } else if (b0 == 29) {
                push(static_cast<std::int32_t>((byteAt(i + 1) << 24) | (byteAt(i + 2) << 16) |
                                               (byteAt(i + 3) << 8) | byteAt(i + 4)));
                i += 5;
            } else if (b0 == 30) {
                // A real without its end nibble stops at the end of the DICT data.
                std::string text;
                ++i;
                bool done = false;
                while (i < dict.size() && !done) {
                    const std::uint32_t b = byteAt(i++);
                    for (const std::uint32_t nibble : {b >> 4, b & 15u}) {
                        if (nibble <= 9)
                            text.push_back(static_cast<char>('0' + nibble));
                        else if (nibble == 0xa)
                            text.push_back('.');
                        else if (nibble == 0xb)
                            text.push_back('E');
                        else if (nibble == 0xc)
                            text.append("E-");
                        else if (nibble == 0xe)
                            text.push_back('-');
                        else if (nibble == 0xf) {
                            done = true;
                            break;
                        }
                    }
                }
                push(realValue(text));
            } else if (b0 >= 32 && b0 <= 246) {
                push(static_cast<double>(b0) - 139);
                ++i;
            } else if (b0 >= 247 && b0 <= 250) {
                push((static_cast<double>(b0) - 247) * 256 + byteAt(i + 1) + 108);
                i += 2;
            } else if (b0 >= 251 && b0 <= 254) {
                push(-(static_cast<double>(b0) - 251) * 256 - byteAt(i + 1) - 108);
                i += 2;
            } else {
                ++i; // reserved bytes 22-27, 31 and 255 carry nothing
            }
        }

        std::string text = "<< ";
        for (const TEntry& entry : entries) {
            const TDictOperator& op = kTopDictOperators[entry.Operator];
            const std::vector<double>& values = entry.Operands;
            // An operator without operands would leave a key without value and end the parse.
            if (values.empty())
                continue;
            text.push_back('/');
            text.append(op.Name);
            text.push_back(' ');
            switch (op.Kind) {
            case TOperandKind::String:
                appendLiteralString(text, SIDString(sidOf(values[0])));
                break;
            case TOperandKind::Array:
                text.append("[ ");
                for (const double v : values) {
                    appendNumber(text, v);
                    text.push_back(' ');
                }
                text.push_back(']');
                break;
            case TOperandKind::Private:
                // Written as [offset size]; the DICT gives size first.
                text.append("[ ");
                if (values.size() >= 2) {
                    appendNumber(text, values[1]);
                    text.push_back(' ');
                }
                appendNumber(text, values[0]);
                text.append(" ]");
                break;
            case TOperandKind::Number:
                // Surplus operands are dropped; each would end the parse as a stray value.
                appendNumber(text, values[0]);
                break;
            }
            text.push_back(' ');
        }
        text.append(">>");
        return text;
    }

private:
    TCFFReader FReader;
    TCFFIndex FStrings;
};

// An integer entry of the parsed Top DICT; fallback when absent or not a number.
std::int64_t dictInteger(const TPDFDictionary* dict, std::string_view key, std::int64_t fallback) {
    const auto* number = Cast<TPDFNumeric>(dict->Get(key, false));
    return number ? number->IntValue() : fallback;
}

std::string cappedName(std::string_view name) {
    return std::string(name.substr(0, kMaxGlyphNameLength));
}

} // namespace

// -------------------------------------------------------------------------------------------------

TPDFType1Decoder::TPDFType1Decoder(ResolveFn resolver)
    : TPDFFontRasterizer(std::move(resolver)), FStore(std::make_unique<TPDFStructure>()) {}

TPDFType1Decoder::~TPDFType1Decoder() = default;

void TPDFType1Decoder::LoadType1(const TPDFStream* stream) {
    if (!stream) {
        LoadType1(std::string_view(), 0, 0, 0);
        return;
    }
    const TPDFDictionary* dict = stream->Dictionary();
    const std::int64_t length1 = integerEntry(Resolver, dict, "Length1");
    const std::int64_t length2 = integerEntry(Resolver, dict, "Length2");
    const std::int64_t length3 = integerEntry(Resolver, dict, "Length3");
    const std::string data = stream->DecodedData();
    LoadType1(data, length1, length2, length3);
}

void TPDFType1Decoder::LoadType1(std::string_view data, std::int64_t length1, std::int64_t length2,
                                 std::int64_t length3) {
    ClearText.clear();
    EncryptedPart.clear();
    Trailer.clear();
    FontBBox = nullptr;
    FStore->Reset();
    if (length1 > 0 && length2 > 0) {
        ClearText = cut(data, 0, length1);
        EncryptedPart = cut(data, length1, length2);
        Trailer = cut(data, length1 + length2, length3);
    }
    BuiltInEncoding = BaseEncodingNames(TPDFBaseEncoding::Standard);

    const std::string text = Type1ClearTextToPDF(ClearText);
    const TPDFDictionary* dict = AsDictionary(FStore->Parse(text));
    if (!dict)
        return;
    FontBBox = AsArray(dict->Get("FontBBox", false));
    // Each name stands after its own code: `32 /space 65 /A`. A name alone keeps the
    // StandardEncoding names.
    if (const TPDFArray* encoding = AsArray(dict->Get("Encoding", false))) {
        std::int64_t code = 0;
        for (TPDFObject* item : encoding->Items()) {
            if (const auto* number = Cast<TPDFNumeric>(item))
                code = number->IntValue();
            else if (const auto* name = Cast<TPDFName>(item); name && code >= 0 && code <= 255)
                BuiltInEncoding[static_cast<std::size_t>(code)] = name->Value();
        }
    }
}

void TPDFType1Decoder::LoadCFF(const TPDFStream* stream) {
    const std::string data = stream ? stream->DecodedData() : std::string();
    LoadCFF(data);
}

void TPDFType1Decoder::LoadCFF(std::string_view data) {
    BuiltInEncoding = TPDFGlyphNames();
    ScaleValue = 1;
    IsCIDKeyed = false;
    GlyphNames.clear();

    TCFFFont font(data);
    const TCFFReader& reader = font.Reader();
    const TCFFIndex names(reader, reader.Card8(2));
    if (!names.Valid)
        return;
    const TCFFIndex topDicts(reader, names.End);
    if (!topDicts.Valid || topDicts.Count == 0)
        return;
    const TCFFIndex strings(reader, topDicts.End);
    if (strings.Valid)
        font.SetStrings(strings);
    // The Global Subr INDEX follows; only charstrings use it.

    // A CFF in a PDF file holds one font: the first Top DICT.
    TPDFStructure store;
    const TPDFDictionary* top = AsDictionary(store.Parse(font.TopDictText(topDicts.Item(0))));
    if (!top)
        return;

    IsCIDKeyed = top->IndexOfKey("ROS") >= 0;
    if (const TPDFArray* matrix = AsArray(top->Get("FontMatrix", false))) {
        if (const auto* first = Cast<TPDFNumeric>(matrix->Item(0))) {
            ScaleValue = first->Value * 1000;
            if (ScaleValue == 0)
                ScaleValue = 1;
        }
    }
    const std::int64_t charStrings = dictInteger(top, "CharStrings", -1);
    const std::uint32_t glyphCount = charStrings < 0 ? 0 : reader.Card16(charStrings);
    if (glyphCount == 0)
        return;

    // Charset: the SID (or CID) of every glyph; glyph 0 is always 0.
    std::vector<std::uint32_t> sids(glyphCount, 0);
    const std::int64_t charset = dictInteger(top, "charset", 0);
    if (charset == 0) {
        for (std::uint32_t g = 0; g < glyphCount; ++g)
            sids[g] = g;
    } else if (charset == 1) {
        charsetFromRuns(kExpertCharset, sids);
    } else if (charset == 2) {
        charsetFromRuns(kExpertSubsetCharset, sids);
    } else {
        const std::uint32_t format = reader.Card8(charset);
        std::int64_t pos = charset + 1;
        if (format == 0) {
            for (std::uint32_t g = 1; g < glyphCount; ++g, pos += 2)
                sids[g] = reader.Card16(pos);
        } else if (format == 1 || format == 2) {
            // Every range covers at least one glyph, so this ends within glyphCount ranges.
            std::uint32_t g = 1;
            while (g < glyphCount) {
                const std::uint32_t first = reader.Card16(pos);
                const std::uint32_t left =
                    format == 1 ? reader.Card8(pos + 2) : reader.Card16(pos + 2);
                pos += format == 1 ? 3 : 4;
                for (std::uint32_t k = 0; k <= left && g < glyphCount; ++k)
                    sids[g++] = first + k;
            }
        }
    }
    GlyphNames.reserve(glyphCount);
    for (const std::uint32_t sid : sids)
        GlyphNames.push_back(IsCIDKeyed ? "CID:" + std::to_string(sid)
                                        : cappedName(font.SIDString(sid)));

    // Encoding: the built-in glyph name of every code.
    const std::int64_t encoding = dictInteger(top, "Encoding", 0);
    if (encoding == 0) {
        for (const auto& row : tables::kCffStandardEncoding)
            if (row.code >= 0 && row.code <= 255)
                BuiltInEncoding[static_cast<std::size_t>(row.code)] =
                    cappedName(font.SIDString(row.sid));
        return;
    }
    BuiltInEncoding.fill(".notdef");
    if (encoding == 1) {
        for (const TCodeRun& run : kExpertEncoding)
            for (std::uint32_t k = 0; k < run.Count; ++k)
                BuiltInEncoding[run.FirstCode + k] = cappedName(font.SIDString(run.FirstSID + k));
        return;
    }
    const std::uint32_t format = reader.Card8(encoding);
    std::int64_t pos = encoding + 1;
    if ((format & 0x7f) == 0) {
        const std::uint32_t codeCount = reader.Card8(pos++);
        for (std::uint32_t k = 1; k <= codeCount; ++k) {
            const std::uint32_t code = reader.Card8(pos++);
            if (k < glyphCount)
                BuiltInEncoding[code] = GlyphNames[k];
        }
    } else if ((format & 0x7f) == 1) {
        const std::uint32_t rangeCount = reader.Card8(pos++);
        std::uint32_t glyph = 1;
        for (std::uint32_t r = 0; r < rangeCount; ++r, pos += 2) {
            const std::uint32_t first = reader.Card8(pos);
            const std::uint32_t left = reader.Card8(pos + 1);
            for (std::uint32_t k = 0; k <= left; ++k, ++glyph)
                if (first + k <= 255 && glyph < glyphCount)
                    BuiltInEncoding[first + k] = GlyphNames[glyph];
        }
    } else {
        return; // an unknown format: where supplements would start is unknown too
    }
    // Supplements: further codes for glyphs already encoded, named by SID.
    if (format & 0x80) {
        const std::uint32_t count = reader.Card8(pos++);
        for (std::uint32_t s = 0; s < count; ++s, pos += 3)
            BuiltInEncoding[reader.Card8(pos)] = cappedName(font.SIDString(reader.Card16(pos + 1)));
    }
}

// -------------------------------------------------------------------------------------------------

std::string Type1ClearTextToPDF(std::string_view clearText) {
    std::vector<std::string> tokens = tokenizeType1(clearText);
    rewriteType1(tokens);
    std::string text;
    text.reserve(clearText.size() + 16);
    for (const std::string& token : tokens) {
        if (token.empty())
            continue;
        if (!text.empty())
            text.push_back(' ');
        text.append(token);
    }
    return text;
}

std::string DecryptEexec(std::string_view data) {
    auto hexValue = [](char c) { return HexDigitValue(static_cast<unsigned char>(c)); };
    while (!data.empty() && isSeparator(static_cast<unsigned char>(data.front())))
        data.remove_prefix(1);
    std::string cipher;
    const bool isHex = data.size() >= 4 && std::all_of(data.begin(), data.begin() + 4,
                                                       [&](char c) { return hexValue(c) >= 0; });
    if (isHex) {
        cipher.reserve(data.size() / 2);
        int high = -1;
        for (const char c : data) {
            if (isSeparator(static_cast<unsigned char>(c)))
                continue;
            const int v = hexValue(c);
            if (v < 0)
                break;
            if (high < 0) {
                high = v;
            } else {
                cipher.push_back(static_cast<char>(high * 16 + v));
                high = -1;
            }
        }
    } else {
        cipher.assign(data);
    }
    constexpr std::uint16_t kEexecKey = 55665;
    constexpr std::uint16_t kC1 = 52845;
    constexpr std::uint16_t kC2 = 22719;
    constexpr std::size_t kLeadBytes = 4; // random bytes in front of the plain text
    std::uint16_t r = kEexecKey;
    std::string plain;
    plain.reserve(cipher.size());
    for (std::size_t i = 0; i < cipher.size(); ++i) {
        const auto c = static_cast<unsigned char>(cipher[i]);
        const auto p = static_cast<unsigned char>(c ^ (r >> 8));
        r = static_cast<std::uint16_t>((static_cast<std::uint32_t>(c) + r) * kC1 + kC2);
        if (i >= kLeadBytes)
            plain.push_back(static_cast<char>(p));
    }
    return plain;
}

} // namespace korvel
