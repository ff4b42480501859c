// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/window/MessageBoxes.h"
#include "omvara/window/ProgramExit.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace omvara::testing {

// The QApplication every window test needs (created once, never destroyed).
void app();

// Runs the event loop until `condition` holds or `timeoutMs` passes.
bool runUntil(const std::function<bool()> &condition, int timeoutMs = 5000);
// Lets scheduled single-shot work (messages shown "after the current event") run.
void flushEvents();

// Answers every modal question for the lifetime of the object and records
// it. Queued replies are used in order; without one, questions are answered
// No/Cancel and choosers cancelled, so nothing ever waits. Also records exits.
class ScriptedAnswers
{
public:
    ScriptedAnswers();
    ~ScriptedAnswers();
    ScriptedAnswers(const ScriptedAnswers &) = delete;
    ScriptedAnswers &operator=(const ScriptedAnswers &) = delete;

    void answer(MessageBoxes::Answer answer) { replies.push_back({ answer, QString() }); }
    void choose(const QString &path) { replies.push_back({ MessageBoxes::Answer::Ok, path }); }
    // Runs each program dialog through `runner` instead of exec().
    void runDialogs(MessageBoxes::DialogRunner runner);

    std::vector<MessageBoxes::Request> requests;
    std::vector<int> exits;

    // The texts of the requests of one kind.
    QStringList texts(MessageBoxes::Kind kind) const;

private:
    std::deque<MessageBoxes::Reply> replies;
    MessageBoxes::Responder previous;
    MessageBoxes::DialogRunner previousRunner;
    ProgramExit::Handler previousExit;
};

} // namespace omvara::testing
