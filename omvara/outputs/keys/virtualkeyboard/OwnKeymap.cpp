// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/virtualkeyboard/OwnKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <array>
#include <utility>

namespace omvara::outputs::keys {

namespace {

constexpr int firstKey = 9;
constexpr int lastKey = 255;

// Keys named by what they do, at their places on a PC keyboard.
constexpr std::array<std::pair<xkb_keysym_t, int>, 31> placedKeys = { {
    { XKB_KEY_Escape, 9 },
    { XKB_KEY_BackSpace, 22 },
    { XKB_KEY_Tab, 23 },
    { XKB_KEY_Return, 36 },
    { XKB_KEY_Caps_Lock, 66 },
    { XKB_KEY_F1, 67 },
    { XKB_KEY_F2, 68 },
    { XKB_KEY_F3, 69 },
    { XKB_KEY_F4, 70 },
    { XKB_KEY_F5, 71 },
    { XKB_KEY_F6, 72 },
    { XKB_KEY_F7, 73 },
    { XKB_KEY_F8, 74 },
    { XKB_KEY_F9, 75 },
    { XKB_KEY_F10, 76 },
    { XKB_KEY_F11, 95 },
    { XKB_KEY_F12, 96 },
    { XKB_KEY_KP_Enter, 104 },
    { XKB_KEY_Home, 110 },
    { XKB_KEY_Up, 111 },
    { XKB_KEY_Prior, 112 },
    { XKB_KEY_Left, 113 },
    { XKB_KEY_Right, 114 },
    { XKB_KEY_End, 115 },
    { XKB_KEY_Down, 116 },
    { XKB_KEY_Next, 117 },
    { XKB_KEY_Insert, 118 },
    { XKB_KEY_Delete, 119 },
    { XKB_KEY_KP_Decimal, 91 },
    { XKB_KEY_space, 65 },
    { XKB_KEY_Menu, 135 },
} };

bool isModifier(xkb_keysym_t keysym)
{
    return keysym == XKB_KEY_Shift_L || keysym == XKB_KEY_Shift_R || keysym == XKB_KEY_Control_L
        || keysym == XKB_KEY_Control_R || keysym == XKB_KEY_Alt_L || keysym == XKB_KEY_Alt_R;
}

QByteArray symbolName(xkb_keysym_t keysym)
{
    char name[64];
    const int length = xkb_keysym_get_name(keysym, name, sizeof name);
    if (length <= 0 || length >= int(sizeof name))
        return QByteArrayLiteral("NoSymbol");
    return QByteArray(name, length);
}

} // namespace

OwnKeymap::OwnKeymap()
{
    m_keys[shiftKey] = { XKB_KEY_Shift_L, 0, 0 };
    m_keys[controlKey] = { XKB_KEY_Control_L, 0, 0 };
    m_keys[altKey] = { XKB_KEY_Alt_L, 0, 0 };
}

bool OwnKeymap::contains(std::uint32_t keysym) const
{
    for (const auto &[code, key] : m_keys) {
        if (key.base == keysym || key.shifted == keysym)
            return true;
    }
    return false;
}

void OwnKeymap::used(int key)
{
    const auto found = m_keys.find(key);
    if (found != m_keys.end())
        found->second.lastUse = ++m_clock;
}

int OwnKeymap::add(std::uint32_t keysym, const std::function<bool(int)> &inUse, bool alone)
{
    if (keysym == XKB_KEY_NoSymbol || isModifier(keysym))
        return 0;
    for (auto &[code, key] : m_keys) {
        if (key.base == keysym || (!alone && key.shifted == keysym)) {
            key.lastUse = ++m_clock;
            return code;
        }
    }
    const xkb_keysym_t lower = xkb_keysym_to_lower(keysym), upper = xkb_keysym_to_upper(keysym);
    Key key { keysym, 0, ++m_clock };
    if (!alone && lower != upper && (keysym == lower || keysym == upper))
        key = { lower, upper, m_clock };
    int code = 0;
    for (const auto &[symbol, place] : placedKeys) {
        if (symbol == keysym && !m_keys.contains(place))
            code = place;
    }
    if (!code)
        code = freeKey(keysym, inUse);
    if (code)
        m_keys[code] = key;
    return code;
}

int OwnKeymap::freeKey(std::uint32_t keysym, const std::function<bool(int)> &inUse)
{
    const auto placed = [](int code) {
        for (const auto &[symbol, place] : placedKeys) {
            if (place == code)
                return true;
        }
        return false;
    };
    // A key code no named key would take, else one of theirs.
    for (const bool takePlaced : { false, true }) {
        for (int code = firstKey; code <= lastKey; ++code) {
            if (!m_keys.contains(code) && (takePlaced || !placed(code)))
                return code;
        }
    }
    int oldest = 0;
    for (const auto &[code, key] : m_keys) {
        if (code == shiftKey || code == controlKey || code == altKey || (inUse && inUse(code)))
            continue;
        if (!oldest || key.lastUse < m_keys.at(oldest).lastUse)
            oldest = code;
    }
    return oldest;
}

QByteArray OwnKeymap::text() const
{
    QByteArray codes, symbols;
    for (const auto &[code, key] : m_keys) {
        const QByteArray name = "<I" + QByteArray::number(code) + '>';
        codes += "    " + name + " = " + QByteArray::number(code) + ";\n";
        if (key.shifted)
            symbols += "    key " + name + " { type = \"TWO_LEVEL\", [ " + symbolName(key.base) + ", "
                + symbolName(key.shifted) + " ] };\n";
        else
            symbols += "    key " + name + " { type = \"ONE_LEVEL\", [ " + symbolName(key.base) + " ] };\n";
    }
    return "xkb_keymap {\n"
           "  xkb_keycodes \"own\" {\n"
           "    minimum = 8;\n"
           "    maximum = 255;\n"
        + codes
        + "  };\n"
          "  xkb_types \"own\" {\n"
          "    type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n"
          "    type \"TWO_LEVEL\" { modifiers = Shift; map[Shift] = Level2;\n"
          "      level_name[Level1] = \"Base\"; level_name[Level2] = \"Shift\"; };\n"
          "  };\n"
          "  xkb_compat \"own\" {\n"
          "    interpret Shift_L { action = SetMods(modifiers = Shift); };\n"
          "    interpret Control_L { action = SetMods(modifiers = Control); };\n"
          "    interpret Alt_L { action = SetMods(modifiers = Mod1); };\n"
          "  };\n"
          "  xkb_symbols \"own\" {\n"
        + symbols + "    modifier_map Shift { <I" + QByteArray::number(shiftKey) + "> };\n"
        + "    modifier_map Control { <I" + QByteArray::number(controlKey) + "> };\n"
        + "    modifier_map Mod1 { <I" + QByteArray::number(altKey) + "> };\n"
        + "  };\n"
          "};\n";
}

} // namespace omvara::outputs::keys
