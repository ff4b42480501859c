// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/LogLineLayout.h"

namespace omvara {

ValueMatch findValue(const QString &raw, const QString &value)
{
    if (value.isEmpty())
        return {};
    QString candidate = value;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt == 1)
            candidate = QString(value).replace(QLatin1Char(','), QLatin1Char('.'));
        else if (attempt == 2)
            candidate = QString(value).replace(QLatin1Char('.'), QLatin1Char(','));
        const qsizetype at = raw.indexOf(candidate);
        if (at >= 0)
            return {at, candidate.size()};
    }
    return {};
}

QString logEntryText(const QString &time, const QString &text)
{
    return time + QLatin1Char(' ') + text + QLatin1Char('\n');
}

QList<LogSegment> dataLineSegments(const QString &time, const QString &raw, const QString &value)
{
    if (value.isEmpty())
        return {{logEntryText(time, raw), LogStyle::Ignored}};
    const ValueMatch match = findValue(raw, value);
    if (match.position < 0 || raw.left(match.position).contains(QLatin1Char('<')))
        return {{logEntryText(time, raw), LogStyle::Unknown}};

    QList<LogSegment> segments;
    segments.append({time + QLatin1Char(' '), LogStyle::Regular});
    if (match.position > 0)
        segments.append({raw.left(match.position), LogStyle::Ignored});
    segments.append({raw.mid(match.position, match.length), LogStyle::Typed});
    segments.append({raw.mid(match.position + match.length) + QLatin1Char('\n'), LogStyle::Ignored});
    return segments;
}

} // namespace omvara
