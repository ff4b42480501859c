// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/ValueExtractor.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"

#include <gtest/gtest.h>

using omvara::config::Config;
using omvara::config::ConfigHelper;
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
    // 40 listed pairs, AND's four again for AND_SIMPLE and AND_EM, one empty pair for each of the other 20
    // entries.
    EXPECT_EQ(samples, 40 + 8 + 20);
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
