// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

namespace omvara {

// Every modal question the window asks goes through here: message boxes,
// yes/no and OK/Cancel questions, file choosers and the program's own modal
// dialogs. Normally each call opens the real modal window; a test installs a
// responder that answers instead, so no test ever waits on a dialog.
//
// Event thread only.
class MessageBoxes
{
public:
    enum class Icon { Error, Warning, Information, Question, Plain };
    enum class Answer { Yes, No, Ok, Cancel, Closed };
    enum class Kind { Message, YesNo, OkCancel, SaveFile, OpenFile };

    // One request as the responder sees it.
    struct Request
    {
        Kind kind = Kind::Message;
        QString text;  // message, or the chooser's caption
        QString title; // window title, or the proposed file for SaveFile
        Icon icon = Icon::Plain;
    };
    // A responder's answer: for questions the button, for file choosers the
    // chosen path (empty: the chooser was cancelled).
    struct Reply
    {
        Answer answer = Answer::Closed;
        QString path;
    };

    using Responder = std::function<Reply(const Request &)>;
    // Runs a modal dialog of the program instead of exec(); returns its result code.
    using DialogRunner = std::function<int(QDialog &)>;

    static void showMessage(QWidget *parent, const QString &text, const QString &title, Icon icon = Icon::Error);
    // Yes or No; closing the box counts as No.
    static Answer askYesNo(QWidget *parent, const QString &text, const QString &title, Icon icon = Icon::Question);
    // Ok or Cancel; closing the box counts as Cancel.
    static Answer askOkCancel(QWidget *parent, const QString &text, const QString &title,
                              Icon icon = Icon::Question);
    // The chosen path, or an empty text when the user cancelled.
    static QString chooseSaveFile(QWidget *parent, const QString &caption, const QString &proposedPath,
                                  const QString &filter);
    static QString chooseOpenFile(QWidget *parent, const QString &caption, const QString &filter);
    // Shows the dialog modally (exec()) unless a dialog runner is installed.
    static int execDialog(QDialog &dialog);

    // Test seams. An empty function restores the real windows. Return the previous one.
    static Responder setResponder(Responder responder);
    static DialogRunner setDialogRunner(DialogRunner runner);
};

} // namespace omvara
