// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternTranslator.h"

#include "omvara/config/PatternRefusal.h"
#include "omvara/util/HexDigit.h"

#include <algorithm>
#include <vector>

namespace omvara::config::rewrite {

namespace {

bool isOctal(QChar c)
{
    return c >= u'0' && c <= u'7';
}

bool rangeFoldsBeyondAscii(char32_t first, char32_t last)
{
    // Letters with case end below U+1F000.
    for (char32_t c = std::max<char32_t>(first, 0x80); c <= std::min<char32_t>(last, 0x1EFFF); ++c)
        if (foldsBeyondAscii(c))
            return true;
    return false;
}

} // namespace

char32_t Translator::codeAt(qsizetype i, qsizetype *length) const
{
    if (p[i].isHighSurrogate() && i + 1 < n && p[i + 1].isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(p[i], p[i + 1]);
    }
    *length = 1;
    return p[i].unicode();
}

Translator::Atom Translator::escapedCode(qsizetype end, char32_t code, bool changed)
{
    Atom a;
    a.code = code;
    a.end = end;
    a.changed = changed;
    return a;
}

// The named class at `i` ("\p{...}", "\P{...}", "\pL"); `end` gets the index
// after it. Names the engine reads the same way come back as written.
Named Translator::lookup(qsizetype i, qsizetype *end) const
{
    const bool negated = p[i + 1] == u'P';
    QStringView name;
    if (i + 2 < n && p[i + 2] == u'{') {
        const qsizetype close = p.indexOf(u'}', i + 3);
        if (close < 0) {
            *end = n;
            refuse(QStringView(p).mid(i), QStringLiteral("the property name is not closed with \"}\""));
        }
        name = QStringView(p).mid(i + 3, close - i - 3);
        *end = close + 1;
    } else {
        name = QStringView(p).mid(i + 2, 1);
        *end = i + 3;
    }
    const QStringView written = QStringView(p).mid(i, *end - i);
    if (auto found = namedClass(name, written)) {
        if (negated)
            std::swap(found->positive, found->negative);
        return *found;
    }
    const CharSet asWritten = CharSet::of(written.toString());
    return { asWritten, asWritten };
}

// Reads the escape at `i` (a backslash). Nothing when stored patterns know
// no such escape here (the engine's own reading then applies).
std::optional<Translator::Atom> Translator::escape(qsizetype i, bool inClass, const Flags &flags) const
{
    if (i + 1 >= n)
        return std::nullopt;
    const QChar e = p[i + 1];
    const auto simple = [&](char32_t code) { return escapedCode(i + 2, code, false); };
    switch (e.unicode()) {
    case u't':
        return simple(u'\t');
    case u'n':
        return simple(u'\n');
    case u'r':
        return simple(u'\r');
    case u'f':
        return simple(u'\f');
    case u'a':
        return simple(0x07);
    case u'e':
        return simple(0x1B);
    case u'x': {
        if (i + 2 < n && p[i + 2] == u'{') {
            const qsizetype close = p.indexOf(u'}', i + 3);
            if (close < 0 || close == i + 3 || close - i - 3 > 8)
                return std::nullopt;
            char32_t code = 0;
            for (qsizetype k = i + 3; k < close; ++k) {
                const int h = util::hexDigitValue(p[k]);
                if (h < 0)
                    return std::nullopt;
                code = code * 16 + char32_t(h);
            }
            if (code > MaxCode)
                return std::nullopt;
            return escapedCode(close + 1, code, false);
        }
        if (i + 3 < n && util::hexDigitValue(p[i + 2]) >= 0 && util::hexDigitValue(p[i + 3]) >= 0)
            return escapedCode(
                i + 4, char32_t(util::hexDigitValue(p[i + 2]) * 16 + util::hexDigitValue(p[i + 3])), false);
        return std::nullopt;
    }
    case u'u': {
        // \uXXXX, and a surrogate pair written as two of them.
        const auto four = [&](qsizetype at) -> std::optional<char32_t> {
            if (at + 6 > n || p[at] != u'\\' || p[at + 1] != u'u')
                return std::nullopt;
            char32_t v = 0;
            for (qsizetype k = at + 2; k < at + 6; ++k) {
                const int h = util::hexDigitValue(p[k]);
                if (h < 0)
                    return std::nullopt;
                v = v * 16 + char32_t(h);
            }
            return v;
        };
        const std::optional<char32_t> first = four(i);
        if (!first)
            return std::nullopt;
        if (QChar::isHighSurrogate(*first)) {
            if (const std::optional<char32_t> second = four(i + 6); second && QChar::isLowSurrogate(*second))
                return escapedCode(i + 12, QChar::surrogateToUcs4(char16_t(*first), char16_t(*second)), true);
        }
        if (QChar::isSurrogate(*first))
            refuse(
                QStringView(p).mid(i, 6), QStringLiteral("a lone surrogate never occurs in received text"));
        return escapedCode(i + 6, *first, true);
    }
    case u'0': {
        // \0n, \0nn, \0mnn (m up to 3): octal. A \0 without digits is the
        // engine's NUL (stored patterns refuse it).
        qsizetype k = i + 2;
        if (k >= n || !isOctal(p[k]))
            return std::nullopt;
        char32_t v = p[k++].unicode() - u'0';
        if (k < n && isOctal(p[k])) {
            v = v * 8 + (p[k++].unicode() - u'0');
            if (k < n && isOctal(p[k]) && p[i + 2] <= u'3')
                v = v * 8 + (p[k++].unicode() - u'0');
        }
        return escapedCode(k, v, true);
    }
    case u'c':
        // Control character: the next character with bit 6 flipped (no
        // upper-casing first, unlike the engine's own \c).
        if (i + 2 >= n)
            return std::nullopt;
        if (QStringView(p).mid(i + 2).startsWith(u"\\Q"))
            refuse(QStringView(p).mid(i, 4),
                QStringLiteral("\\c before a quotation takes its backslash; write the "
                               "control character as \\xhh"));
        {
            qsizetype length = 1;
            const char32_t c = codeAt(i + 2, &length);
            // After a printable ASCII character other than a lower-case letter
            // (and the backslash) both readings agree, and the escape stays as
            // written: "\c]" inside a class must keep its "]" where the engine
            // looks for the end of a POSIX "[." or "[:" before it.
            const bool same = c >= 0x20 && c <= 0x7E && !(c >= u'a' && c <= u'z') && c != u'\\';
            return escapedCode(i + 2 + length, c ^ 0x40, !same);
        }
    case u'd':
    case u'D':
    case u's':
    case u'S':
    case u'w':
    case u'W':
    case u'h':
    case u'H':
    case u'v':
    case u'V': {
        Atom a;
        a.set = CharSet::of(QStringView(p).mid(i, 2).toString());
        a.end = i + 2;
        return a;
    }
    case u'p':
    case u'P': {
        if (i + 2 >= n)
            return std::nullopt;
        Atom a;
        const Named named = lookup(i, &a.end);
        if (named.caseSensitiveOnly && flags.caseless)
            refuse(QStringView(p).mid(i, a.end - i),
                QStringLiteral("case-insensitive matching of this class is not supported"));
        a.set = named.positive;
        a.changed = named.positive.members != QStringView(p).mid(i, a.end - i);
        return a;
    }
    default:
        break;
    }
    if (inClass) {
        // Any other escaped character that is not a letter or digit stands for itself.
        if (!e.isLetterOrNumber()) {
            qsizetype length = 1;
            const char32_t c = codeAt(i + 1, &length);
            return escapedCode(i + 1 + length, c, false);
        }
    }
    return std::nullopt;
}

// Skips blanks and comments where the flag x makes stored patterns skip
// them: also inside classes (the engine keeps them there).
qsizetype Translator::skipLayout(qsizetype i, const Flags &flags, bool *skipped) const
{
    if (!flags.extended)
        return i;
    while (i < n) {
        if (isAsciiSpace(p[i])) {
            ++i;
            *skipped = true;
        } else if (p[i] == u'#') {
            while (i < n && p[i] != u'\n' && p[i] != u'\r' && p[i] != QChar(0x85) && p[i] != QChar(0x2028)
                && p[i] != QChar(0x2029))
                ++i;
            *skipped = true;
        } else {
            break;
        }
    }
    return i;
}

// A class at `i` read as stored patterns read it: nested classes are unions,
// "&&" intersects, "^" negates the whole. Nothing when such a reading fails
// (stored patterns would refuse the pattern; the engine's reading applies).
// Refuses what has no exact equivalent.
std::optional<Translator::ClassResult> Translator::parseClass(qsizetype i, const Flags &flags) const
{
    ClassResult result;
    const qsizetype start = i;
    ++i;
    bool negated = false;
    if (i < n && p[i] == u'^') {
        negated = true;
        ++i;
    }
    std::vector<CharSet> operands;
    std::vector<CharSet> items;
    bool quoted = false;
    bool operandStartsNested = false; // this right side of "&&" began with a nested class
    bool bareAfterNested = false;
    const auto addCode = [&](char32_t first, char32_t last) {
        if (flags.caseless && !flags.unicodeCase && rangeFoldsBeyondAscii(first, last))
            refuse(QStringView(p).mid(start, std::min<qsizetype>(i, n) - start + 1),
                QStringLiteral(
                    "case-insensitive matching of letters beyond ASCII in a class is not supported "
                    "(add the flag u)"));
        items.push_back(CharSet::ofRanges({ { first, last } }));
    };
    for (;;) {
        if (!quoted) {
            bool skipped = false;
            i = skipLayout(i, flags, &skipped);
            result.changed |= skipped;
        }
        if (i >= n)
            return std::nullopt;
        if (quoted) {
            if (p[i] == u'\\' && i + 1 < n && p[i + 1] == u'E') {
                quoted = false;
                i += 2;
                continue;
            }
            qsizetype length = 1;
            const char32_t c = codeAt(i, &length);
            i += length;
            if (!operands.empty() && operandStartsNested)
                bareAfterNested = true;
            addCode(c, c);
            continue;
        }
        const QChar c = p[i];
        if (c == u'\\' && i + 1 < n && p[i + 1] == u'Q') {
            quoted = true;
            i += 2;
            continue;
        }
        if (c == u'[') {
            // Always a nested class, also "[:digit:]" (the characters ":",
            // "d", "i", "g" and "t"): the engine's POSIX classes do not exist here.
            const std::optional<ClassResult> nested = parseClass(i, flags);
            if (!nested)
                return std::nullopt;
            if (!operands.empty() && items.empty())
                operandStartsNested = true;
            items.push_back(nested->set);
            i = nested->end;
            result.changed = true;
            continue;
        }
        if (c == u'&' && i + 1 < n && p[i + 1] == u'&') {
            const QStringView construct = QStringView(p).mid(start, std::min<qsizetype>(i + 2, n) - start);
            if (bareAfterNested)
                refuse(construct,
                    QStringLiteral("a nested class followed by other members after \"&&\" is "
                                   "read differently by different engines"));
            // An empty side ("[&&a]", "[a&&]") leaves the other side as it is.
            if (!items.empty())
                operands.push_back(unite(items));
            items.clear();
            operandStartsNested = false;
            bareAfterNested = false;
            i += 2;
            result.changed = true;
            continue;
        }
        if (c == u']' && (!items.empty() || !operands.empty())) {
            if (bareAfterNested)
                refuse(QStringView(p).mid(start, i + 1 - start),
                    QStringLiteral(
                        "a nested class followed by other members after \"&&\" is read differently "
                        "by different engines"));
            if (!items.empty())
                operands.push_back(unite(items));
            result.set = intersect(operands);
            if (negated)
                result.set = negate(result.set);
            result.end = i + 1;
            return result;
        }
        // A single member, a class escape, or a range.
        if (!operands.empty() && operandStartsNested)
            bareAfterNested = true;
        std::optional<char32_t> first;
        if (c == u'\\') {
            const std::optional<Atom> a = escape(i, true, flags);
            if (!a)
                return std::nullopt;
            result.changed |= a->changed;
            const qsizetype escapeAt = i;
            i = a->end;
            // "\v" next to a "-" is the character VT (U+000B), as it was
            // before "\v" meant vertical space: "[\v-\r]", "[\v-]".
            const bool verticalTab
                = a->end == escapeAt + 2 && p[escapeAt + 1] == u'v' && i < n && p[i] == u'-';
            if (a->set && !verticalTab) {
                items.push_back(*a->set);
                // "[\d-z]": the "-" is a member; the engine would refuse the text as a range.
                if (i < n && p[i] == u'-')
                    result.changed = true;
                continue;
            }
            first = verticalTab ? char32_t(0x0B) : *a->code;
            result.changed |= verticalTab;
        } else {
            qsizetype length = 1;
            first = codeAt(i, &length);
            i += length;
        }
        // A range: "-" followed by a member (not by "]" or "[").
        bool skipped = false;
        const qsizetype dash = skipLayout(i, flags, &skipped);
        if (dash + 1 < n && p[dash] == u'-' && p[dash + 1] != u']' && p[dash + 1] != u'[') {
            qsizetype k = skipLayout(dash + 1, flags, &skipped);
            if (k >= n)
                return std::nullopt;
            std::optional<char32_t> last;
            if (p[k] == u'\\') {
                const std::optional<Atom> a = escape(k, true, flags);
                const bool verticalTab = a && a->end == k + 2 && p[k + 1] == u'v';
                if (!a || (!a->code && !verticalTab))
                    return std::nullopt;
                result.changed |= a->changed || verticalTab;
                last = verticalTab ? char32_t(0x0B) : *a->code;
                k = a->end;
            } else {
                qsizetype length = 1;
                last = codeAt(k, &length);
                k += length;
            }
            if (*last < *first)
                return std::nullopt;
            result.changed |= skipped;
            i = k;
            addCode(*first, *last);
            continue;
        }
        addCode(*first, *first);
    }
}

} // namespace omvara::config::rewrite
