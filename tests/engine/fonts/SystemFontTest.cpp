#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fonts/uPDFDingbats.h"
#include "fonts/uPDFSystemFont.h"
#include "platform/uInstalledFonts.h"

using namespace korvel;

namespace {

std::string describe(std::string_view family, TFontStyle style) {
    return std::string(family) + (style.Bold ? " bold" : "") + (style.Italic ? " italic" : "");
}

// Installed fonts from a list: every listed family, and the fallbacks Arial, Courier and Times
// New Roman, has data in every style unless named in Missing or Oversized; the data is the
// description of the font. Records the fonts asked for, in order.
class ListedFonts : public TInstalledFonts {
public:
    std::vector<std::string> Families = {"Arial",  "Arial Narrow",    "Book Antiqua", "Courier New",
                                         "Symbol", "Times New Roman", "Wingdings"};
    std::set<std::string> Missing, Oversized; // by describe()
    std::vector<std::string> Asked;

protected:
    std::vector<std::string> EnumerateFamilies() override { return Families; }
    std::uint64_t DataSize(std::string_view family, TFontStyle style) override {
        const std::string font = describe(family, style);
        Asked.push_back(font);
        if (Missing.count(font) || Missing.count(std::string(family)))
            return 0;
        return Oversized.count(font) ? kMaxInstalledFontData + 1 : font.size();
    }
    std::string ReadData(std::string_view family, TFontStyle style, std::uint64_t) override {
        return describe(family, style);
    }
};

std::uint32_t u32At(const std::string& s, std::size_t at) {
    return std::uint32_t(static_cast<unsigned char>(s.at(at))) << 24 |
           std::uint32_t(static_cast<unsigned char>(s.at(at + 1))) << 16 |
           std::uint32_t(static_cast<unsigned char>(s.at(at + 2))) << 8 |
           std::uint32_t(static_cast<unsigned char>(s.at(at + 3)));
}
unsigned u16At(const std::string& s, std::size_t at) {
    return u32At(s, at) >> 16;
}

constexpr std::int32_t kFixedPitch = 1, kSerif = 2, kItalic = 64;

} // namespace

TEST(SystemSubstitute, TheNameChoosesAListedFamilyAndStyle) {
    const struct {
        const char* Name;
        const char* BaseFont;
        std::int32_t Flags;
        const char* Chosen; // describe() of the font asked for
    } cases[] = {
        {"a trailing MT goes", "Arial-BoldMT", 0, "Arial bold"},
        {"a subset prefix goes", "ABCDEF+Arial-BoldMT", 0, "Arial bold"},
        {"the first MT- goes", "MT-BookAntiqua", 0, "Book Antiqua"},
        {"everything from a plus on goes", "Wingdings+abcdef", 0, "Wingdings"},
        {"lower-case letters are no subset prefix", "abcdef+Wingdings", 0, "Arial"},
        {"a short prefix takes the name with it", "ABC+Wingdings", 0, "Arial"},
        {"a standard font becomes its substitute", "Helvetica", 0, "Arial"},
        {"BoldOblique becomes bold italic", "Helvetica-BoldOblique", 0, "Arial bold italic"},
        {"Oblique becomes italic", "Helvetica-Oblique", 0, "Arial italic"},
        {"Times-Roman finds the family with spaces", "Times-Roman", 0, "Times New Roman"},
        {"Symbol is its own substitute", "Symbol", kSerif, "Symbol"},
        {",Italic gives italic", "BookAntiqua,Italic", 0, "Book Antiqua italic"},
        {",BoldItalic gives bold italic", "BookAntiqua,BoldItalic", 0, "Book Antiqua bold italic"},
        {"-Bold gives bold", "BookAntiqua-Bold", 0, "Book Antiqua bold"},
        {"-Italic gives italic", "ArialNarrow-Italic", 0, "Arial Narrow italic"},
        {"style flags do not touch a listed family", "Wingdings", kFixedPitch | kItalic,
         "Wingdings"},
        {"names compare with case", "wingdings", 0, "Arial"},
        {"an unknown font is Arial", "Garamond", 0, "Arial"},
        {"an unknown font loses the style of its name", "Garamond,Bold", 0, "Arial"},
        {"FixedPitch gives Courier", "Garamond", kFixedPitch, "Courier"},
        {"Serif gives Times New Roman", "Garamond", kSerif, "Times New Roman"},
        {"Serif wins over FixedPitch", "Garamond", kFixedPitch | kSerif, "Times New Roman"},
        {"the Italic flag gives italic", "Garamond-Bold", kItalic, "Arial italic"},
        {"Serif and Italic give Times New Roman italic", "Garamond", kSerif | kItalic,
         "Times New Roman italic"},
        {"an empty name is Arial", "", 0, "Arial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ListedFonts fonts;
        const TSystemSubstitute chosen = SystemSubstitute(c.BaseFont, c.Flags, fonts);
        EXPECT_EQ(describe(chosen.Family, chosen.Style), c.Chosen);
        ASSERT_NE(chosen.Data, nullptr);
        EXPECT_EQ(*chosen.Data, c.Chosen);
        EXPECT_EQ(fonts.Asked, std::vector<std::string>{c.Chosen});
    }
}

TEST(SystemSubstitute, AFamilyWithoutUsableDataFallsBackToArialInTheSameStyle) {
    const struct {
        const char* Name;
        const char* BaseFont;
        std::set<std::string> Missing, Oversized;
        std::vector<std::string> Asked;
        const char* Data; // nullptr: none
    } cases[] = {
        {"a family without data",
         "Wingdings,Bold",
         {"Wingdings"},
         {},
         {"Wingdings bold", "Arial bold"},
         "Arial bold"},
        {"a family claiming more than the limit",
         "BookAntiqua,Italic",
         {},
         {"Book Antiqua italic"},
         {"Book Antiqua italic", "Arial italic"},
         "Arial italic"},
        {"Arial itself missing gives no data, asked once",
         "Arial",
         {"Arial"},
         {},
         {"Arial"},
         nullptr},
        {"nothing at all gives no data",
         "Symbol",
         {"Symbol", "Arial"},
         {},
         {"Symbol", "Arial"},
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ListedFonts fonts;
        fonts.Missing = c.Missing;
        fonts.Oversized = c.Oversized;
        const TSystemSubstitute chosen = SystemSubstitute(c.BaseFont, 0, fonts);
        EXPECT_EQ(fonts.Asked, c.Asked);
        EXPECT_EQ(chosen.Family, "Arial");
        if (c.Data) {
            ASSERT_NE(chosen.Data, nullptr);
            EXPECT_EQ(*chosen.Data, c.Data);
        } else {
            EXPECT_EQ(chosen.Data, nullptr);
        }
    }
}

TEST(SystemSubstitute, UsesTheProcessServiceByDefault) {
    ListedFonts fonts;
    SetInstalledFonts(&fonts);
    const TSystemSubstitute chosen = SystemSubstitute("TimesNewRoman-BoldItalic", 0);
    SetInstalledFonts(nullptr);
    EXPECT_EQ(describe(chosen.Family, chosen.Style), "Times New Roman bold italic");
}

TEST(DingbatsFont, InflatesToATrueTypeFileWithItsCoreTables) {
    const std::string& font = BuiltInDingbatsFont();
    ASSERT_GE(font.size(), 12u);
    EXPECT_EQ(u32At(font, 0), 0x00010000u);
    const unsigned tables = u16At(font, 4);
    ASSERT_GE(font.size(), 12 + 16 * tables);
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> directory;
    for (unsigned i = 0; i < tables; ++i) {
        const std::size_t entry = 12 + 16 * i;
        const std::uint32_t at = u32At(font, entry + 8), length = u32At(font, entry + 12);
        EXPECT_LE(std::uint64_t(at) + length, font.size());
        directory[font.substr(entry, 4)] = {at, length};
    }
    for (const char* tag : {"head", "hhea", "maxp", "hmtx", "cmap", "post", "name", "OS/2"})
        EXPECT_EQ(directory.count(tag), 1u) << tag;
    ASSERT_EQ(directory.count("head"), 1u);
    const std::uint32_t head = directory["head"].first;
    EXPECT_EQ(u32At(font, head + 12), 0x5F0F3CF5u); // magic number
    EXPECT_EQ(u16At(font, head + 18), 2048u);       // units per em
    const unsigned glyphs = u16At(font, directory["maxp"].first + 4);
    EXPECT_GE(glyphs, 2u);
    EXPECT_EQ(u16At(font, directory["hhea"].first + 34), glyphs); // a width for every glyph
    // The whole file sums to the font checksum constant, as checkSumAdjustment arranges.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 <= font.size(); i += 4)
        sum += u32At(font, i);
    EXPECT_EQ(sum, 0xB1B0AFBAu);
}

TEST(DingbatsFont, IsInflatedOnceAndKept) {
    EXPECT_EQ(&BuiltInDingbatsFont(), &BuiltInDingbatsFont());
    EXPECT_EQ(&DingbatsFontData(), &BuiltInDingbatsFont());
}
