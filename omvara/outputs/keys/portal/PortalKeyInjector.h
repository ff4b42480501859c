// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"

#include <QString>

#include <memory>

namespace omvara::outputs::keys {

// Keystrokes through the desktop's RemoteDesktop portal
// (org.freedesktop.portal.RemoteDesktop on the session bus; GNOME, KDE and
// any desktop that offers it). Opening it runs CreateSession, SelectDevices
// (the keyboard; with a portal of version 2 or later persist_mode 2 and the
// restore token kept from the last time) and Start, which may show the
// desktop's dialog asking the user's permission: that wait follows the
// calling thread's PermissionWait handling and ends when the thread is
// interrupted. Each session begins with a Shift press and release (a new
// input session may drop its first key). The keys go as key codes
// (NotifyKeyboardKeycode) for the desktop's layout as far as it can be found
// (SessionLayout), never as keysyms.
//
// Throws KeyboardUnavailableError without a session bus, without the
// portal, when the user refuses or the wait's limit passes; InterruptedError
// (omvara::util) when the thread is interrupted while it waits.
std::unique_ptr<KeyInjector> openPortalKeyInjector();

// The file that keeps the portal's restore token of this user:
// $XDG_STATE_HOME/omvara/portal-restore-token (~/.local/state when unset).
// Kept apart from the settings: it is never shared, exported or set.
QString portalRestoreTokenPath();

} // namespace omvara::outputs::keys
