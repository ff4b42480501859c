// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Direct X11 calls the layout tests make, kept apart because Xlib's macros
// (None, Bool, ...) clash with GoogleTest's names.

#include <QString>

#include <utility>
#include <vector>

namespace x_keyboard {

// Sends Linux key events (code, pressed) to the X server on `display` as
// XTest key events of key code + 8, in order. False when the display cannot
// be opened.
bool replay(const QString &display, const std::vector<std::pair<unsigned, int>> &events);

// The key code that types the Latin-1 `character` in the server's keymap, 0 when none does.
int keyFor(const QString &display, char character);

// Locks the keyboard's active group (0 = the first layout of the keymap).
bool lockGroup(const QString &display, unsigned group);

} // namespace x_keyboard
