// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Interruption.h"

#include <condition_variable>
#include <mutex>

namespace omvara::util {

namespace {

std::stop_token &threadToken()
{
    thread_local std::stop_token token;
    return token;
}

} // namespace

std::stop_token Interruption::current()
{
    return threadToken();
}

void Interruption::check()
{
    if (interrupted())
        throw InterruptedError();
}

void Interruption::sleep(std::chrono::nanoseconds duration)
{
    const std::stop_token token = current();
    if (token.stop_requested())
        throw InterruptedError();
    if (duration <= std::chrono::nanoseconds::zero())
        return;
    if (!token.stop_possible()) {
        std::this_thread::sleep_for(duration);
        return;
    }
    // One wait object per thread: the pause is taken for every empty poll of
    // the reader, so it must not allocate.
    thread_local std::mutex mutex;
    thread_local std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, token, duration, [] { return false; });
    if (token.stop_requested())
        throw InterruptedError();
}

Interruption::Scope::Scope(std::stop_token token)
    : m_previous(threadToken())
{
    threadToken() = std::move(token);
}

Interruption::Scope::~Scope()
{
    threadToken() = std::move(m_previous);
}

InterruptibleThread::~InterruptibleThread()
{
    if (m_thread.joinable()) {
        interrupt();
        m_thread.join();
    }
}

void InterruptibleThread::start(std::function<void()> body)
{
    if (m_thread.joinable() || m_stop.stop_requested())
        throw std::logic_error("InterruptibleThread runs one body only");
    m_thread = std::thread([token = m_stop.get_token(), body = std::move(body)] {
        Interruption::Scope scope(token);
        body();
    });
}

void InterruptibleThread::interrupt()
{
    m_stop.request_stop();
}

void InterruptibleThread::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace omvara::util
