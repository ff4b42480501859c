// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternSyntaxReader.h"

#include "omvara/config/UnicodeBlocks.h"

#include <QStringList>

namespace omvara::config::syntax {

namespace {

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

} // namespace

void Reader::characterClass(bool consume, int depth)
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
bool Reader::range()
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
void Reader::property(qsizetype start)
{
    const bool oneLetter = next() != '{';
    if (oneLetter)
        unread();
    family(oneLetter, start);
}

// "\p" or "\P" at `start`; the cursor is on the "p" (one letter) or "{".
void Reader::family(bool oneLetter, qsizetype start)
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

bool Reader::knownFamily(const QString &name)
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

QString Reader::unknownFamilyReason(const QString &name)
{
    if (name.indexOf(u'=') >= 0)
        return QStringLiteral("this property or value is not known");
    if (name.startsWith(u"In"))
        return QStringLiteral("no Unicode block has this name");
    if (!name.startsWith(u"Is") && looksLikeScript(name) && name.size() > 2)
        return QStringLiteral("no class has this name (a script is written \\p{Is%1})").arg(name);
    return QStringLiteral("no class has this name");
}

} // namespace omvara::config::syntax
