// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"

#include <QWidget>

class QButtonGroup;
class QLabel;
class QRadioButton;

class QCheckBox;
class QPushButton;

namespace omvara {

namespace plus {
class PlusAutoConnectButton;
class PlusSelectedAlwaysCheckBox;
class PlusUnselectedAlwaysCheckBox;
class PlusButton;
} // namespace plus

// The settings tab: how a connection starts, the tray, the update check,
// and import and export of all settings (which the window carries out).
class SettingsPanel : public QWidget
{
    Q_OBJECT

public:
    SettingsPanel(config::Config &config, QWidget *parent = nullptr);

    // The connection mode.
    void updateConnect();
    // The four switches.
    void updateConfig();
    // Whether an answer to the question on closing during a run is kept.
    void setCloseAnswerKept(bool kept);

    // ---- Handlers
    void connectButtonActionPerformed();
    void minimizeToTrayCheckBoxItemStateChanged();
    void notifyWhenMinimizedToTrayCheckBoxItemStateChanged();
    void checkForUpdatesCheckBoxItemStateChanged();
    void abortAutoStartCheckBoxItemStateChanged();

    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QLabel *label31;
    QButtonGroup *connectButtonGroup;
    QRadioButton *manualConnectButton;
    plus::PlusAutoConnectButton *autoConnectButton;
    plus::PlusUnselectedAlwaysCheckBox *abortAutoStartCheckBox;
    QLabel *label32;
    plus::PlusUnselectedAlwaysCheckBox *minimizeToTrayCheckBox;
    plus::PlusUnselectedAlwaysCheckBox *notifyWhenMinimizedToTrayCheckBox;
    QLabel *label18;
    plus::PlusSelectedAlwaysCheckBox *checkForUpdatesCheckBox;
    QCheckBox *reconnectCheckBox;
    // Undoes "Do not ask again" of the question on closing during a run (a
    // per-user choice, not a setting): enabled while an answer is kept.
    QPushButton *askOnCloseButton;
    QLabel *label19;
    plus::PlusButton *importSettingsButton;
    plus::PlusButton *exportSettingsButton;

Q_SIGNALS:
    // The user chose manual connection (tray support ends for this program run).
    void manualConnectChosen();
    // A setting of this tab was changed (after it has been stored in the configuration).
    void changed();
    void importRequested();
    // The user wants to be asked again when closing during a run.
    void askOnCloseRequested();
    void exportRequested();

private:
    void buildLayout();

    config::Config &config;
};

} // namespace omvara
