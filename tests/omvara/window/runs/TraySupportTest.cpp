// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/window/TraySupport.h"

#include <QMainWindow>

#include <gtest/gtest.h>

using runs_test::runUntil;

namespace {

class FakeTrayIcon : public omvara::TrayIcon
{
public:
    struct State
    {
        bool visible = false;
        QStringList messages;
        std::function<void()> doubleClick;
    };
    explicit FakeTrayIcon(State &state) : m_state(state) { }
    void show() override { m_state.visible = true; }
    void hide() override { m_state.visible = false; }
    bool isVisible() const override { return m_state.visible; }
    void showMessage(const QString &caption, const QString &text) override
    {
        m_state.messages.append(caption + QLatin1Char('|') + text);
    }
    void setActivated(std::function<void()> onDoubleClick) override { m_state.doubleClick = std::move(onDoubleClick); }

private:
    State &m_state;
};

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
        tray = std::make_unique<omvara::TraySupport>(&window, QIcon(), [this] { return notify; },
                                                     std::make_unique<FakeTrayIcon>(state));
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
    EXPECT_EQ(state.messages, QStringList{QStringLiteral("Omvara|") + omvara::TraySupport::balloonText()});

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
