// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/net/Rfc2217NativeSerial.h"

#include "portlink/net/NetworkOpenFailures.h"

#include "omvara/util/Interruption.h"
#include "portlink/NetworkPortName.h"
#include "portlink/OpenResult.h"
#include "portlink/SerialConfig.h"
#include "portlink/StopSignal.h"

#include <gensio/gensio.h>
#include <gensio/gensio_err.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <optional>
#include <stop_token>
#include <thread>

#include <pthread.h>
#include <time.h>

namespace portlink {

namespace {

constexpr int kNotValid = openResultCode(OpenResult::NotValid);
constexpr int kRefused = openResultCode(OpenResult::Refused);
constexpr int kNoAnswer = openResultCode(OpenResult::NoAnswer);
constexpr int kUnreachable = openResultCode(OpenResult::Unreachable);
constexpr int kUnknownHost = openResultCode(OpenResult::UnknownHost);
constexpr int kStopped = openResultCode(OpenResult::Stopped);
constexpr int kClosed = openResultCode(OpenResult::Closed);
constexpr int kNoComPortOption = openResultCode(OpenResult::NoComPortOption);

// Received bytes kept before reading from the server pauses (TCP then holds
// the rest back).
constexpr std::size_t kBufferLimit = 64 * 1024;
constexpr int kSliceMs = 50;
// Processor time of a connection's event thread before its connection stands
// that marks a server not taking the COM-port option (see SerOpenPort); a
// negotiation with a server that takes it costs well under a millisecond.
constexpr long long kBusyNegotiationMs = 300;

int codeFor(int gensioError)
{
    switch (gensioError) {
    case GE_CONNREFUSE:
        return kRefused;
    case GE_TIMEDOUT:
        return kNoAnswer;
    case GE_HOSTDOWN:
    case GE_NAME_NET_NOT_UP:
        return kUnreachable;
    case GE_REMCLOSE:
    case GE_IOERR: // a reset
        return kClosed;
    case GE_NOTFOUND:
    case GE_UNKNOWN_NAME_ERROR:
    case GE_NAME_ERROR:
    case GE_NAME_SERVER_FAILURE:
    case GE_NAME_INVALID:
    case GE_INVAL:
        return kUnknownHost;
    default:
        return kNoAnswer;
    }
}

} // namespace

struct Rfc2217NativeSerial::Connection
{
    gensio_os_funcs *os = nullptr;
    gensio *io = nullptr;
    sergensio *sio = nullptr;
    std::thread loop; // runs the gensio event loop until `ending`
    std::atomic<bool> ending { false };
    std::atomic<bool> closing { false };
    std::atomic<bool> lost { false };
    std::atomic<int> timeoutRx { 0 };
    std::atomic<int> timeoutTx { 0 };

    std::mutex mutex; // guards everything below
    std::condition_variable changed;
    bool openDone = false;
    int openError = 0;
    bool closeDone = false;
    int settingsPending = 0;
    int settingsError = 0;
    std::deque<std::uint8_t> rx;
    bool readPaused = false;
    unsigned modemState = 0;
    bool parity = false, framing = false, overrun = false, breakSeen = false;

    ~Connection()
    {
        ending.store(true);
        if (loop.joinable())
            loop.join();
        if (io)
            gensio_free(io);
        if (os)
            gensio_os_funcs_free(os);
    }

    // Waits (with the lock held by `lock`) until `done` holds, `ms` passed, or
    // the calling thread is interrupted; true when `done` holds.
    template <typename Done> bool waitFor(std::unique_lock<std::mutex> &lock, int ms, Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (omvara::util::Interruption::interrupted() || std::chrono::steady_clock::now() >= deadline)
                return false;
            changed.wait_until(lock,
                std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(kSliceMs)));
        }
        return true;
    }

    static int onEvent(
        gensio *io, void *user, int event, int err, unsigned char *buf, gensiods *buflen, const char *const *)
    {
        auto *c = static_cast<Connection *>(user);
        std::lock_guard lock(c->mutex);
        switch (event) {
        case GENSIO_EVENT_READ:
            if (err) {
                c->lost.store(true); // closed by the server or broken
            } else if (buflen) {
                const gensiods room = kBufferLimit - std::min(kBufferLimit, c->rx.size());
                const gensiods take = std::min(*buflen, room);
                c->rx.insert(c->rx.end(), buf, buf + take);
                *buflen = take;
                if (take == 0 && !c->readPaused) {
                    c->readPaused = true;
                    gensio_set_read_callback_enable(io, false);
                }
            }
            c->changed.notify_all();
            return 0;
        case GENSIO_EVENT_SER_MODEMSTATE:
            if (buflen && *buflen >= sizeof(unsigned))
                c->modemState = *reinterpret_cast<const unsigned *>(buf);
            return 0;
        case GENSIO_EVENT_SER_LINESTATE:
            if (buflen && *buflen >= sizeof(unsigned)) {
                const unsigned state = *reinterpret_cast<const unsigned *>(buf);
                c->parity |= (state & SERGENSIO_LINESTATE_PARITY_ERR) != 0;
                c->framing |= (state & SERGENSIO_LINESTATE_FRAMING_ERR) != 0;
                c->overrun |= (state & SERGENSIO_LINESTATE_OVERRUN_ERR) != 0;
                c->breakSeen |= (state & SERGENSIO_LINESTATE_BREAK) != 0;
            }
            return 0;
        default:
            return GE_NOTSUP;
        }
    }
    static void onOpen(gensio *, int err, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        std::lock_guard lock(c->mutex);
        c->openDone = true;
        c->openError = err;
        c->changed.notify_all();
    }
    static void onClose(gensio *, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        std::lock_guard lock(c->mutex);
        c->closeDone = true;
        c->changed.notify_all();
    }
    static void onSetting(sergensio *, int err, unsigned, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        std::lock_guard lock(c->mutex);
        --c->settingsPending;
        if (err)
            c->settingsError = err;
        c->changed.notify_all();
    }

    // Closes the connection (also one whose open is still under way) and
    // waits a little for the server to see it.
    void shutDown()
    {
        {
            // Under the lock, so that a waiter between its look and its sleep cannot miss it.
            std::lock_guard lock(mutex);
            closing.store(true);
        }
        changed.notify_all();
        if (!io)
            return;
        if (gensio_close(io, &Connection::onClose, this) == 0) {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(2), [this] { return closeDone; });
        }
    }

    // Takes up to `count` received bytes; resumes reading once half the buffer is free.
    int take(std::uint8_t *buf, int count)
    {
        bool resume = false;
        int n = 0;
        {
            std::lock_guard lock(mutex);
            n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(count), rx.size()));
            std::copy_n(rx.begin(), n, buf);
            rx.erase(rx.begin(), rx.begin() + n);
            if (readPaused && rx.size() < kBufferLimit / 2) {
                readPaused = false;
                resume = true;
            }
        }
        if (resume) // outside the lock: gensio may deliver at once
            gensio_set_read_callback_enable(io, true);
        return n;
    }
};

Rfc2217NativeSerial::Rfc2217NativeSerial() = default;

Rfc2217NativeSerial::~Rfc2217NativeSerial()
{
    m_connections.clear([](Connection &c) { c.shutDown(); });
}

std::shared_ptr<Rfc2217NativeSerial::Connection> Rfc2217NativeSerial::find(int port) const
{
    return m_connections.find(port);
}

int Rfc2217NativeSerial::SerOpenPort(SerialConfig &config)
{
    const NetworkPortName name = NetworkPortName::parse(config.getPortNameString());
    if (name.kind != NetworkPortName::Kind::Rfc2217)
        return kNotValid;
    if (!name.valid())
        return network_open::forInvalidName(config.getPortNameString());

    auto c = std::make_shared<Connection>();
    if (gensio_default_os_hnd(0, &c->os) != 0)
        return kNoAnswer;
    const QByteArray description
        = QStringLiteral("telnet(rfc2217),tcp,%1,%2")
              .arg(name.host.contains(QLatin1Char(':')) ? QStringLiteral("ipv6,") + name.host : name.host)
              .arg(name.port)
              .toUtf8();
    if (str_to_gensio(description.constData(), c->os, &Connection::onEvent, c.get(), &c->io) != 0)
        return kUnknownHost;
    c->sio = gensio_to_sergensio(c->io);
    c->loop = std::thread([conn = c.get()] {
        while (!conn->ending.load()) {
            gensio_time slice { 0, 100 * 1000 * 1000 };
            gensio_os_funcs_service(conn->os, &slice);
        }
    });
    if (!c->sio || gensio_open(c->io, &Connection::onOpen, c.get()) != 0) {
        c->shutDown();
        return kNoAnswer;
    }
    int code = 0;
    {
        // gensio's telnet client turns without pause while a server that has
        // not agreed to the option sends data (a raw port with a talking
        // device), until its negotiation gives up after seconds. An event
        // thread that busy is such a server: the attempt ends there.
        clockid_t loopClock {};
        const bool clocked = ::pthread_getcpuclockid(c->loop.native_handle(), &loopClock) == 0;
        const auto loopBusy = [&] {
            timespec used {};
            return clocked && ::clock_gettime(loopClock, &used) == 0
                && used.tv_sec * 1000 + used.tv_nsec / 1000000 >= kBusyNegotiationMs;
        };
        bool busy = false;
        std::unique_lock lock(c->mutex);
        // The thread's interruption wakes the wait at once.
        std::stop_callback wake(
            omvara::util::Interruption::current(), [conn = c.get()] { conn->changed.notify_all(); });
        if (!c->waitFor(lock, kConnectTimeoutMs, [&] { return c->openDone || (busy = loopBusy()); }))
            code = omvara::util::Interruption::interrupted() ? kStopped : kNoAnswer;
        else if (!c->openDone && busy)
            code = kNoComPortOption;
        else if (c->openError)
            code = codeFor(c->openError);
    }
    if (code != 0) {
        c->shutDown();
        return code;
    }
    gensio_set_read_callback_enable(c->io, true);
    // Reports of every modem line from now on.
    (void)sergensio_modemstate(c->sio,
        SERGENSIO_MODEMSTATE_CTS | SERGENSIO_MODEMSTATE_DSR | SERGENSIO_MODEMSTATE_RI
            | SERGENSIO_MODEMSTATE_CD);

    config.setPortNum(m_connections.add(std::move(c)) + 1);
    return 0;
}

int Rfc2217NativeSerial::SerClosePort(int port)
{
    const std::shared_ptr<Connection> c = m_connections.take(port);
    if (!c)
        return -1;
    c->shutDown();
    return 0;
}

int Rfc2217NativeSerial::SerConfigure(int port, const SerialConfig &config)
{
    auto c = find(port);
    if (!c || c->closing.load())
        return -1;
    const int bitRate = config.getBitRate();
    int rate = bitRate;
    if (bitRate >= 0 && bitRate <= 30) {
        if (bitRate >= static_cast<int>(SerialConfig::bitRateNumbers.size()))
            return EINVAL;
        rate = SerialConfig::bitRateNumbers[static_cast<size_t>(bitRate)];
    }
    const int dataBits = config.getDataBits();
    if (dataBits < 0 || dataBits > 3)
        return EINVAL;
    static const unsigned parities[] = { SERGENSIO_PARITY_NONE, SERGENSIO_PARITY_ODD, SERGENSIO_PARITY_EVEN,
        SERGENSIO_PARITY_MARK, SERGENSIO_PARITY_SPACE };
    const int parity = config.getParity();
    if (parity < 0 || parity > 4)
        return EINVAL;

    std::unique_lock lock(c->mutex);
    c->settingsError = 0;
    c->settingsPending = 4;
    lock.unlock();
    const int sent[] = {
        sergensio_baud(c->sio, static_cast<unsigned>(rate), &Connection::onSetting, c.get()),
        sergensio_datasize(c->sio, static_cast<unsigned>(5 + dataBits), &Connection::onSetting, c.get()),
        sergensio_parity(c->sio, parities[parity], &Connection::onSetting, c.get()),
        sergensio_stopbits(c->sio, config.getStopBits() == SerialConfig::ST_2BITS ? 2u : 1u,
            &Connection::onSetting, c.get()),
    };
    lock.lock();
    for (const int rc : sent)
        if (rc != 0)
            --c->settingsPending; // no answer comes for a request that was not sent
    // The server answers each with the value now in force.
    if (!c->waitFor(lock, kSettingsTimeoutMs, [&] { return c->settingsPending <= 0 || c->lost.load(); }))
        return kNoAnswer;
    if (c->lost.load())
        return kClosed;
    for (const int rc : sent) {
        // gensio sends no setting to a server that has not agreed to the
        // COM-port option.
        if (rc == GE_NOTSUP)
            return kNoComPortOption;
        if (rc != 0)
            return rc;
    }
    return c->settingsError;
}

int Rfc2217NativeSerial::SerGetByte(int port)
{
    auto c = find(port);
    if (!c)
        return -1;
    std::uint8_t byte = 0;
    return c->take(&byte, 1) == 1 ? byte : -1;
}

int Rfc2217NativeSerial::SerGetData(int port, std::uint8_t *buf, int count)
{
    auto c = find(port);
    if (!c)
        return -1;
    const int n = count > 0 ? c->take(buf, count) : 0;
    return n == 0 && c->lost.load() ? -1 : n;
}

int Rfc2217NativeSerial::SerPutData(int port, const std::uint8_t *buf, int count)
{
    auto c = find(port);
    if (!c)
        return -1;
    int sent = 0;
    const int timeout = c->timeoutTx.load();
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
    while (sent < count && !c->lost.load() && !c->closing.load()) {
        gensiods n = 0;
        if (gensio_write(c->io, &n, buf + sent, static_cast<gensiods>(count - sent), nullptr) != 0) {
            c->lost.store(true);
            break;
        }
        sent += static_cast<int>(n);
        if (sent < count) {
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs / 10));
        }
    }
    return sent;
}

int Rfc2217NativeSerial::SerPutByte(int port, std::uint8_t byte)
{
    const int sent = SerPutData(port, &byte, 1);
    return sent == 1 ? 0 : (sent < 0 ? -1 : EAGAIN);
}

int Rfc2217NativeSerial::SerRxFlush(int port)
{
    auto c = find(port);
    if (!c)
        return -1;
    std::uint8_t discard[256];
    while (c->take(discard, sizeof discard) > 0) { }
    return 0;
}

int Rfc2217NativeSerial::SerTxFlush(int port)
{
    return find(port) ? 0 : -1;
}

int Rfc2217NativeSerial::SerTxDrain(int port)
{
    return find(port) ? 0 : -1;
}

int Rfc2217NativeSerial::SerRxReadyCount(int port)
{
    auto c = find(port);
    if (!c)
        return -1;
    std::lock_guard lock(c->mutex);
    return static_cast<int>(c->rx.size());
}

int Rfc2217NativeSerial::SerTxBufCount(int port)
{
    return find(port) ? 0 : -1;
}

namespace {

// The last reported state of a modem line, or an event since the previous query.
template <typename F> int query(const std::shared_ptr<Rfc2217NativeSerial::Connection> &c, F &&f)
{
    if (!c || c->lost.load())
        return -1;
    std::lock_guard lock(c->mutex);
    return f(*c) ? 1 : 0;
}

bool takeFlag(bool &flag)
{
    const bool was = flag;
    flag = false;
    return was;
}

} // namespace

int Rfc2217NativeSerial::SerRxOverflow(int port)
{
    return query(find(port), [](Connection &) { return false; });
}
int Rfc2217NativeSerial::SerSigCTS(int port)
{
    return query(find(port), [](Connection &c) { return (c.modemState & SERGENSIO_MODEMSTATE_CTS) != 0; });
}
int Rfc2217NativeSerial::SerSigDSR(int port)
{
    return query(find(port), [](Connection &c) { return (c.modemState & SERGENSIO_MODEMSTATE_DSR) != 0; });
}
int Rfc2217NativeSerial::SerSigCD(int port)
{
    return query(find(port), [](Connection &c) { return (c.modemState & SERGENSIO_MODEMSTATE_CD) != 0; });
}
int Rfc2217NativeSerial::SerSigRing(int port)
{
    return query(find(port), [](Connection &c) { return (c.modemState & SERGENSIO_MODEMSTATE_RI) != 0; });
}
int Rfc2217NativeSerial::SerSigBreak(int port)
{
    return query(find(port), [](Connection &c) { return takeFlag(c.breakSeen); });
}
int Rfc2217NativeSerial::SerSigParityErr(int port)
{
    return query(find(port), [](Connection &c) { return takeFlag(c.parity); });
}
int Rfc2217NativeSerial::SerSigFrameErr(int port)
{
    return query(find(port), [](Connection &c) { return takeFlag(c.framing); });
}
int Rfc2217NativeSerial::SerSigOverrun(int port)
{
    return query(find(port), [](Connection &c) { return takeFlag(c.overrun); });
}

int Rfc2217NativeSerial::SerSetDTR(int port, bool on)
{
    auto c = find(port);
    if (!c || c->lost.load())
        return -1;
    // Not waited for: a server whose port has no modem lines may never answer.
    return sergensio_dtr(c->sio, on ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF, nullptr, nullptr) == 0 ? 0 : -1;
}

int Rfc2217NativeSerial::SerSetRTS(int port, bool on)
{
    auto c = find(port);
    if (!c || c->lost.load())
        return -1;
    return sergensio_rts(c->sio, on ? SERGENSIO_RTS_ON : SERGENSIO_RTS_OFF, nullptr, nullptr) == 0 ? 0 : -1;
}

int Rfc2217NativeSerial::SerSetTimeoutRx(int port, int ms)
{
    auto c = find(port);
    if (!c)
        return -1;
    c->timeoutRx.store(ms);
    return 0;
}

int Rfc2217NativeSerial::SerSetTimeoutTx(int port, int ms)
{
    auto c = find(port);
    if (!c)
        return -1;
    c->timeoutTx.store(ms);
    return 0;
}

int Rfc2217NativeSerial::SerGetTimeoutRx(int port)
{
    auto c = find(port);
    return c ? c->timeoutRx.load() : -1;
}

int Rfc2217NativeSerial::SerGetTimeoutTx(int port)
{
    auto c = find(port);
    return c ? c->timeoutTx.load() : -1;
}

int Rfc2217NativeSerial::SerSendBreak(int port, int)
{
    auto c = find(port);
    if (!c || c->lost.load())
        return -1;
    return sergensio_send_break(c->sio) == 0 ? 0 : -1;
}

void Rfc2217NativeSerial::SerGetPortList(PortListReceiver &)
{
}

int Rfc2217NativeSerial::SerDeviceLost(int port)
{
    auto c = find(port);
    if (!c)
        return -1;
    return c->lost.load() ? 1 : 0;
}

int Rfc2217NativeSerial::SerWaitInput(int port, int ms)
{
    return SerWaitReadable(port, std::max(ms, 0), nullptr);
}

int Rfc2217NativeSerial::SerWaitReadable(int port, int ms, StopSignal *stop)
{
    auto c = find(port);
    if (!c)
        return -1;
    // The connection's own thread notifies `changed` for received bytes, a
    // loss and the close; the stop signal does too.
    std::optional<StopSignal::Subscription> wake;
    if (stop)
        wake.emplace(*stop, [c] {
            std::lock_guard lock(c->mutex);
            c->changed.notify_all();
        });
    std::unique_lock lock(c->mutex);
    const auto ready
        = [&] { return !c->rx.empty() || c->lost.load() || c->closing.load() || (stop && stop->raised()); };
    if (ms < 0)
        c->changed.wait(lock, ready);
    else
        c->changed.wait_for(lock, std::chrono::milliseconds(ms), ready);
    if (!c->rx.empty())
        return 1;
    return c->lost.load() || c->closing.load() ? -1 : 0;
}

QString Rfc2217NativeSerial::SerOpenFailureHint(int rc, const SerialConfig &config)
{
    return network_open::hint(rc, config, kConnectTimeoutMs);
}

QString Rfc2217NativeSerial::SerConfigureFailureHint(int rc, const SerialConfig &config)
{
    const NetworkPortName name = NetworkPortName::parse(config.getPortNameString());
    const QString where = QStringLiteral("%1 port %2").arg(name.host).arg(name.port);
    switch (rc) {
    case kNoComPortOption:
        return network_open::hint(rc, config, kConnectTimeoutMs);
    case kClosed:
        return QStringLiteral(
            "%1 closed the connection while the line settings were being sent: check that the "
            "device server can open its serial device")
            .arg(where);
    case kNoAnswer:
        return QStringLiteral("%1 did not answer the line settings within %2 s")
            .arg(where)
            .arg(kSettingsTimeoutMs / 1000);
    default:
        return NativeSerial::SerConfigureFailureHint(rc, config);
    }
}

QString Rfc2217NativeSerial::SerGetLibVer()
{
    return QStringLiteral("rfc2217");
}

} // namespace portlink
