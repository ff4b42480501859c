// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/LinePattern.h"

#include "omvara/config/PatternSyntax.h"
#include "omvara/config/UnicodeBlocks.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace omvara::config {

namespace {

constexpr char32_t MaxCode = 0x10FFFF;

// Any character but a line terminator, and the end of the subject allowing
// one final line terminator (a LF directly after a CR belongs to the CR).
const QString AnyButTerminator = QStringLiteral(R"([^\n\r\x{85}\x{2028}\x{2029}])");
const QString EndOfLine = QStringLiteral(R"((?=(?:\r\n|(?<!\r)\n|[\r\x{85}\x{2028}\x{2029}])?\z))");
// The same with only LF as a line terminator (the flag d).
const QString AnyButLineFeed = QStringLiteral(R"([^\n])");
const QString EndOfUnixLine = QStringLiteral(R"((?=\n?\z))");
const QString AnyCharacter = QStringLiteral(R"([\x{0}-\x{10FFFF}])");
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

// Why a pattern is refused: the construct as written in the pattern, and
// what is wrong with it.
struct Refusal
{
    QString construct;
    QString reason;
};

struct RefusedError
{
    Refusal refusal;
};

[[noreturn]] void refuse(QStringView construct, const QString &reason)
{
    throw RefusedError { { construct.toString(), reason } };
}

struct Flags
{
    bool dotAll = false;
    bool multiLine = false;
    bool extended = false;
    bool caseless = false;
    bool unicodeCase = false;
    bool unixLines = false;
};

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

bool isAsciiSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\x0b' || c == u'\f' || c == u'\r';
}

bool isLineTerminator(QChar c, const Flags &flags)
{
    if (flags.unixLines)
        return c == u'\n';
    return c == u'\n' || c == u'\r' || c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029);
}

bool isOctal(QChar c)
{
    return c >= u'0' && c <= u'7';
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

QString codeEscape(char32_t c)
{
    return QStringLiteral("\\x{%1}").arg(QString::number(uint(c), 16).toUpper());
}

// A code point as a member of a character class: letters and digits as they
// are, everything else as \x{...}, so that no member is read as syntax.
QString classMember(char32_t c)
{
    if ((c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'))
        return QString(QChar(char16_t(c)));
    return codeEscape(c);
}

// True when a case-insensitive match of `c` differs between folding ASCII
// letters only and folding every letter. Letters beyond ASCII count.
bool foldsBeyondAscii(char32_t c)
{
    if (c < 0x80)
        return false;
    return QChar::toUpper(c) != c || QChar::toLower(c) != c || QChar::toTitleCase(c) != c
        || QChar::toCaseFolded(c) != c;
}

bool rangeFoldsBeyondAscii(char32_t first, char32_t last)
{
    // Letters with case end below U+1F000.
    for (char32_t c = std::max<char32_t>(first, 0x80); c <= std::min<char32_t>(last, 0x1EFFF); ++c)
        if (foldsBeyondAscii(c))
            return true;
    return false;
}

// ------------------------------------------------------------------ sets

using Ranges = std::vector<std::pair<char32_t, char32_t>>;

// Sorted, merged, and without the surrogates, which never occur as
// characters of a subject (nor may they be written in a class).
Ranges normalized(Ranges r)
{
    Ranges cut;
    for (auto [a, b] : r) {
        if (a > b)
            continue;
        if (a < 0xD800 && b >= 0xD800)
            cut.push_back({ a, 0xD7FF });
        if (b > 0xDFFF && a <= 0xDFFF)
            cut.push_back({ 0xE000, b });
        if (b < 0xD800 || a > 0xDFFF)
            cut.push_back({ a, b });
    }
    std::sort(cut.begin(), cut.end());
    Ranges out;
    for (auto [a, b] : cut) {
        if (!out.empty() && a <= out.back().second + 1)
            out.back().second = std::max(out.back().second, b);
        else
            out.push_back({ a, b });
    }
    return out;
}

Ranges complement(const Ranges &r)
{
    Ranges out;
    char32_t next = 0;
    for (auto [a, b] : normalized(r)) {
        if (a > next)
            out.push_back({ next, a - 1 });
        next = b + 1;
    }
    if (next <= MaxCode)
        out.push_back({ next, MaxCode });
    return normalized(out);
}

QString rangesFragment(const Ranges &r)
{
    QString out;
    for (auto [a, b] : normalized(r)) {
        out += classMember(a);
        if (b != a)
            out += (b == a + 1 ? QString() : QStringLiteral("-")) + classMember(b);
    }
    return out;
}

// A set of characters in the form the engine matches it: the members of a
// class (as written between its brackets, possibly negated), or a group that
// matches exactly one character of the set.
struct CharSet
{
    QString members; // of a class; "" with `negated` false is the empty set
    bool negated = false;
    QString group; // when not empty: the set is this group, `members` unused

    static CharSet of(QString members, bool negated = false) { return { std::move(members), negated, {} }; }
    static CharSet ofGroup(QString group) { return { {}, false, std::move(group) }; }
    static CharSet ofRanges(const Ranges &r) { return of(rangesFragment(r)); }
};

// The text that matches one character of `s`.
QString single(const CharSet &s)
{
    if (!s.group.isEmpty())
        return s.group;
    if (s.members.isEmpty())
        return s.negated ? AnyCharacter : QStringLiteral("(?!)");
    return u'[' + (s.negated ? QStringLiteral("^") : QString()) + s.members + u']';
}

CharSet unite(const std::vector<CharSet> &sets)
{
    QString members;
    QStringList others;
    for (const CharSet &s : sets) {
        if (s.group.isEmpty() && !s.negated)
            members += s.members;
        else
            others << single(s);
    }
    if (others.isEmpty())
        return CharSet::of(members);
    if (members.isEmpty() && others.size() == 1) {
        for (const CharSet &s : sets)
            if (!s.group.isEmpty() || s.negated)
                return s;
    }
    if (!members.isEmpty())
        others.prepend(single(CharSet::of(members)));
    return CharSet::ofGroup(QStringLiteral("(?:") + others.join(u'|') + u')');
}

// The engine has no class intersection: a character of A && B && C is
// "looking at one of B, looking at one of C, then one of A".
CharSet intersect(const std::vector<CharSet> &sets)
{
    if (sets.size() == 1)
        return sets.front();
    QString group = QStringLiteral("(?:");
    for (std::size_t i = 1; i < sets.size(); ++i)
        group += QStringLiteral("(?=") + single(sets[i]) + u')';
    group += single(sets.front()) + u')';
    return CharSet::ofGroup(group);
}

CharSet negate(CharSet s)
{
    if (s.group.isEmpty()) {
        s.negated = !s.negated;
        return s;
    }
    return CharSet::ofGroup(QStringLiteral("(?:(?!") + s.group + u')' + AnyCharacter + u')');
}

// ------------------------------------------------------------------ named classes

// A named class of stored patterns, as the engine matches it: a property of
// its own (`property`, with `negated` for \P), or explicit code points.
struct Named
{
    CharSet positive;
    CharSet negative;
    bool caseSensitiveOnly = false; // the engine would not fold it like stored patterns do
};

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

// The set a \p{...} of a stored pattern names, or nothing when the name is
// the engine's own (kept as written). `written` is the whole construct, for
// messages.
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

// ------------------------------------------------------------------ the rewrite

class Translator
{
public:
    // `reading`: the dialect's reading of the whole pattern.
    Translator(const QString &pattern, const PatternSyntax::Reading &reading)
        : p(pattern)
        , n(pattern.size())
        , groups(reading.groups)
        , emptyRepeats(reading.emptyRepeats)
    {
    }

    QString run();

private:
    // One character-class member or escape read at `i`.
    struct Atom
    {
        std::optional<char32_t> code; // a single character
        std::optional<CharSet> set; // a class escape
        qsizetype end = 0;
        bool changed = false; // written differently for the engine
    };

    struct ClassResult
    {
        CharSet set;
        qsizetype end = 0;
        bool changed = false;
    };

    char32_t codeAt(qsizetype i, qsizetype *length) const;
    std::optional<Atom> escape(qsizetype i, bool inClass, const Flags &flags) const;
    static Atom escapedCode(qsizetype end, char32_t code, bool changed);
    Named lookup(qsizetype i, qsizetype *end) const;
    std::optional<ClassResult> parseClass(qsizetype i, const Flags &flags) const;
    qsizetype skipLayout(qsizetype i, const Flags &flags, bool *skipped) const;
    QString literal(char32_t code, const Flags &flags) const;
    bool quantifierAt(qsizetype i, const Flags &flags) const;

    const QString &p;
    const qsizetype n;
    const int groups;
    const QList<qsizetype> emptyRepeats;
    int groupsOpened = 0;
};

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
                const int h = hexValue(p[k]);
                if (h < 0)
                    return std::nullopt;
                code = code * 16 + char32_t(h);
            }
            if (code > MaxCode)
                return std::nullopt;
            return escapedCode(close + 1, code, false);
        }
        if (i + 3 < n && hexValue(p[i + 2]) >= 0 && hexValue(p[i + 3]) >= 0)
            return escapedCode(i + 4, char32_t(hexValue(p[i + 2]) * 16 + hexValue(p[i + 3])), false);
        return std::nullopt;
    }
    case u'u': {
        // \uXXXX, and a surrogate pair written as two of them.
        const auto four = [&](qsizetype at) -> std::optional<char32_t> {
            if (at + 6 > n || p[at] != u'\\' || p[at + 1] != u'u')
                return std::nullopt;
            char32_t v = 0;
            for (qsizetype k = at + 2; k < at + 6; ++k) {
                const int h = hexValue(p[k]);
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

} // namespace

QString LinePattern::translate(const QString &pattern, QString *refusal)
{
    if (refusal)
        refusal->clear();
    try {
        PatternSyntax::Reading reading;
        if (const std::optional<PatternSyntax::Problem> problem = PatternSyntax::check(pattern, &reading))
            refuse(problem->construct, problem->reason);
        return Translator(pattern, reading).run();
    } catch (const RefusedError &e) {
        if (refusal)
            *refusal = QStringLiteral("The pattern cannot be used as written: \"%1\": %2.")
                           .arg(e.refusal.construct, e.refusal.reason);
        return QString();
    }
}

QRegularExpression LinePattern::compile(const QString &pattern, QString *error)
{
    return compile(pattern, QString(), QString(), error);
}

QRegularExpression LinePattern::compile(
    const QString &pattern, const QString &engineBefore, const QString &engineAfter, QString *error)
{
    QString refusal;
    const QString translated = translate(pattern, &refusal);
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        // An expression that never compiles: callers that only ask isValid() refuse the pattern too.
        return QRegularExpression(QStringLiteral("("));
    }
    // No options: case-sensitive, "^" only at the start, and without
    // Unicode properties "\s", "\d" and "\w" stay ASCII.
    QRegularExpression re(engineBefore + translated + engineAfter, QRegularExpression::NoPatternOption);
    if (re.isValid())
        re.optimize();
    else if (error)
        *error = re.errorString();
    return re;
}

QString LinePattern::classNameNote(const QString &pattern)
{
    static const struct
    {
        const char *name;
        const char *instead;
    } names[] = { { "alnum", "\\p{Alnum}" }, { "alpha", "\\p{Alpha}" }, { "ascii", "\\p{ASCII}" },
        { "blank", "\\p{Blank}" }, { "cntrl", "\\p{Cntrl}" }, { "digit", "\\p{Digit}" },
        { "graph", "\\p{Graph}" }, { "lower", "\\p{Lower}" }, { "print", "\\p{Print}" },
        { "punct", "\\p{Punct}" }, { "space", "\\p{Space}" }, { "upper", "\\p{Upper}" }, { "word", "\\w" },
        { "xdigit", "\\p{XDigit}" } };
    for (qsizetype i = pattern.indexOf(QLatin1String("[:")); i >= 0;
         i = pattern.indexOf(QLatin1String("[:"), i + 1)) {
        // An escaped "[" is a character, not a class.
        qsizetype backslashes = 0;
        while (i - backslashes > 0 && pattern[i - backslashes - 1] == u'\\')
            ++backslashes;
        if (backslashes % 2 == 1)
            continue;
        const qsizetype from = i + 2 + (pattern.mid(i + 2, 1) == u"^" ? 1 : 0);
        for (const auto &n : names) {
            const QLatin1String name(n.name);
            if (QStringView(pattern).mid(from).startsWith(name)
                && QStringView(pattern).mid(from + name.size()).startsWith(u":]")) {
                const QString written = pattern.mid(i, from + name.size() + 2 - i);
                QString seen;
                QStringList members;
                for (QChar c : QStringView(written).mid(1, written.size() - 2)) {
                    if (!seen.contains(c))
                        members << QStringLiteral("\"%1\"").arg(c);
                    seen += c;
                }
                const QString last = members.takeLast();
                return QStringLiteral("\"%1\" is a class of the characters %2 and %3, not the POSIX class "
                                      "\"%4\"; for that write %5")
                    .arg(written, members.join(QLatin1String(", ")), last, name, QLatin1String(n.instead));
            }
        }
    }
    return QString();
}

} // namespace omvara::config
