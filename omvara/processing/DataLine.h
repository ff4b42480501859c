// SPDX-License-Identifier: GPL-3.0-or-later
// One received line with its value.
#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringView>

#include <chrono>

namespace omvara::processing {

// One received line: what arrived, what will be typed, its number within the run, when it was
// completed and whether the port signalled a parity or framing error meanwhile.
//
// A plain value: made on the reception thread, handed over once, afterwards used on the
// window's thread only. Copies are independent (the texts are implicitly shared).
class DataLine
{
public:
    // UTC instant with the system clock's resolution (nanoseconds here).
    using Instant = std::chrono::system_clock::time_point;

    DataLine() = default;
    // rawData: every character received for the line, terminator included, each byte as the
    // character with the same code. processedData: the value to type, empty when none.
    DataLine(QString rawData, QString processedData, qint32 count, Instant instant, bool error);

    DataLine copy() const { return *this; }
    void deleteProcessedData() { m_processedData = QStringLiteral(""); }
    qint32 getCount() const { return m_count; }
    // The instant as local date and time of the system's time zone (millisecond resolution).
    QDateTime getDateTime() const;
    Instant getInstant() const { return m_instant; }
    QString getProcessedData() const { return m_processedData; }
    // The received characters made printable by transformControlChars.
    QString getRawData() const { return transformControlChars(m_rawData); }
    // The received characters as they arrived.
    const QString &rawData() const { return m_rawData; }
    bool hasValue() const { return !m_processedData.isEmpty(); }
    bool isError() const { return m_error; }

    // Keeps every character from 0x20 to 0x7E and writes any other as "<" + its code in
    // decimal + ">": carriage return "<13>", line feed "<10>", 0xB0 "<176>". A surrogate pair
    // is one character with its full code.
    static QString transformControlChars(QStringView text);

private:
    QString m_rawData;
    QString m_processedData;
    qint32 m_count = 0;
    Instant m_instant {};
    bool m_error = false;
};

} // namespace omvara::processing

Q_DECLARE_METATYPE(omvara::processing::DataLine)
