// SPDX-License-Identifier: GPL-3.0-or-later
// Instruments beyond one cable, through the whole program without a window:
// a pseudo-terminal bridged to TCP by a real ser2net, a device that goes away
// and comes back (server restarted, link re-pointed to a new device), and
// addresses where nothing answers, servers that misbehave, and SIGPIPE.
#include "ProgramRun.h"
#include "RunRecords.h"
#include "Ser2net.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::portReady;
using headless_test::Program;
using omvara::sim::PseudoTerminal;
using run_records::numbers;
using run_records::records;
using ser2net_test::Ser2net;

namespace {

const QString waiting = QStringLiteral("Waiting for it to come back");
const QString back = QStringLiteral("is back; reading goes on");

// A TCP server of the test's own on 127.0.0.1: each connection it accepts
// is handed to `serve` on the server's thread (which closes it).
class LoopbackServer
{
public:
    explicit LoopbackServer(std::function<void(int fd, const std::atomic<bool> &stopping)> serve)
        : m_serve(std::move(serve))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listener, 16);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &length);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] {
            while (!m_stopping) {
                pollfd p { m_listener, POLLIN, 0 };
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    continue;
                ++m_connections;
                m_serve(fd, m_stopping);
            }
        });
    }
    ~LoopbackServer()
    {
        m_stopping = true;
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    int connections() const { return m_connections; }

private:
    std::function<void(int, const std::atomic<bool> &)> m_serve;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_connections { 0 };
    std::thread m_thread;
};

void sendAll(int fd, const QByteArray &bytes)
{
    (void)::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
}

class NetworkPort : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
    }
    QStringList run(const QString &port, bool reconnect) const
    {
        return { "--prefs-file", dir.filePath(QStringLiteral("prefs.txt")), "--headless", "--print", "--set",
            QStringLiteral("reconnect=%1").arg(reconnect ? "true" : "false"), port };
    }
    QTemporaryDir dir;
};

} // namespace

// Values sent by the device arrive through ser2net's raw TCP port; ser2net
// stopped during the run is the device going away: with "reconnect" off the
// run ends as today (message, exit status 1); with it on the run waits, carries
// on once ser2net is back, and every value sent afterwards arrives once. The
// same through its RFC 2217 port while requests are written every 50 ms
// (writes to the dropped connection are a lost connection, not the end of
// the program).
TEST_F(NetworkPort, throughSer2net_valuesArrive_serverRestartedWithReconnect_carriesOnOnce)
{
    struct Case
    {
        const char *name;
        bool reconnect;
        Ser2net::Mode mode;
    };
    for (const Case &c : { Case { "reconnect off", false, Ser2net::Mode::Raw },
             Case { "reconnect on", true, Ser2net::Mode::Raw },
             Case { "RFC 2217, requests, reconnect on", true, Ser2net::Mode::Rfc2217 } }) {
        SCOPED_TRACE(c.name);
        const bool reconnect = c.reconnect;
        PseudoTerminal device;
        Ser2net server(device.devicePath(), c.mode);
        QStringList arguments
            = run(server.address(c.mode == Ser2net::Mode::Raw ? "tcp" : "rfc2217"), reconnect);
        if (c.mode == Ser2net::Mode::Rfc2217)
            arguments = QStringList { "--set", "requestInterval=50", "--set", "requestCommand=P\\r\\n" }
                + arguments;
        Program program(arguments);
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err + server.log());
        device.write(records(1, 3));
        ASSERT_TRUE(program.waitForLines(3)) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), numbers(1, 3));

        server.stop();
        if (!reconnect) {
            EXPECT_EQ(program.finish(), 1);
            EXPECT_TRUE(program.err.contains(QStringLiteral("The serial device was lost")))
                << qPrintable(program.err);
            continue;
        }
        ASSERT_TRUE(program.waitForLog(waiting)) << qPrintable(program.err);
        ASSERT_TRUE(server.start());
        QElapsedTimer sinceReturn;
        sinceReturn.start();
        ASSERT_TRUE(program.waitFor([&] { return program.err.contains(back); }, 15s))
            << qPrintable(program.err);
        device.write(records(4, 6));
        ASSERT_TRUE(program.waitForLines(6)) << qPrintable(program.err);
        std::printf(
            "[ time ] ser2net back -> first value: %lld ms\n", static_cast<long long>(sinceReturn.elapsed()));
        EXPECT_EQ(program.lines(), numbers(1, 6));
        program.signal(SIGINT);
        EXPECT_EQ(program.finish(), 0);
    }
}

// A device reached through a link, as /dev/serial/by-id names one: it goes
// away in the middle of a line, and the link comes back pointing at a new
// device. The half line is reported as unsent and never printed; the run
// carries on within 2 s of the link's return. SIGINT while it waits for the
// device ends it at once with exit status 0.
TEST_F(NetworkPort, linkRepointedToANewDevice_carriesOnWithin2s_stopWhileWaitingEndsAtOnce)
{
    const QString link = dir.filePath(QStringLiteral("by-id/usb-Scale_0001-if00-port0"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("by-id"))));
    auto first = std::make_unique<PseudoTerminal>();
    ASSERT_TRUE(QFile::link(first->devicePath(), link));
    Program program(run(link, true));
    ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
    first->write(records(1, 2) + "3.");
    ASSERT_TRUE(program.waitForLines(2)) << qPrintable(program.err);
    ASSERT_TRUE(first->waitUntilRead(5s));
    std::this_thread::sleep_for(100ms); // the half line reaches the line buffer

    // Unplugged: the device and its link go; udev makes a new link for the new device.
    first.reset();
    QFile::remove(link);
    ASSERT_TRUE(program.waitForLog(waiting)) << qPrintable(program.err);
    auto second = std::make_unique<PseudoTerminal>();
    const QString made = link + QStringLiteral(".tmp");
    ASSERT_TRUE(QFile::link(second->devicePath(), made));
    ASSERT_EQ(::rename(QFile::encodeName(made).constData(), QFile::encodeName(link).constData()), 0);
    QElapsedTimer sinceReturn;
    sinceReturn.start();
    ASSERT_TRUE(program.waitFor([&] { return program.err.contains(back); }, 2s)) << qPrintable(program.err);
    second->write(records(4, 5));
    ASSERT_TRUE(program.waitForLines(4)) << qPrintable(program.err);
    std::printf(
        "[ time ] link back -> first value: %lld ms\n", static_cast<long long>(sinceReturn.elapsed()));
    EXPECT_EQ(program.lines(), (QStringList { "1", "2", "4", "5" }));
    EXPECT_TRUE(program.err.contains(QStringLiteral("not sent: 3."))) << qPrintable(program.err);

    // Gone again; Stop while the run waits.
    second.reset();
    ASSERT_TRUE(program.waitFor([&] { return program.err.count(waiting) == 2; })) << qPrintable(program.err);
    QElapsedTimer stopping;
    stopping.start();
    program.signal(SIGINT);
    EXPECT_EQ(program.finish(), 0);
    EXPECT_LT(stopping.elapsed(), 1000);
}

// Nothing listens at the address, or the address takes the connection
// attempt and never answers (a listener whose backlog is full): a message that
// names the address and says what happened, within the bound of the
// connection attempt, and exit status 1. Stop during the attempt ends it.
TEST_F(NetworkPort, nothingListensOrNoAnswer_clearMessageWithinTheBound_exitStatus1)
{
    const int refused = ser2net_test::freePort();
    // A listener that takes no connection: its queue is full after the first two.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &length);
    int fillers[3];
    for (int &f : fillers) {
        f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    std::this_thread::sleep_for(200ms);

    struct Case
    {
        QString address;
        QString says;
        int withinMs;
    };
    const Case cases[] = {
        { QStringLiteral("tcp://127.0.0.1:%1").arg(refused), QStringLiteral("Connection refused"), 3000 },
        { QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port)), QStringLiteral("No answer"), 8000 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.address));
        QElapsedTimer timer;
        timer.start();
        Program program(run(c.address, false));
        EXPECT_EQ(program.finish(20s), 1);
        EXPECT_LT(timer.elapsed(), c.withinMs);
        EXPECT_TRUE(program.err.contains(c.address + QStringLiteral(": SerOpenPort failed: ") + c.says))
            << qPrintable(program.err);
    }
    // Stop during the attempt ends it at once, as a stop.
    {
        Program program(run(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port)), false));
        std::this_thread::sleep_for(500ms);
        QElapsedTimer stopping;
        stopping.start();
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_LT(stopping.elapsed(), 2000);
        EXPECT_FALSE(program.err.contains(QStringLiteral("SerOpenPort failed"))) << qPrintable(program.err);
    }
    for (int f : fillers)
        ::close(f);
    ::close(listener);
}

// A server that accepts and closes at once, after a complaint without a
// value (as ser2net does when it cannot open its device): the pause before
// each new connection grows (a handful of connections in 3 s, not thousands),
// the stretch is logged once and the device does not count as back. Once a
// connection holds, the device is back (told once) and its values arrive.
TEST_F(NetworkPort, serverClosingEachConnectionAtOnce_pauseGrows_toldOnce_backOnceAConnectionHolds)
{
    std::atomic<bool> holds { false };
    LoopbackServer server([&](int fd, const std::atomic<bool> &stopping) {
        if (!holds) {
            sendAll(fd, "Device open failure: Device or resource busy\r\n");
            ::close(fd);
            return;
        }
        sendAll(fd, records(1, 3));
        while (!stopping)
            std::this_thread::sleep_for(20ms);
        ::close(fd);
    });
    const QString earlyStretch = QStringLiteral("after it was made, before any value arrived");
    Program program(run(QStringLiteral("tcp://127.0.0.1:%1").arg(server.port()), true));
    program.waitFor([] { return false; }, 3s);
    std::printf("[ count ] connections in 3 s: %d, log lines: %lld\n", server.connections(),
        static_cast<long long>(program.err.count(u'\n')));
    EXPECT_GE(server.connections(), 2) << qPrintable(program.err);
    EXPECT_LE(server.connections(), 5) << qPrintable(program.err.left(4000));
    EXPECT_EQ(program.err.count(earlyStretch), 1) << qPrintable(program.err.left(4000));
    EXPECT_EQ(program.err.count(back), 0) << qPrintable(program.err.left(4000));
    EXPECT_LE(program.err.count(waiting), 1) << qPrintable(program.err.left(4000));
    EXPECT_LT(program.err.count(u'\n'), 60) << "the log of 3 s";

    holds = true;
    ASSERT_TRUE(program.waitFor([&] { return program.lines().size() >= 3; }, 10s)) << qPrintable(program.err);
    EXPECT_EQ(program.lines(), numbers(1, 3));
    EXPECT_EQ(program.err.count(back), 1) << qPrintable(program.err);
    EXPECT_EQ(program.err.count(earlyStretch), 1);
    program.signal(SIGINT);
    EXPECT_EQ(program.finish(), 0);
}

// Servers that do not do what the address promises, and addresses that
// cannot be right: each is told in plain words, soon, with exit status 1.
TEST_F(NetworkPort, misbehavingServersAndBadAddresses_eachToldInPlainWords)
{
    LoopbackServer closing([](int fd, const std::atomic<bool> &) { ::close(fd); });
    LoopbackServer silent([](int fd, const std::atomic<bool> &stopping) {
        for (int i = 0; i < 300 && !stopping; ++i)
            std::this_thread::sleep_for(20ms);
        ::close(fd);
    });
    // A raw port whose device talks: bytes, never the COM-port option.
    LoopbackServer talking([](int fd, const std::atomic<bool> &stopping) {
        for (int i = 0; i < 300 && !stopping; ++i) {
            sendAll(fd, records(1, 1));
            std::this_thread::sleep_for(20ms);
        }
        ::close(fd);
    });
    struct Case
    {
        QString address;
        QString says;
        int withinMs;
    };
    const QString noOption = QStringLiteral("does not answer the COM-port option (RFC 2217)");
    const Case cases[] = {
        { QStringLiteral("tcp://127.0.0.1:0"), QStringLiteral("The port number 0 is out of range"), 2000 },
        { QStringLiteral("rfc2217://127.0.0.1:70000"),
            QStringLiteral("The port number 70000 is out of range"), 2000 },
        { QStringLiteral("rfc2217://127.0.0.1,%1:9").arg(closing.port()),
            QStringLiteral("\"127.0.0.1,%1\" is not a host name or address").arg(closing.port()), 2000 },
        { QStringLiteral("rfc2217://127.0.0.1:%1").arg(closing.port()),
            QStringLiteral("took the link and closed it at once"), 2000 },
        { QStringLiteral("rfc2217://127.0.0.1:%1").arg(talking.port()), noOption, 7000 },
        { QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port()), noOption, 7000 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.address));
        QElapsedTimer timer;
        timer.start();
        Program program(run(c.address, false));
        EXPECT_EQ(program.finish(20s), 1);
        EXPECT_LT(timer.elapsed(), c.withinMs);
        EXPECT_TRUE(program.err.contains(c.says)) << qPrintable(program.err);
    }
}

// SIGPIPE (what a write to a connection the other end dropped raises) ends
// neither a headless run nor the simulator.
TEST_F(NetworkPort, sigpipe_endsNeitherAHeadlessRunNorTheSimulator)
{
    PseudoTerminal device;
    Program headless(run(device.devicePath(), false));
    ASSERT_TRUE(headless.waitForLog(portReady)) << qPrintable(headless.err);
    Program simulator({ "--simulate", "GENERIC", "--interval", "100" });
    ASSERT_TRUE(simulator.waitFor([&] { return simulator.out.contains(QStringLiteral("/dev/pts/")); }));
    headless.signal(SIGPIPE);
    simulator.signal(SIGPIPE);
    // Waiting lets each process object see an end.
    EXPECT_FALSE(headless.waitFor([] { return false; }, 300ms) || !headless.running())
        << "SIGPIPE ended the run";
    EXPECT_FALSE(simulator.waitFor([] { return false; }, 300ms) || !simulator.running())
        << "SIGPIPE ended the simulator";
    device.write(records(1, 2));
    ASSERT_TRUE(headless.waitForLines(2)) << qPrintable(headless.err);
    headless.signal(SIGINT);
    EXPECT_EQ(headless.finish(), 0);
    simulator.signal(SIGINT);
    simulator.finish();
}
