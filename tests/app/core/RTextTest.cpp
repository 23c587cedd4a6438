// Page text layouts over positioned-text records given as text: record splitting, row snapping,
// the smart rows and the position list.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <stdlib.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "RText.h"
#include "facade/uKorvel.h"
#include "support/PdfWriter.h"

using namespace tolvane;

namespace {

// One record as the engine writes it: font, colour, size, four corners, text.
std::string rec(double x, double y, const std::string& text) {
    char corners[200];
    std::snprintf(corners, sizeof corners, "%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f", x, y, x + 10,
                  y, x + 10, y + 10, x, y + 10);
    return "\"Helvetica\",#000000,12.00," + std::string(corners) + ",\"" + text + "\"\r\n";
}

TLayoutLocale pointLocale() {
    return TLayoutLocale::For("C", korvel::TTextEncoding::Cp1252);
}

std::vector<std::string> fields(std::string_view line, std::string_view separator = ",") {
    std::vector<std::string> out{"stale"};
    SplitFields(line, separator, out);
    return out;
}

using Fields = std::vector<std::string>;

} // namespace

TEST(SplitFields, QuotesEscapesAndSeparators) {
    EXPECT_EQ(fields("a,b,c"), (Fields{"a", "b", "c"}));
    EXPECT_EQ(fields(""), (Fields{""})) << "an empty line is one empty field";
    EXPECT_EQ(fields(",,"), (Fields{"", "", ""}));
    EXPECT_EQ(fields("\"x,y\",z"), (Fields{"x,y", "z"})) << "quotes hold commas and are dropped";
    EXPECT_EQ(fields("a\"b\"c"), (Fields{"abc"}));
    EXPECT_EQ(fields("\\\"x,y"), (Fields{"\"x", "y"})) << "an escaped quote does not flip quoting";
    EXPECT_EQ(fields("\"a\\\"b,c\""), (Fields{"a\"b,c"})) << "escapes work inside quotes";
    EXPECT_EQ(fields("a\\\\,b"), (Fields{"a\\", "b"}));
    EXPECT_EQ(fields("ab\\"), (Fields{"ab"})) << "a trailing escape adds nothing";
    EXPECT_EQ(fields("a\\,b"), (Fields{"a,b"}));
    EXPECT_EQ(fields("a:b::c", "::"), (Fields{"a:b", "c"})) << "a separator of two bytes";
    EXPECT_EQ(fields("a:b:::c", "::"), (Fields{"a:b", ":c"})) << "a separator's first byte alone";
    EXPECT_EQ(fields("\"x::y\"::z", "::"), (Fields{"x::y", "z"}));
    EXPECT_EQ(fields("\"unclosed,x"), (Fields{"unclosed,x"}));

    const Fields record = fields("\"Arial\",#000000,12.00,72.0000,698.2000,110.5000,698.2000,"
                                 "110.5000,707.9000,72.0000,707.9000,\"Hello\"");
    ASSERT_EQ(record.size(), 12u);
    EXPECT_EQ(record[0], "Arial");
    EXPECT_EQ(record[3], "72.0000");
    EXPECT_EQ(record[11], "Hello");
}

TEST(SplitRecordLines, BreaksEmptyLinesAndNul) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitRecordLines("a\rb\nc\r\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitRecordLines("a\r\n"), (Lines{"a"})) << "no empty line after the last break";
    EXPECT_EQ(SplitRecordLines("a\n\nb\r\r\nc"), (Lines{"a", "", "b", "", "c"}));
    EXPECT_EQ(SplitRecordLines("\n\r"), (Lines{"", ""}));
    EXPECT_EQ(SplitRecordLines(""), Lines{});
    EXPECT_EQ(SplitRecordLines(std::string("a\0b\r\nc", 6)), (Lines{"a b", "c"}))
        << "a NUL reads as a space and the page goes on";
}

TEST(RowSnapper, FirstKnownRowWithinTwoUnits) {
    TRowSnapper rows;
    EXPECT_EQ(rows.SnapToRow(700), 700);
    EXPECT_EQ(rows.SnapToRow(702), 700) << "exactly 2 away is the same row";
    EXPECT_EQ(rows.SnapToRow(702.5), 702.5) << "more than 2 away starts a row";
    EXPECT_EQ(rows.SnapToRow(701.3), 700) << "the first row met wins over the nearer one";
    EXPECT_EQ(rows.SnapToRow(698.1), 700);
    EXPECT_EQ(rows.SnapToRow(-3), -3);
    EXPECT_EQ(rows.SnapToRow(-1.5), -3);
    EXPECT_EQ(rows.RowCount(), 3u);
}

TEST(RowSnapper, MatchesALinearScanOfKnownRows) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> y(0, 60);
    TRowSnapper rows;
    std::vector<double> known;
    for (int i = 0; i < 3000; ++i) {
        const double value = std::round(y(random) * 8) / 8; // many exact 2-unit distances
        double expected = value;
        bool found = false;
        for (const double row : known)
            if (std::fabs(row - value) <= 2) {
                expected = row;
                found = true;
                break;
            }
        if (!found) {
            known.push_back(value);
        }
        ASSERT_EQ(rows.SnapToRow(value), expected) << value;
    }
}

TEST(SmartLayout, RowsTopDownThenLeftToRight) {
    const TLayoutLocale locale = pointLocale();
    // 700.5 and 701.8 share a row; the left record comes first whatever the record order.
    EXPECT_EQ(SmartLayout(rec(300, 701.8, "right") + rec(72, 700.5, "left") + rec(72, 680, "below"),
                          792, locale),
              "left  right\r\nbelow");
    EXPECT_EQ(SmartLayout(rec(72, 700, "low") + rec(72, 702.5, "high"), 792, locale), "high\r\nlow")
        << "2.5 apart: two rows, the higher first";
    EXPECT_EQ(SmartLayout(rec(72, 700, "a") + rec(90, 702, "b"), 792, locale), "a  b");
    EXPECT_EQ(SmartLayout("", 792, locale), "");
    EXPECT_EQ(SmartLayout("\r\n\r\nnot,a,record\r\n", 792, locale), "");
}

TEST(SmartLayout, SameSpotSortsByTextIgnoringCase) {
    const TLayoutLocale locale = pointLocale();
    EXPECT_EQ(SmartLayout(rec(72, 700, "beta") + rec(72, 700, "Alpha") + rec(72, 700, "alps"), 792,
                          locale),
              "Alpha  alps  beta");
}

TEST(SmartLayout, SkipsCutRecordsAndKeepsTextBytes) {
    const TLayoutLocale locale = pointLocale();
    // A block text with a line feed: the first part is still a whole record, the rest is not.
    const std::string cut = "\"F\",#000000,12.00,72,700,80,700,80,710,72,710,\"one\ntwo\"\r\n";
    EXPECT_EQ(SmartLayout(cut + rec(72, 600, "next"), 792, locale), "one\r\nnext");
    EXPECT_EQ(SmartLayout(rec(72, 700, "Caf\xe9, \\\"q\\\"") + rec(200, 700, ""), 792, locale),
              "Caf\xe9, \"q\"  ")
        << "an empty text still joins its row";
    EXPECT_EQ(SmartLayout(rec(72, 700, "") + rec(72, 600, "x"), 792, locale), "x")
        << "while the result is empty the next text starts it";
}

TEST(SmartLayout, NumbersOutsideTheirColumnsStillSortTopDownLeftRight) {
    const TLayoutLocale locale = pointLocale();
    const std::string records = rec(72, 100, "bottom") + rec(72, 800, "above the page") +
                                rec(-40, 400, "left of the page") + rec(300, 400, "middle") +
                                rec(72, -5e7, "far below") + rec(5e7, 100, "far right");
    EXPECT_EQ(SmartLayout(records, 792, locale),
              "above the page\r\nleft of the page  middle\r\nbottom  far right\r\nfar below");
}

// Sanitizer builds run several times slower; a quadratic join would still take minutes.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kOneSecondOfWork = 8.0;
#else
constexpr double kOneSecondOfWork = 1.0;
#endif

TEST(SmartLayout, TwentyThousandRecordsTakeWellUnderASecond) {
    const TLayoutLocale locale = pointLocale();
    std::string distinctRows;
    std::string oneRow;
    for (int i = 0; i < 20000; ++i) {
        distinctRows += rec(72 + i % 7, 100000 - i * 3.0, "w" + std::to_string(i));
        oneRow += rec(20000 - i, 700, "w");
    }
    for (const std::string* records : {&distinctRows, &oneRow}) {
        const auto start = std::chrono::steady_clock::now();
        const std::string text = SmartLayout(*records, 792, locale);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, kOneSecondOfWork);
        EXPECT_FALSE(text.empty());
    }
}

TEST(PositionLayout, OneLinePerTextWithRoundedCoordinates) {
    const TLayoutLocale locale = pointLocale();
    EXPECT_EQ(PositionLayout(rec(72.004, 700, "Hello"), locale),
              "@X=72.00,Y=700.00@Hello@ENDTEXT@");
    EXPECT_EQ(PositionLayout(rec(1, 2, "a") + rec(3, 4, "") + rec(5.555, -6, " b "), locale),
              "@X=1.00,Y=2.00@a@ENDTEXT@\r\n@X=5.55,Y=-6.00@ b @ENDTEXT@")
        << "empty texts add no line; the last CR LF is trimmed";
    EXPECT_EQ(PositionLayout(rec(1, 2, ""), locale), "");
    EXPECT_EQ(PositionLayout("x,y\r\n", locale), "");
}

TEST(Locale, DecimalSeparatorComesFromTheUserLocale) {
    const TLayoutLocale german = TLayoutLocale::For("de_DE.UTF-8",
                                                    korvel::TTextEncoding::Cp1252);
    EXPECT_EQ(german.DecimalSeparator(), ",");
    EXPECT_EQ(PositionLayout(rec(72.004, 700.5, "Hallo"), german),
              "@X=72,00,Y=700,50@Hallo@ENDTEXT@");
    EXPECT_EQ(FormatFixed2(-3.14159, ",", 10), "     -3,14");

    // Under LC_ALL=de_DE.UTF-8 (the _de_DE run of this test) the system locale is German.
    if (std::getenv("TOLVANE_TEST_GERMAN")) {
        EXPECT_EQ(TLayoutLocale::System(korvel::TTextEncoding::Utf8).DecimalSeparator(), ",");
    }
}

TEST(Locale, FixedTwoDecimalsMatchPrintf) {
    // The C library's "%10.2f" is the reference for rounding (halves of the binary value).
    std::setlocale(LC_NUMERIC, "C");
    std::mt19937 random(5);
    std::uniform_real_distribution<double> value(-2e5, 2e5);
    std::vector<double> values{0, -0.001, 0.125, 0.375, 2.675, 1.005, 999999.995, 1e12, -1e-9};
    for (int i = 0; i < 2000; ++i)
        values.push_back(std::round(value(random) * 1000) / 1000);
    for (const double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%10.2f", v);
        ASSERT_EQ(FormatFixed2(v, ".", 10), expected) << v;
    }
}

// The values below are what the desktop toolkit's system locale gives for these names (CLDR
// data, whether or not the C library has the locale): the layouts and the date placeholder
// must not change when the command line reads the locale without it.
TEST(Locale, DatesAndSeparatorsByLocaleName) {
    struct TCase {
        const char* Name;
        const char* Date; // 4 March 2026
        const char* Separator;
    };
    for (const TCase& c : {TCase{"C", "4 Mar 2026", "."}, TCase{"C.UTF-8", "4 Mar 2026", "."},
                           TCase{"POSIX", "4 Mar 2026", "."}, TCase{"", "4 Mar 2026", "."},
                           TCase{"xx_YY.UTF-8", "4 Mar 2026", "."},
                           TCase{"de_DE.UTF-8", "04.03.26", ","},
                           TCase{"fr_FR.UTF-8", "04/03/2026", ","},
                           TCase{"en_US.UTF-8", "3/4/26", "."}, TCase{"en_GB", "04/03/2026", "."},
                           TCase{"ja_JP.UTF-8", "2026/03/04", "."},
                           TCase{"th_TH.UTF-8", "4/3/26", "."}}) {
        EXPECT_EQ(ShortDateOf(c.Name, 2026, 3, 4), c.Date) << c.Name;
        EXPECT_EQ(DecimalSeparatorOf(c.Name), c.Separator) << c.Name;
    }
}

TEST(Locale, CollationIgnoresCaseOnly) {
    const auto order = [](const TCollator& collator, const char* a, const char* b) {
        const int result = collator.Compare(Utf8ToUtf16(a), Utf8ToUtf16(b));
        return result < 0 ? -1 : result > 0 ? 1 : 0;
    };
    const TCollator c("C.UTF-8");
    const TCollator german("de_DE.UTF-8");
    const TCollator swedish("sv_SE.UTF-8");
    struct TCase {
        const char* A;
        const char* B;
        int C, German, Swedish;
    };
    for (const TCase& t : {TCase{"a", "A", 0, 0, 0}, TCase{"a", "B", -1, -1, -1},
                           TCase{"B", "a", 1, 1, 1}, TCase{"", "a", -1, -1, -1},
                           TCase{"\xc3\xa4", "b", 1, -1, 1},   // ä: after z in code order and Swedish
                           TCase{"\xc3\xa4", "a", 1, 1, 1},    // accents count
                           TCase{"\xc3\x84", "\xc3\xa4", 0, 0, 0}, // Ä, ä
                           TCase{"a b", "ab", -1, -1, -1}}) {
        EXPECT_EQ(order(c, t.A, t.B), t.C) << t.A << " " << t.B;
        EXPECT_EQ(order(german, t.A, t.B), t.German) << t.A << " " << t.B;
        EXPECT_EQ(order(swedish, t.A, t.B), t.Swedish) << t.A << " " << t.B;
    }
}

TEST(Locale, NamesFromTheEnvironmentInTheToolkitsOrder) {
    const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LC_TIME", "LANG",
                                 "LANGUAGE"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        ::unsetenv(name);
    }
    ::setenv("LANG", "de_DE.UTF-8", 1);
    ::setenv("LC_NUMERIC", "fr_FR.UTF-8", 1);
    ::setenv("LC_TIME", "en_US.UTF-8", 1);
    EXPECT_EQ(CollationLocaleName(), "de_DE.UTF-8");
    EXPECT_EQ(NumericLocaleName(), "fr_FR.UTF-8");
    EXPECT_EQ(TimeLocaleName(), "en_US.UTF-8");
    ::setenv("LANGUAGE", "de", 1); // says less than LANG: LANG stays
    EXPECT_EQ(CollationLocaleName(), "de_DE.UTF-8");
    ::setenv("LANGUAGE", "sv:de", 1); // contradicts it: the first entry wins
    EXPECT_EQ(CollationLocaleName(), "sv");
    ::setenv("LC_ALL", "C", 1); // the C locale takes no LANGUAGE
    EXPECT_EQ(CollationLocaleName(), "C");
    EXPECT_EQ(NumericLocaleName(), "C");
    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (saved[i])
            ::setenv(names[i], saved[i]->c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

// The rows and the position list read the engine's records unwritten; they must give what the
// written lines give, whatever the texts hold (line breaks, NUL bytes, quotes, backslashes),
// in either encoding, units and origin.
TEST(PageTextByLayout, RecordsTakenUnwrittenReadAsTheirWrittenLines) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    // Codes A to F show: A, a line feed, a carriage return, NUL, a quote, a backslash.
    w.Set(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>");
    w.SetStream(6, "",
                "begincmap\n1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
                "6 beginbfchar\n<41> <0041>\n<42> <000A>\n<43> <000D>\n<44> <0000>\n"
                "<45> <0022>\n<46> <005C>\nendbfchar\nendcmap\n");
    const std::vector<std::string> contents = {
        "BT /F1 12 Tf 72 700 Td (AAA) Tj 200 0.7 Td (AA) Tj 0 -20 Td (A) Tj ET",
        "BT /F1 12 Tf 72 700 Td (ACA) Tj 100 0 Td (ADA) Tj ET",
        "BT /F1 12 Tf 72.123456 700.98765 Td (AEFA) Tj ET",
        "BT /F1 12 Tf 72 700 Td (ABA) Tj 0 -30 Td (AA) Tj ET", // a line feed breaks its record
    };
    std::string kids;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const int page = 10 + 2 * static_cast<int>(i);
        kids += std::to_string(page) + " 0 R ";
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                        std::to_string(page + 1) +
                        " 0 R /Resources << /Font << /F1 5 0 R >> >> >>");
        w.SetStream(page + 1, "", contents[i]);
    }
    w.Set(2,
          "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(contents.size()) + " >>");
    const std::string pdf = w.Finish();

    for (const auto encoding : {korvel::TTextEncoding::Cp1252, korvel::TTextEncoding::Utf8})
        for (const auto& [units, origin] : {std::pair{0, 0}, {1, 1}, {2, 2}, {0, 3}}) {
            korvel::TKorvel engine;
            engine.SetTextEncoding(encoding);
            ASSERT_EQ(engine.LoadFromBytes(pdf), 1);
            engine.SetMeasurementUnits(units);
            engine.SetOrigin(origin);
            const TLayoutLocale locale = TLayoutLocale::For("C", encoding);
            for (int page = 1; page <= static_cast<int>(contents.size()); ++page) {
                SCOPED_TRACE("page " + std::to_string(page) + ", units " + std::to_string(units) +
                             ", origin " + std::to_string(origin));
                engine.SelectPage(page);
                const std::string written = engine.GetPageText(3);
                EXPECT_EQ(PageTextByLayout(engine, kLayoutSmart, locale),
                          SmartLayout(written, engine.PageHeight(), locale));
                EXPECT_EQ(PageTextByLayout(engine, kLayoutPosition, locale),
                          PositionLayout(written, locale));
            }
        }
}
