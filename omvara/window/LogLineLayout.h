// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

namespace omvara {

// The names of the event log's text styles.
namespace LogStyle {
inline const QString Default = QStringLiteral("default");
inline const QString Regular = QStringLiteral("regular");
inline const QString Important = QStringLiteral("important");
inline const QString Unknown = QStringLiteral("unknown");
inline const QString Typed = QStringLiteral("typed");
inline const QString Ignored = QStringLiteral("ignored");
} // namespace LogStyle

// One piece of an event-log entry and the style it is shown in.
struct LogSegment
{
    QString text;
    QString style;
    friend bool operator==(const LogSegment &, const LogSegment &) = default;
};

// How one received line appears in the event log, without any widget.
//
// `time` is the line's completion time as "HH:mm:ss", `raw` the received text
// made printable (control characters as "<code>"), `value` what is typed.
//  - No value: the whole line in style "ignored" (nothing is typed).
//  - The value is looked for in the raw text as written, then with every ","
//    read as ".", then with every "." read as ",". Not found, or found after
//    a "<" (inside or behind a control code, so the match may be a code's
//    digits): the whole line in style "unknown".
//  - Found: the time in "regular", the text before the value in "ignored",
//    the value as the raw text writes it in "typed", the rest in "ignored".
// Every entry ends with a line feed; empty pieces are left out.
QList<LogSegment> dataLineSegments(const QString &time, const QString &raw, const QString &value);

// Where `value` stands in `raw` (see above): the position and the length of
// the matched text, or position -1.
struct ValueMatch
{
    qsizetype position = -1;
    qsizetype length = 0;
};
ValueMatch findValue(const QString &raw, const QString &value);

// An ordinary or emphasised entry: "HH:mm:ss text\n".
QString logEntryText(const QString &time, const QString &text);

} // namespace omvara
