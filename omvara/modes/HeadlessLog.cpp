// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/HeadlessLog.h"

#include <mutex>

#include <unistd.h>

namespace omvara::modes {

namespace {

std::mutex &outputMutex()
{
    static std::mutex m;
    return m;
}

void writeWhole(std::FILE *out, const QByteArray &bytes)
{
    std::lock_guard lock(outputMutex());
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

} // namespace

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
    writeWhole(m_out, stamp(time, text).toLocal8Bit());
}

} // namespace omvara::modes
