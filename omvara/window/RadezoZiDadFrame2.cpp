// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RadezoZiDadFrame2.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/config/SettingsTable.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/window/AboutPanel.h"
#include "omvara/window/AutoPortDialog.h"
#include "omvara/window/ConnectionsPanel.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/ProgramExit.h"
#include "omvara/window/RunPanel.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/TextFieldVerifier.h"
#include "omvara/window/links/JLabelHtml.h"
#include "omvara/window/plus/PlusControls.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace omvara {

namespace {

// A copy of every setting, the previous port too (which copyConfig leaves
// out): a connection moving between the tabs and the list.
config::Config wholeCopy(const config::Config &from)
{
    config::Config copy = from.copyConfig();
    copy.setPrevPort(from.getPrevPort());
    return copy;
}

QString tabTitle(const char *panel)
{
    return texts::WindowTexts::text(
        QStringLiteral("RadezoZiDadFrame2.%1.tab.title").arg(QLatin1String(panel)));
}
} // namespace

RadezoZiDadFrame2::RadezoZiDadFrame2(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("RadezoZiDadFrame2"));
}

RadezoZiDadFrame2::~RadezoZiDadFrame2()
{
    // The controls outlive this part of the object; they must not hear from
    // the configuration any more.
    if (processingPanel)
        processingPanel->unregisterListeners();
    if (outputPanel)
        outputPanel->unregisterListeners();
}

void RadezoZiDadFrame2::setConfig(Config newConfig)
{
    if (processingPanel)
        processingPanel->unregisterListeners();
    if (outputPanel)
        outputPanel->unregisterListeners();
    config = std::move(newConfig);
    if (processingPanel)
        processingPanel->registerListeners();
    if (outputPanel)
        outputPanel->registerListeners();
}

void RadezoZiDadFrame2::setConfigStore(std::unique_ptr<config::ConfigStore> newStore)
{
    store = std::move(newStore);
}

config::ConfigStore &RadezoZiDadFrame2::getConfigStore()
{
    if (!store)
        store = std::make_unique<config::ConfigStore>(QCoreApplication::applicationDirPath());
    return *store;
}

bool RadezoZiDadFrame2::loadConfig()
{
    config::Connections loaded;
    const bool valid = getConfigStore().loadConnections(loaded, getPorts());
    setConnections(std::move(loaded));
    return valid;
}

void RadezoZiDadFrame2::setConnections(config::Connections loaded)
{
    connections = std::move(loaded);
    selected = 0;
    Config first = connections.first().copyConfig();
    first.setPrevPort(connections.first().getPrevPort());
    setConfig(std::move(first));
    showConnections();
}

void RadezoZiDadFrame2::saveConfig()
{
    if (!runOnly) {
        getConfigStore().saveConnections(getConnections());
        return;
    }
    config::Connections saved = getConnections().copy();
    for (const auto &[name, key] : std::as_const(runOnly->keys)) {
        const config::Setting *row = config::findSetting(key);
        if (!row || !row->same)
            continue;
        for (qsizetype i = 0; i < saved.size(); ++i) {
            config::Config &out = saved.at(i);
            if (!name.isEmpty() && out.getConnectionName() != name)
                continue;
            const config::Config *given = runOnly->given.find(out.getConnectionName());
            const config::Config *stored = runOnly->stored.find(out.getConnectionName());
            if (given && stored && row->same(*given, out))
                row->copy(*stored, out);
        }
    }
    getConfigStore().saveConnections(saved);
}

void RadezoZiDadFrame2::setRunOnlySettings(
    config::Connections given, config::Connections stored, QList<QPair<QString, QString>> keys)
{
    runOnly = RunOnlySettings { std::move(given), std::move(stored), std::move(keys) };
}

void RadezoZiDadFrame2::storeSelected()
{
    if (config.getConnectionName().isEmpty())
        config.setConnectionName(connections.at(selected).getConnectionName());
    connections.at(selected) = wholeCopy(config);
    connections.shareProgramSettings(connections.at(selected));
}

const config::Connections &RadezoZiDadFrame2::getConnections()
{
    storeSelected();
    return connections;
}

void RadezoZiDadFrame2::showConnections()
{
    if (connectionsPanel)
        connectionsPanel->showConnections(connections.names(), int(selected));
}

bool RadezoZiDadFrame2::selectConnection(qsizetype i)
{
    if (i < 0 || i >= connections.size())
        return false;
    if (i == selected) {
        showConnections();
        return true;
    }
    Q_EMIT connectionSelecting();
    // What the tabs show now is kept (and saved, as when a tab is left).
    if (tabbedPane)
        saveIfChanged();
    storeSelected();
    selected = i;
    setConfig(wholeCopy(connections.at(i)));
    oldConfig = config.copyConfig();
    if (tabbedPane) {
        buildSettingsTabs();
        // The settings hold exactly what the controls show.
        updateConfigFromTabs();
    }
    showConnections();
    Q_EMIT connectionSelected();
    return true;
}

void RadezoZiDadFrame2::saveConnections()
{
    updateConfigFromTabs();
    oldConfig = config.copyConfig();
    saveNecessary = false;
    try {
        saveConfig();
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(this,
            MessageText::own(texts::WindowTexts::text("autosave.error"))
                + MessageText::outside(QString::fromUtf8(e.what())),
            texts::WindowTexts::text("error"));
    }
}

bool RadezoZiDadFrame2::addConnection(const QString &name, qsizetype from, QString *problem)
{
    updateConfigFromTabs();
    storeSelected();
    if (from < 0 || from >= connections.size())
        from = selected;
    if (!connections.add(name, connections.at(from), problem))
        return false;
    Q_EMIT connectionsChanged();
    selectConnection(connections.size() - 1);
    saveConnections();
    return true;
}

bool RadezoZiDadFrame2::renameConnection(qsizetype i, const QString &name, QString *problem)
{
    if (i < 0 || i >= connections.size())
        return false;
    if (connectionRunning && connectionRunning(connections.at(i).getConnectionName())) {
        if (problem)
            *problem = texts::WindowTexts::text("connection.running.keeps.name");
        return false;
    }
    updateConfigFromTabs();
    storeSelected();
    if (!connections.rename(i, name, problem))
        return false;
    if (i == selected)
        config.setConnectionName(name);
    showConnections();
    Q_EMIT connectionsChanged();
    saveConnections();
    return true;
}

bool RadezoZiDadFrame2::removeConnection(qsizetype i, QString *problem)
{
    if (i <= 0 || i >= connections.size()) {
        if (problem)
            *problem = texts::WindowTexts::text("connection.first.stays");
        return false;
    }
    if (connectionRunning && connectionRunning(connections.at(i).getConnectionName())) {
        if (problem)
            *problem = texts::WindowTexts::text("connection.running.stays");
        return false;
    }
    // The first connection is shown in place of the one removed.
    if (i == selected)
        selectConnection(0);
    storeSelected();
    const qsizetype shown = selected;
    connections.remove(i);
    selected = shown > i ? shown - 1 : shown;
    showConnections();
    Q_EMIT connectionsChanged();
    saveConnections();
    return true;
}

std::optional<QString> RadezoZiDadFrame2::askConnectionName(const QString &title, const QString &proposed)
{
    return MessageBoxes::askText(
        this, MessageText::own(texts::WindowTexts::text("connection.name.question")), title, proposed);
}

void RadezoZiDadFrame2::showConnectionProblem(const QString &problem)
{
    MessageBoxes::showMessage(this,
        MessageText::own(texts::WindowTexts::text("connection.not.changed")) + MessageText::outside(problem),
        texts::WindowTexts::text("error"));
}

void RadezoZiDadFrame2::addConnectionButtonActionPerformed()
{
    QString proposed;
    for (int n = int(connections.size()) + 1; proposed.isEmpty() || connections.indexOf(proposed) >= 0; ++n)
        proposed = QString::number(n);
    const std::optional<QString> name
        = askConnectionName(texts::WindowTexts::text("RadezoZiDadFrame2.addConnectionButton.text"), proposed);
    QString problem;
    // A new connection starts from the first one's settings.
    if (name && !addConnection(*name, 0, &problem))
        showConnectionProblem(problem);
}

void RadezoZiDadFrame2::duplicateConnectionButtonActionPerformed()
{
    const QString base = connections.at(selected).getConnectionName();
    QString proposed = base + QStringLiteral("-2");
    for (int n = 3; connections.indexOf(proposed) >= 0; ++n)
        proposed = base + QLatin1Char('-') + QString::number(n);
    const std::optional<QString> name = askConnectionName(
        texts::WindowTexts::text("RadezoZiDadFrame2.duplicateConnectionButton.text"), proposed);
    QString problem;
    if (name && !addConnection(*name, selected, &problem))
        showConnectionProblem(problem);
}

void RadezoZiDadFrame2::renameConnectionButtonActionPerformed()
{
    const std::optional<QString> name
        = askConnectionName(texts::WindowTexts::text("RadezoZiDadFrame2.renameConnectionButton.text"),
            connections.at(selected).getConnectionName());
    QString problem;
    if (name && !renameConnection(selected, *name, &problem))
        showConnectionProblem(problem);
}

void RadezoZiDadFrame2::removeConnectionButtonActionPerformed()
{
    const QString name = connections.at(selected).getConnectionName();
    if (MessageBoxes::askOkCancel(this,
            MessageText::own(texts::WindowTexts::text("connection.remove.question"), name),
            texts::WindowTexts::text("RadezoZiDadFrame2.removeConnectionButton.text"))
        != MessageBoxes::Answer::Ok)
        return;
    QString problem;
    if (!removeConnection(selected, &problem))
        showConnectionProblem(problem);
}

QStringList RadezoZiDadFrame2::getPorts() const
{
    return inputPanel ? inputPanel->getPorts() : initialPorts;
}

void RadezoZiDadFrame2::setPorts(const QStringList &portNames)
{
    initialPorts = portNames;
    if (inputPanel)
        inputPanel->setPorts(portNames);
}

void RadezoZiDadFrame2::selectPort(const QString &portName)
{
    if (inputPanel)
        inputPanel->selectPort(portName);
}

void RadezoZiDadFrame2::initComponents()
{
    if (tabbedPane)
        return;
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(6, 6, 6, 4);

    tabbedPane = new QTabWidget(central);
    tabbedPane->setObjectName(QStringLiteral("tabbedPane"));

    panel1 = new QWidget(tabbedPane);
    panel1->setObjectName(QStringLiteral("panel1"));
    startStopJButton
        = new QPushButton(texts::WindowTexts::text("RadezoZiDadFrame2.startStopJButton.text"), panel1);
    startStopJButton->setObjectName(QStringLiteral("startStopJButton"));
    // Start/Stop from anywhere in the window, whichever tab is shown; the
    // tooltip names the keys.
    startStopShortcut = new QAction(this);
    startStopShortcut->setObjectName(QStringLiteral("startStopShortcut"));
    startStopShortcut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    startStopShortcut->setShortcutContext(Qt::WindowShortcut);
    addAction(startStopShortcut);
    connect(
        startStopShortcut, &QAction::triggered, this, &RadezoZiDadFrame2::startStopJButtonActionPerformed);
    startStopJButton->setToolTip(texts::WindowTexts::text("RadezoZiDadFrame2.startStopJButton.toolTipText")
        + QStringLiteral(" (") + startStopShortcut->shortcut().toString(QKeySequence::NativeText)
        + QLatin1Char(')'));
    startStopJButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont big = startStopJButton->font();
    big.setPointSizeF(big.pointSizeF() * 2.0);
    big.setBold(true);
    startStopJButton->setFont(big);
    // The running panels: the first connection's, and one for each other running.
    runPanels = new QWidget(panel1);
    runPanels->setObjectName(QStringLiteral("runPanels"));
    auto *runPanelColumn = new QVBoxLayout(runPanels);
    runPanelColumn->setContentsMargins(0, 0, 0, 0);
    runPanel = new RunPanel(runPanels);
    runPanel->hide();
    runPanelColumn->addWidget(runPanel, 1);
    runPanels->hide();
    requestButton = new QPushButton(texts::WindowTexts::text("RadezoZiDadFrame2.requestButton.text"), panel1);
    requestButton->setObjectName(QStringLiteral("requestButton"));
    requestButton->setToolTip(texts::WindowTexts::text("RadezoZiDadFrame2.requestButton.toolTipText"));
    requestButton->setVisible(false);
    connect(requestButton, &QPushButton::clicked, this, [this] {
        if (requestAction)
            requestAction();
    });
    // On the first start, what to do before Start.
    firstStartHint = new QLabel(texts::WindowTexts::text("RadezoZiDadFrame2.firstStartHint.text"), panel1);
    firstStartHint->setObjectName(QStringLiteral("firstStartHint"));
    firstStartHint->setTextFormat(Qt::PlainText);
    firstStartHint->setWordWrap(true);
    firstStartHint->setAlignment(Qt::AlignCenter);
    firstStartHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont hintFont = firstStartHint->font();
    hintFont.setPointSizeF(hintFont.pointSizeF() * 1.25);
    firstStartHint->setFont(hintFont);
    firstStartHint->hide();
    // The button stays the largest target, also while the run is shown; the
    // request button sits below it.
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(firstStartHint);
    buttons->addWidget(startStopJButton, 1);
    buttons->addWidget(requestButton);
    auto *panel1Layout = new QHBoxLayout(panel1);
    panel1Layout->addLayout(buttons, 3);
    panel1Layout->addWidget(runPanels, 2);

    inputPanel = new InputPanel(config, initialPorts, tabbedPane);
    processingPanel = new ProcessingPanel(config, tabbedPane);
    outputPanel = new OutputPanel(config, tabbedPane);
    settingsPanel = new SettingsPanel(config, tabbedPane);

    connectionsPanel = new ConnectionsPanel(central);
    // With one connection, the way to a second one is on the Start/Stop tab.
    buttons->addWidget(connectionsPanel->soloAddButton, 0, Qt::AlignLeft);
    eventLogPanel = new QWidget(tabbedPane);
    eventLogPanel->setObjectName(QStringLiteral("eventLogPanel"));
    new QVBoxLayout(eventLogPanel);
    aboutPanel = new AboutPanel(tabbedPane);

    tabbedPane->addTab(panel1, tabTitle("panel1"));
    tabbedPane->addTab(inputPanel, tabTitle("inputPanel"));
    tabbedPane->addTab(processingPanel, tabTitle("processingPanel"));
    tabbedPane->addTab(outputPanel, tabTitle("outputPanel"));
    tabbedPane->addTab(settingsPanel, tabTitle("settingsPanel"));
    tabbedPane->addTab(eventLogPanel, tabTitle("eventLogPanel"));
    tabbedPane->addTab(aboutPanel, tabTitle("aboutPanel"));
    currentTabIndex = tabbedPane->currentIndex();
    currentTab = tabbedPane->currentWidget();

    statusJLabel = new links::JLabelHtml(central);
    statusJLabel->setObjectName(QStringLiteral("statusJLabel"));
    statusJLabel->setText(texts::WindowTexts::text("RadezoZiDadFrame2.statusJLabel.text"));
    // A long status text wraps within the width the user gave the window; it
    // never makes the window wider.
    statusJLabel->setWordWrap(true);
    statusJLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    column->addWidget(connectionsPanel);
    column->addWidget(tabbedPane, 1);
    column->addWidget(statusJLabel);
    setCentralWidget(central);

    processingPanel->registerListeners();
    outputPanel->registerListeners();

    connect(
        startStopJButton, &QPushButton::clicked, this, &RadezoZiDadFrame2::startStopJButtonActionPerformed);
    connect(tabbedPane, &QTabWidget::currentChanged, this, &RadezoZiDadFrame2::tabbedPaneStateChanged);
    connectSettingsTabs();
    connect(
        connectionsPanel, &ConnectionsPanel::rowSelected, this, [this](int row) { selectConnection(row); });
    connect(connectionsPanel, &ConnectionsPanel::addRequested, this,
        &RadezoZiDadFrame2::addConnectionButtonActionPerformed);
    connect(connectionsPanel, &ConnectionsPanel::renameRequested, this,
        &RadezoZiDadFrame2::renameConnectionButtonActionPerformed);
    connect(connectionsPanel, &ConnectionsPanel::duplicateRequested, this,
        &RadezoZiDadFrame2::duplicateConnectionButtonActionPerformed);
    connect(connectionsPanel, &ConnectionsPanel::removeRequested, this,
        &RadezoZiDadFrame2::removeConnectionButtonActionPerformed);
    showConnections();

    resize(680, 540);
}

void RadezoZiDadFrame2::connectSettingsTabs()
{
    connect(inputPanel, &InputPanel::autoRequested, this, &RadezoZiDadFrame2::autoButtonActionPerformed);
    connect(
        inputPanel, &InputPanel::showRequested, this, [this] { tabbedPane->setCurrentWidget(inputPanel); });
    connect(settingsPanel, &SettingsPanel::exportRequested, this,
        &RadezoZiDadFrame2::exportSettingsButtonActionPerformed);
    connect(settingsPanel, &SettingsPanel::importRequested, this,
        &RadezoZiDadFrame2::importSettingsButtonActionPerformed);
    connect(settingsPanel, &SettingsPanel::changed, this, &RadezoZiDadFrame2::saveIfChanged);
    connect(settingsPanel, &SettingsPanel::manualConnectChosen, this, [this] {
        if (removeMinimizeToTraySupportAction)
            removeMinimizeToTraySupportAction();
    });
}

void RadezoZiDadFrame2::buildSettingsTabs()
{
    // The controls show the settings they are made from: the tabs of the
    // connection shown are made anew, in the places of the old ones.
    processingPanel->unregisterListeners();
    outputPanel->unregisterListeners();
    const QSignalBlocker quiet(tabbedPane);
    QWidget *current = tabbedPane->currentWidget();
    const auto replace = [&](auto *&member, auto *fresh) {
        QWidget *old = member;
        const int index = tabbedPane->indexOf(old);
        if (index >= 0) {
            const QString title = tabbedPane->tabText(index);
            tabbedPane->removeTab(index);
            tabbedPane->insertTab(index, fresh, title);
        }
        if (current == old)
            current = fresh;
        member = fresh;
        // The old controls say nothing more to the configuration, which is
        // another connection's now (a field losing the focus stores its text).
        for (TextFieldVerifier *verifier : old->findChildren<TextFieldVerifier *>())
            delete verifier;
        for (QWidget *child : old->findChildren<QWidget *>())
            child->blockSignals(true);
        old->blockSignals(true);
        old->hide();
        old->deleteLater();
    };
    replace(inputPanel, new InputPanel(config, getPorts(), tabbedPane));
    replace(processingPanel, new ProcessingPanel(config, tabbedPane));
    replace(outputPanel, new OutputPanel(config, tabbedPane));
    replace(settingsPanel, new SettingsPanel(config, tabbedPane));
    processingPanel->registerListeners();
    outputPanel->registerListeners();
    connectSettingsTabs();
    if (current && tabbedPane->indexOf(current) >= 0)
        tabbedPane->setCurrentWidget(current);
    currentTabIndex = tabbedPane->currentIndex();
    currentTab = tabbedPane->currentWidget();
}

void RadezoZiDadFrame2::addRunPanel(RunPanel *panel)
{
    static_cast<QVBoxLayout *>(runPanels->layout())->addWidget(panel, 1);
}

void RadezoZiDadFrame2::showRunPanels(bool show)
{
    runPanels->setVisible(show);
}

void RadezoZiDadFrame2::showFirstStartHint(bool show)
{
    if (firstStartHint)
        firstStartHint->setVisible(show);
}

void RadezoZiDadFrame2::setEventLogWidget(QWidget *eventLog)
{
    eventLogPanel->layout()->addWidget(eventLog);
}

void RadezoZiDadFrame2::updateConfigFromTabs()
{
    if (!tabbedPane)
        return;
    inputPanel->updateConfig();
    settingsPanel->updateConnect();
    outputPanel->updateKeyboardAndDelay();
    outputPanel->updateConfig();
    const bool divisionWithoutRounding = processingPanel->updateConfig();
    settingsPanel->updateConfig();
    if (divisionWithoutRounding && !mathRoundingErrorWarningDisplayed)
        QTimer::singleShot(0, this, &RadezoZiDadFrame2::showDivisionWarning);
}

void RadezoZiDadFrame2::showDivisionWarning()
{
    if (mathRoundingErrorWarningDisplayed)
        return;
    mathRoundingErrorWarningDisplayed = true;
    tabbedPane->setCurrentWidget(processingPanel);
    processingPanel->decimalTextField->setFocus(Qt::OtherFocusReason);
    MessageBoxes::showMessage(this,
        MessageText::own(texts::WindowTexts::text(
            "please.enter.number.of.decimal.places.for.rounding.or.disable.division")),
        texts::WindowTexts::text("error"));
}

void RadezoZiDadFrame2::startStopJButtonActionPerformed()
{
    if (startStopAction)
        startStopAction();
}

bool RadezoZiDadFrame2::savesWhenLeft(const QWidget *tab) const
{
    // Tabs are told apart by identity rather than index: while a run is
    // active the settings tabs are taken out and the indexes shift.
    return tab && (tab == inputPanel || tab == processingPanel || tab == outputPanel || tab == aboutPanel);
}

void RadezoZiDadFrame2::tabbedPaneStateChanged(int newIndex)
{
    const QWidget *left = currentTab;
    currentTabIndex = newIndex;
    currentTab = tabbedPane->widget(newIndex);
    // The first start's hint has been followed once the Input tab was seen.
    if (left == inputPanel)
        showFirstStartHint(false);
    if (!savesWhenLeft(left))
        return;
    saveIfChanged();
}

void RadezoZiDadFrame2::saveIfChanged()
{
    updateConfigFromTabs();
    saveNecessary = config.hasChanged(oldConfig);
    if (saveNecessary)
        saveConnections();
}

void RadezoZiDadFrame2::autoButtonActionPerformed()
{
    // Ports that a running connection holds are not tried.
    QStringList ports = getPorts();
    if (portHeld)
        ports.removeIf([this](const QString &port) { return portHeld(port); });
    auto *dialog
        = new AutoPortDialog(this, ports, [self = QPointer<RadezoZiDadFrame2>(this)](const QString &name) {
              if (self)
                  self->selectPort(name);
          });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void RadezoZiDadFrame2::exportSettingsButtonActionPerformed()
{
    const QString file = MessageBoxes::chooseSaveFile(this, texts::WindowTexts::text("export.settings.title"),
        QDir::home().filePath(QStringLiteral("Omvara.xml")), texts::WindowTexts::text("xml.file.filter"));
    if (file.isEmpty())
        return;
    if (QFileInfo::exists(file)
        && MessageBoxes::askOkCancel(this,
               MessageText::own(texts::WindowTexts::text("file.already.exists.overwrite")),
               texts::WindowTexts::text("overwrite"))
            != MessageBoxes::Answer::Ok)
        return;
    exportSettingsTo(file);
}

bool RadezoZiDadFrame2::exportSettingsTo(const QString &file)
{
    updateConfigFromTabs();
    try {
        saveConfig();
        oldConfig = config.copyConfig();
        saveNecessary = false;
        getConfigStore().exportTo(file);
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(this,
            MessageText::own(texts::WindowTexts::text("export.failed"))
                + MessageText::outside(QString::fromUtf8(e.what())),
            texts::WindowTexts::text("error"));
        return false;
    }
    MessageBoxes::showMessage(this,
        MessageText::own(texts::WindowTexts::text("configuration.exported.to.file.n"))
            + MessageText::outside(QDir::toNativeSeparators(file)),
        texts::WindowTexts::text("export.successful"), MessageBoxes::Icon::Information);
    return true;
}

void RadezoZiDadFrame2::importSettingsButtonActionPerformed()
{
    const QString file = MessageBoxes::chooseOpenFile(
        this, texts::WindowTexts::text("import.settings.title"), texts::WindowTexts::text("xml.file.filter"));
    if (file.isEmpty())
        return;
    importSettingsFrom(file);
}

void RadezoZiDadFrame2::importSettingsFrom(const QString &file)
{
    try {
        getConfigStore().importFrom(file);
    } catch (const std::exception &e) {
        MessageBoxes::showMessage(this,
            MessageText::own(QStringLiteral("Import failed\n"))
                + MessageText::outside(QString::fromUtf8(e.what())),
            texts::WindowTexts::text("error"));
        return;
    }
    if (MessageBoxes::askOkCancel(this,
            MessageText::own(QStringLiteral("Apply imported configuration and exit?")),
            QStringLiteral("Restart required"))
        == MessageBoxes::Answer::Ok)
        ProgramExit::exitProgram(4);
}

} // namespace omvara
