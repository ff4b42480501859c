// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/RequestSender.h"

#include "omvara/reception/PortWriter.h"

namespace omvara::run {

namespace {

// Requests waiting for a port that does not take them; more are refused.
constexpr std::size_t MaxWaitingRequests = 16;

} // namespace

RequestSender::RequestSender(std::shared_ptr<reception::PortWriter> writer, QByteArray command, Report report)
    : m_writer(std::move(writer))
    , m_command(std::move(command))
    , m_report(std::move(report))
    , m_thread([this] { run(); })
{
}

RequestSender::~RequestSender()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool RequestSender::queue(RequestOrigin origin)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting.size() >= MaxWaitingRequests)
            return false;
        m_waiting.push_back(origin);
    }
    m_wake.notify_all();
    return true;
}

void RequestSender::run()
{
    for (;;) {
        RequestOrigin origin;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping)
                return;
            origin = m_waiting.front();
            m_waiting.pop_front();
        }
        QString failure;
        try {
            // Nothing is written, and nothing reported, while the port is
            // away (the engine waits for a lost device) or closing.
            if (!m_writer->write(m_command))
                continue;
        } catch (const std::exception &e) {
            failure = QString::fromUtf8(e.what());
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return; // the port was closed under the write: no failure of the device's
        }
        m_report(origin, failure);
    }
}

} // namespace omvara::run
