#include "fonts/uPDFCFF.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "file/uPDFStructure.h"
#include "fonts/FontTables.h"
#include "fonts/uPDFFontProgram.h"

namespace korvel {

namespace {

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
        return CutBytes(FReader->Data(), FDataStart + from, to - from);
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

TPDFCFFContents ReadCFF(std::string_view data) {
    TPDFCFFContents out;

    TCFFFont font(data);
    const TCFFReader& reader = font.Reader();
    const TCFFIndex names(reader, reader.Card8(2));
    if (!names.Valid)
        return out;
    const TCFFIndex topDicts(reader, names.End);
    if (!topDicts.Valid || topDicts.Count == 0)
        return out;
    const TCFFIndex strings(reader, topDicts.End);
    if (strings.Valid)
        font.SetStrings(strings);
    // The Global Subr INDEX follows; only charstrings use it.

    // A CFF in a PDF file holds one font: the first Top DICT.
    TPDFStructure store;
    const TPDFDictionary* top = AsDictionary(store.Parse(font.TopDictText(topDicts.Item(0))));
    if (!top)
        return out;

    out.IsCIDKeyed = top->IndexOfKey("ROS") >= 0;
    if (const TPDFArray* matrix = AsArray(top->Get("FontMatrix", false))) {
        if (const auto* first = Cast<TPDFNumeric>(matrix->Item(0))) {
            out.Scale = first->Value * 1000;
            if (out.Scale == 0)
                out.Scale = 1;
        }
    }
    const std::int64_t charStrings = dictInteger(top, "CharStrings", -1);
    const std::uint32_t glyphCount = charStrings < 0 ? 0 : reader.Card16(charStrings);
    if (glyphCount == 0)
        return out;

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
    out.GlyphNames.reserve(glyphCount);
    for (const std::uint32_t sid : sids)
        out.GlyphNames.push_back(out.IsCIDKeyed ? "CID:" + std::to_string(sid)
                                                : cappedName(font.SIDString(sid)));

    // Encoding: the built-in glyph name of every code.
    const std::int64_t encoding = dictInteger(top, "Encoding", 0);
    if (encoding == 0) {
        for (const auto& row : tables::kCffStandardEncoding)
            if (row.code >= 0 && row.code <= 255)
                out.BuiltInEncoding[static_cast<std::size_t>(row.code)] =
                    cappedName(font.SIDString(row.sid));
        return out;
    }
    out.BuiltInEncoding.fill(".notdef");
    if (encoding == 1) {
        for (const TCodeRun& run : kExpertEncoding)
            for (std::uint32_t k = 0; k < run.Count; ++k)
                out.BuiltInEncoding[run.FirstCode + k] =
                    cappedName(font.SIDString(run.FirstSID + k));
        return out;
    }
    const std::uint32_t format = reader.Card8(encoding);
    std::int64_t pos = encoding + 1;
    if ((format & 0x7f) == 0) {
        const std::uint32_t codeCount = reader.Card8(pos++);
        for (std::uint32_t k = 1; k <= codeCount; ++k) {
            const std::uint32_t code = reader.Card8(pos++);
            if (k < glyphCount)
                out.BuiltInEncoding[code] = out.GlyphNames[k];
        }
    } else if ((format & 0x7f) == 1) {
        const std::uint32_t rangeCount = reader.Card8(pos++);
        std::uint32_t glyph = 1;
        for (std::uint32_t r = 0; r < rangeCount; ++r, pos += 2) {
            const std::uint32_t first = reader.Card8(pos);
            const std::uint32_t left = reader.Card8(pos + 1);
            for (std::uint32_t k = 0; k <= left; ++k, ++glyph)
                if (first + k <= 255 && glyph < glyphCount)
                    out.BuiltInEncoding[first + k] = out.GlyphNames[glyph];
        }
    } else {
        return out; // an unknown format: where supplements would start is unknown too
    }
    // Supplements: further codes for glyphs already encoded, named by SID.
    if (format & 0x80) {
        const std::uint32_t count = reader.Card8(pos++);
        for (std::uint32_t s = 0; s < count; ++s, pos += 3)
            out.BuiltInEncoding[reader.Card8(pos)] =
                cappedName(font.SIDString(reader.Card16(pos + 1)));
    }
    return out;
}

} // namespace korvel
