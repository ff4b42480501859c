// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for builds without the Wayland virtual keyboard.
#include "omvara/outputs/keys/virtualkeyboard/VirtualKeyboardKeyInjector.h"

namespace omvara::outputs::keys {

std::unique_ptr<KeyInjector> openVirtualKeyboardKeyInjector()
{
    throw KeyboardUnavailableError(
        QStringLiteral("virtual-keyboard: this build has no Wayland virtual keyboard (libwayland-client)"));
}

} // namespace omvara::outputs::keys
