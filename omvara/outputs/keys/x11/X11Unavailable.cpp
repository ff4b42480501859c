// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for builds without X11 keyboard output.
#include "omvara/outputs/keys/x11/X11KeyInjector.h"

namespace omvara::outputs::keys {

std::unique_ptr<KeyInjector> openX11KeyInjector(const QString &)
{
    throw KeyboardUnavailableError(QStringLiteral("X11: this build has no X11 keyboard output"));
}

} // namespace omvara::outputs::keys
