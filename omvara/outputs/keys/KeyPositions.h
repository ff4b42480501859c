// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

namespace omvara::outputs::keys {

// The keyboard layout the user types for. A virtual key code names the key
// that carries its symbol on that layout, so the key maps of both keyboard
// types give the intended characters (on a French keyboard the ";" key sits
// where a US keyboard has ",", and ":" where a US keyboard has ".").
enum class KeyLayout { Us, French };

// The physical position of the key for a virtual key code, as a Linux input
// event code (KEY_1, KEY_A, ...), or 0 when no key carries the code.
int physicalKey(int keyCode, KeyLayout layout);

// Every physical key any virtual key code can reach.
std::vector<int> allPhysicalKeys();

// The character the key of `keyCode` prints on the keyboard type's layout,
// unshifted or with Shift held, or 0 for keys that print none (Enter, the
// function and cursor keys, the keypad). This is what a key map entry means:
// the key codes of a character, typed on that layout, give the character.
char32_t printedCharacter(int keyCode, bool shifted, KeyLayout layout);

} // namespace omvara::outputs::keys
