// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RunControl.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QComboBox;
class QPlainTextEdit;

namespace omvara {

namespace config {
class ConfigStore;
}
namespace update {
class UpdateWorker;
}

class EventLog;
class MessageText;
class RadezoZiDadFrame2;
class StatusLine;
class TrayIcon;
class TraySupport;
class UserState;

// The program's window as a whole: builds the main window with its event
// log, status line, run control and tray, in the start-up order, and saves
// the settings when the window is closed.
//
// Start-up, in order: resource check (missing texts end the program with
// status 4), ports (the command-line port replaces enumeration; a serial
// library that cannot be loaded ends the program with status 2), settings,
// window, update check (on about one start in four), icons and show, tooltip
// time, tray, automatic start.
//
// Event thread only.
class StartupSequence : public QObject
{
    Q_OBJECT

public:
    // What tests replace.
    struct Seams
    {
        // A number from 0 to 3; the update check starts on 0.
        std::function<int()> drawUpdateCheck;
        // Starts the update check (default: an UpdateWorker on the product site).
        std::function<void(StartupSequence &)> startUpdateCheck;
        // The run's outputs (default: the keyboard and sound of the system).
        std::optional<RunControl::Outputs> outputs;
        // The keystroke backend several connections share (default: the system's).
        RunControl::SharedInjector sharedInjector;
        // The tray icon (default: the platform's, when it has a tray).
        std::function<std::unique_ptr<TrayIcon>()> trayIcon;
        // The settings store (default: the window's own on the process's preferences).
        std::unique_ptr<config::ConfigStore> store;
        // Whether to show the window (tests without a display keep it hidden).
        bool showWindow = true;
        // The file of the per-user window state (default: the user's own store).
        QString userStateFile;
    };

    // `arguments` is the command line without the program name.
    explicit StartupSequence(QStringList arguments, QObject *parent = nullptr);
    StartupSequence(QStringList arguments, Seams seams, QObject *parent = nullptr);
    ~StartupSequence() override;

    // Runs the start-up sequence. False when the program ended during it
    // (ProgramExit has been asked for the exit status).
    bool run();

    // Closing the window: controls into the settings, save (a failure is
    // shown and does not stop the shutdown), end of any run; then `closed`
    // is emitted with the exit status 0.
    void shutdown();
    // The desktop session ends (logout): the same as closing the window, and
    // nothing asks, whatever runs.
    void endSession();
    // Quit from the tray: ends the run and the program without asking.
    void quit();

    // What closing the window with its close button does (asking first while
    // a run is active, unless the user said not to ask again).
    enum class CloseAction { Quit, KeepInTray, Cancel };
    CloseAction closeAction();

    // Tray support: installed when the platform has a tray and none is installed yet.
    void addMinimizeToTraySupport();
    void removeMinimizeToTraySupport();

    // Every key the program reads, per bundle ("omvara.Omvara",
    // "omvara.config.ConfigBundle", "omvara.worker.WorkerBundle").
    static QList<std::pair<QString, QStringList>> requiredResources();
    // The keys of "omvara.Omvara" the start-up and shutdown read.
    static QStringList textKeys();
    // The "bundle: key" entries missing from the installed bundles.
    static QStringList missingResources();
    // The window icons, 32 to 16 pixels (missing ones are reported and skipped).
    static QList<QIcon> windowIcons();
    static QIcon createImageIcon(const QString &path);

    RadezoZiDadFrame2 *frame() const { return m_frame; }
    EventLog *eventLog() const { return m_eventLog; }
    StatusLine *statusLine() const { return m_statusLine; }
    RunControl *runControl() const { return m_runControl; }
    TraySupport *traySupport() const { return m_tray.get(); }
    UserState *userState() const { return m_userState.get(); }
    QPlainTextEdit *eventLogPane() const { return m_eventLogPane; }
    const QString &portArgument() const { return m_portArgument; }

Q_SIGNALS:
    // The window was closed and the settings saved: the program ends with `status`.
    void closed(int status);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool checkResourceBundles();
    bool preparePorts();
    void loadSettings();
    // With --connection or --set; false when the stored settings are to be loaded alone.
    bool loadSettingsOfThisRun(const QList<QPair<QString, QString>> &named, const QStringList &sets);
    void buildWindow();
    void autoStart();
    void connectSettingsPanel();
    void fatal(const MessageText &message, const QString &title, int status);
    void updateTray();

    QStringList m_arguments;
    QString m_portArgument;
    Seams m_seams;
    QPointer<RadezoZiDadFrame2> m_frame;
    QPlainTextEdit *m_eventLogPane = nullptr;
    QComboBox *m_eventLogFilter = nullptr;
    EventLog *m_eventLog = nullptr;
    StatusLine *m_statusLine = nullptr;
    RunControl *m_runControl = nullptr;
    std::unique_ptr<TraySupport> m_tray;
    std::unique_ptr<UserState> m_userState;
    QIcon m_icons;
    bool m_shutDown = false;
    bool m_firstStart = false; // no settings were stored before this start
};

} // namespace omvara
