// SPDX-License-Identifier: GPL-3.0-or-later
// The outputs a run can have, each with the name its state shows.
#pragma once

#include <QString>

namespace omvara::run {

enum class OutputKind {
    Keyboard, // the values typed on the keyboard
    Print, // the values on the standard output
    Sound, // the confirmation sound of each value
    Record, // the record file
    Broker, // the message broker
};

// The output's name in the run's state, the window's run panel and status
// line: "keyboard", "print", "sound", "record", "broker".
inline QString outputName(OutputKind kind)
{
    switch (kind) {
    case OutputKind::Keyboard:
        return QStringLiteral("keyboard");
    case OutputKind::Print:
        return QStringLiteral("print");
    case OutputKind::Sound:
        return QStringLiteral("sound");
    case OutputKind::Record:
        return QStringLiteral("record");
    case OutputKind::Broker:
        return QStringLiteral("broker");
    }
    return {};
}

} // namespace omvara::run
