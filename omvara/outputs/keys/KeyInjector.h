// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyPositions.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace omvara::outputs::keys {

// A press or release the platform refused, typically because no key carries
// the virtual key code. The message is the platform's own text.
class KeyInjectionError : public std::runtime_error
{
public:
    explicit KeyInjectionError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString text() const { return QString::fromStdString(what()); }
};

// The keystroke backend went away for good (the X display was closed, the
// virtual device removed): no further key can be sent through it.
class KeyboardLostError : public KeyInjectionError
{
public:
    using KeyInjectionError::KeyInjectionError;
};

// A key press that was not sent because the keyboard focus is no longer on
// the window that had it at the first key of the value being typed (see
// KeyInjector::beginValue). `window` names where the focus is now;
// `ownWindow` is true when that is one of this program's own windows.
class FocusMovedError : public KeyInjectionError
{
public:
    FocusMovedError(const QString &window, bool ownWindow)
        : KeyInjectionError(QStringLiteral("the keyboard focus moved to ") + window)
        , m_window(window)
        , m_ownWindow(ownWindow)
    {
    }
    QString window() const { return m_window; }
    bool ownWindow() const { return m_ownWindow; }

private:
    QString m_window;
    bool m_ownWindow;
};

// No keystroke injection could be started (no display, no access to the
// virtual input device, ...). The message says why and what to do.
class KeyboardUnavailableError : public std::runtime_error
{
public:
    explicit KeyboardUnavailableError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString text() const { return QString::fromStdString(what()); }
};

// What the keyboard output needs of the platform: press and release a key
// named by its virtual key code (KeyCodes.h), pause, and read the Caps Lock
// state. A virtual key code names a key of the keyboard type's layout
// (setLayout), with what that layout prints on it (printedCharacter).
// Backends that know the desktop's live layout (LayoutKeyInjector) type
// that character itself on the live layout; the others press the key at
// its position on the keyboard type's layout, so the result is right only
// where the desktop uses that layout.
//
// Every key event goes out through deliverKey(), which keeps the press of a
// key just released at least SameKeyGap after that release, whatever the
// delay. Applications that take a release and a press of one key with the
// same time for auto-repeat drop the press otherwise ("1000" arrives as
// "10"). Other keys go at once, so a value without doubled keys is typed at
// full speed.
//
// One thread types; capsLockOn() may be called from another thread (the
// window asks before typing starts). Implementations serialise internally.
class KeyInjector
{
public:
    using Clock = std::chrono::steady_clock;
    // The least time from the release of a key to its next press.
    static constexpr std::chrono::milliseconds SameKeyGap { 2 };

    virtual ~KeyInjector() = default;
    KeyInjector(const KeyInjector &) = delete;
    KeyInjector &operator=(const KeyInjector &) = delete;

    // Short name of the backend ("x11", "uinput", "recording").
    virtual QString name() const = 0;
    // The desktop layout keys are typed for, as LAYOUT or LAYOUT(VARIANT)
    // ("de", "us(dvorak)"), possibly followed by where it was found; "unknown"
    // while the backend does not know it (keys then go by their position on
    // the keyboard type's layout). Any thread.
    virtual QString layoutName() const { return QStringLiteral("unknown"); }
    // False when the layout in use has no key for `character` (it is then
    // reported as not typeable instead of being typed wrong). Typing thread.
    virtual bool canType(char32_t /*character*/) { return true; }
    // True when the backend can type `character` as itself (the key code
    // vk::character), beyond the keys of the keyboard type's layout. By
    // default keys go by their position, which types no such character.
    // Typing thread.
    virtual bool canTypeCharacter(char32_t /*character*/) { return false; }

    // Throws KeyInjectionError("Invalid key code") when no key has the code
    // in the current layout, or with the platform's message when the key
    // event cannot be sent.
    void keyPress(int keyCode);
    void keyRelease(int keyCode);

    // Waits `milliseconds`. When the calling thread has been interrupted
    // (omvara::util::Interruption) it returns at once, so a value whose typing
    // had already begun is finished quickly instead of being cut off.
    virtual void pause(int milliseconds);

    // True when Caps Lock is on; false when the state cannot be known.
    virtual bool capsLockOn() = 0;

    // The keys of one value go to one window. Between beginValue() and
    // endValue() a backend that can see which window has the keyboard focus
    // sends a key press only while the focus is on the window that had it at
    // the value's first key press, checking and sending as one step (nothing
    // can move the focus in between); otherwise it sends nothing and throws
    // FocusMovedError. A press that finds one of this program's own windows
    // focused throws it too, also at the first key. Releases are always sent.
    //
    // The default sees no other program's window: keys go wherever the focus
    // is, and only the keyboard output's own check (this program's window
    // has the focus, from the toolkit) can stop a value. Typing thread.
    virtual bool seesFocus() const { return false; }
    virtual void beginValue() { }
    virtual void endValue() { }
    // The window that had the focus at the current (or last) value's first
    // key press, in words for the log (its title); empty when not known.
    virtual QString valueWindow() const { return {}; }
    // How the backend came to be chosen, for the start-up log: "NAME, as
    // chosen", or NAME with the backends skipped before it and why. Any thread.
    const QString &choice() const { return m_choice; }
    // What the user must know about where the keys go, or empty.
    const QString &warning() const { return m_warning; }
    void describeChoice(QString choice, QString warning = {})
    {
        m_choice = std::move(choice);
        m_warning = std::move(warning);
    }

    void setLayout(KeyLayout layout) { m_layout = layout; }
    KeyLayout layout() const { return m_layout; }

protected:
    KeyInjector() = default;
    // One press or release of a virtual key code. By default the key at the
    // code's position on the keyboard type's layout (KeyPositions.h).
    virtual void send(int keyCode, bool down);
    // Sends one event through sendKey(), after waiting as the class comment
    // says. Every key event goes through here, never to sendKey() directly.
    void deliverKey(int keyCode, int physicalKey, bool down);
    // `physicalKey` is the position of the key (a Linux input event code).
    // Called by deliverKey() only.
    virtual void sendKey(int keyCode, int physicalKey, bool down) = 0;

    // While sendKey() runs: when the event is sent, on the clock of now().
    Clock::time_point eventTime() const { return m_eventTime; }
    // For protocols whose events carry a time: milliseconds of that clock
    // (wrapping at 2^32), never less than the event before, and for a press
    // always more, so that no press shares its time with the event before it.
    std::uint32_t eventTimeMs() const { return m_eventTimeMs; }
    // While sendKey() runs: how many milliseconds the event must come after
    // the one before it on the receiver's clock: SameKeyGap for the press of
    // the key released just before, 0 otherwise. The
    // wait has been made on this side already; a backend whose receiver
    // stamps the events itself can ask it to keep the distance too (XTest's
    // delay), so that a late first event does not end up with the time of
    // the next.
    int eventGapMs() const { return m_eventGap; }

    // The clock deliverKey() waits by. Tests replace both.
    virtual Clock::time_point now() const { return Clock::now(); }
    virtual void waitUntil(Clock::time_point when);

private:
    KeyLayout m_layout = KeyLayout::Us;
    // Typing thread.
    std::uint32_t m_lastMs = 0; // eventTimeMs() of the last event
    bool m_sentOne = false;
    int m_lastKey = 0; // the physical key of the last event
    bool m_lastDown = false;
    std::unordered_map<int, Clock::time_point> m_released; // physical key -> its last release
    Clock::time_point m_eventTime {};
    std::uint32_t m_eventTimeMs = 0;
    int m_eventGap = 0;
    QString m_choice;
    QString m_warning;
};

} // namespace omvara::outputs::keys
