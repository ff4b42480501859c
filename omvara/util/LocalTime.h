// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>

namespace omvara::util {

// The local time of the system's time zone for instants that come in order,
// many a second (the lines of a run): the zone's offset from UTC is looked up
// once per second of the instants asked about and reused for the rest of
// that second. Offsets change only at whole seconds (daylight saving time,
// a zone's new rules), so every instant gets the offset in force at it; a
// change of the zone itself (TZ, /etc/localtime) counts from the next second.
// Any thread (each has its own cache).
class LocalTime
{
public:
    using Instant = std::chrono::system_clock::time_point;

    // The offset of local time from UTC at `instant`, in seconds (east positive).
    static int offsetFromUtc(Instant instant);
    // `instant` as a date and time with the local offset (millisecond
    // resolution): the same instant and the same wall-clock reading as the
    // local time, without a time-zone lookup.
    static QDateTime dateTime(Instant instant);
    // "HH:MM:SS" of the local time at `instant`.
    static QString clock(Instant instant);
};

} // namespace omvara::util
