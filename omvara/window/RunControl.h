// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/Run.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QWidget;

namespace omvara {

namespace worker {
class Keybot;
}

class EventLog;
class RadezoZiDadFrame2;
class StatusLine;

// The window's side of a run: the Start/Stop button, the run's questions
// answered with dialogs, its events in the event log, its lines in the log
// and the line count, and the running and stopped look of the window.
//
// A run works on its own copy of the settings taken at Start, so nothing the
// window does meanwhile can change a running run's configuration.
//
// Event thread, except logEvent/logImportantEvent (any thread).
class RunControl : public QObject, private run::RunObserver, private run::RunQuestions
{
    Q_OBJECT

public:
    // How a run's outputs are made; tests replace them.
    using Outputs = run::Run::Makers;

    // The frame's controls must exist (initComponents() has run). Installs
    // itself as the frame's Start/Stop action.
    RunControl(RadezoZiDadFrame2 &frame, EventLog &log, StatusLine &status, QObject *parent = nullptr);
    ~RunControl() override;

    void setOutputs(Outputs outputs) { m_outputs = std::move(outputs); }

    // The Start/Stop button: stops an active run, otherwise starts one.
    void startStopJButtonActionPerformed();
    // The start sequence; true when the run was started.
    bool start();
    // Stop: reception ends, typing ends with the value being typed; the
    // window returns to its stopped look when the reading thread has ended.
    void stop();
    // The Request control (button, tray menu): asks the instrument for a reading.
    void request();
    // The Resume button after a cut value: typing goes on with the next value.
    void resumeTyping();
    // True while a run is active: from Start until reception has ended and
    // the keyboard has finished the value it was typing.
    bool isRunning() const { return m_running; }
    // True while reception runs (from Start until its end has been handled).
    bool hasWorker() const { return m_run && !m_run->state().ended(); }

    // The keys of "omvara.Omvara" runs read.
    static QStringList textKeys();

    // The current run, or null (tests look at it).
    run::Run *currentRun() const { return m_run.get(); }
    outputs::Keybot *keyBot() const { return m_run ? m_run->keybot() : nullptr; }

Q_SIGNALS:
    // The look has been switched (after the run's state changed).
    void lookChanged(bool running);
    // A value of the current run was typed.
    void valueTyped(const QString &value);
    // A run ended by itself (device lost, failure), with what the status line says.
    void runEndedByItself(const QString &message);

private:
    // run::RunObserver
    void logEvent(const QString &message) override;
    void logImportantEvent(const QString &message) override;
    void runStarted(const run::RunStart &start) override;
    void lineReceived(const processing::DataLine &line) override;
    void lineSettled(const run::RunLine &line) override;
    void stateChanged(const run::RunState &state) override;
    // run::RunQuestions
    bool goOnWithoutKeyboard(const QString &reason) override;
    void capsLockOn() override;
    void soundFailed(const QString &reason) override;
    void deviceWarning(const QString &title, const QString &message) override;
    void cannotStart(run::StartFailure failure, const QString &message) override;
    bool goOnWithoutRecord(const QString &reason) override;

    void showLook(bool running);
    void showRunText();
    QWidget *dialogParent() const;

    RadezoZiDadFrame2 &m_frame;
    EventLog &m_log;
    StatusLine &m_status;
    Outputs m_outputs;

    std::unique_ptr<run::Run> m_run;
    bool m_running = false;
    bool m_runningLook = false;
    bool m_typing = false; // the current run has keyboard output
    qint64 m_lines = 0; // lines of the current run received
    qint64 m_typed = 0; // values of the current run typed
    QString m_heldNote; // the latest line was held: what it waits for
    bool m_cutWaiting = false; // typing waits after a cut value
    qint64 m_droppedForFocus = 0; // not typed while the program's window has had the focus
    // One of the program's windows has the keyboard focus: values are not
    // typed then (read on the reading thread).
    std::atomic<bool> m_ownFocus = false;
    // Settings tabs removed while running, in tab order, with their titles.
    struct RemovedTab
    {
        QPointer<QWidget> page;
        QString title;
    };
    QList<RemovedTab> m_removedTabs;
};

} // namespace omvara
