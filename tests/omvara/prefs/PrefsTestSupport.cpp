// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefsTestSupport.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>

namespace omvara::prefs::testing {

namespace {

QMutex captureMutex;
QStringList captured;
QtMessageHandler previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker guard(&captureMutex);
        captured << message;
    }
    if (previous)
        previous(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker guard(&captureMutex);
    captured.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("omvara.*=true"));
    previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
}

QStringList LogCapture::messages()
{
    QMutexLocker guard(&captureMutex);
    return captured;
}

bool LogCapture::contains(const QString &text) const
{
    for (const QString &m : messages())
        if (m.contains(text))
            return true;
    return false;
}

} // namespace omvara::prefs::testing
