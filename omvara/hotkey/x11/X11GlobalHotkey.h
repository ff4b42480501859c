// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/hotkey/GlobalHotkey.h"

namespace omvara::hotkey::x11 {

// A passive grab of the chord on the root window of $DISPLAY, on a
// connection of its own. The chord is grabbed with and without NumLock and
// CapsLock (their locks are modifiers to X), and grabbed again whenever the
// keyboard mapping changes (another layout moves the key to another code).
// Throws HotkeyUnavailableError.
std::unique_ptr<GlobalHotkey> createX11GlobalHotkey(const config::RequestHotkey::Chord &chord);

// Empty when this build has the X11 backend.
QString unavailableReason();

} // namespace omvara::hotkey::x11
