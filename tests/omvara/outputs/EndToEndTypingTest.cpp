// SPDX-License-Identifier: GPL-3.0-or-later
// The program's main job from outside: a simulated instrument on a
// pseudo-terminal, `omvara --headless` reading it, and an xterm receiving the
// typed values. What arrives must be exactly what `--print` reports for the
// same readings, each value followed by its terminator key.
#include "QtPrinters.h"
#include "XServer.h"
#include "XtermReceiver.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <csignal>

namespace {

constexpr int readings = 6;

class Program
{
public:
    explicit Program(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    ~Program() { stop(); }

    void start(const QStringList &args) { m_process.start(QStringLiteral(OMVARA_PROGRAM), args); }
    QProcess &process() { return m_process; }

    // SIGTERM (the program's Stop), then the exit status; -1 when it had to be killed.
    int stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (m_process.waitForFinished(10000))
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }

    // The next line of the standard output (waiting at most 10 s), without its line end.
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

// A simulated SARTORIUS balance on a fresh pseudo-terminal.
QString startSimulator(Program &simulator)
{
    simulator.start({ "--simulate", "SARTORIUS", "--interval", "150" });
    return simulator.readLine();
}

QStringList headlessArguments(const QString &port)
{
    return { "--headless", "--set", "instrument=SARTORIUS", "--set", "outputTerminator=ENTER", "--set",
        "delay=2", port };
}

} // namespace

TEST(EndToEnd, simulatedBalanceValues_areTypedIntoTheFocusedXterm)
{
    x_server::PrivateServer server;
    if (server.display().isEmpty())
        GTEST_SKIP() << server.error().toStdString();
    x_server::UseDisplay use(server);
    // The settings come from the command line and the defaults, not from the user's store.
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("OMVARA_KEYBOARD", "x11");

    // The values as printed.
    QStringList values;
    {
        Program simulator(env), omvara(env);
        const QString port = startSimulator(simulator);
        ASSERT_TRUE(port.startsWith("/dev/pts/")) << port.toStdString();
        omvara.start(QStringList { "--print" } + headlessArguments(port));
        for (int i = 0; i < readings; ++i)
            values << omvara.readLine();
        EXPECT_EQ(omvara.stop(), 0) << omvara.process().readAllStandardError().toStdString();
        ASSERT_FALSE(values.contains(QString())) << values.join('|').toStdString();
    }

    // The same readings typed.
    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    Program simulator(env), omvara(env);
    const QString port = startSimulator(simulator);
    omvara.start(headlessArguments(port));
    const QByteArray expected = (values.join('\r') + '\r').toLatin1();
    const QByteArray received = xterm.received(expected.size());
    const int status = omvara.stop();
    const QString log = QString::fromLocal8Bit(omvara.process().readAllStandardError());
    EXPECT_EQ(received.left(expected.size()), expected) << log.toStdString();
    EXPECT_EQ(status, 0) << log.toStdString();
    EXPECT_TRUE(log.contains("(x11, desktop layout ")) << log.toStdString();
}
