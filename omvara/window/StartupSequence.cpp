// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/StartupSequence.h"

#include "omvara/config/ConfigHelper.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Connections.h"
#include "omvara/config/Instrument.h"
#include "omvara/modes/SettingsOverrides.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/update/ReadRemoteUpdate.h"
#include "omvara/update/UpdateWorker.h"
#include "omvara/util/Bundle.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/window/CommandLine.h"
#include "omvara/window/EventLog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/PortDoctorDialog.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/ProgramExit.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RequestGroup.h"
#include "omvara/window/RunPanel.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/StatusLine.h"
#include "omvara/window/TraySupport.h"
#include "omvara/window/UserState.h"
#include "omvara/window/WindowPolish.h"
#include "portlink/FriendlyPortUtil.h"
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/PortlinkRuntime.h"
#include "portlink/SystemProperties.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSessionManager>
#include <QTextStream>

#include <cstdio>
#include <exception>

namespace omvara {

namespace {

const QString WindowBundle = QStringLiteral("omvara.Omvara");

QString text(const char *key)
{
    return util::Bundle::get(WindowBundle).getString(QString::fromLatin1(key));
}

QString failureText(const std::exception &e)
{
    return QString::fromUtf8(e.what());
}

// Shown when the installation is damaged: written here, not read from the
// bundles that may be the damaged part.
const QString DamagedText = QStringLiteral("Program files seem to be damaged or missing!\n"
                                           "Try downloading and reinstalling the program.");
const QString DamagedTitle = QStringLiteral("Fatal error");

} // namespace

StartupSequence::StartupSequence(QStringList arguments, QObject *parent)
    : StartupSequence(std::move(arguments), Seams(), parent)
{
}

StartupSequence::StartupSequence(QStringList arguments, Seams seams, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_portArgument(CommandLine::portArgument(m_arguments))
    , m_seams(std::move(seams))
{
}

StartupSequence::~StartupSequence()
{
    m_tray.reset();
    // The run first: its threads report into the event log until they have
    // ended, and the frame would delete the log before the run control.
    delete m_runControl;
    if (m_frame)
        m_frame->removeEventFilter(this);
    delete m_frame; // takes the log and status line with it
}

QStringList StartupSequence::textKeys()
{
    return {
        QStringLiteral("error"),
        QStringLiteral("fatal.error"),
        QStringLiteral("no.rs.232.port.found.on.your.system.program.will.now.exit"),
        QStringLiteral("error.listing.available.ports"),
        QStringLiteral("library.plkwin.not.found.or.not.matching.your.system"),
        QStringLiteral("program.will.now.exit"),
        QStringLiteral("error.while.loading.settings"),
        QStringLiteral("invalid.settings.replaced.by.defaults"),
        QStringLiteral("access.error.while.loading.settings"),
        QStringLiteral("previously.used.port.0.no.longer.available.naborting.auto.start"),
        QStringLiteral("access.error.while.saving.settings"),
        QStringLiteral("minimized.to.system.tray"),
        QStringLiteral("checking.for.update"),
        QStringLiteral("update.check.failed"),
        QStringLiteral("update.available"),
        QStringLiteral("close.running.title"),
        QStringLiteral("close.running.question"),
        QStringLiteral("close.keep.in.tray"),
        QStringLiteral("close.stop.and.quit"),
        QStringLiteral("close.cancel"),
        QStringLiteral("close.do.not.ask.again"),
        QStringLiteral("tray.show"),
        QStringLiteral("tray.hide"),
        QStringLiteral("tray.start"),
        QStringLiteral("tray.stop"),
        QStringLiteral("tray.quit"),
        QStringLiteral("tray.tooltip.stopped"),
        QStringLiteral("tray.tooltip.running"),
        QStringLiteral("tray.tooltip.last.value"),
    };
}

QList<std::pair<QString, QStringList>> StartupSequence::requiredResources()
{
    QStringList window = texts::WindowTexts::requiredKeys() + RunControl::textKeys() + textKeys()
        + RequestGroup::textKeys() + ProcessingPanel::textKeys() + PortDoctorDialog::textKeys();
    window.removeDuplicates();
    QStringList settings
        = config::ConfigHelper::requiredKeys() + config::ConfigHelper::Instrument::bundleKeys();
    settings.removeDuplicates();
    QStringList workers = texts::WorkerTexts::keys() + outputs::Keybot::textKeys();
    workers.removeDuplicates();
    return {
        { WindowBundle, window },
        { QStringLiteral("omvara.config.ConfigBundle"), settings },
        { QString::fromLatin1(texts::WorkerTexts::BundleName), workers },
    };
}

QStringList StartupSequence::missingResources()
{
    QStringList missing;
    for (const auto &[bundleName, keys] : requiredResources()) {
        try {
            for (const QString &key : util::Bundle::get(bundleName).missingKeys(keys))
                missing.append(bundleName + QStringLiteral(": ") + key);
        } catch (const util::MissingResourceError &) {
            missing.append(bundleName);
        }
    }
    return missing;
}

void StartupSequence::fatal(const MessageText &message, const QString &title, int status)
{
    MessageBoxes::showMessage(m_frame, message, title);
    ProgramExit::exitProgram(status);
}

bool StartupSequence::run()
{
    // 1. The configuration with its defaults comes with the window.
    m_frame = new RadezoZiDadFrame2();
    m_userState = std::make_unique<UserState>(m_seams.userStateFile);
    m_frame->setWindowTitle(QStringLiteral("Brindlecote Omvara"));
    if (m_seams.store)
        m_frame->setConfigStore(std::move(m_seams.store));

    // 2.-3. Every text the program shows must be there.
    if (!checkResourceBundles())
        return false;
    // 4. Ports.
    if (!preparePorts())
        return false;
    // 5.-7. Settings.
    loadSettings();
    // 8. The window's controls, event log, status line and run control.
    buildWindow();
    // Settings kept although their meaning may surprise, once in the log.
    for (const QString &note : m_frame->getConfigStore().loadNotes())
        m_eventLog->logImportantEvent(QStringLiteral("Note on a setting: ") + note);

    // 9. Now and then, look for a newer version.
    if (m_frame->getConfig().getCheckForUpdates()) {
        const int draw = m_seams.drawUpdateCheck ? m_seams.drawUpdateCheck()
                                                 : static_cast<int>(QRandomGenerator::global()->bounded(4));
        if (draw == 0) {
            if (m_seams.startUpdateCheck) {
                m_seams.startUpdateCheck(*this);
            } else {
                auto *worker
                    = new update::UpdateWorker(m_statusLine, update::ReadRemoteUpdate::versionFileUrl(),
                        util::ProcessProperties::get(QStringLiteral("VERSION")),
                        QLocale().name().section(QLatin1Char('_'), 0, 0), m_frame);
                connect(worker, &update::UpdateWorker::finished, worker, &QObject::deleteLater);
                worker->execute();
            }
        }
    }

    // 10. Icons, then the window.
    for (const QIcon &icon : windowIcons())
        for (const QSize &size : icon.availableSizes())
            m_icons.addPixmap(icon.pixmap(size));
    m_frame->setWindowIcon(m_icons);
    // The size (and, where the platform lets a program place its windows,
    // the place) the user gave the window last time.
    const QByteArray geometry = m_userState->windowGeometry();
    if (!geometry.isEmpty()) {
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
            const QSize size = m_frame->size();
            m_frame->restoreGeometry(geometry);
            if (m_frame->size().isEmpty())
                m_frame->resize(size);
        } else {
            m_frame->restoreGeometry(geometry);
        }
    }
    if (m_seams.showWindow)
        m_frame->show();

    // 11. Tooltips stay ten seconds and wrap at a readable width; labels are
    //     greyed with their controls.
    for (QWidget *widget : m_frame->findChildren<QWidget *>())
        widget->setToolTipDuration(10000);
    //     For the keyboard and screen readers: Tab follows each tab's layout,
    //     and every control says in plain text what it is.
    plainAccessibleTexts(m_frame);
    for (int i = 0; i < m_frame->tabbedPane->count(); ++i) {
        orderTabsByLayout(m_frame->tabbedPane->widget(i));
        plainAccessibleTexts(m_frame->tabbedPane->widget(i));
    }
    wrapToolTips(m_frame);
    greyLabelsWithTheirControls(m_frame);

    // 12. The settings hold exactly what the controls show.
    m_frame->updateConfigFromTabs();

    // 13. Tray.
    if (m_frame->getConfig().getMinimizeToTray())
        addMinimizeToTraySupport();

    // 14. Automatic start.
    autoStart();
    return true;
}

bool StartupSequence::checkResourceBundles()
{
    const QStringList missing = missingResources();
    if (missing.isEmpty())
        return true;
    QTextStream(stderr) << "Missing resources: " << missing.join(QStringLiteral(", ")) << Qt::endl;
    fatal(MessageText::own(DamagedText), DamagedTitle, 4);
    return false;
}

bool StartupSequence::preparePorts()
{
    if (!m_portArgument.isEmpty()) {
        // The named port is the only one, whether the system lists it or not;
        // no display names of an earlier listing may stand in for it.
        portlink::FriendlyPortUtil::reset();
        m_frame->setPorts({ m_portArgument });
        return true;
    }
    const auto libraryMissing = [this](int status) {
        fatal(MessageText::own(text("library.plkwin.not.found.or.not.matching.your.system"))
                + MessageText::outside(QStringLiteral(" (") + portlink::SystemProperties::osName()
                    + QLatin1Char(' ') + portlink::SystemProperties::osArch() + QLatin1Char(')'))
                + MessageText::own(text("program.will.now.exit")),
            text("fatal.error"), status);
    };
    if (portlink::PortlinkRuntime::libraryState() == portlink::NativeLibraryState::PlatformNotSupported) {
        libraryMissing(portlink::kExitStatusPlatformNotSupported);
        return false;
    }
    QStringList ports;
    try {
        ports = portlink::PortRegistry::getPortList();
        if (portlink::PortlinkRuntime::libraryState() == portlink::NativeLibraryState::LoadFailed) {
            libraryMissing(2);
            return false;
        }
        try {
            portlink::FriendlyPortUtil::update();
        } catch (const std::exception &) {
            // No driver data on this system: the bare names are shown.
        }
    } catch (const portlink::NativeLibraryError &) {
        libraryMissing(2);
        return false;
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(m_frame,
            MessageText::own(text("error.listing.available.ports")) + MessageText::outside(failureText(e)),
            text("error"));
    }
    if (ports.isEmpty())
        MessageBoxes::showMessage(m_frame,
            MessageText::own(text("no.rs.232.port.found.on.your.system.program.will.now.exit")),
            text("error"));
    m_frame->setPorts(ports);
    return true;
}

void StartupSequence::loadSettings()
{
    // Nothing stored yet: the first start of this program for this store.
    try {
        m_firstStart = m_frame->getConfigStore().node().keys().isEmpty();
    } catch (const std::exception &) {
        m_firstStart = false; // the load below tells what is wrong with the store
    }
    // --connection and --set: the stored settings with those of this run.
    const QList<QPair<QString, QString>> named = CommandLine::connections(m_arguments);
    const QStringList sets = CommandLine::settings(m_arguments);
    const bool ofThisRun = (!named.isEmpty() || !sets.isEmpty()) && loadSettingsOfThisRun(named, sets);
    try {
        if (!ofThisRun && !m_frame->loadConfig()) {
            // Which settings, what was stored and what they are now.
            const QString replaced
                = config::ConfigStore::describe(m_frame->getConfigStore().replacedSettings());
            MessageText shown = MessageText::own(text("invalid.settings.replaced.by.defaults"));
            if (!replaced.isEmpty())
                shown += MessageText::own(QStringLiteral("\n\n")) + MessageText::outside(replaced);
            MessageBoxes::showMessage(m_frame, shown, text("error.while.loading.settings"));
        }
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(m_frame,
            MessageText::own(text("access.error.while.loading.settings"))
                + MessageText::outside(failureText(e)),
            text("error.while.loading.settings"));
    }
    // 6. The command-line port is the port of this run.
    if (!m_portArgument.isEmpty())
        m_frame->getConfig().setPort(m_portArgument);
    // 7. Reference for saving only what changed.
    m_frame->setOldConfig(m_frame->getConfig().copyConfig());
}

bool StartupSequence::loadSettingsOfThisRun(
    const QList<QPair<QString, QString>> &named, const QStringList &sets)
{
    modes::SettingsOverrides overrides;
    for (const QString &assignment : sets)
        overrides.add(assignment, nullptr); // checked with the command line
    QStringList names;
    for (const auto &[name, port] : named)
        names << name;
    config::Connections loaded;
    QString problem, replaced;
    QStringList notes;
    bool valid = true;
    try {
        valid = overrides.loadConnections(
            loaded, &m_frame->getConfigStore(), m_frame->getPorts(), names, &problem, &replaced, &notes);
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(m_frame,
            MessageText::own(text("access.error.while.loading.settings"))
                + MessageText::outside(failureText(e)),
            text("error.while.loading.settings"));
        return false;
    }
    if (!problem.isEmpty()) {
        // A --set for a connection that is neither stored nor named: the
        // stored settings alone.
        MessageBoxes::showMessage(
            m_frame, MessageText::outside(problem), text("error.while.loading.settings"));
        return false;
    }
    if (!valid) {
        MessageText shown = MessageText::own(text("invalid.settings.replaced.by.defaults"));
        if (!replaced.isEmpty())
            shown += MessageText::own(QStringLiteral("\n\n")) + MessageText::outside(replaced);
        MessageBoxes::showMessage(m_frame, shown, text("error.while.loading.settings"));
    }
    for (const auto &[name, port] : named)
        if (config::Config *c = loaded.find(name))
            c->setPort(port);
    // What --set gave holds for this run: saving keeps the stored values.
    if (!overrides.isEmpty()) {
        config::Connections stored;
        try {
            modes::SettingsOverrides().loadConnections(
                stored, &m_frame->getConfigStore(), m_frame->getPorts(), names, &problem);
            m_frame->setRunOnlySettings(loaded.copy(), std::move(stored), overrides.replacedKeys());
        } catch (const std::exception &) {
            // Read a moment ago: nothing to keep apart then.
        }
    }
    m_frame->setConnections(std::move(loaded));
    // The first connection named on the command line is shown.
    if (!named.isEmpty())
        m_frame->selectConnection(m_frame->getConnections().indexOf(named.first().first));
    return true;
}

void StartupSequence::buildWindow()
{
    m_frame->initComponents();
    m_frame->showFirstStartHint(m_firstStart);

    m_eventLogPane = new QPlainTextEdit();
    m_eventLogPane->setObjectName(QStringLiteral("eventLog"));
    m_eventLogPane->setReadOnly(true);
    // Long entries (a failure's whole text) wrap: nothing needs sideways scrolling.
    m_eventLogPane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    courier.setFamilies(
        { QStringLiteral("Courier New"), QFontDatabase::systemFont(QFontDatabase::FixedFont).family() });
    m_eventLogPane->setFont(courier);
    m_frame->setEventLogWidget(m_eventLogPane);
    m_eventLogPane->setAccessibleName(texts::WindowTexts::text("RadezoZiDadFrame2.eventLogPanel.tab.title"));

    m_eventLog = new EventLog(m_eventLogPane->document(), m_eventLogPane, m_frame);
    m_statusLine = new StatusLine(m_frame->statusJLabel, m_frame);
    m_runControl = new RunControl(*m_frame, *m_eventLog, *m_statusLine, m_frame);
    if (m_seams.outputs)
        m_runControl->setOutputs(*m_seams.outputs);
    if (m_seams.sharedInjector)
        m_runControl->setSharedInjector(m_seams.sharedInjector);
    // A run that ends by itself while the window is in the tray is told there.
    connect(m_runControl, &RunControl::runEndedByItself, this, [this](const QString &message) {
        if (m_tray && m_tray->icon().isVisible())
            m_tray->icon().showMessage(QStringLiteral("Omvara"), message);
    });

    // The first start's hint has done its work once a run is under way.
    connect(m_runControl, &RunControl::lookChanged, this, [this](bool running) {
        if (running && m_frame)
            m_frame->showFirstStartHint(false);
        updateTray();
    });
    connect(m_runControl, &RunControl::valueTyped, this, [this] { updateTray(); });

    connectSettingsPanel();
    // The tabs of another connection are new controls: polished as at the start.
    connect(m_frame, &RadezoZiDadFrame2::connectionSelected, this, [this] {
        for (QWidget *page :
            { static_cast<QWidget *>(m_frame->inputPanel), static_cast<QWidget *>(m_frame->processingPanel),
                static_cast<QWidget *>(m_frame->outputPanel),
                static_cast<QWidget *>(m_frame->settingsPanel) }) {
            for (QWidget *widget : page->findChildren<QWidget *>())
                widget->setToolTipDuration(10000);
            plainAccessibleTexts(page);
            orderTabsByLayout(page);
            wrapToolTips(page);
            greyLabelsWithTheirControls(page);
        }
        connectSettingsPanel();
    });
    // The event log shows all connections or one.
    m_eventLogFilter = new QComboBox(m_frame->eventLogPanel);
    m_eventLogFilter->setObjectName(QStringLiteral("eventLogFilter"));
    m_eventLogFilter->setAccessibleName(text("eventLogFilterLabel.text"));
    static_cast<QBoxLayout *>(m_frame->eventLogPanel->layout())->insertWidget(0, m_eventLogFilter);
    connect(m_eventLogFilter, &QComboBox::activated, this, [this](int index) {
        m_eventLog->showOnly(index <= 0 ? QString() : m_eventLogFilter->itemText(index));
    });
    const auto showFilter = [this] {
        const QStringList names = m_frame->getConnections().names();
        const QString shown = m_eventLog->shownConnection();
        m_eventLogFilter->clear();
        m_eventLogFilter->addItem(text("eventLogFilter.all"));
        m_eventLogFilter->addItems(names);
        const int index = names.contains(shown) ? int(names.indexOf(shown)) + 1 : 0;
        m_eventLogFilter->setCurrentIndex(index);
        if (index == 0 && !shown.isEmpty())
            m_eventLog->showOnly({});
        m_eventLogFilter->setVisible(names.size() > 1);
        // Several connections: each entry says whose it is.
        if (names.size() > 1)
            m_eventLog->setConnectionsMarked(true);
    };
    showFilter();
    connect(m_frame, &RadezoZiDadFrame2::connectionsChanged, this, showFilter);

    m_frame->setRemoveMinimizeToTraySupport([this] { removeMinimizeToTraySupport(); });
    m_frame->installEventFilter(this);
    // At logout the session ends the program: settings saved, run ended, no question.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { endSession(); });
}

void StartupSequence::connectSettingsPanel()
{
    // "Do not ask again" can be undone on the Settings tab.
    SettingsPanel *settings = m_frame->settingsPanel;
    settings->setCloseAnswerKept(m_userState->closeAnswer() != UserState::CloseAnswer::Ask);
    connect(settings, &SettingsPanel::askOnCloseRequested, this, [this] {
        m_userState->setCloseAnswer(UserState::CloseAnswer::Ask);
        m_userState->sync();
        m_frame->settingsPanel->setCloseAnswerKept(false);
    });
}

void StartupSequence::autoStart()
{
    // Every connection marked for it, each by its own rule; a port given on
    // the command line is the port to use, whatever was used before.
    const config::Connections &all = m_frame->getConnections();
    QStringList portGiven;
    for (const auto &[name, port] : CommandLine::connections(m_arguments))
        portGiven << name;
    if (!m_portArgument.isEmpty())
        portGiven << all.first().getConnectionName();
    QStringList names;
    bool minimize = false;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const config::Config &config = all.at(i);
        if (&config.getConnect() != &config::ConfigHelper::Connect::AUTO)
            continue;
        if (config.getAbortAutoStartWhenPrevPortNotAvailable()
            && !portGiven.contains(config.getConnectionName()) && config.getPort() != config.getPrevPort()) {
            MessageBoxes::showMessage(m_frame,
                MessageText::own(text("previously.used.port.0.no.longer.available.naborting.auto.start"),
                    config.getPrevPort()),
                text("error"));
            continue;
        }
        names << config.getConnectionName();
        minimize = minimize || config.getMinimizeToTray();
    }
    if (names.isEmpty())
        return;
    // The one shown in the tabs first, as Start does it.
    const QString shown = m_frame->getConfig().getConnectionName();
    if (names.removeOne(shown))
        m_runControl->start();
    for (const QString &name : std::as_const(names))
        m_runControl->start(name);
    if (minimize && m_seams.showWindow)
        m_frame->showMinimized();
}

void StartupSequence::addMinimizeToTraySupport()
{
    if (m_tray || !m_frame)
        return;
    std::unique_ptr<TrayIcon> icon;
    if (m_seams.trayIcon)
        icon = m_seams.trayIcon();
    else if (!TraySupport::trayAvailable())
        return;
    m_tray = std::make_unique<TraySupport>(
        m_frame, m_icons,
        [frame = m_frame] { return frame && frame->getConfig().getNotifyWhenMinimizedToTray(); },
        std::move(icon));
    // Show/Hide, Start/Stop, a reading on request and Quit from the icon's
    // menu; its tooltip tells the run's state and last value.
    updateTray();
}

void StartupSequence::updateTray()
{
    if (!m_tray || !m_frame || !m_runControl)
        return;
    const bool running = m_runControl->isRunning();
    const bool shown = m_frame->isVisible() && !(m_frame->windowState() & Qt::WindowMinimized);
    const QPointer<RunControl> control(m_runControl);
    const QPointer<RadezoZiDadFrame2> frame(m_frame);
    QList<TrayIcon::MenuEntry> menu;
    menu.append({ text(shown ? "tray.hide" : "tray.show"), true, [this, frame] {
                     if (!frame || !m_tray)
                         return;
                     if (frame->isVisible() && !(frame->windowState() & Qt::WindowMinimized))
                         frame->showMinimized(); // into the tray
                     else
                         m_tray->restoreFromTray();
                 } });
    menu.append({ text(running ? "tray.stop" : "tray.start"), true, [control] {
                     if (control)
                         control->startStopJButtonActionPerformed();
                 } });
    // Only while a run has a request command to send.
    menu.append({ text("tray.request.reading"), running && !m_frame->requestButton->isHidden(), [control] {
                     if (control)
                         control->request();
                 } });
    menu.append({ text("tray.quit"), true, [this] { quit(); } });
    TrayIcon &icon = m_tray->icon();
    icon.setMenu(menu);

    QString tip = text("tray.tooltip.stopped");
    if (running) {
        const run::Run *current = m_runControl->currentRun();
        tip = text("tray.tooltip.running")
                  .replace(QStringLiteral("{0}"), current ? current->config().getPort() : QString());
        const QString last = m_frame->runPanel->lastValue();
        if (!last.isEmpty())
            tip += QLatin1Char('\n') + text("tray.tooltip.last.value").replace(QStringLiteral("{0}"), last);
    }
    icon.setToolTip(tip);
}

void StartupSequence::removeMinimizeToTraySupport()
{
    m_tray.reset();
}

QIcon StartupSequence::createImageIcon(const QString &path)
{
    if (!QFile::exists(path)) {
        QTextStream(stderr) << "Couldn't find file: " << path << Qt::endl;
        return {};
    }
    return QIcon(path);
}

QList<QIcon> StartupSequence::windowIcons()
{
    QList<QIcon> icons;
    for (const char *size : { "32", "24", "20", "16" }) {
        const QIcon icon = createImageIcon(QStringLiteral(":/icons/Omvara%1.png").arg(QLatin1String(size)));
        if (!icon.isNull())
            icons.append(icon);
    }
    return icons;
}

bool StartupSequence::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_frame)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Close && !m_shutDown) {
        switch (closeAction()) {
        case CloseAction::Cancel:
            event->ignore();
            return true;
        case CloseAction::KeepInTray:
            event->ignore();
            m_frame->showMinimized(); // tray support hides it there
            return true;
        case CloseAction::Quit:
            break;
        }
        shutdown();
        return false;
    }
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide
        || event->type() == QEvent::WindowStateChange)
        updateTray();
    return QObject::eventFilter(watched, event);
}

StartupSequence::CloseAction StartupSequence::closeAction()
{
    // Nothing to lose while stopped.
    if (!m_runControl || !m_runControl->anyRunning())
        return CloseAction::Quit;
    const bool tray = m_tray != nullptr;
    switch (m_userState->closeAnswer()) {
    case UserState::CloseAnswer::StopAndQuit:
        return CloseAction::Quit;
    case UserState::CloseAnswer::KeepInTray:
        if (tray)
            return CloseAction::KeepInTray;
        break; // no tray this time: ask
    case UserState::CloseAnswer::Ask:
        break;
    }
    // With the tray: keep running there (first, the default) or stop and quit;
    // without it: stop and quit, or cancel.
    QStringList choices;
    if (tray)
        choices << text("close.keep.in.tray") << text("close.stop.and.quit");
    else
        choices << text("close.stop.and.quit") << text("close.cancel");
    const MessageBoxes::Choice choice
        = MessageBoxes::askChoice(m_frame, MessageText::own(text("close.running.question")),
            text("close.running.title"), choices, text("close.do.not.ask.again"));
    CloseAction action = CloseAction::Cancel;
    if (tray)
        action = choice.index == 0 ? CloseAction::KeepInTray : CloseAction::Quit;
    else
        action = choice.index == 0 ? CloseAction::Quit : CloseAction::Cancel;
    // "Do not ask again" keeps an answer that does something; Cancel is not kept.
    if (choice.checked && action != CloseAction::Cancel) {
        m_userState->setCloseAnswer(action == CloseAction::KeepInTray ? UserState::CloseAnswer::KeepInTray
                                                                      : UserState::CloseAnswer::StopAndQuit);
        m_userState->sync();
        m_frame->settingsPanel->setCloseAnswerKept(true);
    }
    return action;
}

void StartupSequence::endSession()
{
    shutdown();
}

void StartupSequence::quit()
{
    shutdown();
}

void StartupSequence::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // The window's size and place, for the user's next start.
    if (m_userState) {
        m_userState->setWindowGeometry(m_frame->saveGeometry());
        m_userState->sync();
    }
    m_frame->updateConfigFromTabs();
    try {
        m_frame->saveConfig();
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(m_frame,
            MessageText::own(text("access.error.while.saving.settings"))
                + MessageText::outside(failureText(e)),
            text("error"));
    }
    // The port is closed and typing ends before the program does.
    if (m_runControl && m_runControl->anyRunning())
        m_runControl->stopAll();
    m_tray.reset();
    Q_EMIT closed(0);
}

} // namespace omvara
