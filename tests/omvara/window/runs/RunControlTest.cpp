// SPDX-License-Identifier: GPL-3.0-or-later
#include "BrokerProcesses.h"
#include "RunsTestSupport.h"

#include "omvara/window/AboutPanel.h"
#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RunControl.h"
#include "omvara/window/StatusLine.h"
#include "omvara/util/Bundle.h"
#include "omvara/window/links/JLabelHtml.h"
#include "omvara/worker/keys/KeyCodes.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>

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
        com3 = &h.sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
        com3->setNoModemLines(true);
    }

    void startWindow(omvara::config::Config settings)
    {
        h.storeSettings(settings);
        ASSERT_TRUE(h.start({QStringLiteral("COM3")}));
        runs = h.startup().runControl();
    }

    bool pressStartStop()
    {
        h.frame().startStopJButton->click();
        return true;
    }

    bool waitRunning(bool running)
    {
        return runUntil([&] { return runs->isRunning() == running && h.frame().tabbedPane->count() == (running ? 3 : 7); });
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
    const QList<QWidget *> stoppedOrder = {f.panel1,         f.inputPanel,    f.processingPanel, f.outputPanel,
                                           f.settingsPanel, f.eventLogPanel, f.aboutPanel};
    const QStringList titles = h.tabTitles();
    ASSERT_EQ(titles.size(), 7);

    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    EXPECT_EQ(h.tabTitles(), (QStringList{titles[0], titles[5], titles[6]}));
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
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("12.30 g<13>")); })) << logText().toStdString();
    EXPECT_TRUE(h.frame().statusJLabel->text().startsWith(text("line.count")));
    EXPECT_TRUE(h.frame().statusJLabel->text().endsWith(QStringLiteral("1")));

    // The typed part carries the "typed" style, the rest does not.
    EXPECT_EQ(typedTexts(), QStringList{QStringLiteral("12.30")});
    omvara::EventLog &log = *h.startup().eventLog();
    bool typedSeen = false;
    const QTextDocument *doc = h.startup().eventLogPane()->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.text().contains(QStringLiteral("12.3"))) {
                typedSeen = true;
                EXPECT_EQ(fragment.charFormat().foreground(), log.style(omvara::LogStyle::Typed).foreground());
                EXPECT_EQ(fragment.charFormat().fontWeight(), log.style(omvara::LogStyle::Typed).fontWeight());
            }
        }
    }
    EXPECT_TRUE(typedSeen);
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
    for (const Case c : {Case{"keyboard", true, false}, Case{"sound", false, true}, Case{"both", true, true}}) {
        SCOPED_TRACE(c.name);
        Harness local;
        auto &port = local.sim->addPort(QStringLiteral("COM3"));
        port.setNoModemLines(true);
        local.keyboardFails = c.keyboardFails;
        local.soundFails = c.soundFails;
        omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
        settings.setSound(omvara::config::ConfigHelper::Sound::COWBELL);
        local.storeSettings(settings);
        ASSERT_TRUE(local.start({QStringLiteral("COM3")}));
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
        EXPECT_TRUE(runUntil(
            [&] { return local.startup().eventLogPane()->toPlainText().contains(QStringLiteral("3.25 kg")); }));
        const QString log = local.startup().eventLogPane()->toPlainText();
        EXPECT_EQ(log.contains(text("keyboard.output.started.type")), !c.keyboardFails) << qPrintable(log);
        EXPECT_EQ(log.contains(text("keyboard.output.off") + QStringLiteral("no display for typing")), c.keyboardFails)
            << qPrintable(log);
        if (c.keyboardFails) {
            control.stop();
            ASSERT_TRUE(runUntil([&] { return !control.isRunning(); }));
            EXPECT_TRUE(control.start());
            ASSERT_TRUE(runUntil([&] { return local.frame().statusJLabel->text() == text("running.not.typing"); }))
                << qPrintable(local.frame().statusJLabel->text());
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
    settings.ignoreDuplicates = true;
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
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("12.40 g")); }));
    runs_test::settle(100ms);
    // The repeat is logged without a typed part; only the new value was typed.
    EXPECT_EQ(typedTexts(), (QStringList{QStringLiteral("12.30"), QStringLiteral("12.40")})) << logText().toStdString();
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
    ASSERT_TRUE(runUntil([&] { return logText().contains(QStringLiteral("4.75 g")); }));
    // The run kept the settings it was started with: the digits were not removed.
    EXPECT_EQ(typedTexts(), QStringList{QStringLiteral("4.75")});
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}

} // namespace

// A record file that cannot be written and a broker that cannot be reached
// are each told once in the event log and stay in the status line while the
// run goes on, the line count included.
TEST_F(RunControlTest, RecordFileAndBrokerThatFail_stayInTheStatusLine_andTheRunGoesOn)
{
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setRecordFile(h.dir.filePath(QStringLiteral("missing/records.csv")));
    settings.setMqttUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab/scale").arg(broker_test::freePort()));
    startWindow(std::move(settings));
    pressStartStop();
    ASSERT_TRUE(waitRunning(true));
    const auto status = [&] { return h.frame().statusJLabel->text(); };
    ASSERT_TRUE(runUntil([&] {
        return status().contains(text("record.not.written")) && status().contains(text("broker.not.reached"));
    })) << qPrintable(status());
    EXPECT_TRUE(status().startsWith(text("switch.to.target.application"))) << qPrintable(status());

    com3->feed("  12.30 g\r\n");
    ASSERT_TRUE(runUntil([&] { return status().startsWith(text("line.count") + QStringLiteral("1")); }))
        << qPrintable(status());
    EXPECT_TRUE(status().contains(text("broker.not.reached"))) << qPrintable(status());
    EXPECT_TRUE(status().contains(text("record.not.written"))) << qPrintable(status());
    EXPECT_EQ(logText().count(QStringLiteral("Cannot write the record file")), 1) << logText().toStdString();
    EXPECT_EQ(logText().count(QStringLiteral("cannot be reached")), 1) << logText().toStdString();
    pressStartStop();
    ASSERT_TRUE(waitRunning(false));
}
