// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary values through the number formatter under settings chosen by the first byte,
// and checks the typed text: its shape (optional "-", digits, one mark, digits; no sign on
// zero), that without rounding and arithmetic it reads back as exactly the value, that with
// rounding to n places it has at most n places (exactly n when the value had more) and lies
// within one unit of the last place, and that a quotient has exactly n places. Only the two
// documented errors may be thrown.
#include "omvara/config/Config.h"
#include "omvara/processing/NumberFormatter.h"
#include "omvara/util/Decimal.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::processing::NumberFormatter;
using omvara::util::ArithmeticError;
using omvara::util::Decimal;
using omvara::util::NumberFormatError;

namespace {

[[noreturn]] void fail(const char *what, const QString &value, const QString &out)
{
    std::fprintf(stderr, "check failed: %s (value \"%s\", typed \"%s\")\n", what, value.toUtf8().constData(),
        out.toUtf8().constData());
    std::abort();
}

const std::array<const ConfigHelper::RoundingMethod *, 7> kMethods = { &ConfigHelper::RoundingMethod::CEILING,
    &ConfigHelper::RoundingMethod::DOWN, &ConfigHelper::RoundingMethod::FLOOR,
    &ConfigHelper::RoundingMethod::HALF_DOWN, &ConfigHelper::RoundingMethod::HALF_EVEN,
    &ConfigHelper::RoundingMethod::HALF_UP, &ConfigHelper::RoundingMethod::UP };
const std::array<const char *, 4> kOperands = { "1.5", "3", "0.001", "-2.50" };

// The digits after the mark, or -1 when the text is not of the form -?digits(mark digits)?
// with no superfluous leading zero.
int placesOf(const QString &out, QChar mark)
{
    qsizetype i = 0;
    if (i < out.size() && out[i] == u'-')
        ++i;
    const qsizetype intStart = i;
    while (i < out.size() && out[i].isDigit() && out[i].unicode() < 0x80)
        ++i;
    const qsizetype intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && out[intStart] == u'0'))
        return -1;
    if (i == out.size())
        return 0;
    if (out[i] != mark)
        return -1;
    ++i;
    const qsizetype fracStart = i;
    while (i < out.size() && out[i].isDigit() && out[i].unicode() < 0x80)
        ++i;
    if (i != out.size() || i == fracStart)
        return -1;
    return static_cast<int>(i - fracStart);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t selector = data[0];
    const std::uint8_t selector2 = data[1];
    const QString value = QString::fromLatin1(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    const int placesSetting = selector % 9; // 8 is no valid number of places: no rounding
    const auto *method = kMethods[(selector / 9) % 7];
    const bool comma = (selector / 63) % 2 == 1;
    const int operationIndex = selector2 % 3;
    const char *operand = kOperands[(selector2 / 3) % kOperands.size()];

    Config config;
    config.setDecimalPlaces(QString::number(placesSetting));
    config.setRoundingMethod(*method);
    config.setDecimalSeparator(
        comma ? ConfigHelper::DecimalSeparator::COMMA : ConfigHelper::DecimalSeparator::DOT);
    config.setMathOperation(operationIndex == 0 ? ConfigHelper::MathOperation::NONE
            : operationIndex == 1               ? ConfigHelper::MathOperation::MULTIPLY
                                                : ConfigHelper::MathOperation::DIVIDE);
    config.setMathOperand(QString::fromLatin1(operand));
    NumberFormatter formatter(config);
    const QChar mark = comma ? u',' : u'.';

    QString out;
    try {
        out = formatter.format(value);
    } catch (const NumberFormatError &) {
        QString pointed = value;
        pointed.replace(u',', u'.');
        if (Decimal::tryParse(pointed))
            fail("a readable value was refused", value, out);
        return 0;
    } catch (const ArithmeticError &) {
        // Only a product or quotient can leave the range (the operands are not zero).
        if (!formatter.isMathEnabled())
            fail("arithmetic error without arithmetic", value, out);
        return 0;
    }

    const int places = placesOf(out, mark);
    if (places < 0)
        fail("typed text is not plain digits with one mark", value, out);
    QString pointedOut = out;
    pointedOut.replace(mark, u'.');
    const Decimal typed = Decimal::parse(pointedOut);
    if (typed.signum() == 0 && out.startsWith(u'-'))
        fail("zero typed with a sign", value, out);

    QString pointedIn = value;
    pointedIn.replace(u',', u'.');
    const Decimal in = Decimal::parse(pointedIn);
    const Decimal number = *formatter.lastNumber();
    const bool rounding = formatter.isRoundingEnabled();

    if (!formatter.isMathEnabled() && !number.identicalTo(in))
        fail("the number changed without arithmetic", value, out);
    if (formatter.isMathEnabled() && operationIndex == 2 && number.scale() != placesSetting)
        fail("a quotient must have exactly the configured places", value, out);

    if (!rounding || number.scale() <= placesSetting) {
        // No rounding applies: the typed text is exactly the number, digit for digit.
        if (typed != number)
            fail("unrounded text reads back as another number", value, out);
        if (places != (number.scale() > 0 ? number.scale() : 0))
            fail("unrounded text must keep the number's own places", value, out);
    } else {
        if (places != placesSetting)
            fail("rounded text must have exactly the configured places", value, out);
        if (!(typed.subtract(number).abs() < Decimal(1, placesSetting)))
            fail("rounded text is more than one unit away", value, out);
    }
    return 0;
}
