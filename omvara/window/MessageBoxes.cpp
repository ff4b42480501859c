// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/MessageBoxes.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

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

// Plain text: message texts may hold "<" (patterns, port names) that must
// not be read as markup.
int runBox(QWidget *parent, const QString &text, const QString &title, MessageBoxes::Icon icon,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(toQt(icon), title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

void MessageBoxes::showMessage(QWidget *parent, const QString &text, const QString &title, Icon icon)
{
    if (responder()) {
        responder()(Request{Kind::Message, text, title, icon});
        return;
    }
    runBox(parent, text, title, icon, QMessageBox::Ok, QMessageBox::Ok);
}

MessageBoxes::Answer MessageBoxes::askYesNo(QWidget *parent, const QString &text, const QString &title, Icon icon)
{
    if (responder()) {
        const Answer a = responder()(Request{Kind::YesNo, text, title, icon}).answer;
        return a == Answer::Yes ? Answer::Yes : Answer::No;
    }
    return runBox(parent, text, title, icon, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes
        ? Answer::Yes
        : Answer::No;
}

MessageBoxes::Answer MessageBoxes::askOkCancel(QWidget *parent, const QString &text, const QString &title,
                                               Icon icon)
{
    if (responder()) {
        const Answer a = responder()(Request{Kind::OkCancel, text, title, icon}).answer;
        return a == Answer::Ok ? Answer::Ok : Answer::Cancel;
    }
    return runBox(parent, text, title, icon, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok)
            == QMessageBox::Ok
        ? Answer::Ok
        : Answer::Cancel;
}

QString MessageBoxes::chooseSaveFile(QWidget *parent, const QString &caption, const QString &proposedPath,
                                     const QString &filter)
{
    if (responder())
        return responder()(Request{Kind::SaveFile, caption, proposedPath, Icon::Plain}).path;
    // The window asks about overwriting itself, with its own words.
    return QFileDialog::getSaveFileName(parent, caption, proposedPath, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString MessageBoxes::chooseOpenFile(QWidget *parent, const QString &caption, const QString &filter)
{
    if (responder())
        return responder()(Request{Kind::OpenFile, caption, QString(), Icon::Plain}).path;
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
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
