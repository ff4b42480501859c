// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternSyntax.h"

#include "omvara/config/UnicodeBlocks.h"

#include <QSet>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace omvara::config {

namespace {

struct Refused
{
    PatternSyntax::Problem problem;
};

constexpr int Comments = 1; // (?x)
constexpr int UnixLines = 2; // (?d)
constexpr int MaxDepth = 400; // groups and classes inside each other

bool isAsciiSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == 0x0B || c == '\f' || c == '\r';
}

bool isDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}
bool isAsciiAlpha(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isHex(char32_t c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexDigit(char32_t c)
{
    return isDigit(c) ? int(c - '0') : int((c | 0x20) - 'a' + 10);
}

// The named classes of the dialect: general categories, the POSIX-like
// names (ASCII only) and the character tests.
bool isPropertyName(const QString &name)
{
    static const QSet<QString> names = [] {
        QSet<QString> s;
        for (const char *n : { "Cn", "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Me", "Mc", "Nd", "Nl", "No", "Zs",
                 "Zl", "Zp", "Cc", "Cf", "Co", "Cs", "Pd", "Ps", "Pe", "Pc", "Po", "Sm", "Sc", "Sk", "So",
                 "Pi", "Pf", "L", "M", "N", "Z", "C", "P", "S", "LC", "LD", "L1", "all", "ASCII", "Alnum",
                 "Alpha", "Blank", "Cntrl", "Digit", "Graph", "Lower", "Print", "Punct", "Space", "Upper",
                 "XDigit", "javaLowerCase", "javaUpperCase", "javaAlphabetic", "javaIdeographic",
                 "javaTitleCase", "javaDigit", "javaDefined", "javaLetter", "javaLetterOrDigit",
                 "javaJavaIdentifierStart", "javaJavaIdentifierPart", "javaUnicodeIdentifierStart",
                 "javaUnicodeIdentifierPart", "javaIdentifierIgnorable", "javaSpaceChar", "javaWhitespace",
                 "javaISOControl", "javaMirrored" })
            s.insert(QString::fromLatin1(n));
        return s;
    }();
    return names.contains(name);
}

// Binary properties written \p{IsAlphabetic} (any case).
bool isBinaryProperty(const QString &name)
{
    static const QStringList names
        = { "ALPHABETIC", "ASSIGNED", "CONTROL", "HEXDIGIT", "HEX_DIGIT", "IDEOGRAPHIC", "JOINCONTROL",
              "JOIN_CONTROL", "LETTER", "LOWERCASE", "NONCHARACTERCODEPOINT", "NONCHARACTER_CODE_POINT",
              "TITLECASE", "PUNCTUATION", "UPPERCASE", "WHITESPACE", "WHITE_SPACE", "WORD",
              // Not supported by the rewrite, but names of the dialect (refused there with their reason).
              "EMOJI", "EMOJI_PRESENTATION", "EMOJIPRESENTATION", "EMOJI_MODIFIER", "EMOJIMODIFIER",
              "EMOJI_MODIFIER_BASE", "EMOJIMODIFIERBASE", "EMOJI_COMPONENT", "EMOJICOMPONENT",
              "EXTENDED_PICTOGRAPHIC", "EXTENDEDPICTOGRAPHIC" };
    return names.contains(name.toUpper());
}

// A script name: the engine checks the name itself.
bool looksLikeScript(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (QChar c : name)
        if (!(isAsciiAlpha(c.unicode()) || c == u'_' || c == u' '))
            return false;
    return true;
}

class Reader
{
public:
    explicit Reader(const QString &pattern)
        : p(pattern)
    {
        removeQuoting();
    }

    int groupCount() const { return groups; }
    const QList<qsizetype> &emptyRepeatPositions() const { return emptyRepeats; }

    void run()
    {
        expr(0);
        if (cursor != length) {
            if (peek() == ')')
                fail(cursor, cursor + 1, QStringLiteral("this \")\" closes no group"));
            fail(cursor, cursor + 1, QStringLiteral("unexpected text"));
        }
    }

private:
    // The pattern as code points, "\Q...\E" already turned into escaped
    // characters, with two NULs at the end (the dialect's sentinel); `origin`
    // gives each one's position in the pattern as written.
    std::vector<char32_t> t;
    std::vector<qsizetype> origin;
    qsizetype length = 0;
    qsizetype cursor = 0;
    int flags = 0;
    int groups = 0;
    QSet<QString> names;
    QList<qsizetype> emptyRepeats;
    const QString &p;

    char32_t at(qsizetype i) const { return i >= 0 && i < qsizetype(t.size()) ? t[size_t(i)] : 0; }
    bool has(int f) const { return (flags & f) != 0; }

    void append(char32_t c, qsizetype from)
    {
        t.push_back(c);
        origin.push_back(from);
    }

    void removeQuoting()
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

    [[noreturn]] void fail(qsizetype from, qsizetype to, const QString &reason) const
    {
        const auto position = [&](qsizetype i) {
            return i >= 0 && i < qsizetype(origin.size()) ? origin[size_t(i)] : p.size();
        };
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

    bool isLineSeparator(char32_t c) const
    {
        if (has(UnixLines))
            return c == '\n';
        return c == '\n' || c == '\r' || (c | 1) == 0x2029 || c == 0x85;
    }

    char32_t peekPastWhitespace(char32_t c)
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

    char32_t parsePastWhitespace(char32_t c)
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

    char32_t peek()
    {
        char32_t c = at(cursor);
        if (has(Comments))
            c = peekPastWhitespace(c);
        return c;
    }

    char32_t read()
    {
        char32_t c = at(cursor++);
        if (has(Comments))
            c = parsePastWhitespace(c);
        return c;
    }

    char32_t next()
    {
        char32_t c = at(++cursor);
        if (has(Comments))
            c = peekPastWhitespace(c);
        return c;
    }

    char32_t nextEscaped() { return at(++cursor); }

    char32_t skip()
    {
        const char32_t c = at(cursor + 1);
        cursor += 2;
        return c;
    }

    void unread() { --cursor; }

    // ---------------------------------------------------------- grammar

    void expr(int depth)
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

    void sequence(int depth)
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

    void atom()
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

    void closure()
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
    qsizetype countTextLength(qsizetype start) const
    {
        qsizetype k = start + 1;
        while (k < length && k - start < 12 && (isDigit(at(k)) || at(k) == ',' || at(k) == ' '))
            ++k;
        return at(k) == '}' ? k - start : k - start - 1;
    }

    bool countHasLayout(qsizetype start) const
    {
        for (qsizetype k = start + 1; k < length && at(k) != '}'; ++k)
            if (isAsciiSpace(at(k)) || at(k) == '#')
                return true;
        return false;
    }

    void group(int depth)
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
                        fail(start, cursor,
                            QStringLiteral("a group named \"%1\" is already defined").arg(name));
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

    QString groupName(char32_t c, qsizetype start)
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

    void addFlags()
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

    void characterClass(bool consume, int depth)
    {
        if (depth > MaxDepth)
            fail(cursor, cursor + 1, QStringLiteral("groups and classes are nested too deeply"));
        const qsizetype start = cursor;
        bool members = false;
        bool bits = false;
        char32_t c = next();
        if (c == '^' && at(cursor - 1) == '[')
            c = next();
        for (;;) {
            switch (c) {
            case '[':
                characterClass(true, depth + 1);
                members = true;
                c = peek();
                continue;
            case '&':
                c = next();
                if (c == '&') {
                    c = next();
                    bool right = false;
                    while (c != ']' && c != '&') {
                        if (c == '[') {
                            characterClass(true, depth + 1);
                        } else {
                            unread();
                            characterClass(false, depth + 1);
                        }
                        right = true;
                        c = peek();
                    }
                    if (bits) {
                        members = true;
                        bits = false;
                    }
                    if (!members && !right)
                        fail(start, cursor + 1, QStringLiteral("\"&&\" needs a class on both sides"));
                    members = true;
                } else {
                    unread();
                    break;
                }
                continue;
            case 0:
                if (cursor >= length)
                    fail(start, length,
                        has(Comments)
                            ? QStringLiteral("the class is not closed with \"]\" (under (?x) a \"#\" starts "
                                             "a comment, also inside a class: write \\#)")
                            : QStringLiteral("the class is not closed with \"]\""));
                break;
            case ']':
                if (members || bits) {
                    if (consume)
                        next();
                    return;
                }
                break;
            default:
                break;
            }
            if (range())
                members = true;
            else
                bits = true;
            c = peek();
        }
    }

    // One member of a class; true for a class escape or a range, false for a single character.
    bool range()
    {
        const qsizetype start = cursor;
        char32_t c = peek();
        int code = 0;
        if (c == '\\') {
            c = nextEscaped();
            if (c == 'p' || c == 'P') {
                property(start);
                return true;
            }
            const bool isRange = at(cursor + 1) == '-';
            unread();
            code = escape(true, true, isRange);
            if (code == -1)
                return true;
        } else {
            next();
            code = int(c);
        }
        if (peek() == '-') {
            const char32_t end = at(cursor + 1);
            if (end == '[')
                return false;
            if (end != ']') {
                next();
                const char32_t m = peek();
                int last = int(m);
                if (m == '\\')
                    last = escape(true, false, true);
                else
                    next();
                if (last < code)
                    fail(start, cursor, QStringLiteral("the range goes down"));
                return true;
            }
        }
        return false;
    }

    // After "\p" or "\P" at `start`: the family in braces or of one letter.
    void property(qsizetype start)
    {
        const bool oneLetter = next() != '{';
        if (oneLetter)
            unread();
        family(oneLetter, start);
    }

    // "\p" or "\P" at `start`; the cursor is on the "p" (one letter) or "{".
    void family(bool oneLetter, qsizetype start)
    {
        next();
        QString name;
        if (oneLetter) {
            const char32_t c = at(cursor);
            name = QString::fromUcs4(&c, 1);
            read();
        } else {
            const qsizetype i = cursor;
            qsizetype k = i;
            while (k < length && at(k) != '}')
                ++k;
            if (k >= length)
                fail(start, length, QStringLiteral("the class name is not closed with \"}\""));
            cursor = k + 1;
            if (k == i)
                fail(start, cursor, QStringLiteral("the class name is empty"));
            for (qsizetype j = i; j < k; ++j) {
                const char32_t c = at(j);
                name += QString::fromUcs4(&c, 1);
            }
        }
        if (!knownFamily(name))
            fail(start, cursor, unknownFamilyReason(name));
    }

    static bool knownFamily(const QString &name)
    {
        const qsizetype eq = name.indexOf(u'=');
        if (eq >= 0) {
            const QString key = name.left(eq).toLower();
            const QString value = name.mid(eq + 1);
            if (key == u"sc" || key == u"script")
                return looksLikeScript(value);
            if (key == u"blk" || key == u"block")
                return UnicodeBlock::find(value) != nullptr;
            if (key == u"gc" || key == u"general_category")
                return isPropertyName(value);
            return false;
        }
        if (name.startsWith(u"In"))
            return UnicodeBlock::find(QStringView(name).mid(2)) != nullptr;
        if (name.startsWith(u"Is")) {
            const QString rest = name.mid(2);
            return isBinaryProperty(rest) || isPropertyName(rest) || looksLikeScript(rest);
        }
        return isPropertyName(name);
    }

    static QString unknownFamilyReason(const QString &name)
    {
        if (name.indexOf(u'=') >= 0)
            return QStringLiteral("this property or value is not known");
        if (name.startsWith(u"In"))
            return QStringLiteral("no Unicode block has this name");
        if (!name.startsWith(u"Is") && looksLikeScript(name) && name.size() > 2)
            return QStringLiteral("no class has this name (a script is written \\p{Is%1})").arg(name);
        return QStringLiteral("no class has this name");
    }

    // The escape whose backslash is at the cursor: the character it stands
    // for, or -1 for a class, an anchor or a back reference.
    int escape(bool inClass, bool create, bool isRange)
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

    int octal(qsizetype start)
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
        fail(start, start + 2,
            QStringLiteral("\\0 must be followed by an octal digit (a NUL is written \\00)"));
    }

    int hexadecimal(qsizetype start)
    {
        char32_t n = read();
        if (isHex(n)) {
            const char32_t m = read();
            if (isHex(m))
                return hexDigit(n) * 16 + hexDigit(m);
        } else if (n == '{' && isHex(peek())) {
            qint64 code = 0;
            while (isHex(n = read())) {
                code = code * 16 + hexDigit(n);
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

    int unicode(qsizetype start)
    {
        const auto four = [&]() {
            int v = 0;
            for (int k = 0; k < 4; ++k) {
                const char32_t h = read();
                if (!isHex(h))
                    fail(start, std::max(start + 2, cursor - 1),
                        QStringLiteral("\\u must be followed by four hexadecimal digits"));
                v = v * 16 + hexDigit(h);
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
    void reference()
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
};

} // namespace

std::optional<PatternSyntax::Problem> PatternSyntax::check(const QString &pattern, Reading *reading)
{
    try {
        Reader reader(pattern);
        reader.run();
        if (reading)
            *reading = { reader.groupCount(), reader.emptyRepeatPositions() };
    } catch (const Refused &r) {
        return r.problem;
    }
    return std::nullopt;
}

} // namespace omvara::config
