// SPDX-License-Identifier: GPL-3.0-or-later
// The stamps typed beside each value: a text before it and a text after it.
#pragma once

#include <QDateTime>
#include <QString>

namespace omvara::config {

// A stamp: a text typed between the start key and the value (the stamp
// before) or between the value and the terminator key (the stamp after). Its
// tokens are replaced for each value:
//   {date}, {date:PATTERN}  the date, as yyyy-MM-dd or PATTERN (dd.MM.yyyy)
//   {time}, {time:PATTERN}  the time, as HH:mm:ss or PATTERN (HH:mm)
//   {seq}                   the value's number in the run, from 1
//   {port}                  the port the value came from
//   {connection}            the name of the connection the value came from
//   {{                      a "{"
// PATTERN takes the letters of QDate::toString and QTime::toString; a "}"
// ends it. A "}" elsewhere is itself. "" (the default) types nothing.
// Valid: at most MaxLength characters without control characters, every
// "{" beginning a token or "{{".
class Stamp final
{
public:
    static constexpr int MaxLength = 256;

    // What a token stands for, for one value.
    struct Values
    {
        QDateTime time; // local time
        qint64 seq = 0;
        QString port;
        QString connection;
    };

    Stamp() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text) { return problem(text).isEmpty(); }
    // Why `text` is no stamp, naming the token at fault ("unknown token
    // {user}"); empty when it is one.
    static QString problem(const QString &text);
    // `text` with its tokens replaced; a valid text is assumed (a token
    // that is not known stays as it is).
    static QString expand(const QString &text, const Values &values);
};

} // namespace omvara::config
