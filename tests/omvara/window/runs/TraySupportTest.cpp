// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/window/TraySupport.h"

#include <QMainWindow>

#include <gtest/gtest.h>

using runs_test::runUntil;

namespace {

using runs_test::FakeTrayIcon;

class TraySupportTest : public runs_test::WithApp, public ::testing::Test
{
protected:
    void SetUp() override
    {
        runs_test::app();
        window.resize(200, 100);
        window.show();
    }
    void install()
    {
        tray = std::make_unique<omvara::TraySupport>(
            &window, QIcon(), [this] { return notify; }, std::make_unique<FakeTrayIcon>(state));
    }
    void iconify() { window.setWindowState(window.windowState() | Qt::WindowMinimized); }

    QMainWindow window;
    FakeTrayIcon::State state;
    bool notify = true;
    std::unique_ptr<omvara::TraySupport> tray;
};

TEST_F(TraySupportTest, IconifyGoesToTheTrayAndDoubleClickRestores)
{
    install();
    EXPECT_FALSE(state.visible);
    iconify();
    EXPECT_TRUE(state.visible);
    ASSERT_TRUE(runUntil([&] { return !window.isVisible(); }));
    EXPECT_EQ(state.messages, QStringList { QStringLiteral("Omvara|") + omvara::TraySupport::balloonText() });

    ASSERT_TRUE(state.doubleClick);
    state.doubleClick();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(state.visible) << "the icon leaves the tray with the window back";
}

TEST_F(TraySupportTest, IconifyFromMaximisedAlsoGoesToTheTray)
{
    install();
    window.setWindowState(Qt::WindowMaximized);
    EXPECT_FALSE(state.visible);
    iconify();
    EXPECT_TRUE(state.visible);
    ASSERT_TRUE(runUntil([&] { return !window.isVisible(); }));
}

TEST_F(TraySupportTest, BalloonOnlyWhenTheSettingAsksAtThatMoment)
{
    install();
    notify = false;
    iconify();
    EXPECT_TRUE(state.messages.isEmpty());
    tray->restoreFromTray();
    notify = true;
    iconify();
    EXPECT_EQ(state.messages.size(), 1);
}

TEST_F(TraySupportTest, RemovedSupportLeavesIconifyAlone)
{
    install();
    tray.reset();
    iconify();
    runs_test::settle();
    EXPECT_FALSE(state.visible);
    EXPECT_TRUE(window.isVisible());
}

} // namespace
