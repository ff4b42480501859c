// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/sim/InstrumentSimulator.h"

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"

#include <stdexcept>

namespace omvara::sim {

using Instrument = config::ConfigHelper::Instrument;

InstrumentSimulator::InstrumentSimulator(const QString &instrument, bool counting)
    : m_counting(counting)
{
    if (!Instrument::valid(instrument))
        throw std::invalid_argument("unknown instrument: " + instrument.toStdString());
    const Instrument &entry = Instrument::valueOf(instrument);
    m_instrument = entry.name();
    m_terminator = entry.getDefaultConfig().getInputTerminator();
    for (const auto &[line, value] : entry.getTestStrings()) {
        if (!line.isEmpty())
            m_samples.append(InstrumentRecords::record(line.toLatin1(), m_terminator));
    }
    m_cycle = InstrumentRecords::readingCycle(m_instrument);
}

QByteArray InstrumentSimulator::nextRecord()
{
    const qsizetype index = m_next++;
    if (m_counting)
        return InstrumentRecords::record(InstrumentRecords::countBody(m_instrument, index + 1), m_terminator);
    if (index < m_samples.size())
        return m_samples[index];
    const Reading &reading = m_cycle[(index - m_samples.size()) % m_cycle.size()];
    return InstrumentRecords::record(InstrumentRecords::format(m_instrument, reading), m_terminator);
}

QList<QByteArray> InstrumentSimulator::firstRecords(int count) const
{
    InstrumentSimulator fresh(m_instrument, m_counting);
    QList<QByteArray> records;
    for (int i = 0; i < count; ++i)
        records.append(fresh.nextRecord());
    return records;
}

} // namespace omvara::sim
