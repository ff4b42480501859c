// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/RunLine.h"

namespace omvara::run {

QString statusText(LineStatus status)
{
    switch (status) {
    case LineStatus::Pending:
        return QStringLiteral("pending");
    case LineStatus::Typed:
        return QStringLiteral("typed");
    case LineStatus::Printed:
        return QStringLiteral("printed");
    case LineStatus::NoValue:
        return QStringLiteral("no value");
    case LineStatus::Duplicate:
        return QStringLiteral("duplicate");
    case LineStatus::Held:
        return QStringLiteral("held");
    case LineStatus::NotTyped:
        return QStringLiteral("not typed");
    case LineStatus::Cut:
        return QStringLiteral("cut");
    case LineStatus::Incomplete:
        return QStringLiteral("incomplete");
    case LineStatus::Error:
        return QStringLiteral("error");
    case LineStatus::Overflow:
        return QStringLiteral("overflow");
    case LineStatus::Unsent:
        return QStringLiteral("unsent");
    }
    return {};
}

QString isoTime(const QDateTime &time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    const int offset = time.offsetFromUtc() / 60;
    const int absolute = offset < 0 ? -offset : offset;
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(), d.month(), d.day(),
        t.hour(), t.minute(), t.second(), t.msec(), offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
}

} // namespace omvara::run
