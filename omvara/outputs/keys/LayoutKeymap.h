// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct xkb_keymap;

namespace omvara::outputs::keys {

// The keys that type one symbol: the modifier keys to hold, in order, then
// the key itself. Key codes are XKB key codes (a Linux input event code + 8,
// which is also the X server's key code).
struct KeyStroke
{
    std::vector<int> modifiers;
    int key = 0;
    friend bool operator==(const KeyStroke &, const KeyStroke &) = default;
};

// One keyboard layout as the desktop applies it: an XKB keymap and the group
// (layout) in use. Finds the key, and the Shift, AltGr (level 3) or level 5
// keys to hold with it, that produce a given keysym; each answer is checked
// by running the key presses through the keymap's own state machine.
//
// Not thread-safe: one thread (the keyboard thread) asks.
class LayoutKeymap
{
public:
    // Takes over one reference to `keymap`. `usable` tells which key codes
    // may be pressed (a virtual keyboard device has only its own keys); none
    // means all. `name` is what layoutName() shows, e.g. "de" or "us(dvorak)".
    LayoutKeymap(xkb_keymap *keymap, unsigned group, QString name, std::function<bool(int)> usable = {});
    ~LayoutKeymap();
    LayoutKeymap(const LayoutKeymap &) = delete;
    LayoutKeymap &operator=(const LayoutKeymap &) = delete;

    // Compiles a layout by its names, with the rules and keyboard model the
    // Linux desktops use ("evdev", "pc105"), from the system's keyboard
    // configuration data. Null when that data does not know the layout or
    // the variant. `layout` must not be empty.
    static std::unique_ptr<LayoutKeymap> compile(const QString &layout, const QString &variant,
        const QString &name, std::function<bool(int)> usable = {});

    // The keys for `keysym` in this group, or nothing when no usable key
    // carries it at a level the modifier keys reach.
    std::optional<KeyStroke> stroke(std::uint32_t keysym) const;
    // The highest usable key code that carries no symbol at all (for binding
    // a symbol to it for a moment), or 0.
    int spareKey() const;

    const QString &name() const { return m_name; }
    unsigned group() const { return m_group; }
    // A new reference to the keymap (for a LayoutKeymap of another group).
    xkb_keymap *keymapRef() const;

private:
    bool usable(int key) const { return !m_usable || m_usable(key); }
    std::optional<KeyStroke> find(std::uint32_t keysym) const;
    void findModifierKeys();

    xkb_keymap *m_keymap;
    unsigned m_group;
    QString m_name;
    std::function<bool(int)> m_usable;
    // The key that sets each single modifier bit (Shift, level 3, level 5).
    QHash<std::uint32_t, int> m_modifierKeys;
    mutable QHash<std::uint32_t, std::optional<KeyStroke>> m_strokes;
};

} // namespace omvara::outputs::keys
