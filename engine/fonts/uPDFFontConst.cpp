#include "fonts/uPDFFontConst.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "file/uPDFExtra.h"
#include "file/uPDFStructure.h"
#include "fonts/FontTables.h"

namespace korvel {

namespace {

using tables::TLatinWidthsRow;

constexpr TPDFStandardFont kStandardFonts[kStandardFontCount] = {
    {"Courier*CourierNew*CourierNewPSMT*", "CourierNew", 629, -157},
    {"Courier-Bold*Courier,Bold*CourierNew-Bold*CourierNew,Bold*CourierNewPS-BoldMT*",
     "CourierNew,Bold", 626, -142},
    {"Courier-BoldOblique*Courier,BoldItalic*CourierNew-BoldItalic*CourierNew,BoldItalic*"
     "CourierNewPS-BoldItalicMT*",
     "CourierNew,BoldItalic", 626, -142},
    {"Courier-Oblique*Courier,Italic*CourierNew-Italic*CourierNew,Italic*CourierNewPS-ItalicMT*",
     "CourierNew,Italic", 629, -157},
    {"Helvetica*Arial*ArialMT*", "Arial", 718, -207},
    {"Helvetica-Bold*Helvetica,Bold*Arial-Bold*Arial,Bold*Arial-BoldMT*", "Arial,Bold", 718, -207},
    {"Helvetica-BoldOblique*Helvetica-BoldItalic*Helvetica,BoldItalic*Arial-BoldItalic*"
     "Arial,BoldItalic*Arial-BoldItalicMT*",
     "Arial,BoldItalic", 718, -207},
    {"Helvetica-Oblique*Helvetica-Italic*Helvetica,Italic*Arial-Italic*Arial,Italic*"
     "Arial-ItalicMT*",
     "Arial,Italic", 718, -207},
    {"Times-Roman*TimesNewRoman*TimesNewRomanPS*TimesNewRomanPSMT*", "TimesNewRoman", 683, -217},
    {"Times-Bold*TimesNewRoman-Bold*TimesNewRoman,Bold*TimesNewRomanPS-Bold*"
     "TimesNewRomanPS-BoldMT*",
     "TimesNewRoman,Bold", 676, -205},
    {"Times-Italic*TimesNewRoman-Italic*TimesNewRoman,Italic*TimesNewRomanPS-Italic*"
     "TimesNewRomanPS-ItalicMT*",
     "TimesNewRoman,Italic", 683, -205},
    {"Times-BoldItalic*TimesNewRoman-BoldItalic*TimesNewRoman,BoldItalic*"
     "TimesNewRomanPS-BoldItalic*TimesNewRomanPS-BoldItalicMT*",
     "TimesNewRoman,BoldItalic", 699, -205},
    {"Symbol*", "Symbol", 699, -205},
    {"ZapfDingbats*", "ZapfDingbats", 699, -205},
};

// The width column of each Latin standard font, in the order of the standard font table.
constexpr int TLatinWidthsRow::*kLatinFontColumn[12] = {&TLatinWidthsRow::Courier,
                                                        &TLatinWidthsRow::Courier_Bold,
                                                        &TLatinWidthsRow::Courier_BoldOblique,
                                                        &TLatinWidthsRow::Courier_Oblique,
                                                        &TLatinWidthsRow::Helvetica,
                                                        &TLatinWidthsRow::Helvetica_Bold,
                                                        &TLatinWidthsRow::Helvetica_BoldOblique,
                                                        &TLatinWidthsRow::Helvetica_Oblique,
                                                        &TLatinWidthsRow::Times_Roman,
                                                        &TLatinWidthsRow::Times_Bold,
                                                        &TLatinWidthsRow::Times_Italic,
                                                        &TLatinWidthsRow::Times_BoldItalic};

// Width of a glyph that a standard font's table does not hold.
constexpr double kMissingWidth = 750;

// Row of a name in a table sorted in byte order of its `name` column; -1 when absent.
template <class Row, std::size_t N>
std::ptrdiff_t findSorted(const Row (&rows)[N], std::string_view name) {
    const Row* end = rows + N;
    const Row* at = std::lower_bound(rows, end, name, [](const Row& row, std::string_view key) {
        return std::string_view(row.name) < key;
    });
    return at != end && std::string_view(at->name) == name ? at - rows : -1;
}

int latinCode(const tables::TLatinCharsetRow& row, TPDFBaseEncoding kind) {
    switch (kind) {
    case TPDFBaseEncoding::Standard:
        return row.std;
    case TPDFBaseEncoding::MacRoman:
        return row.mac;
    case TPDFBaseEncoding::WinAnsi:
        return row.win;
    case TPDFBaseEncoding::PDFDoc:
        return row.pdf;
    case TPDFBaseEncoding::MacExpert:
        break;
    }
    return -1;
}

TPDFGlyphNames buildBaseEncoding(TPDFBaseEncoding kind) {
    TPDFGlyphNames names;
    std::array<bool, 256> assigned{};
    auto assign = [&](int code, const char* name) {
        if (code >= 0 && code <= 255) {
            names[code] = name;
            assigned[code] = true;
        }
    };
    if (kind == TPDFBaseEncoding::MacExpert) {
        for (const auto& row : tables::kMacexpert)
            assign(row.code, row.name);
    } else {
        for (const auto& row : tables::kLatinCharset)
            assign(latinCode(row, kind), row.name);
    }
    for (int c = 0; c < 256; ++c) {
        if (assigned[c])
            continue;
        const char* fill = ".notdef";
        if (kind == TPDFBaseEncoding::WinAnsi && c >= 33)
            fill = c == 160 ? "A0space" : c == 173 ? "hyphen" : "bullet";
        else if (kind == TPDFBaseEncoding::MacRoman && c == 202)
            fill = "space";
        names[c] = fill;
    }
    return names;
}

const std::array<TPDFGlyphNames, 5>& baseEncodings() {
    static const std::array<TPDFGlyphNames, 5> encodings = {
        buildBaseEncoding(TPDFBaseEncoding::Standard),
        buildBaseEncoding(TPDFBaseEncoding::MacRoman), buildBaseEncoding(TPDFBaseEncoding::WinAnsi),
        buildBaseEncoding(TPDFBaseEncoding::PDFDoc),
        buildBaseEncoding(TPDFBaseEncoding::MacExpert)};
    return encodings;
}

// Glyph name -> WinAnsi byte. A name at several codes takes its Latin row's code (bullet 149,
// hyphen 45); the fill names take their first code, so ".notdef" is byte 0.
const std::unordered_map<std::string_view, unsigned char>& winAnsiCodes() {
    static const auto codes = [] {
        std::unordered_map<std::string_view, unsigned char> map;
        for (const auto& row : tables::kLatinCharset)
            if (row.win >= 0 && row.win <= 255)
                map.emplace(row.name, static_cast<unsigned char>(row.win));
        const TPDFGlyphNames& win = baseEncodings()[static_cast<int>(TPDFBaseEncoding::WinAnsi)];
        for (int c = 0; c < 256; ++c)
            map.emplace(win[c], static_cast<unsigned char>(c));
        return map;
    }();
    return codes;
}

const std::unordered_map<std::string_view, int>& symbolWidths() {
    static const auto widths = [] {
        std::unordered_map<std::string_view, int> map;
        for (const auto& row : tables::kSymbolWidths)
            map.emplace(row.name, row.width);
        return map;
    }();
    return widths;
}

int hexDigit(char c) {
    // Glyph-list names spell code points in upper case only.
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'f' ? -1 : HexDigitValue(u);
}

// Value of a run of upper-case hex digits (at most 8); -1 when a character is not one.
std::int64_t hexValue(std::string_view digits) {
    std::int64_t value = 0;
    for (char c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return -1;
        value = value * 16 + d;
    }
    return value;
}

bool isScalar(std::int64_t cp) {
    return cp >= 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

// Appends the characters of one component of a glyph name; false when it gives none.
bool appendComponent(std::u32string& out, std::string_view component) {
    if (component.empty())
        return false;
    if (const std::ptrdiff_t row = findSorted(tables::kGlyphList, component); row >= 0) {
        std::string_view codes = tables::kGlyphList[row].unicode;
        while (!codes.empty()) {
            const std::size_t space = codes.find(' ');
            out.push_back(static_cast<char32_t>(hexValue(codes.substr(0, space))));
            codes.remove_prefix(space == std::string_view::npos ? codes.size() : space + 1);
        }
        return true;
    }
    if (component.size() >= 7 && component.substr(0, 3) == "uni" &&
        (component.size() - 3) % 4 == 0) {
        std::u32string chars;
        for (std::size_t at = 3; at < component.size(); at += 4) {
            const std::int64_t cp = hexValue(component.substr(at, 4));
            if (!isScalar(cp))
                return false;
            chars.push_back(static_cast<char32_t>(cp));
        }
        out += chars;
        return true;
    }
    if (component.size() >= 5 && component.size() <= 7 && component[0] == 'u') {
        const std::int64_t cp = hexValue(component.substr(1));
        if (!isScalar(cp))
            return false;
        out.push_back(static_cast<char32_t>(cp));
        return true;
    }
    return false;
}

} // namespace

TPDFBaseEncoding EncodingKindOfName(std::string_view name) {
    if (name == "MacRomanEncoding")
        return TPDFBaseEncoding::MacRoman;
    if (name == "WinAnsiEncoding")
        return TPDFBaseEncoding::WinAnsi;
    if (name == "PDFDocEncoding")
        return TPDFBaseEncoding::PDFDoc;
    if (name == "MacExpertEncoding")
        return TPDFBaseEncoding::MacExpert;
    return TPDFBaseEncoding::Standard;
}

TPDFGlyphNames BaseEncodingNames(TPDFBaseEncoding kind) {
    const auto index = static_cast<std::size_t>(kind);
    return index < baseEncodings().size() ? baseEncodings()[index] : baseEncodings()[0];
}

void ApplyDifferences(TPDFGlyphNames& names, const TPDFArray* differences) {
    if (!differences)
        return;
    // 64 bits: a code at the top of the 32-bit range still advances without overflow.
    std::int64_t code = 0;
    for (const TPDFObject* item : differences->Items()) {
        if (const auto* number = Cast<TPDFNumeric>(item)) {
            code = number->IntValue();
        } else if (const auto* name = Cast<TPDFName>(item)) {
            if (code >= 0 && code <= 255)
                names[static_cast<std::size_t>(code)] = name->Value();
            ++code;
        }
    }
}

std::u32string GlyphNameToUnicode(std::string_view name) {
    name = name.substr(0, name.find('.'));
    std::u32string chars;
    while (!name.empty()) {
        const std::size_t cut = name.find('_');
        appendComponent(chars, name.substr(0, cut));
        name.remove_prefix(cut == std::string_view::npos ? name.size() : cut + 1);
    }
    return chars;
}

std::string GlyphNameToText(std::string_view name, TTextEncoding encoding, bool namesAsText) {
    std::string text;
    const auto& codes = winAnsiCodes();
    if (const auto found = codes.find(name); found != codes.end()) {
        if (encoding == TTextEncoding::Utf8)
            AppendUtf8(text, Cp1252ToUnicode(found->second));
        else
            text.push_back(static_cast<char>(found->second));
        return text;
    }
    if (encoding == TTextEncoding::Cp1252 && namesAsText)
        return std::string(name);
    const std::u32string chars = GlyphNameToUnicode(name);
    if (!namesAsText) {
        std::u32string known = chars;
        // Producers that name glyphs by their code write "a" and the code in decimal
        // ("a224" for à); "g" and a number is a glyph index, which says nothing.
        if (known.empty() && name.size() >= 3 && name.size() <= 4 && name.front() != 'g' &&
            ((name.front() >= 'a' && name.front() <= 'z') ||
             (name.front() >= 'A' && name.front() <= 'Z')) &&
            name.find_first_not_of("0123456789", 1) == std::string_view::npos) {
            int code = 0;
            for (char c : name.substr(1))
                code = code * 10 + (c - '0');
            if (code >= 32 && code <= 255 && code != 127)
                known.push_back(Cp1252ToUnicode(static_cast<unsigned char>(code)));
        }
        if (known.empty())
            return text;
        if (encoding == TTextEncoding::Cp1252)
            return chars.empty() ? std::string(1, static_cast<char>(Utf16UnitToCp1252(
                                                      static_cast<std::uint16_t>(known[0]))))
                                 : std::string(name); // as the names are read
        for (char32_t cp : known)
            AppendUtf8(text, cp);
        return text;
    }
    if (chars.empty()) {
        // The name itself, read as Windows-1252 so that the result stays valid UTF-8.
        for (char c : name)
            AppendUtf8(text, Cp1252ToUnicode(static_cast<unsigned char>(c)));
    } else {
        for (char32_t cp : chars)
            AppendUtf8(text, cp);
    }
    return text;
}

TPDFTextVector GlyphNamesToText(const TPDFGlyphNames& names, TTextEncoding encoding,
                                bool namesAsText) {
    TPDFTextVector text;
    for (std::size_t c = 0; c < names.size(); ++c)
        text[c] = GlyphNameToText(names[c], encoding, namesAsText);
    return text;
}

const TPDFStandardFont* StandardFontRow(int index) {
    return index >= 1 && index <= kStandardFontCount ? &kStandardFonts[index - 1] : nullptr;
}

int MatchStandardFont(std::string_view baseFont) {
    std::string needle(baseFont);
    needle.push_back('*');
    int match = 0;
    for (int index = 1; index <= kStandardFontCount; ++index)
        if (kStandardFonts[index - 1].Patterns.find(needle) != std::string_view::npos)
            match = index;
    return match;
}

void StandardFontWidths(int index, const TPDFGlyphNames& names, TPDFWidths& widths) {
    if (index >= 1 && index <= 12) {
        const int TLatinWidthsRow::*column = kLatinFontColumn[index - 1];
        for (std::size_t c = 0; c < names.size(); ++c) {
            const std::ptrdiff_t row = findSorted(tables::kLatinWidths, names[c]);
            widths[c] = row >= 0 ? tables::kLatinWidths[row].*column : kMissingWidth;
        }
    } else if (index == kStandardSymbolIndex) {
        const auto& symbol = symbolWidths();
        for (std::size_t c = 0; c < names.size(); ++c) {
            const auto found = symbol.find(names[c]);
            widths[c] = found != symbol.end() ? found->second : kMissingWidth;
        }
    }
}

TPDFFontMetrics StandardFontMetrics(int index) {
    const TPDFStandardFont* row = StandardFontRow(index);
    return row ? TPDFFontMetrics{row->Ascent, row->Descent} : TPDFFontMetrics{};
}

} // namespace korvel
