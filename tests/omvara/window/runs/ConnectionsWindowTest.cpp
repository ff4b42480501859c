// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/config/Connections.h"
#include "omvara/config/SettingsTable.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/window/ConnectionsPanel.h"
#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RunControl.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTreeWidget>

#include <gtest/gtest.h>

using runs_test::Harness;
using runs_test::runUntil;
using namespace std::chrono_literals;

namespace {

using omvara::outputs::keys::KeyEvent;

// The values the shared keyboard typed, one per Enter: digits, "-" and the
// characters typed as themselves; anything else shows as "?".
QStringList typedValues(const std::vector<KeyEvent> &events)
{
    namespace vk = omvara::outputs::keys::vk;
    QStringList values;
    QString current;
    for (const KeyEvent &e : events) {
        if (e.kind == KeyEvent::Release && e.value == vk::Enter) {
            values.append(current);
            current.clear();
        } else if (e.kind == KeyEvent::Press && e.value != vk::Enter) {
            if ((e.value >= '0' && e.value <= '9') || e.value == '-')
                current += QChar(char16_t(e.value));
            else if (vk::isCharacter(e.value))
                current += QChar(char16_t(vk::characterOf(e.value)));
            else
                current += u'?';
        }
    }
    return values;
}

// The event log's lines that are shown (the filter hides the others).
QStringList shownLines(QPlainTextEdit &pane)
{
    QStringList lines;
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next())
        if (block.isVisible() && !block.text().isEmpty())
            lines.append(block.text());
    return lines;
}

// Two connections made in the window, each with its own port and text
// before the value: started together, both type through the one keyboard;
// one device unplugged ends that connection while the other types on; Stop
// all; the settings saved, exported and imported into a fresh store hold
// both connections as the window had them.
TEST(ConnectionsWindowTest, twoConnections_typeInTurns_oneUnplugged_othersGoOn_settingsSurviveExportImport)
{
    Harness h;
    portlink::testing::SimulatedPort &com3 = h.sim->addPort(QStringLiteral("COM3"));
    portlink::testing::SimulatedPort &com4 = h.sim->addPort(QStringLiteral("COM4"));
    com3.setNoModemLines(true);
    com4.setNoModemLines(true);
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setStampBefore(QStringLiteral("7-"));
    settings.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
    settings.setDelay(QStringLiteral("0"));
    h.storeSettings(settings);
    ASSERT_TRUE(h.start());
    omvara::RadezoZiDadFrame2 &f = h.frame();
    omvara::RunControl &runs = *h.startup().runControl();
    omvara::ConnectionsPanel &list = *f.connectionsPanel;
    EXPECT_FALSE(list.connectionList->isVisibleTo(&f)) << "one connection: the window as before";
    // The one connection runs on a keyboard of its own, as always.
    f.startStopJButton->click();
    ASSERT_TRUE(runUntil([&] { return runs.isRunning() && h.injector.load() != nullptr; }));

    // A second connection meanwhile, from the first one's settings: its own port and stamp.
    QString problem;
    EXPECT_FALSE(f.addConnection(QStringLiteral("bad name"), 0, &problem));
    EXPECT_FALSE(problem.isEmpty());
    EXPECT_FALSE(f.addConnection(QStringLiteral("1"), 0, &problem)) << "the first one's name";
    ASSERT_TRUE(f.addConnection(QStringLiteral("scale-2"), 0, &problem)) << qPrintable(problem);
    EXPECT_EQ(f.selectedConnection(), 1);
    EXPECT_TRUE(list.connectionList->isVisibleTo(&f));
    EXPECT_EQ(list.connectionList->topLevelItemCount(), 2);
    EXPECT_EQ(f.outputPanel->stampBeforeTextField->text(), QStringLiteral("7-"));
    f.inputPanel->selectPort(QStringLiteral("COM4"));
    f.outputPanel->stampBeforeTextField->setText(QStringLiteral("8-"));
    // Back to the first: its tabs show its own settings again.
    ASSERT_TRUE(f.selectConnection(0));
    EXPECT_EQ(f.outputPanel->stampBeforeTextField->text(), QStringLiteral("7-"));
    EXPECT_EQ(f.getConfig().getPort(), QStringLiteral("COM3"));
    EXPECT_EQ(f.getConnections().at(1).getPort(), QStringLiteral("COM4"));
    EXPECT_EQ(f.getConnections().at(1).getStampBefore(), QStringLiteral("8-"));

    // Start all: the first one is started again with the second (after a
    // question), so that both type in turns on one keyboard.
    const std::size_t asked = h.messages.size();
    list.startAllButton->click();
    ASSERT_EQ(h.messages.size(), asked + 1);
    EXPECT_TRUE(h.messages.back().text.contains(QStringLiteral("started as the only one")));
    ASSERT_TRUE(runUntil([&] {
        return runs.isRunning(QStringLiteral("1")) && runs.isRunning(QStringLiteral("scale-2"))
            && com3.isOpen() && com4.isOpen() && runs.runOf(QStringLiteral("1"))->keybot() != nullptr;
    }));
    h.injector = nullptr;
    // The selected connection runs: its settings tabs are locked.
    ASSERT_TRUE(runUntil([&] { return f.tabbedPane->indexOf(f.inputPanel) < 0; }));
    EXPECT_FALSE(f.removeConnection(1, &problem)) << "a running connection stays";
    EXPECT_FALSE(f.renameConnection(1, QStringLiteral("other"), &problem)) << "and keeps its name";

    com3.feed("  123 g\r\n");
    ASSERT_TRUE(runUntil([&] { return typedValues(h.sharedKeys->events()).size() == 1; }));
    com4.feed("456\r\n");
    ASSERT_TRUE(runUntil([&] { return typedValues(h.sharedKeys->events()).size() == 2; }));
    EXPECT_EQ(typedValues(h.sharedKeys->events()),
        (QStringList { QStringLiteral("7-123"), QStringLiteral("8-456") }));
    EXPECT_EQ(h.injector.load(), nullptr) << "several connections type only on the shared keyboard";
    EXPECT_EQ(h.messages.size(), asked + 1) << qPrintable(h.messages.back().text);
    ASSERT_TRUE(runUntil([&] { return list.lastValue(QStringLiteral("scale-2")) == QStringLiteral("456"); }));
    EXPECT_EQ(list.lastValue(QStringLiteral("1")), QStringLiteral("123"));

    // The second device goes: that connection ends alone, the first types on.
    com4.unplug();
    ASSERT_TRUE(runUntil([&] { return !runs.isRunning(QStringLiteral("scale-2")); }));
    EXPECT_TRUE(runs.isRunning(QStringLiteral("1")));
    EXPECT_NE(list.stateText(QStringLiteral("scale-2")), list.stateText(QStringLiteral("1")));
    com3.feed("789\r\n");
    ASSERT_TRUE(runUntil([&] { return typedValues(h.sharedKeys->events()).size() == 3; }));
    EXPECT_EQ(typedValues(h.sharedKeys->events()).last(), QStringLiteral("7-789"));

    // The log names each line's connection, and shows one connection or all.
    QPlainTextEdit &pane = *h.startup().eventLogPane();
    h.startup().eventLog()->flush();
    const QStringList all = shownLines(pane);
    EXPECT_TRUE(all.filter(QStringLiteral("[scale-2] ")).size() > 0);
    EXPECT_TRUE(all.filter(QStringLiteral("[1] ")).size() > 0);
    h.startup().eventLog()->showOnly(QStringLiteral("scale-2"));
    EXPECT_TRUE(shownLines(pane).filter(QStringLiteral("[1] ")).isEmpty());
    EXPECT_FALSE(shownLines(pane).filter(QStringLiteral("[scale-2] ")).isEmpty());
    h.startup().eventLog()->showOnly({});
    EXPECT_EQ(shownLines(pane), all);

    list.stopAllButton->click();
    ASSERT_TRUE(runUntil([&] { return !runs.anyRunning() && !com3.isOpen(); }));
    ASSERT_TRUE(runUntil([&] { return f.tabbedPane->indexOf(f.inputPanel) >= 0; }));
    ASSERT_TRUE(f.renameConnection(1, QStringLiteral("scale_B"), &problem)) << qPrintable(problem);

    // Saved, exported, and imported into a fresh store: the same connections.
    const omvara::config::Connections shown = f.getConnections().copy();
    const QString exported = h.dir.filePath(QStringLiteral("connections.xml"));
    ASSERT_TRUE(f.exportSettingsTo(exported));
    const QString freshFile = h.dir.filePath(QStringLiteral("fresh.txt"));
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, freshFile);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    {
        omvara::prefs::FilePreferencesFactory freshFactory;
        omvara::config::ConfigStore fresh(freshFactory);
        fresh.importFrom(exported);
        omvara::config::Connections loaded;
        ASSERT_TRUE(fresh.loadConnections(loaded, { QStringLiteral("COM3"), QStringLiteral("COM4") }));
        EXPECT_EQ(loaded.names(), (QStringList { QStringLiteral("1"), QStringLiteral("scale_B") }));
        for (qsizetype i = 0; i < shown.size(); ++i)
            EXPECT_FALSE(loaded.at(i).hasChanged(shown.at(i))) << "connection " << i;
        EXPECT_EQ(loaded.at(1).getPort(), QStringLiteral("COM4"));
        EXPECT_EQ(loaded.at(1).getStampBefore(), QStringLiteral("8-"));
    }
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, h.prefsFile);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
}

// The command line names connections of this run with their ports (one not
// stored yet starts from the first one's settings) and changes a setting of
// one connection or of all; the first one named is shown. Automatic start
// starts every connection marked for it (the ports given are the ones to
// use, whatever was used before).
TEST(ConnectionsWindowTest, commandLine_namesConnectionsAndSetsTheirSettings_automaticStartStartsEach)
{
    Harness h;
    portlink::testing::SimulatedPort &com3 = h.sim->addPort(QStringLiteral("COM3"));
    portlink::testing::SimulatedPort &com4 = h.sim->addPort(QStringLiteral("COM4"));
    com3.setNoModemLines(true);
    com4.setNoModemLines(true);
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setConnect(omvara::config::ConfigHelper::Connect::AUTO);
    h.storeSettings(settings);
    ASSERT_TRUE(h.start({ QStringLiteral("--connection"), QStringLiteral("gauge=COM4"),
        QStringLiteral("--set"), QStringLiteral("gauge:stampBefore=G-"), QStringLiteral("--set=delay=7") }));
    omvara::RadezoZiDadFrame2 &f = h.frame();
    const omvara::config::Connections &all = f.getConnections();
    ASSERT_EQ(all.names(), (QStringList { QStringLiteral("1"), QStringLiteral("gauge") }));
    EXPECT_EQ(all.at(0).getPort(), QStringLiteral("COM3"));
    EXPECT_EQ(all.at(1).getPort(), QStringLiteral("COM4"));
    EXPECT_EQ(all.at(0).getStampBefore(), QString());
    EXPECT_EQ(all.at(1).getStampBefore(), QStringLiteral("G-"));
    EXPECT_EQ(all.at(0).getDelay(), QStringLiteral("7"));
    EXPECT_EQ(all.at(1).getDelay(), QStringLiteral("7"));
    EXPECT_EQ(f.selectedConnection(), 1);
    EXPECT_EQ(f.outputPanel->stampBeforeTextField->text(), QStringLiteral("G-"));

    omvara::RunControl &runs = *h.startup().runControl();
    ASSERT_TRUE(
        runUntil([&] { return com3.isOpen() && com4.isOpen() && runs.isRunning(QStringLiteral("1")); }));
    EXPECT_TRUE(h.messages.empty()) << qPrintable(h.messages.front().text);
    runs.stopAll();
    ASSERT_TRUE(runUntil([&] { return !runs.anyRunning() && !com3.isOpen() && !com4.isOpen(); }));

    // What --set gave holds for this run; a change made in the window is saved.
    f.getConfig().setStampBefore(QStringLiteral("H-"));
    f.saveConfig();
    omvara::config::Connections saved;
    f.getConfigStore().loadConnections(saved, { QStringLiteral("COM3"), QStringLiteral("COM4") });
    ASSERT_EQ(saved.names(), all.names());
    EXPECT_EQ(saved.at(1).getStampBefore(), QStringLiteral("H-"));
    for (qsizetype i = 0; i < saved.size(); ++i)
        EXPECT_EQ(saved.at(i).getDelay(), settings.getDelay()) << "connection " << i;
}

} // namespace
