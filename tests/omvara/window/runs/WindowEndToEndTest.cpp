// SPDX-License-Identifier: GPL-3.0-or-later
// The program with its window, from outside: a simulated balance on a
// pseudo-terminal, `omvara --prefs-file FILE PTY` with automatic start and
// the tray switched on, trayer as the tray host and an xterm as the
// application that receives the values. The window goes to the tray at
// start, the xterm receives the values, a double click on the tray icon
// brings the window back, and closing the window saves and exits with 0.
// A picture of the running window with its event log is kept in the build folder.
// SIGTERM ends the window as closing it does, and SIGPIPE does not end it.
#include "QtPrinters.h"
#include "XServer.h"
#include "XtermReceiver.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/util/ProcessProperties.h"

#include "XWindowClose.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <csignal>
#include <unistd.h>

namespace {

using omvara::config::ConfigHelper;

const QString WindowTitle = QStringLiteral("Brindlecote Omvara");

// Runs a short helper program; its standard output, or nothing on failure.
QString run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

bool waitFor(const std::function<bool()> &condition, int milliseconds = 15000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

QStringList windows(const QStringList &searchArgs)
{
    return run(QStringLiteral("xdotool"), QStringList { QStringLiteral("search") } + searchArgs)
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool windowShown()
{
    return !windows({ "--onlyvisible", "--name", WindowTitle }).isEmpty();
}

class Process
{
public:
    Process(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    ~Process()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess *operator->() { return &m_process; }
    QString readLine()
    {
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(100);
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

private:
    QProcess m_process;
};

TEST(WindowEndToEnd, AutomaticStartTypesIntoTheXtermFromTheTrayAndCloseSaves)
{
    // The tray, the focus and the window of this test stay on a server of its own.
    x_server::PrivateServer server;
    if (server.display().isEmpty())
        GTEST_SKIP() << server.error().toStdString();
    x_server::UseDisplay use(server);
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "trayer or xdotool missing";

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("OMVARA_KEYBOARD", "x11");
    env.remove("DBUS_SESSION_BUS_ADDRESS"); // the XEmbed tray of trayer, not a desktop's

    Process tray(env);
    tray->start("trayer",
        { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--heighttype",
            "pixel", "--height", "32", "--transparent", "false" });
    ASSERT_TRUE(tray->waitForStarted(5000));
    ASSERT_TRUE(waitFor([] { return !windows({ "--class", "trayer" }).isEmpty(); }));

    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();

    Process simulator(env);
    simulator->start(QStringLiteral(OMVARA_PROGRAM), { "--simulate", "SARTORIUS", "--interval", "200" });
    const QString pty = simulator.readLine();
    ASSERT_TRUE(pty.startsWith("/dev/pts/")) << pty.toStdString();

    // Settings: automatic start on the simulated balance, to the tray at once.
    const QString prefsFile = home.filePath("prefs.txt");
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, prefsFile);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    {
        omvara::prefs::FilePreferencesFactory factory;
        omvara::config::ConfigStore store(factory);
        omvara::config::Config settings = ConfigHelper::Instrument::SARTORIUS.getDefaultConfig();
        settings.setInstrument(ConfigHelper::Instrument::SARTORIUS);
        settings.setPort(pty);
        settings.setConnect(ConfigHelper::Connect::AUTO);
        settings.setOutputTerminator(ConfigHelper::OutputTerminator::ENTER);
        settings.setDelay(QStringLiteral("2"));
        settings.setMinimizeToTray(true);
        settings.setNotifyWhenMinimizedToTray(false);
        settings.setCheckForUpdates(false);
        store.saveConfig(settings);
    }

    // This user told the question on closing during a run not to ask again,
    // with "Stop and quit": closing below ends the program.
    {
        QDir().mkpath(home.filePath("config/Brindlecote"));
        QFile state(home.filePath("config/Brindlecote/OmvaraWindow.ini"));
        ASSERT_TRUE(state.open(QIODevice::WriteOnly));
        state.write("[close]\nanswer=stopAndQuit\n");
    }

    Process omvara(env);
    omvara->setProcessChannelMode(QProcess::MergedChannels);
    omvara->start(QStringLiteral(OMVARA_PROGRAM), { "--prefs-file", prefsFile, pty });
    ASSERT_TRUE(omvara->waitForStarted(5000));
    const auto output = [&] { return QString::fromLocal8Bit(omvara->readAll()).toStdString(); };

    // Running and in the tray: the window exists but is not shown.
    ASSERT_TRUE(waitFor([] { return !windows({ "--name", WindowTitle }).isEmpty(); })) << output();
    ASSERT_TRUE(waitFor([] { return !windowShown(); })) << "the window did not go to the tray";
    ASSERT_TRUE(xterm.focus()) << xterm.error().toStdString();

    // The values arrive in the xterm, each ended by Enter.
    const QByteArray received = xterm.received(24);
    const QList<QByteArray> values = received.split('\r');
    ASSERT_GE(values.size(), 3) << received.toStdString() << output();
    const QRegularExpression number(QStringLiteral("^[-+]?\\d+([.,]\\d+)?$"));
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(number.match(QString::fromLatin1(values[i])).hasMatch()) << values[i].toStdString();

    // A double click on the tray icon brings the window back.
    const QString pid = QString::number(omvara->processId());
    QString icon;
    for (const QString &w : windows({ "--pid", pid })) {
        const QString geometry = run("xdotool", { "getwindowgeometry", w });
        const auto size = QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)")).match(geometry);
        if (size.hasMatch() && size.captured(1).toInt() <= 64 && size.captured(2).toInt() <= 64
            && run("xwininfo", { "-id", w }).contains(QStringLiteral("IsViewable")))
            icon = w;
    }
    ASSERT_FALSE(icon.isEmpty()) << "no tray icon of the program";
    run("xdotool",
        { "mousemove", "--window", icon, "8", "8", "click", "--repeat", "2", "--delay", "60", "1" });
    ASSERT_TRUE(waitFor(windowShown)) << "a double click on the tray icon did not restore the window";
    const QString window = windows({ "--onlyvisible", "--name", WindowTitle }).value(0);

    // A picture of the running window with its event log (running: Start/Stop, Event log, About).
    run("xdotool", { "mousemove", "--window", window, "130", "18", "click", "1" });
    QThread::msleep(700);
    run("import", { "-window", window, QStringLiteral(OMVARA_SCREENSHOT_DIR "/running-window.png") });

    // Closing the window during the run (no question: see above) saves the
    // settings and ends the program with 0.
    xterm.focus();
    ASSERT_TRUE(closeWindow(window.toULong()));
    ASSERT_TRUE(omvara->waitForFinished(15000)) << output();
    EXPECT_EQ(omvara->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(omvara->exitCode(), 0) << output();

    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    omvara::prefs::FilePreferencesFactory factory;
    omvara::config::ConfigStore store(factory);
    omvara::config::Config saved;
    store.loadConfig(saved, { pty });
    EXPECT_EQ(saved.getPort(), pty);
    EXPECT_EQ(saved.getPrevPort(), pty);
    EXPECT_EQ(saved.getInstrument(), &ConfigHelper::Instrument::SARTORIUS);
    omvara::util::ProcessProperties::remove(omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
}

// True when process `pid` holds `device` open.
bool holds(qint64 pid, const QString &device)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == device)
            return true;
    return false;
}

// The window running on a simulated balance (7 data bits, odd parity) on a
// pseudo-terminal: SIGPIPE leaves it running; SIGTERM ends it with status 0
// after the save that closing performs (the command-line port is stored) and
// with the port closed: the next program opens the same terminal, with the
// same settings, and SIGTERM ends that one too.
TEST(WindowEndToEnd, SigtermSavesAndClosesThePortForTheNextProgram_SigpipeIsNoEnd)
{
    x_server::PrivateServer server;
    ASSERT_FALSE(server.display().isEmpty())
        << "an X server (Xvfb) is needed: " << server.error().toStdString();
    x_server::UseDisplay use(server);

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("OMVARA_KEYBOARD", "x11");
    env.remove("DBUS_SESSION_BUS_ADDRESS");

    Process simulator(env);
    simulator->start(QStringLiteral(OMVARA_PROGRAM), { "--simulate", "SARTORIUS", "--interval", "200" });
    const QString pty = simulator.readLine();
    ASSERT_TRUE(pty.startsWith("/dev/pts/")) << pty.toStdString();

    const QString prefsFile = home.filePath("prefs.txt");
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, prefsFile);
    const auto store = [] {
        omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
        return std::make_unique<omvara::prefs::FilePreferencesFactory>();
    };
    {
        auto factory = store();
        omvara::config::ConfigStore settingsStore(*factory);
        omvara::config::Config settings = ConfigHelper::Instrument::SARTORIUS.getDefaultConfig();
        settings.setInstrument(ConfigHelper::Instrument::SARTORIUS);
        settings.setPort(QStringLiteral("/dev/ttyUSB9"));
        settings.setConnect(ConfigHelper::Connect::AUTO);
        settings.setMinimizeToTray(false);
        settings.setCheckForUpdates(false);
        settingsStore.saveConfig(settings);
    }

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Process omvara(env);
        omvara->setProcessChannelMode(QProcess::MergedChannels);
        omvara->start(QStringLiteral(OMVARA_PROGRAM), { "--prefs-file", prefsFile, pty });
        ASSERT_TRUE(omvara->waitForStarted(5000));
        const auto output = [&] { return QString::fromLocal8Bit(omvara->readAll()).toStdString(); };
        const qint64 pid = omvara->processId();
        ASSERT_TRUE(waitFor([&] { return holds(pid, pty); }))
            << "the run did not open " << pty.toStdString() << "\n"
            << output();
        if (round == 1) {
            ::kill(pid_t(pid), SIGPIPE);
            ASSERT_FALSE(omvara->waitForFinished(300)) << "SIGPIPE ended the window";
        }
        ::kill(pid_t(pid), SIGTERM);
        ASSERT_TRUE(omvara->waitForFinished(15000)) << output();
        EXPECT_EQ(omvara->exitStatus(), QProcess::NormalExit) << output();
        EXPECT_EQ(omvara->exitCode(), 0) << output();
    }

    auto factory = store();
    omvara::config::ConfigStore settingsStore(*factory);
    omvara::config::Config saved;
    settingsStore.loadConfig(saved, { QStringLiteral("/dev/ttyUSB9"), pty });
    EXPECT_EQ(saved.getPort(), pty) << "the settings were not saved at SIGTERM";
    omvara::util::ProcessProperties::remove(omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
}

} // namespace
