// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for builds without KWin's fake input (no Wayland client library).
#include "omvara/outputs/keys/kwin/KwinKeyInjector.h"

namespace omvara::outputs::keys {

std::unique_ptr<KeyInjector> openKwinKeyInjector()
{
    throw KeyboardUnavailableError(
        QStringLiteral("kwin: this build has no output through KWin's fake input (libwayland-client)"));
}

} // namespace omvara::outputs::keys
