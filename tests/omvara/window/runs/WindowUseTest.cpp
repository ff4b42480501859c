// SPDX-License-Identifier: GPL-3.0-or-later
// The window as it is used over a working day: its size, its colours on light
// and dark themes, the chart, the tray, closing it during a run, the first start.
#include "RunsTestSupport.h"

#include "omvara/util/Bundle.h"
#include "omvara/window/Contrast.h"
#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/ReadingsChart.h"
#include "omvara/window/RunControl.h"
#include "omvara/window/RunPanel.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/StatusLine.h"
#include "omvara/window/UserState.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextFragment>

#include <gtest/gtest.h>

#include <cmath>

using runs_test::Harness;
using runs_test::runUntil;
using runs_test::settle;

namespace {

QString text(const char *key)
{
    return omvara::util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

QPalette lightPalette()
{
    QPalette p;
    p.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xFF));
    p.setColor(QPalette::Text, QColor(0x00, 0x00, 0x00));
    p.setColor(QPalette::Window, QColor(0xEF, 0xEF, 0xEF));
    p.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x00));
    p.setColor(QPalette::Highlight, QColor(0x30, 0x8C, 0xC6));
    return p;
}

// A dark desktop theme, on which a log in fixed dark colours was black on dark grey.
QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2A));
    p.setColor(QPalette::Text, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::WindowText, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    return p;
}

// Every kind of entry and mark the log shows.
void logEveryKind(omvara::EventLog &log)
{
    const QDateTime now = QDateTime::currentDateTime();
    log.logEvent(QStringLiteral("Instrument: Sartorius"));
    log.logImportantEvent(QStringLiteral("The device was lost"));
    log.appendDataLine(now, QStringLiteral("+    12.345 g  <CR>"), QStringLiteral("12.35"), 1);
    log.markDataLine(1, omvara::valueMark(omvara::ValueFate::Typed, QStringLiteral("12,35")));
    log.appendDataLine(now, QStringLiteral("+    12.500 g  <CR>"), QStringLiteral("12.50"), 2);
    log.markDataLine(
        2, omvara::valueMark(omvara::ValueFate::NotTyped, QStringLiteral("12.50"), QStringLiteral("focus")));
    log.appendDataLine(now, QStringLiteral("+    12.600 g  <CR>"), QStringLiteral("12.60"), 3);
    log.markDataLine(3, omvara::valueMark(omvara::ValueFate::Held, QStringLiteral("12.60")));
    log.appendDataLine(now, QStringLiteral("    High        <CR>"), QStringLiteral("High"), 4);
    log.markDataLine(4, {}, omvara::LogStyle::Unknown);
    log.appendDataLine(now, QStringLiteral("+    12.600 g  <CR>"), QString(), 5);
    log.flush();
}

// The lowest contrast of any piece of text in the log against what it is drawn on.
double lowestContrast(const QPlainTextEdit &pane, QString &where)
{
    const QColor base = pane.palette().color(QPalette::Base);
    double lowest = 21.0;
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.text().trimmed().isEmpty())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            const QColor fg = format.foreground().style() == Qt::NoBrush
                ? pane.palette().color(QPalette::Text)
                : format.foreground().color();
            const QColor bg = format.background().style() == Qt::NoBrush ? base : format.background().color();
            const double ratio = omvara::contrastRatio(fg, bg);
            if (ratio < lowest) {
                lowest = ratio;
                where = fragment.text();
            }
        }
    }
    return lowest;
}

TEST(WindowColours, EveryMarkOfTheLogIsReadableOnLightAndDarkPalettes)
{
    runs_test::app();
    struct Case
    {
        const char *name;
        QPalette palette;
    };
    for (const Case &c : { Case { "light", lightPalette() }, Case { "dark", darkPalette() } }) {
        SCOPED_TRACE(c.name);
        QPlainTextEdit pane;
        pane.setPalette(c.palette);
        pane.resize(600, 300);
        omvara::EventLog log(pane.document(), &pane);
        logEveryKind(log);
        // Rendered as the window shows it.
        const QImage shot = pane.grab().toImage();
        EXPECT_FALSE(shot.isNull());
        QString where;
        EXPECT_GE(lowestContrast(pane, where), omvara::ReadableContrast) << where.toStdString();
    }
}

TEST(WindowColours, ALogWrittenOnALightThemeIsRecolouredForADarkOne)
{
    runs_test::app();
    QPlainTextEdit pane;
    pane.setPalette(lightPalette());
    omvara::EventLog log(pane.document(), &pane);
    logEveryKind(log);
    pane.setPalette(darkPalette()); // the desktop switches its theme
    QString where;
    EXPECT_GE(lowestContrast(pane, where), omvara::ReadableContrast) << where.toStdString();
}

TEST(WindowChart, TicksOnRoundNumbersWholeTimeLabelsAndAGapWhereTheDeviceWasAway)
{
    runs_test::app();
    omvara::ReadingsChart chart(300);
    chart.setPalette(darkPalette());
    chart.resize(330, 200); // the chart's share of the window at its default size
    chart.show();
    settle();
    const QDateTime start = QDateTime::currentDateTime();
    const double readings[] = { 110.673, 111.02, 112.4181, 110.9, 113.377 };
    for (int i = 0; i < 5; ++i)
        chart.add(start.addSecs(i), readings[i]);
    // The axis ends on round numbers (not 110.673 - margin).
    for (const double end : { chart.valueMin(), chart.valueMax() })
        EXPECT_NEAR(end * 2, std::round(end * 2), 1e-9) << end;
    EXPECT_LE(chart.valueMin(), 110.673);
    EXPECT_GE(chart.valueMax(), 113.377);
    // Each "HH:mm:ss" label has room of its own.
    const int label = QFontMetrics(chart.font()).horizontalAdvance(QStringLiteral("00:00:00"));
    EXPECT_GE(chart.timeTicks(), 2);
    EXPECT_LE(chart.timeTicks() * label, chart.width());
    EXPECT_EQ(chart.pieces(), 1);

    chart.breakLine(); // the device went away
    chart.add(start.addSecs(20), 111.0);
    chart.add(start.addSecs(21), 111.5);
    EXPECT_EQ(chart.pieces(), 2) << "the line leaves a gap for the time the device was away";
    EXPECT_EQ(chart.points(), 7);
}

class WindowUse : public ::testing::Test
{
protected:
    void SetUp() override
    {
        com3 = &h.sim->addPort(
            QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
        com3->setNoModemLines(true);
    }
    void startWindow(bool tray)
    {
        omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
        settings.setMinimizeToTray(tray);
        settings.setNotifyWhenMinimizedToTray(false);
        h.fakeTray = true;
        h.storeSettings(settings);
        ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
        QObject::connect(
            &h.startup(), &omvara::StartupSequence::closed, [this](int status) { closed.append(status); });
        runs = h.startup().runControl();
    }
    void showWindow()
    {
        h.frame().setAttribute(Qt::WA_DontShowOnScreen);
        h.frame().show();
        settle();
    }
    bool startRun()
    {
        return runs->start() && runUntil([&] { return runs->isRunning(); });
    }

    Harness h;
    portlink::testing::SimulatedPort *com3 = nullptr;
    omvara::RunControl *runs = nullptr;
    QList<int> closed;
};

TEST_F(WindowUse, ALongStatusTextWrapsAndNeverWidensTheWindow)
{
    startWindow(false);
    showWindow();
    h.frame().resize(680, 540);
    settle();
    // Long texts, and long words that cannot wrap (a path, a network address).
    const QString path
        = QStringLiteral("/srv/lab/records/balance-room-2/").repeated(8) + QStringLiteral("records.csv");
    const QString reason
        = QStringLiteral("tcp://a-very-long-host-name.of.the.laboratory.network.example:4001 ").repeated(8);
    h.startup().statusLine()->setText(omvara::StatusLine::Slot::Problem,
        text("run.ended.at").replace(QStringLiteral("{1}"), reason + path));
    omvara::RunPanel &panel = *h.frame().runPanel;
    panel.begin(path, QStringLiteral("Sartorius"), QStringLiteral("x11"), true);
    panel.show();
    settle();
    EXPECT_EQ(h.frame().width(), 680);
    EXPECT_LE(h.frame().minimumSizeHint().width(), 680);
    // At 800x600 too.
    h.frame().resize(640, 480);
    settle();
    EXPECT_EQ(h.frame().width(), 640);
}

TEST_F(WindowUse, WaitingForTheDeviceSaysEachThingOnce)
{
    const QString waiting = text("waiting.for.device").replace(QStringLiteral("{0}"), QStringLiteral("COM3"));
    EXPECT_EQ(waiting.count(QStringLiteral("went away")) + waiting.count(QStringLiteral("lost")), 1);
    EXPECT_EQ(waiting.count(QStringLiteral("waiting")), 1);
    EXPECT_EQ(waiting.count(QStringLiteral("Stop")), 1);
}

TEST_F(WindowUse, TheWindowKeepsItsSizePerUserOutsideTheSettings)
{
    startWindow(false);
    showWindow();
    h.frame().resize(745, 505);
    settle();
    h.frame().close();
    ASSERT_EQ(closed, QList<int> { 0 });
    h.destroyWindow();

    ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
    EXPECT_EQ(h.frame().size(), QSize(745, 505));
    // Not among the settings: neither in the settings file nor in an export.
    QFile prefs(h.prefsFile);
    ASSERT_TRUE(prefs.open(QIODevice::ReadOnly));
    EXPECT_FALSE(prefs.readAll().contains("eometry"));
    const QString exported = h.dir.filePath(QStringLiteral("export.xml"));
    ASSERT_TRUE(h.frame().exportSettingsTo(exported));
    QFile xml(exported);
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    EXPECT_FALSE(xml.readAll().contains("eometry"));
}

// Closing with the close button during a run, with and without the tray.
TEST_F(WindowUse, ClosingDuringARunAsksAndDoNotAskAgainIsKept)
{
    struct Case
    {
        bool tray;
        int choice;
        bool checked;
        const char *expectedFirst; // the first button offered
        bool quits;
        bool keepsRunning;
    };
    const Case cases[] = {
        { true, 0, false, "close.keep.in.tray", false, true },
        { true, 1, false, "close.keep.in.tray", true, false },
        { false, 0, false, "close.stop.and.quit", true, false },
        { false, 1, false, "close.stop.and.quit", false, true },
        { true, 0, true, "close.keep.in.tray", false, true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(
            ::testing::Message() << "tray " << c.tray << " choice " << c.choice << " checked " << c.checked);
        h.destroyWindow();
        closed.clear();
        h.choices.clear();
        QFile::remove(h.userStateFile);
        h.choice = c.choice;
        h.checked = c.checked;
        startWindow(c.tray);
        showWindow();
        ASSERT_TRUE(startRun());
        h.frame().close();
        ASSERT_EQ(h.choices.size(), 1u);
        EXPECT_EQ(h.choices[0].choices.value(0), text(c.expectedFirst));
        EXPECT_EQ(h.choices[0].choices.size(), 2);
        EXPECT_EQ(h.choices[0].checkBox, text("close.do.not.ask.again"));
        EXPECT_EQ(closed.size(), c.quits ? 1 : 0);
        if (c.quits)
            EXPECT_TRUE(runUntil([&] { return !runs->isRunning(); })) << "the run ends with the program";
        else
            EXPECT_TRUE(runs->isRunning());
        if (c.tray && c.keepsRunning) {
            EXPECT_TRUE(runUntil([&] { return !h.frame().isVisible(); })) << "kept running in the tray";
            EXPECT_TRUE(h.trayState.visible);
        }
        if (c.checked) {
            // The answer stands for this user: the next close does not ask.
            omvara::UserState state(h.userStateFile);
            EXPECT_EQ(state.closeAnswer(), omvara::UserState::CloseAnswer::KeepInTray);
            h.startup().traySupport()->restoreFromTray();
            h.frame().close();
            EXPECT_EQ(h.choices.size(), 1u);
            EXPECT_TRUE(runs->isRunning());
            // Undone on the Settings tab: the next close asks again.
            QPushButton *askAgain = h.frame().settingsPanel->askOnCloseButton;
            ASSERT_TRUE(askAgain->isEnabled());
            askAgain->click();
            EXPECT_FALSE(askAgain->isEnabled());
            EXPECT_EQ(omvara::UserState(h.userStateFile).closeAnswer(), omvara::UserState::CloseAnswer::Ask);
            h.startup().traySupport()->restoreFromTray();
            h.frame().close();
            EXPECT_EQ(h.choices.size(), 2u);
        }
        runs->stop();
        ASSERT_TRUE(runUntil([&] { return !runs->isRunning(); }));
    }
}

TEST_F(WindowUse, SessionEndAsksNothingAndEndsTheRun)
{
    startWindow(true);
    ASSERT_TRUE(startRun());
    h.startup().endSession();
    EXPECT_TRUE(h.choices.empty());
    EXPECT_EQ(closed, QList<int> { 0 });
    EXPECT_TRUE(runUntil([&] { return !runs->isRunning(); }));
}

TEST_F(WindowUse, TrayMenuAndTooltipFollowTheRun)
{
    startWindow(true);
    const auto menuTexts = [&] {
        QStringList texts;
        for (const auto &entry : h.trayState.menu)
            texts.append(entry.visible ? entry.text : QStringLiteral("(%1)").arg(entry.text));
        return texts;
    };
    EXPECT_EQ(menuTexts(),
        (QStringList { text("tray.show"), text("tray.start"),
            QStringLiteral("(%1)").arg(text("tray.request.reading")), text("tray.quit") }));
    EXPECT_EQ(h.trayState.toolTip, text("tray.tooltip.stopped"));

    // Start from the tray menu; a value arrives.
    h.trayState.menu[1].action();
    ASSERT_TRUE(runUntil([&] { return runs->isRunning() && menuTexts().value(1) == text("tray.stop"); }));
    com3->feed("12.5\r\n");
    ASSERT_TRUE(runUntil([&] { return h.trayState.toolTip.contains(QStringLiteral("12.5")); }))
        << h.trayState.toolTip.toStdString();
    EXPECT_TRUE(h.trayState.toolTip.contains(QStringLiteral("COM3")));

    // Quit from the tray: no question, the run ends with the program.
    h.trayState.menu[3].action();
    EXPECT_TRUE(h.choices.empty());
    EXPECT_EQ(closed, QList<int> { 0 });
}

TEST(WindowFirstStart, TheStartTabSaysWhatToDoFirstOnlyOnTheFirstStart)
{
    for (const bool stored : { false, true }) {
        SCOPED_TRACE(stored);
        Harness h;
        h.sim->addPort(QStringLiteral("COM3"));
        if (stored)
            h.storeSettings(Harness::settingsFor(QStringLiteral("COM3")));
        ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
        QLabel *hint = h.frame().firstStartHint;
        ASSERT_NE(hint, nullptr);
        EXPECT_EQ(!hint->isHidden(), !stored);
        EXPECT_TRUE(hint->text().contains(QStringLiteral("Choose the port and instrument on the Input tab")));
        // Gone once the Input tab has been seen.
        h.frame().tabbedPane->setCurrentWidget(h.frame().inputPanel);
        h.frame().tabbedPane->setCurrentIndex(0);
        EXPECT_TRUE(hint->isHidden());
    }
}

} // namespace
