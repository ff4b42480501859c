// SPDX-License-Identifier: GPL-3.0-or-later
// Instruments beyond one cable, through the whole program without a window:
// a pseudo-terminal bridged to TCP by a real ser2net, a device that goes away
// and comes back (server restarted, link re-pointed to a new device), and
// addresses where nothing answers.
#include "ProgramRun.h"
#include "RunRecords.h"
#include "Ser2net.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::Program;
using headless_test::portReady;
using omvara::sim::PseudoTerminal;
using run_records::numbers;
using run_records::records;
using ser2net_test::Ser2net;

namespace {

const QString waiting = QStringLiteral("Waiting for it to come back");
const QString back = QStringLiteral("is back; reading goes on");

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
// on once ser2net is back, and every value sent afterwards arrives once.
TEST_F(NetworkPort, throughSer2net_valuesArrive_serverRestartedWithReconnect_carriesOnOnce)
{
    for (const bool reconnect : { false, true }) {
        SCOPED_TRACE(reconnect ? "reconnect on" : "reconnect off");
        PseudoTerminal device;
        Ser2net server(device.devicePath());
        Program program(run(server.address(), reconnect));
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err + server.log());
        device.write(records(1, 3));
        ASSERT_TRUE(program.waitForLines(3)) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), numbers(1, 3));

        server.stop();
        if (!reconnect) {
            EXPECT_EQ(program.finish(), 1);
            EXPECT_TRUE(program.err.contains(QStringLiteral("The serial device was lost"))) << qPrintable(program.err);
            continue;
        }
        ASSERT_TRUE(program.waitForLog(waiting)) << qPrintable(program.err);
        ASSERT_TRUE(server.start());
        QElapsedTimer sinceReturn;
        sinceReturn.start();
        ASSERT_TRUE(program.waitFor([&] { return program.err.contains(back); }, 15s)) << qPrintable(program.err);
        device.write(records(4, 6));
        ASSERT_TRUE(program.waitForLines(6)) << qPrintable(program.err);
        std::printf("[ time ] ser2net back -> first value: %lld ms\n", static_cast<long long>(sinceReturn.elapsed()));
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
    std::printf("[ time ] link back -> first value: %lld ms\n", static_cast<long long>(sinceReturn.elapsed()));
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
