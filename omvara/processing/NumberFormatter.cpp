// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/NumberFormatter.h"

#include "omvara/config/Config.h"

#include <utility>

namespace omvara::processing {

using config::ConfigHelper;
using util::Decimal;

namespace {

std::optional<int> placesIfRounding(const config::Config &config)
{
    return config.roundingEnabled() ? config.getDecimalPlacesAsInt() : std::nullopt;
}

std::optional<util::RoundingMode> modeIfRounding(const config::Config &config)
{
    if (!config.roundingEnabled())
        return std::nullopt;
    return config.getRoundingMethod().getRoundingMode();
}

} // namespace

NumberFormatter::NumberFormatter(const config::Config &config)
    : NumberFormatter(config, placesIfRounding(config), modeIfRounding(config),
        config.mathOperationEnabled() ? &config.getMathOperation() : nullptr,
        config.mathOperationEnabled() ? std::optional<Decimal>(config.getMathOperandAsBigDecimal())
                                      : std::nullopt)
{
}

NumberFormatter::NumberFormatter(const config::Config &config, std::optional<int> decimalPlaces,
    std::optional<util::RoundingMode> roundingMode, const MathOperation *mathOperation,
    std::optional<util::Decimal> mathOperand)
    : m_decimalPlaces(decimalPlaces)
    , m_roundingMode(roundingMode)
    , m_mathOperation(mathOperation)
    , m_mathOperand(std::move(mathOperand))
    , m_decimalMark(&config.getDecimalSeparator() == &ConfigHelper::DecimalSeparator::COMMA ? u',' : u'.')
{
    // The checks come from the configuration; the parts they need must have been handed over
    // too, or the step is left out rather than run with something missing.
    m_roundingEnabled = config.roundingEnabled() && m_decimalPlaces && m_roundingMode;
    m_mathEnabled = config.mathOperationEnabled() && m_mathOperation && m_mathOperand
        && (m_mathOperation != &MathOperation::DIVIDE || (m_decimalPlaces && m_roundingMode));
}

QString NumberFormatter::format(const QString &text)
{
    QString pointed = text;
    pointed.replace(u',', u'.');
    Decimal number = Decimal::parse(pointed);

    if (m_mathEnabled) {
        if (m_mathOperation == &MathOperation::MULTIPLY)
            number = number.multiply(*m_mathOperand);
        else if (m_mathOperation == &MathOperation::DIVIDE)
            number = number.divide(*m_mathOperand, *m_decimalPlaces, *m_roundingMode);
    }
    m_lastNumber = number;

    const int scale = number.scale();
    if (m_roundingEnabled && scale > 0 && *m_decimalPlaces < scale)
        number = number.setScale(*m_decimalPlaces, *m_roundingMode);
    return number.toPlainText(m_decimalMark);
}

} // namespace omvara::processing
