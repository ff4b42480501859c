// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternNamedClasses.h"

#include "omvara/config/PatternRefusal.h"
#include "omvara/config/UnicodeBlocks.h"

#include <algorithm>

namespace omvara::config::rewrite {

namespace {

Named fromRanges(const Ranges &r)
{
    return { CharSet::ofRanges(r), CharSet::ofRanges(complement(r)) };
}

// A property the engine knows under the same definition.
Named engineProperty(const QString &name, bool caseSensitiveOnly = false)
{
    return { CharSet::of(QStringLiteral("\\p{%1}").arg(name)),
        CharSet::of(QStringLiteral("\\P{%1}").arg(name)), caseSensitiveOnly };
}

// A union of engine properties and code points.
Named union_(const QString &members, bool caseSensitiveOnly = false)
{
    return { CharSet::of(members), CharSet::of(members, true), caseSensitiveOnly };
}

// The POSIX-named classes of stored patterns are ASCII only (unlike the
// engine's properties of the same names), as are L1 and "all" ranges.
std::optional<Named> asciiClass(QStringView name)
{
    static const struct
    {
        const char *name;
        Ranges ranges;
    } table[] = {
        { "Lower", { { 'a', 'z' } } },
        { "Upper", { { 'A', 'Z' } } },
        { "ASCII", { { 0, 0x7F } } },
        { "Alpha", { { 'A', 'Z' }, { 'a', 'z' } } },
        { "Digit", { { '0', '9' } } },
        { "Alnum", { { '0', '9' }, { 'A', 'Z' }, { 'a', 'z' } } },
        { "Punct", { { '!', '/' }, { ':', '@' }, { '[', '`' }, { '{', '~' } } },
        { "Graph", { { '!', '~' } } },
        { "Print", { { ' ', '~' } } },
        { "Blank", { { ' ', ' ' }, { '\t', '\t' } } },
        { "Cntrl", { { 0, 0x1F }, { 0x7F, 0x7F } } },
        { "XDigit", { { '0', '9' }, { 'A', 'F' }, { 'a', 'f' } } },
        { "Space", { { '\t', '\r' }, { ' ', ' ' } } },
        { "L1", { { 0, 0xFF } } },
        { "all", { { 0, MaxCode } } },
    };
    for (const auto &row : table)
        if (name == QLatin1String(row.name))
            return fromRanges(row.ranges);
    return std::nullopt;
}

// General categories by their short names (case as written).
std::optional<Named> category(QStringView name)
{
    static const char *const names[] = { "L", "Lu", "Ll", "Lt", "Lm", "Lo", "M", "Mn", "Mc", "Me", "N", "Nd",
        "Nl", "No", "Z", "Zs", "Zl", "Zp", "C", "Cc", "Cf", "Co", "Cs", "Cn", "P", "Pd", "Ps", "Pe", "Pc",
        "Po", "Pi", "Pf", "S", "Sm", "Sc", "Sk", "So" };
    for (const char *n : names) {
        if (name == QLatin1String(n)) {
            const bool cased = name == u"Lu" || name == u"Ll" || name == u"Lt";
            return engineProperty(name.toString(), cased);
        }
    }
    if (name == u"LC")
        return engineProperty(QStringLiteral("L&"), true);
    if (name == u"LD")
        return union_(QStringLiteral("\\p{L}\\p{Nd}"));
    return std::nullopt;
}

// The classes named after the character tests of stored patterns' home
// language (\p{javaLowerCase} and so on).
std::optional<Named> characterTest(QStringView name)
{
    static const QString ignorable = QStringLiteral("\\x{0}-\\x{8}\\x{E}-\\x{1B}\\x{7F}-\\x{9F}\\p{Cf}");
    if (name == u"javaLowerCase")
        return engineProperty(QStringLiteral("Lowercase"), true);
    if (name == u"javaUpperCase")
        return engineProperty(QStringLiteral("Uppercase"), true);
    if (name == u"javaTitleCase")
        return engineProperty(QStringLiteral("Lt"), true);
    if (name == u"javaAlphabetic")
        return engineProperty(QStringLiteral("Alphabetic"));
    if (name == u"javaIdeographic")
        return engineProperty(QStringLiteral("Ideographic"));
    if (name == u"javaLetter")
        return engineProperty(QStringLiteral("L"));
    if (name == u"javaDigit")
        return engineProperty(QStringLiteral("Nd"));
    if (name == u"javaLetterOrDigit")
        return union_(QStringLiteral("\\p{L}\\p{Nd}"));
    if (name == u"javaDefined")
        return Named { CharSet::of(QStringLiteral("\\P{Cn}")), CharSet::of(QStringLiteral("\\p{Cn}")) };
    if (name == u"javaMirrored")
        return engineProperty(QStringLiteral("Bidi_Mirrored"));
    if (name == u"javaSpaceChar")
        return union_(QStringLiteral("\\p{Zs}\\p{Zl}\\p{Zp}"));
    if (name == u"javaISOControl")
        return fromRanges({ { 0, 0x1F }, { 0x7F, 0x9F } });
    // White space but for the no-break spaces, and the four separators U+001C-U+001F.
    if (name == u"javaWhitespace")
        return fromRanges({ { '\t', '\r' }, { 0x1C, ' ' }, { 0x1680, 0x1680 }, { 0x2000, 0x2006 },
            { 0x2008, 0x200A }, { 0x2028, 0x2029 }, { 0x205F, 0x205F }, { 0x3000, 0x3000 } });
    if (name == u"javaIdentifierIgnorable")
        return union_(ignorable);
    if (name == u"javaJavaIdentifierStart")
        return union_(QStringLiteral("\\p{L}\\p{Nl}\\p{Sc}\\p{Pc}"));
    if (name == u"javaJavaIdentifierPart")
        return union_(QStringLiteral("\\p{L}\\p{Nl}\\p{Sc}\\p{Pc}\\p{Nd}\\p{Mc}\\p{Mn}") + ignorable);
    return std::nullopt;
}

// Binary properties named with the prefix "Is" (case and underscores as in
// "IsWhite_Space" or "IsWHITESPACE").
std::optional<Named> binaryProperty(QStringView name)
{
    QString key = name.toString().toUpper();
    key.remove(u'_');
    if (key == u"ALPHABETIC")
        return engineProperty(QStringLiteral("Alphabetic"));
    if (key == u"ASSIGNED")
        return Named { CharSet::of(QStringLiteral("\\P{Cn}")), CharSet::of(QStringLiteral("\\p{Cn}")) };
    if (key == u"CONTROL")
        return engineProperty(QStringLiteral("Cc"));
    if (key == u"HEXDIGIT")
        return union_(QStringLiteral("\\p{Nd}A-Fa-f\\x{FF21}-\\x{FF26}\\x{FF41}-\\x{FF46}"));
    if (key == u"IDEOGRAPHIC")
        return engineProperty(QStringLiteral("Ideographic"));
    if (key == u"JOINCONTROL")
        return engineProperty(QStringLiteral("Join_Control"));
    if (key == u"LETTER")
        return engineProperty(QStringLiteral("L"));
    if (key == u"LOWERCASE")
        return engineProperty(QStringLiteral("Lowercase"), true);
    if (key == u"UPPERCASE")
        return engineProperty(QStringLiteral("Uppercase"), true);
    if (key == u"TITLECASE")
        return engineProperty(QStringLiteral("Lt"), true);
    if (key == u"NONCHARACTERCODEPOINT")
        return engineProperty(QStringLiteral("Noncharacter_Code_Point"));
    if (key == u"PUNCTUATION")
        return engineProperty(QStringLiteral("P"));
    if (key == u"WHITESPACE")
        return engineProperty(QStringLiteral("White_Space"));
    if (key == u"WORD")
        return union_(QStringLiteral("\\p{Alphabetic}\\p{Mn}\\p{Me}\\p{Mc}\\p{Nd}\\p{Pc}\\p{Join_Control}"));
    return std::nullopt;
}

// Scripts by name or four-letter code: the engine's names are the same, but
// its plain \p{Latin} also takes characters shared with other scripts.
bool knownScript(QStringView name)
{
    // The engine compiles only names it knows; one it does not know fails there.
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u' ';
    });
}

Named script(QStringView name)
{
    const QString engineName = QStringLiteral("sc:") + name.toString();
    return { CharSet::of(QStringLiteral("\\p{%1}").arg(engineName)),
        CharSet::of(QStringLiteral("\\P{%1}").arg(engineName)) };
}

std::optional<Named> block(QStringView name)
{
    const UnicodeBlock *b = UnicodeBlock::find(name);
    if (!b)
        return std::nullopt;
    return fromRanges({ { b->first, b->last } });
}

} // namespace

std::optional<Named> namedClass(QStringView name, QStringView written)
{
    const qsizetype eq = name.indexOf(u'=');
    if (eq >= 0) {
        const QString kind = name.left(eq).toString().toLower();
        const QStringView value = name.mid(eq + 1);
        std::optional<Named> found;
        if (kind == u"sc" || kind == u"script") {
            if (knownScript(value))
                found = script(value);
        } else if (kind == u"blk" || kind == u"block") {
            found = block(value);
        } else if (kind == u"gc" || kind == u"general_category") {
            found = category(value);
            if (!found)
                found = asciiClass(value);
            if (!found)
                found = characterTest(value);
        }
        if (!found)
            refuse(written, QStringLiteral("this property or value is not known"));
        return found;
    }
    if (name.startsWith(u"In") && name.size() > 2) {
        if (auto b = block(name.mid(2)))
            return b;
        refuse(written, QStringLiteral("no Unicode block has this name"));
    }
    if (name.startsWith(u"Is") && name.size() > 2) {
        const QStringView rest = name.mid(2);
        if (auto p = binaryProperty(rest))
            return p;
        if (auto c = category(rest))
            return c;
        if (auto a = asciiClass(rest))
            return a;
        if (auto t = characterTest(rest))
            return t;
        if (rest.startsWith(QLatin1String("Emoji"), Qt::CaseInsensitive)
            || rest.compare(QLatin1String("Extended_Pictographic"), Qt::CaseInsensitive) == 0)
            refuse(written, QStringLiteral("emoji properties are not supported"));
        if (knownScript(rest))
            return script(rest);
        refuse(written, QStringLiteral("this property is not known"));
    }
    if (auto a = asciiClass(name))
        return a;
    if (auto t = characterTest(name))
        return t;
    if (name.startsWith(u"java"))
        refuse(written, QStringLiteral("this character test is not supported"));
    // Categories read the same in the engine (checked for case-insensitive
    // use); everything else the engine knows keeps its own reading.
    if (auto c = category(name))
        return c;
    return std::nullopt;
}

} // namespace omvara::config::rewrite
