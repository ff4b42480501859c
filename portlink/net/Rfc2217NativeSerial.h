// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/NativeSerial.h"
#include "portlink/SlotTable.h"

namespace portlink {

// The native side for "rfc2217://HOST:PORT": a serial port of a device server
// (ser2net in telnet mode, device servers in RFC 2217 mode) over the telnet
// COM-port option, through gensio's client. SerConfigure sends the bit rate,
// data bits, parity and stop bits to the server and waits for its answers;
// the server reports CTS, DSR, CD and RI (read as they were last reported)
// and parity, framing, overrun and break events; DTR and RTS are sent on.
//
// Each connection has its own gensio event loop on a thread of its own, which
// takes the received bytes into the connection's buffer; the contract's calls
// only look at that buffer and the last reports, so they never block
// (writes wait in short slices, like the other sides). Open is bounded by
// kConnectTimeoutMs, ends at once when the opening thread is interrupted
// (util::Interruption) and needs no NativeHandleMutex. Failure codes as
// TcpNativeSerial (1010 refused, 1011 no answer, 1012 unreachable, 1013
// unknown host, 1014 stopped, 1016 port out of range), and 1015 when the
// server closes the connection before it stands, 1017 when it does not take
// the COM-port option (also SerConfigure's answer then; 1015 there when the
// server closed the connection meanwhile). A closed or broken connection
// marks the port lost.
class Rfc2217NativeSerial final : public NativeSerial
{
public:
    static constexpr int kConnectTimeoutMs = 5000;
    // How long the server may take to answer a change of line settings.
    static constexpr int kSettingsTimeoutMs = 3000;

    Rfc2217NativeSerial();
    ~Rfc2217NativeSerial() override;

    int SerOpenPort(SerialConfig &config) override;
    bool SerOpenIsSlow() override { return true; }
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
    QString SerOpenFailureHint(int rc, const SerialConfig &config) override;
    // Says when the server does not take the COM-port option, closed the
    // connection, or did not answer the line settings.
    QString SerConfigureFailureHint(int rc, const SerialConfig &config) override;
    QString SerGetLibVer() override;

    struct Connection;

private:
    std::shared_ptr<Connection> find(int port) const;

    SlotTable<Connection> m_connections;
};

} // namespace portlink
