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
            return { at, candidate.size() };
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
        return { { logEntryText(time, raw), LogStyle::Ignored } };
    QList<LogSegment> segments;
    segments.append({ time + QLatin1Char(' '), LogStyle::Regular });
    const ValueMatch match = findValue(raw, value);
    // Digits right beside the match mean it is part of a longer number (a
    // rounded value found inside the reading): not the value.
    const auto digitAt = [&raw](qsizetype i) { return i >= 0 && i < raw.size() && raw[i].isDigit(); };
    if (match.position < 0 || raw.left(match.position).contains(QLatin1Char('<'))
        || digitAt(match.position - 1) || digitAt(match.position + match.length)) {
        segments.append({ raw + QLatin1Char('\n'), LogStyle::Ignored });
        return segments;
    }
    if (match.position > 0)
        segments.append({ raw.left(match.position), LogStyle::Ignored });
    segments.append({ raw.mid(match.position, match.length), LogStyle::Value });
    segments.append({ raw.mid(match.position + match.length) + QLatin1Char('\n'), LogStyle::Ignored });
    return segments;
}

QList<LogSegment> valueMark(ValueFate fate, const QString &value, const QString &reason)
{
    switch (fate) {
    case ValueFate::Typed:
        return { { QStringLiteral("  \u2192 "), LogStyle::Regular }, { value, LogStyle::Typed } };
    case ValueFate::NotTyped:
        return { { QStringLiteral("  \u2298 ") + (reason.isEmpty() ? QStringLiteral("not typed") : reason),
            LogStyle::NotTyped } };
    case ValueFate::Held:
        return { { QStringLiteral("  \u00b7 ") + (reason.isEmpty() ? QStringLiteral("held") : reason),
            LogStyle::Held } };
    case ValueFate::Cut:
        return { { QStringLiteral("  \u2702 ") + (reason.isEmpty() ? QStringLiteral("cut") : reason),
            LogStyle::NotTyped } };
    case ValueFate::Incomplete:
        return { { QStringLiteral("  \u26a0 ") + (reason.isEmpty() ? QStringLiteral("incomplete") : reason),
            LogStyle::NotTyped } };
    }
    return {};
}

} // namespace omvara
