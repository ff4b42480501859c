// SPDX-License-Identifier: GPL-3.0-or-later
#include "BrokerProcesses.h"
#include "RunsTestSupport.h"

#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/util/Bundle.h"
#include "omvara/window/AboutPanel.h"
#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/PortDoctorDialog.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RunControl.h"
#include "omvara/window/RunPanel.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/StatusLine.h"
#include "omvara/window/TraySupport.h"
#include "omvara/window/links/JLabelHtml.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using runs_test::Harness;
using runs_test::runUntil;
using namespace std::chrono_literals;

namespace {

QString text(const char *key)
{
    return omvara::util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

class RunControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        com3 = &h.sim->addPort(
            QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
        com3->setNoModemLines(true);
    }

    void startWindow(omvara::config::Config settings)
    {
        h.storeSettings(settings);
        ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
        runs = h.startup().runControl();
    }

    bool pressStartStop()
    {
        h.frame().startStopJButton->click();
        return true;
    }

    bool waitRunning(bool running)
    {
        return runUntil([&] {
            return runs->isRunning() == running && h.frame().tabbedPane->count() == (running ? 3 : 7);
        });
    }

    QString logText() { return h.startup().eventLogPane()->toPlainText(); }

    // The texts shown in the "typed" style, in order.
    QStringList typedTexts()
    {
        const QTextCharFormat typed = h.startup().eventLog()->style(omvara::LogStyle::Typed);
        QStringList found;
        const QTextDocument *doc = h.startup().eventLogPane()->document();
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().background() == typed.background())
                    found.append(it.fragment().text());
        return found;
    }

    Harness h;
    portlink::testing::SimulatedPort *com3 = nullptr;
    omvara::RunControl *runs = nullptr;
};

TEST_F(RunControlTest, RunningShowsThreeTabsAndStopBringsBackAllSevenInOrder)
{
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    omvara::RadezoZiDadFrame2 &f = h.frame();
    const QList<QWidget *> stoppedOrder = { f.panel1, f.inputPanel, f.processingPanel, f.outputPanel,
        f.settingsPanel, f.eventLogPanel, f.aboutPanel };
    const QStringList titles = h.tabTitles();
    ASSERT_EQ(titles.size(), 7);

    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    EXPECT_EQ(h.tabTitles(), (QStringList { titles[0], titles[5], titles[6] }));
    EXPECT_EQ(f.startStopJButton->text(), text("RadezoZiDadFrame2.startStopJButton.textStop"));
    EXPECT_EQ(f.statusJLabel->text(), text("switch.to.target.application"));

    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(f.tabbedPane->widget(i), stoppedOrder[i]) << "tab " << i;
    EXPECT_EQ(h.tabTitles(), titles);
    EXPECT_EQ(f.startStopJButton->text(), text("RadezoZiDadFrame2.startStopJButton.text"));
    EXPECT_TRUE(runUntil([&] { return !com3->isOpen(); })) << "Stop closes the port";
    EXPECT_TRUE(h.messages.empty());

    // A second run works the same way.
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

TEST_F(RunControlTest, ReceivedLineIsLoggedMarkedCountedAndTyped)
{
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    ASSERT_TRUE(h.injector.load() != nullptr);

    com3->feed("  12.30 g\r\n");
    ASSERT_TRUE(runUntil([&] { return typedTexts() == QStringList { QStringLiteral("12.30") }; }))
        << logText().toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("12.30 g<13>"))) << logText().toStdString();
    EXPECT_TRUE(h.frame().statusJLabel->text().startsWith(text("line.count")));
    EXPECT_TRUE(h.frame().statusJLabel->text().endsWith(QStringLiteral("1")));

    // The value in the received text is emphasised; the typed value follows
    // at the end of the line, and only it carries the "typed" style.
    omvara::EventLog &log = *h.startup().eventLog();
    const QTextDocument *doc = h.startup().eventLogPane()->document();
    QStringList valueParts;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().fontWeight() == log.style(omvara::LogStyle::Value).fontWeight()
                && it.fragment().charFormat().background() != log.style(omvara::LogStyle::Typed).background())
                valueParts.append(it.fragment().text());
    EXPECT_TRUE(valueParts.contains(QStringLiteral("12.30"))) << valueParts.join(u'|').toStdString();
    // The keyboard received the value's keys.
    EXPECT_TRUE(runUntil([&] { return !h.injector.load()->events().empty(); }));

    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

TEST_F(RunControlTest, CapsLockWarnsAndTheRunStillStartsAndTypes)
{
    h.capsLock = true;
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    pressStartStop();
    EXPECT_TRUE(h.shown(text("warning"), text("please.turn.off.caps.lock")));
    ASSERT_TRUE(waitRunning(true));
    com3->feed("  7.5 g\r\n");
    EXPECT_TRUE(runUntil([&] { return !h.injector.load()->events().empty(); }));
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

TEST_F(RunControlTest, KeyboardAndSoundFailuresAreShownAndTheRunStarts)
{
    struct Case
    {
        const char *name;
        bool keyboardFails;
        bool soundFails;
    };
    for (const Case c :
        { Case { "keyboard", true, false }, Case { "sound", false, true }, Case { "both", true, true } }) {
        SCOPED_TRACE(c.name);
        Harness local;
        auto &port = local.sim->addPort(QStringLiteral("COM3"));
        port.setNoModemLines(true);
        local.keyboardFails = c.keyboardFails;
        local.soundFails = c.soundFails;
        omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
        settings.setSound(omvara::config::ConfigHelper::Sound::COWBELL);
        local.storeSettings(settings);
        ASSERT_TRUE(local.start({ QStringLiteral("COM3") }));
        omvara::RunControl &control = *local.startup().runControl();

        EXPECT_TRUE(control.start());
        EXPECT_EQ(local.shown(text("error"), QStringLiteral("no display for typing")), c.keyboardFails);
        EXPECT_EQ(local.shown(text("sound.output.error"), QStringLiteral("no audio device")), c.soundFails);
        EXPECT_EQ(local.soundBotsMade, 1);
        EXPECT_EQ(control.keyBot() == nullptr, c.keyboardFails);
        ASSERT_TRUE(runUntil([&] { return control.isRunning() && local.frame().tabbedPane->count() == 3; }));

        // Lines are still received and logged without keyboard output, and
        // the window says that they are not typed, and why.
        port.feed("  3.25 kg\r\n");
        EXPECT_TRUE(runUntil([&] {
            return local.startup().eventLogPane()->toPlainText().contains(QStringLiteral("3.25 kg"));
        }));
        const QString log = local.startup().eventLogPane()->toPlainText();
        EXPECT_EQ(log.contains(text("keyboard.output.started.type")), !c.keyboardFails) << qPrintable(log);
        EXPECT_EQ(log.contains(text("keyboard.output.off") + QStringLiteral("no display for typing")),
            c.keyboardFails)
            << qPrintable(log);
        if (c.keyboardFails) {
            ASSERT_TRUE(runUntil([&] {
                return local.frame().statusJLabel->text()
                    == text("keyboard.failed.status")
                           .replace(QStringLiteral("{0}"), QStringLiteral("no display for typing"));
            })) << qPrintable(local.frame().statusJLabel->text());
        }
        control.stop();
        ASSERT_TRUE(runUntil([&] { return !control.isRunning() && local.frame().tabbedPane->count() == 7; }));
    }
}

TEST_F(RunControlTest, PortThatCannotBeOpenedShowsItsMessageAndNothingRuns)
{
    com3->failOpen(1002); // in use
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    EXPECT_FALSE(runs->start());
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].title, text("error.opening.port"));
    EXPECT_FALSE(h.messages[0].text.isEmpty());
    runs_test::settle(50ms);
    EXPECT_FALSE(runs->isRunning());
    EXPECT_EQ(h.frame().tabbedPane->count(), 7);
    EXPECT_EQ(h.frame().startStopJButton->text(), text("RadezoZiDadFrame2.startStopJButton.text"));
    EXPECT_EQ(runs->keyBot(), nullptr) << "the keyboard output of a run that did not start is released";
    EXPECT_FALSE(runs->hasWorker());
}

TEST_F(RunControlTest, RepeatedValueIsShownIgnoredAndNotTypedAgain)
{
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setIgnoreDuplicates(true);
    settings.setIgnoreTimeLimit(QString()); // no time limit
    settings.setIgnoreDifference(QString());
    startWindow(std::move(settings));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));

    // The generic instrument ends its lines with CR alone.
    com3->feed("  12.30 g\r");
    ASSERT_TRUE(runUntil([&] { return !h.injector.load()->events().empty(); }));
    runs_test::settle(100ms);
    const auto typedOnce = h.injector.load()->events().size();
    com3->feed("  12.30 g\r  12.40 g\r");
    ASSERT_TRUE(runUntil([&] {
        return logText().contains(QStringLiteral("12.40 g")) && typedTexts().size() == 2;
    })) << logText().toStdString();
    runs_test::settle(100ms);
    // The repeat is logged without a typed part; only the new value was typed.
    EXPECT_EQ(typedTexts(), (QStringList { QStringLiteral("12.30"), QStringLiteral("12.40") }))
        << logText().toStdString();
    EXPECT_EQ(logText().count(QStringLiteral("12.30 g")), 2);
    EXPECT_EQ(h.injector.load()->events().size(), 2 * typedOnce) << "the repeat was typed";
    EXPECT_TRUE(h.frame().statusJLabel->text().endsWith(QStringLiteral("3")));
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

TEST_F(RunControlTest, EndingTheProgramDuringARunStopsItBeforeTheLogGoes)
{
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    for (int i = 0; i < 20; ++i)
        com3->feed("  1.25 g\r\n");
    runs_test::settle(20ms);
    h.frame().close();
    h.destroyWindow(); // the reception and keyboard threads end before the event log is deleted
    EXPECT_FALSE(com3->isOpen());
}

TEST_F(RunControlTest, WorkerEndingByItselfReturnsToTheStoppedLook)
{
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    com3->unplug();
    ASSERT_TRUE(waitRunning(false));
    EXPECT_FALSE(runs->hasWorker());
    // A new Start works after the device is back.
    com3->replug();
    pressStartStop();
    EXPECT_TRUE(waitRunning(true));
    pressStartStop();
    EXPECT_TRUE(waitRunning(false));
}

TEST_F(RunControlTest, SettingsChangedDuringARunDoNotReachTheRunningWorker)
{
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    h.frame().getConfig().setPort(QStringLiteral("COM9"));
    h.frame().getConfig().setRemoveCharacters(QStringLiteral("0123456789"));
    com3->feed("  4.75 g\r\n");
    // The run kept the settings it was started with: the digits were not
    // removed. (The typed mark follows the line once the keyboard is done.)
    ASSERT_TRUE(runUntil([&] { return !typedTexts().isEmpty(); })) << logText().toStdString();
    EXPECT_EQ(typedTexts(), QStringList { QStringLiteral("4.75") });
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

// What the log shows of each line: the typed value at its end ("→ 12,35",
// also where it does not stand in the received text), a line without a value
// in the "not located" style, a repeat without a mark; the running tab shows
// the last typed value, the counts, port and instrument, and the chart.
TEST_F(RunControlTest, TypedValuesAreMarkedAtTheEndAndTheRunningTabShowsTheRun)
{
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setDecimalPlaces(QStringLiteral("2"));
    settings.setDecimalSeparator(omvara::config::ConfigHelper::DecimalSeparator::COMMA);
    startWindow(std::move(settings));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    com3->feed("  12.345 g\r  no value\r  7.5 g\r");
    ASSERT_TRUE(runUntil([&] { return typedTexts().size() == 2; })) << logText().toStdString();
    EXPECT_EQ(typedTexts(), (QStringList { QStringLiteral("12,35"), QStringLiteral("7,5") }));
    EXPECT_TRUE(logText().contains(QStringLiteral("12.345 g<13>  \u2192 12,35"))) << logText().toStdString();
    // The line without a value, whole in the "not located" style.
    const QTextCharFormat unknown = h.startup().eventLog()->style(omvara::LogStyle::Unknown);
    const QTextDocument *doc = h.startup().eventLogPane()->document();
    bool noValueSeen = false;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (!block.text().contains(QStringLiteral("no value")))
            continue;
        noValueSeen = true;
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_EQ(it.fragment().charFormat().foreground(), unknown.foreground())
                << block.text().toStdString();
    }
    EXPECT_TRUE(noValueSeen);

    omvara::RunPanel &panel = *h.frame().runPanel;
    EXPECT_TRUE(panel.isVisibleTo(h.frame().panel1));
    EXPECT_EQ(panel.lastValue(), QStringLiteral("7,5"));
    EXPECT_TRUE(h.frame().statusJLabel->text().startsWith(text("line.count")))
        << "a value was typed: the counts";
    EXPECT_TRUE(panel.countsText().contains(QStringLiteral("2"))) << panel.countsText().toStdString();
    EXPECT_TRUE(panel.countsText().contains(QStringLiteral("3"))) << panel.countsText().toStdString();
    EXPECT_EQ(panel.chartPoints(), 2);
    EXPECT_TRUE(panel.stateText().contains(QStringLiteral("keyboard"))) << panel.stateText().toStdString();
    h.frame().setAttribute(Qt::WA_DontShowOnScreen);
    h.frame().resize(900, 560);
    h.frame().show();
    runs_test::settle(50ms);
    EXPECT_GT(h.frame().startStopJButton->width() * h.frame().startStopJButton->height(),
        panel.width() * panel.height() / 2)
        << "Stop stays the largest target";
    EXPECT_GT(h.frame().startStopJButton->width(), panel.width());
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
    EXPECT_FALSE(panel.isVisibleTo(h.frame().panel1));
}

// Values that arrive while the program's own window has the keyboard focus
// are not typed: their lines get the not-typed mark, never the arrow, and
// the hint to switch to the target application stays until a value has
// been typed elsewhere.
TEST_F(RunControlTest, ValuesArrivingWhileOmvaraHasTheFocus_areNotTypedAndTheHintStays)
{
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    h.frame().show();
    h.frame().activateWindow();
    ASSERT_TRUE(runUntil([] { return QGuiApplication::focusWindow() != nullptr; }));
    com3->feed("  1.5 g\r");
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("\u2298")); }))
        << logText().toStdString();
    EXPECT_TRUE(typedTexts().isEmpty());
    EXPECT_TRUE(h.injector.load()->events().empty());
    // Said in large type on the first tab and in the status line, with the count.
    EXPECT_EQ(h.frame().statusJLabel->text(),
        text("status.own.focus").replace(QStringLiteral("{0}"), QStringLiteral("1")));
    EXPECT_TRUE(h.frame().runPanel->noticeText().startsWith(QStringLiteral("Not typed")))
        << h.frame().runPanel->noticeText().toStdString();
    EXPECT_TRUE(h.frame().runPanel->stateText().contains(QStringLiteral("keyboard: not typing")))
        << h.frame().runPanel->stateText().toStdString();
    com3->feed("  1.6 g\r");
    ASSERT_TRUE(runUntil([&] {
        return h.frame().runPanel->noticeText().contains(QStringLiteral("2 value"));
    })) << h.frame().runPanel->noticeText().toStdString();
    EXPECT_EQ(logText().count(QStringLiteral("1.6")), 1)
        << "one line per reading: " << logText().toStdString();
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

// Held readings and a cut value are told on the first tab and in the status
// line; after the cut nothing is typed until Resume is pressed.
TEST_F(RunControlTest, HeldReadingsAndACutValue_areToldOnTheFirstTab_resumeTypesOnAfterTheCut)
{
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setStableReadings(2);
    startWindow(std::move(settings));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    omvara::RunPanel &panel = *h.frame().runPanel;
    com3->feed("  1.5 g\r");
    const QString held = QStringLiteral("held: waiting for 2 equal readings (1 so far)");
    ASSERT_TRUE(runUntil([&] { return panel.heldText() == held; })) << panel.heldText().toStdString();
    EXPECT_EQ(h.frame().statusJLabel->text(), held);

    // The settled value loses the focus after its first key.
    h.injector.load()->moveFocusAfter(1, QStringLiteral("\u201cSheet\u201d"));
    com3->feed("  1.5 g\r");
    ASSERT_TRUE(runUntil([&] { return panel.resumeOffered(); })) << logText().toStdString();
    EXPECT_TRUE(panel.heldText().isEmpty() || h.frame().statusJLabel->text() != held);
    EXPECT_TRUE(panel.noticeText().contains(QStringLiteral("1 of the 3")))
        << panel.noticeText().toStdString();
    EXPECT_TRUE(panel.noticeText().contains(QStringLiteral("the recorder")))
        << panel.noticeText().toStdString();
    EXPECT_EQ(h.frame().statusJLabel->text(), text("status.cut"));
    EXPECT_TRUE(logText().contains(QStringLiteral("\u2702 cut: 1 of 3"))) << logText().toStdString();

    // Meanwhile nothing is typed; after Resume the next value is.
    com3->feed("  2.5 g\r  2.5 g\r");
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("typing waits after a cut")); }))
        << logText().toStdString();
    panel.findChild<QPushButton *>(QStringLiteral("resumeButton"))->click();
    EXPECT_FALSE(panel.resumeOffered());
    com3->feed("  3.5 g\r  3.5 g\r");
    ASSERT_TRUE(runUntil([&] { return typedTexts().contains(QStringLiteral("3.5")); }))
        << logText().toStdString();
    EXPECT_FALSE(typedTexts().contains(QStringLiteral("2.5")));
    EXPECT_TRUE(panel.countsText().contains(QStringLiteral("cut: 1"))) << panel.countsText().toStdString();
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

// The exception: a value asked for with the window's own Request button
// (shown when there is a command to send) waits for the focus to leave the
// program; Stop ends the wait, and the value is then not typed.
TEST_F(RunControlTest, ValueRequestedFromTheWindow_waitsForTheFocusToLeave_untilStop)
{
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setRequestCommand(QStringLiteral("P\\r"));
    startWindow(std::move(settings));
    com3->answerRequests("P\r", "  2.5 g\r");
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    h.frame().show();
    h.frame().activateWindow();
    ASSERT_TRUE(runUntil([] { return QGuiApplication::focusWindow() != nullptr; }));
    ASSERT_TRUE(h.frame().requestButton->isVisible());
    h.frame().requestButton->click();
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("waits up to 10 s")); }))
        << logText().toStdString();
    runs_test::settle(300ms);
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("Not typed")); }))
        << logText().toStdString();
    EXPECT_TRUE(typedTexts().isEmpty());
    EXPECT_FALSE(h.frame().requestButton->isVisible());
}

// A network port whose address takes the connection attempt and never
// answers: the window stays responsive meanwhile, and Stop ends the attempt
// at once, as a stop (no failure message).
TEST_F(RunControlTest, StopWhileANetworkPortConnects_endsTheAttemptAtOnce)
{
    // A listener that takes no connection: its queue is full after the first two.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &length);
    int fillers[3];
    for (int &f : fillers) {
        f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    runs_test::settle(200ms);

    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port));
    startWindow(Harness::settingsFor(QStringLiteral("COM3")));
    h.frame().inputPanel->portList->setEditText(address); // typed into the port list
    QElapsedTimer stopping;
    QTimer::singleShot(300ms, [&] {
        stopping.start();
        pressStartStop();
    });
    pressStartStop();
    EXPECT_TRUE(stopping.isValid()) << "the window took the second press while connecting\n"
                                    << logText().toStdString();
    ASSERT_NE(runs->currentRun(), nullptr);
    EXPECT_EQ(runs->currentRun()->state().end, omvara::run::RunState::End::Stopped);
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_TRUE(h.messages.empty()) << h.messages.front().text.toStdString();
    ASSERT_TRUE(waitRunning(false));
    EXPECT_EQ(runs->currentRun()->config().getPort(), address);
    for (int f : fillers)
        ::close(f);
    ::close(listener);
}

// A run that ends by itself is noticed: the status line says why and when
// until the next Start, the tray tells it when the window is in the tray,
// and the log's long entries wrap.
TEST_F(RunControlTest, RunEndingByItself_isToldInTheStatusLineUntilTheNextStartAndInTheTray)
{
    h.fakeTray = true;
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setMinimizeToTray(true);
    startWindow(std::move(settings));
    ASSERT_NE(h.startup().traySupport(), nullptr);
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    h.startup().traySupport()->icon().show(); // the window is in the tray
    com3->unplug();
    ASSERT_TRUE(waitRunning(false));
    const QString ended = h.frame().statusJLabel->text();
    EXPECT_TRUE(ended.startsWith(text("run.ended.at").section(QStringLiteral("{0}"), 0, 0)))
        << ended.toStdString();
    EXPECT_TRUE(ended.contains(QStringLiteral("lost"))) << ended.toStdString();
    ASSERT_EQ(h.trayState.messages.size(), 1);
    EXPECT_TRUE(h.trayState.messages[0].contains(QStringLiteral("lost")));
    EXPECT_EQ(h.startup().eventLogPane()->lineWrapMode(), QPlainTextEdit::WidgetWidth);

    runs_test::settle(100ms);
    EXPECT_EQ(h.frame().statusJLabel->text(), ended) << "the reason stays";
    com3->replug();
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    EXPECT_EQ(h.frame().statusJLabel->text(), text("switch.to.target.application"));
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

// A port that cannot be opened is told in plain words first, with the
// failure's own text after it.
TEST_F(RunControlTest, PortFailures_saySimplyWhatToDo)
{
    struct Case
    {
        int code;
        const char *plain;
    };
    for (const Case c : { Case { 1002, "open.failed.in.use" }, Case { 1008, "open.failed.no.device" },
             Case { 1006, "open.failed.permission" } }) {
        SCOPED_TRACE(c.plain);
        Harness local;
        auto &port = local.sim->addPort(QStringLiteral("COM3"));
        port.failOpen(c.code);
        local.storeSettings(Harness::settingsFor(QStringLiteral("COM3")));
        ASSERT_TRUE(local.start({ QStringLiteral("COM3") }));
        EXPECT_FALSE(local.startup().runControl()->start());
        ASSERT_EQ(local.messages.size(), 1u);
        EXPECT_TRUE(local.messages[0].text.startsWith(
            text(c.plain).replace(QStringLiteral("{0}"), QStringLiteral("COM3"))))
            << local.messages[0].text.toStdString();
        EXPECT_TRUE(local.messages[0].text.contains(QStringLiteral("SerOpenPort failed")));
        EXPECT_TRUE(local.messages[0].helpButton.isEmpty())
            << "no diagnosis for a port that is no device here";
    }
}

// For a device of this computer the failure offers "Why?", which shows what
// the port diagnosis finds on this machine.
TEST_F(RunControlTest, APortThatCannotBeOpened_offersWhy_andTheDiagnosisSaysIt)
{
    Harness local;
    const QString missing = QStringLiteral("/dev/ttyUSB97");
    local.sim->addPort(missing).failOpen(1008);
    local.storeSettings(Harness::settingsFor(missing));
    local.pressHelp = true;
    QString shown;
    const auto previous = omvara::MessageBoxes::setDialogRunner([&](QDialog &dialog) {
        auto *doctor = qobject_cast<omvara::PortDoctorDialog *>(&dialog);
        if (doctor && runs_test::runUntil([&] { return doctor->diagnosis().has_value(); }))
            shown = doctor->reportArea->toPlainText();
        return int(QDialog::Rejected);
    });
    ASSERT_TRUE(local.start({ missing }));
    EXPECT_FALSE(local.startup().runControl()->start());
    omvara::MessageBoxes::setDialogRunner(previous);
    ASSERT_EQ(local.messages.size(), 1u);
    EXPECT_EQ(local.messages[0].helpButton, text("error.opening.port.why"));
    EXPECT_TRUE(shown.contains(QStringLiteral("There is no device /dev/ttyUSB97."))) << shown.toStdString();
}

} // namespace

// A record file that cannot be opened at Start is asked about before the
// port opens: Cancel does not start; "start without the record" starts, and
// the record's trouble and a broker that cannot be reached each are told
// once in the event log and stay in the status line (above the run's own
// text) while the run goes on, until Stop.
TEST_F(RunControlTest, RecordFileAndBrokerThatFail_stayInTheStatusLine_andTheRunGoesOn)
{
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    const QString record = h.dir.filePath(QStringLiteral("missing/records.csv"));
    settings.setRecordFile(record);
    settings.setMqttUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab/scale").arg(broker_test::freePort()));
    startWindow(std::move(settings));
    const auto status = [&] { return h.frame().statusJLabel->text(); };

    const auto previous
        = omvara::MessageBoxes::setResponder([&](const omvara::MessageBoxes::Request &request) {
              h.messages.push_back({ request.title, request.text, request.helpButton });
              return omvara::MessageBoxes::Reply { omvara::MessageBoxes::Answer::Cancel, QString() };
          });
    EXPECT_FALSE(h.startup().runControl()->start());
    omvara::MessageBoxes::setResponder(previous);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].title, text("record.file.title"));
    EXPECT_TRUE(h.messages[0].text.contains(record)) << h.messages[0].text.toStdString();
    EXPECT_TRUE(h.messages[0].text.contains(text("record.start.without")))
        << h.messages[0].text.toStdString();
    EXPECT_FALSE(com3->isOpen()) << "asked before the port opened";
    ASSERT_TRUE(waitRunning(false));

    pressStartStop(); // the harness answers OK: start without the record
    ASSERT_TRUE(waitRunning(true));
    ASSERT_EQ(h.messages.size(), 2u);
    ASSERT_TRUE(runUntil([&] {
        return status().contains(text("record.not.written")) && status().contains(text("broker.not.reached"));
    })) << qPrintable(status());

    com3->feed("  12.30 g\r\n");
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("12.30")); }))
        << logText().toStdString();
    EXPECT_TRUE(status().contains(text("broker.not.reached"))) << qPrintable(status());
    EXPECT_TRUE(status().contains(text("record.not.written"))) << qPrintable(status());
    EXPECT_EQ(logText().count(QStringLiteral("cannot be opened")), 1) << logText().toStdString();
    EXPECT_EQ(logText().count(QStringLiteral("cannot be reached")), 1) << logText().toStdString();
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
    EXPECT_FALSE(status().contains(text("record.not.written"))) << qPrintable(status());
    EXPECT_FALSE(status().contains(text("broker.not.reached"))) << qPrintable(status());
}
