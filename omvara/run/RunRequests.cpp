// SPDX-License-Identifier: GPL-3.0-or-later
// A run's requests for readings (interval, hotkey, signal, window), and its
// settled-readings filter.
#include "omvara/run/Run.h"

#include "omvara/config/RequestSettings.h"
#include "omvara/hotkey/GlobalHotkey.h"
#include "omvara/reception/PortWriter.h"
#include "omvara/reception/WeightWorker.h"
#include "omvara/run/RequestSender.h"
#include "omvara/run/SettledReadings.h"
#include "omvara/texts/WorkerTexts.h"

#include <QTimer>

namespace omvara::run {

using texts::WorkerTexts;

namespace {

// A request without any line after it for this long was not answered.
constexpr auto AnswerTime = std::chrono::seconds(2);
// How often unanswered requests are looked for.
constexpr int AnswerCheckMs = 100;

// The longest request command a request's log entry shows whole; a longer
// one is shown by its beginning and its length (the whole of it is in the
// log once, when the interval begins).
constexpr qsizetype ShownCommandLength = 40;

QString shortenedCommand(const QString &encoded, qsizetype bytes)
{
    if (encoded.size() <= ShownCommandLength)
        return encoded;
    return texts::WorkerTexts::format(texts::WorkerTexts::text("request.command.shortened"),
        { encoded.left(ShownCommandLength - 8), QString::number(bytes) });
}

std::chrono::steady_clock::rep steadyNow()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

QString Run::originText(RequestOrigin origin) const
{
    switch (origin) {
    case RequestOrigin::Interval:
        return texts::WorkerTexts::text("request.origin.interval");
    case RequestOrigin::Hotkey:
        return texts::WorkerTexts::text("request.origin.hotkey");
    case RequestOrigin::Signal:
        return texts::WorkerTexts::text("request.origin.signal");
    case RequestOrigin::Window:
        break;
    }
    return texts::WorkerTexts::text("request.origin.window");
}

void Run::startRequests()
{
    if (!m_worker || m_worker->isCancelled())
        return;
    const std::optional<QByteArray> own = config::RequestCommand::decode(m_config.getRequestCommand());
    m_requestCommand = own.value_or(QByteArray());
    if (m_requestCommand.isEmpty() && m_config.getInstrument())
        m_requestCommand = m_config.getInstrument()->getDataCommand().toLatin1();
    const bool triggers = m_config.getRequestInterval() > 0 || !m_config.getRequestHotkey().isEmpty();
    if (m_requestCommand.isEmpty()) {
        if (triggers) {
            m_observer.logImportantEvent(texts::WorkerTexts::text("request.no.command"));
            m_noCommandTold = true;
        }
        return;
    }

    const QString shown = config::RequestCommand::encode(m_requestCommand);
    m_requestShown = shortenedCommand(shown, m_requestCommand.size());
    // The texts are taken here, so that the sender's thread only formats.
    const QString failed = texts::WorkerTexts::text("request.failed");
    const QStringList origins = { originText(RequestOrigin::Interval), originText(RequestOrigin::Hotkey),
        originText(RequestOrigin::Signal), originText(RequestOrigin::Window) };
    const auto report = [this, failed, origins](RequestOrigin origin, const QString &failure) {
        // The sender's thread: the log takes entries from any thread.
        if (!failure.isEmpty())
            m_observer.logImportantEvent(
                texts::WorkerTexts::format(failed, { origins.value(int(origin)), failure }));
    };
    m_requests = std::make_unique<RequestSender>(m_worker->portWriter(), m_requestCommand, report);
    m_state.requests = true;
    publishState();

    m_answerTimer = new QTimer(this);
    m_answerTimer->setInterval(AnswerCheckMs);
    connect(m_answerTimer, &QTimer::timeout, this, [this] { checkAnswers(); });

    if (m_config.getRequestInterval() > 0) {
        m_requestTimer = new QTimer(this);
        m_requestTimer->setTimerType(Qt::PreciseTimer);
        m_requestTimer->setInterval(m_config.getRequestInterval());
        connect(m_requestTimer, &QTimer::timeout, this, [this] { request(RequestOrigin::Interval); });
        m_requestTimer->start();
        m_observer.logEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("request.interval.started"),
            { QString::number(m_config.getRequestInterval()), shown }));
    }

    if (!m_config.getRequestHotkey().isEmpty()) {
        QString problem;
        const std::optional<config::RequestHotkey::Chord> chord
            = config::RequestHotkey::parse(m_config.getRequestHotkey(), &problem);
        try {
            if (!chord)
                throw hotkey::HotkeyUnavailableError(problem);
            if (!m_options.makers.hotkey)
                throw hotkey::HotkeyUnavailableError(QStringLiteral("no hotkey backend"));
            m_hotkey = m_options.makers.hotkey(*chord);
            connect(m_hotkey.get(), &hotkey::GlobalHotkey::activated, this,
                [this] { request(RequestOrigin::Hotkey); });
            m_observer.logEvent(texts::WorkerTexts::format(
                texts::WorkerTexts::text("request.hotkey.ready"), { m_config.getRequestHotkey() }));
        } catch (const std::exception &e) {
            m_observer.logImportantEvent(
                texts::WorkerTexts::format(texts::WorkerTexts::text("request.hotkey.unavailable"),
                    { m_config.getRequestHotkey(), QString::fromUtf8(e.what()) }));
        }
    }
}

void Run::endRequests()
{
    if (m_requestTimer)
        m_requestTimer->stop();
    if (m_answerTimer)
        m_answerTimer->stop();
    m_hotkey.reset();
    m_requests.reset();
    m_unansweredSince.reset();
    if (m_state.requests) {
        m_state.requests = false;
        publishState();
    }
}

void Run::request(RequestOrigin origin)
{
    // Suspended, not failed, while the run is not reading (a lost device
    // it waits for, a stop under way).
    if (m_state.phase != RunState::Phase::Running || !m_worker || m_worker->isCancelled())
        return;
    if (!m_requests) {
        if (!m_noCommandTold) {
            m_observer.logImportantEvent(texts::WorkerTexts::text("request.no.command"));
            m_noCommandTold = true;
        }
        return;
    }
    // Logged and counted before the request goes out: the answer may come at
    // once, and the log shows the request before it.
    m_observer.logEvent(texts::WorkerTexts::format(
        texts::WorkerTexts::text("request.sent"), { originText(origin), m_requestShown }));
    if (origin == RequestOrigin::Window)
        ++m_windowRequests;
    if (!m_requests->queue(origin)) {
        if (origin == RequestOrigin::Window)
            --m_windowRequests;
        m_observer.logImportantEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("request.failed"),
            { originText(origin), texts::WorkerTexts::text("request.backlog") }));
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool answered
        = m_unansweredSince && m_lastLineAt.load() >= m_unansweredSince->time_since_epoch().count();
    if (!m_unansweredSince || answered)
        m_unansweredSince = now;
    if (!m_answerTimer->isActive())
        m_answerTimer->start();
}

void Run::checkAnswers()
{
    if (!m_unansweredSince || m_state.phase != RunState::Phase::Running) {
        // Nothing asked, or the run waits for a lost device: that is no silence of the instrument's.
        m_unansweredSince.reset();
        m_answerTimer->stop();
        return;
    }
    if (m_lastLineAt.load() >= m_unansweredSince->time_since_epoch().count()) {
        // A line came: the silent stretch, if any, is over.
        m_unansweredSince.reset();
        m_silenceTold = false;
        m_answerTimer->stop();
        return;
    }
    if (std::chrono::steady_clock::now() - *m_unansweredSince < AnswerTime || m_silenceTold)
        return;
    m_silenceTold = true;
    m_observer.logImportantEvent(texts::WorkerTexts::text("request.unanswered"));
}

void Run::noteLineArrived()
{
    m_lastLineAt.store(steadyNow());
}

bool Run::holdsBack(processing::DataLine &line, QString *note)
{
    if (!m_settledReadings)
        return false;
    const QString value = line.getProcessedData();
    const SettledReadings::Verdict verdict = m_settledReadings->take(value);
    if (verdict.handOn)
        return false;
    // Told on the line itself (its note), not in an entry of its own.
    *note = verdict.handedOnBefore
        ? m_heldAgainText
        : texts::WorkerTexts::format(
            m_heldText, { QString::number(m_settledReadings->needed()), QString::number(verdict.seen) });
    line.deleteProcessedData();
    return true;
}

} // namespace omvara::run
