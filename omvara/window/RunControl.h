// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/Run.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class QWidget;

namespace omvara {

namespace outputs::keys {
class KeyInjector;
}
namespace run {
class SharedOutputs;
}

class EventLog;
class RadezoZiDadFrame2;
class StatusLine;

// The window's side of the runs, one per running connection: the Start/Stop
// button, the runs' questions answered with dialogs, their events in the
// event log, their lines in the log and the line count, the running panels
// and the running and stopped look of the window.
//
// Start, Stop, Request and Resume act on the connection the window shows
// (the selected one); startAll and stopAll on all. The look (settings tabs
// taken out, the Stop button) and the status line follow the selected
// connection: another connection's settings can be edited while one runs.
// With more than one connection, the runs share one keyboard, record file
// and broker (run::SharedOutputs) and may not share a port.
//
// A run works on its own copy of the settings taken at Start, so nothing the
// window does meanwhile can change a running run's configuration.
//
// Event thread, except logEvent/logImportantEvent (any thread).
class RunControl : public QObject
{
    Q_OBJECT

public:
    // How a run's outputs are made; tests replace them.
    using Outputs = run::Run::Makers;
    // The keystroke backend the runs of several connections share; none: the system's.
    using SharedInjector = std::function<std::shared_ptr<outputs::keys::KeyInjector>()>;

    // The frame's controls must exist (initComponents() has run). Installs
    // itself as the frame's Start/Stop action.
    RunControl(RadezoZiDadFrame2 &frame, EventLog &log, StatusLine &status, QObject *parent = nullptr);
    ~RunControl() override;

    void setOutputs(Outputs outputs) { m_outputs = std::move(outputs); }
    void setSharedInjector(SharedInjector injector) { m_sharedInjector = std::move(injector); }

    // The Start/Stop button: stops the selected connection's active run,
    // otherwise starts one.
    void startStopJButtonActionPerformed();
    // The start sequence of the selected connection; true when the run was started.
    bool start();
    // The same for connection `name` (its stored settings).
    bool start(const QString &name);
    // Stop: reception ends, typing ends with the value being typed; the
    // window returns to its stopped look when the reading thread has ended.
    void stop();
    // Every connection that is not running is started, in their order /
    // every running one is stopped.
    void startAll();
    void stopAll();
    // The Request control (button, tray menu): asks the instrument for a reading.
    void request();
    // The Resume button after a cut value: typing goes on with the next value.
    void resumeTyping();
    // True while the selected connection's run is active: from Start until
    // reception has ended and the keyboard has finished the value it was typing.
    bool isRunning() const;
    bool isRunning(const QString &connection) const;
    bool anyRunning() const;
    // True while reception runs (from Start until its end has been handled).
    bool hasWorker() const;

    // The keys of "omvara.Omvara" runs read.
    static QStringList textKeys();

    // The selected connection's run, or null (tests look at it).
    run::Run *currentRun() const;
    run::Run *runOf(const QString &connection) const;
    outputs::Keybot *keyBot() const;

Q_SIGNALS:
    // The look has been switched (after the run's state changed).
    void lookChanged(bool running);
    // A value of a run was typed.
    void valueTyped(const QString &value);
    // A run ended by itself (device lost, failure), with what the status line says.
    void runEndedByItself(const QString &message);

private:
    class Connection;
    friend class Connection;

    Connection *selected() const;
    Connection &connection(const QString &name);
    // Each connection's events, lines and questions.
    void logEvent(Connection &c, const QString &message, bool important);
    void runStarted(Connection &c, const run::RunStart &start);
    void lineReceived(Connection &c, const processing::DataLine &line);
    void lineSettled(Connection &c, const run::RunLine &line);
    void stateChanged(Connection &c, const run::RunState &state);
    void cannotStart(Connection &c, run::StartFailure failure, const QString &message);

    // The status line and the look for the selected connection.
    void showStatus(Connection &c);
    void showLook(bool running);
    void applyLook(bool running);
    void showRunText();
    void showConnectionState(Connection &c);
    void connectionsChanged();
    QWidget *dialogParent() const;

    RadezoZiDadFrame2 &m_frame;
    EventLog &m_log;
    StatusLine &m_status;
    Outputs m_outputs;
    SharedInjector m_sharedInjector;
    std::shared_ptr<run::SharedOutputs> m_shared;

    std::map<QString, std::unique_ptr<Connection>> m_connections;
    // A connection running alone that is being started again with others:
    // the connections to start with it once it has ended.
    std::map<QString, QStringList> m_startAfter;
    bool m_runningLook = false;
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
