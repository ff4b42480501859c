// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/IgnoreDialog.h"

#include "omvara/texts/WindowTexts.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/SettingRules.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace omvara {

IgnoreDialog::IgnoreDialog(QWidget *owner, const config::Config &)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("IgnoreDialog"));
    setModal(true);
    setWindowTitle(texts::WindowTexts::text("IgnoreDialog.this.title"));

    ignoreTimeLimitTextField = new QLineEdit(this);
    ignoreTimeLimitTextField->setObjectName(QStringLiteral("ignoreTimeLimitTextField"));
    ignoreTimeLimitTextField->setToolTip(
        texts::WindowTexts::text("IgnoreDialog.ignoreTimeLimitTextField.toolTipText"));
    ignoreDifferenceTextField = new QLineEdit(this);
    ignoreDifferenceTextField->setObjectName(QStringLiteral("ignoreDifferenceTextField"));
    ignoreDifferenceTextField->setToolTip(
        texts::WindowTexts::text("IgnoreDialog.ignoreDifferenceTextField.toolTipText"));

    auto *label2 = new QLabel(texts::WindowTexts::text("IgnoreDialog.label2.text"), this);
    label2->setBuddy(ignoreTimeLimitTextField);
    auto *label3 = new QLabel(texts::WindowTexts::text("IgnoreDialog.label3.text"), this);
    label3->setBuddy(ignoreDifferenceTextField);
    auto *explanation = new QLabel(texts::WindowTexts::text("IgnoreDialog.label1.text"), this);
    explanation->setWordWrap(true);

    auto *grid = new QGridLayout;
    grid->addWidget(explanation, 0, 0, 1, 3);
    grid->addWidget(label2, 1, 0);
    grid->addWidget(ignoreTimeLimitTextField, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("ms"), this), 1, 2);
    grid->addWidget(label3, 2, 0);
    grid->addWidget(ignoreDifferenceTextField, 2, 1);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    cancelButton = new QPushButton(texts::WindowTexts::text("IgnoreDialog.cancelButton.text"), this);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(okButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancelButton, QDialogButtonBox::RejectRole);

    auto *column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addStretch(1);
    column->addWidget(buttons);

    // The buttons act through their handlers only, so a refused entry
    // never closes the dialog.
    connect(okButton, &QPushButton::clicked, this, &IgnoreDialog::okButtonActionPerformed);
    connect(cancelButton, &QPushButton::clicked, this, &IgnoreDialog::cancelButtonActionPerformed);
    setMinimumWidth(380);
}

void IgnoreDialog::setResults(const QString &timeLimit, const QString &difference)
{
    timeLimitResult = timeLimit;
    differenceResult = difference;
    ignoreTimeLimitTextField->setText(timeLimit);
    ignoreDifferenceTextField->setText(difference);
}

void IgnoreDialog::okButtonActionPerformed()
{
    const auto accepted = SettingRules::acceptIgnoreLimits(
        ignoreTimeLimitTextField->text().trimmed(), ignoreDifferenceTextField->text().trimmed());
    if (!accepted) {
        MessageBoxes::showMessage(this, MessageText::own(texts::WindowTexts::text("ignore.error")),
            texts::WindowTexts::text("error"));
        return;
    }
    timeLimitResult = accepted->first;
    differenceResult = accepted->second;
    accept();
}

void IgnoreDialog::cancelButtonActionPerformed()
{
    reject();
}

} // namespace omvara
