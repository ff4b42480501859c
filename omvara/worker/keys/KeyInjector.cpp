// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/keys/KeyInjector.h"

#include "omvara/util/Interruption.h"

#include <chrono>
#include <thread>

namespace omvara::worker::keys {

void KeyInjector::keyPress(int keyCode)
{
    send(keyCode, true);
}

void KeyInjector::keyRelease(int keyCode)
{
    send(keyCode, false);
}

void KeyInjector::send(int keyCode, bool down)
{
    const int physical = physicalKey(keyCode, m_layout);
    if (physical <= 0)
        throw KeyInjectionError(QStringLiteral("Invalid key code"));
    deliverKey(keyCode, physical, down);
}

void KeyInjector::deliverKey(int keyCode, int physicalKey, bool down)
{
    using std::chrono::milliseconds;
    Clock::time_point at = now();
    int gap = 0;
    if (down) {
        gap = 1;
        Clock::time_point earliest {};
        if (m_sentOne) {
            // The start of the millisecond after the last event's.
            earliest = Clock::time_point(
                std::chrono::floor<milliseconds>(m_lastSent.time_since_epoch()) + milliseconds(1));
        }
        const auto released = m_released.find(physicalKey);
        if (released != m_released.end()) {
            earliest = std::max(earliest, released->second + SameKeyGap);
            if (m_lastKey == physicalKey && !m_lastDown)
                gap = int(SameKeyGap.count());
        }
        if (at < earliest) {
            waitUntil(earliest);
            at = std::max(now(), earliest);
        }
    }
    m_eventTime = at;
    m_eventGap = gap;
    sendKey(keyCode, physicalKey, down);
    // After the event has gone out: a receiver that stamps it on arrival
    // (the kernel for uinput) cannot have stamped it later than this.
    m_lastSent = std::max(now(), at);
    m_sentOne = true;
    m_lastKey = physicalKey;
    m_lastDown = down;
    if (down)
        m_released.erase(physicalKey);
    else
        m_released[physicalKey] = m_lastSent;
}

std::uint32_t KeyInjector::eventTimeMs() const
{
    return std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(m_eventTime.time_since_epoch()).count());
}

void KeyInjector::waitUntil(Clock::time_point when)
{
    // Never cut short by an interruption: a press sent early may be lost.
    std::this_thread::sleep_until(when);
}

void KeyInjector::pause(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    try {
        util::Interruption::sleep(std::chrono::milliseconds(milliseconds));
    } catch (const util::InterruptedError &) {
        // The thread stays interrupted; the caller's loop ends at its next check.
    }
}

} // namespace omvara::worker::keys
