// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/util/Interruption.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace omvara::util {

// get() of a task that was cancelled.
class CancellationError : public std::runtime_error
{
public:
    CancellationError()
        : std::runtime_error("cancelled")
    {
    }
};

// get() of a task whose doInBackground ended with an error; the message is
// the original error's.
class ExecutionError : public std::runtime_error
{
public:
    explicit ExecutionError(const std::string &message)
        : std::runtime_error(message)
    {
    }
};

// The untyped part of BackgroundTask: thread, state, cancellation and the
// hand-over to the event thread. See BackgroundTask below for the contract.
class BackgroundTaskBase : public QObject
{
    Q_OBJECT

public:
    ~BackgroundTaskBase() override;

    // Starts doInBackground on a new thread. Event thread only; a task runs
    // once (std::logic_error on a second call). A task cancelled before it
    // was started does not start; its done() has already been scheduled.
    void execute();

    // Cancels the task: nothing published from now on reaches process(), and
    // with `mayInterruptIfRunning` the worker thread is interrupted, which ends
    // every interruptible pause of doInBackground at once. done() follows on
    // the event thread as soon as doInBackground has returned. Returns false
    // when the task had already finished (or was cancelled before). Any thread.
    bool cancel(bool mayInterruptIfRunning = true);

    bool isCancelled() const;
    // True once done() has been called.
    bool isDone() const;

Q_SIGNALS:
    // Emitted on the event thread right after done().
    void finished();

protected:
    explicit BackgroundTaskBase(QObject *parent = nullptr);

    // Cancels with interruption and waits for the worker thread to end.
    // Subclasses call it first thing in their destructor, so that
    // doInBackground never runs on a half-destroyed object.
    void stopAndWait();

    // Implemented by BackgroundTask.
    virtual void runBody() = 0;
    virtual void deliverChunks() = 0;
    virtual void runDone() = 0;

    // Schedules deliverChunks() on the event thread.
    void postDelivery();

    // Lets publish() on the worker thread wait while `limit` chunks are
    // waiting for process(); 0 (the default) means it never waits. See
    // BackgroundTask::setPublishLimit.
    void setPublishLimit(std::size_t limit);
    // Waits, with m_mutex held by `lock`, while m_pending chunks fill the
    // limit. Returns at once on any thread but the task's own, after a cancel
    // and without a limit; throws InterruptedError when the task's thread is
    // interrupted.
    void waitForRoom(std::unique_lock<std::mutex> &lock);
    // Wakes a publish() waiting for room (m_mutex not held).
    void roomMade();
    // With m_mutex held: a publish() on this thread would wait for room now.
    bool roomLacking() const;

    mutable std::mutex m_mutex; // guards the flags below and the subclass's chunk list

    bool m_cancelled = false;
    std::size_t m_pending = 0; // chunks published and not yet handed to process()
    bool m_deliveryPosted = false; // a delivery of the chunks is queued for the event thread

private:
    // The calls the worker thread (and cancel()) queue for the event thread.
    // They are posted by name: the queued call then lives entirely inside Qt,
    // whose event queue orders it after everything the poster did before
    // posting. (A posted function object would be built by our code and read
    // back under a lock that the thread sanitizer cannot see in the Qt
    // library, so every hand-over would show as a data race there.)
    Q_INVOKABLE void finish();
    Q_INVOKABLE void deliverQueuedChunks() { deliverChunks(); }
    void post(const char *method);

    std::size_t m_publishLimit = 0;
    std::condition_variable_any m_room;
    std::thread::id m_worker; // the thread running doInBackground

    enum class State { Pending, Running, Ended, Done };
    State m_state = State::Pending;
    bool m_executed = false;
    std::stop_source m_stop;
    std::thread m_thread;
};

// A background task: doInBackground() runs once on a thread of its own;
// publish() hands intermediate results to process(), which runs on the event
// thread (the thread the task was created on, which must run a Qt event loop)
// with the chunks gathered since its last call, in order; done() runs on the
// event thread once doInBackground has returned, normally or because the task
// was cancelled. Chunks published before the end are processed before done().
// done() reads the outcome through get().
//
// Unlike a task that reports done() at the very moment of the cancel, done()
// here waits for doInBackground to return. With interruption that is a matter
// of milliseconds, and it means done() never races with the body: it may read
// the body's state and release what the body uses.
template <typename Result, typename Chunk> class BackgroundTask : public BackgroundTaskBase
{
public:
    // The outcome, valid from done() on: the result, or CancellationError when
    // the task was cancelled, or ExecutionError when doInBackground failed.
    Result get() const
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            throw CancellationError();
        if (m_error)
            throw ExecutionError(*m_error);
        if (!m_result)
            throw std::logic_error("BackgroundTask::get before the task has ended");
        return *m_result;
    }

protected:
    using BackgroundTaskBase::BackgroundTaskBase;

    // Bounds the chunks waiting for the event thread: publish() on the worker
    // thread waits (interruptibly: Stop ends the wait at once, and a cancelled
    // task's publish returns without waiting) while `limit` chunks have not
    // reached process() yet. A body that produces faster than the event thread
    // can process then goes at the event thread's pace instead of queuing
    // without end, which would grow the memory and the delay of every later
    // chunk for as long as it runs. 0 (the default): publish never waits. Call
    // before execute().
    void setPublishLimit(std::size_t limit) { BackgroundTaskBase::setPublishLimit(limit); }

    virtual Result doInBackground() = 0;
    virtual void process(const std::vector<Chunk> &chunks) { }
    virtual void done() { }

    // Any thread (normally the worker thread). Ignored once the task is
    // cancelled. With a publish limit, waits on the worker thread while the
    // limit's number of chunks are still waiting for process().
    void publish(Chunk chunk)
    {
        if (queueChunk(std::move(chunk)))
            postDelivery();
    }

    // As publish(), but the event thread hears of the chunk only with the
    // next postPublished() (or publish()): a body that makes many chunks in
    // a burst publishes them so and calls postPublished() at the end of the
    // burst, and one queued event hands the whole burst over, instead of one
    // wake-up of the event thread per chunk. The chunk is published at once
    // for everything else: a cancel from now on does not drop it, and a
    // wait for room (publish limit) tells the event thread first.
    void publishLater(Chunk chunk) { queueChunk(std::move(chunk), false); }
    // Tells the event thread of the chunks published with publishLater().
    void postPublished()
    {
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            post = !m_chunks.empty() && !m_deliveryPosted;
            m_deliveryPosted = m_deliveryPosted || post;
        }
        if (post)
            postDelivery();
    }
    // True when the next publish() on the worker thread would wait for room
    // (the publish limit is full): the body may first finish what it does
    // per burst.
    bool publishWouldWait() const
    {
        std::lock_guard lock(m_mutex);
        return roomLacking();
    }

private:
    void runBody() final
    {
        try {
            Result result = doInBackground();
            std::lock_guard lock(m_mutex);
            m_result = std::move(result);
        } catch (const InterruptedError &) {
            std::lock_guard lock(m_mutex);
            if (!m_cancelled)
                m_error = "interrupted";
        } catch (const std::exception &e) {
            std::lock_guard lock(m_mutex);
            m_error = e.what();
        } catch (...) {
            std::lock_guard lock(m_mutex);
            m_error = "unknown error";
        }
    }

    void deliverChunks() final
    {
        std::vector<Chunk> chunks;
        {
            std::lock_guard lock(m_mutex);
            chunks.swap(m_chunks);
            m_pending = 0;
            m_deliveryPosted = false;
        }
        roomMade();
        if (!chunks.empty())
            process(chunks);
    }

    void runDone() final { done(); }

    // Adds `chunk`; true when the caller is to post the delivery (`post`:
    // the event thread is to hear of it now).
    bool queueChunk(Chunk chunk, bool post = true)
    {
        std::unique_lock lock(m_mutex);
        if (!m_chunks.empty() && !m_deliveryPosted && roomLacking()) {
            // The event thread makes room only once it knows of the chunks.
            m_deliveryPosted = true;
            lock.unlock();
            postDelivery();
            lock.lock();
        }
        waitForRoom(lock);
        if (m_cancelled)
            return false;
        m_chunks.push_back(std::move(chunk));
        m_pending = m_chunks.size();
        if (!post || m_deliveryPosted)
            return false;
        m_deliveryPosted = true;
        return true;
    }

    std::vector<Chunk> m_chunks;
    std::optional<Result> m_result;
    std::optional<std::string> m_error;
};

} // namespace omvara::util
