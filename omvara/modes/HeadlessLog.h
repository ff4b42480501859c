// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdio>

namespace omvara::modes {

// The event log of a run without a window: one line per entry on the error
// output, stamped with the local time like the window's log ("HH:MM:SS text").
// Important entries are marked with "! " (and shown bold when the output is a
// terminal). Any thread may log; each entry is written whole.
//
// Entries of one thread keep their order. Gathered entries (gatherAt) wait
// only for this object's next write: entries of another HeadlessLog on the
// same stream may go before them.
class HeadlessLog
{
public:
    explicit HeadlessLog(std::FILE *out = stderr);
    ~HeadlessLog() { flush(); }
    HeadlessLog(const HeadlessLog &) = delete;
    HeadlessLog &operator=(const HeadlessLog &) = delete;

    void logEvent(const QString &message) { write(message, false); }
    void logImportantEvent(const QString &message) { write(message, true); }
    // An entry stamped with a given time (a received line carries its own).
    void logAt(const QDateTime &time, const QString &message, bool important = false);
    // The entry of a received line, stamped with the line's instant: kept
    // until the next flush() or the next entry written at once, which write
    // it first (the entries stay in order). The lines of a burst then cost
    // one write together, not one each.
    void gatherAt(std::chrono::system_clock::time_point instant, const QString &message);
    // Writes the gathered entries.
    void flush();

    static QString stamp(const QDateTime &time, const QString &message);

private:
    void write(const QString &message, bool important);
    // Writes the gathered entries and `bytes` (under the output's lock).
    void writeWhole(const QByteArray &bytes);

    std::FILE *m_out;
    bool m_terminal;
    QByteArray m_gathered; // entries not written yet (under the output's lock)
};

} // namespace omvara::modes
