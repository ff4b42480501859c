// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RunControl.h"

#include "omvara/config/Instrument.h"
#include "omvara/run/SharedOutputs.h"
#include "omvara/util/Bundle.h"
#include "omvara/window/ConnectionsPanel.h"
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
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <exception>

namespace omvara {

namespace {

QString text(const char *key)
{
    return util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

} // namespace

// One connection's run and what the window shows of it.
class RunControl::Connection : public run::RunObserver, public run::RunQuestions
{
public:
    Connection(RunControl &control, QString name)
        : control(control)
        , name(std::move(name))
    {
    }

    RunControl &control;
    QString name;
    // "[name] " before what the status line and the messages say of it when
    // there are several connections (the event log marks entries itself).
    QString logMark;
    std::unique_ptr<run::Run> run;
    RunPanel *panel = nullptr;
    bool running = false;
    bool typing = false; // the run has keyboard output
    qint64 lines = 0; // lines of the run received
    qint64 typed = 0; // values of the run typed
    QString heldNote; // the latest line was held: what it waits for
    bool cutWaiting = false; // typing waits after a cut value
    qint64 droppedForFocus = 0; // not typed while the program's window has had the focus
    QString lastValue;
    QString problem; // what the status line says of the run's end or keyboard
    QString waiting;
    QString outputProblems;
    bool shared = false; // the run types on the shared keyboard

    // run::RunObserver
    void logEvent(const QString &message) override { control.logEvent(*this, message, false); }
    void logImportantEvent(const QString &message) override { control.logEvent(*this, message, true); }
    void runStarted(const run::RunStart &start) override { control.runStarted(*this, start); }
    void lineReceived(const processing::DataLine &line) override { control.lineReceived(*this, line); }
    void lineSettled(const run::RunLine &line) override { control.lineSettled(*this, line); }
    void stateChanged(const run::RunState &state) override { control.stateChanged(*this, state); }
    // run::RunQuestions
    bool goOnWithoutKeyboard(const QString &reason) override
    {
        MessageBoxes::showMessage(control.dialogParent(),
            MessageText::own(text("error.initializing.keyboard.output")) + MessageText::outside(reason),
            text("error"));
        return true;
    }
    void capsLockOn() override
    {
        MessageBoxes::showMessage(control.dialogParent(), MessageText::own(text("please.turn.off.caps.lock")),
            text("warning"), MessageBoxes::Icon::Warning);
    }
    void soundFailed(const QString &reason) override
    {
        MessageBoxes::showMessage(control.dialogParent(),
            MessageText::own(text("error.while.initializing.sound.output")) + MessageText::outside(reason),
            text("sound.output.error"));
    }
    void deviceWarning(const QString &title, const QString &message) override
    {
        // The device check's own texts (worker bundle).
        MessageBoxes::showMessage(
            control.dialogParent(), MessageText::own(message), title, MessageBoxes::Icon::Warning);
    }
    void cannotStart(run::StartFailure failure, const QString &message) override
    {
        control.cannotStart(*this, failure, message);
    }
    bool goOnWithoutRecord(const QString &reason) override
    {
        return MessageBoxes::askOkCancel(control.dialogParent(),
                   MessageText::outside(reason) + MessageText::own(QStringLiteral("\n\n"))
                       + MessageText::own(text("record.start.without")),
                   text("record.file.title"), MessageBoxes::Icon::Warning)
            == MessageBoxes::Answer::Ok;
    }
};

RunControl::RunControl(RadezoZiDadFrame2 &frame, EventLog &log, StatusLine &status, QObject *parent)
    : QObject(parent)
    , m_frame(frame)
    , m_log(log)
    , m_status(status)
    , m_outputs(Outputs::defaults())
{
    m_frame.setStartStopAction([this] { startStopJButtonActionPerformed(); });
    m_frame.setRequestAction([this] { request(); });
    m_frame.setConnectionRunning([this](const QString &name) { return isRunning(name); });
    m_frame.setPortHeld([this](const QString &port) { return m_shared && m_shared->portHeld(port); });
    // One of the program's windows has the keyboard focus: the toolkit's own
    // active-window state, on X11 and Wayland alike.
    const auto focusFollows = [this](QWindow *focus) {
        m_ownFocus = focus != nullptr;
        for (auto &[name, c] : m_connections) {
            if (!focus)
                c->droppedForFocus = 0;
            if (c->panel)
                c->panel->setOwnFocus(focus != nullptr);
        }
        if (m_frame.runPanel)
            m_frame.runPanel->setOwnFocus(focus != nullptr);
        if (m_runningLook)
            showRunText();
    };
    focusFollows(QGuiApplication::focusWindow());
    connect(qApp, &QGuiApplication::focusWindowChanged, this, focusFollows);
    // What the log's styles and marks mean, over the log (screen readers get
    // it as plain text, see plainAccessibleTexts).
    if (m_frame.eventLogPanel)
        m_frame.eventLogPanel->setToolTip(m_log.legend());
    // Another connection in the tabs: its settings can be edited, and the
    // look, the status line and the chart follow it.
    connect(&m_frame, &RadezoZiDadFrame2::connectionSelecting, this, [this] { applyLook(false); });
    connect(&m_frame, &RadezoZiDadFrame2::connectionSelected, this, [this] {
        Connection *c = selected();
        applyLook(c && c->running);
        if (c)
            showStatus(*c);
        else {
            m_status.setText(StatusLine::Slot::Problem, {});
            m_status.setText(StatusLine::Slot::Waiting, {});
            m_status.setText(StatusLine::Slot::Output, {});
        }
        for (auto &[name, other] : m_connections)
            if (other->panel)
                other->panel->setChartShown(other.get() == c);
    });
    connect(&m_frame, &RadezoZiDadFrame2::connectionsChanged, this, &RunControl::connectionsChanged);
    if (m_frame.connectionsPanel) {
        connect(m_frame.connectionsPanel, &ConnectionsPanel::startAllRequested, this, &RunControl::startAll);
        connect(m_frame.connectionsPanel, &ConnectionsPanel::stopAllRequested, this, &RunControl::stopAll);
    }
}

RunControl::~RunControl()
{
    m_frame.setStartStopAction({});
    m_frame.setRequestAction({});
    m_frame.setConnectionRunning({});
    m_frame.setPortHeld({});
    // The runs' threads end (and the ports close) before the log they report to goes away.
    for (auto &[name, c] : m_connections)
        c->run.reset();
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
        QStringLiteral("connection.state.stopped"),
        QStringLiteral("connection.state.starting"),
        QStringLiteral("connection.state.running"),
        QStringLiteral("connection.state.waiting"),
        QStringLiteral("connection.state.ended"),
        QStringLiteral("connection.started.alone"),
    }
    + RunPanel::textKeys();
}

QWidget *RunControl::dialogParent() const
{
    return &m_frame;
}

RunControl::Connection *RunControl::selected() const
{
    const auto it = m_connections.find(m_frame.getConfig().getConnectionName());
    return it == m_connections.end() ? nullptr : it->second.get();
}

RunControl::Connection &RunControl::connection(const QString &name)
{
    std::unique_ptr<Connection> &c = m_connections[name];
    if (!c)
        c = std::make_unique<Connection>(*this, name);
    return *c;
}

bool RunControl::isRunning() const
{
    const Connection *c = selected();
    return c && c->running;
}

bool RunControl::isRunning(const QString &name) const
{
    const auto it = m_connections.find(name);
    return it != m_connections.end()
        && (it->second->running || (it->second->run && !it->second->run->state().ended()));
}

bool RunControl::anyRunning() const
{
    return std::any_of(
        m_connections.begin(), m_connections.end(), [](const auto &entry) { return entry.second->running; });
}

bool RunControl::hasWorker() const
{
    const Connection *c = selected();
    return c && c->run && !c->run->state().ended();
}

run::Run *RunControl::currentRun() const
{
    const Connection *c = selected();
    return c ? c->run.get() : nullptr;
}

run::Run *RunControl::runOf(const QString &name) const
{
    const auto it = m_connections.find(name);
    return it == m_connections.end() ? nullptr : it->second->run.get();
}

outputs::Keybot *RunControl::keyBot() const
{
    const run::Run *r = currentRun();
    return r ? r->keybot() : nullptr;
}

void RunControl::startStopJButtonActionPerformed()
{
    // Stop also ends a start still under way (a network port being connected).
    const Connection *c = selected();
    if (c && (c->running || (c->run && c->run->state().phase == run::RunState::Phase::Starting)))
        stop();
    else
        start();
}

bool RunControl::start()
{
    // The controls into the configuration; the run gets its own copy.
    m_frame.updateConfigFromTabs();
    return start(m_frame.getConfig().getConnectionName());
}

void RunControl::startAll()
{
    m_frame.updateConfigFromTabs();
    const QStringList names = m_frame.getConnections().names();
    for (const QString &name : names)
        if (!isRunning(name))
            start(name);
}

void RunControl::stopAll()
{
    for (auto &[name, c] : m_connections)
        if (c->run)
            c->run->stop();
}

bool RunControl::start(const QString &name)
{
    Connection &c = connection(name);
    if (c.run && !c.run->state().ended()) // the previous run has not ended yet
        return false;
    if (c.run) {
        // What the previous run left: the keyboard may still be typing the
        // value it had begun. The new run waits until that has been typed.
        c.run->waitForOutputs();
        c.run.reset();
    }
    const bool isSelected = name == m_frame.getConfig().getConnectionName();
    // The port list offers the ports used last (typed network addresses among them).
    if (isSelected)
        m_frame.getConfig().rememberPort(m_frame.getConfig().getPort());
    const config::Connections &all = m_frame.getConnections();
    const qsizetype index = all.indexOf(name);
    if (index < 0)
        return false;
    const bool several = all.size() > 1;
    // Several connections type in turns on one keyboard: a run that was
    // started alone has a keyboard of its own, and the others would type
    // into the middle of its values.
    if (several) {
        for (const auto &[otherName, other] : m_connections) {
            if (other.get() == &c || other->shared || !other->run || other->run->state().ended())
                continue;
            // Already asked (Start all): this one joins the restart.
            if (const auto pending = m_startAfter.find(otherName); pending != m_startAfter.end()) {
                if (!pending->second.contains(name))
                    pending->second.append(name);
                return false;
            }
            // It is started again with this one once it has ended.
            if (MessageBoxes::askOkCancel(dialogParent(),
                    MessageText::own(text("connection.started.alone"), otherName), text("warning"))
                != MessageBoxes::Answer::Ok)
                return false;
            const QString alone = otherName;
            m_startAfter[alone] = { name };
            connect(
                other->run.get(), &run::Run::ended, this,
                [this, alone] {
                    // Not within the signal of the run that start() replaces.
                    QTimer::singleShot(0, this, [this, alone] {
                        const QStringList names = m_startAfter[alone];
                        m_startAfter.erase(alone);
                        start(alone);
                        for (const QString &n : names)
                            start(n);
                    });
                },
                Qt::SingleShotConnection);
            other->run->stop();
            return false;
        }
        if (!m_shared)
            m_shared = std::make_shared<run::SharedOutputs>(m_sharedInjector);
    }
    config::Config config = all.at(index).copyConfig();
    // One hotkey can ask only one of the running connections for readings.
    std::vector<const config::Config *> together { &config };
    for (const auto &[otherName, other] : m_connections)
        if (other.get() != &c && other->run && !other->run->state().ended())
            together.push_back(&other->run->config());
    if (const QString clash = config::hotkeyClash(together); !clash.isEmpty()) {
        MessageBoxes::showMessage(dialogParent(), MessageText::outside(clash), text("warning"));
        return false;
    }
    if (isSelected) {
        m_status.setText(StatusLine::Slot::Problem, {});
        m_status.setText(StatusLine::Slot::Waiting, {});
        m_status.setText(StatusLine::Slot::Output, {});
    }
    c.problem.clear();
    c.waiting.clear();
    c.outputProblems.clear();
    c.lines = 0;
    c.typed = 0;
    c.heldNote.clear();
    c.cutWaiting = false;
    c.droppedForFocus = 0;
    c.lastValue.clear();
    c.shared = several;
    c.logMark = several ? QStringLiteral("[%1] ").arg(name) : QString();
    m_log.setConnectionsMarked(several);
    if (!c.panel) {
        // The window's own panel for the first; one more beside it for each other.
        const bool taken = std::any_of(m_connections.begin(), m_connections.end(),
            [&](const auto &entry) { return entry.second->panel == m_frame.runPanel; });
        c.panel = taken ? new RunPanel(m_frame.runPanel->parentWidget()) : m_frame.runPanel;
        if (taken) {
            c.panel->hide();
            m_frame.addRunPanel(c.panel);
        }
        c.panel->setOwnFocus(m_ownFocus);
        connect(c.panel, &RunPanel::resumeRequested, this, [this, name] {
            if (run::Run *r = runOf(name))
                r->resumeTyping();
        });
    }
    c.panel->setChartShown(isSelected);
    run::Run::Options options;
    options.makers = m_outputs;
    options.brokerPassword = m_frame.outputPanel ? m_frame.outputPanel->brokerPassword() : QString();
    options.ownWindowFocused = [this] { return m_ownFocus.load(); };
    if (several)
        options.shared = m_shared;
    c.run = std::make_unique<run::Run>(std::move(config), std::move(options),
        static_cast<run::RunObserver &>(c), static_cast<run::RunQuestions &>(c));
    showConnectionState(c);
    return c.run->start();
}

void RunControl::stop()
{
    if (run::Run *r = currentRun())
        r->stop();
}

void RunControl::resumeTyping()
{
    if (run::Run *r = currentRun())
        r->resumeTyping();
}

void RunControl::request()
{
    if (run::Run *r = currentRun())
        r->request(run::RequestOrigin::Window);
}

void RunControl::connectionsChanged()
{
    // Connections renamed or removed (never while they run) leave nothing behind.
    const QStringList names = m_frame.getConnections().names();
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        Connection &c = *it->second;
        if (names.contains(it->first) || (c.run && !c.run->state().ended())) {
            ++it;
            continue;
        }
        if (c.run)
            c.run->waitForOutputs();
        c.run.reset();
        if (c.panel && c.panel != m_frame.runPanel)
            c.panel->deleteLater();
        else if (c.panel)
            c.panel->hide();
        it = m_connections.erase(it);
    }
    for (auto &[name, c] : m_connections)
        showConnectionState(*c);
}

void RunControl::showConnectionState(Connection &c)
{
    if (!m_frame.connectionsPanel)
        return;
    QString state = text("connection.state.stopped");
    if (c.run) {
        const run::RunState &s = c.run->state();
        if (s.ended() && (s.end == run::RunState::End::DeviceLost || s.end == run::RunState::End::Failed))
            state = text("connection.state.ended").replace(QStringLiteral("{0}"), s.reason);
        else if (s.phase == run::RunState::Phase::WaitingForDevice)
            state = text("connection.state.waiting");
        else if (s.phase == run::RunState::Phase::Starting)
            state = text("connection.state.starting");
        else if (c.running)
            state = text("connection.state.running");
    }
    m_frame.connectionsPanel->showState(c.name, state, c.lastValue);
    m_frame.connectionsPanel->setRunning(c.name, c.running || (c.run && !c.run->state().ended()));
}

void RunControl::cannotStart(Connection &c, run::StartFailure failure, const QString &message)
{
    // First what happened and what to do, in plain words; the exact failure follows.
    const QString port = c.run ? c.run->config().getPort() : QString();
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
    MessageText shown = plain ? MessageText::own(text(plain), port) + MessageText::own(QStringLiteral("\n\n"))
            + MessageText::outside(message)
                              : MessageText::outside(message);
    if (!c.logMark.isEmpty())
        shown = MessageText::outside(c.logMark) + shown;
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

void RunControl::runStarted(Connection &c, const run::RunStart &start)
{
    const config::Config &config = start.config;
    const config::ConfigHelper::Instrument *instrument = config.getInstrument();
    c.logEvent(text("RadezoZiDadFrame2.deviceLabel.text") + QLatin1Char(' ')
        + (instrument ? instrument->getLabel() : QString()));
    if (!config.getCustomRegEx().isEmpty())
        c.logEvent(QStringLiteral("Custom regEx: ") + config.getCustomRegEx());
    c.typing = start.typing;
    if (start.typing) {
        c.logEvent(text("keyboard.output.started.type") + QLatin1Char(' ')
            + config.getKeyboardType().toString() + QStringLiteral(" (desktop layout ") + start.keyboardLayout
            + QLatin1Char(')'));
        if (!start.keyboardChoice.isEmpty())
            c.logEvent(QStringLiteral("Keyboard output: ") + start.keyboardChoice);
        if (!start.keyboardWarning.isEmpty())
            c.logImportantEvent(start.keyboardWarning);
    } else
        c.logImportantEvent(text("keyboard.output.off") + start.keyboardProblem);
    const bool numeric
        = !instrument || &instrument->getInstrumentType() != &config::ConfigHelper::InstrumentType::TEXT;
    // With several connections each panel says whose run it shows.
    c.panel->begin(config.getPort(), instrument ? instrument->getLabel() : QString(), start.keyboardBackend,
        numeric, c.logMark.isEmpty() ? QString() : c.name);
    if (c.run)
        c.panel->showState(c.run->state());
}

void RunControl::logEvent(Connection &c, const QString &message, bool important)
{
    if (important)
        m_log.logImportantEvent(message, c.name);
    else
        m_log.logEvent(message, c.name);
}

void RunControl::stateChanged(Connection &c, const run::RunState &state)
{
    // The look follows on the event thread's next turn: a run that is
    // started and at once ends (its start failed) changes nothing.
    // After Stop the window stays in its running look while the keyboard
    // finishes the value it types: a second Stop then cuts that short.
    using Status = run::RunState::Output::Status;
    const run::RunState::Output *keyboard = state.output(run::OutputKind::Keyboard);
    const bool finishing = keyboard && keyboard->status == Status::Finishing;
    c.running = state.running() || finishing;
    const bool isSelected = &c == selected();
    if (finishing && state.ended() && isSelected)
        m_status.showText(text("keyboard.finishing"));

    // The status line: a run that ended by itself, or a keyboard that
    // failed, first; then waiting for the device; then the other outputs.
    QString problem;
    if (state.ended()
        && (state.end == run::RunState::End::DeviceLost || state.end == run::RunState::End::Failed)) {
        problem = c.logMark
            + text("run.ended.at")
                  .replace(QStringLiteral("{0}"), state.since.toString(QStringLiteral("HH:mm:ss")))
                  .replace(QStringLiteral("{1}"), state.reason);
    } else if (keyboard && keyboard->status == Status::Failed && !state.ended()) {
        problem = text("keyboard.failed.status").replace(QStringLiteral("{0}"), keyboard->detail);
    }
    const bool newlyEnded = !problem.isEmpty() && state.ended() && c.problem != problem;
    if (state.end != run::RunState::End::NotStarted)
        c.problem = problem;
    // Waiting for the device, or for the desktop's permission to type.
    c.waiting = state.phase == run::RunState::Phase::WaitingForDevice
        ? text("waiting.for.device")
              .replace(QStringLiteral("{0}"), c.run ? c.run->config().getPort() : QString())
        : state.phase == run::RunState::Phase::Starting ? state.reason
                                                        : QString();
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
    c.outputProblems = outputProblems.join(QStringLiteral("; "));
    if (isSelected)
        showStatus(c);
    if (c.panel)
        c.panel->showState(state);
    const bool cutWaiting = state.cut.has_value() && !state.ended();
    if (cutWaiting != c.cutWaiting) {
        c.cutWaiting = cutWaiting;
        if (m_runningLook && isSelected)
            showRunText();
    }
    showConnectionState(c);
    if (newlyEnded)
        Q_EMIT runEndedByItself(problem);
    QMetaObject::invokeMethod(
        this,
        [this, name = c.name] {
            const auto it = m_connections.find(name);
            if (it == m_connections.end())
                return;
            Connection &now = *it->second;
            if (now.panel)
                now.panel->setVisible(now.running);
            m_frame.showRunPanels(anyRunning());
            if (&now == selected())
                showLook(now.running);
            showConnectionState(now);
        },
        Qt::QueuedConnection);
}

void RunControl::showStatus(Connection &c)
{
    m_status.setText(StatusLine::Slot::Problem, c.problem);
    m_status.setText(StatusLine::Slot::Waiting, c.waiting);
    m_status.setText(StatusLine::Slot::Output, c.outputProblems);
}

void RunControl::showLook(bool running)
{
    // The look follows the latest state; a stale request (running, then at
    // once stopped because the start failed) changes nothing twice.
    if (running != isRunning())
        running = isRunning();
    if (running == m_runningLook)
        return;
    applyLook(running);
}

void RunControl::applyLook(bool running)
{
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
            // The Request control when there is a command to send.
            const run::Run *r = currentRun();
            m_frame.requestButton->setVisible(r && !r->requestCommand().isEmpty());
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
        }
        // The running panels: every running connection's.
        for (auto &[name, c] : m_connections)
            if (c->panel && c->panel != m_frame.runPanel)
                c->panel->setVisible(c->running);
        const Connection *own = nullptr;
        for (auto &[name, c] : m_connections)
            if (c->panel == m_frame.runPanel)
                own = c.get();
        m_frame.runPanel->setVisible(own && own->running);
        m_frame.showRunPanels(anyRunning());
        m_runningLook = running;
    } catch (const std::exception &) {
        MessageBoxes::showMessage(dialogParent(), MessageText::own(text("internal.error")), text("error"));
    }
    Q_EMIT lookChanged(running);
}

void RunControl::lineReceived(Connection &c, const processing::DataLine &line)
{
    // The line in the log; what became of its value is marked when known.
    m_log.appendDataLine(
        line.getDateTime(), line.getRawData(), line.getProcessedData(), line.getCount(), c.name);
    c.lines = line.getCount();
    c.panel->lineReceived(line.getDateTime(), line.getProcessedData());
    if (m_runningLook && &c == selected())
        showRunText();
}

void RunControl::lineSettled(Connection &c, const run::RunLine &line)
{
    switch (line.status) {
    case run::LineStatus::Typed:
        m_log.markDataLine(line.count, valueMark(ValueFate::Typed, line.value), {}, c.name);
        ++c.typed;
        c.heldNote.clear();
        c.droppedForFocus = 0;
        c.lastValue = line.value;
        c.panel->valueTyped(line.value);
        showConnectionState(c);
        Q_EMIT valueTyped(line.value);
        break;
    case run::LineStatus::NotTyped:
        m_log.markDataLine(line.count, valueMark(ValueFate::NotTyped, line.value, line.note), {}, c.name);
        c.panel->valueNotTyped(m_ownFocus);
        if (m_ownFocus)
            ++c.droppedForFocus;
        break;
    case run::LineStatus::Cut:
        m_log.markDataLine(line.count, valueMark(ValueFate::Cut, line.value, line.note), {}, c.name);
        c.panel->valueCut();
        break;
    case run::LineStatus::Incomplete:
        m_log.markDataLine(line.count, valueMark(ValueFate::Incomplete, line.value, line.note), {}, c.name);
        break;
    case run::LineStatus::Held:
        m_log.markDataLine(line.count, valueMark(ValueFate::Held, line.value, line.note), {}, c.name);
        c.heldNote = line.note;
        c.panel->valueHeld(line.note);
        break;
    case run::LineStatus::NoValue:
        m_log.markDataLine(line.count, {}, LogStyle::Unknown, c.name);
        break;
    default:
        break;
    }
    if (m_runningLook && &c == selected())
        showRunText();
}

void RunControl::showRunText()
{
    const Connection *c = selected();
    if (!c)
        return;
    // Until a value has been typed somewhere else, the hint to switch there stays.
    if (!c->typing)
        m_status.showText(text("running.not.typing"));
    else if (c->cutWaiting)
        m_status.showText(text("status.cut"));
    else if (m_ownFocus && c->droppedForFocus > 0)
        m_status.showText(
            text("status.own.focus").replace(QStringLiteral("{0}"), QString::number(c->droppedForFocus)));
    else if (!c->heldNote.isEmpty())
        m_status.showText(c->heldNote);
    else if (c->typed == 0)
        m_status.showText(text("switch.to.target.application"));
    else
        m_status.showText(text("line.count") + QString::number(c->lines));
}

} // namespace omvara
