// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Decimal.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using omvara::util::ArithmeticError;
using omvara::util::Decimal;
using omvara::util::NumberFormatError;
using omvara::util::RoundingMode;

namespace {

std::string plain(const Decimal &d)
{
    return d.toPlainString();
}
std::string plain(std::string_view text)
{
    return Decimal::parse(text).toPlainString();
}

// ---------------------------------------------------------------- parsing

struct ParseCase
{
    const char *text;
    const char *unscaled;
    int scale;
    const char *plain;
};

class DecimalParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(DecimalParse, parse_validText_givesUnscaledScaleAndPlainForm)
{
    const ParseCase &c = GetParam();
    const Decimal d = Decimal::parse(std::string_view(c.text));
    EXPECT_EQ(d.unscaledValue().get_str(), c.unscaled) << c.text;
    EXPECT_EQ(d.scale(), c.scale) << c.text;
    EXPECT_EQ(d.toPlainString(), c.plain) << c.text;
    // The QString entry point agrees.
    EXPECT_TRUE(Decimal::parse(QString::fromLatin1(c.text)).identicalTo(d)) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Syntax, DecimalParse,
    ::testing::Values(ParseCase { "0", "0", 0, "0" }, ParseCase { "7", "7", 0, "7" },
        ParseCase { "12.30", "1230", 2, "12.30" }, ParseCase { "+0012.30", "1230", 2, "12.30" },
        ParseCase { "012.300", "12300", 3, "12.300" }, ParseCase { "-12.345", "-12345", 3, "-12.345" },
        ParseCase { "-0.00", "0", 2, "0.00" }, ParseCase { "-0", "0", 0, "0" },
        ParseCase { "00", "0", 0, "0" }, ParseCase { "0.0", "0", 1, "0.0" },
        ParseCase { ".5", "5", 1, "0.5" }, ParseCase { "5.", "5", 0, "5" },
        ParseCase { "-.5", "-5", 1, "-0.5" }, ParseCase { "0.005", "5", 3, "0.005" },
        ParseCase { "1e3", "1", -3, "1000" }, ParseCase { "1E+3", "1", -3, "1000" },
        ParseCase { "1.5e-2", "15", 3, "0.015" }, ParseCase { "-1.23E2", "-123", 0, "-123" },
        ParseCase { "12.3e1", "123", 0, "123" }, ParseCase { "1.250e1", "1250", 2, "12.50" },
        ParseCase { "0e5", "0", -5, "0" }, ParseCase { "0e-3", "0", 3, "0.000" },
        ParseCase { "1e0", "1", 0, "1" }, ParseCase { "1e-0", "1", 0, "1" },
        ParseCase { "1e0005", "1", -5, "100000" },
        ParseCase { "123456789012345678901234567890.5", "1234567890123456789012345678905", 1,
            "123456789012345678901234567890.5" }));

class DecimalParseRejects : public ::testing::TestWithParam<const char *>
{
};

TEST_P(DecimalParseRejects, parse_invalidText_throwsNumberFormatError)
{
    const std::string text = GetParam();
    EXPECT_THROW(Decimal::parse(std::string_view(text)), NumberFormatError) << text;
    EXPECT_THROW(Decimal::parse(QString::fromUtf8(text.c_str())), NumberFormatError) << text;
    EXPECT_FALSE(Decimal::tryParse(std::string_view(text)).has_value()) << text;
}

INSTANTIATE_TEST_SUITE_P(Syntax, DecimalParseRejects,
    ::testing::Values("", "+", "-", ".", "+.", "e5", ".e1", "1e", "1e+", "1e-", "12.3.4", "1-2", " 1", "1 ",
        "1 000", "12,5", "1..2", "++1", "+-1", "0x10", "1e5.5", "1e2e3", "1f", "NaN", "Infinity", "-Infinity",
        "1_000", "1d", "1L",
        "\xd9\xa1\xd9\xa2", // Arabic-Indic digits
        "\xef\xbc\x91", // fullwidth one
        "12\xc2\xa0")); // trailing no-break space

TEST(DecimalParse, parse_nulCharacterInside_rejected)
{
    const std::string text("1\0"
                           "2",
        3);
    EXPECT_THROW(Decimal::parse(std::string_view(text)), NumberFormatError);
}

// The range bound: a few hundred digits each side of the mark, far beyond any instrument.
TEST(DecimalRange, parse_atTheLimits_accepted)
{
    const std::string nines(Decimal::DigitLimit, '9');
    EXPECT_EQ(plain(nines), nines);
    EXPECT_EQ(plain("-" + nines + "." + nines), "-" + nines + "." + nines);
    EXPECT_EQ(Decimal::parse("1e-400").scale(), 400);
    EXPECT_EQ(plain("1e399"), "1" + std::string(399, '0'));
    // Leading zeros do not count: only the digits the number really has.
    EXPECT_EQ(plain(std::string(5000, '0') + "1"), "1");
    EXPECT_EQ(Decimal::parse("0e400").scale(), -400);
}

TEST(DecimalRange, parse_beyondTheLimits_rejectedAsNotANumber)
{
    const std::string nines(Decimal::DigitLimit + 1, '9');
    const std::vector<std::string> texts = { nines, "-" + nines, "0." + nines, "1e-401", "1e400", "0e-401",
        "0e401", "1e-999999999", "1e999999999", "1e-99999999999999999999999999",
        "-1e+99999999999999999999999999", "0." + std::string(400, '0') + "1" };
    for (const std::string &text : texts) {
        EXPECT_THROW(Decimal::parse(std::string_view(text)), NumberFormatError) << text.substr(0, 40);
    }
}

TEST(DecimalRange, parse_errorMessage_quotesShortenedText)
{
    try {
        Decimal::parse("1e-999999999");
        FAIL() << "no error";
    } catch (const NumberFormatError &e) {
        EXPECT_NE(std::string(e.what()).find("\"1e-999999999\""), std::string::npos) << e.what();
    }
    try {
        Decimal::parse(std::string(1000, 'x'));
        FAIL() << "no error";
    } catch (const NumberFormatError &e) {
        EXPECT_LT(std::string(e.what()).size(), 200u);
    }
}

TEST(DecimalRange, arithmetic_resultBeyondTheLimits_throwsArithmeticError)
{
    const Decimal tiny = Decimal::parse("1e-300");
    EXPECT_THROW(tiny.multiply(tiny), ArithmeticError);
    const Decimal big = Decimal::parse("1e300");
    EXPECT_THROW(big.multiply(big), ArithmeticError);
    const Decimal nines = Decimal::parse(std::string(Decimal::DigitLimit, '9'));
    EXPECT_THROW(nines.add(Decimal(1)), ArithmeticError);
    EXPECT_THROW(nines.negate().subtract(Decimal(1)), ArithmeticError);
    EXPECT_THROW(nines.setScale(0, RoundingMode::UP).divide(Decimal::parse("0.1"), 0, RoundingMode::UP),
        ArithmeticError);
    EXPECT_THROW(Decimal(1).setScale(Decimal::DigitLimit + 1, RoundingMode::UP), ArithmeticError);
    EXPECT_THROW(Decimal(1).setScale(-Decimal::DigitLimit - 1, RoundingMode::UP), ArithmeticError);
    EXPECT_THROW(Decimal(1).divide(Decimal(3), 1'000'000'000, RoundingMode::UP), ArithmeticError);
    EXPECT_THROW(Decimal(1, 401), ArithmeticError);
    // Rounding up across the limit: 400 nines become a 401-digit number.
    EXPECT_THROW(
        Decimal::parse(std::string(Decimal::DigitLimit, '9') + ".5").setScale(0, RoundingMode::HALF_UP),
        ArithmeticError);
}

// ---------------------------------------------------------------- rounding

// Expected results in the order UP, DOWN, CEILING, FLOOR, HALF_UP, HALF_DOWN, HALF_EVEN,
// worked out by hand.
constexpr std::array<RoundingMode, 7> kModes = { RoundingMode::UP, RoundingMode::DOWN, RoundingMode::CEILING,
    RoundingMode::FLOOR, RoundingMode::HALF_UP, RoundingMode::HALF_DOWN, RoundingMode::HALF_EVEN };
constexpr std::array<const char *, 7> kModeNames
    = { "UP", "DOWN", "CEILING", "FLOOR", "HALF_UP", "HALF_DOWN", "HALF_EVEN" };

struct RoundCase
{
    const char *value;
    int scale;
    std::array<const char *, 7> expected;
};

class DecimalSetScale : public ::testing::TestWithParam<RoundCase>
{
};

TEST_P(DecimalSetScale, setScale_eachMode_matchesHandComputedValue)
{
    const RoundCase &c = GetParam();
    const Decimal d = Decimal::parse(std::string_view(c.value));
    for (std::size_t m = 0; m < kModes.size(); ++m) {
        const Decimal r = d.setScale(c.scale, kModes[m]);
        EXPECT_EQ(r.toPlainString(), c.expected[m])
            << c.value << " to scale " << c.scale << " " << kModeNames[m];
        EXPECT_EQ(r.scale(), c.scale);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DecimalSetScale,
    ::testing::Values(
        //                 UP      DOWN   CEILING FLOOR  HALF_UP HALF_DOWN HALF_EVEN
        RoundCase { "5.5", 0, { "6", "5", "6", "5", "6", "5", "6" } },
        RoundCase { "2.5", 0, { "3", "2", "3", "2", "3", "2", "2" } },
        RoundCase { "1.6", 0, { "2", "1", "2", "1", "2", "2", "2" } },
        RoundCase { "1.1", 0, { "2", "1", "2", "1", "1", "1", "1" } },
        RoundCase { "1.0", 0, { "1", "1", "1", "1", "1", "1", "1" } },
        RoundCase { "0.5", 0, { "1", "0", "1", "0", "1", "0", "0" } },
        RoundCase { "-0.5", 0, { "-1", "0", "0", "-1", "-1", "0", "0" } },
        RoundCase { "-1.0", 0, { "-1", "-1", "-1", "-1", "-1", "-1", "-1" } },
        RoundCase { "-1.1", 0, { "-2", "-1", "-1", "-2", "-1", "-1", "-1" } },
        RoundCase { "-1.6", 0, { "-2", "-1", "-1", "-2", "-2", "-2", "-2" } },
        RoundCase { "-2.5", 0, { "-3", "-2", "-2", "-3", "-3", "-2", "-2" } },
        RoundCase { "-5.5", 0, { "-6", "-5", "-5", "-6", "-6", "-5", "-6" } },
        RoundCase { "12.5", 0, { "13", "12", "13", "12", "13", "12", "12" } },
        RoundCase { "12.345", 2, { "12.35", "12.34", "12.35", "12.34", "12.35", "12.34", "12.34" } },
        RoundCase { "-12.345", 2, { "-12.35", "-12.34", "-12.34", "-12.35", "-12.35", "-12.34", "-12.34" } },
        RoundCase { "12.355", 2, { "12.36", "12.35", "12.36", "12.35", "12.36", "12.35", "12.36" } },
        RoundCase { "12.3451", 2, { "12.35", "12.34", "12.35", "12.34", "12.35", "12.35", "12.35" } },
        RoundCase { "12.3449", 2, { "12.35", "12.34", "12.35", "12.34", "12.34", "12.34", "12.34" } },
        RoundCase { "-2.25", 1, { "-2.3", "-2.2", "-2.2", "-2.3", "-2.3", "-2.2", "-2.2" } },
        RoundCase { "-2.35", 1, { "-2.4", "-2.3", "-2.3", "-2.4", "-2.4", "-2.3", "-2.4" } },
        RoundCase { "-0.001", 2, { "-0.01", "0.00", "0.00", "-0.01", "0.00", "0.00", "0.00" } },
        RoundCase { "0.005", 2, { "0.01", "0.00", "0.01", "0.00", "0.01", "0.00", "0.00" } },
        RoundCase { "9.999", 2, { "10.00", "9.99", "10.00", "9.99", "10.00", "10.00", "10.00" } },
        RoundCase { "-9.995", 2, { "-10.00", "-9.99", "-9.99", "-10.00", "-10.00", "-9.99", "-10.00" } },
        RoundCase { "0.1234567895", 9,
            { "0.123456790", "0.123456789", "0.123456790", "0.123456789", "0.123456790", "0.123456789",
                "0.123456790" } },
        RoundCase { "1250", -2, { "1300", "1200", "1300", "1200", "1300", "1200", "1200" } },
        RoundCase { "-1350", -2, { "-1400", "-1300", "-1300", "-1400", "-1400", "-1300", "-1400" } },
        RoundCase { "1.5", 3, { "1.500", "1.500", "1.500", "1.500", "1.500", "1.500", "1.500" } },
        RoundCase { "1e3", 1, { "1000.0", "1000.0", "1000.0", "1000.0", "1000.0", "1000.0", "1000.0" } },
        RoundCase { "0.00", 0, { "0", "0", "0", "0", "0", "0", "0" } }));

// ---------------------------------------------------------------- division

struct DivideCase
{
    const char *dividend;
    const char *divisor;
    int scale;
    std::array<const char *, 7> expected;
};

class DecimalDivide : public ::testing::TestWithParam<DivideCase>
{
};

TEST_P(DecimalDivide, divide_eachMode_givesExactlyTheScale)
{
    const DivideCase &c = GetParam();
    const Decimal a = Decimal::parse(std::string_view(c.dividend));
    const Decimal b = Decimal::parse(std::string_view(c.divisor));
    for (std::size_t m = 0; m < kModes.size(); ++m) {
        const Decimal q = a.divide(b, c.scale, kModes[m]);
        EXPECT_EQ(q.toPlainString(), c.expected[m])
            << c.dividend << " / " << c.divisor << " " << kModeNames[m];
        EXPECT_EQ(q.scale(), c.scale);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DecimalDivide,
    ::testing::Values(
        //                           UP      DOWN    CEILING  FLOOR   HALF_UP HALF_DOWN HALF_EVEN
        DivideCase { "10", "4", 3, { "2.500", "2.500", "2.500", "2.500", "2.500", "2.500", "2.500" } },
        DivideCase { "10", "3", 2, { "3.34", "3.33", "3.34", "3.33", "3.33", "3.33", "3.33" } },
        DivideCase { "-10", "3", 2, { "-3.34", "-3.33", "-3.33", "-3.34", "-3.33", "-3.33", "-3.33" } },
        DivideCase { "20", "3", 0, { "7", "6", "7", "6", "7", "7", "7" } },
        DivideCase { "1", "8", 2, { "0.13", "0.12", "0.13", "0.12", "0.13", "0.12", "0.12" } },
        DivideCase { "3", "8", 2, { "0.38", "0.37", "0.38", "0.37", "0.38", "0.37", "0.38" } },
        DivideCase { "2", "-8", 1, { "-0.3", "-0.2", "-0.2", "-0.3", "-0.3", "-0.2", "-0.2" } },
        DivideCase { "-2", "-8", 1, { "0.3", "0.2", "0.3", "0.2", "0.3", "0.2", "0.2" } },
        DivideCase { "1.5", "0.05", 0, { "30", "30", "30", "30", "30", "30", "30" } },
        DivideCase { "12", "1e2", 2, { "0.12", "0.12", "0.12", "0.12", "0.12", "0.12", "0.12" } },
        DivideCase { "70", "2", -1, { "40", "30", "40", "30", "40", "30", "40" } },
        DivideCase { "0", "7", 2, { "0.00", "0.00", "0.00", "0.00", "0.00", "0.00", "0.00" } },
        DivideCase { "12.3456", "1", 2, { "12.35", "12.34", "12.35", "12.34", "12.35", "12.35", "12.35" } },
        DivideCase { "1", "3", 7,
            { "0.3333334", "0.3333333", "0.3333334", "0.3333333", "0.3333333", "0.3333333", "0.3333333" } }));

TEST(DecimalDivide, divide_byZero_throwsArithmeticError)
{
    for (const char *zero : { "0", "0.000", "-0", "0e5" })
        EXPECT_THROW(Decimal(10).divide(Decimal::parse(zero), 2, RoundingMode::HALF_UP), ArithmeticError)
            << zero;
}

// ---------------------------------------------------------------- other arithmetic

struct BinaryCase
{
    const char *a;
    const char *b;
    const char *product;
    const char *difference;
};

class DecimalArithmetic : public ::testing::TestWithParam<BinaryCase>
{
};

TEST_P(DecimalArithmetic, multiplyAndSubtract_exactWithScalesAsWritten)
{
    const BinaryCase &c = GetParam();
    const Decimal a = Decimal::parse(std::string_view(c.a));
    const Decimal b = Decimal::parse(std::string_view(c.b));
    const Decimal product = a.multiply(b);
    EXPECT_EQ(plain(product), c.product) << c.a << " * " << c.b;
    EXPECT_EQ(product.scale(), a.scale() + b.scale());
    const Decimal difference = a.subtract(b);
    EXPECT_EQ(plain(difference), c.difference) << c.a << " - " << c.b;
    EXPECT_EQ(difference.scale(), std::max(a.scale(), b.scale()));
}

INSTANTIATE_TEST_SUITE_P(Table, DecimalArithmetic,
    ::testing::Values(BinaryCase { "2.5", "1.5", "3.75", "1.0" }, BinaryCase { "1.20", "3", "3.60", "-1.80" },
        BinaryCase { "-2", "0.5", "-1.0", "-2.5" }, BinaryCase { "12.34", "12.30", "151.7820", "0.04" },
        BinaryCase { "1", "1.000", "1.000", "0.000" }, BinaryCase { "1e-2", "1e3", "10", "-999.99" },
        BinaryCase { "-0.00", "5", "0.00", "-5.00" },
        BinaryCase { "99999999999999999999", "99999999999999999999",
            "9999999999999999999800000000000000000001", "0" }));

TEST(DecimalArithmetic, abs_andNegate)
{
    EXPECT_EQ(plain(Decimal::parse("-12.30").abs()), "12.30");
    EXPECT_EQ(plain(Decimal::parse("12.30").abs()), "12.30");
    EXPECT_EQ(plain(Decimal::parse("-0.0").abs()), "0.0");
    EXPECT_EQ(plain(Decimal::parse("0.05").negate()), "-0.05");
    EXPECT_EQ(plain(Decimal::parse("0.00").negate()), "0.00");
}

// ---------------------------------------------------------------- comparison

TEST(DecimalCompare, compareTo_numericRegardlessOfScale)
{
    struct Case
    {
        const char *a;
        const char *b;
        int expected;
    };
    const Case cases[] = {
        { "1.5", "1.50", 0 },
        { "-0.00", "0", 0 },
        { "1e3", "1000", 0 },
        { "12.3", "12.31", -1 },
        { "-2", "-1", -1 },
        { "-1", "-2", 1 },
        { "0.001", "0", 1 },
        { "-0.001", "0", -1 },
        { "100", "99.999", 1 },
        { "1e-3", "0.0010", 0 },
        { "-12.5", "12.5", -1 },
        { "123456789012345678901", "123456789012345678900.99", 1 },
    };
    for (const Case &c : cases) {
        const Decimal a = Decimal::parse(std::string_view(c.a));
        const Decimal b = Decimal::parse(std::string_view(c.b));
        EXPECT_EQ(a.compareTo(b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(b.compareTo(a), -c.expected) << c.b << " vs " << c.a;
        EXPECT_EQ(a == b, c.expected == 0);
        EXPECT_EQ(a < b, c.expected < 0);
    }
    EXPECT_FALSE(Decimal::parse("1.5").identicalTo(Decimal::parse("1.50")));
    EXPECT_TRUE(Decimal::parse("1.50").identicalTo(Decimal::parse("+1.50")));
}

// ---------------------------------------------------------------- text form

TEST(DecimalText, toPlainString_chosenMark_andNoExponent)
{
    EXPECT_EQ(Decimal::parse("12.5").toPlainString(','), "12,5");
    EXPECT_EQ(Decimal::parse("-0.005").toPlainString(','), "-0,005");
    EXPECT_EQ(Decimal::parse("1e5").toPlainString(','), "100000");
    EXPECT_EQ(Decimal::parse("0.0").toPlainText(u','), QStringLiteral("0,0"));
    EXPECT_EQ(Decimal(-5, 3).toPlainText(), QStringLiteral("-0.005"));
    EXPECT_EQ(Decimal(12, -2).toPlainText(), QStringLiteral("1200"));
    EXPECT_EQ(Decimal(0, -3).toPlainText(), QStringLiteral("0"));
    EXPECT_EQ(Decimal().toPlainText(), QStringLiteral("0"));
    EXPECT_EQ(Decimal(-123456, 6).toPlainText(), QStringLiteral("-0.123456"));
    EXPECT_EQ(Decimal(123456, 6).precision(), 6);
    EXPECT_EQ(Decimal(0, 6).precision(), 1);
    EXPECT_EQ(Decimal(-1000).precision(), 4);
}

TEST(DecimalText, plainForm_reparsesToIdenticalNumber)
{
    for (const char *text : { "0", "-12.30", "1e-5", "1E+5", "0.000", "-.5", "+0012.30",
             "123456789.123456789", "1e-400", "9e399" }) {
        const Decimal d = Decimal::parse(text);
        const Decimal again = Decimal::parse(d.toPlainString());
        EXPECT_EQ(again, d) << text;
        if (d.scale() >= 0) {
            EXPECT_TRUE(again.identicalTo(d)) << text;
        }
    }
}

} // namespace
