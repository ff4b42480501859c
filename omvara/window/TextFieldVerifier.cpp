// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/TextFieldVerifier.h"

#include "omvara/texts/WindowTexts.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/SettingRules.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

namespace omvara {

TextFieldVerifier::TextFieldVerifier(
    QLineEdit *field, Rule rule, QString messageKey, Store store, Current current)
    : QObject(field)
    , m_field(field)
    , m_rule(std::move(rule))
    , m_messageKey(std::move(messageKey))
    , m_store(std::move(store))
    , m_current(std::move(current))
{
    field->installEventFilter(this);
    connect(field, &QLineEdit::returnPressed, this, [this] { verify(true); });
}

bool TextFieldVerifier::verify(bool reportRefusal)
{
    if (const std::optional<QString> accepted = m_rule(m_field->text())) {
        m_store(*accepted);
        return true;
    }
    m_refusedDetail = m_detail ? m_detail(m_field->text()) : QString();
    if (m_current)
        m_field->setText(m_current());
    if (reportRefusal)
        reportRefused();
    return false;
}

void TextFieldVerifier::reportRefused()
{
    if (m_reportPending)
        return;
    m_reportPending = true;
    QPointer<QLineEdit> field = m_field;
    QTimer::singleShot(0, this, [this, field] {
        if (field) {
            field->setFocus(Qt::OtherFocusReason);
            field->selectAll();
        }
        QString message = texts::WindowTexts::text(m_messageKey);
        if (!m_refusedDetail.isEmpty())
            message += u'\n' + m_refusedDetail;
        MessageBoxes::showMessage(
            m_field->window(), MessageText::own(message), texts::WindowTexts::text("error"));
        m_reportPending = false;
    });
}

bool TextFieldVerifier::eventFilter(QObject *watched, QEvent *event)
{
    // A focus loss to another window (the message box itself, a menu) is not
    // the user leaving the field.
    if (watched == m_field && event->type() == QEvent::FocusOut && !m_reportPending) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            verify(true);
    }
    return QObject::eventFilter(watched, event);
}

MathOperandTextFieldUpdate::MathOperandTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptMathOperand, QStringLiteral("error.math.operand"),
        [&config](const QString &t) { config.setMathOperand(t); })
{
}

DecimalTextFieldUpdate::DecimalTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptDecimalPlaces, QStringLiteral("error.decimal.places"),
        [&config](const QString &t) { config.setDecimalPlaces(t); })
{
}

EditNumCharactersTextFieldUpdate::EditNumCharactersTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptEditNumCharacters,
        QStringLiteral("error.edit.numCharacters"),
        [&config](const QString &t) { config.setEditNumCharacters(t); })
{
}

DelayTextFieldUpdate::DelayTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(
        field, &SettingRules::acceptDelay, QStringLiteral("error.intercharacter.delay"),
        [&config](const QString &t) { config.setDelay(t); }, [&config] { return config.getDelay(); })
{
}

RemoveCharactersTextFieldUpdate::RemoveCharactersTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptRemoveCharacters,
        QStringLiteral("error.edit.removeCharacters"),
        [&config](const QString &t) { config.setRemoveCharacters(t); })
{
}

RecordFileTextFieldUpdate::RecordFileTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptRecordFile, QStringLiteral("error.record.file"),
        [&config](const QString &t) { config.setRecordFile(t); })
{
}

MqttUrlTextFieldUpdate::MqttUrlTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptMqttUrl, QStringLiteral("error.mqtt.url"),
        [&config](const QString &t) { config.setMqttUrl(t); })
{
}

StampTextFieldUpdate::StampTextFieldUpdate(QLineEdit *field, Store store)
    : TextFieldVerifier(field, &SettingRules::acceptStamp, QStringLiteral("error.stamp"), std::move(store))
{
    setDetail([](const QString &text) { return SettingRules::stampProblem(text); });
}

MqttCaFileTextFieldUpdate::MqttCaFileTextFieldUpdate(QLineEdit *field, config::Config &config)
    : TextFieldVerifier(field, &SettingRules::acceptMqttCaFile, QStringLiteral("error.mqtt.ca.file"),
        [&config](const QString &t) { config.setMqttCaFile(t); })
{
}

} // namespace omvara
