// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/OutputKind.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace omvara::run {

// What a run is doing, and why it last changed. The run keeps the one
// authoritative copy (event thread); views get copies with every change.
struct RunState
{
    enum class Phase {
        Starting, // the start sequence is under way
        Running, // the port is open and read
        WaitingForDevice, // the device went away and the run waits for it
        Ended, // see `end`
    };
    enum class End {
        None, // not ended
        NotStarted, // the start sequence gave up (port, setting, keyboard)
        Stopped, // Stop
        DeviceLost, // the device went away
        Failed, // reception ended with an error
        Cut, // a value was cut and the run was to end then (Run::Options::endAtCut)
    };

    // A value whose typing stopped part way: what of it went out, and where.
    struct Cut
    {
        QString value; // the whole value
        QString typedPart; // the characters that went out
        QString window; // where they went, in words
        QString reason; // why typing stopped ("the keyboard focus moved to ...")
        bool ownWindow = false; // the focus moved to the program's own window

        friend bool operator==(const Cut &, const Cut &) = default;
    };

    // One output of the run's values.
    struct Output
    {
        enum class Status {
            Working,
            Finishing, // typing what it still holds after the run ended
            Failed, // cannot deliver any more; `detail` says why
            Ended,
        };
        OutputKind kind = OutputKind::Keyboard;
        Status status = Status::Working;
        QString detail; // the backend, or why it failed

        QString name() const { return outputName(kind); }

        friend bool operator==(const Output &, const Output &) = default;
    };

    Phase phase = Phase::Starting;
    End end = End::None;
    // The reason of the latest change of phase, in the words of its message
    // (the failure's text, the device-lost text); empty for plain changes.
    QString reason;
    QDateTime since; // when the phase began (local time)
    QList<Output> outputs;
    // Lines received, and values handed to the outputs (after suppression).
    qint64 lines = 0;
    qint64 values = 0;
    // Readings on request: the run has a request command, so a request
    // control may be offered while it reads.
    bool requests = false;
    // The latest cut value while typing waits for the user to look at the
    // field it went to (Run::resumeTyping); none otherwise.
    std::optional<Cut> cut;

    bool running() const { return phase == Phase::Running || phase == Phase::WaitingForDevice; }
    bool ended() const { return phase == Phase::Ended; }
    // The output of that kind, or null.
    const Output *output(OutputKind kind) const;

    friend bool operator==(const RunState &, const RunState &) = default;
};

} // namespace omvara::run
