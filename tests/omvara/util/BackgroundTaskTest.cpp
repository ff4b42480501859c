// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/BackgroundTask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using omvara::util::BackgroundTask;
using omvara::util::BackgroundTaskBase;
using omvara::util::CancellationError;
using omvara::util::ExecutionError;
using omvara::util::Interruption;

namespace {

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_task_tests";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return *instance;
}

// Runs the event loop until the task has finished (or 10 s have passed).
bool runUntilDone(BackgroundTaskBase &task)
{
    if (task.isDone())
        return true;
    QEventLoop loop;
    QObject::connect(&task, &BackgroundTaskBase::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    loop.exec();
    return task.isDone();
}

// Publishes `count` numbers, optionally sleeping `pause` between them, then
// returns their sum or throws when told to.
class CountingTask : public BackgroundTask<int, int>
{
public:
    int count = 0;
    std::chrono::milliseconds pause { 0 };
    std::chrono::milliseconds finalSleep { 0 };
    std::chrono::microseconds processPause { 0 }; // a slow event thread
    bool fail = false;
    // publishLater, with postPublished after every `postEvery` (0: at the end).
    bool later = false;
    int postEvery = 0;
    std::atomic<int> published { 0 };

    std::vector<int> processed;
    std::vector<int> processCalls;
    bool processOnEventThread = true;
    bool processedAllBeforeDone = false;
    int doneCalls = 0;
    std::atomic<bool> bodyRan { false };
    std::atomic<bool> bodyFinished { false };
    std::optional<int> result;
    std::string failure;
    bool cancelledSeen = false;

    ~CountingTask() override { stopAndWait(); }

    void limitPublishing(std::size_t limit) { setPublishLimit(limit); }

protected:
    int doInBackground() override
    {
        bodyRan = true;
        int sum = 0;
        for (int i = 1; i <= count; ++i) {
            if (!later)
                publish(i);
            else
                publishLater(i);
            if (later && postEvery > 0 && i % postEvery == 0)
                postPublished();
            ++published;
            sum += i;
            Interruption::sleep(pause);
        }
        if (later)
            postPublished();
        Interruption::sleep(finalSleep);
        bodyFinished = true;
        if (fail)
            throw std::runtime_error("scale unplugged");
        return sum;
    }

    void process(const std::vector<int> &chunks) override
    {
        processOnEventThread = processOnEventThread && QThread::currentThread() == app().thread();
        processCalls.push_back(int(chunks.size()));
        processed.insert(processed.end(), chunks.begin(), chunks.end());
        std::this_thread::sleep_for(processPause);
    }

    void done() override
    {
        ++doneCalls;
        processedAllBeforeDone = bodyFinished && int(processed.size()) == count;
        try {
            result = get();
        } catch (const CancellationError &) {
            cancelledSeen = true;
        } catch (const ExecutionError &e) {
            failure = e.what();
        }
    }
};

class BackgroundTaskTest : public ::testing::Test
{
protected:
    void SetUp() override { app(); }
};

} // namespace

TEST_F(BackgroundTaskTest, publishedChunks_reachProcessInOrderOnTheEventThread_beforeDone)
{
    CountingTask task;
    task.count = 2000;
    task.execute();
    ASSERT_TRUE(runUntilDone(task));
    ASSERT_EQ(task.processed.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(task.processed[i], i + 1);
    EXPECT_TRUE(task.processOnEventThread);
    EXPECT_TRUE(task.processedAllBeforeDone);
    EXPECT_EQ(task.doneCalls, 1);
    EXPECT_EQ(task.result, 2000 * 2001 / 2);
    EXPECT_FALSE(task.cancel());
}

TEST_F(BackgroundTaskTest, cancelWithInterruption_endsALongPauseAndReportsCancelled)
{
    CountingTask task;
    task.count = 3;
    task.finalSleep = 60s;
    task.execute();
    while (task.processed.size() < 3)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(task.cancel(true));
    EXPECT_FALSE(task.cancel(true));
    ASSERT_TRUE(runUntilDone(task));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_TRUE(task.isCancelled());
    EXPECT_TRUE(task.cancelledSeen);
    EXPECT_FALSE(task.bodyFinished);
    EXPECT_EQ(task.processed, (std::vector<int> { 1, 2, 3 }));
    EXPECT_THROW(task.get(), CancellationError);
}

TEST_F(BackgroundTaskTest, nothingPublishedAfterTheCancelReachesProcess)
{
    class LateTask : public BackgroundTask<int, int>
    {
    public:
        std::atomic<bool> cancelled { false };
        std::atomic<bool> firstPublished { false };
        std::vector<int> processed;
        ~LateTask() override { stopAndWait(); }

    protected:
        int doInBackground() override
        {
            publish(1);
            firstPublished = true;
            while (!cancelled)
                std::this_thread::yield();
            publish(2); // a burst still being finished when Stop came
            return 0;
        }
        void process(const std::vector<int> &chunks) override
        {
            processed.insert(processed.end(), chunks.begin(), chunks.end());
        }
    } task;
    task.execute();
    // Cancelled once the first chunk is out (a busy machine may start the
    // thread late).
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!task.firstPublished && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    task.cancel(true);
    task.cancelled = true;
    ASSERT_TRUE(runUntilDone(task));
    EXPECT_EQ(task.processed, (std::vector<int> { 1 }));
}

TEST_F(BackgroundTaskTest, failureInTheBody_isReportedByGetWithItsMessage)
{
    CountingTask task;
    task.count = 1;
    task.fail = true;
    task.execute();
    ASSERT_TRUE(runUntilDone(task));
    EXPECT_EQ(task.failure, "scale unplugged");
    EXPECT_FALSE(task.result.has_value());
    EXPECT_EQ(task.processed, (std::vector<int> { 1 }));
}

TEST_F(BackgroundTaskTest, cancelBeforeExecute_neverRunsTheBodyButStillCallsDone)
{
    CountingTask task;
    task.count = 1;
    EXPECT_TRUE(task.cancel(true));
    task.execute();
    ASSERT_TRUE(runUntilDone(task));
    EXPECT_FALSE(task.bodyRan);
    EXPECT_TRUE(task.cancelledSeen);
    EXPECT_EQ(task.doneCalls, 1);
}

TEST_F(BackgroundTaskTest, executeTwice_isRefused)
{
    CountingTask task;
    task.execute();
    EXPECT_THROW(task.execute(), std::logic_error);
    ASSERT_TRUE(runUntilDone(task));
}

TEST_F(BackgroundTaskTest, destroyingARunningTask_stopsItsThread)
{
    auto task = std::make_unique<CountingTask>();
    task->count = 1;
    task->finalSleep = 60s;
    task->execute();
    while (!task->bodyRan)
        std::this_thread::yield();
    const auto begin = std::chrono::steady_clock::now();
    task.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    QCoreApplication::processEvents(); // the dropped task's queued calls must not run
}

// A body that publishes faster than the event thread processes goes at the
// event thread's pace: never more than the limit wait, none is lost or reordered.
TEST_F(BackgroundTaskTest, publishLimit_boundsTheChunksWaitingForASlowEventThread_andKeepsEveryChunkInOrder)
{
    CountingTask task;
    task.count = 3000;
    task.processPause = 200us;
    task.limitPublishing(16);
    task.execute();
    ASSERT_TRUE(runUntilDone(task));
    ASSERT_EQ(task.processed.size(), 3000u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(task.processed[i], i + 1);
    EXPECT_LE(*std::max_element(task.processCalls.begin(), task.processCalls.end()), 16);
    EXPECT_EQ(task.result, 3000 * 3001 / 2);
}

// Stop while the body waits for room (the event thread is busy elsewhere):
// the wait ends, the chunks published before the cancel are still shown.
TEST_F(BackgroundTaskTest, publishLimit_cancelEndsAPublishWaitingForRoom)
{
    CountingTask task;
    task.count = 100;
    task.limitPublishing(4);
    task.execute();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (task.published < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms); // the body is now waiting for the event thread
    EXPECT_EQ(task.published, 4);
    EXPECT_TRUE(task.cancel(true));
    ASSERT_TRUE(runUntilDone(task));
    EXPECT_TRUE(task.cancelledSeen);
    EXPECT_EQ(task.processed, (std::vector<int> { 1, 2, 3, 4 }));
}

// Chunks published for later reach process() with the next postPublished,
// a burst in one call; a wait for room tells the event thread of them first,
// so a body that never posts is not held for ever.
TEST_F(BackgroundTaskTest, publishLater_aBurstReachesProcessInOneCall_andAFullLimitStillDrains)
{
    struct Case
    {
        int postEvery;
        std::size_t limit;
    };
    for (const Case &c : { Case { 100, 0 }, Case { 0, 0 }, Case { 0, 16 } }) {
        CountingTask task;
        task.count = 500;
        task.later = true;
        task.postEvery = c.postEvery;
        task.finalSleep = 100ms; // the last burst is delivered before the end, not by it
        task.processPause = 100us;
        if (c.limit > 0)
            task.limitPublishing(c.limit);
        task.execute();
        ASSERT_TRUE(runUntilDone(task));
        ASSERT_EQ(task.processed.size(), 500u);
        for (int i = 0; i < 500; ++i)
            ASSERT_EQ(task.processed[i], i + 1);
        if (c.limit > 0)
            EXPECT_LE(*std::max_element(task.processCalls.begin(), task.processCalls.end()), int(c.limit));
        else if (c.postEvery == 0)
            EXPECT_EQ(task.processCalls, std::vector<int> { 500 });
        else
            EXPECT_LE(task.processCalls.size(), 5u); // one wake-up per post at most
        EXPECT_EQ(task.result, 500 * 501 / 2);
    }
}
