// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdio>

namespace omvara::modes {

// The event log of a run without a window: one line per entry on the error
// output, stamped with the local time like the window's log ("HH:MM:SS text").
// Important entries are marked with "! " (and shown bold when the output is a
// terminal). Any thread may log; each entry is written whole.
class HeadlessLog
{
public:
    explicit HeadlessLog(std::FILE *out = stderr);

    void logEvent(const QString &message) { write(message, false); }
    void logImportantEvent(const QString &message) { write(message, true); }
    // An entry stamped with a given time (a received line carries its own).
    void logAt(const QDateTime &time, const QString &message, bool important = false);

    static QString stamp(const QDateTime &time, const QString &message);

private:
    void write(const QString &message, bool important);

    std::FILE *m_out;
    bool m_terminal;
};

} // namespace omvara::modes
