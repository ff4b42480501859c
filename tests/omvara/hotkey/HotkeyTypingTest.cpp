// SPDX-License-Identifier: GPL-3.0-or-later
// The request hotkey from outside: on an X server of the test's own, an
// xterm has the focus, `omvara --headless` reads a simulated instrument that
// sends only on request, and the hotkey pressed with xdotool asks for a
// reading, which is typed into the xterm once the hotkey's modifiers are up.
#include "PrivateXServer.h"
#include "QtPrinters.h"
#include "XtermReceiver.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>

namespace {

bool xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

QString readLine(QProcess &process)
{
    QDeadlineTimer deadline(10000);
    while (!process.canReadLine() && !deadline.hasExpired())
        process.waitForReadyRead(100);
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

bool waitForError(QProcess &process, QString &log, const QString &part)
{
    QDeadlineTimer deadline(10000);
    while (!log.contains(part) && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        log += QString::fromLocal8Bit(process.readAllStandardError());
    }
    return log.contains(part);
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

TEST(Hotkey, pressedInTheFocusedXterm_requestsAReading_typedOnceTheModifiersAreReleased)
{
    PrivateXServer server;
    if (server.display().isEmpty())
        GTEST_SKIP() << "no Xvfb to start a private X server";
    // This process and every program it starts use the private server.
    ::setenv("DISPLAY", server.display().toLocal8Bit().constData(), 1);
    ::setenv("XDG_SESSION_TYPE", "x11", 1);
    ::unsetenv("WAYLAND_DISPLAY");

    XtermReceiver xterm(server.display());
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("OMVARA_KEYBOARD", "x11");
    QProcess simulator, omvara;
    simulator.setProcessEnvironment(env);
    omvara.setProcessEnvironment(env);
    simulator.start(QStringLiteral(OMVARA_PROGRAM), { "--simulate", "MITUTOYO", "--on-request" });
    const QString port = readLine(simulator);
    ASSERT_TRUE(port.startsWith("/dev/pts/")) << port.toStdString();
    omvara.start(QStringLiteral(OMVARA_PROGRAM),
        { "--headless", "--set", "instrument=MITUTOYO", "--set", "inputTerminator=13", "--set",
            "requestHotkey=Ctrl+Alt+W", "--set", "outputTerminator=ENTER", "--set", "delay=2", port });
    ASSERT_TRUE(omvara.waitForStarted(10000));
    QString log;
    ASSERT_TRUE(waitForError(omvara, log, "The hotkey Ctrl+Alt+W asks")) << log.toStdString();

    // Held modifiers: the request waits for them, so nothing is typed yet
    // (typed now, the digits would arrive as Ctrl+Alt shortcuts).
    ASSERT_TRUE(xdotool({ "keydown", "ctrl+alt" }));
    ASSERT_TRUE(xdotool({ "key", "w" }));
    QThread::msleep(700);
    log += QString::fromLocal8Bit(omvara.readAllStandardError());
    EXPECT_FALSE(log.contains("Reading requested")) << log.toStdString();
    ASSERT_TRUE(xdotool({ "keyup", "alt", "keyup", "ctrl" }));

    const QByteArray expected = "1.1920\r"; // the first reading of the simulated gauge
    const QByteArray received = xterm.received(expected.size());
    EXPECT_TRUE(waitForError(omvara, log, "(hotkey): 1\\r")) << log.toStdString();
    stop(omvara);
    stop(simulator);
    log += QString::fromLocal8Bit(omvara.readAllStandardError());
    EXPECT_EQ(received, expected) << log.toStdString();
}
