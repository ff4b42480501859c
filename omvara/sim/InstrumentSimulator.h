// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/sim/InstrumentRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace omvara::sim {

// The records one simulated instrument sends, in order: first the sample
// lines of the instrument's catalogue entry, then its reading cycle over and
// over; or, counting, readings of 1, 2, 3, ... (InstrumentRecords::countBody),
// so that every record can be told apart. Every record ends with the
// instrument's line end (its default input terminator, preceded by CR where
// the terminator is LF).
class InstrumentSimulator
{
public:
    // `instrument`: a catalogue constant name (for example "SARTORIUS").
    // Throws std::invalid_argument for an unknown name.
    explicit InstrumentSimulator(const QString &instrument, bool counting = false);

    QByteArray nextRecord();
    // The first `count` records a fresh simulator of this instrument sends.
    QList<QByteArray> firstRecords(int count) const;

    const QString &instrument() const { return m_instrument; }
    int terminator() const { return m_terminator; }

private:
    QString m_instrument;
    int m_terminator = 13;
    QList<QByteArray> m_samples;
    QList<Reading> m_cycle;
    qsizetype m_next = 0;
    bool m_counting = false;
};

} // namespace omvara::sim
