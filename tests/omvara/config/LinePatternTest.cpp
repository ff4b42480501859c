// SPDX-License-Identifier: GPL-3.0-or-later
// The pattern rules (LinePattern): what a value pattern means, what is
// refused and why, and that the custom-pattern check and extraction give the
// same answer.
#include "omvara/config/LinePattern.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/Instrument.h"
#include "omvara/processing/ValueExtractor.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using omvara::config::LinePattern;
using omvara::processing::ExtractionError;
using omvara::processing::ValueExtractor;
using I = omvara::config::ConfigHelper::Instrument;

namespace {

QString latin1(const char *s)
{
    return QString::fromLatin1(s);
}

} // namespace

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
