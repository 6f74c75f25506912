#include "common/Exception.h"
#include "common/TextConvert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstring>
#include <random>
#include <cmath>
#include <limits>

using namespace zyl;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(RealToText, GeneralFormatWithSixDigits)
{
    EXPECT_EQ(realToText(3.14159265), "3.14159");
    EXPECT_EQ(realToText(2.0), "2");
    EXPECT_EQ(realToText(-0.5), "-0.5");
    EXPECT_EQ(realToText(1e6), "1e+06");
    EXPECT_EQ(realToText(123456.0), "123456");
    EXPECT_EQ(realToText(1e-5), "1e-05");
    EXPECT_EQ(realToText(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(realToText(std::nan("")), "nan");
}

TEST(RealToShortText, ShortestFormThatReadsBack)
{
    EXPECT_EQ(realToShortText(0.7), "0.7");
    EXPECT_EQ(realToShortText(0.15), "0.15");
    EXPECT_EQ(realToShortText(2.0), "2");
    EXPECT_EQ(realToShortText(3.1415), "3.1415");
    EXPECT_EQ(realToShortText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(realToShortText(-1e-20), "-1e-20");
    // The general form: whole numbers up to 15 digits as such, small and large exponents not.
    EXPECT_EQ(realToShortText(10), "10");
    EXPECT_EQ(realToShortText(20), "20");
    EXPECT_EQ(realToShortText(100), "100");
    EXPECT_EQ(realToShortText(-1000), "-1000");
    EXPECT_EQ(realToShortText(0.1), "0.1");
    EXPECT_EQ(realToShortText(1e-7), "1e-07");
    EXPECT_EQ(realToShortText(123456789012345.0), "123456789012345");
    EXPECT_EQ(realToShortText(1.23456789012346e20), "1.23456789012346e+20");
}

TEST(RealToShortText, EveryFiniteValueReadsBackFinite)
{
    const double max = std::numeric_limits<double>::max();
    EXPECT_EQ(realToShortText(max), "1.7976931348623157e+308");
    EXPECT_EQ(parseReal(realToShortText(max)), max);
    EXPECT_EQ(parseReal(realToShortText(-max)), -max);
    EXPECT_EQ(realToShortText(1.5e308), "1.5e+308");
    EXPECT_EQ(realToShortText(std::numeric_limits<double>::infinity()), "inf");
}

TEST(RealToExactText, SixDigitFormWhereExactEveryDigitElsewhere)
{
    // Where six digits were exact, the text realToText gives, notation included.
    for (double x : {0.25, 7.0, -3.5, 1e6, 100000.0, 1e-5, 0.0001, 123456.0, 2.5e-300})
        EXPECT_EQ(realToExactText(x), realToText(x)) << x;
    EXPECT_EQ(realToExactText(1000003.5), "1000003.5");
    EXPECT_EQ(realToExactText(1234567), "1234567");
    EXPECT_EQ(realToExactText(3.14159265), "3.14159265");
    EXPECT_EQ(realToExactText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(realToExactText(12345678901234567.0), "12345678901234568");
    EXPECT_EQ(realToExactText(1.5e300), "1.5e+300");
    EXPECT_EQ(realToExactText(-1.0000001e-7), "-1.0000001e-07");
    // Any double reads back as itself, in as few significant digits as the shortest form.
    auto significant = [](std::string_view text) {
        std::string digits;
        for (char c : text.substr(0, text.find('e')))
            if (c >= '0' && c <= '9')
                digits += c;
        const std::size_t first = digits.find_first_not_of('0');
        return first == std::string::npos ? 0 : digits.find_last_not_of('0') + 1 - first;
    };
    std::mt19937_64 bits(7);
    for (int k = 0; k < 20000; ++k) {
        double x;
        const std::uint64_t word = bits();
        std::memcpy(&x, &word, sizeof x);
        if (!std::isfinite(x))
            continue;
        const std::string text = realToExactText(x);
        char shortest[64];
        char* end = std::to_chars(shortest, shortest + 64, x, std::chars_format::scientific).ptr;
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), x) << text;
        ASSERT_EQ(significant(text), significant(std::string_view(shortest, end - shortest)))
            << text;
    }
}

TEST(DecimalLiteral, OnlyDigitsPointAndExponent)
{
    for (const char* yes : {"1", "12.5", "5.", ".5", "1e5", "1.5e-3", "2E+10", "007"})
        EXPECT_TRUE(isDecimalLiteral(yes)) << yes;
    for (const char* no : {"", ".", "e5", "1e", "1e+", "inf", "nan", "info", "0x10", "1.5.3",
                           "2x", "-1", "+1", "1 "})
        EXPECT_FALSE(isDecimalLiteral(no)) << no;
}

TEST(ParseInteger, DecimalHexAndFailures)
{
    EXPECT_EQ(parseInteger("42"), 42);
    EXPECT_EQ(parseInteger(" -7 "), -7);
    EXPECT_EQ(parseInteger("+3"), 3);
    EXPECT_EQ(parseInteger("0x1F"), 31);
    EXPECT_EQ(parseInteger("0X10"), 16);
    EXPECT_EQ(parseInteger("-2147483648"), -2147483648LL);
    EXPECT_EQ(parseInteger("2147483647"), 2147483647);
    EXPECT_FALSE(parseInteger("2147483648"));
    EXPECT_FALSE(parseInteger("1.5"));
    EXPECT_FALSE(parseInteger("true"));
    EXPECT_FALSE(parseInteger(""));
    EXPECT_FALSE(parseInteger("0x"));
    EXPECT_FALSE(parseInteger("--1"));
}

TEST(ParseReal, PointSeparatorWhateverTheLocale)
{
    EXPECT_EQ(parseReal("0.7"), 0.7);
    EXPECT_EQ(parseReal("-3.1415"), -3.1415);
    EXPECT_EQ(parseReal("1e-400"), 0.0);
    EXPECT_FALSE(parseReal("1e400"));
    EXPECT_FALSE(parseReal("abc"));
    EXPECT_FALSE(parseReal("0,7"));
    EXPECT_FALSE(parseReal("inf"));
    EXPECT_FALSE(parseReal(""));
    // A comma locale must change nothing (generated locales may be absent on the machine).
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
        EXPECT_EQ(parseReal("2.5"), 2.5);
        EXPECT_EQ(realToText(2.5), "2.5");
        EXPECT_EQ(realToShortText(0.15), "0.15");
        std::setlocale(LC_ALL, "C");
    }
}

TEST(Conversions, FailuresCarryThePlatformMessages)
{
    EXPECT_THAT([] { strToInt("12a"); },
                ThrowsMessage<Exception>(StrEq("'12a' is not a valid integer value")));
    EXPECT_THAT([] { strToFloat(""); },
                ThrowsMessage<Exception>(StrEq("'' is not a valid floating point value")));
    EXPECT_EQ(strToFloat("3.5"), 3.5);
    EXPECT_EQ(strToInt("-12"), -12);
}
