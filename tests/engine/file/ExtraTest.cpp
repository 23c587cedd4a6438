#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "file/uPDFExtra.h"

using namespace korvel;

TEST(IsNumberText, AcceptsDigitsPointAndLeadingMinus) {
    EXPECT_TRUE(IsNumberText("123"));
    EXPECT_TRUE(IsNumberText("-1.5"));
    EXPECT_TRUE(IsNumberText(".5"));
    EXPECT_TRUE(IsNumberText(""));
    EXPECT_TRUE(IsNumberText("  \t42\r\n"));
}

TEST(IsNumberText, LaterMinusSignsPassOnlyAfterALeadingOne) {
    EXPECT_TRUE(IsNumberText("-1-2"));
    EXPECT_FALSE(IsNumberText("1-2"));
    EXPECT_FALSE(IsNumberText("5-"));
}

TEST(IsNumberText, RejectsOtherBytesAndSecondPoint) {
    EXPECT_FALSE(IsNumberText("1.2.3"));
    EXPECT_FALSE(IsNumberText("+5"));
    EXPECT_FALSE(IsNumberText("1e5"));
    EXPECT_FALSE(IsNumberText("1 2"));
    EXPECT_FALSE(IsNumberText("1,5"));
}

TEST(NumberFromText, IntegersReadAs32BitValues) {
    EXPECT_EQ(NumberFromText("42"), 42);
    EXPECT_EQ(NumberFromText("-7"), -7);
    EXPECT_EQ(NumberFromText("2147483647"), 2147483647.0);
    EXPECT_EQ(NumberFromText("-2147483648"), -2147483648.0);
    EXPECT_EQ(NumberFromText("2147483648"), 0);
    EXPECT_EQ(NumberFromText(""), 0);
    EXPECT_EQ(NumberFromText("-"), 0);
}

TEST(NumberFromText, LeadingSpacesPassTrailingSpacesInvalidate) {
    EXPECT_EQ(NumberFromText("  42"), 42);
    EXPECT_EQ(NumberFromText("42 "), 0);
    EXPECT_EQ(NumberFromText(" 1.5"), 1.5);
    // The fraction "5 " is invalid, so only the integer part remains.
    EXPECT_EQ(NumberFromText("1.5 "), 1.0);
}

TEST(NumberFromText, NonNumberTextGivesZero) {
    EXPECT_EQ(NumberFromText("abc"), 0);
    EXPECT_EQ(NumberFromText("1.2.3"), 0);
    EXPECT_EQ(NumberFromText("5-3"), 0);
    EXPECT_EQ(NumberFromText("-1-2"), 0);
}

TEST(NumberFromText, RealsTakeAtMostNineFractionDigits) {
    EXPECT_DOUBLE_EQ(NumberFromText("3.14159265358"), 3.141592653);
    EXPECT_DOUBLE_EQ(NumberFromText("1.123456789"), 1.123456789);
    // The tenth digit is ignored.
    EXPECT_EQ(NumberFromText("1.0000000009"), 1.0);
    EXPECT_EQ(NumberFromText(".5"), 0.5);
    EXPECT_EQ(NumberFromText("5."), 5.0);
    EXPECT_EQ(NumberFromText("0.25"), 0.25);
}

TEST(NumberFromText, MinusAnywhereNegatesAReal) {
    EXPECT_EQ(NumberFromText("-0.5"), -0.5);
    EXPECT_EQ(NumberFromText("-12.25"), -12.25);
    EXPECT_EQ(NumberFromText("1.5-"), 0);     // not a number text: the minus is not first
    EXPECT_EQ(NumberFromText("-1.5-"), -1.0); // fraction "5-" is invalid
}

TEST(NumberFromText, OverflowingIntegerPartOfARealReadsAsZero) {
    EXPECT_EQ(NumberFromText("12345678901.5"), 0.5);
    EXPECT_EQ(NumberFromText("-2147483648.5"), -2147483648.5);
}

TEST(NumberToText, DecimalsAreCutNotRounded) {
    EXPECT_EQ(NumberToText(0, 4, 1.23456), "1.2345");
    EXPECT_EQ(NumberToText(0, 2, 0.999), "0.99");
    EXPECT_EQ(NumberToText(0, 0, 12.7), "12");
    EXPECT_EQ(NumberToText(0, 4, 123.45678), "123.4567");
    EXPECT_EQ(NumberToText(0, 4, -3.25), "-3.2500");
}

TEST(NumberToText, PointAndZerosAreAddedForPositiveDecimals) {
    EXPECT_EQ(NumberToText(0, 4, 12), "12.0000");
    EXPECT_EQ(NumberToText(0, 4, 0), "0.0000");
    EXPECT_EQ(NumberToText(0, 1, 0.5), "0.5");
    // Only ten zeros are appended: more decimals than there are digits stop there.
    EXPECT_EQ(NumberToText(0, 15, 0.1), "0.10000000000");
}

TEST(NumberToText, FifteenSignificantDigitsBeforeCutting) {
    // 0.29 * 100 is 28.999999999999996; at 15 digits it is 29.
    EXPECT_EQ(NumberToText(0, 0, 0.29 * 100), "29");
    EXPECT_EQ(NumberToText(0, 4, 0.1 + 0.2), "0.3000");
    EXPECT_EQ(NumberToText(0, 4, 1.0 / 3), "0.3333");
    EXPECT_EQ(NumberToText(0, 4, 123456.123456789), "123456.1234");
    EXPECT_EQ(NumberToText(0, 4, 999999999999999.0), "999999999999999.0000");
}

TEST(NumberToText, ExponentFormsBecomeZero) {
    EXPECT_EQ(NumberToText(0, 4, 0.00000123), "0.0000");
    EXPECT_EQ(NumberToText(0, 4, 1e15), "0.0000");
    EXPECT_EQ(NumberToText(0, 0, 1e15), "0");
    EXPECT_EQ(NumberToText(0, 2, -1e300), "0.00");
    EXPECT_EQ(NumberToText(0, 4, 0.0001), "0.0001");
}

TEST(NumberToText, TheDecadeBelowOneTenThousandthStaysFixed) {
    EXPECT_EQ(NumberToText(0, 8, 0.0000123), "0.00001230");
    EXPECT_EQ(NumberToText(0, 6, -0.00005), "-0.000050");
    EXPECT_EQ(NumberToText(0, 8, 0.00000999), "0.00000000");
}

TEST(NumberToText, NonFiniteAndNegativeZeroWriteAsZero) {
    EXPECT_EQ(NumberToText(0, 4, std::numeric_limits<double>::quiet_NaN()), "0.0000");
    EXPECT_EQ(NumberToText(0, 0, std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(NumberToText(3, 0, -std::numeric_limits<double>::infinity()), "000");
    EXPECT_EQ(NumberToText(0, 0, -0.0), "0");
}

TEST(NumberToText, ZerosFillToWidthAlsoBeforeMinus) {
    EXPECT_EQ(NumberToText(10, 0, 1234), "0000001234");
    EXPECT_EQ(NumberToText(5, 0, 65535), "65535");
    EXPECT_EQ(NumberToText(3, 0, 123456), "123456");
    EXPECT_EQ(NumberToText(6, 0, -5), "0000-5");
    EXPECT_EQ(NumberToText(8, 2, 1.5), "00001.50");
}

TEST(PDFNumberText, DropsTrailingFractionZerosAndPoint) {
    EXPECT_EQ(PDFNumberText(12), "12");
    EXPECT_EQ(PDFNumberText(100), "100");
    EXPECT_EQ(PDFNumberText(0.5), "0.5");
    EXPECT_EQ(PDFNumberText(-3.25), "-3.25");
    EXPECT_EQ(PDFNumberText(1.23456), "1.2345");
    EXPECT_EQ(PDFNumberText(0), "0");
    EXPECT_EQ(PDFNumberText(612.0001), "612.0001");
}

TEST(PDFNumberText, WithoutDecimalsKeepsIntegerZeros) {
    EXPECT_EQ(PDFNumberText(100, 0), "100");
    EXPECT_EQ(PDFNumberText(2.5, 1), "2.5");
}

TEST(TryReadInt32, ReadsSignAndLeadingSpaces) {
    std::int32_t v = 0;
    EXPECT_TRUE(TryReadInt32("  -12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(TryReadInt32("+5", v));
    EXPECT_EQ(v, 5);
    EXPECT_TRUE(TryReadInt32("0000000000000000000001", v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(TryReadInt32("-2147483648", v));
    EXPECT_EQ(v, std::numeric_limits<std::int32_t>::min());
}

TEST(TryReadInt32, RejectsEmptyJunkAndOverflow) {
    std::int32_t v = 77;
    EXPECT_FALSE(TryReadInt32("", v));
    EXPECT_FALSE(TryReadInt32("-", v));
    EXPECT_FALSE(TryReadInt32("   ", v));
    EXPECT_FALSE(TryReadInt32("12a", v));
    EXPECT_FALSE(TryReadInt32("12 ", v));
    EXPECT_FALSE(TryReadInt32("\t5", v));
    EXPECT_FALSE(TryReadInt32("2147483648", v));
    EXPECT_FALSE(TryReadInt32("99999999999999999999999", v));
    EXPECT_EQ(v, 77);
}

TEST(TruncToInt32, SaturatesAndReadsNaNAsZero) {
    EXPECT_EQ(TruncToInt32(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(TruncToInt32(-1e300), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(TruncToInt32(std::nan("")), 0);
    EXPECT_EQ(TruncToInt32(-2.7), -2);
    EXPECT_EQ(TruncToInt32(2.7), 2);
}
