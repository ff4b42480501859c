// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRegularExpression>
#include <QString>

namespace omvara::config {

// The one place that turns a value pattern (an instrument's or the user's)
// into a compiled expression, so that extraction and the check of a typed
// custom pattern agree on what a pattern means.
//
// Matching rules, whatever the underlying engine does by default:
// - case-sensitive; "^" matches only at the start of the subject;
// - "." matches any character except the line terminators CR, LF, U+0085,
//   U+2028 and U+2029 (subjects hold bytes 0-255 as characters, so U+0085
//   can occur); an inline (?s) restores "match everything";
// - "$" and "\Z" match at the end of the subject or before one final line
//   terminator (CR LF counting as one); with an inline (?m) they are left to
//   the engine;
// - "\s" is [ \t\n\x0B\f\r] and "\d" is [0-9]: ASCII only.
class LinePattern
{
public:
    LinePattern() = delete;

    // The compiled pattern; check isValid() (and errorString()) on the result.
    static QRegularExpression compile(const QString &pattern);
    // The pattern text handed to the engine after the rewrites above.
    static QString translate(const QString &pattern);
};

} // namespace omvara::config
