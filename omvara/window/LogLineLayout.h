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
// The value as it stands in the received text.
inline const QString Value = QStringLiteral("value");
// Marks of values that were not typed, and of readings held back.
inline const QString NotTyped = QStringLiteral("nottyped");
inline const QString Held = QStringLiteral("held");
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
// made printable (control characters as "<code>"), `value` its value.
//  - No value: the whole line in style "ignored" (a line without any value is
//    later shown in "unknown", see noValueStyle).
//  - Otherwise the time in "regular" and the raw text in "ignored"; the value
//    is looked for in the raw text as written, then with every "," read as
//    ".", then with every "." read as ","; where it is found (not after a "<":
//    inside or behind a control code the match may be a code's digits; and
//    not with a digit right beside it, as a rounded value inside the longer
//    reading), that part is in style "value".
// What became of the value follows as a mark at the end of the line
// (valueMark), once known. The entry ends with a line feed; empty pieces are
// left out.
QList<LogSegment> dataLineSegments(const QString &time, const QString &raw, const QString &value);

// The mark at the end of a line whose value was typed ("→ 12,35": the arrow
// in "regular", the value in "typed"), not typed ("⊘ not typed" and the
// reason, in "nottyped"), held back by the settled-readings filter ("· held"
// or the reason, in "held"), or cut ("✂ " and what went where, in
// "nottyped"). Never an arrow for a value that was not typed whole.
enum class ValueFate { Typed, NotTyped, Held, Cut, Incomplete };
QList<LogSegment> valueMark(ValueFate fate, const QString &value, const QString &reason = {});

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
