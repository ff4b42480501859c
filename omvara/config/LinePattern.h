// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRegularExpression>
#include <QString>

namespace omvara::config {

// The one place that turns a value pattern (an instrument's or the user's)
// into a compiled expression, so that extraction and the check of a typed
// custom pattern agree on what a pattern means.
//
// Patterns are written in the dialect of stored settings and export files,
// java.util.regex: a pattern that dialect refuses is refused with the
// construct and the reason (PatternSyntax), and the engine's own extensions
// (POSIX classes such as [:digit:], \p{^...}, verbs, (?#...), (?P<name>...))
// are not available. Matching rules, whatever the underlying engine does by
// default:
// - case-sensitive; "^" matches only at the start of the subject; with (?i)
//   only ASCII letters fold, unless (?u) is also on;
// - line terminators are CR LF, LF, CR, U+0085, U+2028 and U+2029 (under
//   (?d) LF only); subjects hold bytes 0-255 as characters, so U+0085 can
//   occur. "." matches any character but a line terminator ((?s): any);
// - "$" and "\Z" match at the end of the subject or before one final line
//   terminator; with (?m) "^" and "$" match at every line start and end
//   (never between CR and LF, and "^" not at the very end); "\R" is CR LF
//   or one line terminator (or VT, FF), giving back the LF of a CR LF where
//   the rest of the pattern needs it, except within a repetition;
// - "\s" is [ \t\n\x0B\f\r] and "\d" is [0-9]: ASCII only, as are the
//   named classes \p{Lower}, \p{Alpha}, \p{Punct} and the like; "\b" takes
//   letters and digits beyond ASCII as word characters;
// - \uXXXX, octal \0nnn and \cX are characters; \p{IsLatin} is a script
//   (without the characters it shares with others), \p{IsAlphabetic} a
//   binary property, \p{InBasicLatin} a block; a class nested in a class
//   adds its members ("[[:digit:]]" is the characters ":", "d", "i", "g",
//   "t"), "&&" intersects ([a-z&&[^aeiou]]), and a leading "^" negates the
//   whole class; with (?x) blanks and comments inside classes are skipped
//   too; "\12" after fewer than twelve groups is group 1 and a "2".
// A construct with no exact equivalent in the engine (the flags U and c,
// emoji properties, case-insensitive \p{Lu}, letters beyond ASCII in a class
// under (?i) without (?u), \N{name}, \b{g}) is refused with a message that
// names it.
class LinePattern
{
public:
    LinePattern() = delete;

    // The compiled pattern; check isValid() on the result. A refused pattern
    // gives an expression that is not valid; `error` (when given) receives
    // the refusal or the engine's message.
    static QRegularExpression compile(const QString &pattern, QString *error = nullptr);
    // The same with engine text before and after the rewritten pattern
    // (match limits, an anchor); the rewrite is a complete expression of its
    // own, so it can be wrapped in a group.
    static QRegularExpression compile(const QString &pattern, const QString &engineBefore,
        const QString &engineAfter, QString *error = nullptr);
    // The pattern text handed to the engine after the rewrites above; "" and
    // the refusal in `refusal` (when given) for a refused pattern.
    static QString translate(const QString &pattern, QString *refusal = nullptr);
    // For a pattern holding "[:digit:]" or another POSIX class name inside a
    // class: what it means here and what to write instead; "" otherwise.
    static QString classNameNote(const QString &pattern);
};

} // namespace omvara::config
