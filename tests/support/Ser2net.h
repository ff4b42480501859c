// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A network serial server for tests: ser2net (Debian package ser2net) run as
// the test's own process on 127.0.0.1, bridging a pseudo-terminal to a TCP
// port, in raw mode (tcp://) or with the telnet COM-port option (rfc2217://).

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ser2net_test {

using namespace std::chrono_literals;

// A TCP port on 127.0.0.1 that nothing listens on right now.
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

// True while something listens on 127.0.0.1:port (read from /proc, so that
// looking does not make ser2net open its device).
inline bool listening(int port)
{
    QFile tcp(QStringLiteral("/proc/net/tcp"));
    if (!tcp.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local
        = QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : tcp.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f[1] == local && f[3] == "0A")
            return true;
    }
    return false;
}

class Ser2net
{
public:
    enum class Mode { Raw, Rfc2217 };

    // Serves `device` (a pty path) on 127.0.0.1:port() at 9600 8N1.
    explicit Ser2net(const QString &device, Mode mode = Mode::Raw)
        : m_port(freePort())
    {
        QFile config(m_dir.filePath(QStringLiteral("ser2net.yaml")));
        config.open(QIODevice::WriteOnly);
        // nouucplock: the test's ptys need no lock files (and root's /var/lock is not the test's).
        config.write(QStringLiteral("connection: &dev\n"
                                    "  accepter: %1tcp,127.0.0.1,%2\n"
                                    "  connector: serialdev(nouucplock),%3,9600n81,local\n")
                         .arg(mode == Mode::Rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                         .arg(m_port)
                         .arg(device)
                         .toUtf8());
        config.close();
        start();
    }
    ~Ser2net() { stop(); }

    int port() const { return m_port; }
    QString address(const char *scheme = "tcp") const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(m_port);
    }

    // Starts the server and waits until it listens; false when it did not.
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("ser2net.log")), QIODevice::Append);
        m_process.start(QStringLiteral("ser2net"),
            { "-n", "-d", "-c", m_dir.filePath(QStringLiteral("ser2net.yaml")), "-P",
                m_dir.filePath(QStringLiteral("ser2net.pid")) });
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 500; ++i) {
            if (listening(m_port))
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // Ends the server (and every connection it holds).
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString log() const
    {
        QFile f(m_dir.filePath(QStringLiteral("ser2net.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QTemporaryDir m_dir;
    int m_port;
    QProcess m_process;
};

} // namespace ser2net_test
