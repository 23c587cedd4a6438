#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "file/uPDFStructure.h"
#include "fonts/uPDFCFF.h"
#include "fonts/uPDFType1.h"

using namespace korvel;

namespace {

// ---------------------------------------------------------------------------------------------
// A small CFF writer: INDEX structures, DICT operands in each encoding, and a whole font.

std::string Card16(unsigned v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 255)};
}

std::string Bytes(const std::vector<int>& values) {
    return std::string(values.begin(), values.end());
}

std::string Index(const std::vector<std::string>& items) {
    if (items.empty())
        return Card16(0);
    std::size_t total = 1;
    for (const std::string& item : items)
        total += item.size();
    const int offSize = total < 0x100 ? 1 : total < 0x10000 ? 2 : 3;
    std::string out = Card16(static_cast<unsigned>(items.size()));
    out.push_back(static_cast<char>(offSize));
    std::size_t offset = 1;
    auto putOffset = [&](std::size_t v) {
        for (int k = offSize - 1; k >= 0; --k)
            out.push_back(static_cast<char>((v >> (8 * k)) & 255));
    };
    putOffset(offset);
    for (const std::string& item : items)
        putOffset(offset += item.size());
    for (const std::string& item : items)
        out += item;
    return out;
}

// DICT operands: 1 byte (-107..107), 2 bytes (±108..±1131), 3 bytes (28), 5 bytes (29), real.
std::string Int1(int v) {
    return {static_cast<char>(v + 139)};
}
std::string Int2(int v) {
    const int m = (v < 0 ? -v : v) - 108;
    return {static_cast<char>((v < 0 ? 251 : 247) + m / 256), static_cast<char>(m % 256)};
}
std::string Int3(int v) {
    return std::string(1, 28) + Card16(static_cast<unsigned>(v) & 0xffff);
}
std::string Int5(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return std::string(1, 29) + Card16(u >> 16) + Card16(u & 0xffff);
}
std::string Real(std::string_view text, bool endNibble = true) {
    std::vector<int> nibbles;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            nibbles.push_back(c - '0');
        else if (c == '.')
            nibbles.push_back(0xa);
        else if (c == 'E' && i + 1 < text.size() && text[i + 1] == '-')
            nibbles.push_back(0xc), ++i;
        else if (c == 'E')
            nibbles.push_back(0xb);
        else if (c == '-')
            nibbles.push_back(0xe);
    }
    if (endNibble)
        nibbles.push_back(0xf);
    if (nibbles.size() % 2)
        nibbles.push_back(endNibble ? 0xf : 0);
    std::string out(1, 30);
    for (std::size_t i = 0; i < nibbles.size(); i += 2)
        out.push_back(static_cast<char>(nibbles[i] * 16 + nibbles[i + 1]));
    return out;
}
std::string Op(int b0) {
    return {static_cast<char>(b0)};
}
std::string Op12(int b1) {
    return {12, static_cast<char>(b1)};
}
const std::string kFontMatrix = Op12(7);
const std::string kROS = Op12(30);

struct CffFont {
    std::string TopDict; // operators besides CharStrings, charset and Encoding
    std::vector<std::string> Strings;
    int GlyphCount = 4; // -1: no CharStrings
    std::optional<int> Charset;
    std::string CharsetData; // a custom charset, written after the charstrings
    std::optional<int> Encoding;
    std::string EncodingData; // a custom encoding, written after the charset

    std::string Build() const {
        const std::string charStrings =
            Index(std::vector<std::string>(GlyphCount < 0 ? 0 : GlyphCount, "\x0e"));
        auto topDict = [&](std::int32_t x, std::int32_t y, std::int32_t z) {
            std::string d = TopDict;
            if (GlyphCount >= 0)
                d += Int5(x) + Op(17);
            if (!CharsetData.empty())
                d += Int5(y) + Op(15);
            else if (Charset)
                d += Int1(*Charset) + Op(15);
            if (!EncodingData.empty())
                d += Int5(z) + Op(16);
            else if (Encoding)
                d += Int1(*Encoding) + Op(16);
            return d;
        };
        const std::string head = std::string("\x01\x00\x04\x01", 4) + Index({"TestFont"});
        const std::string tail = Index(Strings) + Card16(0);
        const auto x =
            static_cast<std::int32_t>(head.size() + Index({topDict(0, 0, 0)}).size() + tail.size());
        const auto y = x + static_cast<std::int32_t>(charStrings.size());
        const auto z = y + static_cast<std::int32_t>(CharsetData.size());
        return head + Index({topDict(x, y, z)}) + tail + charStrings + CharsetData + EncodingData;
    }
};

std::unique_ptr<TPDFType1Decoder> LoadedCff(const std::string& bytes) {
    auto program = std::make_unique<TPDFType1Decoder>();
    program->LoadCFF(bytes);
    return program;
}

bool AllNames(const TPDFGlyphNames& names, const std::string& value) {
    for (const std::string& name : names)
        if (name != value)
            return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CFF: Top DICT operands and the scale

TEST(CffTopDict, EveryOperandEncodingReachesTheScale) {
    const struct {
        const char* name;
        std::string firstOperand;
        double scale;
    } cases[] = {
        {"a 1-byte integer", Int1(2), 2000},
        {"a 2-byte positive integer", Int2(1131), 1131000},
        {"a 2-byte negative integer", Int2(-108), -108000},
        {"a 3-byte integer", Int3(-2000), -2000000},
        {"a 5-byte integer", Int5(100000), 1e8},
        {"a real with a point", Real("0.0005"), 0.5},
        {"a real with an exponent", Real("5E-4"), 0.5},
        {"a real with a long mantissa and exponent", Real("4.8828125E-4"), 0.48828125},
        {"a negative real with a positive exponent", Real("-1E-3"), -1},
        {"a real with a positive exponent", Real("1E2"), 100000},
        {"a zero first element", Int1(0), 1},
        {"a real zero", Real("0"), 1},
    };
    for (const auto& c : cases) {
        CffFont font;
        font.TopDict =
            c.firstOperand + Int1(0) + Int1(0) + Real("0.001") + Int1(0) + Int1(0) + kFontMatrix;
        // The object parser reads nine fraction digits: 0.00048828125 arrives as 0.000488281.
        EXPECT_NEAR(LoadedCff(font.Build())->ScaleValue, c.scale, 1e-6) << c.name;
    }
}

TEST(CffTopDict, WithoutFontMatrixOrWithANonNumberTheScaleIsOne) {
    CffFont font;
    EXPECT_EQ(LoadedCff(font.Build())->ScaleValue, 1);
    EXPECT_EQ(LoadedCff(font.Build())->GetScale(), 1);
    font.TopDict = kFontMatrix; // no operands at all
    EXPECT_EQ(LoadedCff(font.Build())->ScaleValue, 1);
}

TEST(CffTopDict, OtherOperatorsAroundTheMatrixDoNotDisturbIt) {
    CffFont font;
    font.Strings = {"Name (with) parens \\ and (an open one", "Adobe"};
    font.TopDict = Int2(391) + Op(0) +    // version: custom string
                   Int1(2) + Op(1) +      // Notice: standard string
                   Int2(391) + Op12(38) + // FontName with parentheses
                   Int1(-50) + Int2(-250) + Int2(1000) + Int3(900) + Op(5) + // FontBBox
                   Int1(1) + Int1(2) + Int1(3) + Op(14) +                    // XUID
                   Int1(40) + Int2(500) + Op(18) +                           // Private size offset
                   Int1(1) + Int1(2) + Int1(3) + Op(13) + // UniqueID with surplus operands
                   Op(13) +                               // an operator without operands
                   Bytes({22, 27, 31, 255}) +             // reserved bytes
                   Real("0.002") + Int1(0) + Int1(0) + Int1(1) + Int1(0) + Int1(0) + kFontMatrix +
                   Op12(99); // an unknown operator
    EXPECT_DOUBLE_EQ(LoadedCff(font.Build())->ScaleValue, 2);
}

TEST(CffTopDict, OperandsBeyondTheStackLimitAreDropped) {
    for (const int count : {kMaxDictOperands, kMaxDictOperands + 1, 1000}) {
        CffFont font;
        for (int i = 0; i < count; ++i)
            font.TopDict += Int1(i == 0 ? 7 : 1);
        font.TopDict += kFontMatrix;
        EXPECT_DOUBLE_EQ(LoadedCff(font.Build())->ScaleValue, 7000) << count;
    }
}

TEST(CffTopDict, ARealWithoutEndNibbleStopsAtTheEndOfTheDict) {
    CffFont font;
    font.GlyphCount = -1;
    font.TopDict = Real("0.002") + Int1(0) + kFontMatrix + Real("12345", false);
    const auto program = LoadedCff(font.Build());
    EXPECT_DOUBLE_EQ(program->ScaleValue, 2);
    EXPECT_TRUE(program->GlyphNames.empty());
}

TEST(CffTopDict, ALongStringNamedManyTimesIsWrittenOnce) {
    // Without dedup this would write the 64 KB string 50,000 times.
    CffFont font;
    font.Strings = {std::string(65536, 'x')};
    for (int i = 0; i < 50000; ++i)
        font.TopDict += Int2(391) + Op(1);
    font.TopDict += Real("0.0025") + kFontMatrix;
    EXPECT_DOUBLE_EQ(LoadedCff(font.Build())->ScaleValue, 2.5);
}

TEST(CffTopDict, ROSMakesTheFontCIDKeyed) {
    CffFont font;
    EXPECT_FALSE(LoadedCff(font.Build())->IsCIDKeyed);
    font.Strings = {"Adobe", "Identity"};
    font.TopDict = Int2(391) + Int2(392) + Int1(0) + kROS;
    EXPECT_TRUE(LoadedCff(font.Build())->IsCIDKeyed);
}

// ---------------------------------------------------------------------------------------------
// CFF: charsets

TEST(CffCharset, GlyphNamesFollowTheCharset) {
    const struct {
        const char* name;
        std::optional<int> charset;
        std::string data;
        std::vector<std::string> names;
    } cases[] = {
        {"an absent charset is ISOAdobe",
         std::nullopt,
         "",
         {".notdef", "space", "exclam", "quotedbl"}},
        {"charset 0 is ISOAdobe", 0, "", {".notdef", "space", "exclam", "quotedbl"}},
        {"charset 1 is Expert", 1, "", {".notdef", "space", "exclamsmall", "Hungarumlautsmall"}},
        {"charset 2 is Expert Subset",
         2,
         "",
         {".notdef", "space", "dollaroldstyle", "dollarsuperior"}},
        {"format 0 lists one SID per glyph",
         std::nullopt,
         Bytes({0, 0, 34, 0, 66, 1, 135}),
         {".notdef", "A", "a", "custom"}},
        {"format 1 ranges run on across ranges",
         std::nullopt,
         Bytes({1, 0, 34, 1, 1, 135, 0}),
         {".notdef", "A", "B", "custom"}},
        {"format 1 stops storing at the last glyph",
         std::nullopt,
         Bytes({1, 0, 66, 200}),
         {".notdef", "a", "b", "c"}},
        {"format 2 ranges have 16-bit counts",
         std::nullopt,
         Bytes({2, 0, 17, 0, 2}),
         {".notdef", "zero", "one", "two"}},
        {"an unknown format leaves every glyph at SID 0",
         std::nullopt,
         Bytes({3, 0, 34}),
         {".notdef", ".notdef", ".notdef", ".notdef"}},
        {"a SID past the String INDEX gives an empty name",
         std::nullopt,
         Bytes({0, 1, 136, 0xff, 0xff, 0, 1}),
         {".notdef", "", "", "space"}},
        {"a charset past the end of the data reads zeros",
         std::nullopt,
         Bytes({0}),
         {".notdef", ".notdef", ".notdef", ".notdef"}},
    };
    for (const auto& c : cases) {
        CffFont font;
        font.Strings = {"custom"};
        font.Charset = c.charset;
        font.CharsetData = c.data;
        EXPECT_EQ(LoadedCff(font.Build())->GlyphNames, c.names) << c.name;
    }
}

TEST(CffCharset, APredefinedCharsetShorterThanTheFontLeavesNotdef) {
    CffFont font;
    font.GlyphCount = 100;
    font.Charset = 2; // Expert Subset has 87 glyphs
    const auto program = LoadedCff(font.Build());
    ASSERT_EQ(program->GlyphNames.size(), 100u);
    EXPECT_EQ(program->GlyphNames[86], "commainferior");
    EXPECT_EQ(program->GlyphNames[87], ".notdef");
}

TEST(CffCharset, ACIDKeyedFontNamesGlyphsByCID) {
    const struct {
        const char* name;
        std::string data;
        std::vector<std::string> names;
    } cases[] = {
        {"format 0",
         Bytes({0, 0, 10, 0, 20, 3, 232, 0, 1, 0xff, 0xff}),
         {"CID:0", "CID:10", "CID:20", "CID:1000", "CID:1", "CID:65535"}},
        {"format 1",
         Bytes({1, 0, 100, 4}),
         {"CID:0", "CID:100", "CID:101", "CID:102", "CID:103", "CID:104"}},
        {"format 2",
         Bytes({2, 0x12, 0x34, 0, 1, 0, 5, 0, 9}),
         {"CID:0", "CID:4660", "CID:4661", "CID:5", "CID:6", "CID:7"}},
    };
    for (const auto& c : cases) {
        CffFont font;
        font.GlyphCount = 6;
        font.TopDict = Int1(0) + Int1(1) + Int1(0) + kROS;
        font.CharsetData = c.data;
        const auto program = LoadedCff(font.Build());
        EXPECT_TRUE(program->IsCIDKeyed);
        EXPECT_EQ(program->GlyphNames, c.names) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// CFF: encodings

TEST(CffEncoding, CodesTakeTheirNamesFromTheEncoding) {
    struct Expect {
        int code;
        const char* glyph;
    };
    const struct {
        const char* name;
        std::optional<int> encoding;
        std::string data;
        std::vector<Expect> expect;
    } cases[] = {
        {"an absent encoding is Standard",
         std::nullopt,
         "",
         {{65, "A"},
          {32, "space"},
          {39, "quoteright"},
          {174, "fi"},
          {0, ".notdef"},
          {128, ".notdef"}}},
        {"encoding 0 is Standard", 0, "", {{65, "A"}, {96, "quoteleft"}}},
        {"encoding 1 is Expert",
         1,
         "",
         {{32, "space"},
          {33, "exclamsmall"},
          {65, "asuperior"},
          {97, "Asmall"},
          {188, "onequarter"},
          {255, "Ydieresissmall"},
          {35, ".notdef"},
          {0, ".notdef"}}},
        {"format 0 gives the k-th code glyph k",
         std::nullopt,
         Bytes({0, 3, 65, 66, 200}),
         {{65, "a"}, {66, "b"}, {200, "c"}, {67, ".notdef"}, {32, ".notdef"}}},
        {"format 0 with more codes than glyphs names only the glyphs",
         std::nullopt,
         Bytes({0, 5, 1, 2, 3, 4, 5}),
         {{3, "c"}, {4, ".notdef"}, {5, ".notdef"}}},
        {"format 1 ranges continue the glyph count",
         std::nullopt,
         Bytes({1, 2, 65, 1, 100, 0}),
         {{65, "a"}, {66, "b"}, {100, "c"}, {67, ".notdef"}}},
        {"format 1 never writes past code 255",
         std::nullopt,
         Bytes({1, 1, 254, 200}),
         {{254, "a"}, {255, "b"}, {0, ".notdef"}}},
        {"format 0 with supplements adds codes by SID",
         std::nullopt,
         Bytes({0x80, 1, 65, 2, 97, 0, 34, 98, 1, 135}),
         {{65, "a"}, {97, "A"}, {98, "custom"}, {66, ".notdef"}}},
        {"format 1 with supplements",
         std::nullopt,
         Bytes({0x81, 1, 48, 2, 1, 32, 0, 1}),
         {{48, "a"}, {49, "b"}, {50, "c"}, {32, "space"}}},
        {"an unknown format leaves every code at .notdef",
         std::nullopt,
         Bytes({2, 3, 65, 66, 67}),
         {{65, ".notdef"}, {66, ".notdef"}}},
    };
    for (const auto& c : cases) {
        CffFont font;
        font.Strings = {"custom"};
        font.CharsetData = Bytes({0, 0, 66, 0, 67, 0, 68}); // glyphs 1..3: a, b, c
        font.Encoding = c.encoding;
        font.EncodingData = c.data;
        const auto program = LoadedCff(font.Build());
        for (const Expect& e : c.expect)
            EXPECT_EQ(program->BuiltInEncoding[e.code], e.glyph) << c.name << ", code " << e.code;
    }
}

// ---------------------------------------------------------------------------------------------
// CFF: damaged data

TEST(CffDamage, BrokenStructuresLeaveTheDefaults) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty data", ""},
        {"a header alone", Bytes({1, 0, 4, 1})},
        {"a Name INDEX with offSize 0", Bytes({1, 0, 4, 1, 0, 1, 0, 1, 2, 'x'})},
        {"a Name INDEX with offSize 5", Bytes({1, 0, 4, 1, 0, 1, 5, 0, 0, 0, 0, 1})},
        {"a Top DICT INDEX with offSize 7", Bytes({1, 0, 4, 1, 0, 0, 0, 1, 7, 1, 2})},
        {"an empty Top DICT INDEX", Bytes({1, 0, 4, 1, 0, 0, 0, 0})},
        {"a header size past the end", Bytes({1, 0, 200, 1})},
    };
    for (const auto& c : cases) {
        const auto program = LoadedCff(c.bytes);
        EXPECT_EQ(program->ScaleValue, 1) << c.name;
        EXPECT_FALSE(program->IsCIDKeyed) << c.name;
        EXPECT_TRUE(program->GlyphNames.empty()) << c.name;
        EXPECT_TRUE(AllNames(program->BuiltInEncoding, "")) << c.name;
    }
}

TEST(CffDamage, StringItemsWithBadOffsetsAreEmptyOrClamped) {
    // A String INDEX of three items with offsets 1, 4, 2, 200: "abc", an empty item (its
    // offsets decrease) and one cut at the end of the data. It replaces a placeholder of the
    // same size, so every offset of the font stays right.
    const std::string damaged = Bytes({0, 3, 1, 1, 4, 2, 200}) + "abcdefgh";
    CffFont font;
    font.Strings = {std::string(damaged.size() - 5, '?')};
    font.CharsetData = Bytes({0, 1, 135, 1, 136, 1, 137});
    std::string bytes = font.Build();
    const std::string placeholder = Index(font.Strings);
    ASSERT_EQ(placeholder.size(), damaged.size());
    bytes.replace(bytes.find(placeholder), placeholder.size(), damaged);
    const auto program = LoadedCff(bytes);
    ASSERT_EQ(program->GlyphNames.size(), 4u);
    EXPECT_EQ(program->GlyphNames[1], "abc");
    EXPECT_EQ(program->GlyphNames[2], "");
    EXPECT_EQ(program->GlyphNames[3].substr(0, 7), "bcdefgh");
    EXPECT_EQ(program->GlyphNames[3].size(), bytes.size() - bytes.find("bcdefgh"));
}

TEST(CffDamage, EveryTruncationOfAFontLoadsWithoutHarm) {
    CffFont font;
    font.Strings = {"custom", "Adobe"};
    font.TopDict = Real("0.0005") + Int1(0) + Int1(0) + Int1(1) + Int1(0) + Int1(0) + kFontMatrix;
    font.GlyphCount = 5;
    font.CharsetData = Bytes({1, 0, 34, 3});
    font.EncodingData = Bytes({0x81, 1, 65, 3, 1, 32, 1, 135});
    const std::string bytes = font.Build();
    const auto whole = LoadedCff(bytes);
    EXPECT_EQ(whole->BuiltInEncoding[65], "A");
    EXPECT_EQ(whole->BuiltInEncoding[68], "D");
    EXPECT_EQ(whole->BuiltInEncoding[32], "custom");
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const auto part = LoadedCff(bytes.substr(0, n));
        EXPECT_LE(part->GlyphNames.size(), 5u);
    }
}

TEST(CffDamage, AHugeStringSharedByEveryGlyphIsCutPerName) {
    CffFont font;
    font.Strings = {std::string(100000, 'g')};
    font.GlyphCount = 2000;
    font.CharsetData = std::string(1, 0);
    for (int g = 1; g < 2000; ++g)
        font.CharsetData += Card16(391);
    const auto program = LoadedCff(font.Build());
    ASSERT_EQ(program->GlyphNames.size(), 2000u);
    EXPECT_EQ(program->GlyphNames[1], std::string(kMaxGlyphNameLength, 'g'));
    EXPECT_EQ(program->GlyphNames[1999], program->GlyphNames[1]);
}
