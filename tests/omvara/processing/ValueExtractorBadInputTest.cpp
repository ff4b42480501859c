// SPDX-License-Identifier: GPL-3.0-or-later
// Value extraction on received garbage: binary noise, NUL bytes, bytes
// 0x80-0xFF, long lines, and patterns that backtrack badly on them.
#include "omvara/config/Instrument.h"
#include "omvara/config/LinePattern.h"
#include "omvara/processing/ValueExtractor.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

using omvara::config::ConfigHelper;
using omvara::config::LinePattern;
using omvara::processing::ExtractionError;
using omvara::processing::ValueExtractor;
using I = ConfigHelper::Instrument;

namespace {

// Noise of `length` characters of one kind; never a CR or LF (a terminator
// would have ended the line before it reached extraction).
QString noise(const char *kind, int length, std::mt19937 &random)
{
    QString text;
    text.reserve(length);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string k = kind;
    for (int i = 0; i < length; ++i) {
        int c = 0;
        if (k == "binary") {
            do
                c = byte(random);
            while (c == '\r' || c == '\n');
        } else if (k == "nul") {
            c = 0;
        } else if (k == "high") {
            c = 0x80 + byte(random) % 0x80;
        } else if (k == "blanks") {
            c = ' ';
        } else {
            c = 'a' + byte(random) % 26;
        }
        text.append(QChar(char16_t(c)));
    }
    return text;
}

// The first match of the plain compiled pattern in one call: what extraction
// gave before its work was bounded. Empty optional when the engine gave up.
std::optional<QString> reference(const QString &pattern, int group, const QString &line)
{
    const QRegularExpressionMatch m = LinePattern::compile(pattern).match(line);
    if (!m.isValid() || (m.hasMatch() && m.capturedStart(group) < 0))
        return std::nullopt;
    return m.hasMatch() ? m.captured(group) : QString();
}

} // namespace

// Long lines are searched one start position at a time; every catalogue
// pattern and a set of ordinary custom ones must find exactly what one search
// of the whole line finds: samples embedded in noise of each kind, before,
// after and between, at lengths on both sides of the short-line limit.
TEST(ValueExtractorBadInput, noiseAroundRecords_givesWhatOneWholeSearchGives)
{
    std::mt19937 random(20261209);
    QStringList patterns;
    for (const I *instrument : I::values())
        patterns.append(instrument->getRegEx());
    patterns << QStringLiteral("([0-9.]+)") << QStringLiteral("(.*)kg") << QStringLiteral("(?<=W)(\\d+)")
             << QStringLiteral("^(\\d+)") << QStringLiteral("(\\d+)$") << QStringLiteral("x?(\\d*)")
             << QStringLiteral("(\\w+)\\s*\\r") << QStringLiteral("(?s)(.+)")
             << QStringLiteral("([\\x80-\\xff]+)");
    patterns.removeDuplicates();
    const QStringList records = { QStringLiteral("  +12.345 g\r\n"), QStringLiteral("Wt 7.5 kg"),
        QStringLiteral("ST,GS,+0001.23kg\r\n"), QString() };
    int compared = 0;
    for (const QString &pattern : patterns) {
        const ValueExtractor extractor(I::GENERIC, pattern);
        for (const char *kind : { "binary", "nul", "high", "blanks", "letters" }) {
            for (const int length :
                { 0, 20, ValueExtractor::ShortLine, ValueExtractor::ShortLine + 1, 700, 3000 }) {
                for (const QString &record : records) {
                    const QString lines[] = { noise(kind, length, random) + record,
                        record + noise(kind, length, random),
                        noise(kind, length / 2, random) + record + noise(kind, length / 2, random) + record };
                    for (const QString &line : lines) {
                        const auto expected = reference(pattern, 1, line);
                        if (!expected)
                            continue; // not comparable: the unbounded engine gave up as well
                        QString got;
                        try {
                            got = extractor.extract(line);
                        } catch (const ExtractionError &e) {
                            ADD_FAILURE() << pattern.toStdString() << " " << kind << " " << line.size()
                                          << ": " << e.what();
                            continue;
                        }
                        EXPECT_EQ(got, *expected)
                            << pattern.toStdString() << " " << kind << " " << line.size();
                        ++compared;
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 5000);
}

// NUL and bytes 0x80-0xFF around and inside a record are ordinary characters.
TEST(ValueExtractorBadInput, nulAndHighBytes_areOrdinaryCharacters)
{
    const ValueExtractor generic(I::GENERIC, QString());
    EXPECT_EQ(generic.extract(QByteArrayView("\0\0\xff\x80  +12.5 g\r\n", 17)), "+12.5");
    EXPECT_EQ(generic.extract(QByteArrayView("\xff\xfe\0", 3)), "");
    const ValueExtractor high(I::GENERIC, QStringLiteral("\\xff([\\x00-\\x09]+)\\x80"));
    EXPECT_EQ(high.extract(QByteArrayView("a\xff\x01\0\x02\x80z", 7)), QString::fromLatin1("\x01\0\x02", 3));
}

// Patterns that backtrack badly on a 64 KiB line (quadratic or worse): the
// line fails with an error naming the pattern instead of stalling reception,
// and the same extractor then serves the next line normally.
TEST(ValueExtractorBadInput, costlyPatternOnALongLine_failsTheLineNamingThePattern)
{
    const int length = 64 * 1024 - 1;
    const struct
    {
        QString pattern;
        QString line;
    } cases[] = {
        { I::GENERIC.getRegEx(), QString(length, u' ') + u'\r' },
        { QStringLiteral("([0-9]+)[^0-9]"), QString(length, u'1') },
        { QStringLiteral("((a+)+)b"), QString(length, u'a') + QStringLiteral("cb") },
        { QStringLiteral("(\\d*)(\\d*)(\\d*)\\D"), QString(length, u'5') },
        { QStringLiteral("(?:1|11)*([^1])"), QString(length, u'1') },
        // A limit of the pattern's own cannot lift the bound (such engine
        // settings are no part of the dialect and refused at once).
        { QStringLiteral("(*LIMIT_MATCH=100000000)((a+)+)b"), QString(length, u'a') + QStringLiteral("cb") },
    };
    for (const auto &c : cases) {
        try {
            const ValueExtractor extractor(I::GENERIC, c.pattern);
            const QString value = extractor.extract(c.line);
            ADD_FAILURE() << c.pattern.toStdString() << " gave \"" << value.left(20).toStdString() << "\"";
        } catch (const ExtractionError &e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(c.pattern)) << e.what();
        }
    }
    const ValueExtractor generic(I::GENERIC, QString());
    EXPECT_THROW(generic.extract(QString(length, u' ') + u'\r'), ExtractionError);
    EXPECT_EQ(generic.extract(QStringLiteral("4.25 g\r")), "4.25");
}

// The step limit goes after the pattern's own start-of-pattern settings and
// never above its own lower limit; verbs that belong to the pattern stay after it.
TEST(ValueExtractorBadInput, stepLimit_placedAfterThePatternsOwnSettings)
{
    const QString limit = QStringLiteral("(*LIMIT_MATCH=%1)").arg(ValueExtractor::MatchStepLimit);
    const struct
    {
        const char *pattern;
        QString expected;
    } cases[] = {
        { "", limit },
        { "([0-9]+)", limit + "([0-9]+)" },
        { "(*UTF)(*NO_JIT)(a)", "(*UTF)(*NO_JIT)" + limit + "(a)" },
        { "(*LIMIT_MATCH=50)(a)", "(*LIMIT_MATCH=50)(*LIMIT_MATCH=50)(a)" },
        { "(*LIMIT_MATCH=999999999)(a)", "(*LIMIT_MATCH=999999999)" + limit + "(a)" },
        { "(*FAIL)|(a)", limit + "(*FAIL)|(a)" },
        { "(*MARK:x)(a)", limit + "(*MARK:x)(a)" },
        { "(*UTF", limit + "(*UTF" },
        { "(*CRLF)(*LIMIT_HEAP=10)(*COMMIT)(a)", "(*CRLF)(*LIMIT_HEAP=10)" + limit + "(*COMMIT)(a)" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(ValueExtractor::withStepLimit(QString::fromUtf8(c.pattern)), c.expected) << c.pattern;
}

// Patterns whose meaning depends on where the search started are searched in
// one call on long lines too, so \G keeps meaning "the start of the line".
TEST(ValueExtractorBadInput, startAnchoredPatterns_keepTheirMeaningOnLongLines)
{
    const QString tail(500, u'x');
    const ValueExtractor g(I::GENERIC, QStringLiteral("\\G(\\d+)"));
    EXPECT_EQ(g.extract(QStringLiteral("12") + tail), "12");
    EXPECT_EQ(g.extract(tail + QStringLiteral("12")), "");
    // Backtracking verbs are no part of the dialect: refused before any line.
    EXPECT_THROW(ValueExtractor(I::GENERIC, QStringLiteral("a(*COMMIT)b|(\\d+)")), ExtractionError);
}
