// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/window/EventLog.h"

#include <QDateTime>
#include <QFont>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using runs_test::runUntil;

namespace {

class EventLogTest : public runs_test::WithApp, public ::testing::Test
{
protected:
    void SetUp() override { runs_test::app(); }
    QStringList lines() const
    {
        QStringList all = pane.toPlainText().split(QLatin1Char('\n'));
        if (!all.isEmpty() && all.last().isEmpty())
            all.removeLast();
        return all;
    }
    QPlainTextEdit pane;
    omvara::EventLog log { pane.document(), &pane };
};

TEST_F(EventLogTest, StylesThatMustBeToldApartDiffer)
{
    using namespace omvara::LogStyle;
    const auto typed = log.style(Typed);
    const auto ignored = log.style(Ignored);
    const auto regular = log.style(Regular);
    EXPECT_NE(typed.foreground(), ignored.foreground());
    EXPECT_NE(typed.background(), ignored.background());
    EXPECT_NE(typed.fontWeight(), ignored.fontWeight());
    EXPECT_NE(log.style(Unknown).foreground(), typed.foreground());
    EXPECT_NE(log.style(Unknown).foreground(), ignored.foreground());
    EXPECT_EQ(log.style(Important).fontWeight(), QFont::Bold);
    EXPECT_NE(log.style(Important).foreground(), regular.foreground());
    // An unknown style name falls back to "default".
    EXPECT_EQ(log.style(QStringLiteral("nonsense")), log.style(Default));
}

TEST_F(EventLogTest, EntriesAreTimeStampedAndStyled)
{
    log.logEvent(QStringLiteral("Port COM3 opened"));
    log.logImportantEvent(QStringLiteral("Error [WW]: parity"));
    const QStringList all = lines();
    ASSERT_EQ(all.size(), 2);
    const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    EXPECT_TRUE(stamped.match(all[0]).hasMatch());
    EXPECT_TRUE(all[0].endsWith(QStringLiteral(" Port COM3 opened")));
    EXPECT_TRUE(all[1].endsWith(QStringLiteral(" Error [WW]: parity")));
    const QTextBlock second = pane.document()->findBlockByNumber(1);
    EXPECT_EQ(second.begin().fragment().charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(log.lineCount(), 2);
}

TEST_F(EventLogTest, DataLineUsesTheLinesOwnTime)
{
    const QDateTime when(QDate(2024, 3, 1), QTime(7, 5, 9));
    log.appendDataLine(when, QStringLiteral("  12.30 g<13><10>"), QStringLiteral("12,30"));
    EXPECT_EQ(lines(), QStringList { QStringLiteral("07:05:09   12.30 g<13><10>") });
}

TEST_F(EventLogTest, EntriesFromManyThreadsLandWholeAndInEachThreadsOrder)
{
    constexpr int threads = 4;
    constexpr int perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([this, t] {
            for (int i = 0; i < perThread; ++i) {
                const QString text
                    = QStringLiteral("writer %1 entry %2 ").arg(t).arg(i) + QString(40, QLatin1Char('x'));
                if (i % 2)
                    log.logImportantEvent(text);
                else
                    log.logEvent(text);
            }
        });
    // The event thread writes too, meanwhile.
    for (int i = 0; i < 50; ++i)
        log.logEvent(QStringLiteral("event thread %1").arg(i));
    for (auto &w : writers)
        w.join();
    ASSERT_TRUE(runUntil([&] { return log.lineCount() == threads * perThread + 50; }));

    const QRegularExpression whole(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d writer (\\d) entry (\\d+) x{40}$"));
    std::vector<int> next(threads, 0);
    for (const QString &line : lines()) {
        if (line.contains(QStringLiteral("event thread")))
            continue;
        const auto m = whole.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        const int t = m.captured(1).toInt();
        EXPECT_EQ(m.captured(2).toInt(), next[t]) << "writer " << t;
        next[t] = m.captured(2).toInt() + 1;
    }
}

TEST_F(EventLogTest, KeepsOnlyTheMostRecentLines)
{
    EXPECT_EQ(omvara::EventLog::MaxLines, 100000);
    log.setMaxLines(10);
    for (int i = 0; i < 25; ++i)
        log.logEvent(QStringLiteral("entry %1").arg(i));
    const QStringList all = lines();
    ASSERT_EQ(all.size(), 10);
    EXPECT_TRUE(all.first().endsWith(QStringLiteral("entry 15")));
    EXPECT_TRUE(all.last().endsWith(QStringLiteral("entry 24")));
    // Styled data lines count once each as well.
    for (int i = 0; i < 5; ++i)
        log.appendDataLine(QDateTime::currentDateTime(), QStringLiteral("  %1 g").arg(i), QString::number(i));
    EXPECT_EQ(log.lineCount(), 10);
    EXPECT_TRUE(lines().last().endsWith(QStringLiteral("  4 g")));
}

TEST_F(EventLogTest, FollowsTheEndOnlyWhileTheUserIsAtTheEnd)
{
    pane.resize(300, 120);
    pane.show();
    for (int i = 0; i < 200; ++i)
        log.logEvent(QStringLiteral("line %1").arg(i));
    runs_test::settle();
    QScrollBar *bar = pane.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // Scrolled up to read: new entries do not pull the view away.
    bar->setValue(10);
    log.logEvent(QStringLiteral("one more"));
    runs_test::settle();
    EXPECT_EQ(bar->value(), 10);
}

} // namespace
