// SPDX-License-Identifier: GPL-3.0-or-later
// Number formatting: arithmetic, rounding, decimal places and separator.
#pragma once

#include "omvara/config/ConfigHelper.h"
#include "omvara/util/Decimal.h"

#include <QChar>
#include <QString>

#include <optional>

namespace omvara::config {
class Config;
}

namespace omvara::processing {

// Turns an extracted value into the text that is typed: reads it as an exact decimal number
// (comma or point as the mark), multiplies or divides it by the operand when that is set up,
// reduces it to the decimal places with the rounding method when it has more, and writes it
// with the configured decimal separator.
//
// Output: no grouping, at least one digit before the mark, a leading "-" for negative numbers,
// never a "+" nor an exponent. Decimal places only shorten: "12.3" stays "12.3" with 2 places,
// and the value's own digits, trailing zeros included, are kept when no rounding applies
// ("012.300" gives "12.300"). A quotient has exactly the configured places ("10" / "4" with 3
// places gives "2.500"). Zero carries no sign: "-0.00" gives "0.00", and "-0.001" rounded to 2
// places gives "0.00", not "-0.00".
//
// The two separators differ in the mark only (point or comma); no other locale rule applies.
//
// One formatter serves one run on the reception thread; format() is not thread-safe.
class NumberFormatter
{
public:
    using MathOperation = config::ConfigHelper::MathOperation;

    // Everything from the configuration, as a run derives it: places and rounding mode only
    // when config.roundingEnabled(), operation and operand only when
    // config.mathOperationEnabled(). Throws util::NumberFormatError when the operation is on and
    // its operand is not a decimal number (the run cannot start).
    explicit NumberFormatter(const config::Config &config);

    // config gives the decimal separator and the two checks; the other arguments are what the
    // caller derived, each absent when its check fails. Rounding needs places and mode; an
    // operation needs its operand, and a division also the places and mode.
    NumberFormatter(const config::Config &config, std::optional<int> decimalPlaces,
        std::optional<util::RoundingMode> roundingMode, const MathOperation *mathOperation,
        std::optional<util::Decimal> mathOperand);

    // The typed text for one value. Throws util::NumberFormatError when the text (commas read
    // as points) is not a decimal number or lies outside the range of decimal numbers, and
    // util::ArithmeticError when a division by zero is asked for or a result leaves the range.
    QString format(const QString &text);

    // The number last handled by format(), after the arithmetic and before rounding.
    const std::optional<util::Decimal> &lastNumber() const { return m_lastNumber; }
    QChar decimalMark() const { return m_decimalMark; }
    bool isRoundingEnabled() const { return m_roundingEnabled; }
    bool isMathEnabled() const { return m_mathEnabled; }

private:
    std::optional<int> m_decimalPlaces;
    std::optional<util::RoundingMode> m_roundingMode;
    const MathOperation *m_mathOperation = nullptr;
    std::optional<util::Decimal> m_mathOperand;
    QChar m_decimalMark = u'.';
    std::optional<util::Decimal> m_lastNumber;
    bool m_roundingEnabled = false;
    bool m_mathEnabled = false;
};

} // namespace omvara::processing
