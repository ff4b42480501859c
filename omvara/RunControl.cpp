// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/RunControl.h"

#include "omvara/EventLog.h"
#include "omvara/InputPanel.h"
#include "omvara/OutputPanel.h"
#include "omvara/ProcessingPanel.h"
#include "omvara/SettingsPanel.h"
#include "omvara/MessageBoxes.h"
#include "omvara/RadezoZiDadFrame2.h"
#include "omvara/StatusLine.h"
#include "omvara/config/Instrument.h"
#include "omvara/util/Bundle.h"
#include "omvara/worker/Ignorer.h"
#include "omvara/worker/Keybot.h"
#include "omvara/worker/SoundBot.h"
#include "omvara/worker/WeightWorkerAnd.h"
#include "omvara/worker/WeightWorkers.h"

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

// A failure's own text, for the dialogs that append it to the program's words.
QString failureText(const std::exception &e)
{
    return QString::fromUtf8(e.what());
}

} // namespace

RunControl::Outputs RunControl::defaultOutputs()
{
    Outputs outputs;
    outputs.keybot = [](worker::WeightWorkerView *view, const config::Config &config) {
        return worker::Keybot::fromConfig(view, config);
    };
    outputs.soundBot = [](int percussionNumber) { return std::make_unique<worker::SoundBot>(percussionNumber); };
    return outputs;
}

RunControl::RunControl(RadezoZiDadFrame2 &frame, EventLog &log, StatusLine &status, QObject *parent)
    : QObject(parent)
    , m_frame(frame)
    , m_log(log)
    , m_status(status)
    , m_outputs(defaultOutputs())
{
    m_frame.setStartStopAction([this] { startStopJButtonActionPerformed(); });
}

RunControl::~RunControl()
{
    m_frame.setStartStopAction({});
    // The worker's thread ends (and the port closes) before the outputs it
    // reports to go away.
    m_weightWorker.reset();
    releaseOutputs();
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
        QStringLiteral("RadezoZiDadFrame2.startStopJButton.text"),
        QStringLiteral("RadezoZiDadFrame2.startStopJButton.textStop"),
        QStringLiteral("RadezoZiDadFrame2.statusJLabel.text"),
        QStringLiteral("switch.to.target.application"),
        QStringLiteral("internal.error"),
        QStringLiteral("line.count"),
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
    if (m_weightWorker) // the previous run has not ended yet
        return false;
    releaseOutputs(); // what a run that ended by itself left behind

    // 1. The controls into the configuration; the run gets its own copy.
    m_frame.updateConfigFromTabs();
    m_runConfig.emplace(m_frame.getConfig().copyConfig());
    const config::Config &config = *m_runConfig;

    // 2. Keyboard output. Without it the run still receives, shows and logs lines.
    try {
        m_keyBot = m_outputs.keybot(this, config);
    } catch (const std::exception &e) {
        m_keyBot.reset();
        MessageBoxes::showMessage(dialogParent(),
            text("error.initializing.keyboard.output") + failureText(e), text("error"));
    }

    // 3. Caps Lock would turn every typed letter around.
    if (m_keyBot && m_keyBot->capsLockOn())
        MessageBoxes::showMessage(dialogParent(), text("please.turn.off.caps.lock"), text("warning"),
            MessageBoxes::Icon::Warning);

    // 4. Sound.
    const auto &sound = config.getSound();
    if (&sound != &config::ConfigHelper::Sound::NONE) {
        try {
            m_soundBot = m_outputs.soundBot(sound.getPercussionNumber());
        } catch (const std::exception &e) {
            m_soundBot.reset();
            MessageBoxes::showMessage(dialogParent(),
                text("error.while.initializing.sound.output") + failureText(e),
                text("sound.output.error"));
        }
    }

    // 5. Duplicate suppression.
    if (config.ignoreDuplicates)
        m_ignorer = std::make_unique<worker::Ignorer>(config);

    // 6. The worker for the instrument; constructing it opens the port.
    try {
        const auto presenter = [this](const QString &title, const QString &message) {
            MessageBoxes::showMessage(dialogParent(), message, title, MessageBoxes::Icon::Warning);
        };
        m_weightWorker = worker::createWeightWorker(config, *this, presenter);
    } catch (const std::invalid_argument &e) {
        // A setting the port refuses (portlink::InvalidArgumentError is one).
        releaseOutputs();
        MessageBoxes::showMessage(dialogParent(), failureText(e), text("invalid.setting"));
        return false;
    } catch (const std::exception &e) {
        releaseOutputs();
        MessageBoxes::showMessage(dialogParent(), failureText(e), text("error.opening.port"));
        return false;
    }
    worker::WeightWorker *runWorker = m_weightWorker.get();
    connect(runWorker, &worker::WeightWorker::finished, this, [this, runWorker] { workerFinished(runWorker); });

    // 7. Typing on its own thread.
    if (m_keyBot)
        m_keyBot->start();

    // 8. What this run is.
    const config::ConfigHelper::Instrument *instrument = config.getInstrument();
    logEvent(text("RadezoZiDadFrame2.deviceLabel.text") + QLatin1Char(' ')
        + (instrument ? instrument->getLabel() : QString()));
    if (!config.getCustomRegEx().isEmpty())
        logEvent(QStringLiteral("Custom regEx: ") + config.getCustomRegEx());
    logEvent(text("keyboard.output.started.type") + QLatin1Char(' ') + config.getKeyboardType().toString());

    // 9. Reception.
    m_weightWorker->execute();
    return true;
}

void RunControl::stop()
{
    if (m_weightWorker)
        m_weightWorker->cancel(true);
    releaseOutputs();
}

void RunControl::releaseOutputs()
{
    if (m_keyBot) {
        m_keyBot->stop();
        m_keyBot.reset();
    }
    if (m_soundBot) {
        m_soundBot->close();
        m_soundBot.reset();
    }
    m_ignorer.reset();
}

void RunControl::workerFinished(worker::WeightWorker *worker)
{
    // Called from the worker's own signal: it is deleted once that returns.
    if (m_weightWorker.get() == worker)
        m_weightWorker.release()->deleteLater();
}

void RunControl::logEvent(const QString &message)
{
    m_log.logEvent(message);
}

void RunControl::logImportantEvent(const QString &message)
{
    m_log.logImportantEvent(message);
}

void RunControl::setConnectedInGUI(bool connected)
{
    m_running = connected;
    QMetaObject::invokeMethod(this, [this, connected] { showLook(connected); }, Qt::QueuedConnection);
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
            m_status.showText(text("switch.to.target.application"));
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
        MessageBoxes::showMessage(dialogParent(), text("internal.error"), text("error"));
    }
    Q_EMIT lookChanged(running);
}

void RunControl::showDataLine(worker::DataLine &line)
{
    // 1. Repeats lose their value.
    if (m_ignorer)
        m_ignorer->process(line);
    // 2. Sound for a value that will be typed.
    if (m_soundBot && line.hasValue())
        m_soundBot->beep();
    // 3. The line in the log, with the typed part marked.
    m_log.appendDataLine(line.getDateTime(), line.getRawData(), line.getProcessedData());
    // 4. Line count.
    m_status.showText(text("line.count") + QString::number(line.getCount()));
    // 5. Typing (an empty value types nothing).
    if (m_keyBot)
        m_keyBot->enqueue(line.getProcessedData());
}

} // namespace omvara
