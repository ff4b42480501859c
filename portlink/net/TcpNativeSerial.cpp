// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/net/TcpNativeSerial.h"

#include "portlink/net/NetworkOpenFailures.h"

#include "portlink/linux/ReadableWait.h"

#include "portlink/NetworkPortName.h"
#include "portlink/OpenResult.h"
#include "portlink/SerialConfig.h"
#include "portlink/StopSignal.h"
#include "portlink/linux/ThreadStopFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <shared_mutex>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
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

// How long a blocking step (write, wait) waits before looking again whether
// its connection is being closed.
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

} // namespace

struct TcpNativeSerial::Slot
{
    std::shared_mutex mutex; // shared while a call uses fd; exclusive to close
    int fd = -1; // guarded by mutex
    bool open = false; // guarded by mutex
    std::atomic<bool> closing { false };
    std::atomic<bool> lost { false };
    std::atomic<int> timeoutRx { 0 };
    std::atomic<int> timeoutTx { 0 };
    // Bytes taken from the socket in one read and not yet handed out.
    std::mutex rxMutex;
    std::uint8_t rx[4096];
    int rxBegin = 0;
    int rxEnd = 0;
    // Readable once SerClosePort has begun: ends a wait on the socket at once.
    int closeEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    Slot() = default;
    Slot(const Slot &) = delete;
    Slot &operator=(const Slot &) = delete;
    ~Slot()
    {
        if (closeEvent >= 0)
            ::close(closeEvent);
    }

    void noteErrno(int e)
    {
        if (isLostErrno(e))
            lost.store(true);
    }
};

TcpNativeSerial::TcpNativeSerial() = default;

TcpNativeSerial::~TcpNativeSerial()
{
    std::lock_guard lock(m_tableMutex);
    for (auto &entry : m_slots) {
        std::unique_lock slotLock(entry.second->mutex);
        if (entry.second->open)
            ::close(entry.second->fd);
        entry.second->open = false;
    }
}

std::shared_ptr<TcpNativeSerial::Slot> TcpNativeSerial::find(int port) const
{
    std::lock_guard lock(m_tableMutex);
    auto it = m_slots.find(port);
    return it == m_slots.end() ? nullptr : it->second;
}

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

    auto slot = std::make_shared<Slot>();
    slot->fd = fd;
    slot->open = true;
    std::lock_guard lock(m_tableMutex);
    const int index = m_nextIndex++;
    m_slots.emplace(index, std::move(slot));
    config.setPortNum(index + 1);
    return 0;
}

int TcpNativeSerial::SerClosePort(int port)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(m_tableMutex);
        auto it = m_slots.find(port);
        if (it == m_slots.end())
            return -1;
        slot = it->second;
        m_slots.erase(it);
    }
    slot->closing.store(true);
    signalClose(slot->closeEvent);
    std::unique_lock lock(slot->mutex);
    if (slot->open) {
        ::close(slot->fd);
        slot->fd = -1;
        slot->open = false;
    }
    return 0;
}

namespace {

template <typename F> int withOpenSlot(const std::shared_ptr<TcpNativeSerial::Slot> &slot, F &&f)
{
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    return f(*slot);
}

// Reads what the socket holds into the slot's (empty) buffer; the number of
// bytes now buffered, 0 when none are waiting or the connection ended.
int refill(TcpNativeSerial::Slot &slot)
{
    const ssize_t n = ::recv(slot.fd, slot.rx, sizeof slot.rx, MSG_DONTWAIT);
    if (n > 0) {
        slot.rxBegin = 0;
        slot.rxEnd = static_cast<int>(n);
        return slot.rxEnd;
    }
    if (n == 0)
        slot.lost.store(true); // the peer closed the connection
    else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        slot.noteErrno(errno);
    return 0;
}

} // namespace

int TcpNativeSerial::SerConfigure(int port, const SerialConfig &)
{
    return withOpenSlot(find(port), [](Slot &) { return 0; });
}

int TcpNativeSerial::SerGetByte(int port)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    std::lock_guard rxLock(slot->rxMutex);
    if (slot->rxBegin == slot->rxEnd && refill(*slot) == 0)
        return -1;
    return slot->rx[slot->rxBegin++];
}

int TcpNativeSerial::SerGetData(int port, std::uint8_t *buf, int count)
{
    if (count <= 0)
        return 0;
    return withOpenSlot(find(port), [&](Slot &s) {
        std::lock_guard rxLock(s.rxMutex);
        int got = std::min(count, s.rxEnd - s.rxBegin);
        std::copy_n(s.rx + s.rxBegin, got, buf);
        s.rxBegin += got;
        if (got == count)
            return got;
        const ssize_t n = ::recv(s.fd, buf + got, static_cast<size_t>(count - got), MSG_DONTWAIT);
        if (n > 0)
            return got + static_cast<int>(n);
        if (n == 0) {
            s.lost.store(true);
            return got > 0 ? got : -1;
        }
        if (got > 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return got;
        s.noteErrno(errno);
        return -1;
    });
}

int TcpNativeSerial::writeAll(int port, const std::uint8_t *buf, int count)
{
    return withOpenSlot(find(port), [&](Slot &s) {
        int sent = 0;
        const int timeout = s.timeoutTx.load();
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
        while (sent < count) {
            const ssize_t n
                = ::send(s.fd, buf + sent, static_cast<size_t>(count - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                s.noteErrno(errno);
                break;
            }
            if (s.closing.load() || std::chrono::steady_clock::now() >= deadline)
                break;
            pollfd p { s.fd, POLLOUT, 0 };
            (void)::poll(&p, 1, kSliceMs);
        }
        return sent;
    });
}

int TcpNativeSerial::SerPutByte(int port, std::uint8_t byte)
{
    const int sent = writeAll(port, &byte, 1);
    return sent == 1 ? 0 : (sent < 0 ? -1 : EAGAIN);
}

int TcpNativeSerial::SerPutData(int port, const std::uint8_t *buf, int count)
{
    if (count <= 0)
        return 0;
    return writeAll(port, buf, count);
}

int TcpNativeSerial::SerRxFlush(int port)
{
    // Only what this side has taken from the socket: a connection has no
    // stale bytes from before it was made, and what arrived since it was made
    // is the device's (it is not to be dropped).
    return withOpenSlot(find(port), [](Slot &s) {
        std::lock_guard rxLock(s.rxMutex);
        s.rxBegin = s.rxEnd = 0;
        return 0;
    });
}

int TcpNativeSerial::SerTxFlush(int port)
{
    return withOpenSlot(find(port), [](Slot &) { return 0; });
}

int TcpNativeSerial::SerTxDrain(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        for (;;) {
            int queued = 0;
            if (::ioctl(s.fd, TIOCOUTQ, &queued) != 0) {
                s.noteErrno(errno);
                return -1;
            }
            if (queued == 0)
                return 0;
            if (s.closing.load() || s.lost.load())
                return -1;
            pollfd p { s.fd, POLLERR, 0 };
            (void)::poll(&p, 1, kSliceMs / 5);
        }
    });
}

int TcpNativeSerial::SerRxReadyCount(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        int n = 0;
        if (::ioctl(s.fd, FIONREAD, &n) != 0) {
            s.noteErrno(errno);
            return -1;
        }
        std::lock_guard rxLock(s.rxMutex);
        return n + (s.rxEnd - s.rxBegin);
    });
}

int TcpNativeSerial::SerTxBufCount(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        int n = 0;
        if (::ioctl(s.fd, TIOCOUTQ, &n) == 0)
            return n;
        s.noteErrno(errno);
        return -1;
    });
}

// No modem lines and no line events on a byte stream: every query reads off
// (but fails like the others once the connection is gone).
#define OMVARA_TCP_OFF(name)                                                                                 \
    int TcpNativeSerial::name(int port)                                                                      \
    {                                                                                                        \
        return withOpenSlot(find(port), [](Slot &s) { return s.lost.load() ? -1 : 0; });                     \
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
    return withOpenSlot(find(port), [](Slot &s) { return s.lost.load() ? -1 : 0; });
}

int TcpNativeSerial::SerSetRTS(int port, bool)
{
    return withOpenSlot(find(port), [](Slot &s) { return s.lost.load() ? -1 : 0; });
}

int TcpNativeSerial::SerSetTimeoutRx(int port, int ms)
{
    return withOpenSlot(find(port), [ms](Slot &s) {
        s.timeoutRx.store(ms);
        return 0;
    });
}

int TcpNativeSerial::SerSetTimeoutTx(int port, int ms)
{
    return withOpenSlot(find(port), [ms](Slot &s) {
        s.timeoutTx.store(ms);
        return 0;
    });
}

int TcpNativeSerial::SerGetTimeoutRx(int port)
{
    return withOpenSlot(find(port), [](Slot &s) { return s.timeoutRx.load(); });
}

int TcpNativeSerial::SerGetTimeoutTx(int port)
{
    return withOpenSlot(find(port), [](Slot &s) { return s.timeoutTx.load(); });
}

int TcpNativeSerial::SerSendBreak(int port, int)
{
    return withOpenSlot(find(port), [](Slot &s) { return s.lost.load() ? -1 : 0; });
}

void TcpNativeSerial::SerGetPortList(PortListReceiver &)
{
    // Network ports are named by the user; there is nothing to discover.
}

int TcpNativeSerial::SerDeviceLost(int port)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    return slot->lost.load() ? 1 : 0;
}

int TcpNativeSerial::SerWaitInput(int port, int ms)
{
    return SerWaitReadable(port, std::max(ms, 0), nullptr);
}

int TcpNativeSerial::SerWaitReadable(int port, int ms, StopSignal *stop)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    {
        std::lock_guard rxLock(slot->rxMutex);
        if (slot->rxBegin != slot->rxEnd)
            return 1;
    }
    if (slot->lost.load())
        return -1;
    // Readable also means "closed by the peer" or "reset": the read that
    // follows tells (and marks the slot lost).
    short events = 0;
    int error = 0;
    switch (
        waitUntilReadable(slot->fd, slot->closeEvent, slot->closing, stop, ms, kSliceMs, &events, &error)) {
    case ReadableWait::Readable:
        return 1;
    case ReadableWait::Closing:
        return -1;
    case ReadableWait::Failed:
        slot->noteErrno(error);
        return slot->lost.load() ? -1 : 0;
    default:
        return 0;
    }
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
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    return slot->open ? slot->fd : -1;
}

} // namespace portlink
