// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QLineEdit;

namespace omvara {

// Checks a text field when it is about to lose the focus: accepted text is
// stored into the setting; refused text keeps the focus in the field and the
// message (titled "error") is shown right after the current event, while the
// setting keeps its last valid value.
class TextFieldVerifier : public QObject
{
    Q_OBJECT

public:
    using Rule = std::function<std::optional<QString>(const QString &)>;
    using Store = std::function<void(const QString &)>;

    TextFieldVerifier(QLineEdit *field, Rule rule, QString messageKey, Store store);

    // Checks the field now; returns whether it was accepted. With
    // `reportRefusal` a refusal schedules the message and the refocus.
    bool verify(bool reportRefusal = true);

    QLineEdit *field() const { return m_field; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reportRefused();

    QLineEdit *m_field;
    Rule m_rule;
    QString m_messageKey;
    Store m_store;
    bool m_reportPending = false;
};

// The four validating fields of the processing tab, named after what they check.
class MathOperandTextFieldUpdate : public TextFieldVerifier
{
public:
    MathOperandTextFieldUpdate(QLineEdit *field, config::Config &config);
};

class DecimalTextFieldUpdate : public TextFieldVerifier
{
public:
    DecimalTextFieldUpdate(QLineEdit *field, config::Config &config);
};

class EditNumCharactersTextFieldUpdate : public TextFieldVerifier
{
public:
    EditNumCharactersTextFieldUpdate(QLineEdit *field, config::Config &config);
};

class RemoveCharactersTextFieldUpdate : public TextFieldVerifier
{
public:
    RemoveCharactersTextFieldUpdate(QLineEdit *field, config::Config &config);
};

// The record file and broker fields of the output tab.
class RecordFileTextFieldUpdate : public TextFieldVerifier
{
public:
    RecordFileTextFieldUpdate(QLineEdit *field, config::Config &config);
};

class MqttUrlTextFieldUpdate : public TextFieldVerifier
{
public:
    MqttUrlTextFieldUpdate(QLineEdit *field, config::Config &config);
};

class MqttCaFileTextFieldUpdate : public TextFieldVerifier
{
public:
    MqttCaFileTextFieldUpdate(QLineEdit *field, config::Config &config);
};

} // namespace omvara
