// SPDX-License-Identifier: GPL-3.0-or-later
// The main window.
#pragma once

#include "omvara/config/Config.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>

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
class InputPanel;
class OutputPanel;
class ProcessingPanel;
class RunPanel;
class SettingsPanel;

// The program's main window. It owns the current configuration, shows one
// control for every setting (one widget class per tab), writes the controls
// back into the configuration, saves it when the user leaves a settings tab
// after a change (changes on the Settings tab at once), and exports and
// imports it.
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
    // Reads `config` from the store; false when a stored value was invalid
    // and replaced by its default. Throws the store's errors.
    bool loadConfig();
    // Writes `config` to the store. Throws the store's errors. Virtual so
    // that tests can count the writes.
    virtual void saveConfig();

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
    // Puts the event log into its tab (the window takes ownership).
    void setEventLogWidget(QWidget *eventLog);

    // The first start's hint on the Start/Stop tab ("Choose the port and
    // instrument on the Input tab"); it goes when the Input tab is left.
    void showFirstStartHint(bool show);

    // ---- Handlers
    void startStopJButtonActionPerformed();
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
    links::JLabelHtml *statusJLabel = nullptr;
    QWidget *panel1 = nullptr;
    QLabel *firstStartHint = nullptr;
    QPushButton *startStopJButton = nullptr;
    // The keys that press Start/Stop anywhere in the window (Ctrl+Return).
    QAction *startStopShortcut = nullptr;
    // Asks the instrument for a reading; visible while a run is going.
    QPushButton *requestButton = nullptr;
    RunPanel *runPanel = nullptr; // beside the button while a run is active
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

    Config config;
    Config oldConfig;
    QStringList initialPorts;
    std::unique_ptr<config::ConfigStore> store;
    QWidget *currentTab = nullptr;
    std::function<void()> startStopAction;
    std::function<void()> removeMinimizeToTraySupportAction;
    std::function<void()> requestAction;
};

} // namespace omvara
