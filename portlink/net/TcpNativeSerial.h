// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/linux/DescriptorNativeSerial.h"

namespace portlink {

// The native side for "tcp://HOST:PORT": a raw TCP byte stream to a serial
// device server (in raw or TCP-server mode) or a network instrument.
//
// Open connects, bounded by kConnectTimeoutMs, and gives up at once when the
// calling thread is interrupted (its stop token, see util::Interruption);
// it does not need NativeHandleMutex (SerOpenIsSlow). Failures: 1010
// refused, 1011 no answer within the bound, 1012 network or host
// unreachable, 1013 unknown host or bad address, 1014 stopped, 1016 port
// number out of range (NetworkOpenFailures.h).
//
// The line settings belong to the device server, so SerConfigure accepts
// anything; there are no modem lines (they read off, DTR/RTS changes are
// accepted) and no parity, framing or break events. The connection counts as
// lost when the peer closes or resets it, or when TCP keepalive finds the peer
// gone (kKeepIdleS + kKeepCount x kKeepIntervalS, about 15 s), or when sent
// data stays unacknowledged for as long (TCP_USER_TIMEOUT).
//
// Descriptor safety as in LinuxNativeSerial: one slot (DescriptorNativeSerial) per
// connection with a reader-writer lock held shared while a call uses the
// socket and exclusively by close; indexes are never reused.
class TcpNativeSerial final : public DescriptorNativeSerial
{
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kKeepIdleS = 5;
    static constexpr int kKeepIntervalS = 2;
    static constexpr int kKeepCount = 5;

    TcpNativeSerial();
    ~TcpNativeSerial() override;

    int SerOpenPort(SerialConfig &config) override;
    bool SerOpenIsSlow() override { return true; }
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
    QString SerOpenFailureHint(int rc, const SerialConfig &config) override;
    QString SerGetLibVer() override;

    // The socket of an open index, -1 when there is none. For tests that
    // look at its options.
    int socketOf(int port) const;

private:
};

} // namespace portlink
