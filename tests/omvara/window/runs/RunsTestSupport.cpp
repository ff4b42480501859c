// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/util/Bundle.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/SoundBot.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/util/ProcessSetup.h"
#include "omvara/window/ProgramExit.h"
#include "omvara/window/RadezoZiDad.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "portlink/FriendlyPortUtil.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTabWidget>
#include <QThread>

namespace runs_test {

QApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_runs_tests";
    static char *argv[] = { name, nullptr };
    static QApplication *instance = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        omvara::util::prepareProcess();
        return new QApplication(argc, argv);
    }();
    return *instance;
}

bool runUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
    return true;
}

void settle(std::chrono::milliseconds time)
{
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
}

Harness::Harness()
    : sim(std::make_shared<portlink::testing::SimulatedNative>())
{
    app();
    prefsFile = dir.filePath(QStringLiteral("prefs.txt"));
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, prefsFile);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    factory = std::make_unique<omvara::prefs::FilePreferencesFactory>();

    userStateFile = dir.filePath(QStringLiteral("user-state.ini"));
    m_oldResponder = omvara::MessageBoxes::setResponder([this](const omvara::MessageBoxes::Request &request) {
        omvara::MessageBoxes::Reply reply;
        if (request.kind == omvara::MessageBoxes::Kind::Choice) {
            choices.push_back(request);
            reply.choice = choice >= 0
                ? choice
                : int(request.choices.indexOf(omvara::util::Bundle::get(QStringLiteral("omvara.Omvara"))
                                                  .getString(QStringLiteral("close.stop.and.quit"))));
            reply.checked = checked;
            return reply;
        }
        messages.push_back({ request.title, request.text, request.helpButton });
        reply.answer = pressHelp && !request.helpButton.isEmpty() ? omvara::MessageBoxes::Answer::Yes
                                                                  : omvara::MessageBoxes::Answer::Ok;
        return reply;
    });
    omvara::ProgramExit::setHandler([this](int status) {
        if (!exitStatus)
            exitStatus = status;
    });
}

Harness::~Harness()
{
    m_startup.reset();
    portlink::FriendlyPortUtil::reset();
    // Deferred deletions (finished workers) before the simulated side goes.
    settle(std::chrono::milliseconds(5));
    nativeSide.reset();
    omvara::ProgramExit::setHandler({});
    omvara::MessageBoxes::setResponder(m_oldResponder);
    factory.reset();
    omvara::util::ProcessProperties::remove(omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
}

omvara::config::Config Harness::settingsFor(const QString &port)
{
    omvara::config::Config config = omvara::config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    config.setInstrument(omvara::config::ConfigHelper::Instrument::GENERIC);
    config.setPort(port);
    config.setConnect(omvara::config::ConfigHelper::Connect::MANUAL);
    config.setCheckForUpdates(false);
    config.setMinimizeToTray(false);
    return config;
}

void Harness::storeSettings(const omvara::config::Config &config)
{
    omvara::config::ConfigStore store(*factory);
    store.saveConfig(config);
}

bool Harness::start(const QStringList &arguments)
{
    if (!nativeSide)
        nativeSide = std::make_unique<portlink::testing::ScopedNativeSide>(sim);
    omvara::StartupSequence::Seams seams;
    seams.showWindow = false;
    seams.userStateFile = userStateFile;
    seams.store = std::make_unique<omvara::config::ConfigStore>(*factory);
    seams.drawUpdateCheck = [this] { return updateDraw; };
    seams.startUpdateCheck = [this](omvara::StartupSequence &) { ++updateChecksStarted; };
    if (fakeTray)
        seams.trayIcon = [this] { return std::make_unique<FakeTrayIcon>(trayState); };
    omvara::RunControl::Outputs outputs;
    outputs.keybot = [this](omvara::reception::WeightWorkerView *view, const omvara::config::Config &config) {
        if (keyboardFails)
            throw omvara::outputs::keys::KeyboardUnavailableError(QStringLiteral("no display for typing"));
        auto recording = std::make_unique<omvara::outputs::keys::RecordingKeyInjector>();
        recording->setCapsLock(capsLock);
        injector = recording.get();
        return omvara::outputs::Keybot::fromConfig(view, config, std::move(recording));
    };
    outputs.soundBot = [this](int) -> std::unique_ptr<omvara::outputs::SoundBot> {
        ++soundBotsMade;
        if (soundFails)
            throw omvara::outputs::SoundError(QStringLiteral("no audio device"));
        throw omvara::outputs::SoundError(QStringLiteral("tests play no sound"));
    };
    seams.outputs = outputs;
    seams.sharedInjector = [this] { return sharedKeys; };
    m_startup = std::make_unique<omvara::StartupSequence>(arguments, std::move(seams));
    return m_startup->run();
}

omvara::RadezoZiDadFrame2 &Harness::frame()
{
    return *m_startup->frame();
}

QStringList Harness::tabTitles()
{
    QStringList titles;
    QTabWidget *tabs = frame().tabbedPane;
    for (int i = 0; i < tabs->count(); ++i)
        titles.append(tabs->tabText(i));
    return titles;
}

bool Harness::shown(const QString &title, const QString &textPart) const
{
    for (const Message &m : messages)
        if (m.title == title && m.text.contains(textPart))
            return true;
    return false;
}

} // namespace runs_test
