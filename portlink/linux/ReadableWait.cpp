// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/linux/ReadableWait.h"

#include "portlink/StopSignal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include <poll.h>
#include <unistd.h>

namespace portlink {

void signalClose(int closeEvent)
{
    if (closeEvent < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(closeEvent, &one, sizeof one);
}

ReadableWait waitUntilReadable(int fd, int closeEvent, const std::atomic<bool> &closing, StopSignal *stop,
    int ms, int sliceMs, short *events, int *error)
{
    const int stopEvent = stop ? stop->descriptor() : -1;
    const bool sliced = (stop && stopEvent < 0) || closeEvent < 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
    for (;;) {
        if (closing.load())
            return ReadableWait::Closing;
        if (stop && stop->raised())
            return ReadableWait::Stopped;
        // To the nanosecond: a time-out rounded down to whole milliseconds
        // would leave the last fraction to be spent in zero-length polls.
        timespec slice {};
        const timespec *timeout = nullptr; // none: sleep until something happens
        if (ms >= 0 || sliced) {
            long long left = ms >= 0 ? std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 deadline - std::chrono::steady_clock::now())
                                           .count()
                                     : LLONG_MAX;
            if (sliced)
                left = std::min<long long>(left, sliceMs * 1000000LL);
            left = std::max<long long>(left, 0);
            slice = { static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL) };
            timeout = &slice;
        }
        pollfd p[3] = { { fd, POLLIN, 0 }, { closeEvent, POLLIN, 0 }, { stopEvent, POLLIN, 0 } };
        const nfds_t count = stopEvent >= 0 ? 3 : 2;
        const int n = ::ppoll(p, count, timeout, nullptr);
        if (n < 0 && errno != EINTR) {
            *error = errno;
            return ReadableWait::Failed;
        }
        if (n > 0) {
            if (p[1].revents)
                return ReadableWait::Closing;
            if (p[0].revents) {
                *events = p[0].revents;
                return ReadableWait::Readable;
            }
            if (count == 3 && p[2].revents)
                return ReadableWait::Stopped;
        }
        if (ms >= 0 && std::chrono::steady_clock::now() >= deadline)
            return ReadableWait::TimedOut;
    }
}

} // namespace portlink
