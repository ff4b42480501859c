// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternSyntax.h"

#include "omvara/config/PatternSyntaxReader.h"

#include <algorithm>

namespace omvara::config {

namespace syntax {

namespace {

struct Refused
{
    PatternSyntax::Problem problem;
};

bool isAsciiSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == 0x0B || c == '\f' || c == '\r';
}

} // namespace

void Reader::run()
{
    expr(0);
    if (cursor != length) {
        if (peek() == ')')
            fail(cursor, cursor + 1, QStringLiteral("this \")\" closes no group"));
        fail(cursor, cursor + 1, QStringLiteral("unexpected text"));
    }
}

void Reader::append(char32_t c, qsizetype from)
{
    t.push_back(c);
    origin.push_back(from);
}

void Reader::removeQuoting()
{
    const qsizetype n = p.size();
    bool quoted = false;
    bool beginQuote = false;
    for (qsizetype i = 0; i < n;) {
        const qsizetype from = i;
        char32_t c = p[i].unicode();
        if (p[i].isHighSurrogate() && i + 1 < n && p[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(p[i], p[i + 1]);
            i += 2;
        } else {
            ++i;
        }
        if (!quoted) {
            if (c == '\\' && i < n && p[i] == u'Q') {
                quoted = true;
                beginQuote = true;
                ++i;
                continue;
            }
            append(c, from);
            if (c == '\\' && i < n) {
                // The escaped character, whatever it is.
                const qsizetype second = i;
                char32_t e = p[i].unicode();
                if (p[i].isHighSurrogate() && i + 1 < n && p[i + 1].isLowSurrogate()) {
                    e = QChar::surrogateToUcs4(p[i], p[i + 1]);
                    i += 2;
                } else {
                    ++i;
                }
                append(e, second);
            }
            continue;
        }
        if (c == '\\' && i < n && p[i] == u'E') {
            quoted = false;
            ++i;
            continue;
        }
        // A quoted character: letters and non-ASCII as they are, the rest escaped.
        if (c >= 0x80 || isAsciiAlpha(c)) {
            append(c, from);
        } else if (isDigit(c)) {
            if (beginQuote) {
                // Not to extend an escape before the quote.
                append('\\', from);
                append('x', from);
                append('3', from);
            }
            append(c, from);
        } else {
            append('\\', from);
            append(c, from);
        }
        beginQuote = false;
    }
    length = qsizetype(t.size());
    append(0, n);
    append(0, n);
}

void Reader::fail(qsizetype from, qsizetype to, const QString &reason) const
{
    const auto position
        = [&](qsizetype i) { return i >= 0 && i < qsizetype(origin.size()) ? origin[size_t(i)] : p.size(); };
    qsizetype a = position(std::min(from, length));
    qsizetype b = to > length ? p.size() : position(to);
    if (b <= a)
        b = std::min(p.size(), a + 1);
    if (a >= p.size() && !p.isEmpty()) {
        a = p.size() - 1;
        b = p.size();
    }
    throw Refused { { p.mid(a, b - a), reason } };
}

// ---------------------------------------------------------- cursor

bool Reader::isLineSeparator(char32_t c) const
{
    if (has(UnixLines))
        return c == '\n';
    return c == '\n' || c == '\r' || (c | 1) == 0x2029 || c == 0x85;
}

char32_t Reader::peekPastWhitespace(char32_t c)
{
    while (isAsciiSpace(c) || c == '#') {
        while (isAsciiSpace(c))
            c = at(++cursor);
        if (c == '#') {
            c = at(++cursor);
            while (c != 0 && !isLineSeparator(c))
                c = at(++cursor);
            if (c == 0 && cursor > length) {
                cursor = length;
                c = at(cursor);
            }
        }
    }
    return c;
}

char32_t Reader::parsePastWhitespace(char32_t c)
{
    while (isAsciiSpace(c) || c == '#') {
        while (isAsciiSpace(c))
            c = at(cursor++);
        if (c == '#') {
            c = at(cursor++);
            while (c != 0 && !isLineSeparator(c))
                c = at(cursor++);
            if (c == 0 && cursor > length) {
                cursor = length;
                c = at(cursor++);
            }
        }
    }
    return c;
}

char32_t Reader::peek()
{
    char32_t c = at(cursor);
    if (has(Comments))
        c = peekPastWhitespace(c);
    return c;
}

char32_t Reader::read()
{
    char32_t c = at(cursor++);
    if (has(Comments))
        c = parsePastWhitespace(c);
    return c;
}

char32_t Reader::next()
{
    char32_t c = at(++cursor);
    if (has(Comments))
        c = peekPastWhitespace(c);
    return c;
}

char32_t Reader::skip()
{
    const char32_t c = at(cursor + 1);
    cursor += 2;
    return c;
}

// ---------------------------------------------------------- grammar

void Reader::expr(int depth)
{
    if (depth > MaxDepth)
        fail(cursor, cursor + 1, QStringLiteral("groups and classes are nested too deeply"));
    for (;;) {
        sequence(depth);
        if (peek() != '|')
            return;
        next();
    }
}

void Reader::sequence(int depth)
{
    for (;;) {
        char32_t c = peek();
        const qsizetype start = cursor;
        switch (c) {
        case '(':
            group(depth);
            continue;
        case '[':
            characterClass(true, depth);
            break;
        case '\\':
            c = nextEscaped();
            if (c == 'p' || c == 'P') {
                property(start);
            } else {
                unread();
                atom();
            }
            break;
        case '^':
        case '$':
        case '.':
            next();
            break;
        case '|':
        case ')':
            return;
        case '?':
        case '*':
        case '+':
            next();
            fail(start, start + 1, QStringLiteral("there is nothing before it to repeat"));
        case 0:
            if (cursor >= length)
                return;
            atom();
            break;
        default:
            atom();
            break;
        }
        closure();
    }
}

void Reader::atom()
{
    int first = 0;
    qsizetype prev = -1;
    char32_t c = peek();
    for (;;) {
        switch (c) {
        case '*':
        case '+':
        case '?':
        case '{':
            if (first > 1) {
                cursor = prev;
                --first;
            }
            break;
        case '$':
        case '.':
        case '^':
        case '(':
        case '[':
        case '|':
        case ')':
            break;
        case '\\': {
            const qsizetype start = cursor;
            c = nextEscaped();
            if (c == 'p' || c == 'P') {
                if (first > 0) {
                    unread();
                    break;
                }
                c = next();
                bool oneLetter = true;
                if (c != '{')
                    unread();
                else
                    oneLetter = false;
                family(oneLetter, start);
                return;
            }
            unread();
            prev = cursor;
            const int code = escape(false, first == 0, false);
            if (code >= 0) {
                ++first;
                c = peek();
                continue;
            }
            if (first == 0)
                return;
            cursor = prev;
            break;
        }
        case 0:
            if (cursor >= length)
                break;
            [[fallthrough]];
        default:
            prev = cursor;
            ++first;
            c = next();
            continue;
        }
        break;
    }
    if (first == 0 && at(cursor) == '{' && cursor < length)
        emptyRepeats.append(origin[size_t(cursor)]);
}

void Reader::closure()
{
    char32_t c = peek();
    switch (c) {
    case '?':
    case '*':
    case '+':
        c = next();
        if (c == '?' || c == '+')
            next();
        return;
    case '{': {
        const qsizetype start = cursor;
        c = at(cursor + 1);
        if (!isDigit(c))
            fail(start, start + 1 + countTextLength(start),
                QStringLiteral("\"{\" here must open a count such as {2} or {1,3} (write \\{ for the "
                               "character itself)"));
        const bool blanks = has(Comments) && countHasLayout(start);
        skip();
        qint64 min = 0;
        do {
            min = min * 10 + (c - '0');
            if (min > 0x7FFFFFFF)
                fail(start, cursor, QStringLiteral("the count is too large"));
        } while (isDigit(c = read()));
        qint64 max = min;
        if (c == ',') {
            c = read();
            max = 0x7FFFFFFF;
            if (c != '}') {
                max = 0;
                while (isDigit(c)) {
                    max = max * 10 + (c - '0');
                    if (max > 0x7FFFFFFF)
                        fail(start, cursor, QStringLiteral("the count is too large"));
                    c = read();
                }
            }
        }
        if (c != '}')
            fail(start, start + 1 + countTextLength(start),
                QStringLiteral(
                    "the count is not closed with \"}\" (it may hold only digits and one comma, no "
                    "blanks)"));
        if (max < min)
            fail(start, cursor, QStringLiteral("the largest count is smaller than the smallest"));
        if (blanks)
            fail(start, cursor, QStringLiteral("blanks or comments inside a count are not supported"));
        c = peek();
        if (c == '?' || c == '+')
            next();
        return;
    }
    default:
        return;
    }
}

// How much of the text after the "{" at `start` reads like an attempted count.
qsizetype Reader::countTextLength(qsizetype start) const
{
    qsizetype k = start + 1;
    while (k < length && k - start < 12 && (isDigit(at(k)) || at(k) == ',' || at(k) == ' '))
        ++k;
    return at(k) == '}' ? k - start : k - start - 1;
}

bool Reader::countHasLayout(qsizetype start) const
{
    for (qsizetype k = start + 1; k < length && at(k) != '}'; ++k)
        if (isAsciiSpace(at(k)) || at(k) == '#')
            return true;
    return false;
}

void Reader::group(int depth)
{
    const qsizetype start = cursor;
    const int save = flags;
    char32_t c = next();
    if (c == '?') {
        c = skip();
        switch (c) {
        case ':':
        case '=':
        case '!':
        case '>':
            expr(depth + 1);
            break;
        case '<': {
            c = read();
            if (c != '=' && c != '!') {
                const QString name = groupName(c, start);
                if (names.contains(name))
                    fail(start, cursor, QStringLiteral("a group named \"%1\" is already defined").arg(name));
                ++groups;
                names.insert(name);
            }
            expr(depth + 1);
            break;
        }
        case '$':
        case '@':
            fail(start, cursor, QStringLiteral("this kind of group is not known"));
        default: {
            unread();
            addFlags();
            c = read();
            if (c == ')')
                return; // options only, for the rest of the enclosing group
            if (c != ':')
                fail(start, cursor,
                    QStringLiteral(
                        "this kind of group is not known (options are the letters i, d, m, s, u and x; "
                        "a named group is written (?<name>...))"));
            expr(depth + 1);
            break;
        }
        }
    } else {
        ++groups;
        expr(depth + 1);
    }
    char32_t close = at(cursor++);
    if (has(Comments))
        close = parsePastWhitespace(close);
    if (close != ')')
        fail(start, length, QStringLiteral("the group is not closed with \")\""));
    flags = save;
    closure();
}

QString Reader::groupName(char32_t c, qsizetype start)
{
    QString name;
    if (!isAsciiAlpha(c))
        fail(start, cursor, QStringLiteral("a group name must begin with a letter A-Z or a-z"));
    do {
        name += QChar(char16_t(c));
    } while (isAsciiAlpha(c = read()) || isDigit(c));
    if (c != '>')
        fail(start, cursor,
            QStringLiteral("a group name may hold only the letters A-Z and a-z and digits, "
                           "and ends with \">\""));
    return name;
}

void Reader::addFlags()
{
    char32_t c = peek();
    bool on = true;
    for (;;) {
        switch (c) {
        case 'i':
        case 'm':
        case 's':
        case 'u':
        case 'c':
        case 'U':
            break;
        case 'd':
            flags = on ? flags | UnixLines : flags & ~UnixLines;
            break;
        case 'x':
            flags = on ? flags | Comments : flags & ~Comments;
            break;
        case '-':
            if (!on)
                return;
            on = false;
            break;
        default:
            return;
        }
        c = next();
    }
}

} // namespace syntax

std::optional<PatternSyntax::Problem> PatternSyntax::check(const QString &pattern, Reading *reading)
{
    try {
        syntax::Reader reader(pattern);
        reader.run();
        if (reading)
            *reading = { reader.groupCount(), reader.emptyRepeatPositions() };
    } catch (const syntax::Refused &r) {
        return r.problem;
    }
    return std::nullopt;
}

} // namespace omvara::config
