// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

// An xterm on an X display (empty: the current one) that keeps every byte
// typed into it: its terminal is in raw mode without echo and `cat` copies
// the input to a file, so Enter arrives as "\r", Tab as "\t", cursor and
// function keys as their escape sequences, other characters in UTF-8. The
// window gets the keyboard focus and the pointer.
class XtermReceiver
{
public:
    // `name` tells two receivers of one test apart (window titles).
    explicit XtermReceiver(const QString &display = QString(), const QString &name = QString())
    {
        if (!m_dir.isValid())
            return;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        m_xterm.setProcessEnvironment(env);
        m_env = env;
        const QString ready = m_dir.filePath("ready");
        const QString script = QStringLiteral("stty raw -echo; : > '%1'; exec cat > '%2'")
                                   .arg(ready, m_dir.filePath("received"));
        m_title = QStringLiteral("omvara-receiver-%1%2").arg(QCoreApplication_pid()).arg(name);
        m_xterm.start(
            "xterm", { "-u8", "-title", m_title, "-geometry", "80x10+0+0", "-e", "sh", "-c", script });
        if (!m_xterm.waitForStarted(5000))
            return;
        QDeadlineTimer deadline(10000);
        while (!QFile::exists(ready) && !deadline.hasExpired())
            QThread::msleep(20);
        if (!QFile::exists(ready))
            return;
        m_ready = focus();
    }

    ~XtermReceiver()
    {
        m_xterm.terminate();
        if (!m_xterm.waitForFinished(3000)) {
            m_xterm.kill();
            m_xterm.waitForFinished(3000);
        }
    }

    bool ready() const { return m_ready; }
    const QString &title() const { return m_title; }
    // Everything received so far, at once.
    QByteArray receivedNow() const { return read(); }
    QString error() const { return m_error; }

    // Gives the xterm the focus and the pointer (keys go to the focus; with no
    // window manager the focus follows the pointer).
    bool focus()
    {
        QProcess xdotool;
        xdotool.setProcessEnvironment(m_env);
        xdotool.start("xdotool",
            { "search", "--sync", "--onlyvisible", "--name", "^" + m_title + "$", "windowfocus", "--sync",
                "%1", "mousemove", "--window", "%1", "40", "40" });
        if (!xdotool.waitForFinished(10000) || xdotool.exitCode() != 0) {
            m_error = "xdotool: " + QString::fromLocal8Bit(xdotool.readAllStandardError());
            return false;
        }
        return true;
    }

    // Everything received so far, after waiting (at most 10 s) until at
    // least `bytes` bytes have arrived and then no more for 200 ms.
    QByteArray received(qsizetype bytes)
    {
        QDeadlineTimer deadline(10000);
        QByteArray data = read();
        while (data.size() < bytes && !deadline.hasExpired()) {
            QThread::msleep(20);
            data = read();
        }
        QThread::msleep(200);
        return read();
    }

private:
    static qint64 QCoreApplication_pid() { return static_cast<qint64>(::getpid()); }

    QByteArray read() const
    {
        QFile file(m_dir.filePath("received"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    QProcess m_xterm;
    QProcessEnvironment m_env;
    QString m_title;
    QString m_error = QStringLiteral("xterm did not start");
    bool m_ready = false;
};
