// SPDX-License-Identifier: GPL-3.0-or-later
#include "XKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace x_keyboard {

bool replay(const QString &display, const std::vector<std::pair<unsigned, int>> &events)
{
    Display *x = XOpenDisplay(display.toLocal8Bit().constData());
    if (!x)
        return false;
    for (const auto &[code, down] : events)
        XTestFakeKeyEvent(x, code + 8, down ? True : False, CurrentTime);
    XSync(x, False);
    XCloseDisplay(x);
    return true;
}

int keyFor(const QString &display, char character)
{
    Display *x = XOpenDisplay(display.toLocal8Bit().constData());
    if (!x)
        return -1;
    const int key = XKeysymToKeycode(x, KeySym(static_cast<unsigned char>(character)));
    XCloseDisplay(x);
    return key;
}

bool lockGroup(const QString &display, unsigned group)
{
    Display *x = XOpenDisplay(display.toLocal8Bit().constData());
    if (!x)
        return false;
    const bool locked = XkbLockGroup(x, XkbUseCoreKbd, group);
    XSync(x, False);
    XCloseDisplay(x);
    return locked;
}

} // namespace x_keyboard
