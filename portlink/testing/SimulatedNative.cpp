// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/testing/SimulatedNative.h"

#include "omvara/util/Interruption.h"
#include "portlink/OpenResult.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace portlink::testing {

SimulatedNative::~SimulatedNative() = default;

SimulatedPort &SimulatedNative::addPort(
    const QString &name, const QString &description, const QString &manufacturer, bool listed)
{
    std::lock_guard lock(m_mutex);
    auto &slot = m_ports[name];
    if (!slot) {
        slot.reset(new SimulatedPort(*this, name, description, manufacturer, listed));
        m_order.push_back(slot.get());
    }
    return *slot;
}

SimulatedPort *SimulatedNative::port(const QString &name)
{
    std::lock_guard lock(m_mutex);
    auto it = m_ports.find(name);
    return it == m_ports.end() ? nullptr : it->second.get();
}

int SimulatedNative::portListCalls() const
{
    std::lock_guard lock(m_mutex);
    return m_portListCalls;
}

SimulatedPort *SimulatedNative::openPort(int index)
{
    auto it = m_open.find(index);
    return it == m_open.end() ? nullptr : it->second;
}

template <typename Body>
int SimulatedNative::onOpenPort(int port, SimCall call, const QString &logged, WhenLost lost, Body &&body)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    if (!logged.isEmpty())
        p->log(logged);
    int forced = 0;
    if (p->takeForced(call, &forced))
        return forced;
    if (lost == WhenLost::Fails && p->m_lostWhileOpen)
        return -1;
    return body(*p);
}

int SimulatedNative::SerOpenPort(SerialConfig &config)
{
    std::unique_lock lock(m_mutex);
    const QString name = QString::fromLocal8Bit(config.getPortName().constData());
    auto it = m_ports.find(name);
    if (it == m_ports.end())
        return openResultCode(OpenResult::NoSuchFile);
    SimulatedPort &p = *it->second;
    p.log(QStringLiteral("SerOpenPort"));
    if (p.m_holdOpen) {
        ++p.m_opensHeld;
        m_openHold.notify_all();
        m_openHold.wait(lock, [&p] { return !p.m_holdOpen; });
        --p.m_opensHeld;
    }
    int failure = 0;
    if (SimulatedPort::take(p.m_openFailure, &failure))
        return failure;
    if (p.m_unplugged)
        return openResultCode(OpenResult::NoSuchDevice);
    if (p.m_openIndex >= 0)
        return openResultCode(OpenResult::AlreadyOpen);
    p.m_openIndex = m_nextIndex++;
    p.m_lostWhileOpen = false;
    ++p.m_openCount;
    p.m_timeoutRx = 0;
    p.m_timeoutTx = 0;
    m_open[p.m_openIndex] = &p;
    config.setPortNum(p.m_openIndex + 1);
    return 0;
}

int SimulatedNative::SerClosePort(int port)
{
    // Closes before a forced result answers: a forced Close still closes.
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerClosePort"));
    m_open.erase(port);
    p->m_openIndex = -1;
    m_inputChanged.notify_all();
    int forced = 0;
    if (p->takeForced(SimCall::Close, &forced))
        return forced;
    return 0;
}

int SimulatedNative::SerConfigure(int port, const SerialConfig &config)
{
    // failConfigure answers before a forced result.
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return 9;
    p->log(QStringLiteral("SerConfigure"));
    int forced = 0;
    if (SimulatedPort::take(p->m_configureFailure, &forced) || p->takeForced(SimCall::Configure, &forced))
        return forced;
    ++p->m_configureCount;
    p->m_lastConfig = config;
    return 0;
}

int SimulatedNative::SerGetByte(int port)
{
    // Not logged: the reader polls it.
    return onOpenPort(port, SimCall::GetByte, QString(), WhenLost::Fails, [this](SimulatedPort &p) {
        if (p.m_queue.empty())
            return -1;
        const int value = p.takeByte();
        if (p.m_queue.empty())
            m_drained.notify_all();
        return value;
    });
}

int SimulatedNative::SerGetData(int port, std::uint8_t *buf, int count)
{
    return onOpenPort(
        port, SimCall::GetData, QStringLiteral("SerGetData"), WhenLost::Fails, [&](SimulatedPort &p) {
            int n = 0;
            while (n < count && !p.m_queue.empty())
                buf[n++] = p.takeByte();
            if (p.m_queue.empty())
                m_drained.notify_all();
            return n;
        });
}

int SimulatedNative::SerPutByte(int port, std::uint8_t byte)
{
    return onOpenPort(
        port, SimCall::PutByte, QStringLiteral("SerPutByte"), WhenLost::Fails, [byte](SimulatedPort &p) {
            p.m_written.append(static_cast<char>(byte));
            return 0;
        });
}

int SimulatedNative::SerPutData(int port, const std::uint8_t *buf, int count)
{
    return onOpenPort(
        port, SimCall::PutData, QStringLiteral("SerPutData"), WhenLost::Fails, [&](SimulatedPort &p) {
            p.m_written.append(reinterpret_cast<const char *>(buf), count);
            if (!p.m_request.isEmpty()) {
                for (qsizetype at; (at = p.m_written.indexOf(p.m_request, p.m_requestsFrom)) >= 0;) {
                    p.m_requestsFrom = at + p.m_request.size();
                    p.enqueue(p.m_answer);
                    m_inputChanged.notify_all();
                }
            }
            return count;
        });
}

int SimulatedNative::SerRxFlush(int port)
{
    return onOpenPort(
        port, SimCall::RxFlush, QStringLiteral("SerRxFlush"), WhenLost::Fails, [this](SimulatedPort &p) {
            p.m_queue.clear();
            m_drained.notify_all();
            return 0;
        });
}

namespace {

int succeeds(SimulatedPort &)
{
    return 0;
}

} // namespace

int SimulatedNative::SerTxFlush(int port)
{
    return onOpenPort(port, SimCall::TxFlush, QStringLiteral("SerTxFlush"), WhenLost::Fails, succeeds);
}

int SimulatedNative::SerTxDrain(int port)
{
    return onOpenPort(port, SimCall::TxDrain, QStringLiteral("SerTxDrain"), WhenLost::Fails, succeeds);
}

int SimulatedNative::SerRxReadyCount(int port)
{
    return onOpenPort(port, SimCall::RxReadyCount, QString(), WhenLost::Fails,
        [](SimulatedPort &p) { return static_cast<int>(p.m_queue.size()); });
}

int SimulatedNative::SerTxBufCount(int port)
{
    return onOpenPort(port, SimCall::TxBufCount, QStringLiteral("SerTxBufCount"), WhenLost::Fails, succeeds);
}

int SimulatedNative::signal(int port, SimCall call, const char *name, SimLine line)
{
    return onOpenPort(port, call, QString::fromLatin1(name), WhenLost::Fails,
        [line](SimulatedPort &p) { return p.lineValue(line); });
}

int SimulatedNative::event(int port, SimCall call, const char *name, bool SimulatedPort::*flag)
{
    return onOpenPort(port, call, QString::fromLatin1(name), WhenLost::Fails, [flag](SimulatedPort &p) {
        const bool happened = p.*flag;
        p.*flag = false;
        return happened ? 1 : 0;
    });
}

int SimulatedNative::SerRxOverflow(int port)
{
    return event(port, SimCall::RxOverflow, "SerRxOverflow", &SimulatedPort::m_overflowEvent);
}

int SimulatedNative::SerSigCTS(int port)
{
    return signal(port, SimCall::SigCTS, "SerSigCTS", SimLine::CTS);
}
int SimulatedNative::SerSigDSR(int port)
{
    return signal(port, SimCall::SigDSR, "SerSigDSR", SimLine::DSR);
}
int SimulatedNative::SerSigCD(int port)
{
    return signal(port, SimCall::SigCD, "SerSigCD", SimLine::CD);
}
int SimulatedNative::SerSigRing(int port)
{
    return signal(port, SimCall::SigRing, "SerSigRing", SimLine::RI);
}

int SimulatedNative::SerSigBreak(int port)
{
    return event(port, SimCall::SigBreak, "SerSigBreak", &SimulatedPort::m_breakEvent);
}

int SimulatedNative::SerSigParityErr(int port)
{
    return event(port, SimCall::SigParityErr, "SerSigParityErr", &SimulatedPort::m_parityEvent);
}

int SimulatedNative::SerSigFrameErr(int port)
{
    return event(port, SimCall::SigFrameErr, "SerSigFrameErr", &SimulatedPort::m_framingEvent);
}

int SimulatedNative::SerSigOverrun(int port)
{
    return event(port, SimCall::SigOverrun, "SerSigOverrun", &SimulatedPort::m_overrunEvent);
}

int SimulatedNative::setOutputLine(
    int port, bool on, SimCall call, const char *name, bool SimulatedPort::*line)
{
    const QString logged = QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(on ? 1 : 0);
    return onOpenPort(port, call, logged, WhenLost::Fails, [on, line](SimulatedPort &p) {
        if (!p.m_noModemLines)
            p.*line = on;
        return 0;
    });
}

int SimulatedNative::SerSetDTR(int port, bool on)
{
    return setOutputLine(port, on, SimCall::SetDTR, "SerSetDTR", &SimulatedPort::m_dtr);
}

int SimulatedNative::SerSetRTS(int port, bool on)
{
    return setOutputLine(port, on, SimCall::SetRTS, "SerSetRTS", &SimulatedPort::m_rts);
}

// The time-outs are kept and read back even after the device went away.

int SimulatedNative::SerSetTimeoutRx(int port, int ms)
{
    return onOpenPort(port, SimCall::SetTimeoutRx, QStringLiteral("SerSetTimeoutRx(%1)").arg(ms),
        WhenLost::GoesOn, [ms](SimulatedPort &p) {
            p.m_timeoutRx = ms;
            return 0;
        });
}

int SimulatedNative::SerSetTimeoutTx(int port, int ms)
{
    return onOpenPort(port, SimCall::SetTimeoutTx, QStringLiteral("SerSetTimeoutTx(%1)").arg(ms),
        WhenLost::GoesOn, [ms](SimulatedPort &p) {
            p.m_timeoutTx = ms;
            return 0;
        });
}

int SimulatedNative::SerGetTimeoutRx(int port)
{
    return onOpenPort(port, SimCall::GetTimeoutRx, QString(), WhenLost::GoesOn,
        [](SimulatedPort &p) { return p.m_timeoutRx; });
}

int SimulatedNative::SerGetTimeoutTx(int port)
{
    return onOpenPort(port, SimCall::GetTimeoutTx, QString(), WhenLost::GoesOn,
        [](SimulatedPort &p) { return p.m_timeoutTx; });
}

int SimulatedNative::SerSendBreak(int port, int ms)
{
    return onOpenPort(
        port, SimCall::SendBreak, QStringLiteral("SerSendBreak(%1)").arg(ms), WhenLost::Fails, succeeds);
}

void SimulatedNative::SerGetPortList(PortListReceiver &receiver)
{
    std::vector<SimulatedPort *> listed;
    {
        std::lock_guard lock(m_mutex);
        ++m_portListCalls;
        for (SimulatedPort *p : m_order) {
            if (p->m_listed && !p->m_unplugged)
                listed.push_back(p);
        }
    }
    // The receiver takes the class-wide list locks; report without holding ours.
    for (SimulatedPort *p : listed) {
        receiver.addPortName(p->m_name);
        receiver.addPortInfo(p->m_name, p->m_manufacturer, p->m_description);
    }
}

int SimulatedNative::SerWaitInput(int port, int ms)
{
    return SerWaitReadable(port, std::max(ms, 0), nullptr);
}

int SimulatedNative::SerWaitReadable(int port, int ms, StopSignal *stop)
{
    // The stop signal wakes this wait through the condition variable: the
    // subscription is made before the lock is taken, so that a raise between
    // the look at the signal and the wait cannot be missed.
    std::optional<StopSignal::Subscription> wake;
    if (stop) {
        wake.emplace(*stop, [this] {
            std::lock_guard lock(m_mutex);
            m_inputChanged.notify_all();
        });
    }
    std::unique_lock lock(m_mutex);
    ++m_waits;
    m_waitsChanged.notify_all();
    const auto ready = [this, port, stop] {
        SimulatedPort *p = openPort(port);
        return !p || p->m_lostWhileOpen || !p->m_queue.empty() || (stop && stop->raised());
    };
    if (ms < 0)
        m_inputChanged.wait(lock, ready);
    else
        m_inputChanged.wait_for(lock, std::chrono::milliseconds(ms), ready);
    SimulatedPort *p = openPort(port);
    if (!p || p->m_lostWhileOpen)
        return -1;
    return p->m_queue.empty() ? 0 : 1;
}

int SimulatedNative::waitCount() const
{
    std::lock_guard lock(m_mutex);
    return m_waits;
}

bool SimulatedNative::waitUntilWaited(int count, std::chrono::milliseconds timeout) const
{
    return waitUntil(m_waitsChanged, timeout, [this, count] { return m_waits >= count; });
}

int SimulatedNative::SerWaitPortName(const SerialConfig &, int ms)
{
    // Made before the lock is taken: it runs at once when the thread is already interrupted.
    std::stop_callback wake(omvara::util::Interruption::current(), [this] {
        std::lock_guard wakeLock(m_mutex);
        m_inputChanged.notify_all();
    });
    std::unique_lock lock(m_mutex);
    const int before = m_plugEvents;
    m_inputChanged.wait_for(lock, std::chrono::milliseconds(ms > 0 ? ms : 0),
        [this, before] { return m_plugEvents != before || omvara::util::Interruption::interrupted(); });
    return m_plugEvents != before ? 1 : 0;
}

int SimulatedNative::SerDeviceLost(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    return p->m_lostWhileOpen ? 1 : 0;
}

QString SimulatedNative::SerOpenFailureHint(int rc, const SerialConfig &config)
{
    std::lock_guard lock(m_mutex);
    auto it = m_ports.find(QString::fromLocal8Bit(config.getPortName().constData()));
    return it == m_ports.end() ? QString() : it->second->m_openFailureHint;
}

int SimulatedNative::SerFlowTask(int port)
{
    {
        std::lock_guard lock(m_mutex);
        if (SimulatedPort *p = openPort(port))
            p->log(QStringLiteral("SerFlowTask"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

} // namespace portlink::testing
