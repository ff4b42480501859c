// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/ValueExtractor.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/LinePattern.h"

#include <gtest/gtest.h>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::config::LinePattern;
using omvara::processing::ExtractionError;
using omvara::processing::ValueExtractor;
using I = ConfigHelper::Instrument;

namespace {

QString latin1(const char *s)
{
    return QString::fromLatin1(s);
}

// Extraction with a custom pattern and group 1 (every instrument's group).
QString extractWith(const char *pattern, const QString &line)
{
    return ValueExtractor(I::GENERIC, QString::fromUtf8(pattern)).extract(line);
}

} // namespace

TEST(ValueExtractor, everyCatalogueSample_givesItsExpectedValue)
{
    int samples = 0;
    for (const I *instrument : I::values()) {
        const ValueExtractor extractor(*instrument, QString());
        for (const auto &[line, expected] : instrument->getTestStrings()) {
            EXPECT_EQ(extractor.extract(line), expected)
                << instrument->name().toStdString() << " line \"" << line.toStdString() << '"';
            ++samples;
        }
    }
    // 37 listed pairs, AND's four again for AND_SIMPLE and AND_EM, one empty pair for each of the other 20
    // entries.
    EXPECT_EQ(samples, 37 + 8 + 20);
}

TEST(ValueExtractor, defaultPattern_examples)
{
    const ValueExtractor generic(I::GENERIC, QString());
    struct Row
    {
        const char *line;
        const char *value;
    };
    const Row rows[] = {
        { "ST,GS,+  12.345kg\r\n", "+  12.345" }, { "N  60.24 kg\n", "  60.24" }, { "\r\n", "" },
        { "\r", "" }, { "", "" }, { "G  1.000 kg N  0.950 kg", "  1.000" }, // the first match wins
        { "-5", "-5" }, { "12,5 kg", "12,5" }, { ".5", ".5" },
        { "7.", "7" }, // a point needs a digit after it
        { "abc\xa0"
          "42",
            "42" }, // NBSP is no white space
        { "\x85"
          "3",
            "3" },
        { "\x0b"
          "3",
            "\x0b"
            "3" }, // VT is
    };
    for (const Row &r : rows)
        EXPECT_EQ(generic.extract(latin1(r.line)), latin1(r.value)) << r.line;
}

TEST(ValueExtractor, bytes_areTakenAsLatin1Characters)
{
    const ValueExtractor generic(I::GENERIC, QString());
    EXPECT_EQ(generic.extract(QByteArrayView("\xff\xfe 12.5\r\n")), " 12.5");
    EXPECT_EQ(ValueExtractor(I::GENERIC, QStringLiteral("(\\xE9+)")).extract(QByteArrayView("caf\xe9\xe9")),
        QString::fromLatin1("\xe9\xe9"));
}

TEST(ValueExtractor, matchingRules)
{
    struct Row
    {
        const char *pattern;
        const char *line;
        const char *value;
    };
    const Row rows[] = {
        // case-sensitive
        { "(KG)", "12 kg", "" },
        { "(kg)", "12 kg", "kg" },
        // "^" only at the start of the subject, also after a line break
        { "^(\\d+)", "a\n12", "" },
        { "^(\\d+)", "12\n34", "12" },
        { "(?m)^(\\d+)", "a\n12", "12" },
        // with (?m) every line terminator ends a line: CR LF, LF, CR, NEL
        { "(?m)(\\d+)$", "110\r", "110" },
        { "(?m)^(\\d+)", "ab\r12\r\n", "12" },
        { "(?m)^(\\d+)",
            "ab\x85"
            "7",
            "7" },
        { "(?m)(\\d+)$\\s+^(\\w+)", "12\r\nkg\r\n", "12" },
        { "(?m)^([^\\r\\n]*)$", "\r\n", "" },
        { "(?m)[a-z](\\s*)$", "a\r\n", "\r\n" },
        { "(?m)a(\\r)$", "a\r\n", "" },
        { "(?m)a(\\r)$", "a\r", "\r" },
        { "(?m)x(^\\n?)", "x\r\n", "" },
        // ... and under (?d) only LF
        { "(?md)(\\d+)$", "110\r", "" },
        { "(?md)^(\\d+)", "ab\r12\r\n", "" },
        { "(?md)^(\\d+)", "ab\n12\r\n", "12" },
        // "." stops at every line terminator
        { "A(.*)", "A12\r34", "12" },
        { "A(.*)", "A12\n34", "12" },
        { "A(.*)",
            "A12\x85"
            "34",
            "12" },
        { "A(.+)B", "A1\rB", "" },
        { "A(.)B",
            "A\x0b"
            "B",
            "\x0b" },
        { "A(.)B",
            "A\x0c"
            "B",
            "\x0c" },
        { "A(.)B",
            "A\xa0"
            "B",
            "\xa0" },
        { "(?s)A(.*)", "A1\r2", "1\r2" },
        { "(?s:A(.))", "A\n", "\n" },
        { "(?s:A.)(.)", "A\nx", "x" },
        { "(?s:x)A(.)", "A\r", "" },
        // "." inside a class, escaped or quoted is a point
        { "([.]+)", "a..b", ".." },
        { "(\\.\\d)", "a.5", ".5" },
        { "(\\Q.\\E\\d)", "x5.5", ".5" },
        { "(\\Q$\\E\\d)", "$5", "$5" },
        // "\s" and "\d" are ASCII only
        { "(\\s+)", "a\xa0\x85 b", " " },
        { "(\\d+)",
            "x\xb2\xb3"
            "9",
            "9" },
        { "([\\d]+)",
            "\xb9"
            "7",
            "7" },
        // "$" at the end or before one final terminator
        { "(\\d+)$", "12 34\r\n", "34" },
        { "(\\d+)$", "12 34\n", "34" },
        { "(\\d+)$", "12 34\r", "34" },
        { "(\\d+)$", "12 34", "34" },
        { "(\\d+)$", "12\n\n", "" },
        { "(\\d+)$", "12\r\n34 kg", "" },
        { "(\\d+)\\Z", "12 34\r\n", "34" },
        { "(\\d+)[$]", "12$", "12" },
        // lazy quantifiers and alternation
        { "^N.*?(\\d+)", "N 1 2", "1" },
        { "(kg|g)", "5 g", "g" },
        // extended mode with a comment holding a point
        { "(?x) (\\d+) # digits. then nothing", "a 42", "42" },
        // the group text is taken unchanged, blanks included
        { "(\\s*\\d+)", "x   7", "   7" },
    };
    for (const Row &r : rows) {
        EXPECT_EQ(extractWith(r.pattern, latin1(r.line)), latin1(r.value))
            << "pattern " << r.pattern << " line " << QString::fromLatin1(r.line).toStdString();
    }
}

TEST(ValueExtractor, customPattern_replacesTheInstrumentsButKeepsItsGroup)
{
    const ValueExtractor e(I::WEDDERBURN, QStringLiteral("W=(\\d+)"));
    EXPECT_EQ(e.extract(QStringLiteral("0    2.45 W=17")), "17");
    EXPECT_EQ(e.captureGroup(), 1);
    EXPECT_EQ(e.patternText(), "W=(\\d+)");

    Config config;
    config.setInstrument(I::KEYENCE_IL);
    EXPECT_EQ(ValueExtractor(config).extract(QStringLiteral("DR,08,-99.998\r")), "-99.998");
    config.setCustomRegEx(QStringLiteral("DR,(\\d+)"));
    EXPECT_EQ(ValueExtractor(config).extract(QStringLiteral("DR,08,-99.998\r")), "08");
    EXPECT_EQ(ValueExtractor(Config()).patternText(), I::GENERIC.getRegEx());
}

TEST(ValueExtractor, missingGroup_failsEveryLine)
{
    // No parentheses: group 1 does not exist, so matching and non-matching lines fail alike.
    const ValueExtractor noGroup(I::GENERIC, QStringLiteral("\\d+"));
    EXPECT_THROW(noGroup.extract(QStringLiteral("12")), ExtractionError);
    EXPECT_THROW(noGroup.extract(QStringLiteral("abc")), ExtractionError);
    EXPECT_THROW(noGroup.extract(QStringLiteral("\r")), ExtractionError);
    const ValueExtractor onlyNonCapturing(I::GENERIC, QStringLiteral("(?:\\d+)"));
    EXPECT_THROW(onlyNonCapturing.extract(QStringLiteral("12")), ExtractionError);
    try {
        noGroup.extract(QStringLiteral("12"));
    } catch (const ExtractionError &e) {
        EXPECT_STREQ(e.what(), "No group 1 in the value pattern \\d+");
    }
}

TEST(ValueExtractor, groupOutsideTheUsedAlternative_failsTheLineInsteadOfGivingEmpty)
{
    const ValueExtractor e(I::GENERIC, QStringLiteral("(\\d+)kg|lb"));
    EXPECT_EQ(e.extract(QStringLiteral("5kg")), "5");
    EXPECT_THROW(e.extract(QStringLiteral("5lb")), ExtractionError);
    EXPECT_EQ(e.extract(QStringLiteral("none")), "");
    // A group that took part with no characters is an empty value, not an error.
    EXPECT_EQ(ValueExtractor(I::SCHLAGE_HANDPUNCH, QString()).extract(QStringLiteral("ID ( )")), "");
}

TEST(ValueExtractor, patternThatDoesNotCompile_isRefusedUpFront)
{
    EXPECT_THROW(ValueExtractor(I::GENERIC, QStringLiteral("([0-9]+")), ExtractionError);
    EXPECT_THROW(ValueExtractor(I::GENERIC, QStringLiteral("(a{2,1})")), ExtractionError);
    EXPECT_THROW(ValueExtractor(I::GENERIC, QStringLiteral("(\\p{NoSuchProperty})")), ExtractionError);
}

TEST(ValueExtractor, runawayBacktracking_failsTheLineRatherThanReportingNoValue)
{
    const ValueExtractor e(I::GENERIC, QStringLiteral("((a+)+)b"));
    EXPECT_EQ(e.extract(QStringLiteral("aab")), "aa");
    const QString line = QString(40, u'a') + QStringLiteral("cb");
    EXPECT_THROW(e.extract(line), ExtractionError);
}

// Ordinary ways of picking one field out of a long record need many
// backtracking steps (a greedy ".*," per skipped field), but far fewer than a
// runaway pattern: every one must find its value on lines of 100-500 characters.
TEST(ValueExtractor, fieldSkippingAndAnchoredPatternsOnLongRecords_findTheirValue)
{
    // `count` fields 1000.000, 1007.003, 1014.006, ... joined by `separator`.
    const auto record = [](int count, const char *separator, const char *suffix) {
        QStringList fields;
        for (int i = 0; i < count; ++i)
            fields.append(QStringLiteral("%1.%2").arg(1000 + i * 7).arg(i % 10 * 3, 3, 10, QChar(u'0')));
        return fields.join(QLatin1String(separator)) + QLatin1String(suffix);
    };
    const struct
    {
        const char *pattern;
        QString line;
        QString value;
    } rows[] = {
        // Greedy: the last field that still leaves 15 commas before it.
        { "^(?:.*,){15}([0-9.]+)", record(24, ",", "\r\n"), "1161.009" },
        { "^(?:.*,){18}([0-9.]+)", record(24, ",", "\r\n"), "1161.009" },
        { "^(?:[^,]*,){15}([0-9.]+)", record(24, ",", "\r\n"), "1105.015" },
        { "^(?:.*?,){15}([0-9.]+)", record(24, ",", "\r\n"), "1105.015" },
        { "^(?:.*;){10}\\s*([-+]?[0-9.]+)", record(40, "; ", "\r"), "1273.027" },
        { "^(?:.*\\t){12}(\\d+)", record(30, "\t", "\n"), "1203" },
        { "^(?:\\S+\\s+){25}(\\S+)", record(45, "  ", "\r\n"), "1175.015" },
        { "^(?:.*\\|){8}(\\d+\\.\\d+)", record(52, "|", "\r\n"), "1357.003" },
        { "^.*,(\\d+\\.\\d+),.*,.*$", record(24, ",", "\r\n"), "1147.003" },
        { "^(.*),.*,.*,.*$", record(24, ",", "\r\n"), record(21, ",", "") },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.pattern);
        ASSERT_GE(r.line.size(), 100);
        ASSERT_LE(r.line.size(), 500);
        EXPECT_EQ(extractWith(r.pattern, r.line), r.value) << r.line.toStdString();
    }
}

TEST(LinePattern, translation_leavesOrdinaryPatternsAlone)
{
    EXPECT_EQ(omvara::config::LinePattern::translate(QStringLiteral("([-+]?\\s*[0-9]*[\\.,]?[0-9]+)")),
        QStringLiteral("([-+]?\\s*[0-9]*[\\.,]?[0-9]+)"));
    EXPECT_EQ(
        omvara::config::LinePattern::translate(QStringLiteral("[]$.](\\d)")), QStringLiteral("[]$.](\\d)"));
}

TEST(LinePattern, bracketInAClass_opensANestedClass_alsoForAPosixClassName)
{
    using omvara::config::LinePattern;
    // As stored patterns read it, "[" inside a class opens a nested class,
    // whose members join the outer class: "[[.](.)x.]" is one class of
    // ".", "(", ")" and "x", without a group.
    const QString pattern = QStringLiteral("[[.](.)x.]");
    const QRegularExpression compiled = LinePattern::compile(pattern);
    ASSERT_TRUE(compiled.isValid()) << compiled.errorString().toStdString();
    EXPECT_EQ(compiled.captureCount(), 0);
    EXPECT_EQ(compiled.match(QStringLiteral("ab(")).capturedStart(), 2);
    EXPECT_FALSE(compiled.match(QStringLiteral("ab]5")).hasMatch());
    // So is a POSIX class name: "[[:digit:]]" is the characters ":", "d",
    // "i", "g" and "t", and a pattern holding one is noted with what to write instead.
    for (const char *posix : { "([[:digit:].]+)", "([^[:digit:]a]+)", "([:digit:]+)" }) {
        SCOPED_TRACE(posix);
        const QRegularExpression digit = LinePattern::compile(QString::fromLatin1(posix));
        ASSERT_TRUE(digit.isValid()) << digit.errorString().toStdString();
        EXPECT_EQ(digit.match(QStringLiteral("12 gid:t.x")).captured(1),
            posix[2] == '^' ? QStringLiteral("12 ")
                            : QStringLiteral("gid:t").append(posix[2] == '[' ? "." : ""));
        const QString note = omvara::config::ConfigHelper::CustomRegEx::note(QString::fromLatin1(posix));
        EXPECT_TRUE(note.contains(QLatin1String("\\p{Digit}"))) << note.toStdString();
        EXPECT_TRUE(note.contains(QLatin1String("\"[:digit:]\""))) << note.toStdString();
    }
    EXPECT_EQ(omvara::config::ConfigHelper::CustomRegEx::note(QStringLiteral("(\\p{Digit}+)")), QString());
    EXPECT_EQ(omvara::config::ConfigHelper::CustomRegEx::note(QStringLiteral("(\\[:digit:]+)")), QString());
}

// Stored settings and export files hold patterns in the common backtracking
// dialect: each construct matches as it does there (not as the engine would
// read the same text, nor refused), and what cannot be matched exactly is
// refused with a message naming it.
TEST(LinePattern, dialectConstructs_matchAsInTheDialect)
{
    const struct
    {
        const char *pattern; // UTF-8
        const char *line; // Latin-1
        const char *value; // Latin-1; nullptr: no match
    } rows[] = {
        { "\\u0057(\\d+)", "W12", "12" },
        { "(\\uD83D\\uDE00|\\d+)", "7", "7" },
        { "(\\p{IsLatin}+)", "12 kg\xe9\xb5", "kg\xe9" },
        { "(\\p{script=Latin}+)",
            "1 \xaa"
            "b",
            "\xaa"
            "b" },
        { "(\\p{IsLu}+)",
            "ab\xc9"
            "C1",
            "\xc9"
            "C" },
        { "(\\p{IsAlphabetic}+)", "12\xe9x!", "\xe9x" },
        { "(\\p{IsWhite_Space}+)", "a\xa0\x85 b", "\xa0\x85 " },
        { "(\\p{IsPunctuation}+)", "a\xbf!b", "\xbf!" },
        { "(\\p{InBasicLatin}+)",
            "\xe9"
            "12ab\xff",
            "12ab" },
        { "(\\p{InLatin-1 Supplement}+)",
            "ab\xe9\xff"
            "1",
            "\xe9\xff" },
        { "(\\p{block=Latin_1_Supplement}+)",
            "ab\xe9\xff"
            "1",
            "\xe9\xff" },
        { "(\\P{InBasicLatin}+)",
            "ab\xe9\xfc"
            "c",
            "\xe9\xfc" },
        { "(\\p{Lower}+)",
            "\xc4"
            "BC\xe9"
            "ab1",
            "ab" },
        { "(\\p{Upper}+)",
            "\xe9\xc9"
            "AB",
            "AB" },
        { "(\\p{Alpha}+)",
            "\xe9"
            "12ab",
            "ab" },
        { "(\\p{Digit}+)",
            "x\xb2"
            "42",
            "42" },
        { "(\\p{Alnum}+)", "\xe9-ab12.", "ab12" },
        { "(\\p{Punct}+)", "ab\xbf!?", "!?" },
        { "(\\p{Graph}+)",
            " \xe9"
            "a~",
            "a~" },
        { "(\\p{Print}+)",
            "\x7f\xa0"
            "a b",
            "a b" },
        { "(\\p{Blank}+)", "a\xa0 \t\nb", " \t" },
        { "(\\p{Space}+)",
            "a\xa0\x85 \t\x0b"
            "b",
            " \t\x0b" },
        { "(\\p{Cntrl}+)",
            "a\x85\x01\x7f"
            "b",
            "\x01\x7f" },
        { "(\\p{XDigit}+)", "xyzBEEF12g", "BEEF12" },
        { "(\\p{ASCII}+)",
            "\xe9"
            "ab",
            "ab" },
        { "(\\P{Lower}+)",
            "ab\xe9"
            "C",
            "\xe9"
            "C" },
        { "([^\\p{Lower}\\d]+)",
            "ab12\xe9"
            "D",
            "\xe9"
            "D" },
        { "(\\p{javaLowerCase}+)",
            "AB\xe9"
            "a1",
            "\xe9"
            "a" },
        { "(\\p{javaWhitespace}+)",
            "a\xa0\x1c \x85"
            "b",
            "\x1c " },
        { "([a-z&&[^aeiou]]+)", "aeixyzab", "xyz" },
        { "([\\w&&[^\\d_]]+)", "_12abC3", "abC" },
        { "([^a-z&&[aeiou]]+)", "ae1X", "1X" },
        { "([a-d[m-p]]+)", "xxbmpz", "bmp" },
        { "(\\0101+)", "xAA1", "AA" },
        { "(\\0377)", "a\xff", "\xff" },
        { "(\\0400)", " 0", " 0" },
        { "(\\cj)", "a*", "*" },
        { "(?d)A(.+)", "A1\r2\n", "1\r2" },
        { "(?x)([ab ]+)", "ab ba", "ab" },
        { "(?x)([a-c # letters\n]+)", "b#c", "b" },
        { "(\\d)\\12", "x772", "7" },
        // An empty side of "&&" leaves the other; a back reference to a
        // group opened later never matches.
        { "([a-z&&])", "1b", "b" },
        { "([&&a-z])", "1b", "b" },
        { "x\\12(a)", "xa", nullptr },
        { "(?m)(\\d)\\Z", "1\n2\n", "2" },
        { "a{2}{3}(x)", "aax", "x" },
        { "([\\d-z]+)", "a1-z", "1-z" },
        { "([\\v-\\r]+)", "a\n\x0b\x0c\rb", "\x0b\x0c\r" },
        { "([\\v-]+)", "\n-\x0b", "-\x0b" },
        // \R gives back the LF of a CR LF, but not within a repetition;
        // an anchor may be repeated.
        { "(\\d)\\R\\n", "1\r\n", "1" },
        { "(\\d)\\R{2}", "1\r\n", nullptr },
        { "^*(\\d)", "5", "5" },
        { "(\\b\\w+)", "\xe9x y", "y" },
        { "(?i)(\xc3\xa9+)", "\xc9\xe9", "\xe9" },
        { "(?iu)(\xc3\xa9+)", "\xc9\xe9", "\xc9\xe9" },
        { "(?i)(\\p{Lower}+)", "1aB", "aB" },
        { "(?u)(\\d+)", "a12", "12" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.pattern);
        const QString pattern = QString::fromUtf8(r.pattern);
        QString error;
        const QRegularExpression compiled = LinePattern::compile(pattern, &error);
        ASSERT_TRUE(compiled.isValid())
            << error.toStdString() << " <- " << LinePattern::translate(pattern).toStdString();
        const QRegularExpressionMatch m = compiled.match(latin1(r.line));
        if (!r.value) {
            EXPECT_FALSE(m.hasMatch());
            continue;
        }
        ASSERT_TRUE(m.hasMatch()) << LinePattern::translate(pattern).toStdString();
        EXPECT_EQ(m.captured(1), latin1(r.value)) << LinePattern::translate(pattern).toStdString();
    }
}

TEST(LinePattern, constructsWithoutAnExactEquivalent_areRefusedNamingThem)
{
    const struct
    {
        const char *pattern; // UTF-8
        const char *named;
    } rows[] = {
        { "(\\p{IsEmoji})", "\\p{IsEmoji}" },
        { "(?U)(\\w+)", "U" },
        { "(?c)(a)", "c" },
        { "\\N{DIGIT ONE}(1)", "\\N" },
        { "\\b{g}(a)", "\\b{g}" },
        { "(?i)([\xc3\xa0-\xc3\xbf]+)", "[\xc3\xa0-\xc3\xbf]" },
        { "(?i)(\\p{Lu})", "\\p{Lu}" },
        { "([a-z&&[aeiou]x])", "[a-z&&[aeiou]x]" },
        { "(\\p{javaUnicodeIdentifierStart})", "\\p{javaUnicodeIdentifierStart}" },
        { "(\\p{InNoSuchBlock})", "\\p{InNoSuchBlock}" },
        { "(\\p{gc=Nonsense})", "\\p{gc=Nonsense}" },
        { "(\\uD800)", "\\uD800" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.pattern);
        const QString pattern = QString::fromUtf8(r.pattern);
        QString error;
        EXPECT_FALSE(LinePattern::compile(pattern, &error).isValid())
            << LinePattern::translate(pattern).toStdString();
        EXPECT_TRUE(error.contains(u'"' + QString::fromUtf8(r.named) + u'"')) << error.toStdString();
        EXPECT_EQ(omvara::config::ConfigHelper::CustomRegEx::problem(pattern), error);
        EXPECT_THROW(ValueExtractor(I::GENERIC, pattern), ExtractionError);
    }
}

// What the dialect refuses is refused, with the construct and the reason,
// instead of being matched with the engine's meaning (or as literal text).
TEST(LinePattern, constructsTheDialectRefuses_areRefusedNamingThem)
{
    const struct
    {
        const char *pattern;
        const char *named;
        const char *line; // where the engine's own reading found a value
    } rows[] = {
        { "a{,3}(\\d)", "{,3}", "a{,3}5" },
        { "(?#c)(\\d)", "(?#", "7" },
        { "(?P<n>x)", "(?P", "x" },
        { "(?'n'x)", "(?'", "x" },
        { "(?<a_b>x)", "(?<a_", "x" },
        { "\\g1(x)", "\\g", "x" },
        { "(\\0)", "\\0", "" },
        { "(\\x4)", "\\x4", "" },
        { "[\\b](x)", "\\b", "x" },
        { "\\p{Latin}(x)", "\\p{Latin}", "ax" },
        { "\\p{L&}(x)", "\\p{L&}", "ax" },
        { "(\\d+){", "{", "1{" },
        { "a{1, 2}(x)", "{1, 2}", "a{1, 2}x" },
        { "(?x)([#\\d]+)", "[#\\d]+)", "12" },
        { "(*UTF)(\\d)", "*", "1" },
        { "(?^s)(x)", "(?^", "x" },
        { "\\p{^L}(x)", "\\p{^L}", "1x" },
        { "([a[b])]", "([a[b])]", "b]" },
        { "\\E(x)", "\\E", "x" },
        { "[[:digit:](x)", "[[:digit:](x)", "1x" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.pattern);
        const QString pattern = QString::fromUtf8(r.pattern);
        QString error;
        EXPECT_FALSE(LinePattern::compile(pattern, &error).isValid())
            << LinePattern::translate(pattern).toStdString();
        EXPECT_TRUE(error.startsWith(QStringLiteral("The pattern cannot be used as written: \"%1\": ")
                                         .arg(QString::fromUtf8(r.named))))
            << error.toStdString();
        EXPECT_EQ(omvara::config::ConfigHelper::CustomRegEx::problem(pattern), error);
        EXPECT_THROW(ValueExtractor(I::GENERIC, pattern), ExtractionError);
    }
    // The reason says what to write.
    QString error;
    LinePattern::compile(QStringLiteral("(?x)([#\\d]+)"), &error);
    EXPECT_TRUE(error.contains(QLatin1String("\\#"))) << error.toStdString();
    LinePattern::compile(QStringLiteral("\\p{Latin}(x)"), &error);
    EXPECT_TRUE(error.contains(QLatin1String("\\p{IsLatin}"))) << error.toStdString();
}

TEST(LinePattern, controlEscapeInAClass_takesTheNextCharacterAsItsMember)
{
    using omvara::config::LinePattern;
    // "\c]" is control-] inside the class, so the class goes on to the next "]" and its "."
    // is a literal point; the "." of the group after it is the wildcard.
    const QRegularExpression compiled = LinePattern::compile(QStringLiteral("[\\c].]+(.)"));
    ASSERT_TRUE(compiled.isValid()) << compiled.errorString().toStdString();
    EXPECT_EQ(compiled.match(QStringLiteral("..5")).captured(1), "5");
    EXPECT_EQ(compiled.match(QStringLiteral("\x1d.x")).captured(1), "x");
    EXPECT_FALSE(compiled.match(QStringLiteral(".\r")).hasMatch());
    // Found by fuzzing: the engine accepted the pattern, its rewrite did not
    // compile. The dialect refuses both (a stray "\E"; a class never closed,
    // its "[" opening nested classes), and they are refused naming that.
    const QString found = QString::fromUtf8("\\E.\x1f.]]\xe6[]._.\\c].\x9f(\\s*([0-aaaa[]]\xe6"
                                            "aa..]");
    ASSERT_TRUE(QRegularExpression(found).isValid());
    QString error;
    EXPECT_FALSE(LinePattern::compile(found, &error).isValid());
    EXPECT_TRUE(error.contains(QLatin1String("\"\\E\""))) << error.toStdString();
    const QString collating = QStringLiteral("[.\\c].(?%#[\x1d0[\u00e9.]!");
    ASSERT_TRUE(QRegularExpression(collating).isValid());
    EXPECT_FALSE(LinePattern::compile(collating, &error).isValid());
    EXPECT_TRUE(error.contains(QLatin1String("not closed"))) << error.toStdString();
    // Where both readings of "\cX" agree it stays as written: a class opening
    // with "[." is not taken for a collating element.
    const QRegularExpression dot = LinePattern::compile(QStringLiteral("[.\\c].](x)"));
    ASSERT_TRUE(dot.isValid()) << dot.errorString().toStdString();
    EXPECT_EQ(dot.match(QStringLiteral("\x1dx")).captured(1), "x");
}

TEST(LinePattern, closingBracketAfterEmptyQuotesAtTheStartOfAClass_isAMember)
{
    using omvara::config::LinePattern;
    // "\Q\E" stands for nothing; the "]" after it is still the class's first
    // member, so the class runs on to the next "]". A "\E" without "\Q" is
    // refused, as the dialect does.
    for (const char *pattern : { "[\\E](.)]", "[^\\Q\\E](.)]", "[\\E^\\E](.)]" }) {
        SCOPED_TRACE(pattern);
        const QRegularExpression raw(QString::fromLatin1(pattern));
        QString error;
        const QRegularExpression compiled = LinePattern::compile(QString::fromLatin1(pattern), &error);
        ASSERT_TRUE(raw.isValid());
        if (QByteArrayView(pattern).startsWith("[\\E")) {
            EXPECT_FALSE(compiled.isValid());
            EXPECT_TRUE(error.contains(QLatin1String("\"\\E\""))) << error.toStdString();
            continue;
        }
        ASSERT_TRUE(compiled.isValid()) << compiled.errorString().toStdString();
        EXPECT_EQ(compiled.captureCount(), raw.captureCount());
        EXPECT_EQ(compiled.captureCount(), 0);
    }
}
