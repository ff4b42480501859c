// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QThread>

// Under the leak checker: font lookup in the system's font library keeps its
// caches for the life of the process; that is not ours to free.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace omvara::testing {

void app()
{
    static int argc = 1;
    static char name[] = "omvara_window_tests";
    static char *argv[] = { name, nullptr };
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

bool runUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void flushEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

ScriptedAnswers::ScriptedAnswers()
{
    previous = MessageBoxes::setResponder([this](const MessageBoxes::Request &request) {
        requests.push_back(request);
        if (request.kind == MessageBoxes::Kind::Message)
            return MessageBoxes::Reply { MessageBoxes::Answer::Ok, QString() };
        if (replies.empty())
            return MessageBoxes::Reply { MessageBoxes::Answer::Cancel, QString() };
        MessageBoxes::Reply reply = replies.front();
        replies.pop_front();
        return reply;
    });
    // A dialog nobody scripted is closed at once, as if cancelled.
    previousRunner = MessageBoxes::setDialogRunner([](QDialog &dialog) {
        dialog.reject();
        return int(QDialog::Rejected);
    });
    previousExit = ProgramExit::setHandler([this](int status) { exits.push_back(status); });
}

ScriptedAnswers::~ScriptedAnswers()
{
    MessageBoxes::setResponder(previous);
    MessageBoxes::setDialogRunner(previousRunner);
    ProgramExit::setHandler(previousExit);
}

void ScriptedAnswers::runDialogs(MessageBoxes::DialogRunner runner)
{
    MessageBoxes::setDialogRunner(std::move(runner));
}

QStringList ScriptedAnswers::texts(MessageBoxes::Kind kind) const
{
    QStringList out;
    for (const MessageBoxes::Request &r : requests)
        if (r.kind == kind)
            out << r.text;
    return out;
}

} // namespace omvara::testing
