// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/RunLine.h"

#include <deque>
#include <functional>
#include <mutex>

namespace omvara::run {

// The lines of a run in the order they were received, each released once
// what became of it is known, in that same order: a line whose value the
// keyboard is still typing holds back the lines after it. So everything that
// wants every line (the record file, the log's marks) sees them once each,
// in order, with their final status.
//
// Any thread. `release` is called with the ledger's lock held, so releases
// never overtake each other: it must be quick and must not call back.
class LineLedger
{
public:
    using Release = std::function<void(const RunLine &)>;
    explicit LineLedger(Release release)
        : m_release(std::move(release))
    {
    }

    // Takes a line, gives it its seq and returns it.
    qint64 add(RunLine line);
    // The final status of a pending line (ignored for one already settled);
    // `typed`: what went out for it, stamps included.
    void settle(qint64 seq, LineStatus status, const QString &note = {}, const QString &typed = {});
    // A pending line whose value was cut: `typedPart` of the value (`typed`
    // with the stamps) went out into `window`.
    void settleCut(qint64 seq, const QString &note, const QString &typedPart, const QString &window,
        const QString &typed = {});
    // Settles line `seq` as incomplete: typed without the characters the
    // keyboard could not type; `typedPart` is what of the value went out.
    void settleIncomplete(qint64 seq, const QString &note, const QString &typedPart, const QString &typed);
    // Settles every line still pending (the end of a run).
    void settleAll(LineStatus status, const QString &note = {});

private:
    // The pending line `seq`, or null when it is unknown or already settled. Under m_mutex.
    RunLine *pending(qint64 seq);
    // A line of which part went out: cut or incomplete.
    void settlePart(qint64 seq, LineStatus status, const QString &note, const QString &typedPart,
        const QString &window, const QString &typed);
    void releaseSettled();

    Release m_release;
    std::mutex m_mutex;
    std::deque<RunLine> m_lines; // from the oldest line not yet released
    qint64 m_next = 1;
};

} // namespace omvara::run
