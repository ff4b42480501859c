// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// An X server of the test's own (Xvfb), on a display number it picks itself,
// so that no other test's keymap or focus reaches it. It keeps its keymap
// when its last client disconnects (-noreset); without that Xvfb would go
// back to its built-in US keymap before the next client connects.
class PrivateXServer
{
public:
    PrivateXServer()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return;
        // The display number arrives on the standard output once the server accepts clients.
        m_server.start(QStringLiteral("Xvfb"),
            { "-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", "1024x768x24" });
        if (!m_server.waitForStarted(5000))
            return;
        QDeadlineTimer deadline(15000);
        while (!m_server.canReadLine() && !deadline.hasExpired() && m_server.state() == QProcess::Running)
            m_server.waitForReadyRead(100);
        const QString number = QString::fromLatin1(m_server.readLine()).trimmed();
        if (!number.isEmpty())
            m_display = QLatin1Char(':') + number;
    }
    ~PrivateXServer() { kill(); }
    PrivateXServer(const PrivateXServer &) = delete;
    PrivateXServer &operator=(const PrivateXServer &) = delete;

    // ":N" once the server answers; empty when it could not be started.
    const QString &display() const { return m_display; }

    // This process's environment with DISPLAY naming this server.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        return env;
    }

    // setxkbmap: `layouts` and `variants` as comma-separated lists ("us,de").
    bool setLayout(const QString &layouts, const QString &variants = QString()) const
    {
        QStringList args { "-display", m_display, "-layout", layouts };
        if (!variants.isEmpty())
            args << "-variant" << variants;
        QProcess setxkbmap;
        setxkbmap.start(QStringLiteral("setxkbmap"), args);
        return setxkbmap.waitForFinished(10000) && setxkbmap.exitStatus() == QProcess::NormalExit
            && setxkbmap.exitCode() == 0;
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
};
