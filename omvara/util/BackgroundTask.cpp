// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/BackgroundTask.h"

#include <QMetaObject>
#include <QThread>

namespace omvara::util {

BackgroundTaskBase::BackgroundTaskBase(QObject *parent)
    : QObject(parent)
{
}

BackgroundTaskBase::~BackgroundTaskBase()
{
    // Subclasses should have stopped the body already (stopAndWait); this is
    // the last line of defence against a thread outliving its object.
    if (m_thread.joinable()) {
        m_stop.request_stop();
        m_thread.join();
    }
}

void BackgroundTaskBase::execute()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_executed)
            throw std::logic_error("BackgroundTask::execute called twice");
        m_executed = true;
        if (m_cancelled)
            return;
        m_state = State::Running;
    }
    m_thread = std::thread([this, token = m_stop.get_token()] {
        {
            std::lock_guard lock(m_mutex);
            m_worker = std::this_thread::get_id();
        }
        {
            Interruption::Scope scope(token);
            runBody();
        }
        {
            std::lock_guard lock(m_mutex);
            m_state = State::Ended;
        }
        post("finish");
    });
}

bool BackgroundTaskBase::cancel(bool mayInterruptIfRunning)
{
    bool finishNow = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled || m_state == State::Ended || m_state == State::Done)
            return false;
        m_cancelled = true;
        if (m_state == State::Pending) {
            m_state = State::Ended;
            finishNow = true;
        } else if (mayInterruptIfRunning) {
            m_stop.request_stop();
        }
    }
    roomMade(); // a publish waiting for room returns: nothing is delivered after a cancel
    if (finishNow)
        post("finish");
    return true;
}

bool BackgroundTaskBase::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool BackgroundTaskBase::isDone() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Done;
}

void BackgroundTaskBase::stopAndWait()
{
    cancel(true);
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void BackgroundTaskBase::setPublishLimit(std::size_t limit)
{
    std::lock_guard lock(m_mutex);
    m_publishLimit = limit;
}

bool BackgroundTaskBase::roomLacking() const
{
    // Only the task's own thread waits: on the event thread, which empties
    // the list itself, the wait would never end.
    return m_publishLimit != 0 && !m_cancelled && m_pending >= m_publishLimit
        && std::this_thread::get_id() == m_worker;
}

void BackgroundTaskBase::waitForRoom(std::unique_lock<std::mutex> &lock)
{
    if (m_publishLimit == 0 || std::this_thread::get_id() != m_worker)
        return;
    if (!m_room.wait(
            lock, Interruption::current(), [&] { return m_cancelled || m_pending < m_publishLimit; }))
        throw InterruptedError();
}

void BackgroundTaskBase::roomMade()
{
    m_room.notify_all();
}

void BackgroundTaskBase::postDelivery()
{
    post("deliverQueuedChunks");
}

void BackgroundTaskBase::post(const char *method)
{
    if (!QMetaObject::invokeMethod(this, method, Qt::QueuedConnection))
        qFatal("BackgroundTask: no invokable method %s", method);
}

void BackgroundTaskBase::finish()
{
    if (m_thread.joinable())
        m_thread.join();
    deliverChunks();
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Done)
            return;
        m_state = State::Done;
    }
    runDone();
    Q_EMIT finished();
}

} // namespace omvara::util
