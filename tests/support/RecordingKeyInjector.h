// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"

#include <QMap>
#include <QSet>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace omvara::outputs::keys {

// One thing the keyboard output did, in the order it did it.
struct KeyEvent
{
    enum Kind { Press, Release, Pause };
    Kind kind;
    int value; // the virtual key code, or the pause in milliseconds

    static KeyEvent press(int keyCode) { return { Press, keyCode }; }
    static KeyEvent release(int keyCode) { return { Release, keyCode }; }
    static KeyEvent pause(int ms) { return { Pause, ms }; }
    friend bool operator==(const KeyEvent &, const KeyEvent &) = default;
};

// A keystroke backend that types nowhere: it keeps the exact sequence of
// presses, releases and pauses (pauses are recorded, not waited). It types
// every character as itself (keys::vk::character), as a backend with a spare
// key for each does. Presses
// and releases of codes without a key are refused like a real backend does;
// refuse() makes it refuse further codes. Time is its own: it stands still
// but for the pauses and the waits of the keyboard base, and times() tells
// when each event came. It sees the focus as a real backend may: the focus is
// on "the recorder" until moveFocusAfter() moves it. Safe for one typing
// thread plus readers on other threads.
class RecordingKeyInjector : public KeyInjector
{
public:
    QString name() const override { return QStringLiteral("recording"); }
    void pause(int milliseconds) override;
    bool capsLockOn() override;
    // Every character but those lacking(): as a layout that has not all.
    bool canType(char32_t character) override;
    bool canTypeCharacter(char32_t character) override { return canType(character); }
    // `character` cannot be typed from now on.
    void lacking(char32_t character);

    std::vector<KeyEvent> events() const;
    // When each of events() came, from the recorder's start.
    std::vector<std::chrono::microseconds> times() const;
    void clear();
    // Presses and releases of `keyCode` fail with `message`.
    void refuse(int keyCode, const QString &message);
    void setCapsLock(bool on);
    // After `presses` more key presses the focus moves to `window`
    // (`ownWindow`: one of the program's own): the value being typed gets no
    // further press (FocusMovedError), later values go to `window` (none
    // while it is the program's own).
    void moveFocusAfter(int presses, const QString &window, bool ownWindow = false);

    bool seesFocus() const override { return true; }
    void beginValue() override;
    void endValue() override;
    QString valueWindow() const override;
    // Called after every recorded event (tests use it to act in the middle of typing).
    void onEvent(std::function<void(const KeyEvent &)> callback);

protected:
    void send(int keyCode, bool down) override;
    void sendKey(int keyCode, int physicalKey, bool down) override;
    Clock::time_point now() const override;
    void waitUntil(Clock::time_point when) override;

private:
    void record(const KeyEvent &event);

    mutable std::mutex m_mutex;
    Clock::duration m_now {}; // the recorder's own time
    std::vector<KeyEvent> m_events;
    std::vector<std::chrono::microseconds> m_times;
    QMap<int, QString> m_refused;
    QSet<char32_t> m_lacking;
    bool m_capsLock = false;
    QString m_focus = QStringLiteral("the recorder");
    bool m_focusOwn = false;
    int m_pressesUntilMove = -1; // -1: no move ahead
    QString m_moveTo;
    bool m_moveToOwn = false;
    bool m_inValue = false;
    QString m_target; // the value's window, once its first key is pressed
    std::function<void(const KeyEvent &)> m_callback;
};

} // namespace omvara::outputs::keys
