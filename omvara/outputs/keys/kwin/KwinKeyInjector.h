// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"

#include <memory>

namespace omvara::outputs::keys {

// Keystrokes through KWin's fake input protocol (org_kde_kwin_fake_input,
// version 4 and later), on KDE Plasma's Wayland session. KWin applies the
// desktop's keyboard layout to the keys, so the backend works out the keys
// from that layout as far as it can be found (SessionLayout), as uinput does.
//
// KWin offers the interface only to a program whose desktop entry, in an
// applications folder, names the program's absolute path as the first word
// of Exec and lists org_kde_kwin_fake_input in X-KDE-Wayland-Interfaces; the
// installation puts such a hidden entry in place (desktopEntryName()).
//
// Throws KeyboardUnavailableError when there is no Wayland display, when the
// compositor offers no fake input (the message then says whether it is KWin
// withholding it, and which entry grants it), or when the layout the user
// chose is not known to the system.
std::unique_ptr<KeyInjector> openKwinKeyInjector();

// The file name of the hidden desktop entry that grants the fake input.
inline QString kwinDesktopEntryName()
{
    return QStringLiteral("omvara-keyboard.desktop");
}

} // namespace omvara::outputs::keys
