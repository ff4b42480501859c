// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/sim/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;
using omvara::sim::PseudoTerminal;

namespace {

// Reads until `count` bytes arrived or a second passed without any.
QByteArray readBytes(int fd, int count)
{
    QByteArray got;
    while (got.size() < count) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 1000) <= 0)
            break;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    return got;
}

int openPort(const QString &path)
{
    return ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

} // namespace

// A serial line carries any byte; the terminal layer must not turn CR into LF,
// swallow XON/XOFF or treat Ctrl-C as a signal before the program sees them.
TEST(PseudoTerminal, everyByteValue_arrivesUnchanged_evenWhenWrittenBeforeTheProgramOpensThePort)
{
    PseudoTerminal terminal;
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    terminal.write(all);
    const int fd = openPort(terminal.devicePath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readBytes(fd, 256), all);
    EXPECT_EQ(terminal.pendingBytes(), 0);
    ::close(fd);
}

TEST(PseudoTerminal, withoutHoldingThePortSide_seesTheProgramOpenAndCloseIt)
{
    PseudoTerminal terminal(false);
    EXPECT_FALSE(terminal.isPortOpen());
    EXPECT_FALSE(terminal.waitForPortOpen(20ms));
    const int fd = openPort(terminal.devicePath());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(terminal.waitForPortOpen(1s));
    terminal.write("12.5 g\r\n");
    EXPECT_EQ(readBytes(fd, 8), QByteArray("12.5 g\r\n"));
    EXPECT_TRUE(terminal.waitUntilRead(1s));
    ::close(fd);
    EXPECT_FALSE(terminal.isPortOpen());
    // The pair survives: a second run opens the same path again.
    const int again = openPort(terminal.devicePath());
    ASSERT_GE(again, 0);
    EXPECT_TRUE(terminal.isPortOpen());
    ::close(again);
}

TEST(PseudoTerminal, aWriteLargerThanTheTerminalBuffer_waitsForTheReader)
{
    PseudoTerminal terminal;
    const int fd = openPort(terminal.devicePath());
    ASSERT_GE(fd, 0);
    QByteArray big(256 * 1024, 'x');
    QByteArray got;
    std::thread reader([&] { got = readBytes(fd, int(big.size())); });
    terminal.write(big);
    reader.join();
    EXPECT_EQ(got.size(), big.size());
    ::close(fd);
}
