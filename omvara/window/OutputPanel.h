// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/window/plus/PlusConstantBox.h"

#include <QWidget>

class QLabel;

namespace omvara {

namespace plus {
class PlusStartWithBox;
class PlusSoundComboBox;
class PlusDelayTextField;
} // namespace plus

class DecimalSeparatorBox;
class DelayTextFieldUpdate;

// The output tab: how each value is typed (separator, keys before and after,
// keyboard layout, pause between keystrokes) and the confirmation sound.
class OutputPanel : public QWidget
{
    Q_OBJECT

public:
    using OutputTerminatorBox = plus::PlusConstantBox<config::ConfigHelper::OutputTerminator>;
    using KeyboardTypeBox = plus::PlusConstantBox<config::ConfigHelper::KeyboardType>;

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

private:
    void buildLayout();

    config::Config &config;
    DelayTextFieldUpdate *delayCheck;
};

} // namespace omvara
