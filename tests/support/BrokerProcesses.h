// SPDX-License-Identifier: GPL-3.0-or-later
// A real MQTT broker (mosquitto) and subscriber (mosquitto_sub) on 127.0.0.1,
// each started and stopped by the test with its own configuration, and a TCP
// relay of the test's own that can cut the network path between a publisher
// and the broker. Shared by the run and whole-program tests.
//
// The programs are started with posix_spawn, not QProcess: the thread
// sanitizer follows that, but not the start in the parent's own memory that
// QProcess uses (it then reports races that are none).
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern "C" char **environ;

namespace broker_test {

using namespace std::chrono_literals;

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// Whether something accepts connections on 127.0.0.1:`port`.
inline bool accepting(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// A program started with posix_spawn, its standard output and error going
// to `output` (or nowhere); ended with SIGTERM (then SIGKILL) when destroyed.
class Child
{
public:
    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() { stop(); }

    bool start(const QString &program, const QStringList &arguments, const QString &output = QString())
    {
        std::vector<QByteArray> args { program.toLocal8Bit() };
        for (const QString &a : arguments)
            args.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const QByteArray out = output.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(output);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return m_pid > 0;
    }
    bool running()
    {
        int status = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return m_pid > 0;
    }
    // The exit status; -1 when it was killed or still runs after `timeout`.
    int wait(std::chrono::milliseconds timeout = 10s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (running()) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(5ms);
        }
        return m_status;
    }
    void stop()
    {
        if (!running())
            return;
        ::kill(m_pid, SIGTERM);
        if (wait(5s) == -1 && running()) {
            ::kill(m_pid, SIGKILL);
            wait(5s);
        }
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// A mosquitto broker run from a configuration of the test's own in `folder`.
class MosquittoBroker
{
public:
    // `listeners` is the configuration's own part: at least one
    // "listener PORT 127.0.0.1" line, with TLS or persistence options where wanted.
    MosquittoBroker(QString folder, QString listeners)
        : m_folder(std::move(folder))
        , m_listeners(std::move(listeners))
    {
    }
    ~MosquittoBroker() { stop(); }

    // Starts the broker and waits until `port` accepts connections.
    bool start(int port)
    {
        const QString config = QDir(m_folder).filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        // No limit on what waits for a slow subscriber: the tests count every message.
        QByteArray text = m_listeners.toUtf8() + "\nallow_anonymous true\nmax_queued_messages 0\n";
        text += "log_dest file " + QDir(m_folder).filePath(QStringLiteral("mosquitto.log")).toUtf8() + "\n";
        if (::geteuid() == 0)
            text += "user root\n"; // else it drops to "mosquitto", who cannot read the test's files
        file.write(text);
        file.close();
        if (!m_process.start(QStringLiteral("mosquitto"), { QStringLiteral("-c"), config }))
            return false;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!accepting(port)) {
            if (std::chrono::steady_clock::now() > deadline || !m_process.running())
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    void stop() { m_process.stop(); }
    QString log() const
    {
        QFile file(QDir(m_folder).filePath(QStringLiteral("mosquitto.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString m_folder;
    QString m_listeners;
    Child m_process;
};

// A mosquitto_sub subscriber of `topic` (QoS 1), collecting the payloads.
// With a `sessionId` its session outlives its connection (the broker keeps
// what arrives meanwhile); it reconnects by itself after a loss.
class Subscriber
{
public:
    Subscriber(int port, QString topic, const QString &sessionId = QString())
        : m_port(port)
        , m_topic(std::move(topic))
    {
        QStringList arguments = { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
            QString::number(port), QStringLiteral("-t"), m_topic, QStringLiteral("-t"), probeTopic(),
            QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-v") };
        if (!sessionId.isEmpty())
            arguments << QStringLiteral("-c") << QStringLiteral("-i") << sessionId;
        // It writes out each message at once; the file is read as it grows.
        m_process.start(QStringLiteral("mosquitto_sub"), arguments, received());
    }

    // Waits until the subscription works: probes are published until one arrives.
    bool waitUntilSubscribed()
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            Child probe;
            probe.start(QStringLiteral("mosquitto_pub"),
                { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                    QString::number(m_port), QStringLiteral("-t"), probeTopic(), QStringLiteral("-m"),
                    QStringLiteral("probe"), QStringLiteral("-q"), QStringLiteral("1") });
            probe.wait();
            collect(100ms);
            if (m_out.contains((probeTopic() + QStringLiteral(" probe\n")).toUtf8()))
                return true;
        }
        return false;
    }

    // Reads what arrived, after waiting `wait`.
    void collect(std::chrono::milliseconds wait = 0ms)
    {
        std::this_thread::sleep_for(wait);
        QFile file(received());
        if (file.open(QIODevice::ReadOnly))
            m_out = file.readAll();
    }

    // The payloads on the topic, as JSON objects, in the order they arrived.
    std::vector<QJsonObject> messages()
    {
        collect();
        std::vector<QJsonObject> out;
        const QByteArray prefix = m_topic.toUtf8() + ' ';
        for (const QByteArray &line : m_out.split('\n'))
            if (line.startsWith(prefix))
                out.push_back(QJsonDocument::fromJson(line.mid(prefix.size())).object());
        return out;
    }

    // The "seq" of each message once, in the order first seen (the repeats of
    // at-least-once delivery dropped, as a subscriber would).
    std::vector<qint64> seqsOnce()
    {
        std::vector<qint64> out;
        std::set<qint64> seen;
        for (const QJsonObject &m : messages()) {
            const qint64 seq = m.value(QStringLiteral("seq")).toInteger(-1);
            if (seen.insert(seq).second)
                out.push_back(seq);
        }
        return out;
    }

    bool waitForSeqs(std::size_t count, std::chrono::milliseconds timeout = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (seqsOnce().size() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            collect(50ms);
        }
        return true;
    }

private:
    QString probeTopic() const { return QStringLiteral("omvara-test/probe"); }
    QString received() const { return m_dir.filePath(QStringLiteral("received")); }

    int m_port;
    QString m_topic;
    QTemporaryDir m_dir;
    Child m_process; // after m_dir: it ends before its file goes
    QByteArray m_out;
};

// 1, 2, ..., n.
inline std::vector<qint64> oneTo(qint64 n)
{
    std::vector<qint64> out;
    for (qint64 i = 1; i <= n; ++i)
        out.push_back(i);
    return out;
}

// A TCP relay from 127.0.0.1:port() to 127.0.0.1:`target`. cut() drops every
// connection and refuses new ones (nothing listens) until mend().
class TcpRelay
{
public:
    explicit TcpRelay(int target)
        : m_target(target)
    {
        if (::pipe2(m_wake, O_CLOEXEC) != 0)
            m_wake[0] = m_wake[1] = -1;
        listen(0);
        m_thread = std::thread([this] { run(); });
    }
    ~TcpRelay()
    {
        command('q');
        m_thread.join();
        for (const auto &[a, b] : m_pairs) {
            ::close(a);
            ::close(b);
        }
        if (m_listener >= 0)
            ::close(m_listener);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }

    int port() const { return m_port; }
    void cut() { command('c'); }
    void mend() { command('m'); }

private:
    void command(char c)
    {
        std::unique_lock lock(m_mutex);
        m_done = false;
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &c, 1);
        // Waits until the relay's thread has carried it out.
        while (!m_done && c != 'q') {
            lock.unlock();
            std::this_thread::sleep_for(5ms);
            lock.lock();
        }
    }

    void listen(int port)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 16);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
    }

    int connectToTarget() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(m_target));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void dropAll()
    {
        for (const auto &[a, b] : m_pairs) {
            ::close(a);
            ::close(b);
        }
        m_pairs.clear();
    }

    void run()
    {
        for (;;) {
            std::vector<pollfd> fds { { m_wake[0], POLLIN, 0 } };
            if (m_listener >= 0)
                fds.push_back({ m_listener, POLLIN, 0 });
            const std::size_t first = fds.size();
            for (const auto &[a, b] : m_pairs) {
                fds.push_back({ a, POLLIN, 0 });
                fds.push_back({ b, POLLIN, 0 });
            }
            if (::poll(fds.data(), fds.size(), 1000) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                char c = 0;
                [[maybe_unused]] ssize_t n = ::read(m_wake[0], &c, 1);
                if (c == 'q')
                    return;
                if (c == 'c') {
                    dropAll();
                    ::close(m_listener);
                    m_listener = -1;
                } else if (c == 'm' && m_listener < 0) {
                    listen(m_port);
                }
                std::lock_guard lock(m_mutex);
                m_done = true;
                continue;
            }
            // Pairs accepted below were not polled this round.
            const std::size_t polled = m_pairs.size();
            if (first == 2 && (fds[1].revents & POLLIN)) {
                const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                const int server = client >= 0 ? connectToTarget() : -1;
                if (server >= 0)
                    m_pairs.emplace_back(client, server);
                else if (client >= 0)
                    ::close(client);
            }
            std::vector<std::pair<int, int>> kept;
            for (std::size_t i = 0; i < m_pairs.size(); ++i) {
                if (i >= polled) {
                    kept.push_back(m_pairs[i]);
                    continue;
                }
                bool open = true;
                for (int side = 0; side < 2 && open; ++side) {
                    const pollfd &p = fds[first + 2 * i + std::size_t(side)];
                    if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
                        continue;
                    const int from = side == 0 ? m_pairs[i].first : m_pairs[i].second;
                    const int to = side == 0 ? m_pairs[i].second : m_pairs[i].first;
                    char buffer[16384];
                    const ssize_t n = ::read(from, buffer, sizeof buffer);
                    open = n > 0 && ::send(to, buffer, std::size_t(n), MSG_NOSIGNAL) == n;
                }
                if (open) {
                    kept.push_back(m_pairs[i]);
                } else {
                    ::close(m_pairs[i].first);
                    ::close(m_pairs[i].second);
                }
            }
            m_pairs = std::move(kept);
        }
    }

    int m_target;
    int m_port = 0;
    int m_listener = -1;
    int m_wake[2] = { -1, -1 };
    std::vector<std::pair<int, int>> m_pairs;
    std::thread m_thread;
    std::mutex m_mutex;
    bool m_done = false;
};

// What the broker's messages must hold: every value once, in order of seq,
// from one run, with the value, the port and an ISO 8601 time with offset,
// and as typed the value followed by `stampAfter` with "{seq}" its seq.
// Returns what is wrong, empty when nothing.
inline QString checkMessages(const std::vector<QJsonObject> &messages, const QStringList &values,
    const QString &port, const QString &stampAfter = {})
{
    QString run;
    std::set<qint64> seen;
    for (const QJsonObject &m : messages) {
        const qint64 seq = m.value(QStringLiteral("seq")).toInteger(-1);
        if (seq < 1 || seq > values.size())
            return QStringLiteral("seq out of range: %1").arg(seq);
        if (m.value(QStringLiteral("value")).toString() != values[seq - 1])
            return QStringLiteral("seq %1 carries %2")
                .arg(seq)
                .arg(m.value(QStringLiteral("value")).toString());
        const QString typed
            = values[seq - 1] + QString(stampAfter).replace(QStringLiteral("{seq}"), QString::number(seq));
        if (m.value(QStringLiteral("typed")).toString() != typed)
            return QStringLiteral("seq %1 typed %2")
                .arg(seq)
                .arg(m.value(QStringLiteral("typed")).toString());
        if (m.value(QStringLiteral("port")).toString() != port)
            return QStringLiteral("port %1").arg(m.value(QStringLiteral("port")).toString());
        const QString time = m.value(QStringLiteral("time")).toString();
        static const QRegularExpression iso(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
        if (!iso.match(time).hasMatch())
            return QStringLiteral("time %1").arg(time);
        const QString thisRun = m.value(QStringLiteral("run")).toString();
        if (run.isEmpty())
            run = thisRun;
        if (thisRun != run || run.isEmpty())
            return QStringLiteral("runs %1 and %2").arg(run, thisRun);
        seen.insert(seq);
    }
    return QString();
}

} // namespace broker_test
