// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/RunState.h"

#include <QString>

#include <functional>

namespace omvara::run {

// How an output with a thread of its own tells the run what happens to it:
// entries for the event log, and its state for the run's state (which the
// run applies on the event thread). Callable from any thread.
struct OutputReport
{
    std::function<void(const QString &message)> event;
    std::function<void(const QString &message)> importantEvent;
    std::function<void(RunState::Output::Status status, const QString &detail)> state;
};

} // namespace omvara::run
