#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fonts/uPDFTrueTypeParser.h"
#include "support/FontPrograms.h"

using namespace korvel;
using tolvane_test::Put16;
using tolvane_test::Put32;

namespace {

// A TrueType file made of the given tables, in order, each 4-aligned after the directory. An
// entry's offset and length can be overridden to make the directory lie.
struct TFontBuilder {
    std::uint32_t Version = 0x00010000;
    std::vector<tolvane_test::SfntTable> Tables;
    std::int32_t NumTables = -1;

    TFontBuilder& Add(const std::string& tag, const std::string& data) {
        Tables.push_back({tag, data});
        return *this;
    }
    std::string Build() const { return tolvane_test::SfntFile(Tables, Version, NumTables); }
};

std::string head(std::uint32_t unitsPerEm) {
    std::string t(18, '\0');
    Put16(t, unitsPerEm);
    t.resize(54, '\0');
    return t;
}

std::string maxp(std::uint32_t numGlyphs) {
    std::string t;
    Put32(t, 0x00005000);
    Put16(t, numGlyphs);
    return t;
}

std::string hhea(std::uint32_t numberOfHMetrics, std::uint32_t version = 0x00010000) {
    std::string t;
    Put32(t, version);
    t.resize(34, '\0');
    Put16(t, numberOfHMetrics);
    return t;
}

std::string hmtx(const std::vector<std::uint32_t>& advances) {
    std::string t;
    for (std::uint32_t a : advances) {
        Put16(t, a);
        Put16(t, 0);
    }
    return t;
}

std::string postHead(std::uint32_t version) {
    std::string t;
    Put32(t, version);
    t.resize(32, '\0');
    return t;
}

std::string post2(std::uint32_t count, const std::vector<std::uint32_t>& indexes,
                  const std::vector<std::string>& names) {
    std::string t = postHead(0x00020000);
    Put16(t, count);
    for (std::uint32_t i : indexes)
        Put16(t, i);
    for (const std::string& n : names)
        t += char(n.size()) + n;
    return t;
}

std::string post25(std::uint32_t count, const std::vector<int>& offsets) {
    std::string t = postHead(0x00025000);
    Put16(t, count);
    for (int o : offsets)
        t += char(o);
    return t;
}

// A font with head, maxp, post and hhea + hmtx.
std::string font(std::uint32_t glyphs, const std::string& post,
                 const std::vector<std::uint32_t>& advances = {500}) {
    return TFontBuilder()
        .Add("head", head(1000))
        .Add("maxp", maxp(glyphs))
        .Add("post", post)
        .Add("hhea", hhea(std::uint32_t(advances.size())))
        .Add("hmtx", hmtx(advances))
        .Build();
}

TPDFTrueTypeParser load(const std::string& data) {
    TPDFTrueTypeParser parser;
    parser.LoadTrueType(data);
    return parser;
}

// The names of a font joined with "|".
std::string namesOf(const TPDFTrueTypeParser& parser) {
    std::string out;
    for (std::size_t g = 0; g < parser.GlyphNames().size(); ++g)
        out += (g == 0 ? "" : "|") + parser.GlyphNames()[g];
    return std::to_string(parser.GlyphNames().size()) + ":" + out;
}

} // namespace

TEST(TrueTypeNames, EachPostVersionNamesTheGlyphsItsWay) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {font(5, postHead(0x00010000)), "5:.notdef|.null|nonmarkingreturn|space|exclam"},
        {font(3, post2(3, {3, 258, 36}, {"alpha"})), "3:space|alpha|A"},
        // numberOfGlyphs is lowered to numGlyphs; custom names past the strings stay empty.
        {font(2, post2(4, {258, 260}, {"a1", "a2"})), "2:a1|"},
        {font(4, post2(2, {4, 5}, {})), "4:exclam|quotedbl||"},
        // Glyph i gets the name i + offset when that lies in 1..257.
        {font(4, post25(4, {0, 2, -1, 1})), "4:|space|.null|exclam"},
        {font(4, post25(4, {1, 0, -2, -128})), "4:.null|.null||"}, // .notdef is never given
        {font(3, postHead(0x00030000)), "0:"},
        {font(3, postHead(0x00040000)), "3:||"},             // an unknown version: empty names
        {font(3, std::string(2, '\0')), "3:||"},             // too short for a version
        {TFontBuilder().Add("maxp", maxp(3)).Build(), "0:"}, // no post table
        {TFontBuilder().Add("post", postHead(0x00010000)).Build(), "0:"}, // no maxp: 0 glyphs
    };
    for (const auto& [data, expected] : cases)
        EXPECT_EQ(namesOf(load(data)), expected);
}

TEST(TrueTypeNames, MacintoshNamesStopAt258Glyphs) {
    const TPDFTrueTypeParser parser = load(font(300, postHead(0x00010000)));
    ASSERT_EQ(parser.GlyphNames().size(), 300u);
    EXPECT_EQ(parser.GlyphNames()[257], "dcroat");
    EXPECT_EQ(parser.GlyphNames()[258], "");
}

TEST(TrueTypeNames, TheHighestGlyphOfANameIsFound) {
    const TPDFTrueTypeParser parser =
        load(font(7, post2(7, {0, 258, 3, 258, 259, 3, 36}, {"alpha", "beta"})));
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"alpha", 3},  {"space", 5}, {"beta", 4},   {"A", 6}, {".notdef", 0},
        {"gamma", -1}, {"alph", -1}, {"Alpha", -1}, {"", -1},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(parser.GlyphIndexOfName(name), expected) << name;
    // Empty names are names too; a font without any names finds nothing, not even "".
    EXPECT_EQ(load(font(4, post2(2, {4, 5}, {}))).GlyphIndexOfName(""), 3);
    EXPECT_EQ(load(font(4, postHead(0x00030000))).GlyphIndexOfName(""), -1);
}

TEST(TrueTypeWidths, AdvancesScaleToThousandthsAndRepeatTheLast) {
    auto withHead = [](std::uint32_t unitsPerEm, const std::vector<std::uint32_t>& advances,
                       std::uint32_t numberOfHMetrics) {
        return load(TFontBuilder()
                        .Add("head", head(unitsPerEm))
                        .Add("hhea", hhea(numberOfHMetrics))
                        .Add("hmtx", hmtx(advances))
                        .Build());
    };
    struct TCase {
        TPDFTrueTypeParser Parser;
        std::int32_t Glyph, Expected;
    };
    const TCase cases[] = {
        {withHead(2048, {1229}, 1), 0, 600},
        {withHead(2048, {1229, 2048, 1000}, 3), 999, 488}, // past the metrics: the last
        {withHead(1000, {300, 400, 500}, 2), 2, 400},      // numberOfHMetrics counts
        {withHead(16, {65535}, 1), 0, 32705},              // 4 095 937 kept in 16 bits
        {withHead(0, {2048}, 1), 0, 1000},       // a zero unitsPerEm keeps the default 2048
        {withHead(1000, {300, 400}, 5), 4, 400}, // hmtx shorter than claimed
        {withHead(1000, {300}, 0), 0, 750},
        {load(TFontBuilder().Add("hhea", hhea(1, 0x00020000)).Add("hmtx", hmtx({5})).Build()), 0,
         750},
        {load(TFontBuilder().Add("hmtx", hmtx({5})).Build()), 0, 750}, // no hhea
        {load(""), 0, 750},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(c.Parser.AdvanceWidth(c.Glyph), c.Expected) << c.Glyph;
}

TEST(TrueTypeDirectory, OnlyTrueTypeVersionsAreRead) {
    const std::vector<std::pair<std::uint32_t, bool>> cases = {
        {0x00010000, true},  {0x74727565, true}, {0x74797031, true}, // 1.0, "true", "typ1"
        {0x4F54544F, false},                                         // "OTTO"
        {0x74746366, false},                                         // "ttcf"
        {0x00020000, false},
    };
    for (const auto& [version, read] : cases) {
        TFontBuilder builder;
        builder.Version = version;
        const TPDFTrueTypeParser parser = load(builder.Add("maxp", maxp(9)).Build());
        EXPECT_EQ(parser.SfntVersion(), version);
        EXPECT_EQ(parser.NumGlyphs(), read ? 9 : 0) << version;
        EXPECT_EQ(parser.Directory().size(), read ? 1u : 0u) << version;
    }
}

TEST(TrueTypeDirectory, TheFirstEntryOfATagCounts) {
    const TPDFTrueTypeParser parser =
        load(TFontBuilder().Add("head", head(1000)).Add("head", head(2000)).Build());
    EXPECT_EQ(parser.UnitsPerEm(), 1000);
    ASSERT_NE(parser.FindTable("head"), nullptr);
    EXPECT_EQ(parser.FindTable("head"), &parser.Directory()[0]);
    EXPECT_EQ(parser.FindTable("glyf"), nullptr);
}

TEST(TrueTypeDirectory, AFontThatLiesAboutItsSizesKeepsDefaults) {
    TFontBuilder lyingCount;
    lyingCount.Add("head", head(1000));
    lyingCount.NumTables = 65535;
    TFontBuilder farHead;
    farHead.Add("maxp", maxp(4)).Add("head", head(1000));
    farHead.Tables[1].Offset = 0xFFFFFFF0;
    TFontBuilder longHead;
    longHead.Add("head", head(1000));
    longHead.Tables[0].Length = 0xFFFFFFFF; // cut at the end of the data
    TFontBuilder shortHead;
    shortHead.Add("head", head(1000));
    shortHead.Tables[0].Length = 19; // unitsPerEm does not fit
    TFontBuilder longNames;          // post 2.0 whose strings run past the table
    std::string post = post2(3, {258, 259, 260}, {"one"});
    post += char(200);
    post += "two";
    longNames.Add("maxp", maxp(3)).Add("post", post);

    struct TCase {
        std::string Name, Data;
        std::uint16_t UnitsPerEm, NumGlyphs;
        std::string Names;
    };
    const TCase cases[] = {
        {"table count past the data", lyingCount.Build(), 1000, 0, "0:"},
        {"table offset past the data", farHead.Build(), 2048, 4, "0:"},
        {"table length past the data", longHead.Build(), 1000, 0, "0:"},
        {"field past the table's length", shortHead.Build(), 2048, 0, "0:"},
        {"name strings past the table", longNames.Build(), 2048, 3, "3:one||"},
        {"truncated directory", farHead.Build().substr(0, 20), 2048, 0, "0:"},
        {"four bytes", std::string("\0\1\0\0", 4), 2048, 0, "0:"},
    };
    for (const TCase& c : cases) {
        const TPDFTrueTypeParser parser = load(c.Data);
        EXPECT_EQ(parser.UnitsPerEm(), c.UnitsPerEm) << c.Name;
        EXPECT_EQ(parser.NumGlyphs(), c.NumGlyphs) << c.Name;
        EXPECT_EQ(namesOf(parser), c.Names) << c.Name;
    }
}

TEST(TrueTypeDirectory, ALoadForgetsTheFontBefore) {
    TPDFTrueTypeParser parser;
    parser.LoadTrueType(font(5, postHead(0x00010000), {100, 200}));
    EXPECT_EQ(parser.GlyphIndexOfName("space"), 3);
    parser.LoadTrueType("");
    EXPECT_EQ(parser.GlyphIndexOfName("space"), -1);
    EXPECT_EQ(parser.AdvanceWidth(0), 750);
    EXPECT_EQ(parser.UnitsPerEm(), 2048);
}

TEST(TrueTypeDirectory, DamagedFontsReadWithoutFault) {
    const std::string good =
        font(40, post2(40, std::vector<std::uint32_t>(40, 300), {"a", "b"}), {1, 2, 3});
    std::mt19937 random(3);
    for (int round = 0; round < 3000; ++round) {
        std::string data = good;
        for (int k = 0; k < 4; ++k)
            data[random() % data.size()] = char(random());
        data.resize(random() % (data.size() + 1));
        const TPDFTrueTypeParser parser = load(data);
        EXPECT_LE(parser.GlyphNames().size(), 65535u);
        parser.GlyphIndexOfName("a");
        parser.AdvanceWidth(int(random() % 100));
    }
}
