// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <thread>

namespace omvara::util {

// Thrown by every interruptible wait (Interruption::sleep, BlockingQueue::take)
// when the calling thread has been interrupted, before or during the wait.
class InterruptedError : public std::runtime_error
{
public:
    InterruptedError()
        : std::runtime_error("interrupted")
    {
    }
};

// Interruption of our own threads. A thread started by InterruptibleThread or
// by a BackgroundTask carries a stop token; interrupting the thread requests
// the stop. Every pause our code makes (the reader's idle pause, fixed sleeps,
// a blocking queue take) waits on that token, so an interruption ends the
// pause at once instead of when it would have elapsed. Interruption is
// permanent: a thread, once interrupted, stays interrupted.
//
// Threads that were not started by us (the event thread, test threads) carry a
// token that can never be stopped: their sleeps run to the end.
class Interruption
{
public:
    // The calling thread's stop token.
    static std::stop_token current();
    // True when the calling thread has been interrupted.
    static bool interrupted() { return current().stop_requested(); }
    // Throws InterruptedError when the calling thread has been interrupted.
    static void check();
    // Sleeps for `duration`, or throws InterruptedError as soon as the calling
    // thread is interrupted (also when it already was; a zero duration only checks).
    static void sleep(std::chrono::nanoseconds duration);

    // Installs `token` as the calling thread's token for the lifetime of the
    // scope (restoring the previous one afterwards).
    class Scope
    {
    public:
        explicit Scope(std::stop_token token);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        std::stop_token m_previous;
    };
};

// A thread whose body runs with its own stop token installed, so that
// interrupt() wakes every interruptible wait of the body. The destructor
// interrupts and joins a thread that is still running.
class InterruptibleThread
{
public:
    InterruptibleThread() = default;
    explicit InterruptibleThread(std::function<void()> body) { start(std::move(body)); }
    ~InterruptibleThread();
    InterruptibleThread(const InterruptibleThread &) = delete;
    InterruptibleThread &operator=(const InterruptibleThread &) = delete;

    // Starts the body; a thread object runs one body only (std::logic_error otherwise).
    void start(std::function<void()> body);
    // Requests the stop; returns at once. Safe from any thread, any number of times.
    void interrupt();
    // Waits for the body to return. Must not be called from the thread itself.
    void join();
    bool joinable() const { return m_thread.joinable(); }

private:
    std::stop_source m_stop;
    std::thread m_thread;
};

} // namespace omvara::util
