// SPDX-License-Identifier: GPL-3.0-or-later
// What the reception engine reports to.
#pragma once

#include "omvara/processing/DataLine.h"

#include <QString>

namespace omvara::reception {

// What the reception engine reports to its run.
//
// Threads: logEvent and logImportantEvent are called from the event thread,
// the reception thread and the keyboard thread, possibly at the same time;
// each entry must land whole. lineCompleted is called on the reception
// thread; setConnectedInGUI and showDataLine on the event thread only.
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
    // One finished line, on the reception thread, before it is handed to the
    // event thread: the place for what must not wait for the event thread
    // (duplicate suppression, the outputs of the value). The view may change
    // the line (suppression empties its value); showDataLine gets it so.
    virtual void lineCompleted(processing::DataLine &line) { }
    // Reception thread: the lines completed since the last call have all
    // been through lineCompleted, and the engine is about to hand them to the
    // event thread (at the end of each burst of bytes, every so many lines of
    // a flood, and before the engine waits): the place to write out what the
    // outputs gathered of their values.
    virtual void linesCompleted() { }
    // A line whose processing failed (logged as such), on the reception thread.
    virtual void lineFailed(const QString &rawData, qint32 count, const QString &message) { }
    // Characters discarded at the line-length limit, on the reception thread.
    virtual void lineOverflowed(const QString &rawData) { }
    // Characters after the last terminator (logged as unsent data): at the
    // end of the run on the event thread, or when the device went away and
    // the engine waits for it (waitForLostDevice) on the reception thread.
    virtual void lineUnsent(const QString &rawData) { }
    // One finished line on the event thread: the log and the line count.
    virtual void showDataLine(processing::DataLine &line) = 0;
    // Event thread: the lines handed over together have all been through
    // showDataLine (the place to write out a log gathered meanwhile).
    virtual void dataLinesShown() { }

    // Reception thread: the device went away. True: the engine reports the
    // half-received line as unsent, closes the port, waits until the same
    // name can be opened again and reads on (deviceBack()); a stop ends the
    // wait at once. False (the default): reception ends as device lost.
    virtual bool waitForLostDevice() { return false; }
    // Reception thread: the device is back and is read again.
    virtual void deviceBack() { }
};

} // namespace omvara::reception
