// SPDX-License-Identifier: GPL-3.0-or-later
// Writing to a run's port from another thread than the reading thread.
#pragma once

#include <QByteArray>

#include <memory>
#include <mutex>

namespace portlink {
class SerialPort;
}

namespace omvara::reception {

// The way to the device for a thread other than the reading thread (a
// request for a reading): the reception engine attaches the open port and
// detaches it before it closes the port.
//
// Threads: write() on any thread, one writer at a time, while the reading
// thread reads the same port (the serial layer allows one writing thread
// beside the reading one). attach() and detach() on the engine's threads.
// A write in progress when the port is closed ends within the serial
// layer's wait slice (50 ms) with an error; the port object stays alive
// until that write has returned, so closing never waits for a device that
// does not take the bytes.
class PortWriter
{
public:
    // Writes all of `bytes`. Blocks while the device does not take them,
    // until the port's transmit time-out or until the port is closed.
    // False, with nothing written, when no open port is attached (not opened
    // yet, closed, or the device is away and the engine waits for it).
    // Throws portlink::IoError when the port refuses the bytes.
    bool write(const QByteArray &bytes);

    void attach(std::shared_ptr<portlink::SerialPort> port);
    // No write starts after this; one in progress goes on until the port is closed.
    void detach();

private:
    std::mutex m_mutex; // guards m_port (the pointer, not the port)
    std::shared_ptr<portlink::SerialPort> m_port;
};

} // namespace omvara::reception
