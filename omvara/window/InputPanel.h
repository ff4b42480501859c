// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/window/plus/PlusConstantBox.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace omvara {

class RequestGroup;

// The input tab: the serial port, the instrument and the line settings.
// Every control stores its value into the configuration as soon as it
// changes; updateConfig() copies all of them at once.
class InputPanel : public QWidget
{
    Q_OBJECT

public:
    using Helper = config::ConfigHelper;

    InputPanel(config::Config &config, const QStringList &ports, QWidget *parent = nullptr);

    // Port, instrument, line settings and terminator, as the window's full
    // update does them (the terminator with its 0-255 check).
    void updateConfig();

    // The port names of the last enumeration.
    const QStringList &getPorts() const { return ports; }
    // Replaces the port list (display names when driver data is known,
    // otherwise the names) and selects the configured port when listed.
    void setPorts(const QStringList &portNames);
    // Selects a port by name, in whatever form the list shows it.
    void selectPort(const QString &portName);
    // Shows a terminator code: a named one as its item, any other as its number.
    void showInputTerminator(int code);

    // ---- Handlers
    void portListItemStateChanged();
    void instrumentBoxItemStateChanged();
    void bitRateBoxItemStateChanged();
    void dataBitsBoxItemStateChanged();
    void stopBitsBoxItemStateChanged();
    void parityBoxItemStateChanged();
    void inputTerminatorBoxItemStateChanged();
    void defaultButtonActionPerformed();
    void refreshPortsButtonActionPerformed();
    void customizeButtonActionPerformed();
    void portDoctorButtonActionPerformed();
    // Shows or hides the note that a custom pattern is in use.
    void showCustomPattern();

    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QLabel *label2;
    QComboBox *portList;
    QLabel *deviceLabel;
    QComboBox *instrumentBox;
    QLabel *label3;
    QComboBox *bitRateBox;
    QLabel *label6;
    QComboBox *dataBitsBox;
    QLabel *label7;
    QComboBox *stopBitsBox;
    QLabel *label8;
    QComboBox *parityBox;
    QLabel *label9;
    QComboBox *inputTerminatorBox;
    QLabel *label10;
    // Shown while a custom pattern replaces the instrument's.
    QLabel *customPatternLabel;
    QPushButton *autoButton;
    QPushButton *defaultButton;
    QPushButton *refreshPortsButton;
    QPushButton *customizeButton;
    // What stands in the way of the selected port, when the diagnosis knows
    // (e.g. "held by minicom (pid 4242)"), and the button that says why.
    QLabel *portProblemLabel;
    QPushButton *portDoctorButton;
    // Readings on request.
    RequestGroup *requestGroup;

Q_SIGNALS:
    // The auto-detect button was pressed.
    void autoRequested();
    // The tab should be brought to front (a refused entry is being shown).
    void showRequested();

private:
    const Helper::Instrument &selectedInstrument() const;
    void buildLayout();
    // Marks the listed devices of this computer that the diagnosis finds trouble with.
    void markPorts(const QStringList &names);
    void showPortProblem(const QString &name);

    config::Config &config;
    QHash<QString, QString> portMarks; // device name -> what stands in its way
    QStringList ports;
    bool updatingControls = false;
};

} // namespace omvara
