// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RequestGroup.h"

#include "omvara/config/RequestSettings.h"
#include "omvara/hotkey/GlobalHotkey.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/window/FrameControls.h"
#include "omvara/window/TextFieldVerifier.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace omvara {

using FrameControls::named;

namespace {

std::optional<QString> acceptCommand(const QString &text)
{
    if (!config::RequestCommand::valid(text))
        return std::nullopt;
    return text;
}

std::optional<QString> acceptInterval(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("0");
    bool ok = false;
    const qint64 ms = trimmed.toLongLong(&ok);
    if (!ok || !config::RequestInterval::valid(ms))
        return std::nullopt;
    return QString::number(ms);
}

std::optional<QString> acceptHotkey(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QString();
    const std::optional<config::RequestHotkey::Chord> chord = config::RequestHotkey::parse(trimmed);
    if (!chord)
        return std::nullopt;
    return trimmed;
}

} // namespace

RequestGroup::RequestGroup(config::Config &config, QWidget *parent)
    : QGroupBox(texts::WindowTexts::text("RadezoZiDadFrame2.requestGroup.title"), parent)
    , config(config)
{
    setObjectName(QStringLiteral("requestGroup"));
    requestCommandTextField = named(new QLineEdit(this), "requestCommandTextField");
    requestIntervalTextField = named(new QLineEdit(this), "requestIntervalTextField");
    requestIntervalTextField->setMaximumWidth(120);
    requestHotkeyTextField = named(new QLineEdit(this), "requestHotkeyTextField");
    requestHotkeyTextField->setMaximumWidth(160);
    requestHotkeyTextField->setPlaceholderText(QStringLiteral("F9, Ctrl+Alt+W"));
    requestHotkeyStatus = new QLabel(this);
    requestHotkeyStatus->setObjectName(QStringLiteral("requestHotkeyStatus"));
    requestHotkeyStatus->setWordWrap(true);

    commandVerifier = new TextFieldVerifier(requestCommandTextField, &acceptCommand,
        QStringLiteral("error.request.command"),
        [this](const QString &t) { this->config.setRequestCommand(t); });
    intervalVerifier = new TextFieldVerifier(requestIntervalTextField, &acceptInterval,
        QStringLiteral("error.request.interval"), [this](const QString &t) {
            this->config.setRequestInterval(t.toInt());
            requestIntervalTextField->setText(t);
        });
    hotkeyVerifier = new TextFieldVerifier(requestHotkeyTextField, &acceptHotkey,
        QStringLiteral("error.request.hotkey"), [this](const QString &t) {
            this->config.setRequestHotkey(t);
            showHotkeyStatus();
        });

    auto *grid = new QGridLayout(this);
    grid->addWidget(FrameControls::label("requestCommandLabel", requestCommandTextField, this), 0, 0);
    grid->addWidget(requestCommandTextField, 0, 1, 1, 2);
    grid->addWidget(FrameControls::label("requestIntervalLabel", requestIntervalTextField, this), 1, 0);
    grid->addWidget(requestIntervalTextField, 1, 1);
    grid->addWidget(FrameControls::label("requestHotkeyLabel", requestHotkeyTextField, this), 2, 0);
    grid->addWidget(requestHotkeyTextField, 2, 1);
    grid->addWidget(requestHotkeyStatus, 2, 2);
    grid->setColumnStretch(2, 1);
    showConfig();
}

void RequestGroup::showConfig()
{
    requestCommandTextField->setText(config.getRequestCommand());
    requestIntervalTextField->setText(QString::number(config.getRequestInterval()));
    requestHotkeyTextField->setText(config.getRequestHotkey());
    showHotkeyStatus();
}

void RequestGroup::updateConfig()
{
    commandVerifier->verify();
    intervalVerifier->verify();
    hotkeyVerifier->verify();
}

void RequestGroup::showHotkeyStatus()
{
    // Only said where it matters: a hotkey is set and the desktop offers none.
    const QString reason = config.getRequestHotkey().isEmpty() ? QString() : hotkey::unavailableReason();
    requestHotkeyStatus->setText(reason.isEmpty()
            ? QString()
            : texts::WindowTexts::text("RadezoZiDadFrame2.requestHotkeyStatus.unavailable") + reason);
}

QStringList RequestGroup::textKeys()
{
    return {
        QStringLiteral("RadezoZiDadFrame2.requestGroup.title"),
        QStringLiteral("RadezoZiDadFrame2.requestCommandLabel.text"),
        QStringLiteral("RadezoZiDadFrame2.requestCommandTextField.toolTipText"),
        QStringLiteral("RadezoZiDadFrame2.requestIntervalLabel.text"),
        QStringLiteral("RadezoZiDadFrame2.requestIntervalTextField.toolTipText"),
        QStringLiteral("RadezoZiDadFrame2.requestHotkeyLabel.text"),
        QStringLiteral("RadezoZiDadFrame2.requestHotkeyTextField.toolTipText"),
        QStringLiteral("RadezoZiDadFrame2.requestHotkeyStatus.unavailable"),
        QStringLiteral("error.request.command"),
        QStringLiteral("error.request.interval"),
        QStringLiteral("error.request.hotkey"),
    };
}

} // namespace omvara
