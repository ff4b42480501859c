// SPDX-License-Identifier: GPL-3.0-or-later
// Readings typed into a real spreadsheet: LibreOffice Calc with its plain X11
// toolkit (the one that drops a fast doubled key) on an X server of the
// test's own with a window manager. Values go through the whole program (a
// test-owned pseudo-terminal -> `omvara --headless` -> X11 backend) with
// Enter after each, one column per delay; the cells are read back through
// Calc's UNO socket (calc_cells.py) and must each hold the number sent.
#include "ProgramRun.h"
#include "XServer.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using headless_test::Program;
using omvara::sim::PseudoTerminal;

namespace {

// Readings with doubled digits and signs: each kind loses a digit, or turns
// into another number, when a doubled key is dropped.
QStringList readings()
{
    const QStringList kinds { "1000", "0.001", "12.345", "-12.50", "100.05", "-0.5" };
    QStringList values;
    for (int i = 0; i < 30; ++i)
        values << kinds[i % kinds.size()];
    return values;
}

// A profile that starts without the tip of the day (a dialog that would take
// the keyboard focus) and without the first-start steps.
const char *const profileSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/Office"><prop oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>
</oor:items>
)";

// A TCP port on 127.0.0.1 that nobody listens on just now.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The Python that has the UNO bridge (Debian's python3-uno is for the system's).
QString unoPython()
{
    return QFile::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                             : QStandardPaths::findExecutable(QStringLiteral("python3"));
}

// A process of the test's own, killed with the test.
class Child
{
public:
    Child(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
        const QString &log)
    {
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(log);
        m_process.setStandardErrorFile(log, QIODevice::Append);
        m_process.start(program, arguments);
        m_started = m_process.waitForStarted(10000);
    }
    ~Child()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    bool started() const { return m_started; }
    bool running() const { return m_process.state() == QProcess::Running; }
    bool waitForFinished(int ms) { return m_process.waitForFinished(ms); }

private:
    QProcess m_process;
    bool m_started = false;
};

class Spreadsheet : public ::testing::Test
{
protected:
    void SetUp() override
    {
        headless_test::app();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(server.error().isEmpty()) << server.error().toStdString();
        for (const char *tool : { "soffice", "openbox", "xdotool" })
            ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                << tool << " is not installed (Debian: libreoffice-calc python3-uno openbox xdotool)";
        ASSERT_FALSE(unoPython().isEmpty()) << "python3 is not installed";
    }

    // Runs calc_cells.py with `arguments` after the command; its standard
    // output, or nothing with the reason in `error`.
    std::optional<QString> cells(const QStringList &arguments, int timeoutMs, QString *error)
    {
        QProcess helper;
        helper.start(unoPython(), QStringList { QStringLiteral(CALC_CELLS_SCRIPT) } + arguments);
        if (!helper.waitForFinished(timeoutMs)) {
            helper.kill();
            helper.waitForFinished(2000);
            *error = QStringLiteral("calc_cells.py %1 did not end").arg(arguments.join(' '));
            return std::nullopt;
        }
        if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0) {
            *error = QStringLiteral("calc_cells.py %1: %2")
                         .arg(arguments.join(' '),
                             QString::fromLocal8Bit(helper.readAllStandardError()).trimmed());
            return std::nullopt;
        }
        return QString::fromUtf8(helper.readAllStandardOutput());
    }

    QString log(const QString &name) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    x_server::PrivateServer server;
};

} // namespace

TEST_F(Spreadsheet, readingsWithDoubledDigits_landExactlyInCalcCells_atDelayZeroAndTheDefault)
{
    QProcessEnvironment env = server.environment();
    env.insert("HOME", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    Child windowManager("openbox", {}, env, dir.filePath("openbox.log"));
    ASSERT_TRUE(windowManager.started()) << "openbox did not start";

    // Calc in English (the point is its decimal mark), on the plain X11 toolkit.
    ASSERT_TRUE(QDir(dir.path()).mkpath("profile/user"));
    {
        QFile settings(dir.filePath("profile/user/registrymodifications.xcu"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(profileSettings);
    }
    QProcessEnvironment calcEnv = env;
    calcEnv.insert("SAL_USE_VCLPLUGIN", "gen");
    calcEnv.insert("LC_ALL", "C.UTF-8");
    const QString port = QString::number(freePort());
    Child calc("soffice",
        { "-env:UserInstallation=" + QUrl::fromLocalFile(dir.filePath("profile")).toString(), "--calc",
            "--norestore", "--nologo",
            QStringLiteral("--accept=socket,host=127.0.0.1,port=%1;urp;").arg(port) },
        calcEnv, dir.filePath("soffice.log"));
    ASSERT_TRUE(calc.started()) << "soffice did not start";
    QString error;
    ASSERT_TRUE(cells({ "ready", port, "90" }, 100000, &error))
        << "Calc did not start: " << error.toStdString() << "\n"
        << log("soffice.log").toStdString();
    ASSERT_TRUE(server.run("xdotool",
        { "search", "--sync", "--onlyvisible", "--name", "LibreOffice Calc", "windowactivate", "--sync" }))
        << "the Calc window cannot be given the focus";

    const QStringList sent = readings();
    QByteArray records;
    for (const QString &value : sent)
        records += value.toLatin1() + " g\r";
    struct Column
    {
        const char *name;
        int delay;
    };
    for (const Column column : { Column { "A", 0 }, Column { "B", 20 } }) {
        SCOPED_TRACE(std::string("delay ") + std::to_string(column.delay) + " ms, column " + column.name);
        ASSERT_TRUE(cells({ "select", port, QString::fromLatin1(column.name) + u'1' }, 20000, &error))
            << error.toStdString();
        PseudoTerminal device(false);
        Program omvara(
            { "--prefs-file", dir.filePath("prefs.txt"), "--headless", "--set", "outputTerminator=ENTER",
                "--set", QStringLiteral("delay=%1").arg(column.delay), device.devicePath() },
            [&] {
                QProcessEnvironment e = env;
                e.insert("OMVARA_KEYBOARD", "x11");
                return e;
            }());
        ASSERT_TRUE(omvara.waitForLog(headless_test::portReady)) << omvara.err.toStdString();
        device.write(records);
        // Typed at the delay: 30 values of up to 6 keys and Enter.
        const std::optional<QString> read
            = cells({ "read", port, column.name, QString::number(sent.size()), "40" }, 60000, &error);
        omvara.signal(SIGTERM);
        EXPECT_EQ(omvara.finish(), 0) << omvara.err.toStdString();
        ASSERT_TRUE(read) << error.toStdString();
        const QStringList got = read->trimmed().split('\n');
        ASSERT_EQ(got.size(), sent.size()) << read->toStdString();
        QStringList wrong;
        for (qsizetype row = 0; row < sent.size(); ++row) {
            const QString &cell = got[row];
            // Both sides read the decimal text to the nearest double.
            if (!cell.startsWith("VALUE ") || cell.mid(6).toDouble() != sent[row].toDouble())
                wrong << QStringLiteral("%1%2: sent %3, cell %4")
                             .arg(column.name)
                             .arg(row + 1)
                             .arg(sent[row], cell);
        }
        EXPECT_TRUE(wrong.isEmpty()) << wrong.join('\n').toStdString() << "\n" << omvara.err.toStdString();
    }
    cells({ "quit", port }, 10000, &error);
    calc.waitForFinished(10000);
}
