// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/InputPanel.h"

#include "omvara/config/Instrument.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/window/CustomRegExDialog.h"
#include "omvara/window/FrameControls.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/PortDoctorDialog.h"
#include "omvara/window/RequestGroup.h"
#include "omvara/window/SettingRules.h"
#include "portlink/FriendlyPortUtil.h"
#include "portlink/NetworkPortName.h"
#include "portlink/PortRegistry.h"
#include "portlink/doctor/PortDoctor.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <exception>

namespace omvara {

namespace {

using FrameControls::key;

QLabel *makeLabel(const char *member, QWidget *buddy, QWidget *parent)
{
    return FrameControls::label(member, buddy, parent);
}

template <typename Constant> QComboBox *ordinalBox(int selected, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    for (const Constant *c : Constant::values())
        box->addItem(c->toString());
    box->setCurrentIndex(Constant::valid(selected) ? selected : Constant::getDefaultIndex());
    return box;
}

QPushButton *makeButton(const char *member, QWidget *parent)
{
    return FrameControls::named(new QPushButton(FrameControls::text(member), parent), member);
}

} // namespace

InputPanel::InputPanel(config::Config &config, const QStringList &portNames, QWidget *parent)
    : QWidget(parent)
    , config(config)
{
    setObjectName(QStringLiteral("inputPanel"));

    portList = new QComboBox(this);
    portList->setObjectName(QStringLiteral("portList"));
    portList->setToolTip(texts::WindowTexts::text(key("portList", "toolTipText")));
    // Room for "COM12: USB Serial Port - manufacturer" without stretching the window.
    // A network address (tcp://HOST:PORT) or any device path may be typed.
    portList->setEditable(true);
    portList->setInsertPolicy(QComboBox::NoInsert);
    portList->setMinimumContentsLength(40);
    portList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    instrumentBox = new QComboBox(this);
    instrumentBox->setObjectName(QStringLiteral("instrumentBox"));
    instrumentBox->setToolTip(texts::WindowTexts::text(key("instrumentBox", "toolTipText")));
    instrumentBox->setMaxVisibleItems(20);
    for (const Helper::Instrument *instrument : Helper::Instrument::values()) {
        instrumentBox->addItem(instrument->getLabel());
        // Devices that deliver text rather than numbers stand out in italics.
        if (&instrument->getInstrumentType() == &Helper::InstrumentType::TEXT) {
            QFont italic = instrumentBox->font();
            italic.setItalic(true);
            instrumentBox->setItemData(instrumentBox->count() - 1, italic, Qt::FontRole);
        }
    }
    const Helper::Instrument *current = config.getInstrument();
    instrumentBox->setCurrentIndex(current ? current->ordinal() : Helper::Instrument::getDefault().ordinal());

    bitRateBox = ordinalBox<Helper::BitRates>(config.getBitRate(), this);
    bitRateBox->setObjectName(QStringLiteral("bitRateBox"));
    bitRateBox->setToolTip(texts::WindowTexts::text(key("bitRateBox", "toolTipText")));
    dataBitsBox = ordinalBox<Helper::DataBits>(config.getDataBits(), this);
    dataBitsBox->setObjectName(QStringLiteral("dataBitsBox"));
    stopBitsBox = ordinalBox<Helper::StopBits>(config.getStopBits(), this);
    stopBitsBox->setObjectName(QStringLiteral("stopBitsBox"));
    parityBox = ordinalBox<Helper::Parity>(config.getParity(), this);
    parityBox->setObjectName(QStringLiteral("parityBox"));

    inputTerminatorBox = new QComboBox(this);
    inputTerminatorBox->setObjectName(QStringLiteral("inputTerminatorBox"));
    inputTerminatorBox->setEditable(true);
    inputTerminatorBox->setInsertPolicy(QComboBox::NoInsert);
    inputTerminatorBox->setToolTip(texts::WindowTexts::text(key("inputTerminatorBox", "toolTipText")));
    for (const Helper::InputTerminator *t : Helper::InputTerminator::values())
        inputTerminatorBox->addItem(t->toString());
    inputTerminatorBox->setMinimumContentsLength(
        texts::WindowTexts::text(key("inputTerminatorBox", "prototypeDisplayValue")).size());
    showInputTerminator(config.getInputTerminator());

    autoButton = makeButton("autoButton", this);
    defaultButton = makeButton("defaultButton", this);
    refreshPortsButton = makeButton("refreshPortsButton", this);
    customizeButton = makeButton("customizeButton", this);
    portProblemLabel = new QLabel(this);
    portProblemLabel->setObjectName(QStringLiteral("portProblemLabel"));
    portProblemLabel->setVisible(false);
    portDoctorButton = makeButton("portDoctorButton", this);
    portDoctorButton->setVisible(false);

    label2 = makeLabel("label2", portList, this);
    deviceLabel = makeLabel("deviceLabel", instrumentBox, this);
    label3 = makeLabel("label3", bitRateBox, this);
    label6 = makeLabel("label6", dataBitsBox, this);
    label7 = makeLabel("label7", stopBitsBox, this);
    label8 = makeLabel("label8", parityBox, this);
    label9 = makeLabel("label9", inputTerminatorBox, this);
    label10 = makeLabel("label10", nullptr, this);
    label10->setWordWrap(true);
    // Says when a custom pattern, not the instrument's own, finds the value.
    customPatternLabel = new QLabel(this);
    customPatternLabel->setObjectName(QStringLiteral("customPatternLabel"));
    customPatternLabel->setTextFormat(Qt::PlainText);
    customPatternLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    showCustomPattern();

    requestGroup = new RequestGroup(config, this);
    buildLayout();
    setPorts(portNames);

    connect(portList, &QComboBox::currentIndexChanged, this, [this] {
        if (!updatingControls)
            portListItemStateChanged();
    });
    connect(instrumentBox, &QComboBox::currentIndexChanged, this, &InputPanel::instrumentBoxItemStateChanged);
    connect(bitRateBox, &QComboBox::currentIndexChanged, this, &InputPanel::bitRateBoxItemStateChanged);
    connect(dataBitsBox, &QComboBox::currentIndexChanged, this, &InputPanel::dataBitsBoxItemStateChanged);
    connect(stopBitsBox, &QComboBox::currentIndexChanged, this, &InputPanel::stopBitsBoxItemStateChanged);
    connect(parityBox, &QComboBox::currentIndexChanged, this, &InputPanel::parityBoxItemStateChanged);
    // A named terminator is chosen from the list; a code is typed and
    // confirmed with Enter or by leaving the box.
    connect(inputTerminatorBox, &QComboBox::activated, this, [this] {
        if (!updatingControls)
            inputTerminatorBoxItemStateChanged();
    });
    connect(inputTerminatorBox->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (!updatingControls)
            inputTerminatorBoxItemStateChanged();
    });
    connect(autoButton, &QPushButton::clicked, this, &InputPanel::autoRequested);
    connect(defaultButton, &QPushButton::clicked, this, &InputPanel::defaultButtonActionPerformed);
    connect(refreshPortsButton, &QPushButton::clicked, this, &InputPanel::refreshPortsButtonActionPerformed);
    connect(customizeButton, &QPushButton::clicked, this, &InputPanel::customizeButtonActionPerformed);
    connect(portDoctorButton, &QPushButton::clicked, this, &InputPanel::portDoctorButtonActionPerformed);
}

void InputPanel::buildLayout()
{
    auto *portGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.portGroup.title"), this);
    auto *portGrid = new QGridLayout(portGroup);
    portGrid->addWidget(label2, 0, 0);
    portGrid->addWidget(portList, 0, 1, 1, 3);
    auto *portButtons = new QHBoxLayout;
    portButtons->addWidget(refreshPortsButton);
    portButtons->addWidget(autoButton);
    portButtons->addWidget(portProblemLabel);
    portButtons->addWidget(portDoctorButton);
    portButtons->addStretch(1);
    portGrid->addLayout(portButtons, 1, 1, 1, 3);
    portGrid->addWidget(deviceLabel, 2, 0);
    portGrid->addWidget(instrumentBox, 2, 1, 1, 3);
    auto *instrumentButtons = new QHBoxLayout;
    instrumentButtons->addWidget(defaultButton);
    instrumentButtons->addWidget(customizeButton);
    instrumentButtons->addStretch(1);
    portGrid->addLayout(instrumentButtons, 3, 1, 1, 3);
    portGrid->addWidget(customPatternLabel, 4, 1, 1, 3);
    portGrid->setColumnStretch(3, 1);

    auto *lineGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.lineGroup.title"), this);
    auto *lineGrid = new QGridLayout(lineGroup);
    lineGrid->addWidget(label3, 0, 0);
    lineGrid->addWidget(bitRateBox, 0, 1);
    lineGrid->addWidget(label8, 0, 3);
    lineGrid->addWidget(parityBox, 0, 4);
    lineGrid->addWidget(label6, 1, 0);
    lineGrid->addWidget(dataBitsBox, 1, 1);
    lineGrid->addWidget(label7, 1, 3);
    lineGrid->addWidget(stopBitsBox, 1, 4);
    lineGrid->addWidget(label9, 2, 0);
    lineGrid->addWidget(inputTerminatorBox, 2, 1);
    lineGrid->addWidget(label10, 3, 0, 1, 6);
    lineGrid->setColumnMinimumWidth(2, 24);
    lineGrid->setColumnStretch(5, 1);

    auto *column = new QVBoxLayout(this);
    column->addWidget(portGroup);
    column->addWidget(lineGroup);
    column->addWidget(requestGroup);
    column->addStretch(1);
}

const InputPanel::Helper::Instrument &InputPanel::selectedInstrument() const
{
    const auto all = Helper::Instrument::values();
    const int i = instrumentBox->currentIndex();
    return *all.at(i >= 0 && i < all.size() ? i : Helper::Instrument::getDefault().ordinal());
}

void InputPanel::updateConfig()
{
    portListItemStateChanged();
    instrumentBoxItemStateChanged();
    bitRateBoxItemStateChanged();
    dataBitsBoxItemStateChanged();
    stopBitsBoxItemStateChanged();
    parityBoxItemStateChanged();
    inputTerminatorBoxItemStateChanged();
    requestGroup->updateConfig();
    showCustomPattern();
}

void InputPanel::setPorts(const QStringList &portNames)
{
    ports = portNames;
    QStringList shown;
    if (portlink::FriendlyPortUtil::portInfoListIsPopulated())
        shown = portlink::FriendlyPortUtil::getFriendlyPortList();
    if (shown.isEmpty())
        shown = ports;
    // Names no discovery lists but worth offering: the port in use and the
    // recently used ones, when they are network addresses, or stable USB
    // names whose device is there. (A plain device that is gone is not
    // offered, so the automatic start sees that it is missing.)
    QStringList extra;
    for (const QString &name : QStringList { config.getPort() } + config.getRecentPorts()) {
        const bool offered = portlink::NetworkPortName::isNetworkName(name)
            || (name.startsWith(QLatin1String("/dev/serial/by-")) && QFileInfo::exists(name));
        if (offered && !ports.contains(name) && !shown.contains(name) && !extra.contains(name))
            extra.append(name);
    }
    updatingControls = true;
    portList->clear();
    portList->addItems(shown);
    portList->addItems(extra);
    markPorts(ports + extra);
    updatingControls = false;
    selectPort(config.getPort());
    if (portList->currentIndex() < 0 && portList->count() > 0)
        portList->setCurrentIndex(0);
    portListItemStateChanged();
}

void InputPanel::selectPort(const QString &portName)
{
    int index = portList->findText(portlink::FriendlyPortUtil::getFriendlyPortName(portName));
    if (index < 0)
        index = portList->findText(portName);
    if (index >= 0)
        portList->setCurrentIndex(index);
}

void InputPanel::showInputTerminator(int code)
{
    updatingControls = true;
    if (const Helper::InputTerminator *named = Helper::InputTerminator::getByCode(code)) {
        inputTerminatorBox->setCurrentIndex(named->ordinal());
        inputTerminatorBox->setEditText(named->toString());
    } else {
        inputTerminatorBox->setCurrentIndex(-1);
        inputTerminatorBox->setEditText(QString::number(code));
    }
    updatingControls = false;
}

void InputPanel::portListItemStateChanged()
{
    const QString entry = portList->currentText();
    if (entry.isEmpty())
        return;
    const QString name = portlink::FriendlyPortUtil::getUnfriendlyPortName(entry);
    // The full display text, which a narrow box may cut off.
    portList->setToolTip(name != entry ? entry : texts::WindowTexts::text(key("portList", "toolTipText")));
    portList->setAccessibleDescription(portList->toolTip()); // plain text, for screen readers
    config.setPort(name);
    showPortProblem(name);
    // A stable USB name: also the device it stands for now, for workstations
    // where the name does not exist.
    if (name.startsWith(QLatin1String("/dev/serial/by-"))) {
        const QString device = QFileInfo(name).canonicalFilePath();
        if (!device.isEmpty())
            config.setPortDevice(device);
    }
}

void InputPanel::instrumentBoxItemStateChanged()
{
    const Helper::Instrument &selected = selectedInstrument();
    const bool changed = config.getInstrument() != &selected;
    config.setInstrument(selected);
    if (changed && !config.getCustomRegEx().isEmpty()
        && MessageBoxes::askYesNo(window(),
               MessageText::own(QStringLiteral("Overwrite custom regular expression?")),
               QStringLiteral("Confirm"))
            == MessageBoxes::Answer::Yes)
        config.setCustomRegEx(QString());
    showCustomPattern();
}

void InputPanel::showCustomPattern()
{
    const QString pattern = config.getCustomRegEx();
    customPatternLabel->setVisible(!pattern.isEmpty());
    if (pattern.isEmpty()) {
        customPatternLabel->clear();
        customPatternLabel->setToolTip({});
        return;
    }
    // A long pattern is cut short here; the tooltip has it whole.
    constexpr int Shown = 60;
    const QString shown = pattern.size() > Shown ? pattern.left(Shown) + QChar(0x2026) : pattern;
    customPatternLabel->setText(
        texts::WindowTexts::format("RadezoZiDadFrame2.customPatternLabel.text", shown));
    customPatternLabel->setToolTip(pattern);
}

void InputPanel::bitRateBoxItemStateChanged()
{
    config.setBitRate(bitRateBox->currentIndex());
}
void InputPanel::dataBitsBoxItemStateChanged()
{
    config.setDataBits(dataBitsBox->currentIndex());
}
void InputPanel::stopBitsBoxItemStateChanged()
{
    config.setStopBits(stopBitsBox->currentIndex());
}
void InputPanel::parityBoxItemStateChanged()
{
    config.setParity(parityBox->currentIndex());
}

void InputPanel::inputTerminatorBoxItemStateChanged()
{
    const QString text = inputTerminatorBox->currentText().trimmed();
    for (const Helper::InputTerminator *named : Helper::InputTerminator::values()) {
        if (text == named->toString()) {
            config.setInputTerminator(named->getCode());
            return;
        }
    }
    if (const std::optional<int> code = SettingRules::parseInputTerminator(text)) {
        config.setInputTerminator(*code);
        showInputTerminator(*code);
        return;
    }
    // Put the valid value back before the message, so the box never shows a
    // refused entry behind it.
    showInputTerminator(config.getInputTerminator());
    Q_EMIT showRequested();
    MessageBoxes::showMessage(window(),
        MessageText::own(texts::WindowTexts::text("terminator.must.be.between.0.and.255")),
        texts::WindowTexts::text("error"));
}

void InputPanel::defaultButtonActionPerformed()
{
    const Helper::Instrument &instrument = selectedInstrument();
    if (const std::optional<QString> message = instrument.getDefaultMessage())
        MessageBoxes::showMessage(
            window(), MessageText::own(*message), QStringLiteral("Info"), MessageBoxes::Icon::Information);
    const config::Config defaults = instrument.getDefaultConfig();
    bitRateBox->setCurrentIndex(defaults.getBitRate());
    dataBitsBox->setCurrentIndex(defaults.getDataBits());
    stopBitsBox->setCurrentIndex(defaults.getStopBits());
    parityBox->setCurrentIndex(defaults.getParity());
    showInputTerminator(defaults.getInputTerminator());
    bitRateBoxItemStateChanged();
    dataBitsBoxItemStateChanged();
    stopBitsBoxItemStateChanged();
    parityBoxItemStateChanged();
    inputTerminatorBoxItemStateChanged();
}

void InputPanel::refreshPortsButtonActionPerformed()
{
    QStringList names;
    try {
        portlink::PortRegistry::clearPortListInfo();
        portlink::FriendlyPortUtil::reset();
        names = portlink::PortRegistry::getPortList();
        try {
            portlink::FriendlyPortUtil::update();
        } catch (const std::exception &) {
            // No driver data on this system: the bare names are shown.
        }
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(window(),
            MessageText::own(texts::WindowTexts::text("error.listing.available.ports"))
                + MessageText::outside(QString::fromUtf8(e.what())),
            texts::WindowTexts::text("error"));
        return;
    }
    setPorts(names);
    if (names.isEmpty())
        MessageBoxes::showMessage(window(),
            MessageText::own(
                texts::WindowTexts::text("no.rs.232.port.found.on.your.system.program.will.now.exit")),
            texts::WindowTexts::text("error"));
}

void InputPanel::markPorts(const QStringList &names)
{
    portMarks.clear();
    // Only devices of this computer: a quick look, without waiting for a
    // device that may vanish.
    QStringList devices;
    for (const QString &name : names)
        if (name.startsWith(QLatin1String("/dev/")))
            devices.append(name);
    if (devices.isEmpty())
        return;
    const portlink::doctor::LocalSystemView system;
    const auto found = portlink::doctor::diagnosePorts(devices, system, { false, 0, true });
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (const auto &d : found) {
        const QString mark = d.mark();
        if (mark.isEmpty())
            continue;
        portMarks.insert(d.port, mark);
        int index = portList->findText(portlink::FriendlyPortUtil::getFriendlyPortName(d.port));
        if (index < 0)
            index = portList->findText(d.port);
        if (index >= 0) {
            portList->setItemIcon(index, warning);
            portList->setItemData(index, mark, Qt::ToolTipRole);
        }
    }
}

void InputPanel::showPortProblem(const QString &name)
{
    const QString mark = portMarks.value(name);
    portProblemLabel->setText(mark);
    portProblemLabel->setVisible(!mark.isEmpty());
    portDoctorButton->setVisible(name.startsWith(QLatin1String("/dev/")) && !mark.isEmpty());
}

void InputPanel::portDoctorButtonActionPerformed()
{
    PortDoctorDialog doctor(window(), config.getPort());
    MessageBoxes::execDialog(doctor);
    markPorts(ports);
    showPortProblem(config.getPort());
}

void InputPanel::customizeButtonActionPerformed()
{
    CustomRegExDialog dialog(window(), config);
    dialog.setResult(config.getCustomRegEx());
    dialog.regExTextArea->setPlainText(config.getCustomRegEx());
    MessageBoxes::execDialog(dialog);
    if (dialog.getResult() != config.getCustomRegEx())
        config.setCustomRegEx(dialog.getResult());
    showCustomPattern();
}

} // namespace omvara
