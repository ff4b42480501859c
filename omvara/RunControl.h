// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/worker/WeightWorkerView.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace omvara {

namespace worker {
class Ignorer;
class Keybot;
class SoundBot;
class WeightWorker;
} // namespace worker

class EventLog;
class RadezoZiDadFrame2;
class StatusLine;

// Runs from the main window: the Start/Stop button, the start sequence that
// builds a run (keyboard output, sound, duplicate suppression, the reception
// worker), Stop, the running and stopped look of the window, and the window's
// side of the worker's view (log entries, data lines, line count).
//
// A run works on its own copy of the settings taken at Start, so nothing the
// window does meanwhile can change a running worker's configuration.
//
// Event thread, except logEvent/logImportantEvent (any thread).
class RunControl : public QObject, public worker::WeightWorkerView
{
    Q_OBJECT

public:
    // How the run's outputs are made; tests replace them.
    struct Outputs
    {
        // Throws (keys::KeyboardUnavailableError, ...) when typing cannot start.
        std::function<std::unique_ptr<worker::Keybot>(worker::WeightWorkerView *, const config::Config &)> keybot;
        // Throws (worker::SoundError, ...) when no sound can be played.
        std::function<std::unique_ptr<worker::SoundBot>(int percussionNumber)> soundBot;
    };
    static Outputs defaultOutputs();

    // The frame's controls must exist (initComponents() has run). Installs
    // itself as the frame's Start/Stop action.
    RunControl(RadezoZiDadFrame2 &frame, EventLog &log, StatusLine &status, QObject *parent = nullptr);
    ~RunControl() override;

    void setOutputs(Outputs outputs) { m_outputs = std::move(outputs); }

    // The Start/Stop button: stops an active run, otherwise starts one.
    void startStopJButtonActionPerformed();
    // The start sequence; true when the run was started.
    bool start();
    // Stop: cancels the worker and releases keyboard, sound and suppression
    // at once; the window returns to its stopped look when the worker ends.
    void stop();
    // True while a run is active (set by the worker through setConnectedInGUI).
    bool isRunning() const { return m_running; }
    // True while a worker exists (from Start until its end has been handled).
    bool hasWorker() const { return m_weightWorker != nullptr; }

    // ---- WeightWorkerView
    void logEvent(const QString &message) override;
    void logImportantEvent(const QString &message) override;
    // Records the state at once; the look follows on the event thread.
    void setConnectedInGUI(bool connected) override;
    void showDataLine(worker::DataLine &line) override;

    // The keys of "omvara.Omvara" runs read.
    static QStringList textKeys();

    // Run objects (tests look at them).
    worker::Keybot *keyBot() const { return m_keyBot.get(); }
    worker::SoundBot *soundBot() const { return m_soundBot.get(); }
    worker::Ignorer *ignorer() const { return m_ignorer.get(); }
    worker::WeightWorker *weightWorker() const { return m_weightWorker.get(); }

Q_SIGNALS:
    // The look has been switched (after setConnectedInGUI).
    void lookChanged(bool running);

private:
    void showLook(bool running);
    void releaseOutputs();
    void workerFinished(worker::WeightWorker *worker);
    QWidget *dialogParent() const;

    RadezoZiDadFrame2 &m_frame;
    EventLog &m_log;
    StatusLine &m_status;
    Outputs m_outputs;

    std::optional<config::Config> m_runConfig;
    std::unique_ptr<worker::WeightWorker> m_weightWorker;
    std::unique_ptr<worker::Keybot> m_keyBot;
    std::unique_ptr<worker::SoundBot> m_soundBot;
    std::unique_ptr<worker::Ignorer> m_ignorer;
    bool m_running = false;
    bool m_runningLook = false;
    // Settings tabs removed while running, in tab order, with their titles.
    struct RemovedTab
    {
        QPointer<QWidget> page;
        QString title;
    };
    QList<RemovedTab> m_removedTabs;
};

} // namespace omvara
