// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/testing/SimulatedNative.h"

#include "omvara/util/Interruption.h"
#include "portlink/OpenResult.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace portlink::testing {

// --- SimulatedPort ------------------------------------------------------------

SimulatedPort::SimulatedPort(
    SimulatedNative &owner, QString name, QString description, QString manufacturer, bool listed)
    : m_owner(owner)
    , m_name(std::move(name))
    , m_description(std::move(description))
    , m_manufacturer(std::move(manufacturer))
    , m_listed(listed)
    , m_lastConfig(m_name)
{
}

void SimulatedPort::feed(const QByteArray &bytes)
{
    std::lock_guard lock(m_owner.m_mutex);
    for (char c : bytes)
        m_queue.push_back(Byte { static_cast<std::uint8_t>(c), false, false });
    m_owner.m_inputChanged.notify_all();
}

void SimulatedPort::answerRequests(const QByteArray &request, const QByteArray &answer)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_request = request;
    m_answer = answer;
    m_requestsFrom = m_written.size();
}

void SimulatedPort::feedWithParityError(const QByteArray &bytes)
{
    std::lock_guard lock(m_owner.m_mutex);
    for (char c : bytes)
        m_queue.push_back(Byte { static_cast<std::uint8_t>(c), false, false });
    if (!m_queue.empty() && !bytes.isEmpty())
        m_queue.back().parity = true;
    m_owner.m_inputChanged.notify_all();
}

void SimulatedPort::feedWithFramingError(const QByteArray &bytes)
{
    std::lock_guard lock(m_owner.m_mutex);
    for (char c : bytes)
        m_queue.push_back(Byte { static_cast<std::uint8_t>(c), false, false });
    if (!m_queue.empty() && !bytes.isEmpty())
        m_queue.back().framing = true;
    m_owner.m_inputChanged.notify_all();
}

void SimulatedPort::injectParityError()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_parityEvent = true;
}

void SimulatedPort::injectFramingError()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_framingEvent = true;
}

void SimulatedPort::injectOverrun()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_overrunEvent = true;
}

void SimulatedPort::injectBreak()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_breakEvent = true;
}

void SimulatedPort::injectRxOverflow()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_overflowEvent = true;
}

int SimulatedPort::pendingBytes() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return static_cast<int>(m_queue.size());
}

bool SimulatedPort::waitUntilDrained(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_owner.m_mutex);
    return m_owner.m_drained.wait_for(lock, timeout, [this] { return m_queue.empty(); });
}

void SimulatedPort::setLine(SimLine line, SimRule rule)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_rules[line] = rule;
}

bool SimulatedPort::dtr() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_dtr;
}

bool SimulatedPort::rts() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_rts;
}

void SimulatedPort::setNoModemLines(bool none)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_noModemLines = none;
}

void SimulatedPort::failOpen(int code, int times)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_openFailure = Forced { code, code == 0 ? 0 : times };
}

void SimulatedPort::holdOpen()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_holdOpen = true;
}

void SimulatedPort::releaseOpen()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_holdOpen = false;
    m_owner.m_openHold.notify_all();
}

bool SimulatedPort::waitUntilOpenHeld(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_owner.m_mutex);
    return m_owner.m_openHold.wait_for(lock, timeout, [this] { return m_opensHeld > 0; });
}

void SimulatedPort::setOpenFailureHint(const QString &hint)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_openFailureHint = hint;
}

void SimulatedPort::failConfigure(int code, int times)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_configureFailure = Forced { code, code == 0 ? 0 : times };
}

void SimulatedPort::forceResult(SimCall call, int result, int times)
{
    std::lock_guard lock(m_owner.m_mutex);
    m_forced[call] = Forced { result, times };
}

void SimulatedPort::clearForcedResults()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_forced.clear();
}

void SimulatedPort::unplug()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_unplugged = true;
    if (m_openIndex >= 0)
        m_lostWhileOpen = true;
    m_owner.m_inputChanged.notify_all();
}

void SimulatedPort::replug()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_unplugged = false;
    ++m_owner.m_plugEvents;
    m_owner.m_inputChanged.notify_all();
}

bool SimulatedPort::isOpen() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_openIndex >= 0;
}

int SimulatedPort::openCount() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_openCount;
}

int SimulatedPort::configureCount() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_configureCount;
}

SerialConfig SimulatedPort::lastConfiguration() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_lastConfig;
}

int SimulatedPort::timeoutRx() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_timeoutRx;
}

int SimulatedPort::timeoutTx() const
{
    std::lock_guard lock(m_owner.m_mutex);
    return m_timeoutTx;
}

QByteArray SimulatedPort::written() const
{
    std::lock_guard lock(m_owner.m_mutex);
    QByteArray copy = m_written;
    copy.detach(); // the caller's copy must not share storage the readers append to
    return copy;
}

QStringList SimulatedPort::calls() const
{
    std::lock_guard lock(m_owner.m_mutex);
    QStringList copy = m_calls;
    copy.detach(); // the caller's copy must not share storage the readers append to
    return copy;
}

void SimulatedPort::clearCalls()
{
    std::lock_guard lock(m_owner.m_mutex);
    m_calls.clear();
}

bool SimulatedPort::takeForced(SimCall call, int *result)
{
    auto it = m_forced.find(call);
    if (it == m_forced.end() || it->second.times == 0)
        return false;
    *result = it->second.result;
    if (it->second.times > 0)
        --it->second.times;
    return true;
}

int SimulatedPort::lineValue(SimLine line) const
{
    if (m_noModemLines)
        return 0;
    auto it = m_rules.find(line);
    const SimRule rule = it == m_rules.end() ? SimRule::Off : it->second;
    switch (rule) {
    case SimRule::Off:
        return 0;
    case SimRule::On:
        return 1;
    case SimRule::FollowDTR:
        return m_dtr ? 1 : 0;
    case SimRule::FollowRTS:
        return m_rts ? 1 : 0;
    case SimRule::InverseDTR:
        return m_dtr ? 0 : 1;
    case SimRule::InverseRTS:
        return m_rts ? 0 : 1;
    }
    return 0;
}

void SimulatedPort::log(const QString &call)
{
    m_calls.append(call);
}

// --- SimulatedNative ----------------------------------------------------------

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
    if (p.m_openFailure.times != 0) {
        if (p.m_openFailure.times > 0)
            --p.m_openFailure.times;
        return p.m_openFailure.result;
    }
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
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return 9;
    p->log(QStringLiteral("SerConfigure"));
    if (p->m_configureFailure.times != 0) {
        if (p->m_configureFailure.times > 0)
            --p->m_configureFailure.times;
        return p->m_configureFailure.result;
    }
    int forced = 0;
    if (p->takeForced(SimCall::Configure, &forced))
        return forced;
    ++p->m_configureCount;
    p->m_lastConfig = config;
    return 0;
}

int SimulatedNative::SerGetByte(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    int forced = 0;
    if (p->takeForced(SimCall::GetByte, &forced))
        return forced;
    if (p->m_lostWhileOpen || p->m_queue.empty())
        return -1;
    const SimulatedPort::Byte b = p->m_queue.front();
    p->m_queue.pop_front();
    if (b.parity)
        p->m_parityEvent = true;
    if (b.framing)
        p->m_framingEvent = true;
    if (p->m_queue.empty())
        m_drained.notify_all();
    return b.value;
}

int SimulatedNative::SerGetData(int port, std::uint8_t *buf, int count)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerGetData"));
    int forced = 0;
    if (p->takeForced(SimCall::GetData, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    int n = 0;
    while (n < count && !p->m_queue.empty()) {
        const SimulatedPort::Byte b = p->m_queue.front();
        p->m_queue.pop_front();
        p->m_parityEvent = p->m_parityEvent || b.parity;
        p->m_framingEvent = p->m_framingEvent || b.framing;
        buf[n++] = b.value;
    }
    if (p->m_queue.empty())
        m_drained.notify_all();
    return n;
}

int SimulatedNative::SerPutByte(int port, std::uint8_t byte)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerPutByte"));
    int forced = 0;
    if (p->takeForced(SimCall::PutByte, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    p->m_written.append(static_cast<char>(byte));
    return 0;
}

int SimulatedNative::SerPutData(int port, const std::uint8_t *buf, int count)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerPutData"));
    int forced = 0;
    if (p->takeForced(SimCall::PutData, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    p->m_written.append(reinterpret_cast<const char *>(buf), count);
    if (!p->m_request.isEmpty()) {
        for (qsizetype at; (at = p->m_written.indexOf(p->m_request, p->m_requestsFrom)) >= 0;) {
            p->m_requestsFrom = at + p->m_request.size();
            for (char c : p->m_answer)
                p->m_queue.push_back(SimulatedPort::Byte { static_cast<std::uint8_t>(c), false, false });
            m_inputChanged.notify_all();
        }
    }
    return count;
}

namespace {

const char *callName(SimCall call)
{
    switch (call) {
    case SimCall::RxFlush:
        return "SerRxFlush";
    case SimCall::TxFlush:
        return "SerTxFlush";
    case SimCall::TxDrain:
        return "SerTxDrain";
    case SimCall::RxReadyCount:
        return "SerRxReadyCount";
    case SimCall::TxBufCount:
        return "SerTxBufCount";
    default:
        return "?";
    }
}

} // namespace

int SimulatedNative::SerRxFlush(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QString::fromLatin1(callName(SimCall::RxFlush)));
    int forced = 0;
    if (p->takeForced(SimCall::RxFlush, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    p->m_queue.clear();
    m_drained.notify_all();
    return 0;
}

int SimulatedNative::SerTxFlush(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QString::fromLatin1(callName(SimCall::TxFlush)));
    int forced = 0;
    if (p->takeForced(SimCall::TxFlush, &forced))
        return forced;
    return p->m_lostWhileOpen ? -1 : 0;
}

int SimulatedNative::SerTxDrain(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QString::fromLatin1(callName(SimCall::TxDrain)));
    int forced = 0;
    if (p->takeForced(SimCall::TxDrain, &forced))
        return forced;
    return p->m_lostWhileOpen ? -1 : 0;
}

int SimulatedNative::SerRxReadyCount(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    int forced = 0;
    if (p->takeForced(SimCall::RxReadyCount, &forced))
        return forced;
    return p->m_lostWhileOpen ? -1 : static_cast<int>(p->m_queue.size());
}

int SimulatedNative::SerTxBufCount(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QString::fromLatin1(callName(SimCall::TxBufCount)));
    int forced = 0;
    if (p->takeForced(SimCall::TxBufCount, &forced))
        return forced;
    return p->m_lostWhileOpen ? -1 : 0;
}

int SimulatedNative::signal(int port, SimCall call, const char *name, SimLine line)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QString::fromLatin1(name));
    int forced = 0;
    if (p->takeForced(call, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    return p->lineValue(line);
}

int SimulatedNative::event(int port, SimCall call, const char *name, bool SimulatedPort::*flag)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QString::fromLatin1(name));
    int forced = 0;
    if (p->takeForced(call, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    const bool happened = p->*flag;
    p->*flag = false;
    return happened ? 1 : 0;
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
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(on ? 1 : 0));
    int forced = 0;
    if (p->takeForced(call, &forced))
        return forced;
    if (p->m_lostWhileOpen)
        return -1;
    if (!p->m_noModemLines)
        p->*line = on;
    return 0;
}

int SimulatedNative::SerSetDTR(int port, bool on)
{
    return setOutputLine(port, on, SimCall::SetDTR, "SerSetDTR", &SimulatedPort::m_dtr);
}

int SimulatedNative::SerSetRTS(int port, bool on)
{
    return setOutputLine(port, on, SimCall::SetRTS, "SerSetRTS", &SimulatedPort::m_rts);
}

int SimulatedNative::SerSetTimeoutRx(int port, int ms)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerSetTimeoutRx(%1)").arg(ms));
    int forced = 0;
    if (p->takeForced(SimCall::SetTimeoutRx, &forced))
        return forced;
    p->m_timeoutRx = ms;
    return 0;
}

int SimulatedNative::SerSetTimeoutTx(int port, int ms)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerSetTimeoutTx(%1)").arg(ms));
    int forced = 0;
    if (p->takeForced(SimCall::SetTimeoutTx, &forced))
        return forced;
    p->m_timeoutTx = ms;
    return 0;
}

int SimulatedNative::SerGetTimeoutRx(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    int forced = 0;
    if (p->takeForced(SimCall::GetTimeoutRx, &forced))
        return forced;
    return p->m_timeoutRx;
}

int SimulatedNative::SerGetTimeoutTx(int port)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    int forced = 0;
    if (p->takeForced(SimCall::GetTimeoutTx, &forced))
        return forced;
    return p->m_timeoutTx;
}

int SimulatedNative::SerSendBreak(int port, int ms)
{
    std::lock_guard lock(m_mutex);
    SimulatedPort *p = openPort(port);
    if (!p)
        return -1;
    p->log(QStringLiteral("SerSendBreak(%1)").arg(ms));
    int forced = 0;
    if (p->takeForced(SimCall::SendBreak, &forced))
        return forced;
    return p->m_lostWhileOpen ? -1 : 0;
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
    std::unique_lock lock(m_mutex);
    return m_waitsChanged.wait_for(lock, timeout, [this, count] { return m_waits >= count; });
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
