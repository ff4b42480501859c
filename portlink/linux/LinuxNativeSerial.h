// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/linux/DescriptorNativeSerial.h"
#include "portlink/linux/PortListing.h"

namespace portlink {

// The native side on Linux, directly over the terminal interface (termios,
// ioctl) of any tty device: USB adapters, UARTs, pseudo-terminals.
//
// Descriptor safety: each open port is a slot (DescriptorNativeSerial) with a
// reader-writer lock. Every call holds the slot shared while it uses the
// descriptor; close marks the slot closing, takes it exclusively, closes the
// descriptor and forgets the slot. Indexes count up and are never reused, so a
// call with a stale index finds no slot and fails (-1) instead of reaching
// another port whose descriptor happens to carry the same number. Calls are
// non-blocking except writes, drains and breaks, which wait in short slices
// and give up when the port is being closed.
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
class LinuxNativeSerial final : public DescriptorNativeSerial
{
public:
    explicit LinuxNativeSerial(PortEnumerator enumerator = listSystemSerialPorts);
    ~LinuxNativeSerial() override;

    int SerOpenPort(SerialConfig &config) override;
    int SerConfigure(int port, const SerialConfig &config) override;
    int SerRxFlush(int port) override;
    int SerTxFlush(int port) override;
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
    int SerSendBreak(int port, int ms) override;
    void SerGetPortList(PortListReceiver &receiver) override;
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
    int modemLine(int port, int bit);
    int setModemLine(int port, int bit, bool on);
    int counterEvent(int port, int which);

    PortEnumerator m_enumerator;
};

} // namespace portlink
