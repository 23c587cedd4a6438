#include "RText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "facade/uKorvel.h"
#include "file/uPDFExtra.h"

namespace tolvane {

namespace {

constexpr std::size_t kRecordFields = 12;
constexpr double kRowReach = 2; // y values this close (or closer) belong to one row

std::u16string textToUtf16(std::string_view text, korvel::TTextEncoding encoding) {
    if (encoding == korvel::TTextEncoding::Utf8)
        return Utf8ToUtf16(text);
    std::u16string result;
    result.reserve(text.size());
    for (const char c : text)
        result += static_cast<char16_t>(korvel::Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return result;
}

std::string utf8ToText(std::string_view text, korvel::TTextEncoding encoding) {
    if (encoding == korvel::TTextEncoding::Utf8)
        return ValidUtf8(text);
    std::string result;
    for (const char16_t unit : Utf8ToUtf16(text))
        result += korvel::Utf16UnitToCp1252(unit);
    return result;
}

// The value "%.2f" shows, read back: what the rows are sorted and joined by.
double rounded2(double value) {
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (ec != std::errc())
        return value;
    double result = value;
    std::from_chars(buffer, end, result);
    return result;
}

// Both record numbers with the text of field 11, from a line of at least twelve fields.
struct TRecord {
    double X = 0;
    double Y = 0;
    std::string Text;
};

template <class Visit> void forEachRecord(std::string_view records, Visit visit) {
    std::vector<std::string> fields;
    for (const std::string& line : SplitRecordLines(records)) {
        SplitFields(line, ",", fields);
        if (fields.size() < kRecordFields)
            continue; // not a whole record (a block text cut by a line break, say)
        visit(TRecord{korvel::NumberFromText(fields[3]), korvel::NumberFromText(fields[4]),
                      std::move(fields[11])});
    }
}

// The same records taken unwritten from the engine, read as their lines would be: the corner
// as written (4 decimals) and read back, the text with the CR and NUL bytes a line cannot hold
// as spaces. No record may be broken (see Broken).
template <class Visit> void forEachRecord(std::vector<korvel::TPageRecord>& records, Visit visit) {
    const auto asWritten = [](double value) {
        return korvel::NumberFromText(korvel::NumberToText(0, 4, value));
    };
    for (korvel::TPageRecord& record : records) {
        for (char& c : record.Text)
            if (c == '\r' || c == '\0')
                c = ' ';
        visit(TRecord{asWritten(record.X), asWritten(record.Y), std::move(record.Text)});
    }
}

} // namespace

std::vector<std::string> SplitRecordLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i < text.size() && text[i] == '\n')
                ++i;
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += c == '\0' ? ' ' : c;
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

void SplitFields(std::string_view line, std::string_view separator,
                 std::vector<std::string>& fields, char escape, std::string_view quotes) {
    fields.clear();
    std::array<bool, 256> isQuote{};
    for (const char q : quotes)
        isQuote[static_cast<unsigned char>(q)] = true;
    const char separatorStart = separator.empty() ? '\0' : separator.front();
    // The bytes that may do more than join the field: the escape, quotes, a separator's start.
    const auto special = [&](char c) {
        return c == escape || isQuote[static_cast<unsigned char>(c)] ||
               (!separator.empty() && c == separatorStart);
    };
    std::string field;
    bool quoted = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == escape) {
            if (i + 1 < line.size())
                field += line[i + 1];
            i += 2;
        } else if (isQuote[static_cast<unsigned char>(c)]) {
            quoted = !quoted;
            ++i;
        } else if (!quoted && !separator.empty() && c == separatorStart &&
                   line.compare(i, separator.size(), separator) == 0) {
            fields.push_back(std::move(field));
            field.clear();
            i += separator.size();
        } else {
            // This byte and the ordinary ones after it join the field.
            std::size_t end = i + 1;
            while (end < line.size() && !special(line[end]))
                ++end;
            field.append(line.substr(i, end - i));
            i = end;
        }
    }
    fields.push_back(std::move(field));
}

double TRowSnapper::SnapToRow(double y) {
    // Rows are pairwise more than kRowReach apart, so only the rows around y can be in reach.
    auto it = FRows.lower_bound(y - kRowReach);
    const std::map<double, std::size_t>::iterator none = FRows.end();
    auto first = none;
    for (; it != FRows.end() && it->first <= y + kRowReach; ++it) {
        if (std::fabs(it->first - y) <= kRowReach && (first == none || it->second < first->second))
            first = it;
    }
    if (first != none)
        return first->first;
    FRows.emplace(y, FRows.size());
    return y;
}

const std::string& TLayoutLocale::DecimalSeparator() const {
    if (!FDecimalSeparator) {
        FDecimalSeparator = utf8ToText(DecimalSeparatorOf(NumericLocale), Encoding);
        if (FDecimalSeparator->empty())
            FDecimalSeparator = ".";
    }
    return *FDecimalSeparator;
}

TLayoutLocale TLayoutLocale::For(const std::string& localeName, korvel::TTextEncoding encoding) {
    TLayoutLocale result;
    result.Encoding = encoding;
    result.NumericLocale = localeName;
    result.Collator = TCollator(localeName);
    return result;
}

TLayoutLocale TLayoutLocale::System(korvel::TTextEncoding encoding) {
    TLayoutLocale result;
    result.Encoding = encoding;
    result.NumericLocale = NumericLocaleName();
    result.Collator = TCollator(CollationLocaleName());
    return result;
}

std::string FormatFixed2(double value, std::string_view separator, int width) {
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    std::string number(buffer, ec == std::errc() ? end : buffer);
    if (const auto point = number.find('.'); point != std::string::npos)
        number.replace(point, 1, separator);
    // Width counts characters: a separator of several bytes (UTF-8) is one.
    const int shown = static_cast<int>(number.size() - separator.size()) + 1;
    if (shown < width)
        number.insert(0, static_cast<std::size_t>(width - shown), ' ');
    return number;
}

template <class TRecords>
std::string smartLayout(TRecords&& records, double pageHeight, const TLayoutLocale& locale) {
    struct TLine {
        double Row;    // page height minus the row's y, as written (two decimals)
        double Column; // x, as written
        std::string Text;
    };
    std::vector<TLine> lines;
    TRowSnapper rows;
    forEachRecord(records, [&](TRecord record) {
        const double y = rows.SnapToRow(record.Y);
        lines.push_back(
            TLine{rounded2(pageHeight - y), rounded2(record.X), std::move(record.Text)});
    });

    // Lines written "%10.2f%10.2f%s" and compared whole by collation order the same as these
    // keys while both numbers fit their ten characters and are not negative; the keys also
    // keep that order (top to bottom, then left to right) for text above or left of the page
    // and for numbers too wide for their columns.
    std::stable_sort(lines.begin(), lines.end(), [&](const TLine& a, const TLine& b) {
        if (a.Row != b.Row)
            return a.Row < b.Row;
        if (a.Column != b.Column)
            return a.Column < b.Column;
        // Rarely reached (two blocks at one place): the text is made UTF-16 only here.
        return locale.Collator.Compare(textToUtf16(a.Text, locale.Encoding),
                                       textToUtf16(b.Text, locale.Encoding)) < 0;
    });

    std::string result;
    double currentRow = 0;
    for (const TLine& line : lines) {
        if (result.empty()) {
            result = line.Text;
            currentRow = line.Row;
        } else if (std::llround((line.Row - currentRow) * 100) >= 200) {
            result += "\r\n";
            result += line.Text;
            currentRow = line.Row;
        } else {
            result += "  ";
            result += line.Text;
        }
    }
    return result;
}

template <class TRecords>
std::string positionLayout(TRecords&& records, const TLayoutLocale& locale) {
    std::string result;
    forEachRecord(records, [&](const TRecord& record) {
        if (record.Text.empty())
            return;
        result += "@X=";
        result += FormatFixed2(record.X, locale.DecimalSeparator());
        result += ",Y=";
        result += FormatFixed2(record.Y, locale.DecimalSeparator());
        result += '@';
        result += record.Text;
        result += "@ENDTEXT@\r\n";
    });
    // Trimmed of control bytes and blanks at both ends (the last CR LF among them).
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    const auto first = std::find_if_not(result.begin(), result.end(), blank);
    const auto last = std::find_if_not(result.rbegin(), result.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string SmartLayout(std::string_view records, double pageHeight, const TLayoutLocale& locale) {
    return smartLayout(records, pageHeight, locale);
}

std::string PositionLayout(std::string_view records, const TLayoutLocale& locale) {
    return positionLayout(records, locale);
}

std::string PageTextByLayout(korvel::TKorvel& engine, int layout, const TLayoutLocale& locale) {
    if (layout == kLayoutOrder)
        return engine.GetPageText(0);
    if (layout == kLayoutReading)
        return engine.GetReadingText();
    // The records are taken unwritten; a page with a record its line feed would break is
    // read from the written lines, as they break.
    std::vector<korvel::TPageRecord> records = engine.GetPageRecords();
    const bool broken = std::any_of(records.begin(), records.end(),
                                    [](const korvel::TPageRecord& r) { return r.Broken; });
    if (layout == kLayoutPosition)
        return broken ? PositionLayout(engine.GetPageText(3), locale)
                      : positionLayout(records, locale);
    // a stored layout outside 0 to 2 runs the default, smart rows
    const double height = engine.PageHeight();
    return broken ? SmartLayout(engine.GetPageText(3), height, locale)
                  : smartLayout(records, height, locale);
}

std::string PageTextByLayout(korvel::TKorvel& engine, int layout) {
    return PageTextByLayout(engine, layout, TLayoutLocale::System(engine.TextEncoding()));
}

} // namespace tolvane
