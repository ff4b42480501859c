// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RunControl.h"

#include "omvara/config/Instrument.h"
#include "omvara/util/Bundle.h"
#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/PortDoctorDialog.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/StatusLine.h"

#include "omvara/window/LogLineLayout.h"
#include "omvara/window/RunPanel.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QTabWidget>
#include <QWindow>

#include <exception>

namespace omvara {

namespace {

QString text(const char *key)
{
    return util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

} // namespace

RunControl::RunControl(RadezoZiDadFrame2 &frame, EventLog &log, StatusLine &status, QObject *parent)
    : QObject(parent)
    , m_frame(frame)
    , m_log(log)
    , m_status(status)
    , m_outputs(Outputs::defaults())
{
    m_frame.setStartStopAction([this] { startStopJButtonActionPerformed(); });
    m_frame.setRequestAction([this] { request(); });
    // One of the program's windows has the keyboard focus: the toolkit's own
    // active-window state, on X11 and Wayland alike.
    const auto focusFollows = [this](QWindow *focus) {
        m_ownFocus = focus != nullptr;
        if (!focus)
            m_droppedForFocus = 0;
        if (m_frame.runPanel)
            m_frame.runPanel->setOwnFocus(focus != nullptr);
        if (m_runningLook)
            showRunText();
    };
    focusFollows(QGuiApplication::focusWindow());
    connect(qApp, &QGuiApplication::focusWindowChanged, this, focusFollows);
    if (m_frame.runPanel)
        connect(m_frame.runPanel, &RunPanel::resumeRequested, this, &RunControl::resumeTyping);
    // What the log's styles and marks mean, over the log (screen readers get
    // it as plain text, see plainAccessibleTexts).
    if (m_frame.eventLogPanel)
        m_frame.eventLogPanel->setToolTip(m_log.legend());
}

RunControl::~RunControl()
{
    m_frame.setStartStopAction({});
    m_frame.setRequestAction({});
    // The run's threads end (and the port closes) before the log they report to goes away.
    m_run.reset();
}

QStringList RunControl::textKeys()
{
    return QStringList {
        QStringLiteral("error"),
        QStringLiteral("warning"),
        QStringLiteral("error.initializing.keyboard.output"),
        QStringLiteral("please.turn.off.caps.lock"),
        QStringLiteral("error.while.initializing.sound.output"),
        QStringLiteral("sound.output.error"),
        QStringLiteral("invalid.setting"),
        QStringLiteral("error.opening.port"),
        QStringLiteral("error.opening.port.why"),
        QStringLiteral("RadezoZiDadFrame2.deviceLabel.text"),
        QStringLiteral("keyboard.output.started.type"),
        QStringLiteral("keyboard.output.off"),
        QStringLiteral("running.not.typing"),
        QStringLiteral("keyboard.finishing"),
        QStringLiteral("run.ended.at"),
        QStringLiteral("keyboard.failed.status"),
        QStringLiteral("waiting.for.device"),
        QStringLiteral("open.failed.no.device"),
        QStringLiteral("open.failed.in.use"),
        QStringLiteral("open.failed.permission"),
        QStringLiteral("RadezoZiDadFrame2.startStopJButton.text"),
        QStringLiteral("RadezoZiDadFrame2.startStopJButton.textStop"),
        QStringLiteral("RadezoZiDadFrame2.statusJLabel.text"),
        QStringLiteral("switch.to.target.application"),
        QStringLiteral("internal.error"),
        QStringLiteral("line.count"),
        QStringLiteral("RadezoZiDadFrame2.requestButton.text"),
        QStringLiteral("RadezoZiDadFrame2.requestButton.toolTipText"),
        QStringLiteral("tray.request.reading"),
        QStringLiteral("record.not.written"),
        QStringLiteral("record.start.without"),
        QStringLiteral("record.file.title"),
        QStringLiteral("broker.not.reached"),
        QStringLiteral("status.cut"),
        QStringLiteral("status.own.focus"),
    }
    + RunPanel::textKeys();
}

QWidget *RunControl::dialogParent() const
{
    return &m_frame;
}

void RunControl::startStopJButtonActionPerformed()
{
    // Stop also ends a start still under way (a network port being connected).
    if (m_running || (m_run && m_run->state().phase == run::RunState::Phase::Starting))
        stop();
    else
        start();
}

bool RunControl::start()
{
    if (hasWorker()) // the previous run has not ended yet
        return false;
    if (m_run) {
        // What the previous run left: the keyboard may still be typing the
        // value it had begun. The new run waits until that has been typed.
        m_run->waitForOutputs();
        m_run.reset();
    }

    // The controls into the configuration; the run gets its own copy.
    m_frame.updateConfigFromTabs();
    // The port list offers the ports used last (typed network addresses among them).
    m_frame.getConfig().rememberPort(m_frame.getConfig().getPort());
    m_status.setText(StatusLine::Slot::Problem, {});
    m_status.setText(StatusLine::Slot::Waiting, {});
    m_status.setText(StatusLine::Slot::Output, {});
    m_lines = 0;
    m_typed = 0;
    m_heldNote.clear();
    m_cutWaiting = false;
    m_droppedForFocus = 0;
    run::Run::Options options;
    options.makers = m_outputs;
    options.brokerPassword = m_frame.outputPanel ? m_frame.outputPanel->brokerPassword() : QString();
    options.ownWindowFocused = [this] { return m_ownFocus.load(); };
    m_run = std::make_unique<run::Run>(m_frame.getConfig().copyConfig(), std::move(options),
        static_cast<run::RunObserver &>(*this), static_cast<run::RunQuestions &>(*this));
    return m_run->start();
}

void RunControl::stop()
{
    if (m_run)
        m_run->stop();
}

void RunControl::resumeTyping()
{
    if (m_run)
        m_run->resumeTyping();
}

void RunControl::request()
{
    if (m_run)
        m_run->request(run::RequestOrigin::Window);
}

bool RunControl::goOnWithoutKeyboard(const QString &reason)
{
    MessageBoxes::showMessage(dialogParent(),
        MessageText::own(text("error.initializing.keyboard.output")) + MessageText::outside(reason),
        text("error"));
    return true;
}

void RunControl::capsLockOn()
{
    MessageBoxes::showMessage(dialogParent(), MessageText::own(text("please.turn.off.caps.lock")),
        text("warning"), MessageBoxes::Icon::Warning);
}

void RunControl::soundFailed(const QString &reason)
{
    MessageBoxes::showMessage(dialogParent(),
        MessageText::own(text("error.while.initializing.sound.output")) + MessageText::outside(reason),
        text("sound.output.error"));
}

void RunControl::deviceWarning(const QString &title, const QString &message)
{
    // The device check's own texts (worker bundle).
    MessageBoxes::showMessage(dialogParent(), MessageText::own(message), title, MessageBoxes::Icon::Warning);
}

void RunControl::cannotStart(run::StartFailure failure, const QString &message)
{
    // First what happened and what to do, in plain words; the exact failure follows.
    const QString port = m_run ? m_run->config().getPort() : QString();
    const char *plain = nullptr;
    switch (failure) {
    case run::StartFailure::NoSuchDevice:
        plain = "open.failed.no.device";
        break;
    case run::StartFailure::PortInUse:
        plain = "open.failed.in.use";
        break;
    case run::StartFailure::NoPermission:
        plain = "open.failed.permission";
        break;
    default:
        break;
    }
    // The serial layer's failure text follows, with port names and settings in it.
    const MessageText shown = plain ? MessageText::own(text(plain), port)
            + MessageText::own(QStringLiteral("\n\n")) + MessageText::outside(message)
                                    : MessageText::outside(message);
    const QString title
        = text(failure == run::StartFailure::InvalidSetting ? "invalid.setting" : "error.opening.port");
    // For a device of this computer the port diagnosis can say why.
    if (failure == run::StartFailure::InvalidSetting || !port.startsWith(QLatin1String("/dev/"))) {
        MessageBoxes::showMessage(dialogParent(), shown, title);
        return;
    }
    if (MessageBoxes::showMessageWithHelp(dialogParent(), shown, title, text("error.opening.port.why"))) {
        PortDoctorDialog doctor(dialogParent(), port);
        MessageBoxes::execDialog(doctor);
    }
}

bool RunControl::goOnWithoutRecord(const QString &reason)
{
    return MessageBoxes::askOkCancel(dialogParent(),
               MessageText::outside(reason) + MessageText::own(QStringLiteral("\n\n"))
                   + MessageText::own(text("record.start.without")),
               text("record.file.title"), MessageBoxes::Icon::Warning)
        == MessageBoxes::Answer::Ok;
}

void RunControl::runStarted(const run::RunStart &start)
{
    const config::Config &config = start.config;
    const config::ConfigHelper::Instrument *instrument = config.getInstrument();
    logEvent(text("RadezoZiDadFrame2.deviceLabel.text") + QLatin1Char(' ')
        + (instrument ? instrument->getLabel() : QString()));
    if (!config.getCustomRegEx().isEmpty())
        logEvent(QStringLiteral("Custom regEx: ") + config.getCustomRegEx());
    m_typing = start.typing;
    if (start.typing) {
        logEvent(text("keyboard.output.started.type") + QLatin1Char(' ') + config.getKeyboardType().toString()
            + QStringLiteral(" (desktop layout ") + start.keyboardLayout + QLatin1Char(')'));
        if (!start.keyboardChoice.isEmpty())
            logEvent(QStringLiteral("Keyboard output: ") + start.keyboardChoice);
        if (!start.keyboardWarning.isEmpty())
            logImportantEvent(start.keyboardWarning);
    } else
        logImportantEvent(text("keyboard.output.off") + start.keyboardProblem);
    const bool numeric
        = !instrument || &instrument->getInstrumentType() != &config::ConfigHelper::InstrumentType::TEXT;
    m_frame.runPanel->begin(
        config.getPort(), instrument ? instrument->getLabel() : QString(), start.keyboardBackend, numeric);
    if (m_run)
        m_frame.runPanel->showState(m_run->state());
}

void RunControl::logEvent(const QString &message)
{
    m_log.logEvent(message);
}

void RunControl::logImportantEvent(const QString &message)
{
    m_log.logImportantEvent(message);
}

void RunControl::stateChanged(const run::RunState &state)
{
    // The look follows on the event thread's next turn: a run that is
    // started and at once ends (its start failed) changes nothing.
    // After Stop the window stays in its running look while the keyboard
    // finishes the value it types: a second Stop then cuts that short.
    using Status = run::RunState::Output::Status;
    const run::RunState::Output *keyboard = state.output(run::OutputKind::Keyboard);
    const bool finishing = keyboard && keyboard->status == Status::Finishing;
    m_running = state.running() || finishing;
    if (finishing && state.ended())
        m_status.showText(text("keyboard.finishing"));

    // The status line: a run that ended by itself, or a keyboard that
    // failed, first; then waiting for the device; then the other outputs.
    QString problem;
    if (state.ended()
        && (state.end == run::RunState::End::DeviceLost || state.end == run::RunState::End::Failed)) {
        problem = text("run.ended.at")
                      .replace(QStringLiteral("{0}"), state.since.toString(QStringLiteral("HH:mm:ss")))
                      .replace(QStringLiteral("{1}"), state.reason);
    } else if (keyboard && keyboard->status == Status::Failed && !state.ended()) {
        problem = text("keyboard.failed.status").replace(QStringLiteral("{0}"), keyboard->detail);
    }
    const bool newlyEnded
        = !problem.isEmpty() && state.ended() && m_status.slotText(StatusLine::Slot::Problem) != problem;
    if (state.end != run::RunState::End::NotStarted)
        m_status.setText(StatusLine::Slot::Problem, problem);
    // Waiting for the device, or for the desktop's permission to type.
    m_status.setText(StatusLine::Slot::Waiting,
        state.phase == run::RunState::Phase::WaitingForDevice
            ? text("waiting.for.device")
                  .replace(QStringLiteral("{0}"), m_run ? m_run->config().getPort() : QString())
            : state.phase == run::RunState::Phase::Starting ? state.reason
                                                            : QString());
    // An output's trouble belongs to the run: it goes with the run's end.
    QStringList outputProblems;
    for (const run::RunState::Output &output : state.outputs) {
        if (state.ended() || output.status != Status::Failed || output.kind == run::OutputKind::Keyboard
            || output.kind == run::OutputKind::Sound)
            continue;
        if (output.kind == run::OutputKind::Record)
            outputProblems.append(text("record.not.written") + output.detail);
        else if (output.kind == run::OutputKind::Broker)
            outputProblems.append(text("broker.not.reached") + output.detail);
        else
            outputProblems.append(output.name() + QStringLiteral(": ") + output.detail);
    }
    m_status.setText(StatusLine::Slot::Output, outputProblems.join(QStringLiteral("; ")));
    m_frame.runPanel->showState(state);
    const bool cutWaiting = state.cut.has_value() && !state.ended();
    if (cutWaiting != m_cutWaiting) {
        m_cutWaiting = cutWaiting;
        if (m_runningLook)
            showRunText();
    }
    if (newlyEnded)
        Q_EMIT runEndedByItself(problem);
    QMetaObject::invokeMethod(
        this, [this, running = m_running] { showLook(running); }, Qt::QueuedConnection);
}

void RunControl::showLook(bool running)
{
    // The look follows the latest state; a stale request (running, then at
    // once stopped because the start failed) changes nothing twice.
    if (running != m_running)
        running = m_running;
    if (running == m_runningLook)
        return;
    try {
        QTabWidget *tabs = m_frame.tabbedPane;
        if (running) {
            m_frame.startStopJButton->setText(text("RadezoZiDadFrame2.startStopJButton.textStop"));
            // Only Start/Stop, event log and about stay: no setting can change during a run.
            m_removedTabs.clear();
            for (QWidget *page :
                { static_cast<QWidget *>(m_frame.inputPanel), static_cast<QWidget *>(m_frame.processingPanel),
                    static_cast<QWidget *>(m_frame.outputPanel),
                    static_cast<QWidget *>(m_frame.settingsPanel) }) {
                const int index = tabs->indexOf(page);
                if (index < 0)
                    continue;
                m_removedTabs.append({ page, tabs->tabText(index) });
                tabs->removeTab(index);
            }
            m_status.setRunning(true);
            showRunText();
            m_frame.runPanel->show();
            // The Request control when there is a command to send.
            m_frame.requestButton->setVisible(m_run && !m_run->requestCommand().isEmpty());
        } else {
            m_frame.startStopJButton->setText(text("RadezoZiDadFrame2.startStopJButton.text"));
            // Back at their former places: each inserted at index 1, last tab first.
            for (auto it = m_removedTabs.crbegin(); it != m_removedTabs.crend(); ++it) {
                if (it->page && tabs->indexOf(it->page) < 0)
                    tabs->insertTab(1, it->page, it->title);
            }
            m_removedTabs.clear();
            m_frame.requestButton->setVisible(false);
            m_status.setRunning(false);
            m_status.showIdleText();
            m_frame.runPanel->hide();
        }
        m_runningLook = running;
    } catch (const std::exception &) {
        MessageBoxes::showMessage(dialogParent(), MessageText::own(text("internal.error")), text("error"));
    }
    Q_EMIT lookChanged(running);
}

void RunControl::lineReceived(const processing::DataLine &line)
{
    // The line in the log; what became of its value is marked when known.
    m_log.appendDataLine(line.getDateTime(), line.getRawData(), line.getProcessedData(), line.getCount());
    m_lines = line.getCount();
    m_frame.runPanel->lineReceived(line.getDateTime(), line.getProcessedData());
    if (m_runningLook)
        showRunText();
}

void RunControl::lineSettled(const run::RunLine &line)
{
    switch (line.status) {
    case run::LineStatus::Typed:
        m_log.markDataLine(line.count, valueMark(ValueFate::Typed, line.value));
        ++m_typed;
        m_heldNote.clear();
        m_droppedForFocus = 0;
        m_frame.runPanel->valueTyped(line.value);
        Q_EMIT valueTyped(line.value);
        break;
    case run::LineStatus::NotTyped:
        m_log.markDataLine(line.count, valueMark(ValueFate::NotTyped, line.value, line.note));
        m_frame.runPanel->valueNotTyped(m_ownFocus);
        if (m_ownFocus)
            ++m_droppedForFocus;
        break;
    case run::LineStatus::Cut:
        m_log.markDataLine(line.count, valueMark(ValueFate::Cut, line.value, line.note));
        m_frame.runPanel->valueCut();
        break;
    case run::LineStatus::Incomplete:
        m_log.markDataLine(line.count, valueMark(ValueFate::Incomplete, line.value, line.note));
        break;
    case run::LineStatus::Held:
        m_log.markDataLine(line.count, valueMark(ValueFate::Held, line.value, line.note));
        m_heldNote = line.note;
        m_frame.runPanel->valueHeld(line.note);
        break;
    case run::LineStatus::NoValue:
        m_log.markDataLine(line.count, {}, LogStyle::Unknown);
        break;
    default:
        break;
    }
    if (m_runningLook)
        showRunText();
}

void RunControl::showRunText()
{
    // Until a value has been typed somewhere else, the hint to switch there stays.
    if (!m_typing)
        m_status.showText(text("running.not.typing"));
    else if (m_cutWaiting)
        m_status.showText(text("status.cut"));
    else if (m_ownFocus && m_droppedForFocus > 0)
        m_status.showText(
            text("status.own.focus").replace(QStringLiteral("{0}"), QString::number(m_droppedForFocus)));
    else if (!m_heldNote.isEmpty())
        m_status.showText(m_heldNote);
    else if (m_typed == 0)
        m_status.showText(text("switch.to.target.application"));
    else
        m_status.showText(text("line.count") + QString::number(m_lines));
}

} // namespace omvara
