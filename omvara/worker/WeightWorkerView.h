// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/worker/DataLine.h"

#include <QString>

namespace omvara::worker {

// What a run reports to its window (or to the headless runner).
//
// Threads: logEvent and logImportantEvent are called from the event thread,
// the reception thread and the keyboard thread, possibly at the same time;
// each entry must land whole. setConnectedInGUI and showDataLine are called
// on the event thread only.
class WeightWorkerView
{
public:
    virtual ~WeightWorkerView() = default;

    // An ordinary entry of the event log.
    virtual void logEvent(const QString &message) = 0;
    // An emphasised entry (errors, warnings).
    virtual void logImportantEvent(const QString &message) = 0;
    // Switches between the running and the stopped appearance.
    virtual void setConnectedInGUI(bool connected) = 0;
    // One finished line: duplicate suppression, sound, log, line count, typing.
    // The view may change the line (suppression empties its value).
    virtual void showDataLine(DataLine &line) = 0;
};

} // namespace omvara::worker
