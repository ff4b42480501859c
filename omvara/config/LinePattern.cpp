// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/LinePattern.h"

#include <vector>

namespace omvara::config {

namespace {

// Any character but a line terminator, and the end of the subject allowing
// one final line terminator (a LF directly after a CR belongs to the CR).
const QString AnyButTerminator = QStringLiteral(R"([^\n\r\x{85}\x{2028}\x{2029}])");
const QString EndOfLine = QStringLiteral(R"((?=(?:\r\n|(?<!\r)\n|[\r\x{85}\x{2028}\x{2029}])?\z))");

struct Flags
{
    bool dotAll = false;
    bool multiLine = false;
    bool extended = false;
};

// Applies an inline option list such as "im-sx" or "^s" to `flags`.
Flags applyOptions(Flags flags, QStringView options)
{
    bool on = true;
    for (QChar c : options) {
        switch (c.unicode()) {
        case u'-':
            on = false;
            break;
        case u'^':
            flags = Flags{};
            break;
        case u's':
            flags.dotAll = on;
            break;
        case u'm':
            flags.multiLine = on;
            break;
        case u'x':
            flags.extended = on;
            break;
        default:
            break;
        }
    }
    return flags;
}

bool isOptionLetter(QChar c)
{
    return c.isLetter() || c == u'-' || c == u'^';
}

} // namespace

QString LinePattern::translate(const QString &p)
{
    QString out;
    out.reserve(p.size() + 16);
    const qsizetype n = p.size();
    Flags flags;
    std::vector<Flags> outer; // flags to restore at each ")"
    qsizetype i = 0;

    auto copyUntil = [&](QStringView end) {
        // Copies through the next `end` (or to the end of the pattern).
        const qsizetype at = p.indexOf(end, i);
        const qsizetype stop = at < 0 ? n : at + end.size();
        out += QStringView(p).mid(i, stop - i);
        i = stop;
    };

    while (i < n) {
        const QChar c = p[i];
        if (c == u'\\') {
            if (i + 1 >= n) {
                out += c;
                ++i;
                continue;
            }
            const QChar e = p[i + 1];
            if (e == u'Q') {
                // Literal text up to \E.
                out += QStringView(p).mid(i, 2);
                i += 2;
                copyUntil(u"\\E");
            } else if (e == u'Z' && !flags.multiLine) {
                out += EndOfLine;
                i += 2;
            } else if (e == u'c' && i + 2 < n) {
                // A control character: \c takes the next character literally.
                out += QStringView(p).mid(i, 3);
                i += 3;
            } else {
                out += QStringView(p).mid(i, 2);
                i += 2;
            }
            continue;
        }
        if (c == u'[') {
            // A character class: copied unchanged; "." and "$" are literal in it.
            out += c;
            ++i;
            // Before its first member a class may have one "^" and any number
            // of "\E" and "\Q\E" (which stand for nothing); a "]" after them
            // is a member, not the end.
            for (bool negated = false; i < n;) {
                const QStringView rest = QStringView(p).mid(i);
                if (rest.startsWith(u"\\E")) {
                    out += rest.first(2);
                    i += 2;
                } else if (rest.startsWith(u"\\Q\\E")) {
                    out += rest.first(4);
                    i += 4;
                } else if (!negated && p[i] == u'^') {
                    negated = true;
                    out += p[i++];
                } else {
                    break;
                }
            }
            if (i < n && p[i] == u']')
                out += p[i++];
            while (i < n && p[i] != u']') {
                if (p[i] == u'\\' && i + 1 < n) {
                    if (p[i + 1] == u'Q') {
                        out += QStringView(p).mid(i, 2);
                        i += 2;
                        copyUntil(u"\\E");
                    } else if (p[i + 1] == u'c' && i + 2 < n) {
                        // A control character here too: "\c]" is a member, not the end.
                        out += QStringView(p).mid(i, 3);
                        i += 3;
                    } else {
                        out += QStringView(p).mid(i, 2);
                        i += 2;
                    }
                } else if (p[i] == u'[' && i + 1 < n && (p[i + 1] == u':' || p[i + 1] == u'.' || p[i + 1] == u'=')) {
                    // A POSIX class such as [:alpha:]. As the engine does, it is
                    // one only when its closing ":]" comes before any "]" or
                    // another "[:"; otherwise the "[" is an ordinary member.
                    const QChar kind = p[i + 1];
                    qsizetype close = -1;
                    for (qsizetype k = i + 2; k < n; ++k) {
                        if (p[k] == u'\\' && k + 1 < n && (p[k + 1] == u']' || p[k + 1] == u'\\')) {
                            ++k;
                        } else if ((p[k] == u'[' && k + 1 < n && p[k + 1] == kind) || p[k] == u']') {
                            break;
                        } else if (p[k] == kind && k + 1 < n && p[k + 1] == u']') {
                            close = k;
                            break;
                        }
                    }
                    const qsizetype stop = close < 0 ? i + 1 : close + 2;
                    out += QStringView(p).mid(i, stop - i);
                    i = stop;
                } else {
                    out += p[i++];
                }
            }
            if (i < n)
                out += p[i++];
            continue;
        }
        if (c == u'(') {
            if (i + 1 < n && p[i + 1] == u'*') {
                // A verb such as (*UTF) or (*FAIL): no group.
                copyUntil(u")");
                continue;
            }
            if (i + 2 < n && p[i + 1] == u'?' && p[i + 2] == u'#') {
                copyUntil(u")");
                continue;
            }
            if (i + 1 < n && p[i + 1] == u'?') {
                qsizetype k = i + 2;
                while (k < n && isOptionLetter(p[k]))
                    ++k;
                const QStringView options = QStringView(p).mid(i + 2, k - i - 2);
                if (k < n && p[k] == u')' && !options.isEmpty()) {
                    // (?s) and the like: for the rest of the enclosing group.
                    flags = applyOptions(flags, options);
                    out += QStringView(p).mid(i, k + 1 - i);
                    i = k + 1;
                    continue;
                }
                if (k < n && p[k] == u':' && !options.isEmpty()) {
                    // (?s:...): for this group only.
                    outer.push_back(flags);
                    flags = applyOptions(flags, options);
                    out += QStringView(p).mid(i, k + 1 - i);
                    i = k + 1;
                    continue;
                }
            }
            outer.push_back(flags);
            out += c;
            ++i;
            continue;
        }
        if (c == u')') {
            if (!outer.empty()) {
                flags = outer.back();
                outer.pop_back();
            }
            out += c;
            ++i;
            continue;
        }
        if (flags.extended && c == u'#') {
            // A comment up to the end of the line.
            const qsizetype nl = p.indexOf(u'\n', i);
            const qsizetype stop = nl < 0 ? n : nl + 1;
            out += QStringView(p).mid(i, stop - i);
            i = stop;
            continue;
        }
        if (c == u'.' && !flags.dotAll) {
            out += AnyButTerminator;
            ++i;
            continue;
        }
        if (c == u'$' && !flags.multiLine) {
            out += EndOfLine;
            ++i;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

QRegularExpression LinePattern::compile(const QString &pattern)
{
    // No options: case-sensitive, "^" only at the start, and without
    // Unicode properties "\s", "\d" and "\w" stay ASCII.
    QRegularExpression re(translate(pattern), QRegularExpression::NoPatternOption);
    if (re.isValid())
        re.optimize();
    return re;
}

} // namespace omvara::config
