#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "file/uPDFExtra.h"

using namespace korvel;

TEST(IsNumberText, AcceptsDigitsOnePointAndAMinusOnlyFirst) {
    for (const char* text : {"123", "-1.5", ".5", "", "  \t42\r\n", "-1-2"})
        EXPECT_TRUE(IsNumberText(text)) << text;
    for (const char* text : {"1-2", "5-", "1.2.3", "+5", "1e5", "1 2", "1,5"})
        EXPECT_FALSE(IsNumberText(text)) << text;
}

TEST(NumberFromText, ReadsIntegersAs32BitValuesAndRealsWithNineFractionDigits) {
    for (const char* text : {"2147483648", "-", "1.2.3", "5-3", "-1-2", "42 "})
        EXPECT_EQ(NumberFromText(text), 0) << '"' << text << '"';
    EXPECT_EQ(NumberFromText("-7"), -7);
    EXPECT_EQ(NumberFromText("2147483647"), 2147483647.0);
    EXPECT_EQ(NumberFromText("-2147483648"), -2147483648.0);
    EXPECT_EQ(NumberFromText("  42"), 42);
    EXPECT_EQ(NumberFromText("1.5 "), 1) << "the fraction \"5 \" is invalid";
    EXPECT_DOUBLE_EQ(NumberFromText("3.14159265358"), 3.141592653);
    EXPECT_EQ(NumberFromText("1.0000000009"), 1) << "the tenth digit is ignored";
    EXPECT_EQ(NumberFromText(".5"), 0.5);
    EXPECT_EQ(NumberFromText("5."), 5);
    // A minus anywhere negates a real.
    EXPECT_EQ(NumberFromText("-0.5"), -0.5);
    EXPECT_EQ(NumberFromText("-12.25"), -12.25);
    EXPECT_EQ(NumberFromText("-1.5-"), -1);
    // An integer part overflowing 32 bits reads as zero.
    EXPECT_EQ(NumberFromText("12345678901.5"), 0.5);
    EXPECT_EQ(NumberFromText("-2147483648.5"), -2147483648.5);
    // Every fraction length scales by its exact power of ten, to the last bit.
    for (int digits = 1; digits <= 9; ++digits) {
        const std::string fraction(static_cast<std::size_t>(digits), '7');
        EXPECT_EQ(NumberFromText("3." + fraction),
                  3 + std::stoi(fraction) / std::pow(10.0, digits))
            << digits;
    }
}

TEST(NumberToText, CutsFifteenSignificantDigitsAndPadsToWidth) {
    EXPECT_EQ(NumberToText(0, 4, 1.23456), "1.2345");
    EXPECT_EQ(NumberToText(0, 2, 0.999), "0.99");
    EXPECT_EQ(NumberToText(0, 4, -3.25), "-3.2500");
    EXPECT_EQ(NumberToText(0, 4, 12), "12.0000");
    EXPECT_EQ(NumberToText(0, 15, 0.1), "0.10000000000") << "only ten zeros are appended";
    EXPECT_EQ(NumberToText(0, 0, 0.29 * 100), "29") << "28.999999999999996 at 15 digits";
    EXPECT_EQ(NumberToText(0, 4, 123456.123456789), "123456.1234");
    EXPECT_EQ(NumberToText(0, 4, 999999999999999.0), "999999999999999.0000");
    // Exponent forms write as 0.00, and so do non-finite values and -0.
    for (const double v : {1e15, -1e300, 0.00000123, std::nan(""), -0.0})
        EXPECT_EQ(NumberToText(0, 4, v), "0.0000") << v;
    EXPECT_EQ(NumberToText(0, 0, 1e15), "0");
    EXPECT_EQ(NumberToText(0, 2, -1e300), "0.00");
    EXPECT_EQ(NumberToText(3, 0, -std::numeric_limits<double>::infinity()), "000");
    // The decade 1e-5..1e-4 stays fixed.
    EXPECT_EQ(NumberToText(0, 8, 0.00000999), "0.00000000");
    EXPECT_EQ(NumberToText(0, 8, 0.0000123), "0.00001230");
    EXPECT_EQ(NumberToText(0, 6, -0.00005), "-0.000050");
    EXPECT_EQ(NumberToText(0, 4, 0.0001), "0.0001");
    // Negative values that truncate to zero lose their sign (they read back as 0).
    EXPECT_EQ(NumberToText(0, 4, -0.000012), "0.0000");
    EXPECT_EQ(NumberToText(0, 0, -0.5), "0");
    EXPECT_EQ(PDFNumberText(-0.00009), "0");
    // Zeros fill to the width, also before a minus.
    EXPECT_EQ(NumberToText(10, 0, 1234), "0000001234");
    EXPECT_EQ(NumberToText(3, 0, 123456), "123456");
    EXPECT_EQ(NumberToText(6, 0, -5), "0000-5");
    EXPECT_EQ(NumberToText(8, 2, 1.5), "00001.50");
}

TEST(PDFNumberText, DropsTrailingFractionZerosAndPointButNotIntegerZeros) {
    EXPECT_EQ(PDFNumberText(100), "100");
    EXPECT_EQ(PDFNumberText(-3.25), "-3.25");
    EXPECT_EQ(PDFNumberText(1.23456), "1.2345");
    EXPECT_EQ(PDFNumberText(612.0001), "612.0001");
    EXPECT_EQ(PDFNumberText(100, 0), "100");
    EXPECT_EQ(PDFNumberText(2.5, 1), "2.5");
}

TEST(TryReadInt32, ReadsSignAndLeadingSpacesAndRejectsJunkAndOverflow) {
    std::int32_t v = 0;
    EXPECT_TRUE(TryReadInt32("  -12", v) && v == -12);
    EXPECT_TRUE(TryReadInt32("+5", v) && v == 5);
    EXPECT_TRUE(TryReadInt32("0000000000000000000001", v) && v == 1);
    EXPECT_TRUE(TryReadInt32("-2147483648", v) && v == std::numeric_limits<std::int32_t>::min());
    v = 77;
    for (const char* text :
         {"", "-", "   ", "12a", "12 ", "\t5", "2147483648", "99999999999999999999999"})
        EXPECT_FALSE(TryReadInt32(text, v)) << '"' << text << '"';
    EXPECT_EQ(v, 77) << "left alone on failure";
}

TEST(TruncToInt32, TruncatesTowardsZeroSaturatesAndReadsNaNAsZero) {
    EXPECT_EQ(TruncToInt32(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(TruncToInt32(-1e300), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(TruncToInt32(std::nan("")), 0);
    EXPECT_EQ(TruncToInt32(-2.7), -2);
}
