// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/LogLineLayout.h"

#include <gtest/gtest.h>

using omvara::dataLineSegments;
using omvara::LogSegment;
namespace Style = omvara::LogStyle;

namespace {

struct LayoutCase
{
    const char *name;
    QString raw;
    QString value;
    QList<LogSegment> expected;
};

void PrintTo(const LayoutCase &c, std::ostream *os)
{
    *os << c.name;
}

class DataLineLayout : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(DataLineLayout, SplitsTheLineIntoStyledParts)
{
    const LayoutCase &c = GetParam();
    const QList<LogSegment> segments = dataLineSegments(QStringLiteral("08:15:42"), c.raw, c.value);
    ASSERT_EQ(segments.size(), c.expected.size()) << c.name;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].text, c.expected[i].text) << c.name << " part " << i;
        EXPECT_EQ(segments[i].style, c.expected[i].style) << c.name << " part " << i;
    }
}

const QString T = QStringLiteral("08:15:42");
QString s(const char *text)
{
    return QString::fromUtf8(text);
}

INSTANTIATE_TEST_SUITE_P(Lines, DataLineLayout,
    ::testing::Values(LayoutCase { "no value: whole line ignored", s("ST,GS,  +0012.30 g<13><10>"), QString(),
                          { { T + s(" ST,GS,  +0012.30 g<13><10>\n"), Style::Ignored } } },
        LayoutCase { "value inside the line", s("ST,GS,  12.30 g<13><10>"), s("12.30"),
            { { T + s(" "), Style::Regular }, { s("ST,GS,  "), Style::Ignored }, { s("12.30"), Style::Value },
                { s(" g<13><10>\n"), Style::Ignored } } },
        LayoutCase { "comma value found with a point", s("  12.30 g<13><10>"), s("12,30"),
            { { T + s(" "), Style::Regular }, { s("  "), Style::Ignored }, { s("12.30"), Style::Value },
                { s(" g<13><10>\n"), Style::Ignored } } },
        LayoutCase { "point value found with a comma", s("N  1,5 kg<13>"), s("1.5"),
            { { T + s(" "), Style::Regular }, { s("N  "), Style::Ignored }, { s("1,5"), Style::Value },
                { s(" kg<13>\n"), Style::Ignored } } },
        LayoutCase { "value at the very start", s("4006381333931<13>"), s("4006381333931"),
            { { T + s(" "), Style::Regular }, { s("4006381333931"), Style::Value },
                { s("<13>\n"), Style::Ignored } } },
        LayoutCase { "value is the whole line", s("ABC"), s("ABC"),
            { { T + s(" "), Style::Regular }, { s("ABC"), Style::Value }, { s("\n"), Style::Ignored } } },
        LayoutCase { "value not in the line (computed)", s("  12.30 g<13><10>"), s("12300"),
            { { T + s(" "), Style::Regular }, { s("  12.30 g<13><10>\n"), Style::Ignored } } },
        LayoutCase { "rounded value inside the longer reading", s("  12.345 g<13>"), s("12,34"),
            { { T + s(" "), Style::Regular }, { s("  12.345 g<13>\n"), Style::Ignored } } },
        LayoutCase { "first match behind a control code", s("<2>13<3> 13"), s("13"),
            { { T + s(" "), Style::Regular }, { s("<2>13<3> 13\n"), Style::Ignored } } },
        LayoutCase { "match inside a control code", s("<13><10>"), s("13"),
            { { T + s(" "), Style::Regular }, { s("<13><10>\n"), Style::Ignored } } },
        LayoutCase { "first occurrence is marked", s("5 x 5"), s("5"),
            { { T + s(" "), Style::Regular }, { s("5"), Style::Value }, { s(" x 5\n"), Style::Ignored } } }));

TEST(FindValue, TriesAsWrittenBeforeTheOtherMark)
{
    // "1,2" as written comes later than "1.2", but the unchanged search wins.
    const auto match = omvara::findValue(QStringLiteral("1.2 1,2"), QStringLiteral("1,2"));
    EXPECT_EQ(match.position, 4);
    EXPECT_EQ(match.length, 3);
}

TEST(FindValue, EmptyValueIsNeverFound)
{
    EXPECT_EQ(omvara::findValue(QStringLiteral("abc"), QString()).position, -1);
}

TEST(LogEntryText, TimeTextAndLineFeed)
{
    EXPECT_EQ(omvara::logEntryText(QStringLiteral("23:59:01"), QStringLiteral("Port opened")),
        QStringLiteral("23:59:01 Port opened\n"));
}

} // namespace
