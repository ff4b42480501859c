// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/MessageBoxes.h"

#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace omvara {

namespace {

MessageBoxes::Responder &responder()
{
    static MessageBoxes::Responder r;
    return r;
}

MessageBoxes::DialogRunner &dialogRunner()
{
    static MessageBoxes::DialogRunner r;
    return r;
}

QMessageBox::Icon toQt(MessageBoxes::Icon icon)
{
    switch (icon) {
    case MessageBoxes::Icon::Error:
        return QMessageBox::Critical;
    case MessageBoxes::Icon::Warning:
        return QMessageBox::Warning;
    case MessageBoxes::Icon::Information:
        return QMessageBox::Information;
    case MessageBoxes::Icon::Question:
        return QMessageBox::Question;
    case MessageBoxes::Icon::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

const QLatin1String HtmlStart("<html>");
const QLatin1String HtmlEnd("</html>");

bool isMarkup(const QString &text)
{
    return text.startsWith(HtmlStart, Qt::CaseInsensitive);
}

// The content of an own markup text, without its <html> ... </html>.
QString markupContent(const QString &text)
{
    QString content = text.mid(HtmlStart.size());
    if (content.endsWith(HtmlEnd, Qt::CaseInsensitive))
        content.chop(HtmlEnd.size());
    return content;
}

// A plain text inside markup: shown as it is, with its line breaks and runs of spaces.
QString escaped(const QString &text)
{
    return QStringLiteral("<span style=\"white-space: pre-wrap\">")
        + text.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")) + QStringLiteral("</span>");
}

int runBox(QWidget *parent, const MessageText &text, const QString &title, MessageBoxes::Icon icon,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(toQt(icon), title, text.text(), buttons, parent);
    // Never Qt's guess (AutoText): an outside text such as a port name "<b>"
    // must not turn into markup.
    box.setTextFormat(text.isRich() ? Qt::RichText : Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

MessageBoxes::Request messageRequest(
    MessageBoxes::Kind kind, const MessageText &text, const QString &title, MessageBoxes::Icon icon)
{
    return MessageBoxes::Request { kind, text.text(), title, icon, text.isRich() };
}

} // namespace

MessageText MessageText::own(const QString &text)
{
    MessageText t;
    t.m_parts.append(Part { text, true, std::nullopt });
    return t;
}

MessageText MessageText::own(const QString &text, const QString &argument0)
{
    MessageText t;
    t.m_parts.append(Part { text, true, argument0 });
    return t;
}

MessageText MessageText::outside(const QString &text)
{
    MessageText t;
    t.m_parts.append(Part { text, false, std::nullopt });
    return t;
}

MessageText &MessageText::operator+=(const MessageText &other)
{
    m_parts += other.m_parts;
    return *this;
}

bool MessageText::isRich() const
{
    for (const Part &part : m_parts)
        if (part.own && isMarkup(part.text))
            return true;
    return false;
}

QString MessageText::text() const
{
    const QString placeholder = QStringLiteral("{0}");
    const auto plain = [&](const Part &part) {
        return part.argument0 ? QString(part.text).replace(placeholder, *part.argument0) : part.text;
    };
    QString out;
    if (!isRich()) {
        for (const Part &part : m_parts)
            out += plain(part);
        return out;
    }
    for (const Part &part : m_parts) {
        if (part.own && isMarkup(part.text)) {
            QString content = markupContent(part.text);
            if (part.argument0)
                content.replace(placeholder, escaped(*part.argument0));
            out += content;
        } else {
            out += escaped(plain(part));
        }
    }
    return HtmlStart + out + HtmlEnd;
}

void MessageBoxes::showMessage(QWidget *parent, const MessageText &text, const QString &title, Icon icon)
{
    if (responder()) {
        responder()(messageRequest(Kind::Message, text, title, icon));
        return;
    }
    runBox(parent, text, title, icon, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxes::showMessageWithHelp(
    QWidget *parent, const MessageText &text, const QString &title, const QString &helpButton, Icon icon)
{
    if (responder()) {
        MessageBoxes::Request request = messageRequest(Kind::Message, text, title, icon);
        request.helpButton = helpButton;
        return responder()(request).answer == Answer::Yes;
    }
    QMessageBox box(toQt(icon), title, text.text(), QMessageBox::Ok, parent);
    box.setTextFormat(text.isRich() ? Qt::RichText : Qt::PlainText);
    QPushButton *help = box.addButton(helpButton, QMessageBox::HelpRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == help;
}

MessageBoxes::Answer MessageBoxes::askYesNo(
    QWidget *parent, const MessageText &text, const QString &title, Icon icon)
{
    if (responder()) {
        const Answer a = responder()(messageRequest(Kind::YesNo, text, title, icon)).answer;
        return a == Answer::Yes ? Answer::Yes : Answer::No;
    }
    return runBox(parent, text, title, icon, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
            == QMessageBox::Yes
        ? Answer::Yes
        : Answer::No;
}

MessageBoxes::Answer MessageBoxes::askOkCancel(
    QWidget *parent, const MessageText &text, const QString &title, Icon icon)
{
    if (responder()) {
        const Answer a = responder()(messageRequest(Kind::OkCancel, text, title, icon)).answer;
        return a == Answer::Ok ? Answer::Ok : Answer::Cancel;
    }
    return runBox(parent, text, title, icon, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok)
            == QMessageBox::Ok
        ? Answer::Ok
        : Answer::Cancel;
}

MessageBoxes::Choice MessageBoxes::askChoice(QWidget *parent, const MessageText &text, const QString &title,
    const QStringList &choices, const QString &checkBox, Icon icon)
{
    if (responder()) {
        Request request = messageRequest(Kind::Choice, text, title, icon);
        request.choices = choices;
        request.checkBox = checkBox;
        const Reply reply = responder()(request);
        const int index
            = reply.choice >= 0 && reply.choice < choices.size() ? reply.choice : int(choices.size()) - 1;
        return { index, reply.checked };
    }
    QMessageBox box(toQt(icon), title, text.text(), QMessageBox::NoButton, parent);
    box.setTextFormat(text.isRich() ? Qt::RichText : Qt::PlainText);
    QList<QAbstractButton *> buttons;
    for (int i = 0; i < choices.size(); ++i) {
        const bool last = i == choices.size() - 1;
        buttons.append(
            box.addButton(choices.at(i), last ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
    }
    if (!buttons.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
        box.setEscapeButton(buttons.last());
    }
    if (!checkBox.isEmpty())
        box.setCheckBox(new QCheckBox(checkBox, &box));
    box.exec();
    Choice choice;
    choice.index = int(buttons.indexOf(box.clickedButton()));
    if (choice.index < 0)
        choice.index = int(choices.size()) - 1;
    choice.checked = box.checkBox() && box.checkBox()->isChecked();
    return choice;
}

QString MessageBoxes::chooseSaveFile(
    QWidget *parent, const QString &caption, const QString &proposedPath, const QString &filter)
{
    if (responder())
        return responder()(Request { Kind::SaveFile, caption, proposedPath, Icon::Plain }).path;
    // The window asks about overwriting itself, with its own words.
    return QFileDialog::getSaveFileName(
        parent, caption, proposedPath, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

QString MessageBoxes::chooseOpenFile(QWidget *parent, const QString &caption, const QString &filter)
{
    if (responder())
        return responder()(Request { Kind::OpenFile, caption, QString(), Icon::Plain }).path;
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

std::optional<QString> MessageBoxes::askText(
    QWidget *parent, const MessageText &text, const QString &title, const QString &proposed)
{
    if (responder()) {
        Request request { Kind::Text, text.text(), title, Icon::Question, text.isRich() };
        request.proposed = proposed;
        const QString answer = responder()(request).path;
        return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
    }
    bool ok = false;
    const QString answer
        = QInputDialog::getText(parent, title, text.text(), QLineEdit::Normal, proposed, &ok);
    return ok ? std::optional<QString>(answer) : std::nullopt;
}

int MessageBoxes::execDialog(QDialog &dialog)
{
    if (dialogRunner())
        return dialogRunner()(dialog);
    return dialog.exec();
}

MessageBoxes::Responder MessageBoxes::setResponder(Responder r)
{
    return std::exchange(responder(), std::move(r));
}

MessageBoxes::DialogRunner MessageBoxes::setDialogRunner(DialogRunner r)
{
    return std::exchange(dialogRunner(), std::move(r));
}

} // namespace omvara
