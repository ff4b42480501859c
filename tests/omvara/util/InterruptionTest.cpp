// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Interruption.h"
#include "omvara/util/BlockingQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using omvara::util::BlockingQueue;
using omvara::util::InterruptedError;
using omvara::util::InterruptibleThread;
using omvara::util::Interruption;

namespace {

using Clock = std::chrono::steady_clock;

// Runs `wait` on an interruptible thread, interrupts it after a short delay and
// returns how long the wait lasted and whether it ended with InterruptedError.
struct WaitOutcome
{
    Clock::duration lasted {};
    bool interrupted = false;
};

template <typename Wait> WaitOutcome interruptDuring(Wait wait)
{
    WaitOutcome outcome;
    std::atomic<bool> started { false };
    InterruptibleThread thread([&] {
        started = true;
        const auto begin = Clock::now();
        try {
            wait();
        } catch (const InterruptedError &) {
            outcome.interrupted = true;
        }
        outcome.lasted = Clock::now() - begin;
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(20ms);
    thread.interrupt();
    thread.join();
    return outcome;
}

} // namespace

// Every pause a run makes must end within milliseconds of Stop, however long it was meant to be.
TEST(Interruption, interrupt_wakesEveryKindOfPause)
{
    BlockingQueue<std::string> queue;
    struct Case
    {
        const char *name;
        std::function<void()> wait;
    };
    const Case cases[] = {
        { "idle pause",
            [] {
                Interruption::sleep(4ms);
                Interruption::sleep(30s);
            } },
        { "long sleep", [] { Interruption::sleep(60s); } },
        { "queue take", [&queue] { queue.take(); } },
    };
    for (const Case &c : cases) {
        const WaitOutcome outcome = interruptDuring(c.wait);
        EXPECT_TRUE(outcome.interrupted) << c.name;
        EXPECT_LT(outcome.lasted, 5s) << c.name;
    }
}

TEST(Interruption, alreadyInterrupted_everyWaitThrowsAtOnce)
{
    BlockingQueue<int> queue;
    queue.put(1);
    std::atomic<int> thrown { 0 };
    std::atomic<bool> go { false };
    InterruptibleThread thread([&] {
        while (!go)
            std::this_thread::yield();
        EXPECT_TRUE(Interruption::interrupted());
        try {
            Interruption::sleep(0ms);
        } catch (const InterruptedError &) {
            ++thrown;
        }
        try {
            queue.take(); // an element is waiting, but the thread was told to stop
        } catch (const InterruptedError &) {
            ++thrown;
        }
        try {
            Interruption::check();
        } catch (const InterruptedError &) {
            ++thrown;
        }
    });
    thread.interrupt();
    go = true;
    thread.join();
    EXPECT_EQ(thrown, 3);
    EXPECT_EQ(queue.size(), 1u);
}

TEST(Interruption, threadsNotStartedByUs_sleepToTheEnd)
{
    EXPECT_FALSE(Interruption::current().stop_possible());
    const auto begin = Clock::now();
    Interruption::sleep(5ms);
    EXPECT_GE(Clock::now() - begin, 5ms);
}

TEST(BlockingQueue, elementsPutByOneThread_areTakenInOrderExactlyOnce)
{
    BlockingQueue<int> queue;
    constexpr int n = 10000;
    std::vector<int> taken;
    InterruptibleThread consumer([&] {
        for (int i = 0; i < n; ++i)
            taken.push_back(queue.take());
    });
    for (int i = 0; i < n; ++i)
        queue.put(i);
    consumer.join();
    ASSERT_EQ(taken.size(), std::size_t(n));
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(taken[i], i);
    EXPECT_FALSE(queue.poll().has_value());
}

// A taker woken by its interruption must not take what was put meanwhile: the
// keyboard thread, stopped while values wait, would otherwise type one of them
// after Stop (after the ones before it were dropped as not typed).
TEST(BlockingQueue, takerInterruptedWhileWaiting_neverTakesAnElementPutAfterTheInterruption)
{
    constexpr int rounds = 300;
    int taken = 0;
    for (int round = 0; round < rounds; ++round) {
        BlockingQueue<int> queue;
        std::atomic<bool> waiting = false;
        std::atomic<bool> got = false;
        InterruptibleThread taker([&] {
            waiting = true;
            try {
                queue.take();
                got = true;
            } catch (const InterruptedError &) {
            }
        });
        while (!waiting)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(round % 3 * 100)); // mostly inside the wait
        taker.interrupt();
        queue.put(round);
        taker.join();
        if (got || queue.size() != 1u)
            ++taken;
    }
    EXPECT_EQ(taken, 0) << "of " << rounds << " interrupted takers";
}
