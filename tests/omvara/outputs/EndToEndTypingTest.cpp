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
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <optional>

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

// A private X display, and settings from the command line and the
// defaults, not from the user's store.
class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (server.display().isEmpty())
            GTEST_SKIP() << server.error().toStdString();
        use.emplace(server);
        env = QProcessEnvironment::systemEnvironment(); // with the private display
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("OMVARA_KEYBOARD", "x11");
    }

    // The first readings of a simulated balance as `--print` reports them.
    QStringList printedValues()
    {
        QStringList values;
        Program simulator(env), omvara(env);
        const QString port = startSimulator(simulator);
        EXPECT_TRUE(port.startsWith("/dev/pts/")) << port.toStdString();
        omvara.start(QStringList { "--print" } + headlessArguments(port));
        for (int i = 0; i < readings; ++i)
            values << omvara.readLine();
        EXPECT_EQ(omvara.stop(), 0) << omvara.process().readAllStandardError().toStdString();
        EXPECT_FALSE(values.contains(QString())) << values.join('|').toStdString();
        return values;
    }

    x_server::PrivateServer server;
    std::optional<x_server::UseDisplay> use;
    QTemporaryDir home;
    QProcessEnvironment env;
};

} // namespace

TEST_F(EndToEnd, simulatedBalanceValues_areTypedIntoTheFocusedXterm)
{
    const QStringList values = printedValues();
    ASSERT_FALSE(HasFailure());

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

// Two instruments on one keyboard: each connection's values arrive whole,
// behind its own stamp, in its own order, and never inside the other's.
TEST_F(EndToEnd, twoConnections_typeWholeValuesBehindTheirStampsIntoOneXterm)
{
    // What one simulated balance sends, from its start on.
    const QStringList values = printedValues();
    ASSERT_FALSE(HasFailure());

    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    Program first(env), second(env), omvara(env);
    const QString port1 = startSimulator(first);
    const QString port2 = startSimulator(second);
    ASSERT_TRUE(port1.startsWith("/dev/pts/") && port2.startsWith("/dev/pts/"));
    omvara.start({ "--headless", "--connection", "B1=" + port1, "--connection", "B2=" + port2, "--set",
        "instrument=SARTORIUS", "--set", "outputTerminator=ENTER", "--set", "delay=2", "--set",
        "B1:stampBefore=B1:", "--set", "B2:stampBefore=B2:" });

    // Wait until both have typed `readings` values (or 20 s have passed).
    QMap<QString, QStringList> typed;
    QStringList pieces;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        pieces = QString::fromLatin1(xterm.receivedNow()).split('\r');
        pieces.removeLast(); // what follows the last Enter: not a whole value yet
        typed.clear();
        for (const QString &piece : pieces)
            typed[piece.left(3)] << piece.mid(3);
        if (typed.value("B1:").size() >= readings && typed.value("B2:").size() >= readings)
            break;
        QThread::msleep(50);
    }
    const int status = omvara.stop();
    const QString log = QString::fromLocal8Bit(omvara.process().readAllStandardError());

    EXPECT_EQ(typed.keys(), (QStringList { "B1:", "B2:" })) << pieces.join('|').toStdString();
    for (const QString &stamp : { QStringLiteral("B1:"), QStringLiteral("B2:") })
        EXPECT_EQ(typed.value(stamp).mid(0, readings), values) << stamp.toStdString() << log.toStdString();
    EXPECT_EQ(status, 0) << log.toStdString();
    EXPECT_TRUE(log.contains("[B1] ") && log.contains("[B2] ")) << log.toStdString();
}
