// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"

#include <QStringList>

#include <memory>

namespace omvara::outputs::keys {

// Chooses and starts the keystroke backend.
//
// The user may name one with the command-line option --keyboard=NAME or the
// environment variable OMVARA_KEYBOARD (both end up in the process property
// of that name); "auto" or nothing means: try the backends in the order
// backendOrder() gives and take the first that starts.
class KeyInjectors
{
public:
    // The process property (and environment variable) naming the backend.
    static QString propertyName() { return QStringLiteral("OMVARA_KEYBOARD"); }
    // The names a user may give: "auto", "x11", "uinput", "virtual-keyboard",
    // "kwin", "portal".
    static QStringList choices();
    // The backends "auto" tries, in order: "x11" then "uinput"; in a Wayland
    // session (waylandSession) "virtual-keyboard", "kwin", "uinput",
    // "portal", never "x11", whose keys reach only the X11 programs there.
    static QStringList backendOrder();
    // WAYLAND_DISPLAY is set or XDG_SESSION_TYPE is "wayland".
    static bool waylandSession();

    // True when starting the backend `choice` names (empty: the process
    // property) may wait for the user's answer to the desktop's question
    // (the portal's dialog; see PermissionWait).
    static bool mayAskPermission(const QString &choice = QString());

    // Starts the backend `choice` names (empty: the process property), with
    // how it was chosen and any warning about it (KeyInjector::choice,
    // warning): X11 named in a Wayland session warns. Throws
    // KeyboardUnavailableError naming every backend tried and why it did not
    // start, or naming the valid choices when `choice` is unknown.
    static std::unique_ptr<KeyInjector> create(const QString &choice = QString());

    // Takes the options --keyboard=NAME (or --keyboard NAME) and
    // --keyboard-layout=LAYOUT[(VARIANT)] out of `arguments` and stores their
    // values in the process properties OMVARA_KEYBOARD and
    // OMVARA_KEYBOARD_LAYOUT. Returns false, with a message in `error`, when
    // a value is missing, NAME is not one of choices(), or the layout is
    // malformed or not known to the system's keyboard data.
    static bool takeCommandLineOption(QStringList &arguments, QString *error);
    // The options' lines for the program's help text.
    static QString commandLineHelp();

    // Starts one backend by name (one of choices() but "auto").
    static std::unique_ptr<KeyInjector> open(const QString &backend);
};

} // namespace omvara::outputs::keys
