// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternTranslator.h"

#include "omvara/config/PatternRefusal.h"

#include <algorithm>
#include <vector>

namespace omvara::config::rewrite {

namespace {

// Any character but a line terminator, and the end of the subject allowing
// one final line terminator (a LF directly after a CR belongs to the CR).
const QString AnyButTerminator = QStringLiteral(R"([^\n\r\x{85}\x{2028}\x{2029}])");
const QString EndOfLine = QStringLiteral(R"((?=(?:\r\n|(?<!\r)\n|[\r\x{85}\x{2028}\x{2029}])?\z))");
// The same with only LF as a line terminator (the flag d).
const QString AnyButLineFeed = QStringLiteral(R"([^\n])");
const QString EndOfUnixLine = QStringLiteral(R"((?=\n?\z))");
// With (?m): "^" at the start or after a line terminator (not between CR and
// LF), never at the very end; "$" before a line terminator (not between CR
// and LF) or at the end. With (?d) only LF ends a line.
const QString LineStart = QStringLiteral(R"((?:\A|(?<=[\n\x{85}\x{2028}\x{2029}])|(?<=\r)(?!\n))(?!\z))");
const QString LineEnd = QStringLiteral(R"((?:(?=[\r\x{85}\x{2028}\x{2029}])|(?<!\r)(?=\n)|\z))");
const QString LineBreak = QStringLiteral(R"((?:\r\n|[\n\x{0B}\f\r\x{85}\x{2028}\x{2029}]))");
const QString UnixLineStart = QStringLiteral(R"((?:\A|(?<=\n))(?!\z))");
const QString UnixLineEnd = QStringLiteral(R"((?:(?=\n)|\z))");
// Word boundaries: a word character is a letter, a decimal digit, "_" (or
// a combining mark), beyond ASCII too.
const QString WordBoundary = QStringLiteral(
    R"((?:(?<=[\p{L}\p{Nd}\p{Mn}_])(?![\p{L}\p{Nd}\p{Mn}_])|(?<![\p{L}\p{Nd}\p{Mn}_])(?=[\p{L}\p{Nd}\p{Mn}_])))");
const QString NoWordBoundary = QStringLiteral(
    R"((?:(?<=[\p{L}\p{Nd}\p{Mn}_])(?=[\p{L}\p{Nd}\p{Mn}_])|(?<![\p{L}\p{Nd}\p{Mn}_])(?![\p{L}\p{Nd}\p{Mn}_])))");

// Applies an inline option list such as "im-sx" or "^s" to `flags`. Returns
// the letters the engine is to see: those it knows with the meaning they
// have in stored patterns. "d" (only LF ends a line), "m" (line anchors)
// and "u" (case folding beyond ASCII) are carried out by the rewrite itself;
// "U" (Unicode classes for \w, \d, \s and the POSIX names) and "c"
// (canonical equivalence) have no exact equivalent.
QString applyOptions(Flags &flags, QStringView options)
{
    QString engine;
    bool on = true;
    for (QChar c : options) {
        switch (c.unicode()) {
        case u'-':
            on = false;
            break;
        case u'^':
            flags = Flags {};
            break;
        case u's':
            flags.dotAll = on;
            break;
        case u'm':
            flags.multiLine = on;
            continue;
        case u'x':
            flags.extended = on;
            continue;
        case u'i':
            flags.caseless = on;
            break;
        case u'u':
            flags.unicodeCase = on;
            continue;
        case u'd':
            flags.unixLines = on;
            continue;
        case u'U':
            refuse(options, QStringLiteral("Unicode character classes (the flag U) are not supported"));
        case u'c':
            refuse(options, QStringLiteral("canonical equivalence (the flag c) is not supported"));
        default:
            break;
        }
        engine += c;
    }
    // A list left with no letter ("(?u)", "(?-d)") would be an error.
    if (engine.isEmpty() || engine == u"-")
        return QString();
    if (engine.endsWith(u'-'))
        engine.chop(1);
    return engine;
}

bool isOptionLetter(QChar c)
{
    return c.isLetter() || c == u'-' || c == u'^';
}

bool isLineTerminator(QChar c, const Flags &flags)
{
    if (flags.unixLines)
        return c == u'\n';
    return c == u'\n' || c == u'\r' || c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029);
}

} // namespace

bool foldsBeyondAscii(char32_t c)
{
    if (c < 0x80)
        return false;
    return QChar::toUpper(c) != c || QChar::toLower(c) != c || QChar::toTitleCase(c) != c
        || QChar::toCaseFolded(c) != c;
}

// True when a quantifier follows at `i` (after blanks and comments under (?x)).
bool Translator::quantifierAt(qsizetype i, const Flags &flags) const
{
    bool skipped = false;
    i = skipLayout(i, flags, &skipped);
    return i < n && (p[i] == u'*' || p[i] == u'+' || p[i] == u'?' || p[i] == u'{');
}

// A character outside classes. Case-insensitive matching of stored patterns
// folds only ASCII letters unless the flag u is on; the engine folds all.
QString Translator::literal(char32_t code, const Flags &flags) const
{
    // Always as \x{...}: a digit written plainly could extend a back
    // reference before it ("\1" and "\u0030").
    const QString text = codeEscape(code);
    if (flags.caseless && !flags.unicodeCase && foldsBeyondAscii(code))
        return QStringLiteral("(?-i:") + text + u')';
    return text;
}

QString Translator::run()
{
    QString out;
    out.reserve(n + 16);
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
                // Literal text up to \E, closed here when the pattern ends
                // first, so that the rewrite can be wrapped in a group.
                out += QStringView(p).mid(i, 2);
                i += 2;
                copyUntil(u"\\E");
                if (!out.endsWith(QLatin1String("\\E")))
                    out += QLatin1String("\\E");
            } else if (e == u'Z') {
                // Also under (?m): the end, or before one final line terminator.
                out += flags.unixLines ? EndOfUnixLine : EndOfLine;
                i += 2;
            } else if (e == u'b' || e == u'B') {
                out += e == u'b' ? WordBoundary : NoWordBoundary;
                i += 2;
            } else if (e == u'R') {
                // A line break; unlike the engine's own \R it gives back the
                // LF of a CR LF when the rest of the pattern needs it, but not
                // when repeated (each repetition takes CR LF whole).
                out += quantifierAt(i + 2, flags) ? QStringLiteral("\\R") : LineBreak;
                i += 2;
            } else if ((e == u'z' || e == u'A' || e == u'G') && quantifierAt(i + 2, flags)) {
                // The dialect repeats an anchor as any other item; the engine
                // takes it only in a group.
                out += QStringLiteral("(?:") + QStringView(p).mid(i, 2).toString() + u')';
                i += 2;
            } else if (e >= u'1' && e <= u'9') {
                // A back reference takes further digits only while a group
                // of that number has been opened before it; the rest are
                // literal digits. (The engine would read "\12" after one
                // group as an octal escape.) One to a group the pattern does
                // not have never matches.
                int number = e.unicode() - u'0';
                qsizetype k = i + 2;
                while (k < n && p[k] >= u'0' && p[k] <= u'9') {
                    const int longer = number * 10 + (p[k].unicode() - u'0');
                    if (longer > groupsOpened)
                        break;
                    number = longer;
                    ++k;
                }
                out += number > groups ? QStringLiteral("(?!)") : QStringLiteral("\\g{%1}").arg(number);
                i = k;
            } else if (const std::optional<Atom> a = escape(i, false, flags); a && (a->changed || a->code)) {
                if (a->set)
                    out += single(*a->set);
                else if (a->changed || foldsBeyondAscii(*a->code))
                    out += literal(*a->code, flags);
                else
                    out += QStringView(p).mid(i, a->end - i);
                i = a->end;
            } else if (e == u'c' && i + 2 < n) {
                out += QStringView(p).mid(i, 3);
                i += 3;
            } else {
                out += QStringView(p).mid(i, 2);
                i += 2;
            }
            continue;
        }
        if (c == u'[') {
            const qsizetype start = i;
            const std::optional<ClassResult> cls = parseClass(i, flags);
            if (!cls)
                refuse(QStringView(p).mid(start, std::min<qsizetype>(n - start, 40)),
                    QStringLiteral("this class cannot be matched exactly"));
            // The engine would take a class opening with ":", "." or "=" for
            // a POSIX class or a collating element.
            const qsizetype member = start + 1 < n && p[start + 1] == u'^' ? start + 2 : start + 1;
            const QChar firstMember = member < n ? p[member] : QChar();
            if (cls->changed || firstMember == u':' || firstMember == u'.' || firstMember == u'=')
                out += single(cls->set);
            else
                out += QStringView(p).mid(start, cls->end - start);
            i = cls->end;
            continue;
        }
        if (c == u'(') {
            // Named groups capture too.
            const QStringView rest = QStringView(p).mid(i);
            if (rest.startsWith(u"(?<") && !rest.startsWith(u"(?<=") && !rest.startsWith(u"(?<!"))
                ++groupsOpened;
            if (i + 1 < n && p[i + 1] == u'?') {
                qsizetype k = i + 2;
                while (k < n && isOptionLetter(p[k]))
                    ++k;
                const QStringView options = QStringView(p).mid(i + 2, k - i - 2);
                if (k < n && p[k] == u')' && options.isEmpty()) {
                    i = k + 1; // "(?)": no options at all
                    continue;
                }
                if (k < n && p[k] == u')' && !options.isEmpty()) {
                    // (?s) and the like: for the rest of the enclosing group.
                    const QString engine = applyOptions(flags, options);
                    if (!engine.isEmpty())
                        out += QStringLiteral("(?") + engine + u')';
                    i = k + 1;
                    continue;
                }
                if (k < n && p[k] == u':' && !options.isEmpty()) {
                    // (?s:...): for this group only.
                    outer.push_back(flags);
                    out += QStringLiteral("(?") + applyOptions(flags, options) + u':';
                    i = k + 1;
                    continue;
                }
            } else {
                ++groupsOpened;
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
        if (flags.extended && isAsciiSpace(c)) {
            ++i;
            continue;
        }
        if (flags.extended && c == u'#') {
            // A comment up to the end of the line.
            while (i < n && !isLineTerminator(p[i], flags))
                ++i;
            continue;
        }
        if (c == u'^' && flags.multiLine) {
            out += flags.unixLines ? UnixLineStart : LineStart;
            ++i;
            continue;
        }
        if (c == u'^' && quantifierAt(i + 1, flags)) {
            out += QStringLiteral("(?:^)");
            ++i;
            continue;
        }
        if (c == u'.' && !flags.dotAll) {
            out += flags.unixLines ? AnyButLineFeed : AnyButTerminator;
            ++i;
            continue;
        }
        if (c == u'$') {
            if (flags.multiLine)
                out += flags.unixLines ? UnixLineEnd : LineEnd;
            else
                out += flags.unixLines ? EndOfUnixLine : EndOfLine;
            ++i;
            continue;
        }
        if (c == u'{' && emptyRepeats.contains(i))
            out += QStringLiteral("(?:)");
        qsizetype length = 1;
        const char32_t code = codeAt(i, &length);
        if (flags.caseless && !flags.unicodeCase && foldsBeyondAscii(code))
            out += literal(code, flags);
        else
            out += QStringView(p).mid(i, length);
        i += length;
    }
    return out;
}

} // namespace omvara::config::rewrite
