// SPDX-License-Identifier: GPL-3.0-or-later
// The main window.
#pragma once

#include "omvara/config/Config.h"
#include "omvara/config/Connections.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QPushButton;
class QTabWidget;

namespace omvara {

namespace config {
class ConfigStore;
}
namespace links {
class JLabelHtml;
}

class AboutPanel;
class ConnectionsPanel;
class InputPanel;
class OutputPanel;
class ProcessingPanel;
class RunPanel;
class SettingsPanel;

// The program's main window. It owns the connections and their settings,
// shows one control for every setting of the selected connection (one
// widget class per tab), writes the controls back into the configuration,
// saves it when the user leaves a settings tab after a change (changes on
// the Settings tab at once), and exports and imports it.
//
// `config` is the selected connection's configuration, the one the tabs
// edit; the list of connections receives it when another connection is
// selected, and whenever it is read (getConnections). Settings of the whole
// program edited on any connection's tabs apply to every connection.
//
// Runs, the event log, the status texts and the tray are added by the run
// control through the hooks below; this class knows nothing about them.
//
// Construction builds nothing visible: the start-up sequence sets the ports
// and the configuration (loadConfig or setConfig), then calls initComponents().
// Event thread only.
class RadezoZiDadFrame2 : public QMainWindow
{
    Q_OBJECT

public:
    using Config = config::Config;

    explicit RadezoZiDadFrame2(QWidget *parent = nullptr);
    ~RadezoZiDadFrame2() override;

    // ---- Configuration
    Config &getConfig() { return config; }
    const Config &getConfig() const { return config; }
    // Replaces the configuration (the controls are not rebuilt; call it
    // before initComponents()).
    void setConfig(Config newConfig);
    // The reference for the save-if-changed rule: a copy of `config` as last saved.
    const Config &getOldConfig() const { return oldConfig; }
    void setOldConfig(Config saved) { oldConfig = std::move(saved); }
    // Copies every control into `config` (before a run, on a tab change,
    // before saving and before export).
    void updateConfigFromTabs();

    // The store the window loads from and saves to; by default the one on
    // the process's preferences tree.
    void setConfigStore(std::unique_ptr<config::ConfigStore> store);
    config::ConfigStore &getConfigStore();
    // Reads every connection from the store and selects the first into
    // `config`; false when a stored value was invalid and replaced by its
    // default. Throws the store's errors.
    bool loadConfig();
    // Writes every connection to the store (with one connection, exactly
    // what the single configuration always was). Throws the store's errors.
    // Virtual so that tests can count the writes.
    virtual void saveConfig();

    // ---- Connections
    // Replaces every connection and selects the first (the controls are
    // not rebuilt; call it before initComponents()).
    void setConnections(config::Connections loaded);
    // Settings the command line gave for this run only: `given` as loaded
    // with them, `stored` as loaded without them, `keys` the connection
    // (empty: every one) and key of each. Saving writes the stored value of
    // each while the connection still holds the given one.
    void setRunOnlySettings(
        config::Connections given, config::Connections stored, QList<QPair<QString, QString>> keys);
    // Every connection, the selected one as `config` holds it now.
    const config::Connections &getConnections();
    qsizetype selectedConnection() const { return selected; }
    // Shows connection `i` in the tabs: the tabs' changes are kept (and
    // saved when they differ from the saved ones), then the tabs are built
    // anew from connection `i`. False when there is no such connection.
    bool selectConnection(qsizetype i);
    // A new connection named `name` with a copy of connection `from`'s
    // settings, saved and selected; false with `problem` when the name
    // cannot be given.
    bool addConnection(const QString &name, qsizetype from, QString *problem = nullptr);
    // False with `problem` when connection `i` runs or the name cannot be given.
    bool renameConnection(qsizetype i, const QString &name, QString *problem = nullptr);
    // False with `problem` for the first connection and a running one.
    bool removeConnection(qsizetype i, QString *problem = nullptr);
    // Whether connection `name` runs (the run control answers; none: no).
    void setConnectionRunning(std::function<bool(const QString &name)> running)
    {
        connectionRunning = std::move(running);
    }
    // Whether another connection's run holds the port (automatic detection
    // leaves such ports alone).
    void setPortHeld(std::function<bool(const QString &port)> held) { portHeld = std::move(held); }

    // ---- Ports
    // The port names of the last enumeration. Before initComponents() this
    // sets the list the port box starts with.
    QStringList getPorts() const;
    void setPorts(const QStringList &portNames);
    // Selects a detected port in the port list.
    void selectPort(const QString &portName);

    // Builds the tabs and controls from `config`.
    void initComponents();

    // ---- Hooks for the run control
    // What the Start/Stop button does.
    void setStartStopAction(std::function<void()> action) { startStopAction = std::move(action); }
    // Called when the user switches the connection mode to manual.
    void setRemoveMinimizeToTraySupport(std::function<void()> action)
    {
        removeMinimizeToTraySupportAction = std::move(action);
    }
    // What the Request button (shown while running) does.
    void setRequestAction(std::function<void()> action) { requestAction = std::move(action); }
    // A running panel of another connection, below the others (the window takes ownership).
    void addRunPanel(RunPanel *panel);
    // Shows the running panels beside the button, or none.
    void showRunPanels(bool show);
    // Puts the event log into its tab (the window takes ownership).
    void setEventLogWidget(QWidget *eventLog);

    // The first start's hint on the Start/Stop tab ("Choose the port and
    // instrument on the Input tab"); it goes when the Input tab is left.
    void showFirstStartHint(bool show);

Q_SIGNALS:
    // Another connection is about to be shown: the tabs are still the old
    // ones (a run control puts back the tabs it took out).
    void connectionSelecting();
    // The tabs now show the selected connection; the settings tabs are new
    // widgets (those who polish or watch them do it again).
    void connectionSelected();
    // A connection was added, renamed or removed.
    void connectionsChanged();

public:
    // ---- Handlers
    void startStopJButtonActionPerformed();
    // The buttons of the connections list: each asks for what it needs.
    void addConnectionButtonActionPerformed();
    void renameConnectionButtonActionPerformed();
    void duplicateConnectionButtonActionPerformed();
    void removeConnectionButtonActionPerformed();
    void tabbedPaneStateChanged(int newIndex);
    // Controls into the configuration, and a save when it differs from the
    // one last saved (leaving a settings tab; any change on the Settings tab).
    void saveIfChanged();
    void autoButtonActionPerformed();
    void exportSettingsButtonActionPerformed();
    void importSettingsButtonActionPerformed();
    // Exports to / imports from a file already chosen (the handlers above after their chooser).
    bool exportSettingsTo(const QString &file);
    void importSettingsFrom(const QString &file);

    // ---- Controls (created by initComponents)
    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QTabWidget *tabbedPane = nullptr;
    ConnectionsPanel *connectionsPanel = nullptr;
    links::JLabelHtml *statusJLabel = nullptr;
    QWidget *panel1 = nullptr;
    QLabel *firstStartHint = nullptr;
    QPushButton *startStopJButton = nullptr;
    // The keys that press Start/Stop anywhere in the window (Ctrl+Return).
    QAction *startStopShortcut = nullptr;
    // Asks the instrument for a reading; visible while a run is going.
    QPushButton *requestButton = nullptr;
    RunPanel *runPanel = nullptr; // beside the button while a run is active
    // Holds runPanel and the running panels of further connections.
    QWidget *runPanels = nullptr;
    InputPanel *inputPanel = nullptr;
    ProcessingPanel *processingPanel = nullptr;
    OutputPanel *outputPanel = nullptr;
    SettingsPanel *settingsPanel = nullptr;
    QWidget *eventLogPanel = nullptr;
    AboutPanel *aboutPanel = nullptr;

    // ---- State
    bool saveNecessary = false;
    int currentTabIndex = 0;
    bool mathRoundingErrorWarningDisplayed = false;

private:
    void showDivisionWarning();
    bool savesWhenLeft(const QWidget *tab) const;
    void buildSettingsTabs();
    void connectSettingsTabs();
    void showConnections();
    // `config` into the list, its program-wide settings into every connection.
    void storeSelected();
    // A name asked for in a box (`proposed` first); nullopt when cancelled.
    std::optional<QString> askConnectionName(const QString &title, const QString &proposed);
    void saveConnections();
    void showConnectionProblem(const QString &problem);

    Config config;
    config::Connections connections;
    qsizetype selected = 0;
    struct RunOnlySettings
    {
        config::Connections given, stored;
        QList<QPair<QString, QString>> keys;
    };
    std::optional<RunOnlySettings> runOnly;
    std::function<bool(const QString &)> connectionRunning;
    std::function<bool(const QString &)> portHeld;
    Config oldConfig;
    QStringList initialPorts;
    std::unique_ptr<config::ConfigStore> store;
    QWidget *currentTab = nullptr;
    std::function<void()> startStopAction;
    std::function<void()> removeMinimizeToTraySupportAction;
    std::function<void()> requestAction;
};

} // namespace omvara
