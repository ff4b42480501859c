// SPDX-License-Identifier: GPL-3.0-or-later
// The check of a text field: accepted text goes into its setting, refused text is reported.
#pragma once

#include "omvara/config/Config.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QLineEdit;

namespace omvara {

// Checks a text field on Enter and when it is about to lose the focus, never
// while the user is still typing: accepted text is stored into the setting;
// refused text keeps the focus in the field and the message (titled "error")
// is shown right after the current event, while the setting keeps its last
// valid value. With `current`, the field then shows that value again, so it
// never shows a value that is not in effect.
class TextFieldVerifier : public QObject
{
    Q_OBJECT

public:
    using Rule = std::function<std::optional<QString>(const QString &)>;
    using Store = std::function<void(const QString &)>;

    using Current = std::function<QString()>;
    // What is wrong with a refused text, in words; "" when nothing more is known.
    using Detail = std::function<QString(const QString &)>;

    TextFieldVerifier(QLineEdit *field, Rule rule, QString messageKey, Store store, Current current = {});

    // Checks the field now; returns whether it was accepted. With
    // `reportRefusal` a refusal schedules the message and the refocus.
    bool verify(bool reportRefusal = true);

    QLineEdit *field() const { return m_field; }
    // A refusal's message then also says what is wrong with the text, on a line of its own.
    void setDetail(Detail detail) { m_detail = std::move(detail); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reportRefused();

    QLineEdit *m_field;
    Rule m_rule;
    QString m_messageKey;
    Store m_store;
    Current m_current;
    Detail m_detail;
    QString m_refusedDetail;
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

// The delay between keys (output tab).
class DelayTextFieldUpdate : public TextFieldVerifier
{
public:
    DelayTextFieldUpdate(QLineEdit *field, config::Config &config);
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

// A stamp beside the value (output tab): its message names the token at fault.
class StampTextFieldUpdate : public TextFieldVerifier
{
public:
    StampTextFieldUpdate(QLineEdit *field, Store store);
};

class MqttCaFileTextFieldUpdate : public TextFieldVerifier
{
public:
    MqttCaFileTextFieldUpdate(QLineEdit *field, config::Config &config);
};

} // namespace omvara
