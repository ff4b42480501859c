// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/StopSignal.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace portlink {

class SerialConfig;

// Where native port discovery reports what it finds (SerGetPortList).
class PortListReceiver
{
public:
    virtual ~PortListReceiver() = default;
    virtual void addPortName(const QString &name) = 0;
    virtual void addPortInfo(const QString &name, const QString &manufacture, const QString &description) = 0;
};

// The native half of the serial layer: the entry points that SerialPortLocal
// calls, with their results. `port` is the native port index that
// SerOpenPort handed out (config port number - 1).
//
// Results: unless stated, -1 means failure. An open that fails answers one of
// the OpenResult numbers (OpenResult.h: 1000 already open, 1002 in use, ...,
// 1014 stopped) or a number of its own.
//
// Threads: SerOpenPort, SerClosePort and SerConfigure are serialised by the
// caller (NativeHandleMutex). Every other entry may run on any thread at the
// same time as any entry, including SerClosePort of the same index: a call with
// an index that is being or has been closed answers with its failure value
// (-1 for SerGetByte) and never touches a released descriptor. Indexes are
// never reused within a process.
//
// The entries this program does not use have default bodies answering -1 (or
// nothing), so an implementation only writes what its system offers.
class NativeSerial
{
public:
    virtual ~NativeSerial() = default;

    // Opens config.getPortName(); on success returns 0 and sets the config's
    // port number to index + 1.
    virtual int SerOpenPort(SerialConfig &config) = 0;
    // True when SerOpenPort may take seconds (it makes a network connection)
    // and shares nothing with other opens: the caller then does not hold
    // NativeHandleMutex around it, so other ports open meanwhile.
    virtual bool SerOpenIsSlow() { return false; }
    // 0 on success.
    virtual int SerClosePort(int port) = 0;
    // Applies line settings; the bit rate is a code (0-14) unless the platform
    // has supNoIndexBitRate, then it may be a rate. 0 on success, else a code.
    virtual int SerConfigure(int port, const SerialConfig &config) = 0;

    // Next received byte 0-255, or -1 when none is waiting (or the index is not
    // open, or the device is gone). Never blocks, never allocates.
    virtual int SerGetByte(int port) = 0;
    // Up to `count` waiting bytes into buf; the number stored (0 or more), -1 on failure.
    virtual int SerGetData(int port, std::uint8_t *buf, int count) = 0;
    // 0 on success, otherwise an error code.
    virtual int SerPutByte(int port, std::uint8_t byte) = 0;
    // Bytes sent.
    virtual int SerPutData(int port, const std::uint8_t *buf, int count) = 0;
    virtual int SerRxFlush(int port) = 0;
    virtual int SerTxFlush(int port) = 0;
    virtual int SerTxDrain(int port) = 0;
    virtual int SerRxReadyCount(int port) = 0;
    virtual int SerTxBufCount(int port) = 0;
    // Events (parity, framing, overrun, break, receive overflow) read 1 when
    // one occurred since the previous query of the same kind.
    virtual int SerRxOverflow(int port) = 0;
    virtual int SerSigCTS(int port) = 0;
    virtual int SerSigDSR(int port) = 0;
    virtual int SerSigCD(int port) = 0;
    virtual int SerSigRing(int port) = 0;
    virtual int SerSigBreak(int port) = 0;
    virtual int SerSigParityErr(int port) = 0;
    virtual int SerSigFrameErr(int port) = 0;
    virtual int SerSigOverrun(int port) = 0;
    virtual int SerSetDTR(int port, bool on) = 0;
    virtual int SerSetRTS(int port, bool on) = 0;
    virtual int SerSetTimeoutRx(int port, int ms) = 0;
    virtual int SerSetTimeoutTx(int port, int ms) = 0;
    virtual int SerGetTimeoutRx(int port) = 0;
    virtual int SerGetTimeoutTx(int port) = 0;
    virtual int SerSendBreak(int port, int ms) = 0;
    // Reports every port through receiver.addPortName and its driver data
    // through receiver.addPortInfo.
    virtual void SerGetPortList(PortListReceiver &receiver) = 0;

    // 1 when the device behind an open index has gone away (unplugged, hung
    // up, pty master closed): reads then answer -1 for good. 0 while it is
    // present, -1 for an index that is not open.
    virtual int SerDeviceLost(int port) = 0;
    // Waits until a received byte is waiting, for at most `ms` milliseconds
    // (0: only looks). 1 when a byte is waiting, 0 on time-out, -1 for an index
    // that is not open or a device that is gone (a hang-up seen while waiting
    // marks the device lost). Never allocates. A native side without a way to
    // wait sleeps for `ms` and answers 0.
    virtual int SerWaitInput(int port, int ms)
    {
        (void)port;
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return 0;
    }
    // Waits until a received byte is waiting (1), `stop` (may be null) is
    // raised (0), `ms` milliseconds have passed (0; a negative `ms` waits
    // without a time limit), or the port can deliver nothing more (-1): the
    // index is not open, SerClosePort of it has begun on another thread, or
    // the device is gone (a hang-up seen while waiting marks it lost).
    //
    // The wait sleeps in the system until one of these happens and wakes for
    // nothing else, so an idle open port costs no processor time. SerClosePort
    // ends a wait on its index first and releases the port only after the
    // waiting thread has let go of it.
    //
    // A native side without such a wait gets this one: SerWaitInput in
    // slices of WaitSliceMs, with a look at `stop` after each.
    static constexpr int WaitSliceMs = 250;
    virtual int SerWaitReadable(int port, int ms, StopSignal *stop)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
        for (;;) {
            if (stop && stop->raised())
                return 0;
            int slice = WaitSliceMs;
            if (ms >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                slice = static_cast<int>(std::clamp<long long>(left.count(), 0, WaitSliceMs));
            }
            const int rc = SerWaitInput(port, slice);
            if (rc != 0)
                return rc;
            if (ms >= 0 && std::chrono::steady_clock::now() >= deadline)
                return 0;
        }
    }
    // Waits, after the device of `config` went away or could not be opened,
    // until it may be back: something changed where its name leads (the
    // device node, a link to it, the folders on the way). At most `ms`
    // milliseconds; ends early when the calling thread is interrupted
    // (util::Interruption). 1: worth trying to open again; 0: time-out (or
    // interrupted). A native side that cannot watch names waits the whole
    // time and answers 0, so the caller simply retries.
    virtual int SerWaitPortName(const SerialConfig &config, int ms);
    // Extra advice appended to an open failure message, e.g. how to get
    // permission for a device; empty when there is none.
    virtual QString SerOpenFailureHint(int rc, const SerialConfig &config) { return QString(); }
    // Extra advice appended to a configure failure message (which setting
    // the driver refused, what the user can do); empty when there is none.
    // The default knows the codes of ConfigureRefusals.h.
    virtual QString SerConfigureFailureHint(int rc, const SerialConfig &config);

    // One step of software flow control; 0 normally.
    virtual int SerFlowTask(int port) { return -1; }
    // Body of a service thread; returns when the service ends, -1 on error.
    virtual int SerServerTask() { return -1; }
    virtual QString SerGetLibVer() { return QString(); }
    virtual QString SerGetName(int port) { return QString(); }
    virtual QString SerGetPortMfgr(int port) { return QString(); }
    virtual int SerResetPortDriver(int port) { return -1; }
    virtual int SerGetPowerMode(int port) { return -1; }
    virtual int SerSetPowerMode(int port, int mode) { return -1; }
    virtual int SerGetResumeState() { return -1; }
    virtual int SerGetStatusAPM() { return -1; }
    virtual bool SerGetInstanceLock() { return false; }
    virtual int SerSetInstanceLock(bool on) { return -1; }
    virtual int SerRegisterDeviceNotification() { return -1; }
    virtual int SerUnregisterDeviceNotification() { return -1; }
};

// Finds the native side by library base name (or, for the user-folder
// fallback, by file path). Returns nullptr and sets *error to the loader's
// text when there is none. The native side of this platform is compiled into
// the program, so the standard loader answers every name with it; tests
// replace the loader to make loading fail or to install a simulation.
using NativeLoader = std::function<std::shared_ptr<NativeSerial>(const QString &nameOrPath, QString *error)>;

// The native side compiled into this build (one per platform, chosen in CMake).
std::shared_ptr<NativeSerial> compiledNative();

} // namespace portlink
