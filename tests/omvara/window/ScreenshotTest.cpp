// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a picture of every tab and of the two setting dialogs into the build
// folder (window-tab-<n>-<name>.png, dialog-<name>.png), so the layout can be
// reviewed without starting the program.
#include "WindowTestSupport.h"

#include "omvara/window/CustomRegExDialog.h"
#include "omvara/window/IgnoreDialog.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace omvara;

namespace {
QString outputDir() { return QStringLiteral(OMVARA_SCREENSHOT_DIR); }
} // namespace

TEST(ScreenshotTest, everyTab_isSavedAsAPicture)
{
    omvara::testing::app();
    util::ProcessProperties::set(QStringLiteral("VERSION"), QStringLiteral("2016.2.3.4"));
    util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
    util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
    // Leaving a tab may save: into a private file, never the user's settings.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    util::ProcessProperties::set(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE,
                                 dir.filePath(QStringLiteral("prefs.txt")));
    prefs::FilePreferencesFactory::forgetPreferencesFile();
    prefs::FilePreferencesFactory factory;
    RadezoZiDadFrame2 frame;
    frame.setConfigStore(std::make_unique<config::ConfigStore>(factory));
    config::Config c;
    c.setInstrument(config::ConfigHelper::Instrument::SARTORIUS);
    c.setPort(QStringLiteral("COM3"));
    c.setBitRate(config::ConfigHelper::BitRates::BR_9600.ordinal());
    c.setDataBits(config::ConfigHelper::DataBits::LN_8BITS.ordinal());
    c.setInputTerminator(13);
    frame.setConfig(std::move(c));
    frame.setPorts({QStringLiteral("COM1"), QStringLiteral("COM3")});
    frame.initComponents();
    frame.setWindowTitle(QStringLiteral("Brindlecote Omvara"));
    frame.show();
    omvara::testing::flushEvents();
    for (int i = 0; i < frame.tabbedPane->count(); ++i) {
        frame.tabbedPane->setCurrentIndex(i);
        omvara::testing::flushEvents();
        const QString name = QDir(outputDir()).filePath(
            QStringLiteral("window-tab-%1-%2.png").arg(i).arg(frame.tabbedPane->widget(i)->objectName()));
        const QPixmap picture = frame.grab();
        ASSERT_FALSE(picture.isNull());
        EXPECT_TRUE(picture.save(name)) << name.toStdString();
    }
    IgnoreDialog ignore(&frame, frame.getConfig());
    ignore.setResults(QStringLiteral("1500"), QStringLiteral("0.5"));
    ignore.show();
    omvara::testing::flushEvents();
    EXPECT_TRUE(ignore.grab().save(QDir(outputDir()).filePath(QStringLiteral("dialog-IgnoreDialog.png"))));

    CustomRegExDialog custom(&frame, frame.getConfig());
    custom.regExTextArea->setPlainText(QStringLiteral("W:\\s*([0-9.]+)"));
    custom.show();
    omvara::testing::flushEvents();
    EXPECT_TRUE(custom.grab().save(QDir(outputDir()).filePath(QStringLiteral("dialog-CustomRegExDialog.png"))));
    util::ProcessProperties::remove(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
    prefs::FilePreferencesFactory::forgetPreferencesFile();
}
