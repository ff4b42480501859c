// SPDX-License-Identifier: GPL-3.0-or-later
// Waiting for received bytes, with a bound and without one: over the terminal interface against
// pseudo-terminals, and against the simulated native side.
#include "PtyPair.h"

#include "portlink/SerialPortLocal.h"
#include "portlink/StopSignal.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <time.h>

using namespace portlink;
using portlink::testing::ScopedConsoleCapture;
using portlink::testing::ScopedNativeSide;
using portlink::testing::SimulatedNative;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::nanoseconds threadCpuTime()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// Far above any wait these tests expect to end early: a wait that lasts this
// long has missed its wake-up.
constexpr int kLongWaitMs = 5000;

class PtyWaitTest : public ::testing::Test
{
protected:
    ScopedConsoleCapture console;
    ScopedNativeSide native { compiledNative() };
    PtyPair pty;

    void SetUp() override { ASSERT_TRUE(pty.ok()); }
};

class SimulatedWaitTest : public ::testing::Test
{
protected:
    std::shared_ptr<SimulatedNative> sim = std::make_shared<SimulatedNative>();
    portlink::testing::SimulatedPort &com3 = sim->addPort(QStringLiteral("COM3"));
    ScopedConsoleCapture console;
    ScopedNativeSide use { sim };
};

} // namespace

TEST_F(PtyWaitTest, byteSentFromAnotherThread_endsTheWaitAndIsThenDelivered)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    std::thread device([&] {
        std::this_thread::sleep_for(20ms);
        pty.send("\r");
    });
    const auto start = Clock::now();
    const bool waiting = port.waitForInput(kLongWaitMs);
    const auto waited = Clock::now() - start;
    device.join();
    EXPECT_TRUE(waiting);
    EXPECT_LT(waited, std::chrono::milliseconds(kLongWaitMs / 2));
    EXPECT_EQ(port.getByte(), '\r');
    EXPECT_FALSE(port.isDeviceLost());
}

TEST_F(PtyWaitTest, idlePort_answersFalseOnlyAfterTheTimeOut_andTrueAtOnceWhileBytesWait)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    for (int ms : { 0, 1, 4, 30 }) {
        const auto start = Clock::now();
        EXPECT_FALSE(port.waitForInput(ms)) << ms;
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(ms)) << ms;
    }
    EXPECT_FALSE(port.waitForInput(-5));

    ASSERT_TRUE(pty.send("AB"));
    ASSERT_TRUE(port.waitForInput(kLongWaitMs));
    EXPECT_TRUE(port.waitForInput(0)); // still waiting: nothing was read
    EXPECT_EQ(port.getByte(), 'A');
    EXPECT_TRUE(port.waitForInput(0));
    EXPECT_EQ(port.getByte(), 'B');
    EXPECT_FALSE(port.waitForInput(0));
}

// An idle wait sleeps in the kernel: a wait that spent the last fraction of a
// millisecond looking again and again would burn a fifth of a core.
TEST_F(PtyWaitTest, idleWaits_sleepInsteadOfPolling)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    const auto cpu0 = threadCpuTime();
    const auto start = Clock::now();
    for (int i = 0; i < 40; ++i)
        ASSERT_FALSE(port.waitForInput(3));
    const auto wall = Clock::now() - start;
    EXPECT_LT(threadCpuTime() - cpu0, wall / 10);
}

TEST_F(PtyWaitTest, closedPort_answersFalseAtOnce)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    ASSERT_TRUE(pty.send("X"));
    port.close();
    const auto start = Clock::now();
    EXPECT_FALSE(port.waitForInput(kLongWaitMs));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kLongWaitMs / 2));
}

TEST_F(PtyWaitTest, hangUp_endsTheWaitAndMarksTheDeviceLost)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    std::thread device([&] {
        std::this_thread::sleep_for(20ms);
        pty.closeMaster();
    });
    const auto start = Clock::now();
    const bool waiting = port.waitForInput(kLongWaitMs);
    const auto waited = Clock::now() - start;
    device.join();
    EXPECT_FALSE(waiting);
    EXPECT_LT(waited, std::chrono::milliseconds(kLongWaitMs / 2));
    EXPECT_TRUE(port.isDeviceLost());
    EXPECT_FALSE(port.waitForInput(kLongWaitMs)); // at once, no busy answer "waiting"
    EXPECT_EQ(port.getByte(), -1);
}

// close() on the interface thread while the reader waits: run this under the
// thread sanitizer (build folder with -fsanitize=thread).
TEST_F(PtyWaitTest, closeFromAnotherThread_whileReaderWaits_endsCleanly)
{
    for (int round = 0; round < 20; ++round) {
        SerialPortLocal port(SerialConfig(pty.slavePath()));
        std::atomic<bool> stop { false };
        std::atomic<long> waits { 0 };
        std::thread reader([&] {
            while (!stop.load()) {
                if (port.waitForInput(round % 5))
                    port.getByte();
                waits.fetch_add(1);
            }
        });
        while (waits.load() < 2)
            std::this_thread::yield();
        if (round % 2 == 0)
            pty.send("7");
        port.close();
        const long afterClose = waits.load();
        while (waits.load() < afterClose + 3)
            std::this_thread::yield();
        EXPECT_FALSE(port.waitForInput(0));
        stop.store(true);
        reader.join();
        EXPECT_FALSE(port.isOpen());
    }
}

TEST_F(SimulatedWaitTest, fedBytesEndTheWait_closeAndUnplugAnswerFalse)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    EXPECT_FALSE(port.waitForInput(2));

    std::thread device([&] {
        std::this_thread::sleep_for(20ms);
        com3.feed("5\r");
    });
    const auto start = Clock::now();
    EXPECT_TRUE(port.waitForInput(kLongWaitMs));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kLongWaitMs / 2));
    device.join();
    EXPECT_EQ(port.getByte(), '5');
    EXPECT_TRUE(port.waitForInput(0));

    std::thread unplug([&] {
        std::this_thread::sleep_for(20ms);
        com3.unplug();
    });
    EXPECT_EQ(port.getByte(), '\r');
    EXPECT_FALSE(port.waitForInput(kLongWaitMs));
    unplug.join();
    EXPECT_TRUE(port.isDeviceLost());
    port.close();
    EXPECT_FALSE(port.waitForInput(kLongWaitMs));
}

namespace {

// The context switches of thread `tid` of this process so far.
long threadSwitches(pid_t tid)
{
    QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    long total = 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.contains("ctxt_switches:"))
            total += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    return total;
}

enum class WaitEnd { Byte, Stop, Close, HangUp };

const char *waitEndName(WaitEnd e)
{
    switch (e) {
    case WaitEnd::Byte:
        return "byte";
    case WaitEnd::Stop:
        return "stop";
    case WaitEnd::Close:
        return "close";
    case WaitEnd::HangUp:
        return "hang-up";
    }
    return "";
}

} // namespace

// The reader's wait has no time limit and wakes for nothing but a byte, the
// stop signal, a close from another thread and the loss of the device: each
// ends it at once (a close only after the waiting thread has let go of the
// port), and while none comes the waiting thread sleeps without a single
// wake-up.
TEST_F(PtyWaitTest, waitReadable_sleepsUntilAByteStopCloseOrHangUp)
{
    for (const WaitEnd end : { WaitEnd::Byte, WaitEnd::Stop, WaitEnd::Close, WaitEnd::HangUp }) {
        SCOPED_TRACE(waitEndName(end));
        PtyPair device;
        ASSERT_TRUE(device.ok());
        SerialPortLocal port(SerialConfig(device.slavePath()));
        StopSignal stop;
        std::atomic<pid_t> tid { 0 };
        std::atomic<bool> answered { false };
        bool result = true;
        std::thread reader([&] {
            tid = ::gettid();
            result = port.waitReadable(stop);
            answered = true;
        });
        while (tid.load() == 0)
            std::this_thread::yield();
        std::this_thread::sleep_for(100ms); // the reader is asleep in its wait
        const long before = threadSwitches(tid.load());
        std::this_thread::sleep_for(1s);
        EXPECT_LE(threadSwitches(tid.load()) - before, 1) << "wake-ups of the waiting thread in 1 s";
        EXPECT_FALSE(answered.load());

        const auto start = Clock::now();
        switch (end) {
        case WaitEnd::Byte:
            device.send("7");
            break;
        case WaitEnd::Stop:
            stop.raise();
            break;
        case WaitEnd::Close:
            port.close(); // returns once the wait has let go of the port
            break;
        case WaitEnd::HangUp:
            device.closeMaster();
            break;
        }
        reader.join();
        EXPECT_LT(Clock::now() - start, 1s);
        EXPECT_EQ(result, end == WaitEnd::Byte);
        EXPECT_EQ(port.isDeviceLost(), end == WaitEnd::HangUp);
        if (end == WaitEnd::Byte) {
            EXPECT_EQ(port.getByte(), '7');
        }
        if (end == WaitEnd::Stop) {
            EXPECT_FALSE(port.waitReadable(stop)); // stays raised
        }
    }
}

TEST_F(SimulatedWaitTest, waitReadable_endsOnAByteStopCloseOrUnplug)
{
    for (const WaitEnd end : { WaitEnd::Byte, WaitEnd::Stop, WaitEnd::Close, WaitEnd::HangUp }) {
        SCOPED_TRACE(waitEndName(end));
        com3.replug();
        SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
        StopSignal stop;
        const int waits = sim->waitCount();
        bool result = true;
        std::thread reader([&] { result = port.waitReadable(stop); });
        ASSERT_TRUE(sim->waitUntilWaited(waits + 1, 5s));
        const auto start = Clock::now();
        switch (end) {
        case WaitEnd::Byte:
            com3.feed("7");
            break;
        case WaitEnd::Stop:
            stop.raise();
            break;
        case WaitEnd::Close:
            port.close();
            break;
        case WaitEnd::HangUp:
            com3.unplug();
            break;
        }
        reader.join();
        EXPECT_LT(Clock::now() - start, 1s);
        EXPECT_EQ(result, end == WaitEnd::Byte);
        if (end == WaitEnd::Byte) {
            EXPECT_EQ(port.getByte(), '7');
        }
    }
}
