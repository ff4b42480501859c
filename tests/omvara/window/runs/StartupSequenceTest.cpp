// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/util/Bundle.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/window/DecimalSeparatorBox.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RunControl.h"
#include "omvara/window/TraySupport.h"
#include "portlink/FriendlyPortUtil.h"
#include "portlink/SerialPortLocal.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QWidget>

#include <gtest/gtest.h>

using runs_test::Harness;
using runs_test::runUntil;
using namespace std::chrono_literals;

namespace {

QString text(const char *key)
{
    return omvara::util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

QMap<QString, QString> bundleTexts(const QString &name)
{
    QMap<QString, QString> texts;
    const auto &bundle = omvara::util::Bundle::get(name);
    for (const QString &key : bundle.keys())
        texts.insert(key, bundle.getString(key));
    return texts;
}

TEST(StartupResources, ShippedBundlesHoldEveryKeyTheProgramReads)
{
    runs_test::app();
    EXPECT_EQ(omvara::StartupSequence::missingResources(), QStringList());
}

TEST(StartupResources, ShippedIconsAreFoundInTheirFourSizes)
{
    runs_test::app();
    const QList<QIcon> icons = omvara::StartupSequence::windowIcons();
    ASSERT_EQ(icons.size(), 4);
    const int sizes[] = { 32, 24, 20, 16 };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(icons[i].availableSizes().value(0), QSize(sizes[i], sizes[i]));
    EXPECT_TRUE(omvara::StartupSequence::createImageIcon(QStringLiteral(":/icons/Omvara64.png")).isNull());
}

// A bundle that lacks one key ends the program with status 4 through the
// normal start-up, for each of the three bundles.
TEST(StartupFailures, MissingResourceKeyEndsWithStatusFour)
{
    struct Case
    {
        QString bundle;
        QString key;
    };
    const QList<Case> cases = {
        { QStringLiteral("omvara.Omvara"), QStringLiteral("line.count") },
        { QStringLiteral("omvara.Omvara"), QStringLiteral("RadezoZiDadFrame2.startStopJButton.text") },
        { QStringLiteral("omvara.config.ConfigBundle"),
            omvara::config::ConfigHelper::requiredKeys().value(0) },
        { QStringLiteral("omvara.worker.WorkerBundle"), QStringLiteral("stopped") },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.bundle + QLatin1Char(' ') + c.key).toStdString());
        Harness h;
        QMap<QString, QString> damaged = bundleTexts(c.bundle);
        ASSERT_TRUE(damaged.remove(c.key) == 1);
        omvara::util::Bundle::install(c.bundle, &damaged);
        const bool started = h.start();
        omvara::util::Bundle::install(c.bundle, nullptr);

        EXPECT_FALSE(started);
        EXPECT_EQ(h.exitStatus, 4);
        ASSERT_EQ(h.messages.size(), 1u);
        EXPECT_EQ(h.messages[0].title, QStringLiteral("Fatal error"));
        EXPECT_EQ(h.messages[0].text,
            QStringLiteral("Program files seem to be damaged or missing!\n"
                           "Try downloading and reinstalling the program."));
        EXPECT_EQ(h.frame().tabbedPane, nullptr) << "nothing was built";
    }
}

TEST(StartupFailures, SerialLibraryThatCannotBeLoadedEndsWithStatusTwo)
{
    Harness h;
    h.nativeSide
        = portlink::testing::ScopedNativeSide::failingLoad(QStringLiteral("cannot open shared object file"));
    EXPECT_FALSE(h.start());
    EXPECT_EQ(h.exitStatus, 2);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].title, text("fatal.error"));
    EXPECT_TRUE(
        h.messages[0].text.startsWith(text("library.plkwin.not.found.or.not.matching.your.system") + " ("));
    EXPECT_TRUE(h.messages[0].text.endsWith(text("program.will.now.exit")));
}

TEST(StartupPorts, CommandLinePortIsTheOnlyPortAndIsStored)
{
    Harness h;
    h.sim->addPort(QStringLiteral("COM3"));
    h.storeSettings(Harness::settingsFor(QStringLiteral("COM3")));
    ASSERT_TRUE(h.start({ QStringLiteral("--prefs-file"), QStringLiteral("x.txt"), QStringLiteral("COM7") }));
    EXPECT_EQ(h.startup().portArgument(), QStringLiteral("COM7"));
    EXPECT_EQ(h.frame().getPorts(), QStringList { QStringLiteral("COM7") });
    EXPECT_EQ(h.frame().getConfig().getPort(), QStringLiteral("COM7"));
    EXPECT_TRUE(h.messages.empty());
}

TEST(StartupPorts, EnumeratedPortsWithoutArgument)
{
    Harness h;
    h.sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
    h.sim->addPort(QStringLiteral("COM4"), QStringLiteral("Communications Port"),
        QStringLiteral("(Standard port types)"));
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.frame().getPorts(), (QStringList { QStringLiteral("COM3"), QStringLiteral("COM4") }));
    EXPECT_TRUE(h.messages.empty());
    portlink::FriendlyPortUtil::reset();
}

TEST(StartupPorts, NoPortAtAllIsToldAndTheWindowOpens)
{
    Harness h;
    ASSERT_TRUE(h.start());
    EXPECT_TRUE(h.shown(text("error"), text("no.rs.232.port.found.on.your.system.program.will.now.exit")));
    EXPECT_FALSE(h.exitStatus.has_value());
    EXPECT_NE(h.frame().tabbedPane, nullptr);
}

TEST(StartupSettings, FailedSaveOnCloseIsToldAndStillEndsWithStatusZero)
{
    Harness h;
    h.sim->addPort(QStringLiteral("COM3"));
    // The settings file lies below a plain file: it can be neither read nor written.
    QFile blocker(h.dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    h.prefsFile = h.dir.filePath(QStringLiteral("blocker/prefs.txt"));
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, h.prefsFile);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    h.factory = std::make_unique<omvara::prefs::FilePreferencesFactory>();

    ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
    QList<int> closed;
    QObject::connect(
        &h.startup(), &omvara::StartupSequence::closed, [&](int status) { closed.append(status); });
    h.messages.clear();
    h.frame().close();
    EXPECT_EQ(closed, QList<int> { 0 });
    EXPECT_TRUE(h.shown(text("error"), text("access.error.while.saving.settings")));
}

// Stored settings that are not valid: the message names each one replaced,
// what was stored and what it got.
TEST(StartupSettings, InvalidStoredSettingsAreNamedWithTheValuesTheyGot)
{
    Harness h;
    h.sim->addPort(QStringLiteral("COM3"));
    h.storeSettings(Harness::settingsFor(QStringLiteral("COM3")));
    omvara::prefs::Preferences *node = h.factory->userRoot()->node(omvara::config::ConfigStore::NODE_PATH);
    node->put(QStringLiteral("inputTerminator"), QStringLiteral("999"));
    node->put(QStringLiteral("delay"), QStringLiteral("abc"));
    node->flush();
    ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
    ASSERT_TRUE(h.shown(text("error.while.loading.settings"), text("invalid.settings.replaced.by.defaults")));
    const QString message = h.messages.front().text;
    EXPECT_TRUE(message.contains(QStringLiteral("inputTerminator: \"999\" \u2192 ")
        + QString::number(h.frame().getConfig().getInputTerminator())))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("delay: \"abc\" \u2192 ") + h.frame().getConfig().getDelay()))
        << message.toStdString();
}

TEST(StartupSettings, ClosingTheWindowSavesWhatTheControlsShow)
{
    Harness h;
    h.sim->addPort(QStringLiteral("COM3"));
    h.sim->addPort(QStringLiteral("COM5"));
    h.storeSettings(Harness::settingsFor(QStringLiteral("COM3")));
    ASSERT_TRUE(h.start({ QStringLiteral("COM5") }));
    QList<int> closed;
    QObject::connect(
        &h.startup(), &omvara::StartupSequence::closed, [&](int status) { closed.append(status); });
    h.frame().close();
    EXPECT_EQ(closed, QList<int> { 0 });
    EXPECT_TRUE(h.messages.empty());

    omvara::config::Config reread;
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    omvara::prefs::FilePreferencesFactory other;
    omvara::config::ConfigStore store(other);
    store.loadConfig(reread, { QStringLiteral("COM3"), QStringLiteral("COM5") });
    EXPECT_EQ(reread.getPort(), QStringLiteral("COM5"));
    EXPECT_EQ(reread.getPrevPort(), QStringLiteral("COM5"));
}

TEST(StartupUpdateCheck, StartsOnlyOnADrawOfZeroAndWhenEnabled)
{
    struct Case
    {
        bool enabled;
        int draw;
        int expected;
    };
    for (const Case c :
        { Case { true, 0, 1 }, Case { true, 1, 0 }, Case { true, 3, 0 }, Case { false, 0, 0 } }) {
        SCOPED_TRACE(testing::Message() << "enabled " << c.enabled << " draw " << c.draw);
        Harness h;
        h.sim->addPort(QStringLiteral("COM3"));
        omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
        settings.setCheckForUpdates(c.enabled);
        h.storeSettings(settings);
        h.updateDraw = c.draw;
        ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
        EXPECT_EQ(h.updateChecksStarted, c.expected);
    }
}

class AutoStart : public ::testing::Test
{
protected:
    void prepare(bool abortWhenPortGone, const QString &storedPort)
    {
        h.sim->addPort(QStringLiteral("COM3")).setNoModemLines(true);
        omvara::config::Config settings = Harness::settingsFor(storedPort);
        settings.setConnect(omvara::config::ConfigHelper::Connect::AUTO);
        settings.setAbortAutoStartWhenPrevPortNotAvailable(abortWhenPortGone);
        h.storeSettings(settings); // prevPort = storedPort
    }
    Harness h;
};

TEST_F(AutoStart, PreviousPortGoneAbortsWithItsName)
{
    prepare(true, QStringLiteral("COM9"));
    ASSERT_TRUE(h.start());
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].title, text("error"));
    EXPECT_TRUE(h.messages[0].text.contains(QStringLiteral("COM9")));
    runs_test::settle(50ms);
    EXPECT_FALSE(h.startup().runControl()->isRunning());
    EXPECT_EQ(h.frame().tabbedPane->count(), 7);
}

TEST_F(AutoStart, WithoutTheCheckTheRunStartsOnTheSelectedPort)
{
    prepare(false, QStringLiteral("COM9"));
    ASSERT_TRUE(h.start());
    EXPECT_TRUE(h.messages.empty());
    ASSERT_TRUE(runUntil([&] { return h.startup().runControl()->isRunning(); }));
    EXPECT_EQ(h.frame().getConfig().getPort(), QStringLiteral("COM3"));
    EXPECT_TRUE(h.sim->port(QStringLiteral("COM3"))->isOpen());
    h.startup().runControl()->stop();
    ASSERT_TRUE(runUntil([&] { return !h.startup().runControl()->isRunning(); }));
}

TEST_F(AutoStart, SamePortStartsAtOnce)
{
    prepare(true, QStringLiteral("COM3"));
    ASSERT_TRUE(h.start());
    EXPECT_TRUE(h.messages.empty());
    ASSERT_TRUE(runUntil([&] { return h.frame().tabbedPane->count() == 3; }));
    h.startup().runControl()->stop();
    ASSERT_TRUE(runUntil([&] { return h.frame().tabbedPane->count() == 7; }));
}

TEST_F(AutoStart, CommandLinePortSkipsThePreviousPortCheck)
{
    prepare(true, QStringLiteral("COM9"));
    ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
    EXPECT_TRUE(h.messages.empty());
    ASSERT_TRUE(runUntil([&] { return h.startup().runControl()->isRunning(); }));
    h.startup().runControl()->stop();
    ASSERT_TRUE(runUntil([&] { return !h.startup().runControl()->isRunning(); }));
}

} // namespace

// The window as built: tooltips are rich text (which wraps at a readable
// width instead of one line as wide as the text), and the label of a
// disabled control is greyed with it.
TEST(StartupWindow, ToolTipsWrapAndLabelsOfDisabledControlsAreGreyed)
{
    runs_test::Harness h;
    h.sim->addPort(QStringLiteral("COM3"));
    omvara::config::Config settings = runs_test::Harness::settingsFor(QStringLiteral("COM3"));
    settings.setInstrument(omvara::config::ConfigHelper::Instrument::BARCODE_ALPHA); // no decimal separator
    h.storeSettings(settings);
    ASSERT_TRUE(h.start({ QStringLiteral("COM3") }));
    omvara::RadezoZiDadFrame2 &f = h.frame();
    EXPECT_TRUE(Qt::mightBeRichText(f.startStopJButton->toolTip()))
        << f.startStopJButton->toolTip().toStdString();
    ASSERT_FALSE(f.outputPanel->decimalSeparatorBox->isEnabled());
    EXPECT_FALSE(f.outputPanel->label4->isEnabled());
    f.outputPanel->decimalSeparatorBox->setEnabled(true);
    EXPECT_TRUE(f.outputPanel->label4->isEnabled());
}
