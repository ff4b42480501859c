// SPDX-License-Identifier: GPL-3.0-or-later
// The documentation's pictures (scripts/screenshots writes them into
// docs/screenshots): each one is rendered here into the build folder and
// must show something. Whether it shows the right thing needs a look.
#include "Screenshots.h"

#include <QFileInfo>

#include <gtest/gtest.h>

TEST(Screenshots, everyPicture_isRenderedAndNotBlank)
{
    const QStringList files
        = runs_test::renderScreenshots(QStringLiteral(OMVARA_SCREENSHOT_DIR "/screenshots"));
    QStringList names;
    for (const QString &file : files)
        names.append(QFileInfo(file).completeBaseName());
    for (const char *expected :
        { "window-panel1", "window-inputPanel", "window-processingPanel", "window-outputPanel",
            "window-settingsPanel", "window-eventLogPanel", "window-aboutPanel", "dialog-ignore",
            "dialog-custom-pattern", "window-running", "window-running-log", "window-running-own-focus",
            "window-running-cut", "window-running-cut-log", "window-running-held" })
        EXPECT_TRUE(names.contains(QString::fromLatin1(expected))) << expected;
    for (const QString &file : files)
        EXPECT_TRUE(runs_test::looksRendered(QImage(file))) << qPrintable(file);
}
