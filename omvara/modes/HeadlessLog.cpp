// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/HeadlessLog.h"

#include "omvara/util/LocalTime.h"

#include <mutex>

#include <unistd.h>

namespace omvara::modes {

namespace {

std::mutex &outputMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

void HeadlessLog::writeWhole(const QByteArray &bytes)
{
    std::lock_guard lock(outputMutex());
    if (!m_gathered.isEmpty()) {
        std::fwrite(m_gathered.constData(), 1, size_t(m_gathered.size()), m_out);
        m_gathered.resize(0);
    }
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

void HeadlessLog::gatherAt(std::chrono::system_clock::time_point instant, const QString &message)
{
    const QByteArray text = message.toLocal8Bit();
    const QByteArray clock = util::LocalTime::clock(instant).toLatin1();
    std::lock_guard lock(outputMutex());
    m_gathered += clock;
    m_gathered += ' ';
    m_gathered += text;
    m_gathered += '\n';
}

void HeadlessLog::flush()
{
    std::lock_guard lock(outputMutex());
    if (m_gathered.isEmpty())
        return;
    std::fwrite(m_gathered.constData(), 1, size_t(m_gathered.size()), m_out);
    std::fflush(m_out);
    m_gathered.resize(0);
}

HeadlessLog::HeadlessLog(std::FILE *out)
    : m_out(out)
    , m_terminal(::isatty(::fileno(out)) == 1)
{
}

QString HeadlessLog::stamp(const QDateTime &time, const QString &message)
{
    return time.toString(QStringLiteral("HH:mm:ss")) + u' ' + message + u'\n';
}

void HeadlessLog::write(const QString &message, bool important)
{
    logAt(QDateTime::currentDateTime(), message, important);
}

void HeadlessLog::logAt(const QDateTime &time, const QString &message, bool important)
{
    QString text = important ? QStringLiteral("! ") + message : message;
    if (important && m_terminal)
        text = QStringLiteral("\x1b[1m") + text + QStringLiteral("\x1b[0m");
    writeWhole(stamp(time, text).toLocal8Bit());
}

} // namespace omvara::modes
