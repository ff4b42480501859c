// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"

#include <memory>

namespace omvara::outputs::keys {

// Opens the X11 keystroke backend on `displayName` (empty: $DISPLAY).
// Keys are sent through the XTest extension as if typed on the server's
// keyboard; they reach the window that has the focus. It sees the focus
// (KeyInjector::beginValue): each key press of a value is sent with the
// server held from a focus check to the key, so a value's keys never reach
// another window than its first key did, nor one of this process's. Throws
// KeyboardUnavailableError when the display cannot be opened or lacks XTest.
std::unique_ptr<KeyInjector> openX11KeyInjector(const QString &displayName = QString());

} // namespace omvara::outputs::keys
