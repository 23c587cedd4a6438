#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
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

using namespace korvel;

namespace {

std::string Deflate(std::string_view data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

// Text that compresses about as well as a page's content stream.
std::string ContentLikeText(std::size_t size) {
    std::mt19937 rng(7);
    std::string out;
    while (out.size() < size) {
        out += "BT /F" + std::to_string(rng() % 4) + " 10 Tf " + std::to_string(rng() % 600) + " " +
               std::to_string(rng() % 800) + " Td (word" + std::to_string(rng() % 1000) +
               ") Tj ET\n";
    }
    out.resize(size);
    return out;
}

class TDecodeLimitScope {
public:
    explicit TDecodeLimitScope(std::size_t limit) { SetDecodeLimit(limit); }
    ~TDecodeLimitScope() { SetDecodeLimit(kDefaultDecodeLimit); }
};

// Packs LZW codes most significant bit first, widening the codes on the schedule a decoder
// follows (one code behind the encoder's table).
std::string PackCodes(const std::vector<int>& codes, bool earlyChange) {
    std::string out;
    std::uint32_t acc = 0;
    int bits = 0;
    int width = 9;
    int next = 258;
    int growAt = earlyChange ? 510 : 511;
    bool first = true;
    for (int code : codes) {
        acc = (acc << width) | static_cast<std::uint32_t>(code);
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<char>((acc >> (bits - 8)) & 0xFF));
            bits -= 8;
        }
        if (code == 256) {
            width = 9;
            next = 257;
            growAt = earlyChange ? 510 : 511;
            continue;
        }
        if (first) {
            first = false;
            continue;
        }
        if (next == growAt && width < 12) {
            ++width;
            growAt = (1 << width) - (earlyChange ? 2 : 1);
        }
        if (next < 4095)
            ++next;
    }
    if (bits > 0)
        out.push_back(static_cast<char>((acc << (8 - bits)) & 0xFF));
    return out;
}

// A plain LZW encoder; emits a clear code after `clearAfter` codes (and whenever the table
// fills up).
std::string LzwEncode(std::string_view data, bool earlyChange, std::size_t clearAfter = 0) {
    std::string out;
    std::uint32_t acc = 0;
    int bits = 0;
    int next = 258;
    std::map<std::pair<int, unsigned char>, int> table;
    auto emit = [&](int code) {
        const int width = earlyChange ? (next >= 2048   ? 12
                                         : next >= 1024 ? 11
                                         : next >= 512  ? 10
                                                        : 9)
                                      : (next > 2048   ? 12
                                         : next > 1024 ? 11
                                         : next > 512  ? 10
                                                       : 9);
        acc = (acc << width) | static_cast<std::uint32_t>(code);
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<char>((acc >> (bits - 8)) & 0xFF));
            bits -= 8;
        }
    };
    emit(256);
    std::size_t emitted = 0;
    int current = -1;
    for (char ch : data) {
        const auto c = static_cast<unsigned char>(ch);
        if (current < 0) {
            current = c;
            continue;
        }
        const auto found = table.find({current, c});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        emit(current);
        ++emitted;
        table[{current, c}] = next++;
        current = c;
        if (next >= 4094 || (clearAfter != 0 && emitted == clearAfter)) {
            emit(256);
            table.clear();
            next = 258;
        }
    }
    if (current >= 0)
        emit(current);
    emit(257);
    if (bits > 0)
        out.push_back(static_cast<char>((acc << (8 - bits)) & 0xFF));
    return out;
}

int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Applies PNG filter `type` to every row of an image of `columns` pixels by `colors` bytes.
std::string PngEncode(const std::string& image, int columns, int colors, int type) {
    const std::size_t rowLength = static_cast<std::size_t>(columns * colors);
    std::string out;
    for (std::size_t start = 0; start + rowLength <= image.size(); start += rowLength) {
        out.push_back(static_cast<char>(type));
        for (std::size_t i = 0; i < rowLength; ++i) {
            auto at = [&](std::size_t pos) { return static_cast<unsigned char>(image[pos]); };
            const int x = at(start + i);
            const int a = i >= static_cast<std::size_t>(colors) ? at(start + i - colors) : 0;
            const int b = start > 0 ? at(start + i - rowLength) : 0;
            const int c = start > 0 && i >= static_cast<std::size_t>(colors)
                              ? at(start + i - rowLength - colors)
                              : 0;
            const int predicted = type == 1   ? a
                                  : type == 2 ? b
                                  : type == 3 ? (a + b) / 2
                                  : type == 4 ? Paeth(a, b, c)
                                              : 0;
            out.push_back(static_cast<char>((x - predicted) & 0xFF));
        }
    }
    return out;
}

TPredictorParams Png(int columns, int colors = 1, int predictor = 12) {
    TPredictorParams p;
    p.Predictor = predictor;
    p.Columns = columns;
    p.Colors = colors;
    return p;
}

TPredictorParams Tiff(int columns, int colors) {
    TPredictorParams p;
    p.Predictor = 2;
    p.Columns = columns;
    p.Colors = colors;
    return p;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Flate

TEST(Flate, DamagedChecksumStillGivesAllBytes) {
    const std::string text = "BT (Hello) Tj ET";
    std::string packed = Deflate(text);
    packed.back() = static_cast<char>(packed.back() ^ 0x55);
    EXPECT_EQ(FlateDecode(packed), text);
}

TEST(Flate, DataThatIsNotAZlibStreamGivesEmptyData) {
    EXPECT_EQ(FlateDecode(""), "");
    EXPECT_EQ(FlateDecode("BT (Hello) Tj ET"), "");
    // Raw deflate without the zlib header.
    const std::string packed = Deflate("some text some text some text");
    EXPECT_EQ(FlateDecode(std::string_view(packed).substr(2)), "");
}

TEST(Flate, CorruptionInTheMiddleKeepsTheReadableBeginning) {
    const std::string text = ContentLikeText(100000);
    std::string packed = Deflate(text);
    for (std::size_t i = packed.size() / 2; i < packed.size() / 2 + 64; ++i)
        packed[i] = static_cast<char>(0xFF);
    const std::string out = FlateDecode(packed);
    EXPECT_LT(out.size(), text.size());
    EXPECT_EQ(out.substr(0, 1000), text.substr(0, 1000));
}

TEST(Flate, HighRatioStreamGrowsTheBufferToTheFullSize) {
    const std::string text = ContentLikeText(300000);
    EXPECT_EQ(FlateDecode(Deflate(text)), text);
    const std::string zeros(20u << 20, '\0');
    const std::string out = FlateDecode(Deflate(zeros));
    EXPECT_EQ(out.size(), zeros.size());
    EXPECT_EQ(out, zeros);
}

TEST(Flate, BombStopsAtTheDecodeBoundAndKeepsThePrefix) {
    const std::string text(64u << 20, 'q');
    const std::string packed = Deflate(text);
    ASSERT_LT(packed.size(), 200000u);
    EXPECT_EQ(FlateDecode(packed, 1u << 20), std::string(1u << 20, 'q'));
    EXPECT_EQ(FlateDecode(packed, 1000), std::string(1000, 'q'));
}

TEST(Flate, DecodeLimitIsAdjustable) {
    EXPECT_EQ(DecodeLimit(), kDefaultDecodeLimit);
    {
        TDecodeLimitScope scope(12345);
        EXPECT_EQ(DecodeLimit(), 12345u);
        EXPECT_EQ(FlateDecode(Deflate(std::string(50000, 'x'))).size(), 12345u);
    }
    EXPECT_EQ(DecodeLimit(), kDefaultDecodeLimit);
}

// ---------------------------------------------------------------------------------------------
// Predictors

TEST(Predictor, PngUpRowsOfACrossReferenceStream) {
    // Columns 5: rows of one type byte (2, up) and five bytes.
    const std::string stored = Bytes({2, 1, 0, 16, 0, 0, 2, 0, 0, 9, 0, 1, 2, 1, 0, 255, 0, 1});
    EXPECT_EQ(UndoPredictor(stored, Png(5)),
              Bytes({1, 0, 16, 0, 0, 1, 0, 25, 0, 1, 2, 0, 24, 0, 2}));
}

TEST(Predictor, PngSubAddsTheBytePixelToTheLeft) {
    // Colors 3: each byte adds the byte three positions back; the first pixel stays.
    const std::string stored = Bytes({1, 10, 20, 30, 1, 2, 3, 250, 10, 0});
    EXPECT_EQ(UndoPredictor(stored, Png(3, 3)), Bytes({10, 20, 30, 11, 22, 33, 5, 32, 33}));
}

TEST(Predictor, PngFirstRowUsesZeroForTheRowAbove) {
    // up: unchanged; average: x + a/2; Paeth: picks a (b = c = 0).
    EXPECT_EQ(UndoPredictor(Bytes({2, 5, 6, 7}), Png(3)), Bytes({5, 6, 7}));
    EXPECT_EQ(UndoPredictor(Bytes({3, 10, 20, 30}), Png(3)), Bytes({10, 25, 42}));
    EXPECT_EQ(UndoPredictor(Bytes({4, 10, 20, 30}), Png(3)), Bytes({10, 30, 60}));
}

TEST(Predictor, PngAverageRoundsDown) {
    // Row 2, byte 0: 1 + (0 + 7) / 2 = 4; byte 1: 1 + (4 + 8) / 2 = 7.
    EXPECT_EQ(UndoPredictor(Bytes({0, 7, 8, 3, 1, 1}), Png(2)), Bytes({7, 8, 4, 7}));
}

TEST(Predictor, PngPaethChoosesLeftAboveAndUpperLeft) {
    // Row 1 picks b (above), then c (upper left, where a + b - 2c is 0), then b, then a with
    // the sum wrapping modulo 256.
    const std::string stored = Bytes({0, 100, 60, 200, 200, 4, 40, 1, 50, 10});
    EXPECT_EQ(UndoPredictor(stored, Png(4)), Bytes({100, 60, 200, 200, 140, 101, 250, 4}));
}

TEST(Predictor, PngEveryRowTypeRoundTripsWithSeveralColors) {
    std::mt19937 rng(3);
    std::string image(7 * 3 * 9, '\0');
    for (char& c : image)
        c = static_cast<char>(rng() % 64 + (rng() % 2 ? 0 : 128));
    for (int type = 0; type <= 4; ++type)
        EXPECT_EQ(UndoPredictor(PngEncode(image, 7, 3, type), Png(7, 3)), image) << "type " << type;
}

TEST(Predictor, PngRowTypeByteDecidesNotThePredictorNumber) {
    const std::string stored = Bytes({1, 1, 1, 1, 2, 1, 1, 1});
    const std::string expected = Bytes({1, 2, 3, 2, 3, 4});
    for (int predictor : {10, 11, 12, 13, 14, 15, 99})
        EXPECT_EQ(UndoPredictor(stored, Png(3, 1, predictor)), expected) << predictor;
}

TEST(Predictor, PngUnknownRowTypeStoresTheBytes) {
    EXPECT_EQ(UndoPredictor(Bytes({0, 9, 9, 7, 1, 2}), Png(2)), Bytes({9, 9, 1, 2}));
}

TEST(Predictor, PngDropsTheIncompleteLastRow) {
    EXPECT_EQ(UndoPredictor(Bytes({0, 1, 2, 0, 3}), Png(2)), Bytes({1, 2}));
    EXPECT_EQ(UndoPredictor(Bytes({0, 1}), Png(2)), "");
}

TEST(Predictor, TiffAddsTheSameComponentOfThePreviousPixel) {
    EXPECT_EQ(UndoPredictor(Bytes({5, 1, 1, 255, 9, 1, 1, 1}), Tiff(4, 1)),
              Bytes({5, 6, 7, 6, 9, 10, 11, 12}));
    EXPECT_EQ(UndoPredictor(Bytes({1, 2, 3, 10, 20, 30, 1, 1, 1}), Tiff(3, 3)),
              Bytes({1, 2, 3, 11, 22, 33, 12, 23, 34}));
    EXPECT_EQ(UndoPredictor(Bytes({1, 2, 3, 4, 1, 1, 1, 1, 7, 7, 7, 7, 0, 0, 0, 1}), Tiff(2, 4)),
              Bytes({1, 2, 3, 4, 2, 3, 4, 5, 7, 7, 7, 7, 7, 7, 7, 8}));
}

TEST(Predictor, TiffKeepsStoredBytesAfterTheLastWholeRow) {
    EXPECT_EQ(UndoPredictor(Bytes({1, 1, 1, 5, 5}), Tiff(3, 1)), Bytes({1, 2, 3, 5, 5}));
}

TEST(Predictor, TiffWithTwoColorsIsLeftAsItIs) {
    const std::string data = Bytes({1, 1, 1, 1});
    EXPECT_EQ(UndoPredictor(data, Tiff(2, 2)), data);
}

TEST(Predictor, OtherBitsPerComponentLeavesTheDataUnchanged) {
    const std::string data = Bytes({2, 1, 2, 3, 4, 2, 1, 1, 1, 1});
    TPredictorParams p = Png(2);
    p.BitsPerComponent = 16;
    EXPECT_EQ(UndoPredictor(data, p), data);
    TPredictorParams t = Tiff(2, 1);
    t.BitsPerComponent = 1;
    EXPECT_EQ(UndoPredictor(data, t), data);
}

TEST(Predictor, NoPredictionForPredictorOneAndThreeToNine) {
    const std::string data = Bytes({2, 1, 2, 3});
    for (int predictor : {1, 0, -5, 3, 9})
        EXPECT_EQ(UndoPredictor(data, Png(1, 1, predictor)), data) << predictor;
}

TEST(Predictor, NonsenseRowSizesLeaveTheDataUnchanged) {
    const std::string data = Bytes({2, 1, 2, 3, 2, 1, 1, 1});
    EXPECT_EQ(UndoPredictor(data, Png(0)), data);
    EXPECT_EQ(UndoPredictor(data, Png(-3)), data);
    EXPECT_EQ(UndoPredictor(data, Png(3, 0)), data);
    EXPECT_EQ(UndoPredictor(data, Png(3, -1)), data);
    EXPECT_EQ(UndoPredictor(data, Tiff(0, 1)), data);
    // Columns x Colors beyond the 32-bit range.
    EXPECT_EQ(UndoPredictor(data, Png(2147483647, 2147483647)), data);
    EXPECT_EQ(UndoPredictor(data, Png(1 << 30, 4)), data);
    EXPECT_EQ(UndoPredictor(data, Tiff(1 << 30, 4)), data);
}

TEST(Predictor, HugeRowLengthWithinRangeGivesNoWholeRow) {
    EXPECT_EQ(UndoPredictor(Bytes({2, 1, 2, 3}), Png(1 << 28, 4)), "");
    EXPECT_EQ(UndoPredictor(Bytes({2, 1, 2, 3}), Tiff(1 << 28, 4)), Bytes({2, 1, 2, 3}));
}

// ---------------------------------------------------------------------------------------------
// ASCII85

TEST(Ascii85, DecodesGroupsAndTheFinalPartialGroup) {
    EXPECT_EQ(Ascii85Decode("87cURD_*#TDfTZ)+T~>"), "Hello, world!");
    EXPECT_EQ(Ascii85Decode("s8W-!~>"), std::string(4, '\xFF'));
    EXPECT_EQ(Ascii85Decode("s8W*~>"), std::string(3, '\xFF'));
}

TEST(Ascii85, ZeroShortcuts) {
    EXPECT_EQ(Ascii85Decode("z~>"), std::string(4, '\0'));
    EXPECT_EQ(Ascii85Decode("!!~>"), std::string(1, '\0'));
    EXPECT_EQ(Ascii85Decode("zz!!!~>"), std::string(10, '\0'));
}

TEST(Ascii85, ZInsideAGroupStandsForFiveDigits) {
    // "!!" + "!!!!!" + "!!!" is two whole zero groups.
    EXPECT_EQ(Ascii85Decode("!!z!!!~>"), std::string(8, '\0'));
}

TEST(Ascii85, WhiteSpaceAndOtherBytesAreIgnored) {
    EXPECT_EQ(Ascii85Decode("87cU\r\nRD_*#\tTDf TZ)+T\n~\n>\n"), "Hello, world!");
    EXPECT_EQ(Ascii85Decode("87c\x01URD_*#TDfTZ)+T{}~>"), "Hello, world!");
}

TEST(Ascii85, MissingEndMarkerGivesEmptyData) {
    EXPECT_EQ(Ascii85Decode("87cURD_*#TDfTZ)+T"), "");
    EXPECT_EQ(Ascii85Decode("87cURD_*#TDfTZ)+T~"), "");
    EXPECT_EQ(Ascii85Decode("87cURD_*#TDfTZ)+T>"), "");
    EXPECT_EQ(Ascii85Decode("!!~>!!"), "");
    EXPECT_EQ(Ascii85Decode("!!~z>"), "");
    EXPECT_EQ(Ascii85Decode(""), "");
}

TEST(Ascii85, SingleLeftoverCharacterAddsNothing) {
    EXPECT_EQ(Ascii85Decode("~>"), "");
    EXPECT_EQ(Ascii85Decode("!~>"), "");
    EXPECT_EQ(Ascii85Decode("z!~>"), std::string(4, '\0'));
}

TEST(Ascii85, OverflowingGroupsGiveZeroBytes) {
    EXPECT_EQ(Ascii85Decode("uuuuu~>"), std::string(4, '\0'));
    EXPECT_EQ(Ascii85Decode("s8W-\"~>"), std::string(4, '\0'));
    // Padded with `u`, "uu" exceeds the 32-bit range.
    EXPECT_EQ(Ascii85Decode("uu~>"), std::string(1, '\0'));
}

TEST(Ascii85, OutputStopsAtTheDecodeBound) {
    const std::string zeros(100000, 'z');
    EXPECT_EQ(Ascii85Decode(zeros + "~>", 1001), std::string(1001, '\0'));
    EXPECT_EQ(Ascii85Decode("87cURD_*#TDfTZ)+T~>", 7), "Hello, ");
}

// ---------------------------------------------------------------------------------------------
// LZW

TEST(LZW, DecodesTheReferenceExampleWithEarlyChange) {
    EXPECT_EQ(LZWDecode(Bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01}), true),
              "-----A---B");
    EXPECT_EQ(PackCodes({256, 45, 258, 258, 65, 259, 66, 257}, true),
              Bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01}));
}

TEST(LZW, RoundTripsLongTextThroughAllCodeWidths) {
    const std::string text = ContentLikeText(200000);
    EXPECT_EQ(LZWDecode(LzwEncode(text, true), true), text);
    EXPECT_EQ(LZWDecode(LzwEncode(text, false), false), text);
}

TEST(LZW, ClearCodeInTheMiddleRestartsTheTable) {
    const std::string text = ContentLikeText(20000);
    for (std::size_t clearAfter : {1u, 2u, 100u, 300u, 1000u}) {
        EXPECT_EQ(LZWDecode(LzwEncode(text, true, clearAfter), true), text) << clearAfter;
        EXPECT_EQ(LZWDecode(LzwEncode(text, false, clearAfter), false), text) << clearAfter;
    }
}

TEST(LZW, ClearCodeKeepsThePreviousCodeForTheThrowAwayEntry) {
    // After the clear, 258 is rebuilt as "B" + "C" and must not be the old "A" + "B".
    EXPECT_EQ(LZWDecode(PackCodes({65, 66, 258, 256, 66, 67, 258, 257}, true), true), "ABABBCBC");
}

TEST(LZW, MissingEndCodeReadsCodesStartingInTheFirstPaddingByte) {
    // 36 bits of codes in 5 bytes: codes start at bits 36 and 45 (zero bits, code 0), the next
    // one at 54 lies beyond the first padding byte.
    EXPECT_EQ(LZWDecode(PackCodes({256, 72, 105, 33}, true), true), std::string("Hi!\0\0", 5));
    // 72 bits in 9 bytes: one zero code from the padding.
    EXPECT_EQ(LZWDecode(PackCodes({72, 105, 33, 72, 105, 33, 72, 105}, true), true),
              std::string("Hi!Hi!Hi\0", 9));
    EXPECT_EQ(LZWDecode("", true), std::string(1, '\0'));
}

TEST(LZW, CodeAfterAnEmptyPreviousEntryIsEmpty) {
    // A first code of 258 or more and a second clear code have no bytes to extend.
    EXPECT_EQ(LZWDecode(PackCodes({258, 259, 65, 257}, true), true), "A");
    EXPECT_EQ(LZWDecode(PackCodes({300, 65, 258, 257}, true), true), "AA");
    // Here 300 extends the "B" before it, as any undefined code does.
    EXPECT_EQ(LZWDecode(PackCodes({256, 256, 66, 300, 257}, true), true), "BBB");
}

TEST(LZW, CodeBeyondTheNextFreeCodeRepeatsThePreviousEntry) {
    // 400 is not defined yet: it gives "B" + "B", stored at 259. Then 400 is the previous code;
    // its entry is empty, so the entry 260 made with the next 66 is "B" alone.
    EXPECT_EQ(LZWDecode(PackCodes({65, 66, 400, 66, 260, 257}, true), true), "ABBBBB");
}

TEST(LZW, StaleEntryAfterAClearStillExtends) {
    // After the clear, 259 ("BC" from before) is undefined: it repeats "C" + "C" into 257 and
    // becomes the previous code, so the next entry 258 is "BC" + "D".
    EXPECT_EQ(LZWDecode(PackCodes({65, 66, 67, 256, 259, 68, 258, 257}, true), true), "ABCCCDBCD");
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
        const std::size_t n = std::min<std::size_t>(4, data.size() - i);
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4; ++k)
            value = (value << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        char group[5];
        for (int k = 4; k >= 0; --k) {
            group[k] = static_cast<char>('!' + value % 85);
            value /= 85;
        }
        out.append(group, n + 1);
        if (out.size() % 60 < 5)
            out += "\r\n";
    }
    return out + "~>";
}

// A store whose references resolve to the values registered with Define.
class FilterChain : public ::testing::Test {
protected:
    FilterChain() {
        Store.OnResolve = [this](const TPDFIndRef*, std::int32_t objNum, std::int32_t) {
            const auto found = Targets.find(objNum);
            return found == Targets.end() ? nullptr : found->second;
        };
    }

    TPDFObject* Define(std::int32_t objNum, std::string_view text) {
        TPDFObject* value = Store.Parse(text);
        Targets[objNum] = value;
        return value;
    }

    // A stream with the dictionary entries written in `entries` (PDF syntax, without << >>).
    TPDFStream* Stream(std::string_view entries, std::string data) {
        TPDFStream* stream = Store.CreateStream(std::move(data));
        auto* parsed = AsDictionary(Store.Parse("<<" + std::string(entries) + ">>"));
        EXPECT_NE(parsed, nullptr);
        if (!parsed)
            return stream;
        for (int i = 0; i < parsed->Count(); ++i) {
            const auto [key, value] = parsed->EntryAt(i);
            stream->Dictionary()->Put(key->Value(), value);
        }
        return stream;
    }

    std::string Decode(std::string_view entries, std::string data) {
        return Stream(entries, std::move(data))->DecodedData();
    }

    TPDFStructure Store;
    std::map<std::int32_t, TPDFObject*> Targets;
};

const std::string kText = "BT /F1 12 Tf 72 712 Td (Hello, world) Tj ET\n";
// Two rows of two bytes with PNG "up" prediction: 1 2 / 3 4 decodes to 1 2 / 4 6.
const std::string kUpRows = Bytes({2, 1, 2, 2, 3, 4});
const std::string kUpDecoded = Bytes({1, 2, 4, 6});

} // namespace

TEST_F(FilterChain, NoFilterGivesTheStoredBytes) {
    EXPECT_EQ(Decode("", kText), kText);
    EXPECT_EQ(Decode("/Filter 5", kText), kText);
    EXPECT_EQ(Decode("/Filter []", kText), kText);
}

TEST_F(FilterChain, FlateStreamInflates) {
    EXPECT_EQ(Decode("/Filter /FlateDecode", Deflate(kText)), kText);
    EXPECT_EQ(Decode("/Filter /Fl", Deflate(kText)), kText);
}

TEST_F(FilterChain, TruncatedFlateStreamGivesTheBytesBeforeTheCut) {
    const std::string text = ContentLikeText(100000);
    const std::string packed = Deflate(text);
    const std::string out = Decode("/Filter /FlateDecode", packed.substr(0, packed.size() / 2));
    ASSERT_FALSE(out.empty());
    EXPECT_LT(out.size(), text.size());
    EXPECT_EQ(out, text.substr(0, out.size()));
}

TEST_F(FilterChain, Ascii85ThenFlateDecodesInListOrder) {
    const std::string data = Ascii85Encode(Deflate(kText));
    EXPECT_EQ(Decode("/Filter [/ASCII85Decode /FlateDecode]", data), kText);
    EXPECT_EQ(Decode("/Filter [/A85 /Fl]", data), kText);
    EXPECT_EQ(Decode("/Filter [/FlateDecode /ASCII85Decode]", data), "");
}

TEST_F(FilterChain, UnknownFiltersPassTheDataOn) {
    EXPECT_EQ(Decode("/Filter /ASCIIHexDecode", "48656C6C6F>"), "48656C6C6F>");
    EXPECT_EQ(Decode("/Filter [/ASCIIHexDecode /FlateDecode]", "789C4B04000062006200>"), "");
    EXPECT_EQ(Decode("/Filter [/Crypt /DCTDecode /FlateDecode]", Deflate(kText)), kText);
}

TEST_F(FilterChain, FilterNamesAreCaseSensitive) {
    const std::string packed = Deflate(kText);
    EXPECT_EQ(Decode("/Filter /flatedecode", packed), packed);
    EXPECT_EQ(Decode("/Filter /FL", packed), packed);
    EXPECT_EQ(Decode("/Filter /ascii85decode", "z~>"), "z~>");
}

TEST_F(FilterChain, LzwStreamUsesEarlyChangeUnlessTurnedOff) {
    const std::string text = ContentLikeText(20000);
    const std::string early = LzwEncode(text, true);
    const std::string late = LzwEncode(text, false);
    EXPECT_EQ(Decode("/Filter /LZWDecode", early), text);
    EXPECT_EQ(Decode("/Filter /LZWDecode /DecodeParms <<>>", early), text);
    EXPECT_EQ(Decode("/Filter /LZWDecode /DecodeParms <</EarlyChange 1>>", early), text);
    EXPECT_EQ(Decode("/Filter /LZWDecode /DecodeParms <</EarlyChange /No>>", early), text);
    EXPECT_EQ(Decode("/Filter /LZWDecode /DecodeParms <</EarlyChange 0>>", late), text);
    EXPECT_EQ(Decode("/Filter /LZWDecode /DecodeParms <</EarlyChange 2>>", late), text);
}

TEST_F(FilterChain, LzwIgnoresPredictorKeys) {
    const std::string packed = LzwEncode(kUpRows, true);
    EXPECT_EQ(Decode("/Filter /LZWDecode /DecodeParms <</Predictor 12 /Columns 2>>", packed),
              kUpRows);
}

TEST_F(FilterChain, CrossReferenceStreamRowsLoseTheirTypeBytes) {
    const std::string rows = Bytes({2, 1, 0, 16, 0, 0, 2, 0, 0, 9, 0, 1});
    EXPECT_EQ(Decode("/Type /XRef /Filter /FlateDecode /DecodeParms <</Predictor 12 /Columns 5>>",
                     Deflate(rows)),
              Bytes({1, 0, 16, 0, 0, 1, 0, 25, 0, 1}));
}

TEST_F(FilterChain, FlateWithoutParametersOnlyInflates) {
    EXPECT_EQ(Decode("/Filter /FlateDecode", Deflate(kUpRows)), kUpRows);
    EXPECT_EQ(Decode("/Filter /FlateDecode /DecodeParms <</Columns 2>>", Deflate(kUpRows)),
              kUpRows);
}

TEST_F(FilterChain, PredictorSixteenBitsLeavesTheInflatedData) {
    EXPECT_EQ(Decode("/Filter /FlateDecode /DecodeParms <</Predictor 12 /Columns 2 "
                     "/BitsPerComponent 16>>",
                     Deflate(kUpRows)),
              kUpRows);
}

TEST_F(FilterChain, TiffPredictorThroughTheChain) {
    EXPECT_EQ(Decode("/Filter /FlateDecode /DecodeParms <</Predictor 2 /Columns 2 /Colors 3>>",
                     Deflate(Bytes({1, 2, 3, 1, 1, 1}))),
              Bytes({1, 2, 3, 2, 3, 4}));
}

TEST_F(FilterChain, DpIsUsedWhenDecodeParmsIsMissing) {
    EXPECT_EQ(Decode("/Filter /FlateDecode /DP <</Predictor 12 /Columns 2>>", Deflate(kUpRows)),
              kUpDecoded);
    EXPECT_EQ(Decode("/Filter /FlateDecode /DecodeParms <</Predictor 1>> "
                     "/DP <</Predictor 12 /Columns 2>>",
                     Deflate(kUpRows)),
              kUpRows);
    // Another kind of value is still a DecodeParms: DP is not consulted.
    EXPECT_EQ(Decode("/Filter /FlateDecode /DecodeParms 3 /DP <</Predictor 12 /Columns 2>>",
                     Deflate(kUpRows)),
              kUpRows);
}

TEST_F(FilterChain, DecodeParmsArrayGivesParametersByIndex) {
    const std::string data = Ascii85Encode(Deflate(kUpRows));
    EXPECT_EQ(Decode("/Filter [/A85 /Fl] /DecodeParms [null <</Predictor 12 /Columns 2>>]", data),
              kUpDecoded);
    // A single dictionary belongs to the first filter only.
    EXPECT_EQ(Decode("/Filter [/A85 /Fl] /DecodeParms <</Predictor 12 /Columns 2>>", data),
              kUpRows);
    // Items beyond the filter list are ignored; a short array leaves later filters without.
    EXPECT_EQ(
        Decode("/Filter /Fl /DecodeParms [<</Predictor 12 /Columns 2>> 7 8]", Deflate(kUpRows)),
        kUpDecoded);
    EXPECT_EQ(Decode("/Filter [/A85 /Fl] /DecodeParms [null]", data), kUpRows);
}

TEST_F(FilterChain, NonNameFilterItemsDropOutAndLaterNamesMoveUp) {
    // /Fl moves to index 0 and takes the first DecodeParms item.
    EXPECT_EQ(Decode("/Filter [1 (Fl) /Fl] /DecodeParms [<</Predictor 12 /Columns 2>>]",
                     Deflate(kUpRows)),
              kUpDecoded);
    Define(7, "/FlateDecode");
    EXPECT_EQ(Decode("/Filter [7 0 R]", Deflate(kText)), Deflate(kText));
}

TEST_F(FilterChain, ReferencesAreFollowedForFilterAndParameters) {
    Define(7, "/FlateDecode");
    Define(8, "<</Predictor 12 /Columns 2>>");
    Define(9, "[/A85 /Fl]");
    Define(10, "2");
    EXPECT_EQ(Decode("/Filter 7 0 R", Deflate(kText)), kText);
    EXPECT_EQ(Decode("/Filter 7 0 R /DecodeParms 8 0 R", Deflate(kUpRows)), kUpDecoded);
    EXPECT_EQ(Decode("/Filter 9 0 R /DecodeParms [null 8 0 R]", Ascii85Encode(Deflate(kUpRows))),
              kUpRows);
    EXPECT_EQ(
        Decode("/Filter /Fl /DecodeParms <</Predictor 12 /Columns 10 0 R>>", Deflate(kUpRows)),
        kUpDecoded);
    // A dangling reference is no parameter dictionary, and DP takes its place.
    EXPECT_EQ(Decode("/Filter /Fl /DecodeParms 99 0 R /DP 8 0 R", Deflate(kUpRows)), kUpDecoded);
}

TEST_F(FilterChain, NonNumberParametersTakeTheirDefaults) {
    // Columns defaults to 1: rows of one type byte and one byte.
    EXPECT_EQ(Decode("/Filter /Fl /DecodeParms <</Predictor 12 /Columns (2)>>",
                     Deflate(Bytes({2, 5, 2, 1, 2, 1}))),
              Bytes({5, 6, 7}));
    EXPECT_EQ(Decode("/Filter /Fl /DecodeParms <</Predictor /PNG /Columns 2>>", Deflate(kUpRows)),
              kUpRows);
}

TEST_F(FilterChain, ParameterNumbersRoundHalvesToEven) {
    EXPECT_EQ(Decode("/Filter /Fl /DecodeParms <</Predictor 11.6 /Columns 1.5>>", Deflate(kUpRows)),
              kUpDecoded);
    EXPECT_EQ(Decode("/Filter /Fl /DecodeParms <</Predictor 12 /Columns 2.5>>", Deflate(kUpRows)),
              kUpDecoded);
    // 1.5 is TIFF prediction (2) over rows of two bytes.
    EXPECT_EQ(Decode("/Filter /Fl /DecodeParms <</Predictor 1.5 /Columns 2>>", Deflate(kUpRows)),
              Bytes({2, 3, 2, 4, 3, 7}));
}

TEST_F(FilterChain, FlateBombStopsAtTheDecodeBound) {
    const std::string packed = Deflate(std::string(32u << 20, ' '));
    TDecodeLimitScope scope(1u << 20);
    EXPECT_EQ(Decode("/Filter /FlateDecode", packed), std::string(1u << 20, ' '));
}

TEST_F(FilterChain, LzwBombStopsAtTheDecodeBound) {
    const std::string packed = LzwEncode(std::string(3u << 20, 'x'), true);
    TDecodeLimitScope scope(1u << 20);
    EXPECT_EQ(Decode("/Filter /LZWDecode", packed), std::string(1u << 20, 'x'));
}

TEST_F(FilterChain, EveryCallDecodesTheCurrentRawData) {
    TPDFStream* stream = Stream("/Filter /FlateDecode", Deflate("first"));
    EXPECT_EQ(stream->DecodedData(), "first");
    stream->ReplaceRawData(Deflate("second"));
    EXPECT_EQ(stream->DecodedData(), "second");
    EXPECT_EQ(DecodeStream(*stream), "second");
}
