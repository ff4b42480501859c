// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace omvara::sim {

// One simulated reading of a device.
struct Reading
{
    double value = 0; // in the unit the device shows
    int decimals = 2;
    bool stable = true;
    bool overload = false;
};

// What the simulated devices send: each catalogue instrument's record format
// for a reading (body only, without the line end), and a fixed cycle of
// plausible readings (stable and unstable, negative, zero, overload where the
// device reports one) so that a run of the simulator is reproducible.
class InstrumentRecords
{
public:
    // The record body for `reading` in the format of the instrument with the
    // constant name `instrument`; unknown names get the generic format.
    static QByteArray format(const QString &instrument, const Reading &reading);

    // The record body carrying the whole number `count` (>= 0) as the
    // reading, in the instrument's format: a stable weight (or piece count)
    // without decimals, the time clock's employee ID, a numeric code for the
    // barcode readers. The instrument's own pattern finds `count` in it, so
    // runs whose records must be told apart (order, loss, repeats) can count.
    // Up to 7 digits fit the value field of every instrument.
    static QByteArray countBody(const QString &instrument, qint64 count);

    // The cycle of readings the simulator goes through for that instrument.
    static QList<Reading> readingCycle(const QString &instrument);

    // The line end a device with input terminator `terminator` puts after a
    // record: CR LF for LF-terminated devices (the common case), else the
    // terminator byte alone.
    static QByteArray lineEnd(int terminator);

    // `body` followed by the line end, unless it already ends with the terminator byte.
    static QByteArray record(const QByteArray &body, int terminator);

    // True for the text devices (barcode readers, the time clock's ID).
    static bool isCodeReader(const QString &instrument);
};

} // namespace omvara::sim
