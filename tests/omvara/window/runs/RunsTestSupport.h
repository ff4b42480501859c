// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/StartupSequence.h"
#include "omvara/window/TraySupport.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"
#include "tests/support/RecordingKeyInjector.h"

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace runs_test {

// The one application object of the test program (offscreen platform).
QApplication &app();

// Base of fixtures whose members are widgets: the application comes first.
struct WithApp
{
    WithApp() { app(); }
};

// Runs the event loop until `condition` holds or `timeout` passed; returns the condition.
bool runUntil(
    const std::function<bool()> &condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Lets queued work run for a moment.
void settle(std::chrono::milliseconds time = std::chrono::milliseconds(30));

// A tray icon that keeps what is done to it.
class FakeTrayIcon : public omvara::TrayIcon
{
public:
    struct State
    {
        bool visible = false;
        QStringList messages;
        std::function<void()> doubleClick;
        QList<omvara::TrayIcon::MenuEntry> menu;
        QString toolTip;
    };
    explicit FakeTrayIcon(State &state)
        : m_state(state)
    {
    }
    void show() override { m_state.visible = true; }
    void hide() override { m_state.visible = false; }
    bool isVisible() const override { return m_state.visible; }
    void showMessage(const QString &caption, const QString &text) override
    {
        m_state.messages.append(caption + QLatin1Char('|') + text);
    }
    void setActivated(std::function<void()> onDoubleClick) override
    {
        m_state.doubleClick = std::move(onDoubleClick);
    }
    void setMenu(const QList<MenuEntry> &entries) override { m_state.menu = entries; }
    void setToolTip(const QString &text) override { m_state.toolTip = text; }

private:
    State &m_state;
};

// Everything a window test needs around the program: settings in a private
// file, simulated serial ports, message boxes and the exit recorded instead
// of shown or done, and a recording keyboard.
class Harness
{
public:
    Harness();
    ~Harness();
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    // Writes `config` into the settings file (before start()).
    void storeSettings(const omvara::config::Config &config);
    // A configuration with defaults on port `port` (GENERIC instrument).
    static omvara::config::Config settingsFor(const QString &port);

    // Builds the program's window with `arguments` (hidden). The result of
    // the start-up sequence.
    bool start(const QStringList &arguments = {});

    omvara::StartupSequence &startup() { return *m_startup; }
    // Ends the program's window as the end of the program does.
    void destroyWindow() { m_startup.reset(); }
    omvara::RadezoZiDadFrame2 &frame();
    QStringList tabTitles();

    // The message boxes shown so far ("title|text").
    struct Message
    {
        QString title;
        QString text;
        QString helpButton; // the box's second button, if it had one
    };
    std::vector<Message> messages;
    bool pressHelp = false; // answer a box with a second button by pressing it
    bool shown(const QString &title, const QString &textPart = QString()) const;

    // The questions with several answers asked so far (closing during a run),
    // and how they are answered: the button `choice` (-1: the one that says
    // "Stop and quit"), with the check box set as `checked`.
    std::vector<omvara::MessageBoxes::Request> choices;
    int choice = -1;
    bool checked = false;
    QString userStateFile;

    std::optional<int> exitStatus;
    std::shared_ptr<portlink::testing::SimulatedNative> sim;
    std::unique_ptr<portlink::testing::ScopedNativeSide> nativeSide;
    QTemporaryDir dir;
    QString prefsFile;

    // Keyboard and sound of the runs.
    bool capsLock = false;
    bool keyboardFails = false;
    bool soundFails = false;
    std::atomic<omvara::outputs::keys::RecordingKeyInjector *> injector = nullptr;
    // The keyboard that several connections share (they type in turns on it).
    std::shared_ptr<omvara::outputs::keys::RecordingKeyInjector> sharedKeys
        = std::make_shared<omvara::outputs::keys::RecordingKeyInjector>();
    int soundBotsMade = 0;
    int updateChecksStarted = 0;
    int updateDraw = 1; // no update check unless a test asks
    // With fakeTray, the window's tray icon is a FakeTrayIcon on trayState.
    bool fakeTray = false;
    FakeTrayIcon::State trayState;

    std::unique_ptr<omvara::prefs::FilePreferencesFactory> factory;

private:
    std::unique_ptr<omvara::StartupSequence> m_startup;
    omvara::MessageBoxes::Responder m_oldResponder;
};

} // namespace runs_test
