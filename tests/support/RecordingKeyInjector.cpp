// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/RecordingKeyInjector.h"

#include "omvara/outputs/keys/KeyCodes.h"

#include <algorithm>

namespace omvara::outputs::keys {

void RecordingKeyInjector::send(int keyCode, bool down)
{
    // A character's own key stands for itself (no two characters share one).
    if (vk::isCharacter(keyCode))
        deliverKey(keyCode, keyCode, down);
    else
        KeyInjector::send(keyCode, down);
}

void RecordingKeyInjector::sendKey(int keyCode, int, bool down)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_refused.contains(keyCode))
            throw KeyInjectionError(m_refused.value(keyCode));
        if (down && m_pressesUntilMove >= 0 && m_pressesUntilMove-- == 0) {
            m_focus = m_moveTo;
            m_focusOwn = m_moveToOwn;
        }
        if (down && m_inValue) {
            if (m_target.isEmpty() && !m_focusOwn)
                m_target = m_focus;
            else if (m_focusOwn || m_focus != m_target)
                throw FocusMovedError(m_focus, m_focusOwn);
        }
    }
    record(down ? KeyEvent::press(keyCode) : KeyEvent::release(keyCode));
}

void RecordingKeyInjector::pause(int milliseconds)
{
    record(KeyEvent::pause(milliseconds));
    std::lock_guard lock(m_mutex);
    m_now += std::chrono::milliseconds(std::max(milliseconds, 0));
}

KeyInjector::Clock::time_point RecordingKeyInjector::now() const
{
    std::lock_guard lock(m_mutex);
    return Clock::time_point(m_now);
}

void RecordingKeyInjector::waitUntil(Clock::time_point when)
{
    std::lock_guard lock(m_mutex);
    m_now = std::max(m_now, when.time_since_epoch());
}

bool RecordingKeyInjector::capsLockOn()
{
    std::lock_guard lock(m_mutex);
    return m_capsLock;
}

void RecordingKeyInjector::record(const KeyEvent &event)
{
    std::function<void(const KeyEvent &)> callback;
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
        m_times.push_back(std::chrono::duration_cast<std::chrono::microseconds>(m_now));
        callback = m_callback;
    }
    if (callback)
        callback(event);
}

std::vector<KeyEvent> RecordingKeyInjector::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<std::chrono::microseconds> RecordingKeyInjector::times() const
{
    std::lock_guard lock(m_mutex);
    return m_times;
}

void RecordingKeyInjector::clear()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
    m_times.clear();
}

void RecordingKeyInjector::refuse(int keyCode, const QString &message)
{
    std::lock_guard lock(m_mutex);
    m_refused.insert(keyCode, message);
}

bool RecordingKeyInjector::canType(char32_t character)
{
    std::lock_guard lock(m_mutex);
    return !m_lacking.contains(character);
}

void RecordingKeyInjector::lacking(char32_t character)
{
    std::lock_guard lock(m_mutex);
    m_lacking.insert(character);
}

void RecordingKeyInjector::setCapsLock(bool on)
{
    std::lock_guard lock(m_mutex);
    m_capsLock = on;
}

void RecordingKeyInjector::moveFocusAfter(int presses, const QString &window, bool ownWindow)
{
    std::lock_guard lock(m_mutex);
    m_pressesUntilMove = presses;
    m_moveTo = window;
    m_moveToOwn = ownWindow;
}

void RecordingKeyInjector::beginValue()
{
    std::lock_guard lock(m_mutex);
    m_inValue = true;
    m_target.clear();
}

void RecordingKeyInjector::endValue()
{
    std::lock_guard lock(m_mutex);
    m_inValue = false;
}

QString RecordingKeyInjector::valueWindow() const
{
    std::lock_guard lock(m_mutex);
    return m_target;
}

void RecordingKeyInjector::onEvent(std::function<void(const KeyEvent &)> callback)
{
    std::lock_guard lock(m_mutex);
    m_callback = std::move(callback);
}

} // namespace omvara::outputs::keys
