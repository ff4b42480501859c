// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RunControl.h"

#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/StatusLine.h"
#include "omvara/config/Instrument.h"
#include "omvara/util/Bundle.h"

#include <QMetaObject>
#include <QPushButton>
#include <QTabWidget>

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
}

RunControl::~RunControl()
{
    m_frame.setStartStopAction({});
    // The run's threads end (and the port closes) before the log they report to goes away.
    m_run.reset();
}

QStringList RunControl::textKeys()
{
    return {
        QStringLiteral("error"),
        QStringLiteral("warning"),
        QStringLiteral("error.initializing.keyboard.output"),
        QStringLiteral("please.turn.off.caps.lock"),
        QStringLiteral("error.while.initializing.sound.output"),
        QStringLiteral("sound.output.error"),
        QStringLiteral("invalid.setting"),
        QStringLiteral("error.opening.port"),
        QStringLiteral("RadezoZiDadFrame2.deviceLabel.text"),
        QStringLiteral("keyboard.output.started.type"),
        QStringLiteral("keyboard.output.off"),
        QStringLiteral("running.not.typing"),
        QStringLiteral("keyboard.finishing"),
        QStringLiteral("RadezoZiDadFrame2.startStopJButton.text"),
        QStringLiteral("RadezoZiDadFrame2.startStopJButton.textStop"),
        QStringLiteral("RadezoZiDadFrame2.statusJLabel.text"),
        QStringLiteral("switch.to.target.application"),
        QStringLiteral("internal.error"),
        QStringLiteral("line.count"),
        QStringLiteral("waiting.for.device"),
    };
}

QWidget *RunControl::dialogParent() const
{
    return &m_frame;
}

void RunControl::startStopJButtonActionPerformed()
{
    if (m_running)
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
    run::Run::Options options;
    options.makers = m_outputs;
    m_run = std::make_unique<run::Run>(m_frame.getConfig().copyConfig(), std::move(options),
        static_cast<run::RunObserver &>(*this), static_cast<run::RunQuestions &>(*this));
    return m_run->start();
}

void RunControl::stop()
{
    if (m_run)
        m_run->stop();
}

bool RunControl::goOnWithoutKeyboard(const QString &reason)
{
    MessageBoxes::showMessage(dialogParent(),
        MessageText::own(text("error.initializing.keyboard.output")) + MessageText::outside(reason), text("error"));
    return true;
}

void RunControl::capsLockOn()
{
    MessageBoxes::showMessage(
        dialogParent(), MessageText::own(text("please.turn.off.caps.lock")), text("warning"), MessageBoxes::Icon::Warning);
}

void RunControl::soundFailed(const QString &reason)
{
    MessageBoxes::showMessage(
        dialogParent(), MessageText::own(text("error.while.initializing.sound.output")) + MessageText::outside(reason),
        text("sound.output.error"));
}

void RunControl::deviceWarning(const QString &title, const QString &message)
{
    // The device check's own texts (worker bundle).
    MessageBoxes::showMessage(dialogParent(), MessageText::own(message), title, MessageBoxes::Icon::Warning);
}

void RunControl::cannotStart(run::StartFailure failure, const QString &message)
{
    // The serial layer's failure text, with port names and settings in it.
    MessageBoxes::showMessage(dialogParent(), MessageText::outside(message),
        text(failure == run::StartFailure::InvalidSetting ? "invalid.setting" : "error.opening.port"));
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
    if (start.typing)
        logEvent(text("keyboard.output.started.type") + QLatin1Char(' ') + config.getKeyboardType().toString()
            + QStringLiteral(" (desktop layout ") + start.keyboardLayout + QLatin1Char(')'));
    else
        logImportantEvent(text("keyboard.output.off") + start.keyboardProblem);
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
    const run::RunState::Output *keyboard = state.output(QStringLiteral("keyboard"));
    const bool finishing = keyboard && keyboard->status == run::RunState::Output::Status::Finishing;
    m_running = state.running() || finishing;
    if (finishing && state.ended())
        m_status.showText(text("keyboard.finishing"));
    // The device went away and the run waits for it; then reading goes on.
    if (state.phase == run::RunState::Phase::WaitingForDevice) {
        m_status.showText(text("waiting.for.device"));
        m_waitingShown = true;
    } else if (m_waitingShown) {
        m_waitingShown = false;
        if (state.phase == run::RunState::Phase::Running)
            m_status.showText(text(m_typing ? "switch.to.target.application" : "running.not.typing"));
    }
    QMetaObject::invokeMethod(this, [this, running = m_running] { showLook(running); }, Qt::QueuedConnection);
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
            for (QWidget *page : {static_cast<QWidget *>(m_frame.inputPanel),
                     static_cast<QWidget *>(m_frame.processingPanel), static_cast<QWidget *>(m_frame.outputPanel),
                     static_cast<QWidget *>(m_frame.settingsPanel)}) {
                const int index = tabs->indexOf(page);
                if (index < 0)
                    continue;
                m_removedTabs.append({page, tabs->tabText(index)});
                tabs->removeTab(index);
            }
            m_status.setRunning(true);
            m_status.showText(text(m_typing ? "switch.to.target.application" : "running.not.typing"));
        } else {
            m_frame.startStopJButton->setText(text("RadezoZiDadFrame2.startStopJButton.text"));
            // Back at their former places: each inserted at index 1, last tab first.
            for (auto it = m_removedTabs.crbegin(); it != m_removedTabs.crend(); ++it) {
                if (it->page && tabs->indexOf(it->page) < 0)
                    tabs->insertTab(1, it->page, it->title);
            }
            m_removedTabs.clear();
            m_status.setRunning(false);
            m_status.showIdleText();
        }
        m_runningLook = running;
    } catch (const std::exception &) {
        MessageBoxes::showMessage(dialogParent(), MessageText::own(text("internal.error")), text("error"));
    }
    Q_EMIT lookChanged(running);
}

void RunControl::lineReceived(const worker::DataLine &line)
{
    // The line in the log, with the typed part marked, and the line count.
    m_log.appendDataLine(line.getDateTime(), line.getRawData(), line.getProcessedData());
    m_status.showText(text("line.count") + QString::number(line.getCount()));
}

} // namespace omvara
