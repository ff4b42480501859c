// SPDX-License-Identifier: GPL-3.0-or-later
// What a serial port offers.
#pragma once

#include "portlink/SerialConfig.h"
#include "portlink/StopSignal.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace portlink {

class ErrorStatusHandler;

// One serial port. Operations throw IoError with a fixed text on failure
// unless stated otherwise; the checks run in the order: supported on this
// system ("<op> not supported on <osName>"), port open ("<op>: Port not
// open"), then the native call ("<op> failed").
//
// Threads: a port is used by one thread, except that close() may be called
// from another thread while that thread is inside getByte(), waitForInput(),
// waitReadable(), a signal query or isDeviceLost(); those calls then answer
// -1 / false / throw "...: Port not open" / "... failed" and never touch the
// released device. A close ends a wait in progress before it releases the port.
// Besides, one other thread may write (putByte, putData, putString) while the
// first one reads, and close() may be called during such a write: the write
// then ends within 50 ms with an IoError (it never waits for the transmit
// time-out of a port that is being closed).
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    virtual void open() = 0;
    // Marks the port closed, then closes it natively. Closing a closed port
    // only clears the activity flags.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void configure() = 0;
    virtual void configure(SerialConfig &config) = 0;
    virtual void setConfig(const SerialConfig &config) = 0;
    virtual const SerialConfig &getConfig() const = 0;

    // The next received byte 0-255, or -1 when none is waiting. Never throws,
    // never blocks (unless a soft receive wait is configured), allocates
    // nothing. -1 also answers a closed port and a vanished device: ask
    // isDeviceLost() to tell those apart from "nothing yet".
    virtual int getByte() = 0;
    // Waits until a received byte is waiting, for at most `milliseconds`
    // (0 or less: only looks): true when getByte() has a byte to deliver,
    // false on time-out, for a closed port and for a vanished device (which
    // isDeviceLost() then reports). Returns as soon as a byte arrives; never
    // throws, never waits longer than asked. close() from another thread may
    // run meanwhile, as for getByte(); it is then answered false.
    virtual bool waitForInput(int milliseconds) = 0;
    // Waits without a time limit until getByte() has a byte to deliver
    // (true), or until `stop` is raised, the device goes away (isDeviceLost()
    // then says so) or the port is closed from another thread (false). It
    // wakes for nothing else: an idle reader costs no processor time. Never
    // throws.
    virtual bool waitReadable(StopSignal &stop) = 0;
    // As waitReadable(stop), for at most `milliseconds` (false on time-out).
    virtual bool waitReadable(StopSignal &stop, int milliseconds) = 0;
    virtual int getData(QByteArray &buf) = 0;
    virtual int getData(QByteArray &buf, int off, int len) = 0;
    virtual int rxReadyCount() = 0;
    virtual void rxFlush() = 0;
    virtual bool rxOverflow() = 0;

    // True once the device behind the open port has gone away during use
    // (USB adapter unplugged, hang-up, pseudo-terminal master closed). From
    // then on getByte() answers -1 for good; a reader should end its run and
    // close the port. False while the device is present and after close().
    // Never throws; costs no system call.
    virtual bool isDeviceLost() = 0;

    virtual void putByte(std::uint8_t b) = 0;
    virtual void putData(const QByteArray &buf) = 0;
    virtual void putData(const QByteArray &buf, int len) = 0;
    virtual void putData(const QByteArray &buf, int off, int len) = 0;
    virtual void putString(const QString &s) = 0;
    virtual int txBufCount() = 0;
    virtual void txFlush() = 0;
    virtual void txDrain() = 0;
    virtual void sendBreak(int ms) = 0;

    // Line states and events (parity/framing/overrun/break: occurred since the
    // previous query of the same kind). Ports without modem-control lines
    // (pseudo-terminals, many virtual ports) read every line as off and every
    // event as absent.
    virtual bool sigCTS() = 0;
    virtual bool sigDSR() = 0;
    virtual bool sigCD() = 0;
    virtual bool sigRing() = 0;
    virtual bool sigBreak() = 0;
    virtual bool sigParityErr() = 0;
    virtual bool sigFrameErr() = 0;
    virtual bool sigOverrun() = 0;
    // Accepted (and without effect) on ports without modem-control lines.
    virtual void setDTR(bool on) = 0;
    virtual void setRTS(bool on) = 0;

    virtual void setTimeoutRx(int ms) = 0;
    virtual void setTimeoutTx(int ms) = 0;
    virtual int getTimeoutRx() = 0;
    virtual int getTimeoutTx() = 0;

    virtual int getBitRate() const = 0;
    virtual int getDataBits() const = 0;
    virtual int getParity() const = 0;
    virtual int getStopBits() const = 0;
    virtual int getHandshake() const = 0;
    virtual void setBitRate(int bitRate) = 0;
    virtual void setDataBits(int dataBits) = 0;
    virtual void setParity(int parity) = 0;
    virtual void setStopBits(int stopBits) = 0;
    virtual void setHandshake(int handshake) = 0;

    // The configured device name, as text.
    virtual QString getPortName() const = 0;
    // The native port index, -1 while not open.
    virtual int getPortNum() const = 0;
    virtual QString getName() const = 0;
    virtual void setName(const QString &name) = 0;
    virtual int getMaxBitRate() const = 0;
    virtual int getBuildNum() const = 0;
    virtual bool isLibraryLoaded() const = 0;

    virtual bool readSinceRxBufCheck() const = 0;
    virtual bool sendSinceTxBufEmpty() const = 0;
    virtual void clearReadSinceRxBufCheck() = 0;
    virtual void clearSendSinceTxBufEmpty() = 0;
    // Not owned; must outlive the port or be reset to nullptr.
    virtual void setErrorStatusHandler(ErrorStatusHandler *esh) = 0;
};

} // namespace portlink
