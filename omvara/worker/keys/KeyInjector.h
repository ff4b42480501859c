// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/worker/keys/KeyPositions.h"

#include <QString>

#include <stdexcept>
#include <utility>

namespace omvara::worker::keys {

// A press or release the platform refused, typically because no key carries
// the virtual key code. The message is the platform's own text.
class KeyInjectionError : public std::runtime_error
{
public:
    explicit KeyInjectionError(const QString &message) : std::runtime_error(message.toStdString()) { }
    QString text() const { return QString::fromStdString(what()); }
};

// The keystroke backend went away for good (the X display was closed, the
// virtual device removed): no further key can be sent through it.
class KeyboardLostError : public KeyInjectionError
{
public:
    using KeyInjectionError::KeyInjectionError;
};

// No keystroke injection could be started (no display, no access to the
// virtual input device, ...). The message says why and what to do.
class KeyboardUnavailableError : public std::runtime_error
{
public:
    explicit KeyboardUnavailableError(const QString &message) : std::runtime_error(message.toStdString()) { }
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
// One thread types; capsLockOn() may be called from another thread (the
// window asks before typing starts). Implementations serialise internally.
class KeyInjector
{
public:
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
    // `physicalKey` is the position of the key (a Linux input event code).
    virtual void sendKey(int keyCode, int physicalKey, bool down) = 0;

private:
    KeyLayout m_layout = KeyLayout::Us;
    QString m_choice;
    QString m_warning;
};

} // namespace omvara::worker::keys
