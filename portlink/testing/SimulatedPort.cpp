// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/testing/SimulatedPort.h"

#include "portlink/testing/SimulatedNative.h"

#include <mutex>

namespace portlink::testing {

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

template <typename F> auto SimulatedPort::locked(F &&f) const -> decltype(f())
{
    std::lock_guard lock(m_owner.m_mutex);
    return f();
}

template <typename T> T SimulatedPort::read(T SimulatedPort::*member) const
{
    return locked([&] {
        T copy = this->*member;
        if constexpr (requires(T & t) { t.detach(); })
            copy.detach(); // the caller's copy must not share storage the readers append to
        return copy;
    });
}

template <typename T> void SimulatedPort::write(T SimulatedPort::*member, std::type_identity_t<T> value)
{
    locked([&] { this->*member = std::move(value); });
}

// --- what the device sends ----------------------------------------------------

void SimulatedPort::feedMarked(const QByteArray &bytes, bool Byte::*mark)
{
    locked([&] {
        enqueue(bytes);
        if (mark && !m_queue.empty() && !bytes.isEmpty())
            m_queue.back().*mark = true;
        m_owner.m_inputChanged.notify_all();
    });
}

void SimulatedPort::feed(const QByteArray &bytes)
{
    feedMarked(bytes, nullptr);
}

void SimulatedPort::feedWithParityError(const QByteArray &bytes)
{
    feedMarked(bytes, &Byte::parity);
}

void SimulatedPort::feedWithFramingError(const QByteArray &bytes)
{
    feedMarked(bytes, &Byte::framing);
}

void SimulatedPort::answerRequests(const QByteArray &request, const QByteArray &answer)
{
    locked([&] {
        m_request = request;
        m_answer = answer;
        m_requestsFrom = m_written.size();
    });
}

void SimulatedPort::injectParityError()
{
    write(&SimulatedPort::m_parityEvent, true);
}

void SimulatedPort::injectFramingError()
{
    write(&SimulatedPort::m_framingEvent, true);
}

void SimulatedPort::injectOverrun()
{
    write(&SimulatedPort::m_overrunEvent, true);
}

void SimulatedPort::injectBreak()
{
    write(&SimulatedPort::m_breakEvent, true);
}

void SimulatedPort::injectRxOverflow()
{
    write(&SimulatedPort::m_overflowEvent, true);
}

int SimulatedPort::pendingBytes() const
{
    return locked([this] { return static_cast<int>(m_queue.size()); });
}

bool SimulatedPort::waitUntilDrained(std::chrono::milliseconds timeout) const
{
    return m_owner.waitUntil(m_owner.m_drained, timeout, [this] { return m_queue.empty(); });
}

// --- handshake lines ----------------------------------------------------------

void SimulatedPort::setLine(SimLine line, SimRule rule)
{
    locked([&] { m_rules[line] = rule; });
}

bool SimulatedPort::dtr() const
{
    return read(&SimulatedPort::m_dtr);
}

bool SimulatedPort::rts() const
{
    return read(&SimulatedPort::m_rts);
}

void SimulatedPort::setNoModemLines(bool none)
{
    write(&SimulatedPort::m_noModemLines, none);
}

// --- failures -----------------------------------------------------------------

void SimulatedPort::failOpen(int code, int times)
{
    write(&SimulatedPort::m_openFailure, Forced { code, code == 0 ? 0 : times });
}

void SimulatedPort::holdOpen()
{
    write(&SimulatedPort::m_holdOpen, true);
}

void SimulatedPort::releaseOpen()
{
    locked([this] {
        m_holdOpen = false;
        m_owner.m_openHold.notify_all();
    });
}

bool SimulatedPort::waitUntilOpenHeld(std::chrono::milliseconds timeout) const
{
    return m_owner.waitUntil(m_owner.m_openHold, timeout, [this] { return m_opensHeld > 0; });
}

void SimulatedPort::setOpenFailureHint(const QString &hint)
{
    write(&SimulatedPort::m_openFailureHint, hint);
}

void SimulatedPort::failConfigure(int code, int times)
{
    write(&SimulatedPort::m_configureFailure, Forced { code, code == 0 ? 0 : times });
}

void SimulatedPort::forceResult(SimCall call, int result, int times)
{
    locked([&] { m_forced[call] = Forced { result, times }; });
}

void SimulatedPort::clearForcedResults()
{
    locked([this] { m_forced.clear(); });
}

void SimulatedPort::unplug()
{
    locked([this] {
        m_unplugged = true;
        if (m_openIndex >= 0)
            m_lostWhileOpen = true;
        m_owner.m_inputChanged.notify_all();
    });
}

void SimulatedPort::replug()
{
    locked([this] {
        m_unplugged = false;
        ++m_owner.m_plugEvents;
        m_owner.m_inputChanged.notify_all();
    });
}

// --- inspection ---------------------------------------------------------------

bool SimulatedPort::isOpen() const
{
    return locked([this] { return m_openIndex >= 0; });
}

int SimulatedPort::openCount() const
{
    return read(&SimulatedPort::m_openCount);
}

int SimulatedPort::configureCount() const
{
    return read(&SimulatedPort::m_configureCount);
}

SerialConfig SimulatedPort::lastConfiguration() const
{
    return read(&SimulatedPort::m_lastConfig);
}

int SimulatedPort::timeoutRx() const
{
    return read(&SimulatedPort::m_timeoutRx);
}

int SimulatedPort::timeoutTx() const
{
    return read(&SimulatedPort::m_timeoutTx);
}

QByteArray SimulatedPort::written() const
{
    return read(&SimulatedPort::m_written);
}

QStringList SimulatedPort::calls() const
{
    return read(&SimulatedPort::m_calls);
}

void SimulatedPort::clearCalls()
{
    locked([this] { m_calls.clear(); });
}

// --- for the native calls (the caller holds the lock) -------------------------

bool SimulatedPort::take(Forced &forced, int *result)
{
    if (forced.times == 0)
        return false;
    *result = forced.result;
    if (forced.times > 0)
        --forced.times;
    return true;
}

bool SimulatedPort::takeForced(SimCall call, int *result)
{
    auto it = m_forced.find(call);
    return it != m_forced.end() && take(it->second, result);
}

void SimulatedPort::enqueue(const QByteArray &bytes)
{
    for (char c : bytes)
        m_queue.push_back(Byte { static_cast<std::uint8_t>(c), false, false });
}

std::uint8_t SimulatedPort::takeByte()
{
    const Byte b = m_queue.front();
    m_queue.pop_front();
    m_parityEvent = m_parityEvent || b.parity;
    m_framingEvent = m_framingEvent || b.framing;
    return b.value;
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

} // namespace portlink::testing
