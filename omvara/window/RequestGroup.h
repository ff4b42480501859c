// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"

#include <QGroupBox>
#include <QStringList>

class QLabel;
class QLineEdit;

namespace omvara {

class TextFieldVerifier;

// The input tab's controls for readings on request: the request command,
// the interval and the global hotkey, each checked like the other fields
// when it loses the focus. Beside the hotkey it says why this desktop
// offers no global hotkey, when it offers none.
class RequestGroup : public QGroupBox
{
    Q_OBJECT

public:
    RequestGroup(config::Config &config, QWidget *parent = nullptr);

    // Checks every field and stores the accepted ones (the window's full update).
    void updateConfig();
    // Shows the settings as they are in the configuration (after an import, defaults).
    void showConfig();

    // The keys of "omvara.Omvara" the group reads.
    static QStringList textKeys();

    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QLineEdit *requestCommandTextField;
    QLineEdit *requestIntervalTextField;
    QLineEdit *requestHotkeyTextField;
    QLabel *requestHotkeyStatus;

private:
    void showHotkeyStatus();

    config::Config &config;
    TextFieldVerifier *commandVerifier;
    TextFieldVerifier *intervalVerifier;
    TextFieldVerifier *hotkeyVerifier;
};

} // namespace omvara
