// SPDX-License-Identifier: GPL-3.0-or-later
// The X11 hotkey backend of a build without X11.
#include "omvara/hotkey/x11/X11GlobalHotkey.h"

namespace omvara::hotkey::x11 {

QString unavailableReason()
{
    return QStringLiteral("this build of Omvara has no X11 support");
}

std::unique_ptr<GlobalHotkey> createX11GlobalHotkey(const config::RequestHotkey::Chord &)
{
    throw HotkeyUnavailableError(unavailableReason());
}

} // namespace omvara::hotkey::x11
