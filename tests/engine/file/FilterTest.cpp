#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "file/uPDFAscii85.h"
#include "file/uPDFFilters.h"
#include "file/uPDFFlate.h"
#include "file/uPDFLZW.h"
#include "file/uPDFStructure.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::Deflate;

namespace {

std::string Bytes(const std::vector<int>& values) {
    return std::string(values.begin(), values.end());
}

// Text that compresses about as well as a page's content stream.
std::string ContentLikeText(std::size_t size) {
    std::mt19937 rng(7);
    std::string out;
    while (out.size() < size)
        out += "BT /F" + std::to_string(rng() % 4) + " 10 Tf " + std::to_string(rng() % 600) + " " +
               std::to_string(rng() % 800) + " Td (word" + std::to_string(rng() % 1000) +
               ") Tj ET\n";
    out.resize(size);
    return out;
}

class TDecodeLimitScope {
public:
    explicit TDecodeLimitScope(std::size_t limit) { SetDecodeLimit(limit); }
    ~TDecodeLimitScope() { SetDecodeLimit(kDefaultDecodeLimit); }
};

// Packs LZW codes most significant bit first, widening the codes on the schedule a decoder
// follows (one code behind the encoder's table: the code after a clear adds no entry).
std::string PackCodes(const std::vector<int>& codes, bool earlyChange) {
    std::string out;
    std::uint32_t acc = 0;
    int bits = 0, width = 9, next = 257;
    for (int code : codes) {
        acc = (acc << width) | static_cast<std::uint32_t>(code);
        for (bits += width; bits >= 8; bits -= 8)
            out.push_back(static_cast<char>((acc >> (bits - 8)) & 0xFF));
        if (code == 256) {
            width = 9;
            next = 257;
            continue;
        }
        if (next == (1 << width) - (earlyChange ? 2 : 1) && width < 12)
            ++width;
        next = std::min(next + 1, 4095);
    }
    if (bits > 0)
        out.push_back(static_cast<char>((acc << (8 - bits)) & 0xFF));
    return out;
}

// A plain LZW encoder; emits a clear code once after `clearAfter` codes, and whenever the
// table fills up.
std::string LzwEncode(std::string_view data, bool earlyChange, std::size_t clearAfter = 0) {
    std::vector<int> codes{256};
    std::map<std::string, int> table; // strings of two bytes or more
    auto code = [&](const std::string& s) {
        return s.size() == 1 ? static_cast<unsigned char>(s[0]) : table.at(s);
    };
    std::string current;
    for (const char ch : data) {
        if (current.empty() || table.count(current + ch)) {
            current += ch;
            continue;
        }
        codes.push_back(code(current));
        table[current + ch] = 258 + int(table.size());
        current = ch;
        if (codes.size() == clearAfter + 1 || table.size() == 4094 - 258) {
            codes.push_back(256);
            table.clear();
        }
    }
    if (!current.empty())
        codes.push_back(code(current));
    codes.push_back(257);
    return PackCodes(codes, earlyChange);
}

// Applies PNG filter `type` to every row of an image of `columns` pixels by `colors` bytes.
std::string PngEncode(const std::string& image, std::size_t columns, std::size_t colors, int type) {
    const std::size_t row = columns * colors;
    auto at = [&](std::size_t pos) { return int(static_cast<unsigned char>(image[pos])); };
    std::string out;
    for (std::size_t start = 0; start + row <= image.size(); start += row) {
        out.push_back(static_cast<char>(type));
        for (std::size_t i = 0; i < row; ++i) {
            const int a = i >= colors ? at(start + i - colors) : 0;
            const int b = start > 0 ? at(start + i - row) : 0;
            const int c = start > 0 && i >= colors ? at(start + i - row - colors) : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            const int predicted[] = {0, a, b, (a + b) / 2, paeth};
            out.push_back(static_cast<char>(at(start + i) - predicted[type]));
        }
    }
    return out;
}

TPredictorParams P(int predictor, int columns, int colors = 1, int bits = 8) {
    return {predictor, colors, bits, columns};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Flate

TEST(Flate, DamageKeepsTheBytesInflatedBeforeItAndForeignDataGivesNothing) {
    const std::string text = "BT (Hello) Tj ET";
    std::string packed = Deflate(text);
    packed.back() = static_cast<char>(packed.back() ^ 0x55); // the checksum
    EXPECT_EQ(FlateDecode(packed), text);

    const std::string longText = ContentLikeText(100000);
    packed = Deflate(longText);
    for (std::size_t i = packed.size() / 2; i < packed.size() / 2 + 64; ++i)
        packed[i] = static_cast<char>(0xFF);
    const std::string out = FlateDecode(packed);
    EXPECT_LT(out.size(), longText.size());
    EXPECT_EQ(out.substr(0, 1000), longText.substr(0, 1000));

    EXPECT_EQ(FlateDecode(""), "");
    EXPECT_EQ(FlateDecode(text), "");
    EXPECT_EQ(FlateDecode(Deflate(longText).substr(2)), ""); // raw deflate, no zlib header
}

TEST(Flate, HighRatioStreamGrowsTheBufferToTheFullSize) {
    const std::string text = ContentLikeText(300000);
    EXPECT_EQ(FlateDecode(Deflate(text)), text);
    const std::string zeros(20u << 20, '\0');
    EXPECT_TRUE(FlateDecode(Deflate(zeros)) == zeros);
}

TEST(Flate, BombStopsAtTheDecodeBoundAndKeepsThePrefix) {
    const std::string packed = Deflate(std::string(64u << 20, 'q'));
    ASSERT_LT(packed.size(), 200000u);
    EXPECT_EQ(FlateDecode(packed, 1u << 20), std::string(1u << 20, 'q'));
    EXPECT_EQ(FlateDecode(packed, 1000), std::string(1000, 'q'));
    TDecodeLimitScope scope(12345);
    EXPECT_EQ(FlateDecode(packed).size(), 12345u);
}

// ---------------------------------------------------------------------------------------------
// Predictors

TEST(Predictor, PngAndTiffRowsDecode) {
    const struct {
        std::vector<int> Stored;
        TPredictorParams Params;
        std::vector<int> Expected;
    } cases[] = {
        // PNG up, rows of a cross-reference stream.
        {{2, 1, 0, 16, 0, 0, 2, 0, 0, 9, 0, 1, 2, 1, 0, 255, 0, 1},
         P(12, 5),
         {1, 0, 16, 0, 0, 1, 0, 25, 0, 1, 2, 0, 24, 0, 2}},
        // PNG sub adds the byte one pixel (three colors) to the left; the first pixel stays.
        {{1, 10, 20, 30, 1, 2, 3, 250, 10, 0}, P(12, 3, 3), {10, 20, 30, 11, 22, 33, 5, 32, 33}},
        // The first row uses zero above: up is unchanged, average x + a / 2, Paeth picks a.
        {{2, 5, 6, 7}, P(12, 3), {5, 6, 7}},
        {{3, 10, 20, 30}, P(12, 3), {10, 25, 42}},
        {{4, 10, 20, 30}, P(12, 3), {10, 30, 60}},
        // Average rounds down: 1 + (0 + 7) / 2 = 4, 1 + (4 + 8) / 2 = 7.
        {{0, 7, 8, 3, 1, 1}, P(12, 2), {7, 8, 4, 7}},
        // Paeth picks b (above), c (upper left, a + b - 2c is 0), b, then a, wrapping mod 256.
        {{0, 100, 60, 200, 200, 4, 40, 1, 50, 10}, P(12, 4), {100, 60, 200, 200, 140, 101, 250, 4}},
        // A tie between b and c picks b: a 110, b 80, c 100.
        {{0, 100, 80, 4, 10, 0}, P(12, 2), {100, 80, 110, 80}},
        // An unknown row type stores the bytes; an incomplete last row is dropped.
        {{0, 9, 9, 7, 1, 2}, P(12, 2), {9, 9, 1, 2}},
        {{0, 1, 2, 0, 3}, P(12, 2), {1, 2}},
        {{0, 1}, P(12, 2), {}},
        {{2, 1, 2, 3}, P(12, 1 << 28, 4), {}},
        // TIFF adds the same component of the previous pixel, Colors 1, 3 and 4, and keeps the
        // stored bytes after the last whole row.
        {{5, 1, 1, 255, 9, 1, 1, 1}, P(2, 4), {5, 6, 7, 6, 9, 10, 11, 12}},
        {{1, 2, 3, 10, 20, 30, 1, 1, 1}, P(2, 3, 3), {1, 2, 3, 11, 22, 33, 12, 23, 34}},
        {{1, 2, 3, 4, 1, 1, 1, 1, 7, 7, 7, 7, 0, 0, 0, 1},
         P(2, 2, 4),
         {1, 2, 3, 4, 2, 3, 4, 5, 7, 7, 7, 7, 7, 7, 7, 8}},
        {{1, 1, 1, 5, 5}, P(2, 3), {1, 2, 3, 5, 5}},
        {{2, 1, 2, 3}, P(2, 1 << 28, 4), {2, 1, 2, 3}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(UndoPredictor(Bytes(cases[i].Stored), cases[i].Params), Bytes(cases[i].Expected))
            << "case " << i;
    // The row type byte decides, not the predictor number.
    for (int predictor : {10, 11, 12, 13, 14, 15, 99})
        EXPECT_EQ(UndoPredictor(Bytes({1, 1, 1, 1, 2, 1, 1, 1}), P(predictor, 3)),
                  Bytes({1, 2, 3, 2, 3, 4}))
            << predictor;
}

TEST(Predictor, PngEveryRowTypeRoundTripsWithSeveralColors) {
    std::mt19937 rng(3);
    std::string image(7 * 3 * 9, '\0');
    for (char& c : image)
        c = static_cast<char>(rng() % 64 + (rng() % 2 ? 0 : 128));
    for (int type = 0; type <= 4; ++type)
        EXPECT_EQ(UndoPredictor(PngEncode(image, 7, 3, type), P(12, 7, 3)), image) << type;
}

TEST(Predictor, UnsupportedParametersLeaveTheDataUnchanged) {
    // Each of these would change the data if it were applied.
    const std::string data = Bytes({2, 1, 2, 3, 2, 1, 1, 1});
    const TPredictorParams cases[] = {
        P(12, 2, 1, 16), P(2, 2, 1, 1),                          // BitsPerComponent other than 8
        P(1, 2), P(0, 2), P(-5, 2), P(3, 2), P(9, 2),            // no prediction for 1 and 3 to 9
        P(2, 2, 2),                                              // TIFF with two colors
        P(12, 0), P(12, -3), P(12, 3, 0), P(12, 3, -1), P(2, 0), // nonsense row sizes
        // Columns x Colors beyond the 32-bit range.
        P(12, 2147483647, 2147483647), P(12, 1 << 30, 4), P(2, 1 << 30, 4)};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(UndoPredictor(data, cases[i]), data) << "case " << i;
}

// ---------------------------------------------------------------------------------------------
// ASCII85

TEST(Ascii85, GroupsZerosAndPartialGroupsDecode) {
    const std::pair<std::string, std::string> cases[] = {
        {"87cURD_*#TDfTZ)+T~>", "Hello, world!"},
        {"s8W-!~>", std::string(4, '\xFF')},
        {"s8W*~>", std::string(3, '\xFF')},
        {"z~>", std::string(4, '\0')},
        {"!!~>", std::string(1, '\0')},
        {"zz!!!~>", std::string(10, '\0')},
        {"!!z!!!~>", std::string(8, '\0')}, // the `z` stands for five digits inside a group
        {"87cU\r\nRD_*#\tTDf TZ)+T\n~\n>\n", "Hello, world!"}, // white space is ignored
        {"87c\x01URD_*#TDfTZ)+T{}~>", "Hello, world!"},        // and so are other bytes
        // A single leftover character adds nothing.
        {"~>", ""},
        {"!~>", ""},
        {"z!~>", std::string(4, '\0')},
        // Overflowing groups give zero bytes; padded with `u`, "uu" exceeds the 32-bit range.
        {"uuuuu~>", std::string(4, '\0')},
        {"s8W-\"~>", std::string(4, '\0')},
        {"uu~>", std::string(1, '\0')},
        // A missing or broken end marker gives empty data.
        {"87cURD_*#TDfTZ)+T", ""},
        {"87cURD_*#TDfTZ)+T~", ""},
        {"87cURD_*#TDfTZ)+T>", ""},
        {"!!~>!!", ""},
        {"!!~z>", ""},
        {"", ""},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(Ascii85Decode(input), expected) << input;
}

TEST(Ascii85, OutputStopsAtTheDecodeBound) {
    EXPECT_EQ(Ascii85Decode(std::string(100000, 'z') + "~>", 1001), std::string(1001, '\0'));
    EXPECT_EQ(Ascii85Decode("87cURD_*#TDfTZ)+T~>", 7), "Hello, ");
}

// ---------------------------------------------------------------------------------------------
// LZW

TEST(LZW, DecodesTheReferenceExampleWithEarlyChange) {
    const std::string example = Bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01});
    EXPECT_EQ(LZWDecode(example, true), "-----A---B");
    EXPECT_EQ(PackCodes({256, 45, 258, 258, 65, 259, 66, 257}, true), example);
}

TEST(LZW, RoundTripsThroughAllCodeWidthsWithAClearCodeAnywhere) {
    const std::string text = ContentLikeText(200000);
    for (std::size_t clearAfter : {0u, 1u, 2u, 100u, 300u, 1000u})
        for (bool early : {true, false})
            EXPECT_EQ(LZWDecode(LzwEncode(text, early, clearAfter), early), text)
                << clearAfter << " " << early;
}

TEST(LZW, AWellFormedStreamDecodesWholeWithTheBoundJustAboveItsSize) {
    // Entries extend the string written just before them: no side copies pile up against the
    // bound, so output right below the bound comes out whole.
    const std::string text = ContentLikeText(3000000);
    EXPECT_EQ(LZWDecode(LzwEncode(text, true), true, text.size() + 1), text);
}

TEST(LZW, UnusualCodeSequencesFollowThePreviousEntry) {
    const std::pair<std::vector<int>, std::string> cases[] = {
        // After the clear, 258 is rebuilt as "B" + "C" and must not be the old "A" + "B".
        {{65, 66, 258, 256, 66, 67, 258, 257}, "ABABBCBC"},
        // Without an end code, codes starting in the first padding byte are read (zero bits,
        // code 0): 36 bits in 5 bytes give two, 72 bits in 9 bytes one, no data one.
        {{256, 72, 105, 33}, std::string("Hi!\0\0", 5)},
        {{72, 105, 33, 72, 105, 33, 72, 105}, std::string("Hi!Hi!Hi\0", 9)},
        {{}, std::string(1, '\0')},
        // A first code of 258 or more and a second clear code have no bytes to extend.
        {{258, 259, 65, 257}, "A"},
        {{300, 65, 258, 257}, "AA"},
        // Here 300 extends the "B" before it, as any undefined code does.
        {{256, 256, 66, 300, 257}, "BBB"},
        // 400 is not defined yet: it gives "B" + "B", stored at 259. Then 400 is the previous
        // code; its entry is empty, so the entry 260 made with the next 66 is "B" alone.
        {{65, 66, 400, 66, 260, 257}, "ABBBBB"},
        // After the clear, 259 ("BC" from before) is undefined: it repeats "C" + "C" into 257
        // and becomes the previous code, so the next entry 258 is "BC" + "D".
        {{65, 66, 67, 256, 259, 68, 258, 257}, "ABCCCDBCD"},
    };
    for (const auto& [codes, expected] : cases)
        EXPECT_EQ(LZWDecode(PackCodes(codes, true), true), expected) << expected;
}

TEST(LZW, OverwrittenLastEntryStopsAtTheDecodeBound) {
    // Fill the table up to 4095, then repeat 4095: each one stores itself plus one byte.
    std::vector<int> codes(3838, 65);
    codes.insert(codes.end(), 30000, 4095);
    codes.push_back(257);
    const std::string packed = PackCodes(codes, true);
    ASSERT_LT(packed.size(), 60000u);
    EXPECT_EQ(LZWDecode(packed, true, 1u << 20), std::string(1u << 20, 'A'));
}

// ---------------------------------------------------------------------------------------------
// The filter chain of a stream

namespace {

std::string Ascii85Encode(std::string_view data) {
    std::string out;
    for (std::size_t i = 0; i < data.size(); i += 4) {
        std::uint64_t value = 0;
        for (std::size_t k = i; k < i + 4; ++k)
            value = value << 8 | (k < data.size() ? static_cast<unsigned char>(data[k]) : 0u);
        char group[5];
        for (int k = 4; k >= 0; --k, value /= 85)
            group[k] = static_cast<char>('!' + value % 85);
        out.append(group, std::min<std::size_t>(5, data.size() - i + 1));
    }
    return out + "~>";
}

// Streams made from dictionary entries in PDF syntax; references 7 to 10 resolve to a filter
// name, a parameter dictionary, a filter list and a number.
class FilterChain : public ::testing::Test {
protected:
    FilterChain() {
        const char* targets[] = {"/FlateDecode", "<</Predictor 12 /Columns 2>>", "[/A85 /Fl]", "2"};
        for (int i = 0; i < 4; ++i)
            Targets[7 + i] = Store.Parse(targets[i]);
        Store.OnResolve = [this](const TPDFIndRef*, std::int32_t objNum, std::int32_t) {
            return Targets.count(objNum) ? Targets[objNum] : nullptr;
        };
    }

    TPDFStream* Stream(std::string_view entries, std::string data) {
        TPDFStream* stream = Store.CreateStream(std::move(data));
        stream->SetDictionary(AsDictionary(Store.Parse("<<" + std::string(entries) + ">>")));
        return stream;
    }

    struct Case {
        std::string Entries, Data, Expected;
    };
    void Check(const std::vector<Case>& cases) {
        for (const Case& c : cases)
            EXPECT_EQ(Stream(c.Entries, c.Data)->DecodedData(), c.Expected) << c.Entries;
    }

    TPDFStructure Store;
    std::map<std::int32_t, TPDFObject*> Targets;
};

const std::string kText = "BT /F1 12 Tf 72 712 Td (Hello, world) Tj ET\n";
// Two rows of two bytes with PNG "up" prediction: 1 2 / 3 4 decodes to 1 2 / 4 6.
const std::string kUpRows = Bytes({2, 1, 2, 2, 3, 4});
const std::string kUpDecoded = Bytes({1, 2, 4, 6});

} // namespace

TEST_F(FilterChain, FiltersApplyInListOrderAndUnknownOrMiscasedNamesPassTheDataOn) {
    const std::string packed = Deflate(kText), a85 = Ascii85Encode(packed);
    Check({
        {"", kText, kText},
        {"/Filter 5", kText, kText},
        {"/Filter []", kText, kText},
        {"/Filter /Fl", packed, kText},
        {"/Filter [/ASCII85Decode /FlateDecode]", a85, kText},
        {"/Filter [/A85 /Fl]", a85, kText},
        {"/Filter [/FlateDecode /ASCII85Decode]", a85, ""},
        {"/Filter /ASCIIHexDecode", "48656C6C6F>", "Hello"},
        {"/Filter [/ASCIIHexDecode /FlateDecode]", "789C4B04000062006200>", "a"},
        {"/Filter [/Crypt /DCTDecode /FlateDecode]", packed, kText},
        {"/Filter /flatedecode", packed, packed},
        {"/Filter /FL", packed, packed},
        {"/Filter /ascii85decode", "z~>", "z~>"},
        // A reference is followed for the filter, but a reference in the list drops out.
        {"/Filter 7 0 R", packed, kText},
        {"/Filter [7 0 R]", packed, packed},
    });
}

TEST_F(FilterChain, DecodeParmsGiveEachFilterItsParameters) {
    const std::string text = ContentLikeText(20000);
    const std::string early = LzwEncode(text, true), late = LzwEncode(text, false);
    const std::string up = Deflate(kUpRows), a85 = Ascii85Encode(up);
    Check({
        // LZW uses early change unless it is turned off, and ignores predictor keys.
        {"/Filter /LZWDecode", early, text},
        {"/Filter /LZWDecode /DecodeParms <<>>", early, text},
        {"/Filter /LZWDecode /DecodeParms <</EarlyChange 1>>", early, text},
        {"/Filter /LZWDecode /DecodeParms <</EarlyChange /No>>", early, text},
        {"/Filter /LZWDecode /DecodeParms <</EarlyChange 0>>", late, text},
        {"/Filter /LZWDecode /DecodeParms <</EarlyChange 2>>", late, text},
        {"/Filter /LZWDecode /DecodeParms <</Predictor 12 /Columns 2>>", LzwEncode(kUpRows, true),
         kUpRows},
        // Flate without a predictor only inflates; 16 bits leave the inflated data.
        {"/Filter /Fl", up, kUpRows},
        {"/Filter /Fl /DecodeParms <</Columns 2>>", up, kUpRows},
        {"/Filter /Fl /DecodeParms <</Predictor 12 /Columns 2 /BitsPerComponent 16>>", up, kUpRows},
        {"/Filter /Fl /DecodeParms <</Predictor 2 /Columns 2 /Colors 3>>",
         Deflate(Bytes({1, 2, 3, 1, 1, 1})), Bytes({1, 2, 3, 2, 3, 4})},
        // DP is used only when DecodeParms is missing (another kind of value still counts).
        {"/Filter /Fl /DP <</Predictor 12 /Columns 2>>", up, kUpDecoded},
        {"/Filter /Fl /DecodeParms <</Predictor 1>> /DP <</Predictor 12 /Columns 2>>", up, kUpRows},
        {"/Filter /Fl /DecodeParms 3 /DP <</Predictor 12 /Columns 2>>", up, kUpRows},
        // An array gives parameters by index; a single dictionary belongs to the first filter;
        // items beyond the filter list are ignored, a short array leaves later filters without.
        {"/Filter [/A85 /Fl] /DecodeParms [null <</Predictor 12 /Columns 2>>]", a85, kUpDecoded},
        {"/Filter [/A85 /Fl] /DecodeParms <</Predictor 12 /Columns 2>>", a85, kUpRows},
        {"/Filter /Fl /DecodeParms [<</Predictor 12 /Columns 2>> 7 8]", up, kUpDecoded},
        {"/Filter [/A85 /Fl] /DecodeParms [null]", a85, kUpRows},
        // Non-name filter items drop out: /Fl moves to index 0 and takes the first item.
        {"/Filter [1 (Fl) /Fl] /DecodeParms [<</Predictor 12 /Columns 2>>]", up, kUpDecoded},
        // References are followed for the filter and parameters, not inside a parameter array;
        // a dangling one is no parameter dictionary, and DP takes its place.
        {"/Filter 7 0 R /DecodeParms 8 0 R", up, kUpDecoded},
        {"/Filter 9 0 R /DecodeParms [null 8 0 R]", a85, kUpRows},
        {"/Filter /Fl /DecodeParms <</Predictor 12 /Columns 10 0 R>>", up, kUpDecoded},
        {"/Filter /Fl /DecodeParms 99 0 R /DP 8 0 R", up, kUpDecoded},
        // Non-number parameters take their defaults (Columns 1: one type byte and one byte).
        {"/Filter /Fl /DecodeParms <</Predictor 12 /Columns (2)>>",
         Deflate(Bytes({2, 5, 2, 1, 2, 1})), Bytes({5, 6, 7})},
        {"/Filter /Fl /DecodeParms <</Predictor /PNG /Columns 2>>", up, kUpRows},
        // Parameter numbers round halves to even; 1.5 is TIFF (2) over rows of two bytes.
        {"/Filter /Fl /DecodeParms <</Predictor 11.6 /Columns 1.5>>", up, kUpDecoded},
        {"/Filter /Fl /DecodeParms <</Predictor 12 /Columns 2.5>>", up, kUpDecoded},
        {"/Filter /Fl /DecodeParms <</Predictor 1.5 /Columns 2>>", up, Bytes({2, 3, 2, 4, 3, 7})},
    });
}

TEST_F(FilterChain, TruncatedFlateKeepsItsPrefixAndBombsStopAtTheDecodeBound) {
    const std::string text = ContentLikeText(100000);
    const std::string packed = Deflate(text);
    const std::string out =
        Stream("/Filter /FlateDecode", packed.substr(0, packed.size() / 2))->DecodedData();
    ASSERT_FALSE(out.empty());
    EXPECT_LT(out.size(), text.size());
    EXPECT_EQ(out, text.substr(0, out.size()));

    const std::string flateBomb = Deflate(std::string(32u << 20, ' '));
    std::vector<int> run{120}; // "x", then each code one "x" longer: 7 MiB in all
    for (int code = 258; code < 4094; ++code)
        run.push_back(code);
    const std::string lzwBomb = PackCodes(run, true);
    TDecodeLimitScope scope(1u << 20);
    EXPECT_EQ(Stream("/Filter /FlateDecode", flateBomb)->DecodedData(), std::string(1u << 20, ' '));
    EXPECT_EQ(Stream("/Filter /LZWDecode", lzwBomb)->DecodedData(), std::string(1u << 20, 'x'));
}

TEST_F(FilterChain, EveryCallDecodesTheCurrentRawData) {
    TPDFStream* stream = Stream("/Filter /FlateDecode", Deflate("first"));
    EXPECT_EQ(stream->DecodedData(), "first");
    stream->ReplaceRawData(Deflate("second"));
    EXPECT_EQ(stream->DecodedData(), "second");
    EXPECT_EQ(DecodeStream(*stream), "second");
}
