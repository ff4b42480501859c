// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"

#include <memory>

namespace omvara::outputs::keys {

// Opens the Wayland virtual keyboard backend (zwp_virtual_keyboard_v1) on
// the compositor of $WAYLAND_DISPLAY: one virtual keyboard for the whole
// run, with a key map of its own that carries the keys typed (OwnKeymap),
// so every character arrives as itself whatever the desktop's layout. Shift
// goes with the protocol's modifiers request. Throws KeyboardUnavailableError
// when there is no Wayland display or its compositor offers no virtual
// keyboards.
std::unique_ptr<KeyInjector> openVirtualKeyboardKeyInjector();

} // namespace omvara::outputs::keys
