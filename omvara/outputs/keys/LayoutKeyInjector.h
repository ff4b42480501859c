// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/KeyInjector.h"
#include "omvara/outputs/keys/LayoutKeymap.h"

#include <cstdint>
#include <vector>

namespace omvara::outputs::keys {

// A backend that knows the desktop's keyboard layout and types every
// character as itself on it, whatever the keyboard type says.
//
// The key codes arrive as the key map gives them (Shift, then the key); the
// keyboard type's layout tells which character they stand for
// (printedCharacter). That character's key is then looked up in the live
// layout and pressed with the modifiers its level needs (Shift, AltGr): the
// key map's Shift only selects the character and is not sent itself. The
// keypad keys for "*", "+" and "/" stay keypad keys where the layout has
// them. Keys without a character (Enter, Tab, F1, ...) are looked up by
// their function.
//
// While the layout is not known (currentKeymap() gives null) keys go by
// their position on the keyboard type's layout, as KeyInjector does it.
class LayoutKeyInjector : public KeyInjector
{
public:
    QString layoutName() const override;
    bool canType(char32_t character) override;
    // With the layout known: a key of it carries the character, or the
    // backend binds spare keys.
    bool canTypeCharacter(char32_t character) override;

protected:
    // The layout in use now, or null while it is not known. Called on the
    // typing thread before each key press; may read the layout again.
    virtual const LayoutKeymap *currentKeymap() = 0;
    // For a symbol no key of the layout carries: a key code bound to it until
    // the next other key is pressed, or 0 when the backend cannot do that.
    // Throws like sendKey().
    virtual int bindSpareKey(std::uint32_t /*keysym*/) { return 0; }
    virtual bool canBindSpareKeys() const { return false; }
    // What layoutName() gives while the layout is known (any thread may ask).
    virtual QString knownLayoutName() const = 0;

    void send(int keyCode, bool down) override;

private:
    struct Held
    {
        int keyCode;
        KeyStroke stroke;
    };
    void press(int keyCode, const KeyStroke &stroke);
    void release(int keyCode, const KeyStroke &stroke);

    bool m_shift = false; // the key map's Shift is down (it selects the character only)
    bool m_layoutKnown = false; // the layout was known at the last press
    std::vector<Held> m_held; // pressed on the live layout, not yet released
};

// The keysyms that may type the key of `keyCode` with the key map's Shift
// down or not on the keyboard type's layout, best first; empty when the code
// names no key. The keypad keys come before the characters they type. A
// character's own key code (vk::character) gives the character's keysym.
std::vector<std::uint32_t> keysymsFor(int keyCode, bool shifted, KeyLayout layout);

} // namespace omvara::outputs::keys
