// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/KeyInjector.h"

#include "omvara/util/Interruption.h"

#include <chrono>
#include <thread>

namespace omvara::outputs::keys {

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
    Clock::time_point at = now();
    int gap = 0;
    if (down) {
        // The press of a key released moments ago waits until SameKeyGap
        // after that release; other keys go at once.
        const auto released = m_released.find(physicalKey);
        if (released != m_released.end()) {
            const Clock::time_point earliest = released->second + SameKeyGap;
            if (at < earliest) {
                waitUntil(earliest);
                at = std::max(now(), earliest);
            }
            if (m_lastKey == physicalKey && !m_lastDown)
                gap = int(SameKeyGap.count());
        }
    }
    // The time a protocol carries: a press always in a later millisecond
    // than the event before it (the time says when, not the wall clock).
    std::uint32_t ms
        = std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
    if (m_sentOne && std::int32_t(ms - m_lastMs) < (down ? 1 : 0))
        ms = m_lastMs + (down ? 1 : 0);
    m_eventTime = at;
    m_eventTimeMs = ms;
    m_eventGap = gap;
    sendKey(keyCode, physicalKey, down);
    m_lastMs = ms;
    m_sentOne = true;
    m_lastKey = physicalKey;
    m_lastDown = down;
    if (down) {
        m_released.erase(physicalKey);
    } else {
        // After the event has gone out: a receiver that stamps it on arrival
        // (the kernel for uinput) cannot have stamped it later than this.
        m_released[physicalKey] = std::max(now(), at);
    }
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

} // namespace omvara::outputs::keys
