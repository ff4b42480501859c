// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/config/RequestSettings.h"
#include "omvara/run/LineLedger.h"
#include "omvara/run/OutputReport.h"
#include "omvara/run/RunLine.h"
#include "omvara/run/RunObserver.h"
#include "omvara/run/RunState.h"
#include "omvara/run/SessionDecimalMark.h"
#include "omvara/run/TakenDevice.h"
#include "omvara/run/ValueSink.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

class QTimer;

namespace omvara::hotkey {
class GlobalHotkey;
}

namespace omvara::processing {
class Ignorer;
} // namespace omvara::processing
namespace omvara::outputs {
class Keybot;
class SoundBot;
} // namespace omvara::outputs
namespace omvara::reception {
class WeightWorker;
class WeightWorkerView;
} // namespace omvara::reception

namespace omvara::run {

class RequestSender;
class SettledReadings;
class SharedOutputs;

// What asked the instrument for a reading.
// How long the answer to a request from the program's own Request control
// waits for the focus to move to another application before it is dropped.
inline constexpr std::chrono::milliseconds WindowRequestFocusWait { 10000 };

enum class RequestOrigin {
    Interval, // the request interval setting
    Hotkey, // the global hotkey, pressed in any application
    Signal, // SIGUSR1 to the headless runner (a foot switch, a script)
    Window, // the Request control of the window or its tray menu
};

// One run: from Start to its end, everything that happens to the bytes of the
// port. It opens the port through the reception engine the instrument asks
// for, and decides what becomes of each line: duplicate suppression, the
// confirmation sound, the view (log, line count), the keyboard or the
// standard output, the record file and the broker. The window and the headless runner configure a run, show
// what it reports (RunObserver) and answer its questions (RunQuestions).
//
// The path of a value: the reading thread completes a line and, still on that
// thread, applies suppression and hands the value to the outputs (so typing
// never waits for the event thread); the line then reaches the view on the
// event thread. For each line the order is: the settled-readings filter,
// suppression, sound, log and count, keyboard (or print).
//
// Requests for readings (request()) come from the interval, the hotkey, the
// headless runner's SIGUSR1 and the window's Request control; they are
// written to the port on a thread of their own while reading goes on.
//
// Event thread, except where noted. The observer and the questions must
// outlive the run.
class Run : public QObject
{
    Q_OBJECT

public:
    // How the outputs are made; tests replace them.
    struct Makers
    {
        // Throws (keys::KeyboardUnavailableError, ...) when typing cannot start.
        std::function<std::unique_ptr<outputs::Keybot>(reception::WeightWorkerView *, const config::Config &)>
            keybot;
        // Throws (outputs::SoundError, ...) when no sound can be played.
        std::function<std::unique_ptr<outputs::SoundBot>(int percussionNumber)> soundBot;
        // Throws (hotkey::HotkeyUnavailableError) when the hotkey cannot be had.
        std::function<std::unique_ptr<hotkey::GlobalHotkey>(const config::RequestHotkey::Chord &)> hotkey;
        static Makers defaults();
    };

    struct Options
    {
        // Values go to the standard output (`printTo`) instead of the keyboard.
        bool print = false;
        std::FILE *printTo = stdout;
        // The confirmation sound the settings ask for.
        bool sound = true;
        // Asked once the port is open, right before reception begins: true
        // stops the run there, before anything is read (a stop asked for
        // while a slow driver opened the port).
        std::function<bool()> stopRequested;
        // True while one of the program's own windows has the keyboard focus:
        // a value that arrives then is not typed (it would land in the
        // program itself), and typing stops at once when the focus moves
        // there in the middle of a value. Called on the reading and the
        // keyboard threads.
        std::function<bool()> ownWindowFocused;
        // The run ends at the first cut value (End::Cut), instead of waiting
        // for resumeTyping(): for runs that nobody watches.
        bool endAtCut = false;
        Makers makers = Makers::defaults();
        // The broker's password (never stored); empty: the environment
        // variable OMVARA_MQTT_PASSWORD.
        QString brokerPassword;
        // What the port diagnosis reads (why a device vanished); null: this computer.
        std::shared_ptr<const portlink::doctor::SystemView> system;
        // Where the session's language is read, for the decimal mark the
        // typed values should have; none: SessionLocaleSources::fromSystem().
        std::optional<SessionLocaleSources> sessionLocale;
        // The longest wait for the user's answer where the desktop asks
        // permission to type (the portal's dialog); zero: as long as the
        // user takes. Stop ends the wait either way.
        std::chrono::milliseconds permissionWait { 0 };
        // The clock of the dates and times in the stamps beside the values;
        // null: the local time now.
        std::function<QDateTime()> stampClock;
        // What the runs of several connections share: the keyboard (which
        // replaces makers.keybot), the record file, the broker and the ports
        // (a port another run holds is refused). Null: the run has its own.
        std::shared_ptr<SharedOutputs> shared;
        // Printed values begin with the connection's name and a tab.
        bool printNames = false;
    };

    // `config` is the run's own copy of the settings, taken at Start.
    Run(config::Config config, Options options, RunObserver &observer, RunQuestions &questions,
        QObject *parent = nullptr);
    // Stops the run and waits until its threads have ended.
    ~Run() override;

    // The start sequence: keyboard output, Caps Lock check, sound, the
    // record file (opened here: one that cannot be is a setting to mend)
    // and the broker, duplicate suppression, the reception engine (which
    // opens the port), then reception. False when the run did not start (its state says why; the
    // questions have been asked).
    bool start();
    // Stop: reception ends, the value being typed is finished with its
    // pauses, the values still waiting are dropped and reported. The state
    // turns to Ended once the reading thread has ended; the keyboard output
    // is Finishing until its value is typed. A second stop() cuts that value
    // off at once.
    void stop();
    // Waits until the outputs have delivered what they hold (after the end).
    void waitForOutputs();
    // After a cut value (state().cut): typing goes on with the next value
    // that arrives. Values that arrived meanwhile were not typed.
    void resumeTyping();

    // Asks the instrument for a reading: the request command goes out
    // through the port on a thread of the run's own (a device that does not
    // take it holds up neither reading nor the event thread), and the log
    // says so. Each call sends one request, even while an earlier one has
    // no answer yet. Does nothing while the run is not reading (starting,
    // stopping, waiting for a lost device) or has no request command (the
    // log says so, once). Event thread.
    void request(RequestOrigin origin);
    // What a request sends: the request command setting, else the
    // instrument's own; empty when neither has one.
    const QByteArray &requestCommand() const { return m_requestCommand; }

    const RunState &state() const { return m_state; }
    const config::Config &config() const { return m_config; }
    // The keyboard output's Keybot, or null (tests look at it).
    outputs::Keybot *keybot() const { return m_keybot; }

Q_SIGNALS:
    // The state changed (also told to the observer).
    void stateChanged(const omvara::run::RunState &state);
    // The run has ended and its port is closed.
    void ended();

private:
    class ReceptionView;

    // Runs `body` on a thread of its own while the event thread goes on;
    // Stop (or the run's end) interrupts that thread. False when the run was
    // deleted meanwhile: nothing of it may be touched then. A failure of
    // `body` is rethrown.
    bool apart(const std::function<void()> &body);
    // The keyboard output, made apart where the desktop may ask the user's
    // permission first. Null when the run was deleted or stopped meanwhile
    // (`*gone` tells which).
    std::unique_ptr<outputs::Keybot> makeKeybot(bool *gone);
    // Posted by name from the thread that waits for the permission.
    Q_INVOKABLE void waitingForPermission(const QString &question);
    // `end`: Stopped when Stop came while a network port was being connected.
    bool notStarted(const QString &reason, RunState::End end = RunState::End::NotStarted);
    // The record file and the broker, when set: every line from the ledger.
    // False when the record file cannot be opened and the view would not
    // start without it (`problem` says why).
    bool addLineOutputs(QString *problem);
    // Logs, once at the start of a typing run, a decimal separator setting
    // that differs from the decimal mark of the session's language (the
    // setting itself is left as it is: the receiving application may well
    // use another language than the desktop).
    void warnOfDecimalMark();
    OutputReport outputReport(OutputKind kind);
    void setPhase(RunState::Phase phase, RunState::End end = RunState::End::None, const QString &reason = {});
    void setOutput(OutputKind kind, RunState::Output::Status status, const QString &detail = {});
    void publishState();
    // Reading thread.
    void handleLine(processing::DataLine &line);
    void addLine(RunLine line);
    // Any thread: a line is settled; the observer hears of it on the event thread.
    void lineReleased(const RunLine &line);
    void deliverSettled();
    // Posted by lineReleased when no line on its way to the view brings the
    // settled lines along.
    Q_INVOKABLE void deliverPostedSettled();
    void receptionEnded(reception::WeightWorker *worker);
    // Posted from other threads by name: the queued call then lives inside
    // Qt, whose event queue orders it after everything the poster did before
    // (a posted function object would be read back under a lock the thread
    // sanitizer cannot see in the Qt library).
    Q_INVOKABLE void keyboardLost(const QString &reason);
    Q_INVOKABLE void keyboardEnded();
    // A value was cut (posted by the keyboard thread).
    Q_INVOKABLE void typingCut(const QString &value, const QString &typedPart, const QString &window,
        const QString &reason, bool ownWindow);
    // Reading thread. The device went away: true (with `reconnect` set) when
    // the engine is to wait for it; the phase turns to WaitingForDevice.
    bool deviceLost();
    // Reading thread. The device is back: the phase turns to Running again.
    void deviceReturned();
    // Posted by name by the two above.
    Q_INVOKABLE void waitingForDevice(const QString &reason);
    Q_INVOKABLE void deviceIsBack();
    // The device went away: says so when brltty took it.
    Q_INVOKABLE void tellTakenDevice();
    // The state of the record file or the broker (an OutputKind and a
    // RunState::Output::Status).
    Q_INVOKABLE void outputChanged(int kind, int status, const QString &detail);
    // Readings on request, and settled readings (RunRequests.cpp).
    void startRequests();
    void endRequests();
    void checkAnswers();
    QString originText(RequestOrigin origin) const;
    // Reading thread: false when the settled-readings filter hands the line's
    // value on; otherwise `note` says what the value waits for.
    bool holdsBack(processing::DataLine &line, QString *note);
    // Any thread: a line (whole or failed) arrived.
    void noteLineArrived();
    // How far the outputs have been told to end, in increasing order.
    enum class OutputEnd { None, Finish, Stop, Abort };
    void endOutputs(OutputEnd how);

    const config::Config m_config;
    Options m_options;
    const LineOrigin m_origin; // of every line of the run
    RunObserver &m_observer;
    RunQuestions &m_questions;
    std::unique_ptr<ReceptionView> m_view;

    RunState m_state;
    TakenDevice m_takenDevice;
    // Made at start() and released only after the reading thread has ended,
    // which is the only thread besides this one that touches them.
    std::vector<std::unique_ptr<ValueSink>> m_sinks;
    std::unique_ptr<processing::Ignorer> m_ignorer;
    outputs::Keybot *m_keybot = nullptr;
    bool m_delivers = false; // a keyboard or print output takes the values
    // The values that went out (typed, printed, cut): the next one's {seq}
    // in the stamps, which the broker's seq follows. Written on the thread
    // that delivers the values (keyboard or reading thread).
    std::atomic<qint64> m_valuesOut = 0;
    bool m_stamped = false; // a stamp is set
    // Why the keyboard drops values (read on the keyboard thread).
    std::atomic<bool> m_outputsStopping = false;
    std::atomic<bool> m_keyboardLost = false;
    bool m_endedAtCut = false; // endAtCut: the cut ended the run (event thread)
    QString m_cutEndReason;
    LineLedger m_ledger;
    // Settled lines on their way to the observer (one event delivers a batch).
    std::mutex m_settledMutex;
    std::vector<RunLine> m_settled;
    bool m_settledPosted = false; // deliverPostedSettled is queued (under m_settledMutex)
    // Event thread: settled lines wait until the observer has been shown the
    // line itself (a line without a value is settled before it is shown).
    std::deque<RunLine> m_unshownSettled;
    qint32 m_lastShown = 0;
    bool m_receptionEnded = false;
    std::unique_ptr<reception::WeightWorker> m_worker;
    // A network port is connected on a thread of its own, so that the
    // window stays responsive meanwhile and Stop ends the attempt at once.
    std::unique_ptr<reception::WeightWorker> connectApart(
        const std::function<void(const QString &, const QString &)> &presenter);
    std::stop_source m_connectStop;
    std::thread m_connectThread;
    std::atomic<bool> m_connectedApart { false }; // the engine said it is connected
    OutputEnd m_outputEnd = OutputEnd::None;
    bool m_portClaimed = false; // in m_options.shared

    // Readings on request.
    QByteArray m_requestCommand;
    QString m_requestShown; // the command as each request's log entry shows it
    std::unique_ptr<RequestSender> m_requests; // while reception runs
    QTimer *m_requestTimer = nullptr; // the interval
    QTimer *m_answerTimer = nullptr; // looks for requests without an answer
    std::unique_ptr<hotkey::GlobalHotkey> m_hotkey;
    bool m_noCommandTold = false;
    // The first request since the last line, while it has no answer.
    std::optional<std::chrono::steady_clock::time_point> m_unansweredSince;
    bool m_silenceTold = false; // for this silent stretch
    std::atomic<std::chrono::steady_clock::rep> m_lastLineAt { 0 };
    // Requests from the program's own Request control not answered yet: their
    // answer may wait for the focus to leave the program (reading thread).
    std::atomic<int> m_windowRequests { 0 };
    // Reading thread, for a value that answers a request from the window
    // while one of the program's windows has the focus: true once none has,
    // waiting up to WindowRequestFocusWait.
    bool focusLeftForAnswer();
    // Settled readings: the filter (reading thread) and the notes of held lines.
    std::unique_ptr<SettledReadings> m_settledReadings;
    QString m_heldText, m_heldAgainText; // taken at start, read on the reading thread
};

} // namespace omvara::run
