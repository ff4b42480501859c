// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/NativeSerial.h"
#include "portlink/linux/PortListing.h"

#include <mutex>
#include <unordered_map>

namespace portlink {

// The native side on Linux, directly over the terminal interface (termios,
// ioctl) of any tty device: USB adapters, UARTs, pseudo-terminals.
//
// Descriptor safety: each open port is a slot with a reader-writer lock.
// Every call holds the slot shared while it uses the descriptor; close marks
// the slot closing, takes it exclusively, closes the descriptor and forgets
// the slot. Indexes count up and are never reused, so a call with a stale index
// finds no slot and fails (-1) instead of reaching another port whose
// descriptor happens to carry the same number. Calls are non-blocking except
// writes, drains and breaks, which wait in short slices and give up when the
// port is being closed.
//
// Ports without modem-control lines (pseudo-terminals, many virtual ports)
// accept DTR/RTS changes without effect and read all lines and error events
// as off. A device that goes away (EIO/ENXIO/ENODEV, end of file on a
// non-blocking read, hang-up) marks its slot lost; SerDeviceLost reports it.
//
// Waiting for input polls the descriptor with the slot held shared, so the
// descriptor cannot be released (or its number reused) during a poll; the
// poll also watches the slot's close event (which a close raises before it
// takes the slot) and the caller's stop signal, so it needs no time limit.
//
// Parity, framing, overrun, break and buffer-overrun events come from the
// driver's error counters (TIOCGICOUNT) as a change since the previous query
// of the same kind. Received bytes are delivered as they arrive, errors or not.
//
// Open: O_NONBLOCK without becoming the controlling terminal; an advisory
// exclusive lock (flock) tells "in use by another program" (1002) apart; the
// device is then set exclusive (TIOCEXCL) for the time it is open.
class LinuxNativeSerial final : public NativeSerial
{
public:
    explicit LinuxNativeSerial(PortEnumerator enumerator = listSystemSerialPorts);
    ~LinuxNativeSerial() override;

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
    // Watches (inotify) the folder of the name and, for each link on the way,
    // the folder it points into; the nearest existing folder where one is
    // missing (/dev/serial/by-id goes away with its last device). Attribute
    // changes count too: udev sets a new node's group just after making it.
    int SerWaitPortName(const SerialConfig &config, int ms) override;
    QString SerOpenFailureHint(int rc, const SerialConfig &config) override;
    int SerFlowTask(int port) override;
    QString SerGetLibVer() override;

    struct Slot;

private:
    std::shared_ptr<Slot> find(int port) const;
    int modemLine(int port, int bit);
    int setModemLine(int port, int bit, bool on);
    int counterEvent(int port, int which);
    int writeAll(int port, const std::uint8_t *buf, int count);

    PortEnumerator m_enumerator;
    mutable std::mutex m_tableMutex;
    std::unordered_map<int, std::shared_ptr<Slot>> m_slots;
    int m_nextIndex = 0;
};

} // namespace portlink
