// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/run/SessionDecimalMark.h"
#include "omvara/window/plus/PlusConstantBox.h"

#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace omvara {

namespace plus {
class PlusStartWithBox;
class PlusSoundComboBox;
class PlusDelayTextField;
} // namespace plus

class DecimalSeparatorBox;
class MqttCaFileTextFieldUpdate;
class MqttUrlTextFieldUpdate;
class RecordFileTextFieldUpdate;
class StampTextFieldUpdate;
class TextFieldVerifier;
class DelayTextFieldUpdate;

// The output tab: how each value is typed (separator, keys before and after,
// keyboard layout, pause between keystrokes), the confirmation sound, and
// the record file and the broker every value is published to.
class OutputPanel : public QWidget
{
    Q_OBJECT

public:
    using OutputTerminatorBox = plus::PlusConstantBox<config::ConfigHelper::OutputTerminator>;
    using KeyboardTypeBox = plus::PlusConstantBox<config::ConfigHelper::KeyboardType>;
    using InputEncodingBox = plus::PlusConstantBox<config::InputEncoding>;
    using ControlCharactersBox = plus::PlusConstantBox<config::ControlCharacters>;
    using ControlKeyBox = plus::PlusConstantBox<config::ControlKey>;

    OutputPanel(config::Config &config, QWidget *parent = nullptr);

    void registerListeners();
    void unregisterListeners();

    // The keyboard layout and the delay; a delay the setting refuses is
    // reported (focus back to the field afterwards) and not stored.
    void updateKeyboardAndDelay();
    // Separator, start key, terminator key and sound.
    void updateConfig();

    // ---- Handlers
    void decimalSeparatorBoxItemStateChanged();
    void outputTerminatorBoxItemStateChanged();
    void soundComboBoxItemStateChanged();
    void keyboardTypeBoxItemStateChanged();
    void startWithBoxItemStateChanged();

    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QLabel *label4;
    DecimalSeparatorBox *decimalSeparatorBox;
    QLabel *label5;
    OutputTerminatorBox *outputTerminatorBox;
    QLabel *label17;
    plus::PlusSoundComboBox *soundComboBox;
    QLabel *label23;
    KeyboardTypeBox *keyboardTypeBox;
    QLabel *label12;
    plus::PlusStartWithBox *startWithBox;
    QLabel *label26;
    plus::PlusDelayTextField *delayTextField;
    QLabel *label21;
    QLabel *label22;
    // The stamps typed beside each value, checked like the record file's fields.
    QLabel *stampBeforeLabel;
    QLineEdit *stampBeforeTextField;
    QLabel *stampAfterLabel;
    QLineEdit *stampAfterTextField;
    StampTextFieldUpdate *stampBeforeVerifier;
    StampTextFieldUpdate *stampAfterVerifier;
    // Beside the separator: shown while the separator chosen differs from
    // the decimal mark of the session's language (the setting is not changed).
    QLabel *decimalSeparatorNote;

    // ---- Record file and broker
    // The fields are checked when they lose the focus and before a run;
    // the password is kept for this session only, never stored.
    void updateRecordAndBroker();
    // The broker password typed in this session ("" when none).
    QString brokerPassword() const;
    void chooseRecordFileButtonActionPerformed();
    void chooseMqttCaFileButtonActionPerformed();

    // Named as text keys too (see above): renaming one breaks its text.
    QLabel *recordFileLabel;
    QLineEdit *recordFileTextField;
    QPushButton *chooseRecordFileButton;
    QLabel *mqttUrlLabel;
    QLineEdit *mqttUrlTextField;
    QLabel *mqttCaFileLabel;
    QLineEdit *mqttCaFileTextField;
    QPushButton *chooseMqttCaFileButton;
    QLabel *mqttPasswordLabel;
    QLineEdit *mqttPasswordField;
    RecordFileTextFieldUpdate *recordFileVerifier;
    MqttUrlTextFieldUpdate *mqttUrlVerifier;
    MqttCaFileTextFieldUpdate *mqttCaFileVerifier;

    // ---- Codes: encoding, every character, GS1 control characters. The
    // boxes and switches are stored as they change; the text when checked.
    void updateCodes();

    QLabel *inputEncodingLabel;
    InputEncodingBox *inputEncodingBox;
    QCheckBox *typeEveryCharacterCheckBox;
    QLabel *controlCharactersLabel;
    ControlCharactersBox *controlCharactersBox;
    ControlKeyBox *controlKeyBox;
    QLineEdit *controlTextField;
    QCheckBox *removeSymbologyIdCheckBox;
    TextFieldVerifier *controlTextVerifier;

private:
    void buildLayout();
    void buildCodes();
    // The key box and the text field only for the choices that use them.
    void showControlChoice();
    void buildRecordAndBroker();
    void buildStamps();
    void showDecimalSeparatorNote();

    config::Config &config;
    DelayTextFieldUpdate *delayCheck;
    // Read once, when the tab is made.
    std::optional<run::SessionDecimalMark> sessionDecimalMark;
};

} // namespace omvara
