#pragma once
// The engine's built-in font data and the pure operations over it: the five named base
// encodings, the Differences overlay, glyph names turned into text, and the 14 standard fonts
// (name matching, substitute name, ascent and descent, glyph widths).
//
// Nothing here keeps state; the tables are constants (most generated from fonts/data/*.tsv) and
// the lookups built over them are made once per process. Nothing throws on any input.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/uCodePage.h"

namespace korvel {

class TPDFArray;

// The base encodings a font dictionary can name; the numbers are the enumeration order.
enum class TPDFBaseEncoding : std::uint8_t { Standard, MacRoman, WinAnsi, PDFDoc, MacExpert };

// One glyph name per single-byte code ("A", "space", ".notdef").
using TPDFGlyphNames = std::array<std::string, 256>;
// The text of each single-byte code: usually one character, a passed-through glyph name, or empty.
using TPDFTextVector = std::array<std::string, 256>;
// Glyph widths per single-byte code, thousandths of an em.
using TPDFWidths = std::array<double, 256>;

// "StandardEncoding", "MacRomanEncoding", "WinAnsiEncoding", "PDFDocEncoding" and
// "MacExpertEncoding" give their kind (exact, case-sensitive); any other name gives Standard.
TPDFBaseEncoding EncodingKindOfName(std::string_view name);

// The glyph names of a base encoding. Codes the encoding leaves unassigned get ".notdef", except
// in WinAnsi (160 "A0space", 173 "hyphen", 33..255 otherwise "bullet") and MacRoman (202 "space").
TPDFGlyphNames BaseEncodingNames(TPDFBaseEncoding kind);

// Overlays a Differences array: a number sets the current code (rounded, halves to even), a
// name is stored there and advances it by one; names outside 0..255 are dropped (the code still
// advances); anything else, indirect references included, is skipped. nullptr changes nothing.
void ApplyDifferences(TPDFGlyphNames& names, const TPDFArray* differences);

// The text of one glyph name. In Windows-1252 a name with a WinAnsiEncoding code is that byte
// and any other name passes through byte for byte. In UTF-8 a WinAnsi name is the Unicode
// character of its byte; any other name follows the Adobe Glyph List rules (see
// GlyphNameToUnicode) and passes through byte for byte when they give nothing.
// With `namesAsText` false a name those rules give nothing for gives no text either.
std::string GlyphNameToText(std::string_view name, TTextEncoding encoding = TTextEncoding::Cp1252,
                            bool namesAsText = true);
// GlyphNameToText of every code.
TPDFTextVector GlyphNamesToText(const TPDFGlyphNames& names,
                                TTextEncoding encoding = TTextEncoding::Cp1252,
                                bool namesAsText = true);
// The characters of a glyph name by the Adobe Glyph List rules: a suffix from the first "." on
// is dropped, the rest splits at "_" and each component is looked up in the list, else read as
// uniXXXX[XXXX...] or uXXXX..uXXXXXX (upper-case hexadecimal, no surrogates). Components that
// give nothing are left out; empty when no component gives anything.
std::u32string GlyphNameToUnicode(std::string_view name);

// A row of the standard font table, index 1..14.
struct TPDFStandardFont {
    std::string_view Patterns;       // names, each followed by "*"
    std::string_view SubstituteName; // the name the font is recorded under
    double Ascent;
    double Descent;
};
constexpr int kStandardFontCount = 14;
constexpr int kStandardSymbolIndex = 13;
constexpr int kStandardDingbatsIndex = 14;

// The row of a standard font index; nullptr outside 1..14.
const TPDFStandardFont* StandardFontRow(int index);
// The standard font (1..14) whose pattern list contains the name followed by "*"; the last such
// row wins, 0 when none. The name is taken as it stands: a subset prefix never matches, and an
// empty name matches every row (so 14).
int MatchStandardFont(std::string_view baseFont);
// For index 1..12 each code gets the width of its glyph name in that Latin font, for 13 in
// Symbol; a name the font lacks gets 750. Any other index leaves the widths unchanged.
void StandardFontWidths(int index, const TPDFGlyphNames& names, TPDFWidths& widths);

struct TPDFFontMetrics {
    double Ascent = 0;
    double Descent = 0;
};
// Ascent and descent of a standard font; both 0 outside 1..14.
TPDFFontMetrics StandardFontMetrics(int index);

} // namespace korvel
