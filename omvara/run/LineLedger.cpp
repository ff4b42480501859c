// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/LineLedger.h"

namespace omvara::run {

qint64 LineLedger::add(RunLine line)
{
    std::lock_guard lock(m_mutex);
    line.seq = m_next++;
    const qint64 seq = line.seq;
    m_lines.push_back(std::move(line));
    releaseSettled();
    return seq;
}

RunLine *LineLedger::pending(qint64 seq)
{
    if (m_lines.empty() || seq < m_lines.front().seq || seq - m_lines.front().seq >= qint64(m_lines.size()))
        return nullptr;
    RunLine &line = m_lines[std::size_t(seq - m_lines.front().seq)];
    return line.settled() ? nullptr : &line;
}

void LineLedger::settle(qint64 seq, LineStatus status, const QString &note, const QString &typed)
{
    std::lock_guard lock(m_mutex);
    RunLine *line = pending(seq);
    if (!line)
        return;
    line->status = status;
    line->note = note;
    line->typed = typed;
    releaseSettled();
}

void LineLedger::settleCut(
    qint64 seq, const QString &note, const QString &typedPart, const QString &window, const QString &typed)
{
    settlePart(seq, LineStatus::Cut, note, typedPart, window, typed);
}

void LineLedger::settleIncomplete(
    qint64 seq, const QString &note, const QString &typedPart, const QString &typed)
{
    settlePart(seq, LineStatus::Incomplete, note, typedPart, {}, typed);
}

void LineLedger::settlePart(qint64 seq, LineStatus status, const QString &note, const QString &typedPart,
    const QString &window, const QString &typed)
{
    std::lock_guard lock(m_mutex);
    RunLine *line = pending(seq);
    if (!line)
        return;
    line->status = status;
    line->note = note;
    line->typedPart = typedPart;
    line->window = window;
    line->typed = typed;
    releaseSettled();
}

void LineLedger::settleAll(LineStatus status, const QString &note)
{
    std::lock_guard lock(m_mutex);
    for (RunLine &line : m_lines) {
        if (!line.settled()) {
            line.status = status;
            line.note = note;
        }
    }
    releaseSettled();
}

void LineLedger::releaseSettled()
{
    while (!m_lines.empty() && m_lines.front().settled()) {
        if (m_release)
            m_release(m_lines.front());
        m_lines.pop_front();
    }
}

} // namespace omvara::run
