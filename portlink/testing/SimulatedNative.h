// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A simulated native serial side for tests: named ports with scripted
// received bytes, handshake lines wired by rules, injectable parity/framing/
// overrun/break events, and forced results (error codes) for open, configure
// and every other native call. Install it for SerialPortLocal with
// ScopedNativeSide; then `SerialPortLocal port(SerialConfig("COM3"))` opens the
// simulated COM3.
//
//     auto sim = std::make_shared<portlink::testing::SimulatedNative>();
//     auto &com3 = sim->addPort("COM3", "USB Serial Port", "FTDI");
//     com3.setLine(SimLine::DSR, SimRule::FollowDTR);   // device answers DTR on DSR
//     com3.feed("  12.5 g\r\n");                        // what the device sends
//     portlink::testing::ScopedNativeSide use(sim);     // PLK_OSNAME "Windows", as the program runs
//     portlink::SerialPortLocal port(portlink::SerialConfig("COM3"));
//     ... port.getByte() yields ' ', ' ', '1', ... then -1 ...
//     com3.waitUntilDrained(std::chrono::seconds(5));   // from the test thread
//
// Everything here is thread-safe: a test thread may feed bytes, unplug the
// device or inspect the call log while a worker thread reads the port.

#include "portlink/NativeSerial.h"
#include "portlink/SerialConfig.h"
#include "portlink/testing/SimulatedPort.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace portlink::testing {

// The simulated native side. Ports not added answer open with 1004 (no such
// device). Indexes are never reused, so a stale index after close fails.
class SimulatedNative final : public NativeSerial
{
public:
    SimulatedNative() = default;
    ~SimulatedNative() override;

    // Adds a device; `listed` ports are reported by port discovery with
    // their description and manufacturer, in the order added.
    SimulatedPort &addPort(const QString &name, const QString &description = QString(),
        const QString &manufacturer = QString(), bool listed = true);
    // nullptr when there is no such port.
    SimulatedPort *port(const QString &name);
    // The number of SerGetPortList calls so far.
    int portListCalls() const;
    // The number of waits for input begun so far (SerWaitInput,
    // SerWaitReadable), and a wait until `count` of them have begun.
    int waitCount() const;
    bool waitUntilWaited(int count, std::chrono::milliseconds timeout) const;

    int SerOpenPort(SerialConfig &config) override;
    int SerClosePort(int port) override;
    int SerConfigure(int port, const SerialConfig &config) override;
    int SerGetByte(int port) override;
    int SerGetData(int port, std::uint8_t *buf, int count) override;
    int SerPutByte(int port, std::uint8_t byte) override;
    int SerPutData(int port, const std::uint8_t *buf, int count) override;
    int SerRxFlush(int port) override;
    int SerTxFlush(int port) override;
    int SerTxDrain(int port) override;
    int SerRxReadyCount(int port) override;
    int SerTxBufCount(int port) override;
    int SerRxOverflow(int port) override;
    int SerSigCTS(int port) override;
    int SerSigDSR(int port) override;
    int SerSigCD(int port) override;
    int SerSigRing(int port) override;
    int SerSigBreak(int port) override;
    int SerSigParityErr(int port) override;
    int SerSigFrameErr(int port) override;
    int SerSigOverrun(int port) override;
    int SerSetDTR(int port, bool on) override;
    int SerSetRTS(int port, bool on) override;
    int SerSetTimeoutRx(int port, int ms) override;
    int SerSetTimeoutTx(int port, int ms) override;
    int SerGetTimeoutRx(int port) override;
    int SerGetTimeoutTx(int port) override;
    int SerSendBreak(int port, int ms) override;
    void SerGetPortList(PortListReceiver &receiver) override;
    int SerDeviceLost(int port) override;
    int SerWaitInput(int port, int ms) override;
    int SerWaitReadable(int port, int ms, StopSignal *stop) override;
    // Ends early when a port is replugged.
    int SerWaitPortName(const SerialConfig &config, int ms) override;
    QString SerOpenFailureHint(int rc, const SerialConfig &config) override;
    int SerFlowTask(int port) override;
    QString SerGetLibVer() override { return QStringLiteral("simulated"); }

private:
    friend class SimulatedPort;
    SimulatedPort *openPort(int index); // caller holds the lock
    // Whether a native call answers -1 once the device went away while open.
    enum class WhenLost { Fails, GoesOn };
    // How most native calls go: under the lock, an index that is not open
    // answers -1; the call is logged as `logged` (unless empty); a forced
    // result answers in its place; then `body(port)` answers.
    template <typename Body>
    int onOpenPort(int port, SimCall call, const QString &logged, WhenLost lost, Body &&body);
    // Waits under the lock until `done()`; false on time-out.
    template <typename Done>
    bool waitUntil(std::condition_variable &changed, std::chrono::milliseconds timeout, Done &&done) const
    {
        std::unique_lock lock(m_mutex);
        return changed.wait_for(lock, timeout, std::forward<Done>(done));
    }
    int signal(int port, SimCall call, const char *name, SimLine line);
    int event(int port, SimCall call, const char *name, bool SimulatedPort::*flag);
    // DTR and RTS: logged, forcible, refused once the device is gone, ignored without modem lines.
    int setOutputLine(int port, bool on, SimCall call, const char *name, bool SimulatedPort::*line);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_drained;
    // Bytes fed, a port closed or unplugged: wakes SerWaitInput.
    std::condition_variable m_inputChanged;
    // An open was held or released (holdOpen).
    mutable std::condition_variable m_openHold;
    // A wait for input began.
    mutable std::condition_variable m_waitsChanged;
    int m_waits = 0;
    std::map<QString, std::unique_ptr<SimulatedPort>> m_ports;
    std::vector<SimulatedPort *> m_order;
    std::map<int, SimulatedPort *> m_open;
    int m_nextIndex = 0;
    int m_portListCalls = 0;
    int m_plugEvents = 0; // replug() calls, for SerWaitPortName
};

} // namespace portlink::testing
