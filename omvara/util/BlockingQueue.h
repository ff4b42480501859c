// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/util/Interruption.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace omvara::util {

// An unbounded first-in first-out queue shared between threads. put() never
// blocks; take() waits for an element and ends with InterruptedError as soon
// as the taking thread is interrupted (Interruption), also when it already was.
// Elements are handed out in the order they were put, each exactly once.
template <typename T> class BlockingQueue
{
public:
    void put(T value)
    {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(value));
        }
        m_nonEmpty.notify_one();
    }

    T take()
    {
        const std::stop_token token = Interruption::current();
        std::unique_lock lock(m_mutex);
        if (token.stop_requested())
            throw InterruptedError();
        // The wait also returns true when the interruption woke it and an
        // element arrived before it got the lock back: an interrupted taker
        // must not take it (it would be handed out after the interruption).
        if (!m_nonEmpty.wait(lock, token, [this] { return !m_items.empty(); }) || token.stop_requested())
            throw InterruptedError();
        T value = std::move(m_items.front());
        m_items.pop_front();
        return value;
    }

    // The first element, or nothing when the queue is empty; never waits.
    std::optional<T> poll()
    {
        std::lock_guard lock(m_mutex);
        if (m_items.empty())
            return std::nullopt;
        T value = std::move(m_items.front());
        m_items.pop_front();
        return value;
    }

    // Every element, oldest first, taken at once: no taker gets one of them
    // in between. Never waits.
    std::deque<T> takeAll()
    {
        std::lock_guard lock(m_mutex);
        std::deque<T> all;
        all.swap(m_items);
        return all;
    }

    std::size_t size() const
    {
        std::lock_guard lock(m_mutex);
        return m_items.size();
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_items.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable_any m_nonEmpty;
    std::deque<T> m_items;
};

} // namespace omvara::util
