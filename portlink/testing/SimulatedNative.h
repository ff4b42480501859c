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

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace portlink::testing {

// The input lines of a port.
enum class SimLine { CTS, DSR, CD, RI };

// What an input line reads.
enum class SimRule {
    Off, // always off (the default for every line)
    On, // always on
    FollowDTR, // equals the DTR output (a device that answers DTR on this line)
    FollowRTS, // equals the RTS output
    InverseDTR, // the opposite of DTR
    InverseRTS, // the opposite of RTS
};

// Native calls whose result can be forced with SimulatedPort::forceResult.
enum class SimCall {
    Close,
    Configure,
    GetByte,
    GetData,
    PutByte,
    PutData,
    RxFlush,
    TxFlush,
    TxDrain,
    RxReadyCount,
    TxBufCount,
    RxOverflow,
    SigCTS,
    SigDSR,
    SigCD,
    SigRing,
    SigBreak,
    SigParityErr,
    SigFrameErr,
    SigOverrun,
    SetDTR,
    SetRTS,
    SetTimeoutRx,
    SetTimeoutTx,
    GetTimeoutRx,
    GetTimeoutTx,
    SendBreak,
};

class SimulatedNative;

// One simulated device. Obtained from SimulatedNative::addPort; lives as long
// as its SimulatedNative.
class SimulatedPort
{
public:
    // --- what the device sends ---
    // Appends bytes to the receive queue; getByte() delivers them in order.
    void feed(const QByteArray &bytes);
    void feed(const char *bytes) { feed(QByteArray(bytes)); }
    // Like feed(); the last byte arrives with a parity (framing) error, which
    // sigParityErr() (sigFrameErr()) reports once that byte has been read.
    void feedWithParityError(const QByteArray &bytes);
    void feedWithFramingError(const QByteArray &bytes);
    // An event that the next query of its kind reports (once).
    void injectParityError();
    void injectFramingError();
    void injectOverrun();
    void injectBreak();
    void injectRxOverflow();
    // A device that sends on request: each time the program has written
    // `request` (counted from the end of the previous one), `answer` is fed.
    // An empty `request` answers nothing.
    void answerRequests(const QByteArray &request, const QByteArray &answer);
    // Bytes fed but not yet read.
    int pendingBytes() const;
    // Waits until every fed byte has been read; false on time-out.
    bool waitUntilDrained(std::chrono::milliseconds timeout) const;

    // --- handshake lines ---
    void setLine(SimLine line, SimRule rule);
    // The outputs as last set by the program (both start off).
    bool dtr() const;
    bool rts() const;
    // A port without modem-control lines, like a pseudo-terminal: setting
    // DTR/RTS is accepted without effect and every input line reads off.
    void setNoModemLines(bool none);

    // --- failures ---
    // The next `times` opens (-1: all) fail with this contract code
    // (1002 in use, 1006 permission denied, ...); 0 clears.
    void failOpen(int code, int times = -1);
    // Opens of this port wait (inside SerOpenPort, as a slow driver would)
    // until releaseOpen(); the waiting open then goes on as usual.
    void holdOpen();
    void releaseOpen();
    // Waits until an open is waiting in holdOpen's hold; false on time-out.
    bool waitUntilOpenHeld(std::chrono::milliseconds timeout) const;
    // Advice the native side adds to open failure messages of this port.
    void setOpenFailureHint(const QString &hint);
    // The next `times` configure calls (-1: all) answer this non-zero code; 0 clears.
    void failConfigure(int code, int times = -1);
    // The next `times` calls (-1: all) of this kind answer `result` without
    // doing anything (Close still closes the port).
    void forceResult(SimCall call, int result, int times = -1);
    void clearForcedResults();
    // The device disappears: reads answer -1, line queries and settings -1,
    // SerDeviceLost 1. Close still succeeds.
    void unplug();
    // The device is back (a new open works; an old open stays lost).
    void replug();

    // --- inspection ---
    bool isOpen() const;
    int openCount() const;
    int configureCount() const;
    // The configuration of the last SerConfigure call (bit rate as the native
    // side received it: a code unless the platform passes rates).
    SerialConfig lastConfiguration() const;
    int timeoutRx() const;
    int timeoutTx() const;
    // Bytes the program wrote.
    QByteArray written() const;
    // The native calls made on this port, in order, e.g. "SerOpenPort",
    // "SerConfigure", "SerRxFlush", "SerSetRTS(0)", "SerSetDTR(1)", "SerSigDSR",
    // "SerClosePort". SerGetByte polls are not logged.
    QStringList calls() const;
    void clearCalls();

    const QString &name() const { return m_name; }
    const QString &description() const { return m_description; }
    const QString &manufacturer() const { return m_manufacturer; }

private:
    friend class SimulatedNative;
    SimulatedPort(
        SimulatedNative &owner, QString name, QString description, QString manufacturer, bool listed);

    struct Byte
    {
        std::uint8_t value;
        bool parity;
        bool framing;
    };
    struct Forced
    {
        int result;
        int times; // -1: unlimited
    };

    bool takeForced(SimCall call, int *result); // caller holds the lock
    int lineValue(SimLine line) const; // caller holds the lock
    void log(const QString &call); // caller holds the lock

    SimulatedNative &m_owner;
    const QString m_name;
    const QString m_description;
    const QString m_manufacturer;
    const bool m_listed;

    std::deque<Byte> m_queue;
    bool m_parityEvent = false;
    bool m_framingEvent = false;
    bool m_overrunEvent = false;
    bool m_breakEvent = false;
    bool m_overflowEvent = false;
    std::map<SimLine, SimRule> m_rules;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_noModemLines = false;
    bool m_holdOpen = false;
    int m_opensHeld = 0; // opens waiting in the hold
    Forced m_openFailure { 0, 0 };
    QString m_openFailureHint;
    Forced m_configureFailure { 0, 0 };
    std::map<SimCall, Forced> m_forced;
    bool m_unplugged = false;
    int m_openIndex = -1; // native index while open
    bool m_lostWhileOpen = false;
    int m_openCount = 0;
    int m_configureCount = 0;
    SerialConfig m_lastConfig;
    int m_timeoutRx = 0;
    int m_timeoutTx = 0;
    QByteArray m_written;
    QStringList m_calls;
    QByteArray m_request;
    QByteArray m_answer;
    qsizetype m_requestsFrom = 0; // where in m_written the next request is looked for
};

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
