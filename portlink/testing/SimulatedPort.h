// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One device of the simulated native side (SimulatedNative.h): what it sends,
// its handshake lines, the failures it is set to give, and what the program
// did with it.

#include "portlink/SerialConfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <type_traits>

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

    // The test-side accessors: `f` runs under the owner's lock; read() copies
    // one member out (unshared), write() sets one.
    template <typename F> auto locked(F &&f) const -> decltype(f());
    template <typename T> T read(T SimulatedPort::*member) const;
    template <typename T> void write(T SimulatedPort::*member, std::type_identity_t<T> value);
    // Appends bytes to the receive queue; the last one carries `mark` (a Byte
    // flag) when given; a wait for input wakes.
    void feedMarked(const QByteArray &bytes, bool Byte::*mark);

    // The rest is for the native calls; the caller holds the lock.
    // A pending forced result counts down once and gives its result.
    static bool take(Forced &forced, int *result);
    bool takeForced(SimCall call, int *result);
    void enqueue(const QByteArray &bytes);
    // Takes the first queued byte (the queue is not empty) and records its errors as events.
    std::uint8_t takeByte();
    int lineValue(SimLine line) const;
    void log(const QString &call);

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

} // namespace portlink::testing
