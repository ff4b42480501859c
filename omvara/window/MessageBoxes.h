// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace omvara {

// What a message box says, put together from two kinds of text:
// - the program's own texts (bundle texts, texts written in the code). One
//   that starts with "<html>" is markup, as the bundles intend ("<br>",
//   "&amp;"), and the box shows it rendered;
// - outside texts: received data, port and file names, patterns, failure
//   texts of the system and of libraries. The box shows them exactly as they
//   are, even when they hold "<" or "&": they never become markup.
class MessageText
{
public:
    static MessageText own(const QString &text);
    // An own text in which "{0}" stands for the outside text `argument0`.
    static MessageText own(const QString &text, const QString &argument0);
    static MessageText outside(const QString &text);

    MessageText &operator+=(const MessageText &other);
    friend MessageText operator+(MessageText a, const MessageText &b) { return a += b; }

    // True when an own part is markup: the box then shows rich text, in
    // which every other part is escaped.
    bool isRich() const;
    // The text the box is given: markup when isRich(), else the parts as they are.
    QString text() const;

private:
    struct Part
    {
        QString text;
        bool own = false;
        std::optional<QString> argument0;
    };
    QList<Part> m_parts;
};

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
    enum class Kind { Message, YesNo, OkCancel, SaveFile, OpenFile, Choice, Text };

    // One request as the responder sees it.
    struct Request
    {
        Kind kind = Kind::Message;
        QString text; // message as the box gets it (MessageText::text()), or the chooser's caption
        QString title; // window title, or the proposed file for SaveFile
        Icon icon = Icon::Plain;
        bool richText = false; // the message is markup (MessageText::isRich())
        QString helpButton = {}; // a message's button beside OK that asks for more, if any
        QStringList choices = {}; // Choice: the buttons, in order
        QString checkBox = {}; // Choice: the text of the check box under the message, if any
        QString proposed = {}; // Text: the text the field starts with
    };
    // A responder's answer: for questions the button, for file choosers the
    // chosen path (empty: the chooser was cancelled).
    struct Reply
    {
        Answer answer = Answer::Closed;
        QString path; // also the text entered (Text)
        int choice = -1; // Choice: the index of the button pressed; -1 when the box was closed
        bool checked = false; // Choice: the state of the check box
    };

    using Responder = std::function<Reply(const Request &)>;
    // Runs a modal dialog of the program instead of exec(); returns its result code.
    using DialogRunner = std::function<int(QDialog &)>;

    // Titles are plain text: window titles show no markup.
    static void showMessage(
        QWidget *parent, const MessageText &text, const QString &title, Icon icon = Icon::Error);
    // A message with OK and a second button (`helpButton`, e.g. "Why?"): true
    // when the user pressed that one. A responder answers Yes for it.
    static bool showMessageWithHelp(QWidget *parent, const MessageText &text, const QString &title,
        const QString &helpButton, Icon icon = Icon::Error);
    // Yes or No; closing the box counts as No.
    static Answer askYesNo(
        QWidget *parent, const MessageText &text, const QString &title, Icon icon = Icon::Question);
    // Ok or Cancel; closing the box counts as Cancel.
    static Answer askOkCancel(
        QWidget *parent, const MessageText &text, const QString &title, Icon icon = Icon::Question);
    // One of `choices` (buttons, the first the default; the last one is what
    // Escape and closing the box choose), with an optional check box.
    struct Choice
    {
        int index = -1; // the button pressed
        bool checked = false;
    };
    static Choice askChoice(QWidget *parent, const MessageText &text, const QString &title,
        const QStringList &choices, const QString &checkBox = QString(), Icon icon = Icon::Question);
    // The chosen path, or an empty text when the user cancelled.
    static QString chooseSaveFile(
        QWidget *parent, const QString &caption, const QString &proposedPath, const QString &filter);
    static QString chooseOpenFile(QWidget *parent, const QString &caption, const QString &filter);
    // A line of text the user enters, starting from `proposed`; nullopt when
    // the user cancelled (a responder cancels with an empty path).
    static std::optional<QString> askText(
        QWidget *parent, const MessageText &text, const QString &title, const QString &proposed);
    // Shows the dialog modally (exec()) unless a dialog runner is installed.
    static int execDialog(QDialog &dialog);

    // Test seams. An empty function restores the real windows. Return the previous one.
    static Responder setResponder(Responder responder);
    static DialogRunner setDialogRunner(DialogRunner runner);
};

} // namespace omvara
