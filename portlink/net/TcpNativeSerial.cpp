// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/net/TcpNativeSerial.h"

#include "portlink/net/NetworkOpenFailures.h"

#include "portlink/NetworkPortName.h"
#include "portlink/OpenResult.h"
#include "portlink/SerialConfig.h"
#include "portlink/StopSignal.h"
#include "portlink/linux/ThreadStopFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace portlink {

namespace {

constexpr int kNotValid = openResultCode(OpenResult::NotValid);
constexpr int kRefused = openResultCode(OpenResult::Refused);
constexpr int kNoAnswer = openResultCode(OpenResult::NoAnswer);
constexpr int kUnreachable = openResultCode(OpenResult::Unreachable);
constexpr int kUnknownHost = openResultCode(OpenResult::UnknownHost);
constexpr int kStopped = openResultCode(OpenResult::Stopped);

// How long a drain waits before looking again whether its connection is
// being closed or lost.
constexpr int kSliceMs = 50;

bool isLostErrno(int e)
{
    return e == ECONNRESET || e == ETIMEDOUT || e == EPIPE || e == ENOTCONN || e == EHOSTUNREACH
        || e == ENETUNREACH || e == ECONNABORTED;
}

int codeFor(int e)
{
    switch (e) {
    case ECONNREFUSED:
        return kRefused;
    case ETIMEDOUT:
        return kNoAnswer;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
        return kUnreachable;
    default:
        return e > 0 ? e : kNoAnswer;
    }
}

void setKeepalive(int fd)
{
    const int on = 1;
    const int idle = TcpNativeSerial::kKeepIdleS;
    const int interval = TcpNativeSerial::kKeepIntervalS;
    const int count = TcpNativeSerial::kKeepCount;
    const unsigned userTimeout = (idle + interval * count) * 1000u;
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
    // Records are short; they should not wait for more to fill a segment.
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Connects to one address within `deadline`; the socket, or -1 with *code set.
int connectOne(const addrinfo &ai, std::chrono::steady_clock::time_point deadline, int stopFd, int *code)
{
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        *code = codeFor(errno);
        return -1;
    }
    setKeepalive(fd);
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) == 0)
        return fd;
    if (errno != EINPROGRESS) {
        *code = codeFor(errno);
        ::close(fd);
        return -1;
    }
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            *code = kNoAnswer;
            ::close(fd);
            return -1;
        }
        pollfd p[2] = { { fd, POLLOUT, 0 }, { stopFd, POLLIN, 0 } };
        const int n = ::poll(p, stopFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR) {
            *code = codeFor(errno);
            ::close(fd);
            return -1;
        }
        if (n > 0 && stopFd >= 0 && (p[1].revents & POLLIN)) {
            *code = kStopped;
            ::close(fd);
            return -1;
        }
        if (n > 0 && p[0].revents) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error == 0)
                return fd;
            *code = codeFor(error);
            ::close(fd);
            return -1;
        }
    }
}

ssize_t receiveSome(int fd, void *buf, size_t count)
{
    return ::recv(fd, buf, count, MSG_DONTWAIT);
}

ssize_t sendSome(int fd, const void *buf, size_t count)
{
    return ::send(fd, buf, count, MSG_DONTWAIT | MSG_NOSIGNAL);
}

// A read of 0 bytes: the peer closed the connection.
bool peerClosed(int)
{
    return true;
}

// Between two looks of a drain: it ends once the connection is lost, and
// sooner than a slice when the socket reports an error.
bool pauseDrain(DescriptorSlot &slot)
{
    if (slot.lost.load())
        return false;
    pollfd p { slot.fd, POLLERR, 0 };
    (void)::poll(&p, 1, kSliceMs / 5);
    return true;
}

// Readable also means "closed by the peer" or "reset": the read that follows
// a wait tells (and marks the slot lost).
constexpr DescriptorKind kSocket { isLostErrno, receiveSome, sendSome, peerClosed, false, nullptr,
    pauseDrain };

} // namespace

TcpNativeSerial::TcpNativeSerial()
    : DescriptorNativeSerial(kSocket)
{
}

TcpNativeSerial::~TcpNativeSerial() = default;

int TcpNativeSerial::SerOpenPort(SerialConfig &config)
{
    const NetworkPortName name = NetworkPortName::parse(config.getPortNameString());
    if (name.kind != NetworkPortName::Kind::Tcp)
        return kNotValid;
    if (!name.valid())
        return network_open::forInvalidName(config.getPortNameString());

    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray host = name.host.toUtf8();
    const QByteArray service = QByteArray::number(name.port);
    if (::getaddrinfo(host.constData(), service.constData(), &hints, &found) != 0 || !found)
        return kUnknownHost;

    ThreadStopFd stop;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    int fd = -1;
    int code = kNoAnswer;
    for (const addrinfo *ai = found; ai && fd < 0 && code != kStopped; ai = ai->ai_next)
        fd = connectOne(*ai, deadline, stop.fd(), &code);
    ::freeaddrinfo(found);
    if (fd < 0)
        return code;

    config.setPortNum(m_slots.add(fd) + 1);
    return 0;
}

int TcpNativeSerial::SerConfigure(int port, const SerialConfig &)
{
    return m_slots.withOpen(port, [](DescriptorSlot &) { return 0; });
}

int TcpNativeSerial::SerRxFlush(int port)
{
    // Only what this side has taken from the socket: a connection has no
    // stale bytes from before it was made, and what arrived since it was made
    // is the device's (it is not to be dropped).
    return m_slots.withOpen(port, [](DescriptorSlot &s) {
        DescriptorSlots::dropBuffered(s);
        return 0;
    });
}

int TcpNativeSerial::SerTxFlush(int port)
{
    return m_slots.withOpen(port, [](DescriptorSlot &) { return 0; });
}

// No modem lines and no line events on a byte stream: every query reads off
// (but fails like the others once the connection is gone).
#define OMVARA_TCP_OFF(name)                                                                                 \
    int TcpNativeSerial::name(int port)                                                                      \
    {                                                                                                        \
        return m_slots.withOpen(port, [](DescriptorSlot &s) { return s.lost.load() ? -1 : 0; });             \
    }
OMVARA_TCP_OFF(SerRxOverflow)
OMVARA_TCP_OFF(SerSigCTS)
OMVARA_TCP_OFF(SerSigDSR)
OMVARA_TCP_OFF(SerSigCD)
OMVARA_TCP_OFF(SerSigRing)
OMVARA_TCP_OFF(SerSigBreak)
OMVARA_TCP_OFF(SerSigParityErr)
OMVARA_TCP_OFF(SerSigFrameErr)
OMVARA_TCP_OFF(SerSigOverrun)
#undef OMVARA_TCP_OFF

int TcpNativeSerial::SerSetDTR(int port, bool)
{
    return m_slots.withOpen(port, [](DescriptorSlot &s) { return s.lost.load() ? -1 : 0; });
}

int TcpNativeSerial::SerSetRTS(int port, bool)
{
    return m_slots.withOpen(port, [](DescriptorSlot &s) { return s.lost.load() ? -1 : 0; });
}

int TcpNativeSerial::SerSendBreak(int port, int)
{
    return m_slots.withOpen(port, [](DescriptorSlot &s) { return s.lost.load() ? -1 : 0; });
}

void TcpNativeSerial::SerGetPortList(PortListReceiver &)
{
    // Network ports are named by the user; there is nothing to discover.
}

QString TcpNativeSerial::SerOpenFailureHint(int rc, const SerialConfig &config)
{
    return network_open::hint(rc, config, kConnectTimeoutMs);
}

QString TcpNativeSerial::SerGetLibVer()
{
    return QStringLiteral("tcp");
}

int TcpNativeSerial::socketOf(int port) const
{
    return m_slots.descriptorOf(port);
}

} // namespace portlink
