// SPDX-License-Identifier: GPL-3.0-or-later
// The slot core of the descriptor-based native sides (the terminal side and the TCP side), over a
// socket pair: a close ends a wait for input before it releases the descriptor.
#include "portlink/linux/DescriptorSlots.h"
#include "portlink/StopSignal.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace portlink;

namespace {

ssize_t receiveSome(int fd, void *buf, size_t count)
{
    return ::recv(fd, buf, count, MSG_DONTWAIT);
}

ssize_t sendSome(int fd, const void *buf, size_t count)
{
    return ::send(fd, buf, count, MSG_DONTWAIT | MSG_NOSIGNAL);
}

bool isLost(int e)
{
    return e == ECONNRESET || e == EPIPE;
}

bool always(int)
{
    return true;
}

bool giveUp(DescriptorSlot &)
{
    return false;
}

// The descriptor the slot held when its close released it (-1: not yet).
std::atomic<int> g_released { -1 };

void noteRelease(int fd)
{
    g_released = fd;
}

constexpr DescriptorKind kPair { isLost, receiveSome, sendSome, always, false, noteRelease, giveUp };

// Whether thread `tid` of this process is asleep (in the kernel, waiting).
bool asleep(pid_t tid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')'); // the state follows the name
    return end > 0 && line.mid(end + 2, 1) == "S";
}

} // namespace

// A wait for input holds its slot shared and may have no time limit; a close
// from another thread ends it (the wait answers -1, "closing"), then releases
// the descriptor, and every later call on the index fails. With and without a stop signal to wait on as well.
TEST(DescriptorSlotsTest, closeEndsAWaitWithoutTimeLimit_thenReleasesTheDescriptor)
{
    for (const bool withStop : { false, true }) {
        SCOPED_TRACE(withStop ? "with a stop signal" : "without a stop signal");
        int pair[2] = { -1, -1 };
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
        g_released = -1;
        DescriptorSlots slots(kPair);
        const int index = slots.add(pair[0]);
        StopSignal stop;
        std::atomic<pid_t> tid { 0 };
        std::atomic<int> answer { 2 };
        std::thread waiter([&] {
            tid = ::gettid();
            answer = slots.waitReadable(index, -1, withStop ? &stop : nullptr);
        });
        while (tid.load() == 0 || !asleep(tid.load()))
            std::this_thread::yield();

        EXPECT_EQ(slots.close(index), 0);
        waiter.join();
        EXPECT_EQ(answer.load(), -1);
        EXPECT_EQ(g_released.load(), pair[0]);
        char byte = 0;
        EXPECT_EQ(::recv(pair[1], &byte, 1, 0), 0) << "the peer sees the descriptor closed";
        EXPECT_EQ(slots.deviceLost(index), -1);
        EXPECT_EQ(slots.waitReadable(index, -1, nullptr), -1);
        EXPECT_EQ(slots.getByte(index), -1);
        EXPECT_EQ(slots.close(index), -1);
        ::close(pair[1]);
    }
}
