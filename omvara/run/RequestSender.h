// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/Run.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace omvara::reception {
class PortWriter;
}

namespace omvara::run {

// Writes the requests to the port on a thread of its own: writing may block
// while the device does not take the bytes (up to the port's transmit
// time-out), which neither the event thread nor the reading thread may do.
// Closing the port ends a write in progress.
class RequestSender
{
public:
    using Report = std::function<void(RequestOrigin origin, const QString &failure)>;

    // `report` is called on the sender's thread after each write, with the
    // failure's text or an empty one (not for a write the closing port cut short).
    RequestSender(std::shared_ptr<reception::PortWriter> writer, QByteArray command, Report report);

    // Waits for the thread; a write in progress ends once the port is closed.
    ~RequestSender();
    RequestSender(const RequestSender &) = delete;
    RequestSender &operator=(const RequestSender &) = delete;

    // False when too many requests wait for the port already. Any thread.
    bool queue(RequestOrigin origin);

private:
    void run();

    const std::shared_ptr<reception::PortWriter> m_writer;
    const QByteArray m_command;
    const Report m_report;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<RequestOrigin> m_waiting;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once the members above exist
};

} // namespace omvara::run
