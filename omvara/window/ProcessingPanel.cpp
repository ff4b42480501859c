// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/ProcessingPanel.h"

#include "omvara/config/RequestSettings.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/window/FrameControls.h"
#include "omvara/window/IgnoreDialog.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/TextFieldVerifier.h"
#include "omvara/window/plus/PlusControls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace omvara {

using Helper = config::ConfigHelper;

using FrameControls::key;
using FrameControls::named;

namespace {
QLabel *makeLabel(const char *member, QWidget *buddy, QWidget *parent)
{
    return FrameControls::label(member, buddy, parent);
}
} // namespace

ProcessingPanel::ProcessingPanel(config::Config &config, QWidget *parent)
    : QWidget(parent)
    , config(config)
{
    setObjectName(QStringLiteral("processingPanel"));

    mathOperationBox
        = named(new plus::PlusMathOperationBox(config.getMathOperation(), this), "mathOperationBox", true);
    mathOperandTextField = named(
        new plus::PlusMathOperandTextField(config.getMathOperand(), this), "mathOperandTextField", true);
    decimalTextField
        = named(new plus::PlusDecimalTextField(config.getDecimalPlaces(), this), "decimalTextField", true);
    roundingMethodBox
        = named(new plus::PlusRoundingMethodBox(config.getRoundingMethod(), this), "roundingMethodBox", true);
    editOperationComboBox = named(
        new plus::PlusEditOperationComboBox(config.getEditOperation(), this), "editOperationComboBox", false);
    editPositionComboBox = named(
        new plus::PlusEditPositionComboBox(config.getEditPosition(), this), "editPositionComboBox", false);
    editNumCharactersTextField
        = named(new plus::PlusEditNumCharactersTextField(config.getEditNumCharacters(), this),
            "editNumCharactersTextField", true);
    removeCharactersTextField
        = named(new plus::PlusRemoveCharactersTextField(config.getRemoveCharacters(), this),
            "removeCharactersTextField", true);
    ignoreDuplicatesCheckBox = named(new plus::PlusUnselectedAlwaysCheckBox(
                                         texts::WindowTexts::text(key("ignoreDuplicatesCheckBox", "text")),
                                         config.getIgnoreDuplicates(), this),
        "ignoreDuplicatesCheckBox", false);
    adjustIgnoreButton
        = named(new plus::PlusButton(texts::WindowTexts::text(key("adjustIgnoreButton", "text")), this),
            "adjustIgnoreButton", false);

    for (QLineEdit *field :
        { static_cast<QLineEdit *>(mathOperandTextField), static_cast<QLineEdit *>(decimalTextField),
            static_cast<QLineEdit *>(editNumCharactersTextField) })
        field->setMaximumWidth(90);

    mathOperandVerifier = new MathOperandTextFieldUpdate(mathOperandTextField, config);
    decimalVerifier = new DecimalTextFieldUpdate(decimalTextField, config);
    editNumCharactersVerifier = new EditNumCharactersTextFieldUpdate(editNumCharactersTextField, config);
    removeCharactersVerifier = new RemoveCharactersTextFieldUpdate(removeCharactersTextField, config);

    label24 = makeLabel("label24", mathOperationBox, this);
    label25 = makeLabel("label25", mathOperandTextField, this);
    label15 = makeLabel("label15", decimalTextField, this);
    label16 = makeLabel("label16", decimalTextField, this);
    label20 = makeLabel("label20", roundingMethodBox, this);
    label27 = makeLabel("label27", editOperationComboBox, this);
    label28 = makeLabel("label28", editNumCharactersTextField, this);
    label29 = makeLabel("label29", removeCharactersTextField, this);
    label30 = makeLabel("label30", nullptr, this);
    label30->setWordWrap(true);

    // Settled readings.
    stableReadingsTextField = named(
        new QLineEdit(QString::number(config.getStableReadings()), this), "stableReadingsTextField", true);
    stableReadingsTextField->setMaximumWidth(90);
    stableReadingsLabel = makeLabel("stableReadingsLabel", stableReadingsTextField, this);
    stableReadingsVerifier = new TextFieldVerifier(
        stableReadingsTextField,
        [](const QString &text) -> std::optional<QString> {
            bool ok = false;
            const qint64 n = text.trimmed().toLongLong(&ok);
            if (!ok || !config::StableReadings::valid(n))
                return std::nullopt;
            return QString::number(n);
        },
        QStringLiteral("error.stable.readings"),
        [this](const QString &t) { this->config.setStableReadings(t.toInt()); });

    const bool numeric = plus::InstrumentTypeFollower::enabledFor(config.getInstrument());
    for (QWidget *w :
        { static_cast<QWidget *>(mathOperationBox), static_cast<QWidget *>(mathOperandTextField),
            static_cast<QWidget *>(decimalTextField), static_cast<QWidget *>(roundingMethodBox) })
        w->setEnabled(numeric);

    buildLayout();

    connect(mathOperationBox, &QComboBox::currentIndexChanged, this,
        &ProcessingPanel::mathOperationBoxItemStateChanged);
    connect(roundingMethodBox, &QComboBox::currentIndexChanged, this,
        &ProcessingPanel::roundingMethodBoxItemStateChanged);
    connect(editOperationComboBox, &QComboBox::currentIndexChanged, this,
        &ProcessingPanel::editOperationComboBoxItemStateChanged);
    connect(editPositionComboBox, &QComboBox::currentIndexChanged, this,
        &ProcessingPanel::editPositionComboBoxItemStateChanged);
    connect(ignoreDuplicatesCheckBox, &QCheckBox::clicked, this,
        &ProcessingPanel::ignoreDuplicatesCheckBoxActionPerformed);
    connect(
        adjustIgnoreButton, &QPushButton::clicked, this, &ProcessingPanel::adjustIgnoreButtonActionPerformed);
}

void ProcessingPanel::buildLayout()
{
    auto *mathGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.mathGroup.title"), this);
    auto *mathGrid = new QGridLayout(mathGroup);
    mathGrid->addWidget(label24, 0, 0);
    mathGrid->addWidget(mathOperationBox, 0, 1);
    mathGrid->addWidget(label25, 0, 2);
    mathGrid->addWidget(mathOperandTextField, 0, 3);
    mathGrid->addWidget(label15, 1, 0);
    mathGrid->addWidget(decimalTextField, 1, 1);
    mathGrid->addWidget(label16, 1, 2, 1, 2);
    mathGrid->addWidget(label20, 2, 0);
    mathGrid->addWidget(roundingMethodBox, 2, 1);
    mathGrid->setColumnStretch(4, 1);

    auto *editGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.editGroup.title"), this);
    auto *editGrid = new QGridLayout(editGroup);
    editGrid->addWidget(label27, 0, 0);
    auto *editRow = new QHBoxLayout;
    editRow->addWidget(editOperationComboBox);
    editRow->addWidget(editPositionComboBox);
    editRow->addWidget(editNumCharactersTextField);
    editRow->addWidget(label28);
    editRow->addStretch(1);
    editGrid->addLayout(editRow, 0, 1);
    editGrid->addWidget(label29, 1, 0);
    editGrid->addWidget(removeCharactersTextField, 1, 1);

    auto *duplicateGroup
        = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.duplicateGroup.title"), this);
    auto *duplicateGrid = new QGridLayout(duplicateGroup);
    duplicateGrid->addWidget(ignoreDuplicatesCheckBox, 0, 0);
    duplicateGrid->addWidget(adjustIgnoreButton, 0, 1);
    duplicateGrid->addWidget(label30, 1, 0, 1, 3);
    auto *stableRow = new QHBoxLayout;
    stableRow->addWidget(stableReadingsLabel);
    stableRow->addWidget(stableReadingsTextField);
    stableRow->addStretch(1);
    duplicateGrid->addLayout(stableRow, 2, 0, 1, 3);
    duplicateGrid->setColumnStretch(2, 1);

    auto *column = new QVBoxLayout(this);
    column->addWidget(mathGroup);
    column->addWidget(editGroup);
    column->addWidget(duplicateGroup);
    column->addStretch(1);
}

QStringList ProcessingPanel::textKeys()
{
    return {
        QStringLiteral("RadezoZiDadFrame2.stableReadingsLabel.text"),
        QStringLiteral("RadezoZiDadFrame2.stableReadingsTextField.toolTipText"),
        QStringLiteral("error.stable.readings"),
    };
}

void ProcessingPanel::registerListeners()
{
    config.addPropertyChangeListener(mathOperationBox);
    config.addPropertyChangeListener(mathOperandTextField);
    config.addPropertyChangeListener(decimalTextField);
    config.addPropertyChangeListener(roundingMethodBox);
}

void ProcessingPanel::unregisterListeners()
{
    config.removePropertyChangeListener(mathOperationBox);
    config.removePropertyChangeListener(mathOperandTextField);
    config.removePropertyChangeListener(decimalTextField);
    config.removePropertyChangeListener(roundingMethodBox);
}

bool ProcessingPanel::updateConfig()
{
    roundingMethodBoxItemStateChanged();
    decimalVerifier->verify();
    mathOperationBoxItemStateChanged();
    mathOperandVerifier->verify();
    editOperationComboBoxItemStateChanged();
    editPositionComboBoxItemStateChanged();
    editNumCharactersVerifier->verify();
    removeCharactersVerifier->verify();
    ignoreDuplicatesCheckBoxActionPerformed();
    stableReadingsVerifier->verify();

    const Helper::MathOperation &operation = mathOperationBox->getSelected();
    if (&operation != &Helper::MathOperation::NONE && mathOperandTextField->text().isEmpty()) {
        mathOperationBox->setSelected(Helper::MathOperation::NONE);
        config.setMathOperation(Helper::MathOperation::NONE);
    }
    return &mathOperationBox->getSelected() == &Helper::MathOperation::DIVIDE
        && decimalTextField->text().isEmpty();
}

void ProcessingPanel::mathOperationBoxItemStateChanged()
{
    const Helper::MathOperation &operation = mathOperationBox->getSelected();
    config.setMathOperation(operation);
    if (&operation == &Helper::MathOperation::NONE) {
        mathOperandTextField->clear();
        config.setMathOperand(QString());
    }
}

void ProcessingPanel::roundingMethodBoxItemStateChanged()
{
    config.setRoundingMethod(roundingMethodBox->getSelected());
}

void ProcessingPanel::editOperationComboBoxItemStateChanged()
{
    config.setEditOperation(editOperationComboBox->getSelected());
}

void ProcessingPanel::editPositionComboBoxItemStateChanged()
{
    config.setEditPosition(editPositionComboBox->getSelected());
}

void ProcessingPanel::ignoreDuplicatesCheckBoxActionPerformed()
{
    config.setIgnoreDuplicates(ignoreDuplicatesCheckBox->isChecked());
}

void ProcessingPanel::adjustIgnoreButtonActionPerformed()
{
    IgnoreDialog dialog(window(), config);
    dialog.setResults(config.getIgnoreTimeLimit(), config.getIgnoreDifference());
    MessageBoxes::execDialog(dialog);
    if (dialog.getTimeLimitResult() != config.getIgnoreTimeLimit())
        config.setIgnoreTimeLimit(dialog.getTimeLimitResult());
    if (dialog.getDifferenceResult() != config.getIgnoreDifference())
        config.setIgnoreDifference(dialog.getDifferenceResult());
}

} // namespace omvara
