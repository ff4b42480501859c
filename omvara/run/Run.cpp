// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/Run.h"

#include "omvara/config/Instrument.h"
#include "omvara/config/OutputSettings.h"
#include "omvara/config/Stamp.h"
#include "omvara/hotkey/GlobalHotkey.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/SoundBot.h"
#include "omvara/outputs/keys/KeyInjectors.h"
#include "omvara/outputs/keys/PermissionWait.h"
#include "omvara/processing/Ignorer.h"
#include "omvara/reception/WeightWorkerView.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/run/BrokerOutput.h"
#include "omvara/run/RecordFileOutput.h"
#include "omvara/run/RequestSender.h"
#include "omvara/run/SettledReadings.h"
#include "omvara/run/SharedOutputs.h"
#include "omvara/run/ValueOutputs.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Interruption.h"
#include "omvara/util/LocalTime.h"
#include "portlink/NetworkPortName.h"
#include "portlink/PortlinkErrors.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <exception>
#include <stdexcept>
#include <thread>

namespace omvara::run {

namespace {

// The run whose reading thread is adding the line it hands on to the view
// (which delivers the lines settled meanwhile).
thread_local const Run *lineInHand = nullptr;

QString failureText(const std::exception &e)
{
    return QString::fromUtf8(e.what());
}

// The stamps beside the value that goes out as the run's `seq`th.
outputs::Keybot::Stamps stampsFor(
    const config::Config &config, const std::function<QDateTime()> &clock, qint64 seq)
{
    const config::Stamp::Values values { clock ? clock() : QDateTime::currentDateTime(), seq,
        config.getPort(), config.getConnectionName() };
    return { config::Stamp::expand(config.getStampBefore(), values),
        config::Stamp::expand(config.getStampAfter(), values) };
}

} // namespace

// The reception engine's view of the run: reports go to the observer, lines
// through the run's per-line policy.
class Run::ReceptionView : public reception::WeightWorkerView
{
public:
    explicit ReceptionView(Run &run)
        : m_run(run)
    {
    }

    void logEvent(const QString &message) override { m_run.m_observer.logEvent(message); }
    void logImportantEvent(const QString &message) override { m_run.m_observer.logImportantEvent(message); }
    void setConnectedInGUI(bool connected) override
    {
        // The end is taken from the engine's finished signal, with its reason.
        // While a network port is connected apart, the event thread takes
        // this over once the connection stands.
        if (QThread::currentThread() != m_run.thread())
            m_run.m_connectedApart = connected;
        else if (connected)
            m_run.setPhase(RunState::Phase::Running);
    }
    void lineCompleted(processing::DataLine &line) override { m_run.handleLine(line); }
    void linesCompleted() override
    {
        for (const auto &sink : m_run.m_sinks)
            sink->flush();
    }
    void lineFailed(const QString &rawData, qint32 count, const QString &message) override
    {
        m_run.noteLineArrived();
        m_run.addLine({ 0, count, QDateTime::currentDateTime(), rawData, {}, LineStatus::Error, message });
    }
    void lineOverflowed(const QString &rawData) override
    {
        m_run.addLine({ 0, 0, QDateTime::currentDateTime(), rawData, {}, LineStatus::Overflow, {} });
    }
    void lineUnsent(const QString &rawData) override
    {
        m_run.addLine({ 0, 0, QDateTime::currentDateTime(), rawData, {}, LineStatus::Unsent, {} });
    }
    void showDataLine(processing::DataLine &line) override
    {
        m_run.m_lastShown = line.getCount();
        m_run.m_observer.lineReceived(line);
        m_run.deliverSettled();
    }
    void dataLinesShown() override { m_run.m_observer.linesShown(); }
    bool waitForLostDevice() override { return m_run.deviceLost(); }
    void deviceBack() override { m_run.deviceReturned(); }

private:
    Run &m_run;
};

Run::Makers Run::Makers::defaults()
{
    Makers makers;
    makers.keybot = [](reception::WeightWorkerView *view, const config::Config &config) {
        return outputs::Keybot::fromConfig(view, config);
    };
    makers.soundBot
        = [](int percussionNumber) { return std::make_unique<outputs::SoundBot>(percussionNumber); };
    makers.hotkey
        = [](const config::RequestHotkey::Chord &chord) { return hotkey::createGlobalHotkey(chord); };
    return makers;
}

Run::Run(
    config::Config config, Options options, RunObserver &observer, RunQuestions &questions, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_options(std::move(options))
    , m_origin { m_config.getConnectionName(), m_config.getPort(),
        (m_config.getInstrument() ? *m_config.getInstrument()
                                  : config::ConfigHelper::Instrument::getDefault())
            .name() }
    , m_observer(observer)
    , m_questions(questions)
    , m_view(std::make_unique<ReceptionView>(*this))
    , m_takenDevice(m_options.system)
    , m_ledger([this](const RunLine &line) { lineReleased(line); })
{
    m_state.since = QDateTime::currentDateTime();
}

Run::~Run()
{
    // A connection attempt still under way ends at once.
    m_connectStop.request_stop();
    if (m_connectThread.joinable())
        m_connectThread.join();
    // The reading thread ends (and the port closes) before the outputs it
    // hands values to go away.
    m_worker.reset();
    endRequests();
    endOutputs(OutputEnd::Abort);
    for (const auto &sink : m_sinks)
        sink->join();
    // Every value the keyboard took has its outcome by now; this is for the
    // outputs that still want to hear of every line.
    m_ledger.settleAll(LineStatus::NotTyped);
    if (m_portClaimed)
        m_options.shared->releasePorts(m_config.getConnectionName());
}

bool Run::start()
{
    m_stamped = !m_config.getStampBefore().isEmpty() || !m_config.getStampAfter().isEmpty();
    // 1. Keyboard output, or the standard output. Without a keyboard the run
    //    may still receive, show and log lines, if the view says so.
    std::unique_ptr<ValueSink> delivery;
    QString keyboardProblem;
    if (m_options.print) {
        delivery = std::make_unique<PrintOutput>(
            m_options.printTo, m_options.printNames ? m_config.getConnectionName() + u'\t' : QString());
    } else {
        try {
            bool gone = false;
            std::unique_ptr<outputs::Keybot> keybot = makeKeybot(&gone);
            if (gone)
                return false; // the run was deleted while it waited (the window closed)
            if (!keybot)
                return notStarted(texts::WorkerTexts::text("stopped"), RunState::End::Stopped);
            if (!m_state.reason.isEmpty())
                setPhase(RunState::Phase::Starting); // the permission came
            m_keybot = keybot.get();
            // Both come from the keyboard thread; the state is the event thread's.
            // Calls to the event thread are posted by name (see Run.h).
            const auto onLost = [this](const QString &reason) {
                m_keyboardLost = true;
                QMetaObject::invokeMethod(this, "keyboardLost", Qt::QueuedConnection, Q_ARG(QString, reason));
            };
            const auto onEnd
                = [this] { QMetaObject::invokeMethod(this, "keyboardEnded", Qt::QueuedConnection); };
            const auto onOutcome = [this](qint64 seq, const outputs::Keybot::Outcome &outcome) {
                using Kind = outputs::Keybot::Outcome::Kind;
                if (outcome.kind != Kind::NotTyped)
                    ++m_valuesOut;
                if (outcome.kind == Kind::Typed) {
                    m_ledger.settle(seq, LineStatus::Typed, {}, outcome.typed);
                } else if (outcome.kind == Kind::Incomplete) {
                    // Keys went out, the terminator too: a record must not
                    // call it not typed, nor typed.
                    m_ledger.settleIncomplete(seq,
                        texts::WorkerTexts::format(
                            texts::WorkerTexts::text("typing.incomplete"), { outcome.typedPart }),
                        outcome.typedPart, outcome.typed);
                } else if (outcome.kind == Kind::Cut) {
                    const QString note = texts::WorkerTexts::format(texts::WorkerTexts::text("typing.cut"),
                        { QString::number(outcome.typedPart.toUcs4().size()), QString::number(outcome.length),
                            outcome.typedPart, outcome.window, outcome.reason });
                    m_ledger.settleCut(seq, note, outcome.typedPart, outcome.window, outcome.typed);
                    QMetaObject::invokeMethod(this, "typingCut", Qt::QueuedConnection,
                        Q_ARG(QString, outcome.value), Q_ARG(QString, outcome.typedPart),
                        Q_ARG(QString, outcome.window), Q_ARG(QString, outcome.reason),
                        Q_ARG(bool, outcome.ownWindow));
                } else {
                    m_ledger.settle(seq, LineStatus::NotTyped,
                        texts::WorkerTexts::text(outcome.holding ? "not.typed.holding"
                                : m_keyboardLost                 ? "not.typed.lost"
                                : m_outputsStopping              ? "not.typed.stopped"
                                : outcome.ownWindow              ? "not.typed.focus"
                                                                 : "not.typed"),
                        outcome.typed);
                }
            };
            m_keybot->setOwnWindowFocused(m_options.ownWindowFocused);
            if (m_stamped)
                m_keybot->setStamper(
                    [this](qint64) { return stampsFor(m_config, m_options.stampClock, m_valuesOut + 1); });
            delivery = std::make_unique<KeyboardOutput>(std::move(keybot), onLost, onEnd, onOutcome);
        } catch (const std::exception &e) {
            // Stop while the desktop asked for permission is no failure to report.
            if (m_connectStop.stop_requested())
                return notStarted(texts::WorkerTexts::text("stopped"), RunState::End::Stopped);
            keyboardProblem = failureText(e);
            if (!m_questions.goOnWithoutKeyboard(keyboardProblem))
                return notStarted(keyboardProblem);
            setOutput(OutputKind::Keyboard, RunState::Output::Status::Failed, keyboardProblem);
        }
    }

    // 2. Caps Lock would turn every typed letter around.
    if (m_keybot && m_keybot->capsLockOn())
        m_questions.capsLockOn();

    // 3. Sound.
    const auto &sound = m_config.getSound();
    if (m_options.sound && &sound != &config::ConfigHelper::Sound::NONE) {
        try {
            m_sinks.push_back(
                std::make_unique<SoundOutput>(m_options.makers.soundBot(sound.getPercussionNumber())));
        } catch (const std::exception &e) {
            m_questions.soundFailed(failureText(e));
            setOutput(OutputKind::Sound, RunState::Output::Status::Failed, failureText(e));
        }
    }
    m_delivers = delivery != nullptr;
    if (delivery)
        m_sinks.push_back(std::move(delivery));
    // After the keyboard: joined after it, they hear of its last outcomes.
    QString recordProblem;
    if (!addLineOutputs(&recordProblem))
        return notStarted(recordProblem);

    // 4. Settled readings, then duplicate suppression.
    if (m_config.getStableReadings() > 1) {
        m_settledReadings = std::make_unique<SettledReadings>(m_config.getStableReadings());
        m_heldText = texts::WorkerTexts::text("held.waiting");
        m_heldAgainText = texts::WorkerTexts::text("held.again");
    }
    if (m_config.getIgnoreDuplicates())
        m_ignorer = std::make_unique<processing::Ignorer>(m_config);

    // 5. The reception engine for the instrument; making it opens the port,
    //    unless another connection's run holds it.
    if (m_options.shared) {
        QString heldBy;
        if (!m_options.shared->claimPort(m_config.getPort(), m_config.getConnectionName(), &heldBy)) {
            const QString message = texts::WorkerTexts::format(
                texts::WorkerTexts::text("port.held"), { m_config.getPort(), heldBy });
            m_questions.cannotStart(StartFailure::PortInUse, message);
            return notStarted(message);
        }
        m_portClaimed = true;
    }
    try {
        const auto presenter = [this](const QString &title, const QString &message) {
            m_questions.deviceWarning(title, message);
        };
        if (portlink::NetworkPortName::isNetworkName(m_config.getPort())) {
            QPointer<Run> alive(this);
            std::unique_ptr<reception::WeightWorker> connected = connectApart(presenter);
            if (!alive)
                return false; // the run was deleted while it connected (the window closed)
            m_worker = std::move(connected);
            if (!m_worker)
                return notStarted(texts::WorkerTexts::text("stopped"), RunState::End::Stopped);
            if (m_connectedApart)
                setPhase(RunState::Phase::Running);
        } else {
            m_worker = reception::createWeightWorker(m_config, *m_view, presenter);
            m_takenDevice.opened(m_config.getPort());
        }
    } catch (const std::invalid_argument &e) {
        // A setting the port refuses (portlink::InvalidArgumentError is one).
        m_questions.cannotStart(StartFailure::InvalidSetting, failureText(e));
        return notStarted(failureText(e));
    } catch (const portlink::NativeLibraryError &e) {
        m_questions.cannotStart(StartFailure::NoSerialLibrary, e.message());
        return notStarted(e.message());
    } catch (const portlink::IoError &e) {
        using Open = portlink::IoError::OpenFailure;
        const Open kind = e.openFailure();
        m_questions.cannotStart(kind == Open::NoSuchDevice ? StartFailure::NoSuchDevice
                : kind == Open::InUse                      ? StartFailure::PortInUse
                : kind == Open::NoPermission               ? StartFailure::NoPermission
                                                           : StartFailure::CannotOpen,
            e.message());
        return notStarted(e.message());
    } catch (const std::exception &e) {
        m_questions.cannotStart(StartFailure::CannotOpen, failureText(e));
        return notStarted(failureText(e));
    }
    reception::WeightWorker *worker = m_worker.get();
    connect(worker, &reception::WeightWorker::finished, this, [this, worker] { receptionEnded(worker); });

    // 6. The outputs' own threads.
    for (const auto &sink : m_sinks) {
        sink->start();
        setOutput(sink->kind(), RunState::Output::Status::Working, sink->detail());
    }

    // 7. What this run is, then reception (which a stop asked for meanwhile
    //    keeps from beginning: the engine then ends at once as stopped).
    m_observer.runStarted(RunStart { m_config, m_keybot != nullptr, m_options.print,
        m_keybot ? m_keybot->backendName() : QString(), keyboardProblem,
        m_keybot ? m_keybot->layoutName() : QString(), m_keybot ? m_keybot->backendChoice() : QString(),
        m_keybot ? m_keybot->backendWarning() : QString() });
    warnOfDecimalMark();
    if (m_options.stopRequested && m_options.stopRequested())
        stop();
    m_worker->execute();
    startRequests();
    return true;
}

void Run::warnOfDecimalMark()
{
    // Only typed numbers go through an application's number reading.
    const config::ConfigHelper::Instrument *instrument = m_config.getInstrument();
    if (!m_keybot
        || &(instrument ? *instrument : config::ConfigHelper::Instrument::getDefault()).getInstrumentType()
            == &config::ConfigHelper::InstrumentType::TEXT)
        return;
    const SessionLocaleSources sources
        = m_options.sessionLocale ? *m_options.sessionLocale : SessionLocaleSources::fromSystem();
    const QString warning
        = decimalSeparatorWarning(m_config.getDecimalSeparator(), SessionDecimalMark::find(sources));
    if (!warning.isEmpty())
        m_observer.logImportantEvent(warning);
}

bool Run::apart(const std::function<void()> &body)
{
    std::exception_ptr failure;
    // The loop outlives the thread: it is joined before this returns, or by
    // the destructor when the run is deleted meanwhile.
    QEventLoop loop;
    m_connectThread = std::thread([this, &body, &failure, &loop] {
        {
            const util::Interruption::Scope scope(m_connectStop.get_token());
            try {
                body();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QPointer<Run> alive(this);
    loop.exec();
    if (!alive)
        return false; // the destructor has ended the attempt and joined the thread
    m_connectThread.join();
    if (failure)
        std::rethrow_exception(failure);
    return true;
}

std::unique_ptr<outputs::Keybot> Run::makeKeybot(bool *gone)
{
    const auto make = [this] {
        return m_options.shared ? m_options.shared->keybot(m_view.get(), m_config)
                                : m_options.makers.keybot(m_view.get(), m_config);
    };
    if (!outputs::keys::KeyInjectors::mayAskPermission())
        return make();
    // The desktop's dialog takes as long as the user takes: the window stays
    // alive meanwhile and Stop ends the wait.
    std::unique_ptr<outputs::Keybot> keybot;
    const bool done = apart([this, &keybot, &make] {
        const outputs::keys::PermissionWait::Scope scope(
            { [this](const QString &question) {
                 QMetaObject::invokeMethod(
                     this, "waitingForPermission", Qt::QueuedConnection, Q_ARG(QString, question));
             },
                m_options.permissionWait });
        keybot = make();
    });
    *gone = !done;
    if (!done || m_connectStop.stop_requested())
        return nullptr;
    return keybot;
}

void Run::waitingForPermission(const QString &question)
{
    if (m_state.phase != RunState::Phase::Starting)
        return;
    using namespace std::chrono;
    const auto limit = m_options.permissionWait;
    QString text = QStringLiteral("Waiting for permission to type: %1").arg(question);
    if (limit > 0ms && limit % minutes(1) == 0ms)
        text += QStringLiteral(" (at most %1 min).").arg(duration_cast<minutes>(limit).count());
    else if (limit > 0ms)
        text += QStringLiteral(" (at most %1 s).").arg(duration_cast<seconds>(limit).count());
    else
        text += QStringLiteral(". Stop ends the wait.");
    m_observer.logImportantEvent(text);
    setPhase(RunState::Phase::Starting, RunState::End::None, text);
}

std::unique_ptr<reception::WeightWorker> Run::connectApart(
    const std::function<void(const QString &, const QString &)> &presenter)
{
    // Warnings of the engine's checks are shown on this thread afterwards.
    std::vector<std::pair<QString, QString>> warnings;
    std::unique_ptr<reception::WeightWorker> made;
    QThread *home = thread();
    try {
        const bool done = apart([this, &warnings, &made, home] {
            made = reception::createWeightWorker(
                m_config, *m_view, [&warnings](const QString &title, const QString &message) {
                    warnings.emplace_back(title, message);
                });
            // The engine belongs to the event thread, as one made there does.
            made->moveToThread(home);
        });
        if (!done)
            return nullptr; // the run was deleted meanwhile
    } catch (...) {
        // Stop during the attempt is no failure to report.
        if (m_connectStop.stop_requested())
            return nullptr;
        throw;
    }
    for (const auto &[title, message] : warnings)
        presenter(title, message);
    if (m_connectStop.stop_requested())
        return nullptr; // connected just as Stop came: the engine closes the port again
    return made;
}

bool Run::addLineOutputs(QString *problem)
{
    const QString instrumentName = m_origin.instrument;
    // Made here, or shared with the runs of the other connections.
    const auto add
        = [this](OutputKind kind, const std::function<std::unique_ptr<ValueSink>(OutputReport)> &make) {
              std::unique_ptr<ValueSink> sink = m_options.shared
                  ? m_options.shared->attach(kind, make, outputReport(kind))
                  : make(outputReport(kind));
              if (sink)
                  m_sinks.push_back(std::move(sink));
          };
    if (!m_config.getRecordFile().isEmpty()) {
        QString detail, reason;
        add(OutputKind::Record, [&](OutputReport report) -> std::unique_ptr<ValueSink> {
            auto record = std::make_unique<RecordFileOutput>(
                m_config.getRecordFile(), m_config.getPort(), instrumentName, std::move(report));
            // Checked before the port opens: a record that cannot be written
            // from the start is a setting to mend, not rows to keep waiting.
            reason = record->open();
            detail = record->detail();
            if (!reason.isEmpty())
                return nullptr;
            return record;
        });
        if (!reason.isEmpty()) {
            *problem = texts::WorkerTexts::format(
                texts::WorkerTexts::text("record.cannot.open"), { detail, reason });
            if (!m_questions.goOnWithoutRecord(*problem))
                return false;
            m_observer.logImportantEvent(*problem);
            setOutput(
                OutputKind::Record, RunState::Output::Status::Failed, detail + QStringLiteral(": ") + reason);
        }
    }
    if (!m_config.getMqttUrl().isEmpty()) {
        // The setting was checked when it was loaded or typed.
        const std::optional<config::BrokerAddress> address
            = config::BrokerAddress::parse(m_config.getMqttUrl());
        if (address) {
            QString password = m_options.brokerPassword;
            if (password.isEmpty())
                password = qEnvironmentVariable("OMVARA_MQTT_PASSWORD");
            BrokerOutput::Setup setup { *address, m_config.getMqttCaFile(), password, m_config.getPort(),
                instrumentName };
            add(OutputKind::Broker, [&setup](OutputReport report) {
                return std::make_unique<BrokerOutput>(std::move(setup), std::move(report));
            });
        }
    }
    return true;
}

OutputReport Run::outputReport(OutputKind kind)
{
    OutputReport report;
    report.event = [this](const QString &message) { m_observer.logEvent(message); };
    report.importantEvent = [this](const QString &message) { m_observer.logImportantEvent(message); };
    // The state is the event thread's; posted by name (see Run.h).
    report.state = [this, kind](RunState::Output::Status status, const QString &detail) {
        QMetaObject::invokeMethod(this, "outputChanged", Qt::QueuedConnection, Q_ARG(int, int(kind)),
            Q_ARG(int, int(status)), Q_ARG(QString, detail));
    };
    return report;
}

void Run::outputChanged(int kind, int status, const QString &detail)
{
    setOutput(OutputKind(kind), RunState::Output::Status(status), detail);
}

bool Run::notStarted(const QString &reason, RunState::End end)
{
    // No reading thread has seen the outputs: they go at once.
    endOutputs(OutputEnd::Stop);
    for (const auto &sink : m_sinks)
        sink->join();
    m_sinks.clear();
    m_keybot = nullptr;
    setPhase(RunState::Phase::Ended, end, reason);
    return false;
}

void Run::stop()
{
    m_connectStop.request_stop();
    if (m_worker)
        m_worker->cancel(true);
    if (m_requestTimer)
        m_requestTimer->stop();
    endOutputs(m_outputEnd >= OutputEnd::Stop ? OutputEnd::Abort : OutputEnd::Stop);
}

void Run::waitForOutputs()
{
    for (const auto &sink : m_sinks)
        sink->join();
}

void Run::endOutputs(OutputEnd how)
{
    if (how <= m_outputEnd)
        return;
    m_outputEnd = how;
    m_outputsStopping = how >= OutputEnd::Stop;
    for (const auto &sink : m_sinks) {
        switch (how) {
        case OutputEnd::Finish:
            sink->finish();
            break;
        case OutputEnd::Stop:
            sink->stop();
            break;
        default:
            sink->abort();
            break;
        }
    }
    // The keyboard thread types on until it has finished; it says when.
    if (m_keybot && how != OutputEnd::Abort) {
        const RunState::Output *keyboard = m_state.output(OutputKind::Keyboard);
        if (keyboard && keyboard->status == RunState::Output::Status::Working)
            setOutput(OutputKind::Keyboard, RunState::Output::Status::Finishing, keyboard->detail);
    }
}

void Run::keyboardLost(const QString &reason)
{
    setOutput(OutputKind::Keyboard, RunState::Output::Status::Failed, reason);
}

void Run::typingCut(const QString &value, const QString &typedPart, const QString &window,
    const QString &reason, bool ownWindow)
{
    if (m_state.ended() || m_outputEnd >= OutputEnd::Stop)
        return; // cut by Stop: nothing waits for the user
    m_state.cut = RunState::Cut { value, typedPart, window, reason, ownWindow };
    if (m_options.endAtCut && !m_endedAtCut) {
        m_endedAtCut = true;
        m_cutEndReason = texts::WorkerTexts::format(texts::WorkerTexts::text("run.ended.cut"),
            { QString::number(typedPart.toUcs4().size()), value, window, reason });
        stop();
    }
    publishState();
}

void Run::resumeTyping()
{
    if (!m_state.cut)
        return;
    m_state.cut.reset();
    if (m_keybot)
        m_keybot->resume();
    publishState();
}

void Run::keyboardEnded()
{
    const RunState::Output *keyboard = m_state.output(OutputKind::Keyboard);
    if (keyboard && keyboard->status != RunState::Output::Status::Failed)
        setOutput(OutputKind::Keyboard, RunState::Output::Status::Ended, keyboard->detail);
}

void Run::handleLine(processing::DataLine &line)
{
    noteLineArrived();
    // The line's local time without a time-zone lookup of its own.
    RunLine entry { 0, line.getCount(), util::LocalTime::dateTime(line.getInstant()), line.rawData(),
        line.getProcessedData(), LineStatus::Pending, {} };
    entry.origin = &m_origin;
    if (!line.hasValue()) {
        entry.status = LineStatus::NoValue;
    } else if (holdsBack(line, &entry.note)) {
        entry.status = LineStatus::Held; // no sound, not typed, not seen by duplicate suppression
    } else {
        if (m_ignorer)
            m_ignorer->process(line);
        // A value answers the oldest request from the window, if any.
        bool windowAsked = false;
        if (line.hasValue()) {
            int pending = m_windowRequests.load();
            while (pending > 0 && !m_windowRequests.compare_exchange_weak(pending, pending - 1)) { }
            windowAsked = pending > 0;
        }
        if (!line.hasValue()) {
            entry.status = LineStatus::Duplicate;
        } else if (!m_delivers) {
            entry.status = LineStatus::NotTyped; // the keyboard output failed at Start
            entry.note = texts::WorkerTexts::text("not.typed.no.keyboard");
        } else if (m_options.print) {
            entry.status = LineStatus::Printed;
            const outputs::Keybot::Stamps stamps = m_stamped
                ? stampsFor(m_config, m_options.stampClock, ++m_valuesOut)
                : outputs::Keybot::Stamps {};
            entry.typed = stamps.before + entry.value + stamps.after;
        } else if (m_options.ownWindowFocused && m_options.ownWindowFocused()
            && !(windowAsked && focusLeftForAnswer())) {
            // Marked on the value's own line: one entry per reading. A value
            // that waited for the focus in vain is told also here: after a
            // Stop during the wait its line is not shown.
            entry.status = LineStatus::NotTyped;
            entry.note = texts::WorkerTexts::text("not.typed.focus");
            if (windowAsked)
                m_observer.logImportantEvent(texts::WorkerTexts::text("value.not.typed.focus") + entry.value);
        } else if (m_keybot && m_keybot->holding()) {
            entry.status = LineStatus::NotTyped; // after a cut, until the user resumes
            entry.note = texts::WorkerTexts::text("not.typed.holding");
        }
    }
    // Added before the outputs get it: the keyboard may report its outcome at once.
    lineInHand = this;
    entry.seq = m_ledger.add(entry);
    lineInHand = nullptr;
    if (entry.status != LineStatus::Pending && entry.status != LineStatus::Printed)
        return;
    for (const auto &sink : m_sinks)
        sink->put(entry);
}

bool Run::focusLeftForAnswer()
{
    // A value asked for with the window's own control: the user presses
    // Request and then switches to the application, so the value waits for that.
    m_observer.logEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("value.waits.for.focus"),
        { QString::number(WindowRequestFocusWait.count() / 1000) }));
    const auto deadline = std::chrono::steady_clock::now() + WindowRequestFocusWait;
    while (std::chrono::steady_clock::now() < deadline) {
        // Stop ends the wait at once; the value is then not typed.
        if (util::Interruption::interrupted())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!m_options.ownWindowFocused())
            return true;
    }
    return false;
}

void Run::addLine(RunLine line)
{
    line.origin = &m_origin;
    m_ledger.add(std::move(line));
}

void Run::lineReleased(const RunLine &line)
{
    for (const auto &sink : m_sinks)
        sink->lineSettled(line);
    bool post = false;
    {
        std::lock_guard lock(m_settledMutex);
        m_settled.push_back(line);
        // Released while the reading thread hands a line on: that line
        // reaches the view next, and its showDataLine delivers these.
        post = !m_settledPosted && lineInHand != this;
        m_settledPosted = m_settledPosted || post;
    }
    if (post)
        QMetaObject::invokeMethod(this, "deliverPostedSettled", Qt::QueuedConnection);
}

void Run::deliverPostedSettled()
{
    {
        std::lock_guard lock(m_settledMutex);
        m_settledPosted = false;
    }
    deliverSettled();
}

void Run::deliverSettled()
{
    {
        std::lock_guard lock(m_settledMutex);
        for (RunLine &line : m_settled)
            m_unshownSettled.push_back(std::move(line));
        m_settled.clear();
    }
    // A line the view is shown is settled after it was shown; lines it never
    // sees (failed, cut, unsent, or dropped from the view at Stop) need not wait.
    while (!m_unshownSettled.empty()) {
        const RunLine &line = m_unshownSettled.front();
        const bool shownOrNever = m_receptionEnded || line.count == 0 || line.status == LineStatus::Error
            || line.count <= m_lastShown;
        if (!shownOrNever)
            break;
        const RunLine released = line;
        m_unshownSettled.pop_front();
        m_observer.lineSettled(released);
    }
}

void Run::receptionEnded(reception::WeightWorker *worker)
{
    if (m_worker.get() != worker)
        return;
    RunState::End end = RunState::End::Failed;
    QString reason = worker->failure();
    if (m_endedAtCut) {
        end = RunState::End::Cut;
        reason = m_cutEndReason;
    } else if (worker->isCancelled()) {
        end = RunState::End::Stopped;
    } else if (worker->deviceWasLost()) {
        end = RunState::End::DeviceLost;
        reason = texts::WorkerTexts::text("device.lost");
        tellTakenDevice();
    }
    // A run that ended by itself still delivers the values it received.
    endOutputs(end == RunState::End::Stopped ? OutputEnd::Stop : OutputEnd::Finish);
    // The port is closed: a request still being written has ended.
    endRequests();
    // Called from the engine's own signal: it is deleted once that returns.
    m_worker.release()->deleteLater();
    m_receptionEnded = true;
    deliverSettled();
    setPhase(RunState::Phase::Ended, end, reason);
    Q_EMIT ended();
}

// --- the device going away and coming back (reading thread) ------------------

bool Run::deviceLost()
{
    if (!m_config.getReconnect())
        return false;
    const QString reason
        = texts::WorkerTexts::format(texts::WorkerTexts::text("device.lost.waiting"), { m_config.getPort() });
    QMetaObject::invokeMethod(this, "waitingForDevice", Qt::QueuedConnection, Q_ARG(QString, reason));
    QMetaObject::invokeMethod(this, "tellTakenDevice", Qt::QueuedConnection);
    return true;
}

void Run::deviceReturned()
{
    QMetaObject::invokeMethod(this, "deviceIsBack", Qt::QueuedConnection);
}

void Run::waitingForDevice(const QString &reason)
{
    if (m_state.phase == RunState::Phase::Running)
        setPhase(RunState::Phase::WaitingForDevice, RunState::End::None, reason);
}

void Run::deviceIsBack()
{
    m_takenDevice.opened(m_config.getPort());
    if (m_state.phase == RunState::Phase::WaitingForDevice)
        setPhase(RunState::Phase::Running);
}

void Run::tellTakenDevice()
{
    if (const auto taken = m_takenDevice.wentAway())
        m_observer.logImportantEvent(*taken);
}

void Run::setPhase(RunState::Phase phase, RunState::End end, const QString &reason)
{
    if (phase == RunState::Phase::Ended && m_portClaimed) {
        m_portClaimed = false;
        m_options.shared->releasePorts(m_config.getConnectionName());
    }
    m_state.phase = phase;
    m_state.end = end;
    m_state.reason = reason;
    m_state.since = QDateTime::currentDateTime();
    publishState();
}

void Run::setOutput(OutputKind kind, RunState::Output::Status status, const QString &detail)
{
    for (RunState::Output &o : m_state.outputs) {
        if (o.kind == kind) {
            if (o.status == status && o.detail == detail)
                return;
            o.status = status;
            o.detail = detail;
            publishState();
            return;
        }
    }
    m_state.outputs.append({ kind, status, detail });
    publishState();
}

void Run::publishState()
{
    m_observer.stateChanged(m_state);
    Q_EMIT stateChanged(m_state);
}

} // namespace omvara::run
