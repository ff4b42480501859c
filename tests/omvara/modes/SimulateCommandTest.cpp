// SPDX-License-Identifier: GPL-3.0-or-later
// The simulate mode (`omvara --simulate INSTRUMENT ...`) on a real
// pseudo-terminal: its command line, its records and its stop signal.
#include "omvara/modes/SimulateCommand.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/sim/InstrumentRecords.h"
#include "omvara/sim/InstrumentSimulator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using omvara::sim::InstrumentRecords;
using omvara::sim::InstrumentSimulator;
using Instrument = omvara::config::ConfigHelper::Instrument;

TEST(SimulateCommand, refusesBadArgumentsWithStatus2)
{
    struct Case
    {
        QStringList args;
    };
    const Case cases[] = {
        { { "--simulate" } },
        { { "--simulate", "NO_SUCH_SCALE" } },
        { { "--simulate", "SARTORIUS", "--interval", "soon" } },
        { { "--simulate", "SARTORIUS", "--count", "-1" } },
        { { "--simulate", "SARTORIUS", "--colour", "red" } },
    };
    for (const Case &c : cases) {
        std::FILE *sink = std::tmpfile();
        EXPECT_EQ(omvara::modes::runSimulator(c.args, sink, sink), 2) << qPrintable(c.args.join(u' '));
        std::fclose(sink);
    }
}

TEST(SimulateCommand, printsThePathThenSendsCountRecordsOnceThePortIsOpen)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE *out = ::fdopen(pipeFds[1], "w");
    std::FILE *err = std::tmpfile();
    int status = -1;
    std::thread simulator([&] {
        status = omvara::modes::runSimulator(
            { "--simulate", "SARTORIUS", "--interval", "5", "--count", "3" }, out, err);
        std::fclose(out);
    });
    char path[256] = {};
    std::FILE *in = ::fdopen(pipeFds[0], "r");
    ASSERT_NE(std::fgets(path, sizeof path, in), nullptr);
    path[std::strcspn(path, "\n")] = 0;
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << path;
    QByteArray got;
    const QList<QByteArray> expected = InstrumentSimulator(QStringLiteral("SARTORIUS")).firstRecords(3);
    const QByteArray all = expected.join();
    while (got.size() < all.size()) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 3000) <= 0)
            break;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    simulator.join();
    ::close(fd);
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(got, all);
}

// --interval 0 sends as fast as the port is read; a reader that stops
// reading with the terminal's buffer full must not hold the simulator after
// its stop signal (it used to wait in write() for ever).
TEST(SimulateCommand, fullSpeedSequence_arrivesInOrder_andAStopEndsAWriteThatWaitsForTheReader)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE *out = ::fdopen(pipeFds[1], "w");
    std::FILE *err = std::tmpfile();
    int status = -1;
    std::thread simulator([&] {
        status = omvara::modes::runSimulator(
            { "--simulate", "GENERIC", "--interval", "0", "--sequence" }, out, err);
        std::fclose(out);
    });
    char path[256] = {};
    std::FILE *in = ::fdopen(pipeFds[0], "r");
    ASSERT_NE(std::fgets(path, sizeof path, in), nullptr);
    path[std::strcspn(path, "\n")] = 0;
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << path;
    QByteArray expected;
    for (int n = 1; n <= 2000; ++n)
        expected
            += InstrumentRecords::record(InstrumentRecords::countBody(QStringLiteral("GENERIC"), n), '\r');
    QByteArray got;
    while (got.size() < expected.size()) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 5000) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    EXPECT_EQ(got.left(expected.size()), expected);
    // Stop reading: the simulator fills the terminal's buffer and waits in write().
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(::getpid(), SIGINT); // caught by the simulator's handler
    simulator.join();
    ::close(fd);
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(status, 0);
}
