// SPDX-License-Identifier: GPL-3.0-or-later
// A background task of the serial layer that watches the handshake lines.
#pragma once

#include <atomic>
#include <thread>

namespace portlink {

class SerialPortLocal;

// Software-emulated hardware flow control: a thread that calls the native
// flow-control step for one port again and again until abort(). A port starts
// one only where the system needs it ("Windows 95" with hardFlow and a
// CTS/RTS or DSR/DTR handshake) and aborts it on close and reconfigure.
//
// Priorities follow the 1 (lowest) to 10 (highest) scale, 5 normal; they are
// kept as a scheduling hint for the native step (ordinary processes cannot
// raise their real thread priority).
class FlowControlTask
{
public:
    static constexpr int MIN_PRIORITY = 1;
    static constexpr int NORM_PRIORITY = 5;
    static constexpr int MAX_PRIORITY = 10;

    // Takes the port's current native index; writes "FlowControlTask created".
    explicit FlowControlTask(SerialPortLocal &sp);
    // Aborts and waits for the thread.
    ~FlowControlTask();

    FlowControlTask(const FlowControlTask &) = delete;
    FlowControlTask &operator=(const FlowControlTask &) = delete;

    void start();
    // Ask the thread to end; it does so at its next loop turn. Any thread.
    void abort() { m_abortRequest.store(true); }
    bool abortRequested() const { return m_abortRequest.load(); }
    int getFlowPriority() const { return m_priority.load(); }
    // p in 1..10 (else InvalidArgumentError), capped at MAX_PRIORITY.
    void setFlowPriority(int p);
    int portNum() const { return m_portNum; }

    // The thread body: priority + 1, then the native step until aborted.
    void run();

private:
    SerialPortLocal &m_sp;
    const int m_portNum;
    std::atomic<bool> m_abortRequest { false };
    std::atomic<int> m_priority { NORM_PRIORITY };
    std::thread m_thread;
};

} // namespace portlink
