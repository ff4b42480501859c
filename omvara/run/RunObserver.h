// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/processing/DataLine.h"
#include "omvara/run/RunLine.h"
#include "omvara/run/RunState.h"

#include <QString>

namespace omvara::config {
class Config;
}

namespace omvara::run {

// What a run is, told once when reception begins.
struct RunStart
{
    const config::Config &config; // the run's own settings
    bool typing; // values go to the keyboard output
    bool printing; // values go to the standard output
    QString keyboardBackend; // "x11", ...; empty without keyboard output
    QString keyboardProblem; // why there is no keyboard output, when it failed
    QString keyboardLayout; // the desktop layout keys are typed for ("de", "unknown", ...)
    QString keyboardChoice; // how the backend was chosen: what was skipped before it and why
    QString keyboardWarning; // where the keys do not go (X11 in a Wayland session), or empty
};

// What a view sees of a run: its event log, its lines and its state.
//
// Threads: logEvent and logImportantEvent come from any thread (reading,
// keyboard, event thread), possibly at once; each entry must land whole and
// the entries of one thread in their order. Everything else comes on the
// event thread.
class RunObserver
{
public:
    virtual ~RunObserver() = default;

    virtual void logEvent(const QString &message) = 0;
    // An emphasised entry (errors, warnings).
    virtual void logImportantEvent(const QString &message) = 0;
    // The port is open and reception begins.
    virtual void runStarted(const RunStart &start) { }
    // One received line as the run handled it: a repeated value has been
    // emptied by duplicate suppression, a reading the settled-readings filter
    // held back likewise (its lineSettled note says what it waits for).
    // Comes after the value's outputs got it.
    virtual void lineReceived(const processing::DataLine &line) = 0;
    // The lines received together (a burst of the port) have all been
    // through lineReceived: the place to write out what was gathered of them.
    virtual void linesShown() { }
    // What became of a line, once known (typed, not typed, ...), for every
    // line of the run in order, whole or not; `line.count` is the count of
    // its lineReceived (0 for lines that never had one: overflow, unsent).
    virtual void lineSettled(const RunLine &line) { }
    // Every change of the run's state.
    virtual void stateChanged(const RunState &state) { }
};

// Why a run could not start.
enum class StartFailure {
    InvalidSetting, // the port refused a setting
    CannotOpen, // the port cannot be opened (for another reason than those below)
    NoSerialLibrary, // the system's serial support is missing
    NoSuchDevice, // the port's device does not exist (unplugged, off)
    PortInUse, // another program has the port
    NoPermission, // the user may not open the port
};

// The questions a run asks its view while it starts: the window answers with
// dialogs, the headless runner with its error output. Event thread.
class RunQuestions
{
public:
    virtual ~RunQuestions() = default;

    // The keyboard output cannot start (`reason`). True: the run goes on
    // without typing; false: it does not start.
    virtual bool goOnWithoutKeyboard(const QString &reason) = 0;
    // Caps Lock is on: every typed letter would come out in the other case.
    virtual void capsLockOn() = 0;
    // The confirmation sound cannot play; the run goes on without it.
    virtual void soundFailed(const QString &reason) = 0;
    // A warning of the device check that comes before reception (A&D).
    virtual void deviceWarning(const QString &title, const QString &message) = 0;
    // The run does not start.
    virtual void cannotStart(StartFailure failure, const QString &message) = 0;
    // The record file cannot be opened (`reason` names the file and why),
    // before the port is opened. True: the run starts without the record;
    // false: it does not start.
    virtual bool goOnWithoutRecord(const QString &reason)
    {
        (void)reason;
        return false;
    }
};

} // namespace omvara::run
