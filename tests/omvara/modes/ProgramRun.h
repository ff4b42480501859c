// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One run of the program (OMVARA_EXE) with its two output streams collected.

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <functional>

namespace headless_test {

using namespace std::chrono_literals;

// One run of the program with its two output streams collected.
class Program
{
public:
    explicit Program(const QStringList &arguments,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
        : Program(QStringLiteral(OMVARA_EXE), arguments, env)
    {
    }
    // `program` starts the program itself in the end (a wrapper that execs it).
    Program(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(env);
        m_process.start(program, arguments);
        m_process.waitForStarted(10000);
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Waits until `done` holds for what arrived so far, or the time-out.
    bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout = 10s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            collect();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= deadline || m_process.state() == QProcess::NotRunning) {
                collect();
                return done();
            }
            m_process.waitForReadyRead(20);
        }
    }
    bool waitForLog(const QString &part)
    {
        return waitFor([&] { return err.contains(part); });
    }
    bool waitForLines(int count)
    {
        return waitFor([&] { return lines().size() >= count; });
    }

    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // The exit status, -1 when it did not end within the time-out.
    int finish(std::chrono::milliseconds timeout = 10s)
    {
        if (!m_process.waitForFinished(int(timeout.count())))
            return -1;
        collect();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QStringList lines() const
    {
        return out.isEmpty() ? QStringList() : out.chopped(out.endsWith(u'\n') ? 1 : 0).split(u'\n');
    }

    QString out;
    QString err;

private:
    void collect()
    {
        out += QString::fromUtf8(m_process.readAllStandardOutput());
        err += QString::fromUtf8(m_process.readAllStandardError());
    }
    QProcess m_process;
};

// The event loop the runs need: one for the whole test program.
inline QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_headless_test";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return *instance;
}

// The log line written once the port is open and its old input discarded.
inline const QString portReady = QStringLiteral("RTS: off, DTR: on.");

} // namespace headless_test
