// SPDX-License-Identifier: GPL-3.0-or-later
// A key chord taken from every application of the desktop.
#pragma once

#include "omvara/config/RequestSettings.h"

#include <QObject>
#include <QString>

#include <memory>
#include <stdexcept>

namespace omvara::hotkey {

// No global hotkey can be had; the message says why (English).
class HotkeyUnavailableError : public std::runtime_error
{
public:
    explicit HotkeyUnavailableError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromStdString(what()); }
};

// A global hotkey: pressed in any application, it is reported here instead
// of reaching that application. Held while the object lives.
//
// Event thread: create, use and destroy it on a thread that runs a Qt event
// loop (the desktop's events arrive through it).
class GlobalHotkey : public QObject
{
    Q_OBJECT

public:
    ~GlobalHotkey() override = default;

    // "x11", ...
    virtual QString backendName() const = 0;

Q_SIGNALS:
    // Once per press of the chord (holding it does not repeat), as soon as
    // the chord's own modifiers have been released: keys typed in answer
    // then arrive without Ctrl or Alt turning them into shortcuts.
    void activated();

protected:
    using QObject::QObject;
};

// The hotkey backend of this session for `chord`. Throws HotkeyUnavailableError
// when the session offers none (see unavailableReason()), when the key is not
// on the keyboard layout, or when another program holds the chord already.
std::unique_ptr<GlobalHotkey> createGlobalHotkey(const config::RequestHotkey::Chord &chord);

// Why this session offers no global hotkey at all; empty when it offers one.
// Cheap enough for a settings page (no connection is made).
QString unavailableReason();

} // namespace omvara::hotkey
