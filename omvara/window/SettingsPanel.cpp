// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/SettingsPanel.h"

#include <QCheckBox>

#include "omvara/texts/WindowTexts.h"
#include "omvara/window/FrameControls.h"
#include "omvara/window/plus/PlusControls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace omvara {

using Helper = config::ConfigHelper;

using FrameControls::named;

namespace {
QString textOf(const char *member)
{
    return FrameControls::text(member);
}
QLabel *makeLabel(const char *member, QWidget *parent)
{
    return FrameControls::label(member, nullptr, parent);
}
} // namespace

SettingsPanel::SettingsPanel(config::Config &config, QWidget *parent)
    : QWidget(parent)
    , config(config)
{
    setObjectName(QStringLiteral("settingsPanel"));

    manualConnectButton
        = named(new QRadioButton(textOf("manualConnectButton"), this), "manualConnectButton", true);
    autoConnectButton
        = named(new plus::PlusAutoConnectButton(textOf("autoConnectButton"), config.getConnect(), this),
            "autoConnectButton", true);
    manualConnectButton->setChecked(!autoConnectButton->isChecked());
    connectButtonGroup = new QButtonGroup(this);
    connectButtonGroup->addButton(manualConnectButton);
    connectButtonGroup->addButton(autoConnectButton);

    abortAutoStartCheckBox = named(new plus::PlusUnselectedAlwaysCheckBox(textOf("abortAutoStartCheckBox"),
                                       config.getAbortAutoStartWhenPrevPortNotAvailable(), this),
        "abortAutoStartCheckBox", true);
    minimizeToTrayCheckBox = named(new plus::PlusUnselectedAlwaysCheckBox(
                                       textOf("minimizeToTrayCheckBox"), config.getMinimizeToTray(), this),
        "minimizeToTrayCheckBox", false);
    notifyWhenMinimizedToTrayCheckBox
        = named(new plus::PlusUnselectedAlwaysCheckBox(
                    textOf("notifyWhenMinimizedToTrayCheckBox"), config.getNotifyWhenMinimizedToTray(), this),
            "notifyWhenMinimizedToTrayCheckBox", false);
    checkForUpdatesCheckBox = named(new plus::PlusSelectedAlwaysCheckBox(
                                        textOf("checkForUpdatesCheckBox"), config.getCheckForUpdates(), this),
        "checkForUpdatesCheckBox", false);
    // Ports beyond one cable.
    reconnectCheckBox = named(new QCheckBox(textOf("reconnectCheckBox"), this), "reconnectCheckBox", true);
    reconnectCheckBox->setChecked(config.getReconnect());
    askOnCloseButton = named(new QPushButton(textOf("askOnCloseButton"), this), "askOnCloseButton", true);
    askOnCloseButton->setEnabled(false);
    importSettingsButton
        = named(new plus::PlusButton(textOf("importSettingsButton"), this), "importSettingsButton", true);
    exportSettingsButton
        = named(new plus::PlusButton(textOf("exportSettingsButton"), this), "exportSettingsButton", true);

    label31 = makeLabel("label31", this);
    label32 = makeLabel("label32", this);
    label18 = makeLabel("label18", this);
    label19 = makeLabel("label19", this);
    label19->setWordWrap(true);

    buildLayout();

    connect(manualConnectButton, &QRadioButton::clicked, this, &SettingsPanel::connectButtonActionPerformed);
    connect(autoConnectButton, &QRadioButton::clicked, this, &SettingsPanel::connectButtonActionPerformed);
    connect(minimizeToTrayCheckBox, &QCheckBox::toggled, this,
        &SettingsPanel::minimizeToTrayCheckBoxItemStateChanged);
    connect(notifyWhenMinimizedToTrayCheckBox, &QCheckBox::toggled, this,
        &SettingsPanel::notifyWhenMinimizedToTrayCheckBoxItemStateChanged);
    connect(checkForUpdatesCheckBox, &QCheckBox::toggled, this,
        &SettingsPanel::checkForUpdatesCheckBoxItemStateChanged);
    connect(abortAutoStartCheckBox, &QCheckBox::toggled, this,
        &SettingsPanel::abortAutoStartCheckBoxItemStateChanged);
    connect(reconnectCheckBox, &QCheckBox::toggled, this, [this](bool on) { this->config.setReconnect(on); });
    // This tab's changes are kept as soon as they are made (the other tabs
    // save when they are left): the window saves on `changed`.
    for (QAbstractButton *button : std::initializer_list<QAbstractButton *> { manualConnectButton,
             autoConnectButton, abortAutoStartCheckBox, reconnectCheckBox, minimizeToTrayCheckBox,
             notifyWhenMinimizedToTrayCheckBox, checkForUpdatesCheckBox })
        connect(button, &QAbstractButton::toggled, this, [this] { Q_EMIT changed(); });
    connect(askOnCloseButton, &QPushButton::clicked, this, &SettingsPanel::askOnCloseRequested);
    connect(importSettingsButton, &QPushButton::clicked, this, &SettingsPanel::importRequested);
    connect(exportSettingsButton, &QPushButton::clicked, this, &SettingsPanel::exportRequested);
}

void SettingsPanel::buildLayout()
{
    auto *startGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.startGroup.title"), this);
    auto *startGrid = new QGridLayout(startGroup);
    startGrid->addWidget(label31, 0, 0);
    startGrid->addWidget(manualConnectButton, 0, 1);
    startGrid->addWidget(autoConnectButton, 1, 1);
    startGrid->addWidget(abortAutoStartCheckBox, 2, 1);
    // What a connection does when its device goes away belongs with the connection.
    startGrid->addWidget(reconnectCheckBox, 3, 1);
    startGrid->addWidget(label32, 4, 0);
    startGrid->addWidget(minimizeToTrayCheckBox, 4, 1);
    startGrid->addWidget(notifyWhenMinimizedToTrayCheckBox, 5, 1);
    auto *askRow = new QHBoxLayout;
    askRow->addWidget(askOnCloseButton);
    askRow->addStretch(1);
    startGrid->addLayout(askRow, 6, 1);
    startGrid->addWidget(label18, 7, 0);
    startGrid->addWidget(checkForUpdatesCheckBox, 7, 1);
    startGrid->setColumnStretch(2, 1);

    auto *fileGroup = new QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.fileGroup.title"), this);
    auto *fileColumn = new QVBoxLayout(fileGroup);
    fileColumn->addWidget(label19);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(exportSettingsButton);
    buttons->addWidget(importSettingsButton);
    buttons->addStretch(1);
    fileColumn->addLayout(buttons);

    auto *column = new QVBoxLayout(this);
    column->addWidget(startGroup);
    column->addWidget(fileGroup);
    column->addStretch(1);
}

void SettingsPanel::updateConnect()
{
    config.setConnect(autoConnectButton->isChecked() ? Helper::Connect::AUTO : Helper::Connect::MANUAL);
}

void SettingsPanel::updateConfig()
{
    minimizeToTrayCheckBoxItemStateChanged();
    notifyWhenMinimizedToTrayCheckBoxItemStateChanged();
    checkForUpdatesCheckBoxItemStateChanged();
    abortAutoStartCheckBoxItemStateChanged();
    config.setReconnect(reconnectCheckBox->isChecked());
}

void SettingsPanel::setCloseAnswerKept(bool kept)
{
    askOnCloseButton->setEnabled(kept);
}

void SettingsPanel::connectButtonActionPerformed()
{
    updateConnect();
    if (!autoConnectButton->isChecked())
        Q_EMIT manualConnectChosen();
}

void SettingsPanel::minimizeToTrayCheckBoxItemStateChanged()
{
    config.setMinimizeToTray(minimizeToTrayCheckBox->isChecked());
}

void SettingsPanel::notifyWhenMinimizedToTrayCheckBoxItemStateChanged()
{
    config.setNotifyWhenMinimizedToTray(notifyWhenMinimizedToTrayCheckBox->isChecked());
}

void SettingsPanel::checkForUpdatesCheckBoxItemStateChanged()
{
    config.setCheckForUpdates(checkForUpdatesCheckBox->isChecked());
}

void SettingsPanel::abortAutoStartCheckBoxItemStateChanged()
{
    config.setAbortAutoStartWhenPrevPortNotAvailable(abortAutoStartCheckBox->isChecked());
}

} // namespace omvara
