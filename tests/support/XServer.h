// SPDX-License-Identifier: GPL-3.0-or-later
// An X server of one test's own, for every test that changes what the
// display holds: its keymap and layout, the keyboard focus, Caps Lock, a
// tray. On a shared display such a change outlives the test and reaches
// the next one; on its own server it ends with the test.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/prctl.h>

namespace x_server {

// Xvfb on a display number it picks itself (-displayfd: no two tests can
// take the same one). It keeps its keymap when its last client disconnects
// (-noreset); without that Xvfb would go back to its built-in US keymap
// before the next client connects. It ends with this object, or with the
// test process if that dies first.
class PrivateServer
{
public:
    explicit PrivateServer(const QString &screen = QStringLiteral("1280x1024x24"))
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
            m_error = QStringLiteral("Xvfb is not installed");
            return;
        }
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        // The display number arrives on the standard output once the server accepts clients.
        m_server.start(QStringLiteral("Xvfb"),
            { "-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", screen });
        if (!m_server.waitForStarted(5000)) {
            m_error = QStringLiteral("Xvfb did not start");
            return;
        }
        QDeadlineTimer deadline(15000);
        while (!m_server.canReadLine() && !deadline.hasExpired() && m_server.state() == QProcess::Running)
            m_server.waitForReadyRead(100);
        const QString number = QString::fromLatin1(m_server.readLine()).trimmed();
        if (number.isEmpty())
            m_error = QStringLiteral("Xvfb named no display");
        else
            m_display = QLatin1Char(':') + number;
    }
    ~PrivateServer() { kill(); }
    PrivateServer(const PrivateServer &) = delete;
    PrivateServer &operator=(const PrivateServer &) = delete;

    // ":N" once the server accepts clients; empty when it could not be started (see error()).
    const QString &display() const { return m_display; }
    QString error() const { return m_error; }

    // This process's environment for an X client of this server: DISPLAY
    // names it, and nothing points a client at a Wayland display or another
    // Qt platform instead.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }

    // Runs an X client (xdotool, setxkbmap, ...) on this server; true when it
    // ends with status 0 within 10 s. `output`: its standard output.
    bool run(const QString &program, const QStringList &arguments, QString *output = nullptr) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
        if (output)
            *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        return ok;
    }

    // setxkbmap: `layouts` and `variants` as comma-separated lists ("us,de").
    bool setLayout(const QString &layouts, const QString &variants = QString()) const
    {
        QStringList args { "-display", m_display, "-layout", layouts };
        if (!variants.isEmpty())
            args << "-variant" << variants;
        return run(QStringLiteral("setxkbmap"), args);
    }

    void kill()
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

private:
    QProcess m_server;
    QString m_display;
    QString m_error;
};

// Points this process at `server` for its lifetime, for code that finds
// the display by itself (XOpenDisplay(nullptr), the X11 key injector, child
// processes started with the process environment). The variables are
// restored when it ends. Not for tests that run threads reading the
// environment meanwhile.
class UseDisplay
{
public:
    explicit UseDisplay(const PrivateServer &server)
    {
        set("DISPLAY", server.display());
        set("XDG_SESSION_TYPE", QStringLiteral("x11"));
        set("WAYLAND_DISPLAY", std::nullopt);
        set("QT_QPA_PLATFORM", std::nullopt);
    }
    ~UseDisplay()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first, it->second->c_str(), 1);
            else
                ::unsetenv(it->first);
        }
    }
    UseDisplay(const UseDisplay &) = delete;
    UseDisplay &operator=(const UseDisplay &) = delete;

private:
    void set(const char *name, const std::optional<QString> &value)
    {
        const char *old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value->toLocal8Bit().constData(), 1);
        else
            ::unsetenv(name);
    }

    std::vector<std::pair<const char *, std::optional<std::string>>> m_saved;
};

} // namespace x_server
