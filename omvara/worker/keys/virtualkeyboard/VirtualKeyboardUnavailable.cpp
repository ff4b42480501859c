// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for builds without the Wayland virtual keyboard.
#include "omvara/worker/keys/virtualkeyboard/VirtualKeyboardKeyInjector.h"

namespace omvara::worker::keys {

std::unique_ptr<KeyInjector> openVirtualKeyboardKeyInjector()
{
    throw KeyboardUnavailableError(
        QStringLiteral("virtual-keyboard: this build has no Wayland virtual keyboard (libwayland-client)"));
}

} // namespace omvara::worker::keys
