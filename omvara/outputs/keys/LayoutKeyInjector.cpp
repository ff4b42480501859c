// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/LayoutKeyInjector.h"

#include "omvara/outputs/keys/KeyCodes.h"

#include <xkbcommon/xkbcommon.h>

#include <array>
#include <iterator>
#include <optional>
#include <utility>

namespace omvara::outputs::keys {

namespace {

// XKB key codes are Linux input event codes plus 8.
constexpr int xkbOffset = 8;

// Keys named by what they do.
constexpr std::array<std::pair<int, xkb_keysym_t>, 18> functionKeys = { {
    { vk::Backspace, XKB_KEY_BackSpace },
    { vk::Tab, XKB_KEY_Tab },
    { vk::Enter, XKB_KEY_Return },
    { vk::Control, XKB_KEY_Control_L },
    { vk::Alt, XKB_KEY_Alt_L },
    { vk::CapsLock, XKB_KEY_Caps_Lock },
    { vk::Escape, XKB_KEY_Escape },
    { vk::PageUp, XKB_KEY_Prior },
    { vk::PageDown, XKB_KEY_Next },
    { vk::End, XKB_KEY_End },
    { vk::Home, XKB_KEY_Home },
    { vk::Left, XKB_KEY_Left },
    { vk::Up, XKB_KEY_Up },
    { vk::Right, XKB_KEY_Right },
    { vk::Down, XKB_KEY_Down },
    { vk::Delete, XKB_KEY_Delete },
    { vk::Insert, XKB_KEY_Insert },
    { vk::Decimal, XKB_KEY_KP_Decimal },
} };

// Keypad keys, each with the character it types where the layout has no
// keypad key for it.
constexpr std::array<std::pair<int, std::pair<xkb_keysym_t, xkb_keysym_t>>, 4> keypadKeys = { {
    { vk::Multiply, { XKB_KEY_KP_Multiply, XKB_KEY_asterisk } },
    { vk::Add, { XKB_KEY_KP_Add, XKB_KEY_plus } },
    { vk::Subtract, { XKB_KEY_KP_Subtract, XKB_KEY_minus } },
    { vk::Divide, { XKB_KEY_KP_Divide, XKB_KEY_slash } },
} };

} // namespace

std::vector<std::uint32_t> keysymsFor(int keyCode, bool shifted, KeyLayout layout)
{
    if (vk::isCharacter(keyCode)) {
        const xkb_keysym_t symbol = xkb_utf32_to_keysym(vk::characterOf(keyCode));
        if (symbol == XKB_KEY_NoSymbol)
            return {};
        return { symbol };
    }
    for (const auto &[code, symbols] : keypadKeys) {
        if (code == keyCode)
            return { symbols.first, symbols.second };
    }
    if (keyCode >= vk::Numpad0 && keyCode < vk::Numpad0 + 10) {
        const auto digit = xkb_keysym_t(keyCode - vk::Numpad0);
        return { XKB_KEY_KP_0 + digit, XKB_KEY_0 + digit };
    }
    if (keyCode >= vk::F1 && keyCode < vk::F1 + 12)
        return { XKB_KEY_F1 + xkb_keysym_t(keyCode - vk::F1) };
    if (const char32_t character = printedCharacter(keyCode, shifted, layout))
        return { xkb_utf32_to_keysym(character) };
    for (const auto &[code, symbol] : functionKeys) {
        if (code == keyCode)
            return { symbol };
    }
    return {};
}

QString LayoutKeyInjector::layoutName() const
{
    const QString name = knownLayoutName();
    return name.isEmpty() ? KeyInjector::layoutName() : name;
}

bool LayoutKeyInjector::canType(char32_t character)
{
    if (canBindSpareKeys())
        return true;
    const LayoutKeymap *keymap = currentKeymap();
    if (!keymap)
        return true;
    std::vector<std::uint32_t> symbols { xkb_utf32_to_keysym(character) };
    for (const auto &[code, keypad] : keypadKeys) {
        if (keypad.second == symbols.front())
            symbols.insert(symbols.begin(), keypad.first);
    }
    for (const std::uint32_t symbol : symbols) {
        if (keymap->stroke(symbol))
            return true;
    }
    return false;
}

bool LayoutKeyInjector::canTypeCharacter(char32_t character)
{
    const xkb_keysym_t symbol = xkb_utf32_to_keysym(character);
    if (symbol == XKB_KEY_NoSymbol)
        return false;
    const LayoutKeymap *keymap = currentKeymap();
    if (!keymap)
        return false; // keys go by position
    return canBindSpareKeys() || keymap->stroke(symbol).has_value();
}

void LayoutKeyInjector::send(int keyCode, bool down)
{
    if (!down) {
        for (auto held = m_held.rbegin(); held != m_held.rend(); ++held) {
            if (held->keyCode == keyCode) {
                const KeyStroke stroke = std::move(held->stroke);
                m_held.erase(std::next(held).base());
                release(keyCode, stroke);
                return;
            }
        }
        if (keyCode == vk::Shift && m_shift) {
            m_shift = false;
            return;
        }
        // Pressed by position (or not at all).
        KeyInjector::send(keyCode, false);
        return;
    }

    // The key map's Shift only selects the next key's character: it needs
    // the layout only to know whether keys go by position.
    if (keyCode == vk::Shift && m_layoutKnown) {
        m_shift = true;
        return;
    }
    const LayoutKeymap *keymap = currentKeymap();
    m_layoutKnown = keymap != nullptr;
    if (!keymap) {
        if (m_shift) {
            // Held back while the layout was known: now it is a real key.
            m_shift = false;
            KeyInjector::send(vk::Shift, true);
        }
        KeyInjector::send(keyCode, true);
        return;
    }
    if (keyCode == vk::Shift) {
        m_shift = true;
        return;
    }
    const std::vector<std::uint32_t> symbols = keysymsFor(keyCode, m_shift, layout());
    if (symbols.empty()) {
        // Neither a character nor a function: the key at its position.
        KeyInjector::send(keyCode, true);
        return;
    }
    std::optional<KeyStroke> stroke;
    for (const std::uint32_t symbol : symbols) {
        if ((stroke = keymap->stroke(symbol)))
            break;
    }
    if (!stroke) {
        if (const int spare = bindSpareKey(symbols.back()))
            stroke = KeyStroke { {}, spare };
    }
    if (!stroke)
        throw KeyInjectionError(
            QStringLiteral("no key of the keyboard layout %1 types it").arg(keymap->name()));
    press(keyCode, *stroke);
    m_held.push_back({ keyCode, *stroke });
}

void LayoutKeyInjector::press(int keyCode, const KeyStroke &stroke)
{
    std::size_t pressed = 0;
    try {
        for (; pressed < stroke.modifiers.size(); ++pressed)
            deliverKey(keyCode, stroke.modifiers[pressed] - xkbOffset, true);
        deliverKey(keyCode, stroke.key - xkbOffset, true);
    } catch (const KeyboardLostError &) {
        throw;
    } catch (const KeyInjectionError &) {
        // No modifier may stay held down after a refused key.
        while (pressed-- > 0) {
            try {
                deliverKey(keyCode, stroke.modifiers[pressed] - xkbOffset, false);
            } catch (const KeyInjectionError &) {
            }
        }
        throw;
    }
}

void LayoutKeyInjector::release(int keyCode, const KeyStroke &stroke)
{
    // Every key is released even when one release fails; the first failure is reported.
    std::optional<KeyInjectionError> failure;
    const auto up = [&](int key) {
        try {
            deliverKey(keyCode, key - xkbOffset, false);
        } catch (const KeyboardLostError &) {
            throw;
        } catch (const KeyInjectionError &e) {
            if (!failure)
                failure = e;
        }
    };
    up(stroke.key);
    for (auto modifier = stroke.modifiers.rbegin(); modifier != stroke.modifiers.rend(); ++modifier)
        up(*modifier);
    if (failure)
        throw *failure;
}

} // namespace omvara::outputs::keys
