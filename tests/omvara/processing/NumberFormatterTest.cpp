// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/NumberFormatter.h"

#include "omvara/config/Config.h"

#include <gtest/gtest.h>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::processing::NumberFormatter;
using omvara::util::ArithmeticError;
using omvara::util::Decimal;
using omvara::util::NumberFormatError;
using Method = ConfigHelper::RoundingMethod;
using Operation = ConfigHelper::MathOperation;
using Separator = ConfigHelper::DecimalSeparator;

namespace {

// One row: the settings as the user typed them, the value, and the typed text.
struct FormatCase
{
    const char *value;
    const char *places; // decimal-places setting, "" for none
    const Method *method; // rounding method
    const Operation *operation;
    const char *operand;
    const Separator *separator;
    const char *expected;
};

Config configFor(const FormatCase &c)
{
    Config config;
    config.setDecimalPlaces(QString::fromLatin1(c.places));
    config.setRoundingMethod(*c.method);
    config.setMathOperation(*c.operation);
    config.setMathOperand(QString::fromLatin1(c.operand));
    config.setDecimalSeparator(*c.separator);
    return config;
}

class NumberFormatterTable : public ::testing::TestWithParam<FormatCase>
{
};

TEST_P(NumberFormatterTable, format_givesTypedText)
{
    const FormatCase &c = GetParam();
    NumberFormatter formatter(configFor(c));
    EXPECT_EQ(formatter.format(QString::fromLatin1(c.value)).toStdString(), c.expected)
        << c.value << " places '" << c.places << "' " << c.method->name().toStdString() << " "
        << c.operation->name().toStdString() << " '" << c.operand << "' "
        << c.separator->name().toStdString();
}

const Operation *const kNone = &Operation::NONE;
const Operation *const kMul = &Operation::MULTIPLY;
const Operation *const kDiv = &Operation::DIVIDE;
const Separator *const kDot = &Separator::DOT;
const Separator *const kComma = &Separator::COMMA;

INSTANTIATE_TEST_SUITE_P(Rounding, NumberFormatterTable,
    ::testing::Values(FormatCase { "12.345", "2", &Method::HALF_UP, kNone, "", kDot, "12.35" },
        FormatCase { "12.345", "2", &Method::HALF_EVEN, kNone, "", kDot, "12.34" },
        FormatCase { "12.345", "2", &Method::DOWN, kNone, "", kDot, "12.34" },
        FormatCase { "12.345", "2", &Method::CEILING, kNone, "", kDot, "12.35" },
        FormatCase { "12.5", "0", &Method::HALF_UP, kNone, "", kDot, "13" },
        FormatCase { "12.5", "0", &Method::HALF_EVEN, kNone, "", kDot, "12" },
        FormatCase { "12.5", "0", &Method::HALF_DOWN, kNone, "", kDot, "12" },
        FormatCase { "12.5", "0", &Method::UP, kNone, "", kDot, "13" },
        FormatCase { "12.5", "0", &Method::FLOOR, kNone, "", kDot, "12" },
        FormatCase { "-2.25", "1", &Method::HALF_UP, kNone, "", kDot, "-2.3" },
        FormatCase { "-2.25", "1", &Method::HALF_DOWN, kNone, "", kDot, "-2.2" },
        FormatCase { "-2.25", "1", &Method::CEILING, kNone, "", kDot, "-2.2" },
        FormatCase { "-2.25", "1", &Method::FLOOR, kNone, "", kDot, "-2.3" },
        FormatCase { "-2.25", "1", &Method::UP, kNone, "", kDot, "-2.3" },
        FormatCase { "-2.25", "1", &Method::DOWN, kNone, "", kDot, "-2.2" },
        FormatCase { "-2.25", "1", &Method::HALF_EVEN, kNone, "", kDot, "-2.2" },
        // Places only shorten, never pad.
        FormatCase { "12.3", "2", &Method::HALF_UP, kNone, "", kDot, "12.3" },
        FormatCase { "12", "2", &Method::HALF_UP, kNone, "", kDot, "12" },
        FormatCase { "12.30", "2", &Method::UP, kNone, "", kDot, "12.30" },
        FormatCase { "9.999", "2", &Method::HALF_UP, kNone, "", kDot, "10.00" },
        FormatCase { "0.12345678", "7", &Method::HALF_UP, kNone, "", kDot, "0.1234568" },
        // 8 is no valid number of places: no rounding at all.
        FormatCase { "12.34567891", "8", &Method::HALF_UP, kNone, "", kDot, "12.34567891" },
        FormatCase { "12.345", "x", &Method::HALF_UP, kNone, "", kDot, "12.345" },
        FormatCase { "12.345", "-1", &Method::HALF_UP, kNone, "", kDot, "12.345" },
        FormatCase { "12.345", "", &Method::HALF_UP, kNone, "", kDot, "12.345" }));

INSTANTIATE_TEST_SUITE_P(TextForms, NumberFormatterTable,
    ::testing::Values(FormatCase { "+0012.30", "", &Method::HALF_UP, kNone, "", kDot, "12.30" },
        FormatCase { "012.300", "", &Method::HALF_UP, kNone, "", kDot, "12.300" },
        FormatCase { "12,5", "", &Method::HALF_UP, kNone, "", kComma, "12,5" },
        FormatCase { "12.5", "", &Method::HALF_UP, kNone, "", kComma, "12,5" },
        FormatCase { "12,5", "", &Method::HALF_UP, kNone, "", kDot, "12.5" },
        FormatCase { "-12,345", "2", &Method::HALF_UP, kNone, "", kComma, "-12,35" },
        FormatCase { ".5", "", &Method::HALF_UP, kNone, "", kDot, "0.5" },
        FormatCase { "5.", "", &Method::HALF_UP, kNone, "", kDot, "5" },
        FormatCase { "1e3", "", &Method::HALF_UP, kNone, "", kDot, "1000" },
        FormatCase { "1e3", "2", &Method::HALF_UP, kNone, "", kDot, "1000" },
        FormatCase { "1.5E-3", "", &Method::HALF_UP, kNone, "", kDot, "0.0015" },
        FormatCase { "1.5E-3", "2", &Method::HALF_UP, kNone, "", kComma, "0,00" },
        FormatCase { "0", "", &Method::HALF_UP, kNone, "", kDot, "0" },
        // Zero has no sign, whether written so or reached by rounding.
        FormatCase { "-0.00", "", &Method::HALF_UP, kNone, "", kDot, "0.00" },
        FormatCase { "-0", "", &Method::HALF_UP, kNone, "", kDot, "0" },
        FormatCase { "-0.001", "2", &Method::HALF_UP, kNone, "", kDot, "0.00" },
        FormatCase { "-0.001", "2", &Method::FLOOR, kNone, "", kDot, "-0.01" },
        FormatCase { "-0.4", "0", &Method::HALF_EVEN, kNone, "", kDot, "0" }));

INSTANTIATE_TEST_SUITE_P(Arithmetic, NumberFormatterTable,
    ::testing::Values(FormatCase { "2.5", "", &Method::HALF_UP, kMul, "1.5", kDot, "3.75" },
        FormatCase { "2.5", "1", &Method::HALF_EVEN, kMul, "1.5", kDot, "3.8" },
        FormatCase { "2,5", "", &Method::HALF_UP, kMul, "1.5", kComma, "3,75" },
        FormatCase { "12.30", "", &Method::HALF_UP, kMul, "1", kDot, "12.30" },
        FormatCase { "12", "", &Method::HALF_UP, kMul, "0.001", kDot, "0.012" },
        FormatCase { "12", "", &Method::HALF_UP, kMul, "1e3", kDot, "12000" },
        FormatCase { "-2", "", &Method::HALF_UP, kMul, "-0.5", kDot, "1.0" },
        FormatCase { "10", "2", &Method::DOWN, kDiv, "3", kDot, "3.33" },
        FormatCase { "10", "2", &Method::UP, kDiv, "3", kDot, "3.34" },
        FormatCase { "10", "3", &Method::HALF_UP, kDiv, "4", kDot, "2.500" },
        FormatCase { "10", "0", &Method::HALF_EVEN, kDiv, "4", kDot, "2" },
        FormatCase { "-10", "2", &Method::FLOOR, kDiv, "3", kComma, "-3,34" },
        FormatCase { "1.000", "1", &Method::HALF_UP, kDiv, "0.5", kDot, "2.0" },
        // Division without places is not applied at all.
        FormatCase { "10", "", &Method::DOWN, kDiv, "3", kDot, "10" },
        FormatCase { "10", "8", &Method::DOWN, kDiv, "3", kDot, "10" },
        // No operand, no arithmetic.
        FormatCase { "10", "", &Method::DOWN, kMul, "", kDot, "10" },
        FormatCase { "10", "2", &Method::DOWN, kNone, "3", kDot, "10" }));

TEST(NumberFormatter, format_notADecimalNumber_throwsNumberFormatError)
{
    NumberFormatter formatter { Config() };
    for (const char *text : { "12.3.4", "1-2", "", "12 5", "abc", "12,3,4", "1,2.3", "+", "1e", "0x10" })
        EXPECT_THROW(formatter.format(QString::fromLatin1(text)), NumberFormatError) << text;
}

TEST(NumberFormatter, format_hugeExponent_isNotANumberInsteadOfBillionsOfDigits)
{
    NumberFormatter formatter { Config() };
    for (const char *text : { "1e-999999999", "1e999999999", "1e-401", "1e400" })
        EXPECT_THROW(formatter.format(QString::fromLatin1(text)), NumberFormatError) << text;
    EXPECT_EQ(formatter.format(QStringLiteral("1e-3")), QStringLiteral("0.001"));
    EXPECT_EQ(formatter.format(QStringLiteral("1e-400")).size(), 402);
}

TEST(NumberFormatter, format_resultBeyondTheRange_throwsArithmeticError)
{
    Config config;
    config.setMathOperation(Operation::MULTIPLY);
    config.setMathOperand(QStringLiteral("1e-300"));
    NumberFormatter formatter(config);
    EXPECT_EQ(formatter.format(QStringLiteral("2")), QString::fromLatin1("0.") + QString(299, u'0') + u'2');
    EXPECT_THROW(formatter.format(QStringLiteral("1e-200")), ArithmeticError);
}

TEST(NumberFormatter, format_divisionByZeroOperand_throwsArithmeticError)
{
    Config config;
    config.setMathOperation(Operation::DIVIDE);
    config.setMathOperand(QStringLiteral("0.0"));
    config.setDecimalPlaces(QStringLiteral("2"));
    NumberFormatter formatter(config);
    EXPECT_THROW(formatter.format(QStringLiteral("10")), ArithmeticError);
}

TEST(NumberFormatter, construction_invalidOperand_failsAtStart)
{
    Config config;
    config.setMathOperation(Operation::MULTIPLY);
    for (const char *operand : { "2,5", "abc", "1e-999999999" }) {
        config.setMathOperand(QString::fromLatin1(operand));
        EXPECT_THROW(NumberFormatter { config }, NumberFormatError) << operand;
    }
}

TEST(NumberFormatter, lastNumber_isAfterArithmeticBeforeRounding)
{
    Config config;
    config.setMathOperation(Operation::MULTIPLY);
    config.setMathOperand(QStringLiteral("2"));
    config.setDecimalPlaces(QStringLiteral("1"));
    NumberFormatter formatter(config);
    EXPECT_FALSE(formatter.lastNumber().has_value());
    EXPECT_EQ(formatter.format(QStringLiteral("1.234")), QStringLiteral("2.5"));
    ASSERT_TRUE(formatter.lastNumber().has_value());
    EXPECT_TRUE(formatter.lastNumber()->identicalTo(Decimal::parse("2.468")));
}

TEST(NumberFormatter, explicitParts_missingPartLeavesItsStepOut)
{
    Config config;
    config.setDecimalPlaces(QStringLiteral("1"));
    config.setMathOperation(Operation::DIVIDE);
    config.setMathOperand(QStringLiteral("4"));
    // Checks hold, but no rounding mode was handed over: neither division nor rounding runs.
    NumberFormatter formatter(config, 1, std::nullopt, &Operation::DIVIDE, Decimal(4));
    EXPECT_FALSE(formatter.isMathEnabled());
    EXPECT_FALSE(formatter.isRoundingEnabled());
    EXPECT_EQ(formatter.format(QStringLiteral("10.25")), QStringLiteral("10.25"));
}

// The operand is refused where it is typed and when loaded: the setting's validity test applies
// the same range as the formatter.
TEST(NumberFormatter, operandSetting_beyondTheRange_isInvalid)
{
    EXPECT_FALSE(ConfigHelper::MathOperand::valid(QStringLiteral("1e-999999999")));
    EXPECT_FALSE(ConfigHelper::MathOperand::valid(QStringLiteral("1e400")));
    EXPECT_TRUE(ConfigHelper::MathOperand::valid(QStringLiteral("1e-400")));
    EXPECT_TRUE(ConfigHelper::MathOperand::valid(QStringLiteral("1e3")));
    EXPECT_FALSE(ConfigHelper::IgnoreDifference::valid(QStringLiteral("1e-999999999")));
}

} // namespace
