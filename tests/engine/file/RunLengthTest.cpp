// ASCIIHexDecode and RunLengthDecode, alone and in a filter chain.
#include <gtest/gtest.h>

#include <string>

#include "file/uPDFFilters.h"
#include "file/uPDFRunLength.h"
#include "file/uPDFStructure.h"
#include "support/PdfWriter.h"

using namespace korvel;

namespace {

std::string decodeWith(const std::string& entries, const std::string& raw) {
    TPDFStructure store;
    return DecodeStreamData(AsDictionary(store.Parse("<<" + entries + ">>")), raw);
}

} // namespace

TEST(AsciiHex, DigitsOfEitherCaseWithWhiteSpaceDecodeUpToTheEndMarker) {
    EXPECT_EQ(AsciiHexDecode("48656C6c6F>"), "Hello");
    EXPECT_EQ(AsciiHexDecode("48 65\r\n6C\t6C 6F >ignored"), "Hello");
    EXPECT_EQ(AsciiHexDecode("414"), "A@"); // an odd last digit is followed by 0
    EXPECT_EQ(AsciiHexDecode("414>"), "A@");
    EXPECT_EQ(AsciiHexDecode(""), "");
    EXPECT_EQ(AsciiHexDecode(">"), "");
    EXPECT_EQ(AsciiHexDecode("4142zz4344"), "AB"); // a bad byte keeps what came before
    EXPECT_EQ(AsciiHexDecode("41424344", 2), "AB");
}

TEST(RunLength, LiteralAndRepeatRunsDecodeUntilTheEndCode) {
    EXPECT_EQ(RunLengthDecode(std::string("\x02" "abc" "\xFE" "x" "\x80" "zz", 9)), "abcxxx");
    EXPECT_EQ(RunLengthDecode(std::string("\x81" "y", 2)), std::string(128, 'y'));
    EXPECT_EQ(RunLengthDecode(std::string("\x7F", 1) + std::string(128, 'q')),
              std::string(128, 'q'));
    EXPECT_EQ(RunLengthDecode(std::string("\x04" "ab", 3)), "ab"); // a literal run cut short
    EXPECT_EQ(RunLengthDecode(std::string("\x00" "a" "\xFF", 3)), "a"); // a repeat without byte
    EXPECT_EQ(RunLengthDecode(""), "");
    EXPECT_EQ(RunLengthDecode(std::string("\x81" "y", 2), 10), std::string(10, 'y'));
}

TEST(RunLength, BothFiltersTakePartInAChainByFullAndShortName) {
    EXPECT_EQ(decodeWith("/Filter /ASCIIHexDecode", "616263>"), "abc");
    EXPECT_EQ(decodeWith("/Filter /AHx", "616263>"), "abc");
    EXPECT_EQ(decodeWith("/Filter /RL", std::string("\xFD" "z" "\x80", 3)), "zzzz");
    EXPECT_EQ(decodeWith("/Filter /RunLengthDecode", std::string("\x01" "hi" "\x80", 4)), "hi");
    // Hex first, then inflate what the hex gave.
    const std::string deflated = tolvane_test::Deflate("BT (inflated) Tj ET");
    std::string hex;
    for (unsigned char c : deflated) {
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[c >> 4];
        hex += digits[c & 15];
        hex += ' ';
    }
    EXPECT_EQ(decodeWith("/Filter [/ASCIIHexDecode /FlateDecode]", hex + ">"),
              "BT (inflated) Tj ET");
}
