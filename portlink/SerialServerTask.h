// SPDX-License-Identifier: GPL-3.0-or-later
// The native service thread some systems need while ports are open.
#pragma once

#include <atomic>
#include <thread>

namespace portlink {

class SerialPortLocal;

// The native service thread that some systems ("EPOC") need while ports are
// open. Runs the native service body once; when it fails, the port's
// configuration gets port number -1.
class SerialServerTask
{
public:
    explicit SerialServerTask(SerialPortLocal &sp);
    // Aborts and waits for the thread; the native body must return by then.
    ~SerialServerTask();

    SerialServerTask(const SerialServerTask &) = delete;
    SerialServerTask &operator=(const SerialServerTask &) = delete;

    void start();
    void abort() { m_abortRequest.store(true); }
    bool abortRequested() const { return m_abortRequest.load(); }
    int getPriority() const { return m_priority.load(); }
    int portNum() const { return m_portNum; }

    void run();

private:
    SerialPortLocal &m_sp;
    const int m_portNum;
    std::atomic<bool> m_abortRequest { false };
    std::atomic<int> m_priority { 5 };
    std::thread m_thread;
};

} // namespace portlink
