// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternSyntaxReader.h"

#include "omvara/util/HexDigit.h"

#include <algorithm>

namespace omvara::config::syntax {

namespace {

bool isHex(char32_t c)
{
    return util::hexDigitValue(c) >= 0;
}

} // namespace

// The escape whose backslash is at the cursor: the character it stands
// for, or -1 for a class, an anchor or a back reference.
int Reader::escape(bool inClass, bool create, bool isRange)
{
    const qsizetype start = cursor;
    const char32_t c = skip();
    const auto unknown = [&]() -> int {
        fail(start, start + 2,
            inClass ? QStringLiteral("this escape is not known inside a class")
                    : QStringLiteral("this escape is not known"));
    };
    switch (c) {
    case '0':
        return octal(start);
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        if (inClass)
            fail(start, start + 2, QStringLiteral("a back reference cannot stand in a class"));
        if (create)
            reference();
        return -1;
    case 'A':
    case 'G':
    case 'R':
    case 'X':
    case 'Z':
    case 'z':
    case 'B':
        if (inClass)
            unknown();
        return -1;
    case 'D':
    case 'H':
    case 'S':
    case 'V':
    case 'W':
    case 'd':
    case 'h':
    case 's':
    case 'w':
        return -1;
    case 'N':
        fail(start, start + 2, QStringLiteral("characters by name are not supported (write \\uXXXX)"));
    case 'a':
        return 0x07;
    case 'b':
        if (inClass)
            fail(start, start + 2,
                QStringLiteral("\\b (a word boundary) cannot stand in a class; a backspace "
                               "is written \\x08"));
        if (create && peek() == '{') {
            const qsizetype braces = cursor;
            if (skip() == 'g') {
                if (read() == '}')
                    fail(start, cursor, QStringLiteral("grapheme boundaries are not supported"));
                unknown();
            }
            cursor = braces;
        }
        return -1;
    case 'c':
        if (cursor < length)
            return int(read() ^ 64);
        fail(start, cursor, QStringLiteral("\\c needs a character after it"));
    case 'e':
        return 0x1B;
    case 'f':
        return '\f';
    case 'k': {
        if (inClass)
            unknown();
        if (read() != '<')
            fail(start, cursor, QStringLiteral("\\k must be followed by <name>"));
        const QString name = groupName(read(), start);
        if (!names.contains(name))
            fail(start, cursor, QStringLiteral("no group named \"%1\" is defined before it").arg(name));
        return -1;
    }
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    case 'u':
        return unicode(start);
    case 'v':
        return isRange ? 0x0B : -1;
    case 'x':
        return hexadecimal(start);
    default:
        break;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        unknown();
    return int(c);
}

int Reader::octal(qsizetype start)
{
    const char32_t n = read();
    if (n >= '0' && n <= '7') {
        const char32_t m = read();
        if (m >= '0' && m <= '7') {
            const char32_t o = read();
            if (o >= '0' && o <= '7' && n <= '3')
                return int((n - '0') * 64 + (m - '0') * 8 + (o - '0'));
            unread();
            return int((n - '0') * 8 + (m - '0'));
        }
        unread();
        return int(n - '0');
    }
    fail(start, start + 2, QStringLiteral("\\0 must be followed by an octal digit (a NUL is written \\00)"));
}

int Reader::hexadecimal(qsizetype start)
{
    char32_t n = read();
    if (isHex(n)) {
        const char32_t m = read();
        if (isHex(m))
            return util::hexDigitValue(n) * 16 + util::hexDigitValue(m);
    } else if (n == '{' && isHex(peek())) {
        qint64 code = 0;
        while (isHex(n = read())) {
            code = code * 16 + util::hexDigitValue(n);
            if (code > 0x10FFFF)
                fail(start, cursor, QStringLiteral("the code point is too large"));
        }
        if (n != '}')
            fail(start, cursor, QStringLiteral("\\x{ is not closed with \"}\""));
        return int(code);
    }
    fail(start, std::max(start + 2, cursor - 1),
        QStringLiteral("\\x must be followed by two hexadecimal digits or {...}"));
}

int Reader::unicode(qsizetype start)
{
    const auto four = [&]() {
        int v = 0;
        for (int k = 0; k < 4; ++k) {
            const char32_t h = read();
            if (!isHex(h))
                fail(start, std::max(start + 2, cursor - 1),
                    QStringLiteral("\\u must be followed by four hexadecimal digits"));
            v = v * 16 + util::hexDigitValue(h);
        }
        return v;
    };
    const int first = four();
    if (QChar::isHighSurrogate(char32_t(first))) {
        const qsizetype here = cursor;
        if (read() == '\\' && read() == 'u') {
            const int second = four();
            if (QChar::isLowSurrogate(char32_t(second)))
                return int(QChar::surrogateToUcs4(char16_t(first), char16_t(second)));
        }
        cursor = here;
    }
    return first;
}

// A back reference takes further digits while a group of that number has been opened.
void Reader::reference()
{
    int number = int(at(cursor - 1) - '0');
    for (;;) {
        const char32_t c = peek();
        if (!isDigit(c))
            return;
        const int longer = number * 10 + int(c - '0');
        if (groups < longer)
            return;
        number = longer;
        read();
    }
}

} // namespace omvara::config::syntax
