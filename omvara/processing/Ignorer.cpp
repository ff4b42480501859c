// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/Ignorer.h"

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"

#include <chrono>
#include <utility>

namespace omvara::processing {

using config::ConfigHelper;
using util::Decimal;

namespace {

Decimal differenceOf(const config::Config &config)
{
    const ConfigHelper::Instrument *instrument = config.getInstrument();
    if (instrument && &instrument->getInstrumentType() == &ConfigHelper::InstrumentType::TEXT)
        return Decimal();
    return Decimal::tryParse(config.getIgnoreDifference()).value_or(Decimal());
}

std::optional<Decimal> numberOf(const QString &value)
{
    QString pointed = value;
    pointed.replace(u',', u'.');
    return Decimal::tryParse(pointed);
}

} // namespace

Ignorer::Ignorer(const config::Config &config)
    : Ignorer(ConfigHelper::parseInteger(config.getIgnoreTimeLimit()).value_or(0), differenceOf(config))
{
}

Ignorer::Ignorer(qint32 timeLimit, util::Decimal difference)
    : m_timeLimit(timeLimit)
    , m_difference(std::move(difference))
{
}

bool Ignorer::inTime(const DataLine &line) const
{
    if (m_timeLimit == 0)
        return true;
    if (!m_lastData)
        return false;
    // Whole milliseconds, the remainder dropped towards the past.
    const auto elapsed
        = std::chrono::floor<std::chrono::milliseconds>(line.getInstant() - m_lastData->getInstant());
    return elapsed.count() <= m_timeLimit;
}

bool Ignorer::inTolerance(const DataLine &line) const
{
    if (!m_lastData)
        return false;
    if (m_difference.signum() == 0)
        return line.getProcessedData() == m_lastData->getProcessedData();
    const std::optional<Decimal> current = numberOf(line.getProcessedData());
    const std::optional<Decimal> previous = numberOf(m_lastData->getProcessedData());
    if (!current || !previous)
        return false;
    try {
        return current->subtract(*previous).abs() <= m_difference;
    } catch (const util::ArithmeticError &) {
        return false; // a distance beyond the range of decimal numbers is no repeat
    }
}

void Ignorer::process(DataLine &line)
{
    if (line.getProcessedData().isEmpty())
        return;
    DataLine copy = line.copy();
    if (m_lastData && inTime(line) && inTolerance(line))
        line.deleteProcessedData();
    m_lastData = std::move(copy);
}

} // namespace omvara::processing
