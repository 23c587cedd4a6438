#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "file/uPDFStructure.h"
#include "fonts/FontTables.h"
#include "fonts/uPDFFontConst.h"

using namespace korvel;

namespace {

constexpr auto kStandard = TPDFBaseEncoding::Standard;
constexpr auto kMacRoman = TPDFBaseEncoding::MacRoman;
constexpr auto kWinAnsi = TPDFBaseEncoding::WinAnsi;
constexpr auto kPDFDoc = TPDFBaseEncoding::PDFDoc;
constexpr auto kMacExpert = TPDFBaseEncoding::MacExpert;
constexpr auto kCp1252 = TTextEncoding::Cp1252;
constexpr auto kUtf8 = TTextEncoding::Utf8;

const char* nameOf(TPDFBaseEncoding kind) {
    static const char* const names[] = {"Standard", "MacRoman", "WinAnsi", "PDFDoc", "MacExpert"};
    return names[static_cast<int>(kind)];
}

std::string utf8(char32_t cp) {
    std::string out;
    AppendUtf8(out, cp);
    return out;
}

// The WinAnsi codes that have no character of their own and are filled with "bullet".
bool isBulletFill(int code) {
    return code == 127 || code == 129 || code == 141 || code == 143 || code == 144 || code == 157;
}

// A Differences array made in a store whose references all resolve to the name /Q, so that a
// test can tell whether a reference was followed.
struct DifferencesFixture {
    TPDFStructure Store;
    DifferencesFixture() {
        Store.OnResolve = [this](const TPDFIndRef*, std::int32_t, std::int32_t) {
            return static_cast<TPDFObject*>(Store.CreateName("Q"));
        };
    }
    TPDFArray* Make(const std::vector<TPDFObject*>& items) { return Store.CreateArray(items); }
    TPDFObject* N(double v) { return Store.CreateNumber(v); }
    TPDFObject* Name(const char* v) { return Store.CreateName(v); }
    TPDFObject* Ref() { return Store.CreateRef(7, 0); }
};

// The glyph names that differ from Standard, as "code name" strings.
std::vector<std::string> changesFromStandard(const TPDFGlyphNames& names) {
    const TPDFGlyphNames base = BaseEncodingNames(kStandard);
    std::vector<std::string> changes;
    for (int c = 0; c < 256; ++c)
        if (names[c] != base[c])
            changes.push_back(std::to_string(c) + " " + names[c]);
    return changes;
}

} // namespace

TEST(FontTables, NameColumnsAreInByteOrderSoThatBinarySearchFindsEveryRow) {
    for (std::size_t i = 1; i < tables::kLatinCharsetCount; ++i)
        EXPECT_LT(std::strcmp(tables::kLatinCharset[i - 1].name, tables::kLatinCharset[i].name), 0)
            << i;
    for (std::size_t i = 0; i < tables::kLatinWidthsCount; ++i)
        EXPECT_STREQ(tables::kLatinWidths[i].name, tables::kLatinCharset[i].name) << i;
    for (std::size_t i = 1; i < tables::kGlyphListCount; ++i)
        EXPECT_LT(std::strcmp(tables::kGlyphList[i - 1].name, tables::kGlyphList[i].name), 0)
            << tables::kGlyphList[i].name;
}

TEST(EncodingKind, OnlyTheFiveExactNamesSelectAnEncoding) {
    const std::pair<const char*, TPDFBaseEncoding> cases[] = {{"StandardEncoding", kStandard},
                                                              {"MacRomanEncoding", kMacRoman},
                                                              {"WinAnsiEncoding", kWinAnsi},
                                                              {"PDFDocEncoding", kPDFDoc},
                                                              {"MacExpertEncoding", kMacExpert},
                                                              {"winansiencoding", kStandard},
                                                              {"WinAnsiEncoding ", kStandard},
                                                              {"Identity-H", kStandard},
                                                              {"", kStandard}};
    for (const auto& [name, kind] : cases)
        EXPECT_EQ(EncodingKindOfName(name), kind) << name;
}

TEST(BaseEncoding, TableCodesAndFillRulesGiveTheseNames) {
    struct Case {
        TPDFBaseEncoding Kind;
        int Code;
        const char* Name;
    };
    const Case cases[] = {
        {kStandard, 32, "space"},       {kStandard, 39, "quoteright"},
        {kStandard, 96, "quoteleft"},   {kStandard, 174, "fi"},
        {kStandard, 0, ".notdef"},      {kStandard, 128, ".notdef"},
        {kStandard, 255, ".notdef"},    {kWinAnsi, 0, ".notdef"},
        {kWinAnsi, 31, ".notdef"},      {kWinAnsi, 32, "space"},
        {kWinAnsi, 128, "Euro"},        {kWinAnsi, 160, "A0space"},
        {kWinAnsi, 173, "hyphen"},      {kWinAnsi, 127, "bullet"},
        {kWinAnsi, 129, "bullet"},      {kWinAnsi, 141, "bullet"},
        {kWinAnsi, 143, "bullet"},      {kWinAnsi, 144, "bullet"},
        {kWinAnsi, 157, "bullet"},      {kWinAnsi, 149, "bullet"},
        {kWinAnsi, 146, "quoteright"},  {kMacRoman, 202, "space"},
        {kMacRoman, 240, ".notdef"},    {kMacRoman, 219, "currency"},
        {kMacRoman, 213, "quoteright"}, {kMacRoman, 127, ".notdef"},
        {kPDFDoc, 160, "Euro"},         {kPDFDoc, 138, "minus"},
        {kPDFDoc, 147, "fi"},           {kPDFDoc, 173, ".notdef"},
        {kMacExpert, 97, "Asmall"},     {kMacExpert, 32, "A0space"},
        {kMacExpert, 65, ".notdef"},    {kMacExpert, 251, "Ringsmall"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BaseEncodingNames(c.Kind)[c.Code], c.Name) << nameOf(c.Kind) << " " << c.Code;
}

TEST(BaseEncoding, EachEncodingAssignsTheTablesCountOfCodes) {
    // Codes other than ".notdef": the table's rows plus the fill names.
    const std::pair<TPDFBaseEncoding, int> cases[] = {
        {kStandard, 149}, {kMacRoman, 208}, {kWinAnsi, 224}, {kPDFDoc, 229}, {kMacExpert, 93}};
    for (const auto& [kind, expected] : cases) {
        int named = 0;
        for (const std::string& name : BaseEncodingNames(kind))
            named += name != ".notdef";
        EXPECT_EQ(named, expected) << nameOf(kind);
    }
}

TEST(GlyphNamesToText, WinAnsiNamesGiveTheirOwnByteSaveTheFilledCodes) {
    const TPDFTextVector cp1252 = GlyphNamesToText(BaseEncodingNames(kWinAnsi));
    const TPDFTextVector utf = GlyphNamesToText(BaseEncodingNames(kWinAnsi), kUtf8);
    for (int c = 32; c < 256; ++c) {
        const int byte = isBulletFill(c) ? 149 : c == 173 ? 45 : c;
        EXPECT_EQ(cp1252[c], std::string(1, char(byte))) << c;
        EXPECT_EQ(utf[c], utf8(Cp1252ToUnicode(static_cast<unsigned char>(byte)))) << c;
    }
    // ".notdef" needs one byte; it is byte 0, which later stages treat as a space.
    for (int c = 0; c < 32; ++c) {
        EXPECT_EQ(cp1252[c], std::string(1, '\0')) << c;
        EXPECT_EQ(utf[c], std::string(1, '\0')) << c;
    }
}

TEST(GlyphNamesToText, CodesOfTheOtherEncodingsGiveThisTextInBothEncodings) {
    struct Case {
        TPDFBaseEncoding Kind;
        int Code;
        std::string Cp1252, Utf8;
    };
    const Case cases[] = {
        {kStandard, 65, "A", "A"},
        {kStandard, 39, "\x92", "\xE2\x80\x99"},
        {kStandard, 96, "\x91", "\xE2\x80\x98"},
        {kStandard, 174, "fi", "\xEF\xAC\x81"},
        {kStandard, 183, "\x95", "\xE2\x80\xA2"},
        {kMacRoman, 202, " ", " "},
        {kMacRoman, 142, "\xE9", "\xC3\xA9"},
        {kMacRoman, 240, std::string(1, '\0'), std::string(1, '\0')},
        {kPDFDoc, 160, "\x80", "\xE2\x82\xAC"},
        {kPDFDoc, 138, "minus", "\xE2\x88\x92"},
        {kPDFDoc, 147, "fi", "\xEF\xAC\x81"},
        {kMacExpert, 97, "Asmall", "\xEF\x9D\xA1"}, // the list's private-use small capital
        {kMacExpert, 32, "\xA0", "\xC2\xA0"},
        {kMacExpert, 48, "zerooldstyle", "\xEF\x9C\xB0"},
    };
    for (const Case& c : cases) {
        const TPDFGlyphNames names = BaseEncodingNames(c.Kind);
        EXPECT_EQ(GlyphNamesToText(names)[c.Code], c.Cp1252) << nameOf(c.Kind) << " " << c.Code;
        EXPECT_EQ(GlyphNamesToText(names, kUtf8)[c.Code], c.Utf8)
            << nameOf(c.Kind) << " " << c.Code;
    }
}

TEST(GlyphNameText, NamesWithoutAWinAnsiByteFollowTheGlyphListInUtf8Only) {
    struct Case {
        std::string Name, Cp1252, Utf8;
    };
    const Case cases[] = {
        // In the list.
        {"eacute", "\xE9", "\xC3\xA9"},
        {"Euro", "\x80", "\xE2\x82\xAC"},
        {"bullet", "\x95", "\xE2\x80\xA2"},
        {"hyphen", "-", "-"},
        {"A0space", "\xA0", "\xC2\xA0"},
        {"minus", "minus", "\xE2\x88\x92"},
        {"Zhecyrillic", "Zhecyrillic", "\xD0\x96"},
        {"dalethatafpatah", "dalethatafpatah", "\xD7\x93\xD6\xB2"},
        // uni with one or more groups of four, u with four to six digits.
        {"uni0041", "uni0041", "A"},
        {"uni00660069", "uni00660069", "fi"},
        {"uni20AC", "uni20AC", "\xE2\x82\xAC"},
        {"u0041", "u0041", "A"},
        {"u1F600", "u1F600", "\xF0\x9F\x98\x80"},
        {"u10FFFF", "u10FFFF", "\xF4\x8F\xBF\xBF"},
        // Suffixes drop, ligature components map one by one.
        {"a.sc", "a.sc", "a"},
        {"uni0041.alt", "uni0041.alt", "A"},
        {"f_i", "f_i", "fi"},
        {"f_f_i.liga", "f_f_i.liga", "ffi"},
        {"f_nosuchglyph", "f_nosuchglyph", "f"},
        // No value: the name passes through.
        {"nosuchglyph", "nosuchglyph", "nosuchglyph"},
        {"uni00e9", "uni00e9", "uni00e9"}, // hex digits must be upper case
        {"uniD800", "uniD800", "uniD800"}, // surrogates are no characters
        {"uni004", "uni004", "uni004"},
        {"uni004100", "uni004100", "uni004100"},
        {"u110000", "u110000", "u110000"},
        {"u41", "u41", "u41"},
        {"u0000041", "u0000041", "u0000041"},
        {".sc", ".sc", ".sc"},
        {"g123", "g123", "g123"},
        {"caf\xE9", "caf\xE9", "caf\xC3\xA9"}, // bytes read as the code page, still valid UTF-8
        {"", "", ""},
        {std::string("A\0B", 3), std::string("A\0B", 3), std::string("A\0B", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GlyphNameToText(c.Name), c.Cp1252) << c.Name;
        EXPECT_EQ(GlyphNameToText(c.Name, kUtf8), c.Utf8) << c.Name;
        EXPECT_EQ(GlyphNamesToText({c.Name}, kUtf8)[0], c.Utf8) << c.Name;
    }
}

// Without names as text (the reading road) a name no rule maps gives nothing, and a letter with
// a decimal code ("a224") gives the character of that code.
TEST(FontConst, GlyphNamesWithoutNamesAsText) {
    const std::pair<std::string, std::string> cases[] = {
        {"eacute", "\xC3\xA9"}, {"uni0041", "A"},    {"f_i", "fi"},
        {"nosuchglyph", ""},     {"g18", ""},         {"g123", ""},
        {"a224", "\xC3\xA0"},   {"a73", "I"},        {"a31", ""},
        {"a2244", ""},           {"H17075", ""},      {"", ""},
    };
    for (const auto& [name, utf8] : cases)
        EXPECT_EQ(GlyphNameToText(name, kUtf8, false), utf8) << name;
    EXPECT_EQ(GlyphNameToText("a224", TTextEncoding::Cp1252, false), "\xE0");
}

TEST(Differences, NumbersSetTheCodeAndNamesFillFromThere) {
    struct Case {
        const char* What;
        std::vector<std::string> Expected;
    };
    DifferencesFixture f;
    const std::pair<TPDFArray*, Case> cases[] = {
        {f.Make({f.N(300), f.Name("a"), f.Name("b")}), {"codes past 255 change nothing", {}}},
        {f.Make({f.N(65), f.Name("B"), f.N(66.4), f.Name("b"), f.Name("c")}),
         {"a number restarts the run", {"65 B", "66 b", "67 c"}}},
        {f.Make({f.N(65), f.Name("B"), f.Ref(), f.Name("C")}),
         {"a reference is skipped and not followed", {"65 B", "66 C"}}},
        {f.Make({f.N(-2), f.Name("x"), f.Name("y"), f.Name("z")}),
         {"negative codes advance into range", {"0 z"}}},
        {f.Make({f.N(254), f.Name("x"), f.Name("y"), f.Name("z")}),
         {"the run stops storing at 255", {"254 x", "255 y"}}},
        {f.Make({f.N(66.5), f.Name("a"), f.N(67.5), f.Name("b")}),
         {"halves round to even", {"66 a", "68 b"}}},
        {f.Make({f.N(10), f.Store.CreateString("s"), f.Store.CreateArray(), f.Store.CreateNull(),
                 f.Name("a")}),
         {"strings, arrays and nulls are skipped", {"10 a"}}},
        {f.Make({f.Name("zero"), f.Name("one")}),
         {"names before any number start at 0", {"0 zero", "1 one"}}},
        {f.Make({f.N(2147483647), f.Name("a"), f.Name("b"), f.N(3), f.Name("c")}),
         {"the code does not wrap at the 32-bit limit", {"3 c"}}},
        {f.Make({f.N(1e300), f.Name("a"), f.N(-1e300), f.Name("b")}),
         {"huge numbers saturate out of range", {}}},
        {f.Make({}), {"an empty array changes nothing", {}}},
    };
    for (const auto& [array, c] : cases) {
        TPDFGlyphNames names = BaseEncodingNames(kStandard);
        ApplyDifferences(names, array);
        EXPECT_EQ(changesFromStandard(names), c.Expected) << c.What;
    }
    TPDFGlyphNames names = BaseEncodingNames(kStandard);
    ApplyDifferences(names, nullptr);
    EXPECT_TRUE(changesFromStandard(names).empty());
}

TEST(StandardFontMatch, TheLastRowWhosePatternsHoldTheNameWins) {
    const std::pair<const char*, int> cases[] = {
        {"Courier", 1},
        {"CourierNewPS-BoldMT", 2},
        {"Courier,BoldItalic", 3},
        {"Helvetica", 5},
        {"ArialMT", 5},
        {"Arial,Bold", 6},
        {"Helvetica-BoldOblique", 7},
        {"Helvetica-Italic", 8},
        {"Times-Roman", 9},
        {"TimesNewRomanPS-BoldItalicMT", 12},
        {"Symbol", 13},
        {"ZapfDingbats", 14},
        {"", 14},     // matches every row
        {"MT", 12},   // a tail of many patterns
        {"Bold", 10}, // a tail of rows 2, 6 and 10
        {"ABCDEF+Helvetica", 0},
        {"Helvetica-Narrow", 0},
        {"helvetica", 0},
        {"Arial*", 0},
        {"Dingbats", 14},
    };
    for (const auto& [name, index] : cases)
        EXPECT_EQ(MatchStandardFont(name), index) << name;
}

TEST(StandardFontRow, RowsGiveSubstituteNameAscentAndDescent) {
    struct Case {
        int Index;
        const char* Substitute;
        double Ascent, Descent;
    };
    const Case cases[] = {{1, "CourierNew", 629, -157},
                          {2, "CourierNew,Bold", 626, -142},
                          {5, "Arial", 718, -207},
                          {9, "TimesNewRoman", 683, -217},
                          {12, "TimesNewRoman,BoldItalic", 699, -205},
                          {13, "Symbol", 699, -205},
                          {14, "ZapfDingbats", 699, -205}};
    for (const Case& c : cases) {
        const TPDFStandardFont* row = StandardFontRow(c.Index);
        ASSERT_NE(row, nullptr) << c.Index;
        EXPECT_EQ(row->SubstituteName, c.Substitute);
        EXPECT_EQ(StandardFontMetrics(c.Index).Ascent, c.Ascent) << c.Index;
        EXPECT_EQ(StandardFontMetrics(c.Index).Descent, c.Descent) << c.Index;
        // Every row matches its own substitute name unless a later row claims it.
        EXPECT_GE(MatchStandardFont(row->SubstituteName), c.Index) << c.Index;
    }
    for (int index : {-1, 0, 15, 1000}) {
        EXPECT_EQ(StandardFontRow(index), nullptr) << index;
        EXPECT_EQ(StandardFontMetrics(index).Ascent, 0) << index;
        EXPECT_EQ(StandardFontMetrics(index).Descent, 0) << index;
    }
}

TEST(StandardFontWidths, EachCodeGetsItsGlyphsWidthOr750) {
    struct Case {
        int Index;
        TPDFBaseEncoding Kind;
        int Code;
        double Width;
    };
    const Case cases[] = {
        {5, kStandard, 32, 278},   {5, kStandard, 65, 667},  {5, kStandard, 0, 750},
        {5, kWinAnsi, 128, 556},   {6, kStandard, 65, 722},  {7, kStandard, 65, 722},
        {8, kStandard, 65, 667},   {9, kStandard, 65, 722},  {10, kStandard, 65, 722},
        {11, kStandard, 65, 611},  {12, kStandard, 65, 667}, {9, kStandard, 32, 250},
        {10, kStandard, 87, 1000}, {9, kWinAnsi, 128, 500},  {1, kWinAnsi, 128, 600},
        {4, kStandard, 174, 600},  {5, kWinAnsi, 160, 750}, // "A0space" is no Latin glyph
        {5, kMacExpert, 97, 750},
    };
    for (const Case& c : cases) {
        TPDFWidths widths;
        widths.fill(-1);
        StandardFontWidths(c.Index, BaseEncodingNames(c.Kind), widths);
        EXPECT_EQ(widths[c.Code], c.Width) << c.Index << " " << nameOf(c.Kind) << " " << c.Code;
    }
}

TEST(StandardFontWidths, SymbolLooksNamesUpInItsOwnTable) {
    TPDFGlyphNames names;
    const std::pair<const char*, double> cases[] = {
        {"Alpha", 722},   {"alpha", 631}, {"Euro", 750},  {"bullet", 460}, {"one", 500},
        {"A0space", 250}, {"space", 750}, {"apple", 750}, {"A", 750},      {"", 750}};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        names[i] = cases[i].first;
    TPDFWidths widths;
    widths.fill(-1);
    StandardFontWidths(kStandardSymbolIndex, names, widths);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(widths[i], cases[i].second) << cases[i].first;
    EXPECT_EQ(widths[255], 750); // every code is written
}

TEST(StandardFontWidths, DingbatsAndNonStandardFontsLeaveTheWidthsAlone) {
    for (int index : {0, 14, 15, -3}) {
        TPDFWidths widths;
        widths.fill(123);
        StandardFontWidths(index, BaseEncodingNames(kStandard), widths);
        for (double w : widths)
            ASSERT_EQ(w, 123) << index;
    }
}
