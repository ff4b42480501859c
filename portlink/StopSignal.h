// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace portlink {

// Ends waits on ports (NativeSerial::SerWaitReadable, SerialPort::waitReadable)
// at once, from any thread: a reader waits without a time limit and Stop
// raises the signal. Once raised it stays raised.
//
// On this platform the signal is an event descriptor that becomes readable
// when raised, so that a native side waiting in poll() on its device (or a
// socket) watches it too. A native side that waits some other way (a
// condition variable) subscribes a wake-up function instead.
class StopSignal
{
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    // Any thread, any number of times. Makes the descriptor readable and
    // calls the subscribed functions (on the calling thread).
    void raise();
    bool raised() const { return m_raised.load(); }

    // Readable once raised; for poll(), never to be read or closed by others.
    // -1 when the system could not make one: a waiter then looks at raised()
    // in slices of a few hundred milliseconds.
    int descriptor() const { return m_fd; }

    // Calls `wake` when the signal is raised (at once when it already is)
    // for as long as the subscription lives. Its destruction waits for a call
    // that is running, so `wake` may use what the subscriber owns.
    class Subscription
    {
    public:
        Subscription(StopSignal &signal, std::function<void()> wake);
        ~Subscription();
        Subscription(const Subscription &) = delete;
        Subscription &operator=(const Subscription &) = delete;

    private:
        StopSignal &m_signal;
        int m_id;
    };

private:
    int m_fd = -1;
    std::atomic<bool> m_raised { false };
    std::mutex m_mutex; // guards the subscriptions and their calls
    std::vector<std::pair<int, std::function<void()>>> m_wakes;
    int m_nextId = 0;
};

} // namespace portlink
