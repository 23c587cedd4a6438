#pragma once
// Page text layouts: the text of the engine's selected page as a run writes it. Layout 0 is
// the engine's text in content order; layouts 1 ("smart": rows top to bottom, left to right)
// and 2 ("position": every block with its coordinates) are rebuilt here from the engine's
// positioned-text records (one line per block, twelve comma-separated fields).
//
// Numbers are written rounded to two decimals with the user's decimal separator; rows are
// sorted by the user's collation with letter case ignored.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Locale.h"
#include "platform/uCodePage.h"

namespace korvel {
class TKorvel;
}

namespace tolvane {

enum TTextLayout : int {
    kLayoutOrder = 0,
    kLayoutSmart = 1,
    kLayoutPosition = 2,
    kLayoutReading = 3 // the engine's reading order: words, lines, blocks and columns
};

// The text of the engine's selected page for a layout (0 to 3; any other value is layout 1,
// the default). Selects nothing itself. Errors of the engine's text production pass through.
std::string PageTextByLayout(korvel::TKorvel& engine, int layout);
// The same with the locale made once for a whole run.
struct TLayoutLocale;
std::string PageTextByLayout(korvel::TKorvel& engine, int layout, const TLayoutLocale& locale);

// Cuts record text into lines at CR, LF and CR LF. A break at the very end makes no empty last
// line; two breaks in a row make an empty line. A NUL byte (a font that maps a code to 0) reads
// as a space.
std::vector<std::string> SplitRecordLines(std::string_view text);

// Splits a line at `separator` outside quotes. `escape` makes the next byte literal (inside and
// outside quotes; a trailing escape adds nothing); a byte of `quotes` flips quoting and is
// dropped. n separators give n + 1 fields; an empty line gives one empty field.
void SplitFields(std::string_view line, std::string_view separator,
                 std::vector<std::string>& fields, char escape = '\\',
                 std::string_view quotes = "\"");

// The rows of one page met so far. SnapToRow(y) answers the first known row (in the order they
// were met) within 2 units of y, or records y as a new row and answers it. Known rows are more
// than 2 apart from one another, so at most two can lie within reach of any y: an ordered index
// finds them without scanning every row.
class TRowSnapper {
public:
    double SnapToRow(double y);
    std::size_t RowCount() const { return FRows.size(); }

private:
    std::map<double, std::size_t> FRows; // row y -> order in which it was met
};

// How layouts write numbers and compare text: the decimal separator in the output's encoding
// (looked up at its first use), the collator (case ignored), and the encoding the record text
// is in.
struct TLayoutLocale {
    std::string NumericLocale; // the locale name numbers are written by; empty: C
    TCollator Collator{std::string()};
    korvel::TTextEncoding Encoding = korvel::TTextEncoding::Cp1252;

    const std::string& DecimalSeparator() const;

    // The user's locale (Locale.h) for text in `encoding`.
    static TLayoutLocale System(korvel::TTextEncoding encoding);
    // One locale name for both numbers and collation ("C", "de_DE.UTF-8").
    static TLayoutLocale For(const std::string& localeName, korvel::TTextEncoding encoding);

private:
    mutable std::optional<std::string> FDecimalSeparator;
};

// Layout 1 over option-3 records of a page `pageHeight` high.
std::string SmartLayout(std::string_view records, double pageHeight, const TLayoutLocale& locale);
// Layout 2 over option-3 records.
std::string PositionLayout(std::string_view records, const TLayoutLocale& locale);

// `value` rounded to two decimals ("%.2f"), with `separator` for the decimal point; padded on
// the left with spaces to `width` characters when shorter.
std::string FormatFixed2(double value, std::string_view separator, int width = 0);

} // namespace tolvane
