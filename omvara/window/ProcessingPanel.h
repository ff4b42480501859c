// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"

#include <QWidget>

class QLabel;
class QLineEdit;

namespace omvara {

namespace plus {
class PlusMathOperationBox;
class PlusMathOperandTextField;
class PlusDecimalTextField;
class PlusRoundingMethodBox;
class PlusEditOperationComboBox;
class PlusEditPositionComboBox;
class PlusEditNumCharactersTextField;
class PlusRemoveCharactersTextField;
class PlusUnselectedAlwaysCheckBox;
class PlusButton;
} // namespace plus

class MathOperandTextFieldUpdate;
class DecimalTextFieldUpdate;
class EditNumCharactersTextFieldUpdate;
class RemoveCharactersTextFieldUpdate;
class TextFieldVerifier;

// The processing tab: arithmetic, rounding, the edit step, character removal
// and duplicate suppression. The arithmetic and rounding controls follow the
// instrument type once registered with the configuration (registerListeners).
class ProcessingPanel : public QWidget
{
    Q_OBJECT

public:
    ProcessingPanel(config::Config &config, QWidget *parent = nullptr);

    void registerListeners();
    void unregisterListeners();

    // Copies the controls into the configuration, each text field through its
    // verifier (a refused text keeps the last valid value and is reported).
    // Then sets an operation without an operand back to NONE. Returns whether
    // a division is chosen without decimal places.
    bool updateConfig();

    // ---- Handlers
    void mathOperationBoxItemStateChanged();
    void roundingMethodBoxItemStateChanged();
    void editOperationComboBoxItemStateChanged();
    void editPositionComboBoxItemStateChanged();
    void ignoreDuplicatesCheckBoxActionPerformed();
    void adjustIgnoreButtonActionPerformed();

    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QLabel *label24;
    plus::PlusMathOperationBox *mathOperationBox;
    QLabel *label25;
    plus::PlusMathOperandTextField *mathOperandTextField;
    QLabel *label15;
    plus::PlusDecimalTextField *decimalTextField;
    QLabel *label16;
    QLabel *label20;
    plus::PlusRoundingMethodBox *roundingMethodBox;
    QLabel *label27;
    plus::PlusEditOperationComboBox *editOperationComboBox;
    plus::PlusEditPositionComboBox *editPositionComboBox;
    plus::PlusEditNumCharactersTextField *editNumCharactersTextField;
    QLabel *label28;
    QLabel *label29;
    plus::PlusRemoveCharactersTextField *removeCharactersTextField;
    QLabel *label30;
    plus::PlusUnselectedAlwaysCheckBox *ignoreDuplicatesCheckBox;
    plus::PlusButton *adjustIgnoreButton;

    MathOperandTextFieldUpdate *mathOperandVerifier;
    DecimalTextFieldUpdate *decimalVerifier;
    EditNumCharactersTextFieldUpdate *editNumCharactersVerifier;
    RemoveCharactersTextFieldUpdate *removeCharactersVerifier;

    // Settled readings (named as text keys too, see above).
    QLabel *stableReadingsLabel;
    QLineEdit *stableReadingsTextField;
    TextFieldVerifier *stableReadingsVerifier;
    static QStringList textKeys();

private:
    void buildLayout();

    config::Config &config;
};

} // namespace omvara
