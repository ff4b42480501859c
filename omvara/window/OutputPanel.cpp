// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/OutputPanel.h"

#include "omvara/window/TextFieldVerifier.h"

#include "omvara/texts/WindowTexts.h"
#include "omvara/window/DecimalSeparatorBox.h"
#include "omvara/window/FrameControls.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/SettingRules.h"
#include "omvara/window/TextFieldVerifier.h"
#include "omvara/window/plus/PlusControls.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

namespace omvara {

using FrameControls::named;

namespace {
QLabel *makeLabel(const char *member, const char *property, QWidget *buddy, QWidget *parent)
{
    return FrameControls::label(member, buddy, parent, property);
}
} // namespace

OutputPanel::OutputPanel(config::Config &config, QWidget *parent)
    : QWidget(parent)
    , config(config)
{
    setObjectName(QStringLiteral("outputPanel"));

    decimalSeparatorBox = new DecimalSeparatorBox(config.getDecimalSeparator(), this);
    decimalSeparatorBox->setEnabled(plus::InstrumentTypeFollower::enabledFor(config.getInstrument()));
    outputTerminatorBox
        = named(new OutputTerminatorBox(config.getOutputTerminator(), this), "outputTerminatorBox");
    soundComboBox = named(new plus::PlusSoundComboBox(config.getSound(), this), "soundComboBox");
    keyboardTypeBox = named(new KeyboardTypeBox(config.getKeyboardType(), this), "keyboardTypeBox");
    startWithBox = named(new plus::PlusStartWithBox(config.getStartWith(), this), "startWithBox");
    delayTextField = named(new plus::PlusDelayTextField(config.getDelay(), this), "delayTextField");
    delayTextField->setMaximumWidth(90);

    label4 = makeLabel("label4", "text", decimalSeparatorBox, this);
    label5 = makeLabel("label5", "text", outputTerminatorBox, this);
    label17 = makeLabel("label17", "text", soundComboBox, this);
    label23 = makeLabel("label23", "text", keyboardTypeBox, this);
    label12 = makeLabel("label12", "text_2", startWithBox, this);
    label26 = makeLabel("label26", "text", delayTextField, this);
    label21 = makeLabel("label21", "text", nullptr, this);
    label22 = makeLabel("label22", "text", nullptr, this);
    label22->setWordWrap(true);
    decimalSeparatorNote = named(new QLabel(this), "decimalSeparatorNote", false);
    decimalSeparatorNote->setWordWrap(true);
    sessionDecimalMark = run::SessionDecimalMark::find(run::SessionLocaleSources::fromSystem());
    showDecimalSeparatorNote();
    buildStamps();
    buildRecordAndBroker();
    buildCodes();

    buildLayout();

    connect(decimalSeparatorBox, &QComboBox::currentIndexChanged, this,
        &OutputPanel::decimalSeparatorBoxItemStateChanged);
    connect(outputTerminatorBox, &QComboBox::currentIndexChanged, this,
        &OutputPanel::outputTerminatorBoxItemStateChanged);
    connect(
        soundComboBox, &QComboBox::currentIndexChanged, this, &OutputPanel::soundComboBoxItemStateChanged);
    connect(keyboardTypeBox, &QComboBox::currentIndexChanged, this,
        &OutputPanel::keyboardTypeBoxItemStateChanged);
    connect(startWithBox, &QComboBox::currentIndexChanged, this, &OutputPanel::startWithBoxItemStateChanged);
    delayCheck = new DelayTextFieldUpdate(delayTextField, config);
}

void OutputPanel::buildLayout()
{
    auto *typingGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.typingGroup.title"), this);
    auto *grid = new QGridLayout(typingGroup);
    grid->addWidget(label12, 0, 0);
    grid->addWidget(startWithBox, 0, 1);
    grid->addWidget(label5, 1, 0);
    grid->addWidget(outputTerminatorBox, 1, 1);
    grid->addWidget(label4, 2, 0);
    grid->addWidget(decimalSeparatorBox, 2, 1);
    grid->addWidget(decimalSeparatorNote, 2, 2, 1, 2);
    grid->addWidget(label23, 3, 0);
    grid->addWidget(keyboardTypeBox, 3, 1);
    grid->addWidget(label26, 4, 0);
    grid->addWidget(delayTextField, 4, 1);
    grid->addWidget(label21, 4, 2);
    // Each stamp beside the key it follows or precedes: the tab grows no taller.
    grid->addWidget(stampBeforeLabel, 0, 2);
    grid->addWidget(stampBeforeTextField, 0, 3);
    grid->addWidget(stampAfterLabel, 1, 2);
    grid->addWidget(stampAfterTextField, 1, 3);
    grid->setColumnStretch(3, 1);

    auto *soundGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.soundGroup.title"), this);
    auto *soundGrid = new QGridLayout(soundGroup);
    soundGrid->addWidget(label17, 0, 0);
    soundGrid->addWidget(soundComboBox, 0, 1);
    soundGrid->setColumnStretch(2, 1);

    auto *recordGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.recordGroup.title"), this);
    auto *recordGrid = new QGridLayout(recordGroup);
    recordGrid->addWidget(recordFileLabel, 0, 0);
    recordGrid->addWidget(recordFileTextField, 0, 1);
    recordGrid->addWidget(chooseRecordFileButton, 0, 2);
    recordGrid->addWidget(mqttUrlLabel, 1, 0);
    recordGrid->addWidget(mqttUrlTextField, 1, 1);
    recordGrid->addWidget(mqttCaFileLabel, 2, 0);
    recordGrid->addWidget(mqttCaFileTextField, 2, 1);
    recordGrid->addWidget(chooseMqttCaFileButton, 2, 2);
    recordGrid->addWidget(mqttPasswordLabel, 3, 0);
    recordGrid->addWidget(mqttPasswordField, 3, 1);
    recordGrid->setColumnStretch(1, 1);

    auto *codesGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.codesGroup.title"), this);
    auto *codesGrid = new QGridLayout(codesGroup);
    codesGrid->addWidget(inputEncodingLabel, 0, 0);
    codesGrid->addWidget(inputEncodingBox, 0, 1);
    codesGrid->addWidget(typeEveryCharacterCheckBox, 1, 0, 1, 4);
    codesGrid->addWidget(controlCharactersLabel, 2, 0);
    codesGrid->addWidget(controlCharactersBox, 2, 1);
    codesGrid->addWidget(controlKeyBox, 2, 2);
    codesGrid->addWidget(controlTextField, 2, 3);
    codesGrid->addWidget(removeSymbologyIdCheckBox, 3, 0, 1, 4);
    codesGrid->setColumnStretch(4, 1);

    // The tab scrolls where the window is smaller than its groups (800x600).
    auto *content = new QWidget(this);
    auto *column = new QVBoxLayout(content);
    column->addWidget(typingGroup);
    column->addWidget(codesGroup);
    column->addWidget(soundGroup);
    column->addWidget(recordGroup);
    column->addWidget(label22);
    column->addStretch(1);
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("outputScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // Tab goes through its controls, not to it
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    // Tab goes as one reads: row by row, left to right, group after group
    // (the controls were made in another order than they are laid out).
    const QList<QWidget *> reading { startWithBox, stampBeforeTextField, outputTerminatorBox,
        stampAfterTextField, decimalSeparatorBox, keyboardTypeBox, delayTextField, inputEncodingBox,
        typeEveryCharacterCheckBox, controlCharactersBox, controlKeyBox, controlTextField,
        removeSymbologyIdCheckBox, soundComboBox, recordFileTextField, chooseRecordFileButton,
        mqttUrlTextField, mqttCaFileTextField, chooseMqttCaFileButton, mqttPasswordField };
    for (qsizetype i = 1; i < reading.size(); ++i)
        setTabOrder(reading[i - 1], reading[i]);
}

void OutputPanel::buildStamps()
{
    stampBeforeTextField = named(new QLineEdit(config.getStampBefore(), this), "stampBeforeTextField");
    stampBeforeTextField->setPlaceholderText(QStringLiteral("{date} {time} "));
    stampAfterTextField = named(new QLineEdit(config.getStampAfter(), this), "stampAfterTextField");
    stampAfterTextField->setPlaceholderText(QStringLiteral(" #{seq}"));
    stampBeforeLabel = makeLabel("stampBeforeLabel", "text", stampBeforeTextField, this);
    stampAfterLabel = makeLabel("stampAfterLabel", "text", stampAfterTextField, this);
    stampBeforeVerifier = new StampTextFieldUpdate(
        stampBeforeTextField, [this](const QString &t) { config.setStampBefore(t); });
    stampAfterVerifier = new StampTextFieldUpdate(
        stampAfterTextField, [this](const QString &t) { config.setStampAfter(t); });
}

void OutputPanel::buildRecordAndBroker()
{
    recordFileTextField = named(new QLineEdit(config.getRecordFile(), this), "recordFileTextField");
    chooseRecordFileButton = named(
        new QPushButton(FrameControls::text("chooseRecordFileButton"), this), "chooseRecordFileButton");
    mqttUrlTextField = named(new QLineEdit(config.getMqttUrl(), this), "mqttUrlTextField");
    mqttUrlTextField->setPlaceholderText(QStringLiteral("mqtt://host/topic"));
    mqttCaFileTextField = named(new QLineEdit(config.getMqttCaFile(), this), "mqttCaFileTextField");
    chooseMqttCaFileButton = named(
        new QPushButton(FrameControls::text("chooseMqttCaFileButton"), this), "chooseMqttCaFileButton");
    mqttPasswordField = named(new QLineEdit(this), "mqttPasswordField");
    mqttPasswordField->setEchoMode(QLineEdit::Password);

    recordFileLabel = makeLabel("recordFileLabel", "text", recordFileTextField, this);
    mqttUrlLabel = makeLabel("mqttUrlLabel", "text", mqttUrlTextField, this);
    mqttCaFileLabel = makeLabel("mqttCaFileLabel", "text", mqttCaFileTextField, this);
    mqttPasswordLabel = makeLabel("mqttPasswordLabel", "text", mqttPasswordField, this);

    recordFileVerifier = new RecordFileTextFieldUpdate(recordFileTextField, config);
    mqttUrlVerifier = new MqttUrlTextFieldUpdate(mqttUrlTextField, config);
    mqttCaFileVerifier = new MqttCaFileTextFieldUpdate(mqttCaFileTextField, config);

    connect(chooseRecordFileButton, &QPushButton::clicked, this,
        &OutputPanel::chooseRecordFileButtonActionPerformed);
    connect(chooseMqttCaFileButton, &QPushButton::clicked, this,
        &OutputPanel::chooseMqttCaFileButtonActionPerformed);
}

void OutputPanel::buildCodes()
{
    inputEncodingBox = named(new InputEncodingBox(config.getInputEncoding(), this), "inputEncodingBox");
    // An encoding this system cannot decode cannot be chosen.
    if (auto *items = qobject_cast<QStandardItemModel *>(inputEncodingBox->model())) {
        for (const config::InputEncoding *encoding : config::InputEncoding::values())
            if (!encoding->available())
                items->item(encoding->ordinal())->setEnabled(false);
    }
    typeEveryCharacterCheckBox = named(
        new QCheckBox(FrameControls::text("typeEveryCharacterCheckBox"), this), "typeEveryCharacterCheckBox");
    typeEveryCharacterCheckBox->setChecked(config.getTypeEveryCharacter());
    controlCharactersBox
        = named(new ControlCharactersBox(config.getControlCharacters(), this), "controlCharactersBox");
    controlKeyBox = named(new ControlKeyBox(config.getControlKey(), this), "controlKeyBox");
    controlTextField = named(new QLineEdit(config.getControlText(), this), "controlTextField");
    controlTextField->setMaximumWidth(120);
    removeSymbologyIdCheckBox = named(
        new QCheckBox(FrameControls::text("removeSymbologyIdCheckBox"), this), "removeSymbologyIdCheckBox");
    removeSymbologyIdCheckBox->setChecked(config.getRemoveSymbologyId());
    inputEncodingLabel = makeLabel("inputEncodingLabel", "text", inputEncodingBox, this);
    controlCharactersLabel = makeLabel("controlCharactersLabel", "text", controlCharactersBox, this);
    controlTextVerifier = new TextFieldVerifier(
        controlTextField,
        [](const QString &typed) -> std::optional<QString> {
            if (config::ControlText::valid(typed))
                return typed;
            return std::nullopt;
        },
        QStringLiteral("error.control.text"), [this](const QString &t) { config.setControlText(t); },
        [this] { return config.getControlText(); });
    showControlChoice();

    connect(inputEncodingBox, &QComboBox::currentIndexChanged, this, &OutputPanel::updateCodes);
    connect(typeEveryCharacterCheckBox, &QCheckBox::toggled, this, &OutputPanel::updateCodes);
    connect(controlCharactersBox, &QComboBox::currentIndexChanged, this, [this] {
        updateCodes();
        showControlChoice();
    });
    connect(controlKeyBox, &QComboBox::currentIndexChanged, this, &OutputPanel::updateCodes);
    connect(removeSymbologyIdCheckBox, &QCheckBox::toggled, this, &OutputPanel::updateCodes);
}

void OutputPanel::showControlChoice()
{
    const config::ControlCharacters &choice = controlCharactersBox->getSelected();
    controlKeyBox->setVisible(&choice == &config::ControlCharacters::KEY);
    controlTextField->setVisible(&choice == &config::ControlCharacters::TEXT);
}

void OutputPanel::updateCodes()
{
    config.setInputEncoding(inputEncodingBox->getSelected());
    config.setTypeEveryCharacter(typeEveryCharacterCheckBox->isChecked());
    config.setControlCharacters(controlCharactersBox->getSelected());
    config.setControlKey(controlKeyBox->getSelected());
    config.setRemoveSymbologyId(removeSymbologyIdCheckBox->isChecked());
}

void OutputPanel::updateRecordAndBroker()
{
    recordFileVerifier->verify();
    mqttUrlVerifier->verify();
    mqttCaFileVerifier->verify();
    stampBeforeVerifier->verify();
    stampAfterVerifier->verify();
}

QString OutputPanel::brokerPassword() const
{
    return mqttPasswordField->text();
}

void OutputPanel::chooseRecordFileButtonActionPerformed()
{
    QString proposed = recordFileTextField->text().trimmed();
    if (proposed.isEmpty())
        proposed = QStringLiteral("Omvara-records.csv");
    if (QDir::isRelativePath(proposed))
        proposed = QDir::home().filePath(proposed);
    const QString file = MessageBoxes::chooseSaveFile(window(), texts::WindowTexts::text("record.file.title"),
        proposed, texts::WindowTexts::text("csv.file.filter"));
    if (file.isEmpty())
        return;
    recordFileTextField->setText(QDir::toNativeSeparators(file));
    recordFileVerifier->verify();
}

void OutputPanel::chooseMqttCaFileButtonActionPerformed()
{
    const QString file
        = MessageBoxes::chooseOpenFile(window(), texts::WindowTexts::text("certificate.file.title"),
            texts::WindowTexts::text("certificate.file.filter"));
    if (file.isEmpty())
        return;
    mqttCaFileTextField->setText(QDir::toNativeSeparators(file));
    mqttCaFileVerifier->verify();
}

void OutputPanel::registerListeners()
{
    config.addPropertyChangeListener(decimalSeparatorBox);
}

void OutputPanel::unregisterListeners()
{
    config.removePropertyChangeListener(decimalSeparatorBox);
}

void OutputPanel::updateKeyboardAndDelay()
{
    keyboardTypeBoxItemStateChanged();
    delayCheck->verify(true);
}

void OutputPanel::updateConfig()
{
    decimalSeparatorBoxItemStateChanged();
    startWithBoxItemStateChanged();
    outputTerminatorBoxItemStateChanged();
    soundComboBoxItemStateChanged();
    updateCodes();
    controlTextVerifier->verify();
    updateRecordAndBroker();
}

void OutputPanel::decimalSeparatorBoxItemStateChanged()
{
    config.setDecimalSeparator(decimalSeparatorBox->getSelected());
    showDecimalSeparatorNote();
}

void OutputPanel::showDecimalSeparatorNote()
{
    const QString warning
        = run::decimalSeparatorWarning(decimalSeparatorBox->getSelected(), sessionDecimalMark);
    decimalSeparatorNote->setText(warning);
    decimalSeparatorNote->setVisible(!warning.isEmpty());
}

void OutputPanel::outputTerminatorBoxItemStateChanged()
{
    config.setOutputTerminator(outputTerminatorBox->getSelected());
}

void OutputPanel::soundComboBoxItemStateChanged()
{
    config.setSound(soundComboBox->getSelected());
}

void OutputPanel::keyboardTypeBoxItemStateChanged()
{
    config.setKeyboardType(keyboardTypeBox->getSelected());
}

void OutputPanel::startWithBoxItemStateChanged()
{
    config.setStartWith(startWithBox->getSelected());
}

} // namespace omvara
