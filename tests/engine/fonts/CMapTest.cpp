#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fonts/uPDFCMap.h"

using namespace korvel;

namespace {

using Lines = std::vector<std::string>;

// A ToUnicode stream with the given code-space, bfrange and bfchar section bodies (a section
// is left out when its body is "-").
std::string cmapText(const std::string& ranges, const std::string& chars = "-",
                     const std::string& space = " <0000> <FFFF>\n") {
    std::string text = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                       "1 begincodespacerange" +
                       space + "endcodespacerange\n";
    if (ranges != "-")
        text += "2 beginbfrange\n" + ranges + "\nendbfrange\n";
    if (chars != "-")
        text += "2 beginbfchar\n" + chars + "\nendbfchar\n";
    return text + "endcmap\nend end\n";
}

std::string hex(unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", value);
    return buffer;
}

// The ranges of a map as "First-Last>Target" in hexadecimal.
Lines rangesOf(const TPDFCMap& map) {
    Lines lines;
    for (const TPDFCMapRange& r : map.Ranges())
        lines.push_back(hex(r.First) + "-" + hex(r.Last) + ">" + hex(r.Target));
    return lines;
}

// The entries of a text vector that are not empty, as "code=text".
Lines entriesOf(const TPDFTextVector& text) {
    Lines lines;
    for (int c = 0; c < 256; ++c)
        if (!text[c].empty())
            lines.push_back(hex(unsigned(c)) + "=" + text[c]);
    return lines;
}

std::string lookup(const TPDFCMap& map, std::uint16_t code,
                   TTextEncoding encoding = TTextEncoding::Cp1252) {
    const auto text = ToUnicodeLookup(map, code, encoding);
    return text ? *text : "<none>";
}

// The plain forms of the sort, the walk and the lookup, as the fast ones must answer.
void exchangeSort(std::vector<TPDFCMapRange>& ranges) {
    for (std::size_t i = 0; i + 1 < ranges.size(); ++i)
        for (std::size_t j = i + 1; j < ranges.size(); ++j)
            if (ranges[j].First < ranges[i].First)
                std::swap(ranges[i], ranges[j]);
}

std::vector<int> plainWalk(const std::vector<TPDFCMapRange>& r) {
    std::vector<int> units(256, -1);
    std::size_t a = 0, u = 0, n = 0;
    for (int c = 0; c < 256; ++c) {
        if (a < r.size() && c >= r[a].First) {
            if (c > r[a].Last)
                do {
                    ++a;
                    n = 0;
                } while (a < r.size() && !(r[a].First <= c && c <= r[a].Last));
            if (a < r.size() && r[a].First <= c && c <= r[a].Last) {
                units[c] = (r[a].Target + int(n)) % 65536;
                ++n;
                u = a;
            }
            a = u;
        }
    }
    return units;
}

int plainLookup(const std::vector<TPDFCMapRange>& r, std::uint16_t code) {
    for (const TPDFCMapRange& range : r)
        if (range.First <= code && code <= range.Last)
            return (range.Target + code - range.First) % 65536;
    return -1;
}

} // namespace

TEST(CMapParsing, SectionsReadAsTheKeywordScannerSeesThem) {
    const std::vector<std::pair<std::string, Lines>> cases = {
        {cmapText("<0020> <007E> <0020>\n<00A0> <00A0> <00A0>"), {"20-7E>20", "A0-A0>A0"}},
        // The character after the code-space keyword is skipped: here it is the "<".
        {cmapText("<20> <7E> <20>", "-", "<00> <FF>\n"), {}},
        {"beginbfrange <20> <7E> <20> endbfrange", {}}, // no code space at all
        {"endcodespacerange begincodespacerange <0> <1> beginbfrange <1> <2> <3> endbfrange", {}},
        {cmapText("<20> <7E> <20>", "-", " <00> <zz>\n"), {}}, // a bad code-space token
        // A missing target keeps the low 16 bits of -1; the loop ends at the next triple.
        {cmapText("<41> <42> <61>\n<50> <51>"), {"41-42>61", "50-51>FFFF"}},
        // A malformed token ends the section; ranges before it stay.
        {cmapText("<41> <42> <61>\n<5 0> <51> <70>\n<60> <61> <62>"), {"41-42>61"}},
        // An array of targets maps each code of the range in turn (a short array maps fewer
        // codes); the next triple reads as usual.
        {cmapText("<41> <42> [<0061> <0062>]\n<43> <44> <45>"),
         {"41-41>61", "42-42>62", "43-44>45"}},
        {cmapText("<41> <43> [<0066> <00660069>]\n<50> <50> <70>"),
         {"41-41>66", "42-42>69", "50-50>70"}},
        {cmapText("<1FFFF> <10041> <ABCDEF12>"), {"FFFF-41>EF12"}}, // low 16 bits kept
        {cmapText("-", "<00> <0020>\n<41> <0000>\n<42> <0062>"), {"42-42>62"}},
        {cmapText("-", "<0041> <00660069>"), {"41-41>69"}},
        // Targets past 31 bits are unit sequences that keep their last unit; later pairs stay.
        {cmapText("-", "<41> <006600660069>\n<42> <D835DC00>\n<43> <0063>"),
         {"41-41>69", "42-42>DC00", "43-43>63"}},
        {cmapText("<41> <42> <0066006600690000>"), {"41-42>0"}},
        {cmapText("-", "<41> <0066006 60069>\n<42> <0062>"), {}}, // malformed still ends it
        // Ranges come first whatever the order of the sections in the stream.
        {cmapText("-", "<41> <0061>") + "beginbfrange <30> <31> <32> endbfrange",
         {"30-31>32", "41-41>61"}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(rangesOf(ParseToUnicode(text)), expected) << text;
}

TEST(CMapParsing, OnlyTheFirstSectionOfEachKindCounts) {
    std::string first, second;
    for (int i = 1; i <= 100; ++i) {
        first += "<" + hex(unsigned(i)) + "> <00" + hex(unsigned(i + 0x20)) + ">\n";
        second += "<" + hex(unsigned(i + 100)) + "> <0041>\n";
    }
    const std::string text = cmapText("<01> <02> <0041>", first) + "100 beginbfchar\n" + second +
                             "endbfchar\nbeginbfrange <70> <71> <0042> endbfrange\n";
    const TPDFCMap map = ParseToUnicode(text);
    EXPECT_EQ(map.Count(), 101u);
}

TEST(CMapSorting, MatchesTheExchangeSortOnRandomMaps) {
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        const int size = 1 + int(random() % 120);
        const int keys = 1 + int(random() % 8);
        TPDFCMap map;
        std::vector<TPDFCMapRange> expected;
        for (int i = 0; i < size; ++i) {
            const auto first = std::uint16_t(random() % unsigned(keys));
            map.Append(first, first, std::uint16_t(i)); // Target tells the ranges apart
            expected.push_back(map.Ranges().back());
        }
        exchangeSort(expected);
        map.Sort();
        Lines want;
        for (const TPDFCMapRange& r : expected)
            want.push_back(hex(r.First) + ">" + hex(r.Target));
        Lines got;
        for (const TPDFCMapRange& r : map.Ranges())
            got.push_back(hex(r.First) + ">" + hex(r.Target));
        ASSERT_EQ(got, want) << "round " << round;
    }
}

TEST(CMapSorting, ARangeStaysBeforeABfcharOfEqualFirstUnlessASmallerCodeFollows) {
    TPDFCMap plain = ParseToUnicode(cmapText("<0041> <005A> <0061>", "<0041> <0042>"));
    EXPECT_EQ(ToUnicodeTable(plain)[0x41], "a");
    TPDFCMap turned =
        ParseToUnicode(cmapText("<0041> <005A> <0061>", "<0041> <0042>\n<0020> <0020>"));
    EXPECT_EQ(rangesOf(turned), (Lines{"41-5A>61", "41-41>42", "20-20>20"}));
    ToUnicodeTable(turned);
    EXPECT_EQ(rangesOf(turned), (Lines{"20-20>20", "41-41>42", "41-5A>61"}));
}

TEST(CMapSorting, MillionsOfEqualAndFallingStartsSortQuickly) {
    TPDFCMap map;
    for (int i = 0; i < 400000; ++i)
        map.Append(std::uint16_t(i % 3 == 0 ? 5 : 60000 - i / 7), 70, std::uint16_t(i));
    map.Sort();
    for (std::size_t i = 1; i < map.Count(); ++i)
        ASSERT_LE(map.Item(i - 1).First, map.Item(i).First);
}

TEST(CMapTable, SingleByteCodesGetTheirRangesText) {
    const std::vector<std::tuple<std::string, TTextEncoding, Lines>> cases = {
        {cmapText("<20> <22> <0041>\n<A0> <A0> <00A0>"),
         TTextEncoding::Cp1252,
         {"20=A", "21=B", "22=C", "A0=\xA0"}},
        {cmapText("<00> <00> <0020>", "<00> <0021>"), TTextEncoding::Cp1252, {"0= "}},
        {cmapText("-", "<0041> <00660069>"), TTextEncoding::Cp1252, {"41=fi"}},
        {cmapText("-", "<0041> <00660069>"), TTextEncoding::Utf8, {"41=fi"}},
        {cmapText("-", "<80> <20AC>\n<81> <0416>"), TTextEncoding::Cp1252, {"80=\x80", "81=?"}},
        {cmapText("-", "<80> <20AC>\n<81> <0416>"),
         TTextEncoding::Utf8,
         {"80=\xE2\x82\xAC", "81=\xD0\x96"}},
        // In UTF-8 the last unit of a multi-unit start counts up through the range.
        {cmapText("<41> <43> <00660069>"), TTextEncoding::Utf8, {"41=fi", "42=fj", "43=fk"}},
        {cmapText("<41> <43> <00660069>"), TTextEncoding::Cp1252, {"41=fi", "42=fj", "43=fk"}},
        // Every character of a long target, one byte each in Windows-1252: a surrogate pair
        // or a character the code page lacks is one "?".
        {cmapText("<41> <42> <006600660069>"), TTextEncoding::Cp1252, {"41=ffi", "42=ffj"}},
        {cmapText("-", "<41> <0041D835DC0020AC>\n<42> <04160416>"),
         TTextEncoding::Cp1252,
         {"41=A?\x80", "42=??"}},
        {cmapText("<41> <42> <006600660069>"), TTextEncoding::Utf8, {"41=ffi", "42=ffj"}},
        {cmapText("-", "<41> <006600660069>\n<42> <D835DC00>\n<43> <0063>"),
         TTextEncoding::Utf8,
         {"41=ffi", "42=\xF0\x9D\x90\x80", "43=c"}},
        {cmapText("<41> <41> <D835DC00>"), TTextEncoding::Utf8, {"41=\xF0\x9D\x90\x80"}},
        // A range that starts inside an earlier one counts from the first code after it.
        {cmapText("<30> <32> <0061>\n<31> <34> <0041>"),
         TTextEncoding::Cp1252,
         {"30=a", "31=b", "32=c", "33=A", "34=B"}},
        {cmapText("<FF> <1FF> <0041>\n<100> <200> <0061>"), TTextEncoding::Cp1252, {"FF=A"}},
    };
    for (const auto& [text, encoding, expected] : cases) {
        TPDFCMap map = ParseToUnicode(text);
        EXPECT_EQ(entriesOf(ToUnicodeTable(map, encoding)), expected) << text;
    }
}

TEST(CMapTable, OverlayKeepsWhatNoRangeReaches) {
    TPDFCMap map = ParseToUnicode(cmapText("<41> <42> <0078>"));
    TPDFTextVector start;
    start[0x40] = "at";
    start[0x41] = "A";
    start[0x43] = "C";
    EXPECT_EQ(entriesOf(ToUnicodeOverlay(map, start)), (Lines{"40=at", "41=x", "42=y", "43=C"}));
}

TEST(CMapTable, MatchesThePlainWalkOnRandomOverlappingMaps) {
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        TPDFCMap map;
        const int size = int(random() % 30);
        for (int i = 0; i < size; ++i) {
            const auto first = std::uint16_t(random() % 300);
            const auto last = std::uint16_t(first + random() % 40 - 5);
            map.Append(first, last, std::uint16_t(0x41 + random() % 40));
        }
        const TPDFTextVector text = ToUnicodeTable(map);
        const std::vector<int> units = plainWalk(map.Ranges());
        for (int c = 0; c < 256; ++c)
            ASSERT_EQ(text[c], units[c] < 0
                                   ? std::string()
                                   : std::string(1, Utf16UnitToCp1252(std::uint16_t(units[c]))))
                << "round " << round << " code " << c;
    }
}

TEST(CMapLookup, TheFirstRangeThatHoldsTheCodeGivesItsText) {
    TPDFCMap map = ParseToUnicode(cmapText("<0010> <0020> <0061>", "<0003> <0041>"));
    ToUnicodeTable(map);
    const std::vector<std::pair<std::uint16_t, std::string>> cases = {
        {3, "A"}, {18, "c"}, {4, "<none>"}, {16, "a"}, {32, "q"}, {33, "<none>"}, {0, "<none>"},
    };
    for (const auto& [code, expected] : cases)
        EXPECT_EQ(lookup(map, code), expected) << code;
    TPDFCMap wide = ParseToUnicode(cmapText("<FFFE> <FFFF> <D835DC00>\n<0100> <0100> <20AC>"));
    EXPECT_EQ(lookup(wide, 0xFFFF, TTextEncoding::Utf8), "\xF0\x9D\x90\x81");
    EXPECT_EQ(lookup(wide, 0xFFFF), "?");
    EXPECT_EQ(lookup(wide, 0x0100), "\x80");
}

TEST(CMapLookup, MatchesTheLinearSearchOnRandomMaps) {
    std::mt19937 random(5);
    for (int round = 0; round < 200; ++round) {
        TPDFCMap map;
        const int size = int(random() % 25);
        for (int i = 0; i < size; ++i) {
            const auto first = std::uint16_t(random() % 65536);
            const auto last = std::uint16_t(first + random() % 3000 - 100);
            map.Append(first, last, std::uint16_t(random() % 65536));
        }
        for (int probe = 0; probe < 200; ++probe) {
            // Half the probes at range starts, where overlaps decide.
            std::uint16_t code = std::uint16_t(random() % 65536);
            if (probe % 2 == 1 && !map.Empty())
                code = map.Item(random() % map.Count()).First;
            const int unit = plainLookup(map.Ranges(), code);
            ASSERT_EQ(lookup(map, code),
                      unit < 0 ? "<none>" : std::string(1, Utf16UnitToCp1252(std::uint16_t(unit))))
                << "round " << round << " code " << code;
        }
    }
}

TEST(CMapLookup, HugeMapsStayLinear) {
    std::string ranges;
    for (int i = 0; i < 200000; ++i)
        ranges += "<0000><FFFF><0041>";
    TPDFCMap map = ParseToUnicode(cmapText(ranges));
    EXPECT_EQ(map.Count(), 200000u);
    EXPECT_EQ(ToUnicodeTable(map)[0x20], "a");
    EXPECT_EQ(lookup(map, 0x0001), "B");
    EXPECT_EQ(lookup(map, 0xFFFF), "@");
    // Every code past ranges that end at once searches them all again, unless dead ones are
    // remembered.
    std::string ended;
    for (int i = 0; i < 200000; ++i)
        ended += "<00><00><0041>";
    TPDFCMap ends = ParseToUnicode(cmapText(ended));
    EXPECT_EQ(entriesOf(ToUnicodeTable(ends)), Lines{"0=A"});
}
