#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/uCodePage.h"

using namespace korvel;

namespace {

std::string utf8Of(char32_t cp) {
    std::string out;
    AppendUtf8(out, cp);
    return out;
}

std::string utf8OfUnits(const std::vector<std::uint16_t>& units) {
    std::string out;
    AppendUtf16AsUtf8(out, units.data(), units.size());
    return out;
}

// Windows-1252 bytes and their characters, as published for the code page.
const std::pair<unsigned char, char32_t> kBytes[] = {
    {0x80, 0x20AC},
    {0x82, 0x201A},
    {0x83, 0x0192},
    {0x84, 0x201E},
    {0x85, 0x2026},
    {0x86, 0x2020},
    {0x87, 0x2021},
    {0x88, 0x02C6},
    {0x89, 0x2030},
    {0x8A, 0x0160},
    {0x8B, 0x2039},
    {0x8C, 0x0152},
    {0x8E, 0x017D},
    {0x91, 0x2018},
    {0x92, 0x2019},
    {0x93, 0x201C},
    {0x94, 0x201D},
    {0x95, 0x2022},
    {0x96, 0x2013},
    {0x97, 0x2014},
    {0x98, 0x02DC},
    {0x99, 0x2122},
    {0x9A, 0x0161},
    {0x9B, 0x203A},
    {0x9C, 0x0153},
    {0x9E, 0x017E},
    {0x9F, 0x0178},
    // The five undefined bytes pair with the C1 controls of the same value.
    {0x81, 0x0081},
    {0x8D, 0x008D},
    {0x8F, 0x008F},
    {0x90, 0x0090},
    {0x9D, 0x009D}};

} // namespace

TEST(CodePage, EveryByteRoundTripsThroughItsUnicodeCharacter) {
    for (int b = 0; b < 256; ++b) {
        const char32_t cp = Cp1252ToUnicode(static_cast<unsigned char>(b));
        ASSERT_LE(cp, 0xFFFFu);
        EXPECT_EQ(static_cast<unsigned char>(Utf16UnitToCp1252(static_cast<std::uint16_t>(cp))), b)
            << b;
    }
}

TEST(CodePage, BytesAndCharactersMapToEachOtherBothWays) {
    for (const auto& [byte, cp] : kBytes) {
        EXPECT_EQ(Cp1252ToUnicode(byte), cp) << int(byte);
        EXPECT_EQ(static_cast<unsigned char>(Utf16UnitToCp1252(static_cast<std::uint16_t>(cp))),
                  byte)
            << int(byte);
    }
}

TEST(CodePage, UnitsTheCodePageLacksBecomeAQuestionMark) {
    // C1 controls that the code page gives letters to, and characters beyond Latin-1.
    for (std::uint16_t unit :
         {0x0080, 0x0085, 0x009F, 0x0100, 0x0416, 0x20AD, 0xD800, 0xFFFD, 0xFFFF})
        EXPECT_EQ(Utf16UnitToCp1252(unit), '?') << unit;
}

TEST(Utf8, CodePointsTakeOneToFourBytes) {
    const std::pair<char32_t, std::string> cases[] = {
        {0x00, std::string(1, '\0')},
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0xE9, "\xC3\xA9"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0x20AC, "\xE2\x82\xAC"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [cp, expected] : cases)
        EXPECT_EQ(utf8Of(cp), expected) << std::hex << std::uint32_t(cp);
}

TEST(Utf8, SurrogatesAndValuesPastTheLastCodePointBecomeTheReplacementCharacter) {
    for (char32_t cp : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0x110000u, 0xFFFFFFFFu})
        EXPECT_EQ(utf8Of(cp), "\xEF\xBF\xBD") << std::hex << std::uint32_t(cp);
}

TEST(Utf8, Utf16PairsJoinAndLoneSurrogatesAreReplaced) {
    const std::string replacement = "\xEF\xBF\xBD";
    const std::pair<std::vector<std::uint16_t>, std::string> cases[] = {
        {{}, ""},
        {{0x48, 0x69}, "Hi"},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {{0xD83D}, replacement},                       // high surrogate at the end
        {{0xD83D, 0x41}, replacement + "A"},           // high surrogate before a letter
        {{0xDE00, 0xD83D}, replacement + replacement}, // low before high does not join
        {{0xD83D, 0xD83D, 0xDE00}, replacement + "\xF0\x9F\x98\x80"},
        {{0x20AC, 0xDE00, 0x41}, "\xE2\x82\xAC" + replacement + "A"},
    };
    for (const auto& [units, expected] : cases)
        EXPECT_EQ(utf8OfUnits(units), expected) << units.size();
}

TEST(Utf8, ToWindows1252OneByteACharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
        {"\xE4\xB8\x9C", "?"},             // not in the code page
        {"\xF0\x9F\x98\x80!", "?!"},        // beyond U+FFFF: one character
        {"\xC3", "?"},                       // cut short
        {"\xFF\x41", "?A"},                 // no valid sequence begins here
    };
    for (const auto& [utf8, cp1252] : cases)
        EXPECT_EQ(korvel::Utf8ToCp1252(utf8), cp1252) << utf8;
}
