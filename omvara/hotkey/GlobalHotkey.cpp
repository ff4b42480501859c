// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/hotkey/GlobalHotkey.h"

#include "omvara/hotkey/x11/X11GlobalHotkey.h"

#include <QtGlobal>

namespace omvara::hotkey {

QString unavailableReason()
{
    // Under Wayland an X11 grab sees only the keys pressed in X11 windows:
    // a hotkey that works in some applications and not in others is worse
    // than none. Such desktops offer global shortcuts through their portal,
    // which this program does not use.
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("this is a Wayland session, where Omvara cannot take a key from every "
                              "application (it does not use the desktop's global-shortcuts portal)");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("there is no X display (DISPLAY is not set)");
    return x11::unavailableReason();
}

std::unique_ptr<GlobalHotkey> createGlobalHotkey(const config::RequestHotkey::Chord &chord)
{
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        throw HotkeyUnavailableError(reason);
    return x11::createX11GlobalHotkey(chord);
}

} // namespace omvara::hotkey
