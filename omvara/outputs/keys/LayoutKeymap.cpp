// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/LayoutKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <bit>

namespace omvara::outputs::keys {

namespace {

// Shift, right Alt (AltGr on most layouts), right Shift: the modifier keys a
// real keyboard has, tried before any other key that sets the same modifier
// (evdev keymaps also put level 3 on a key code no keyboard sends).
constexpr std::array<int, 3> preferredModifierKeys = { 50, 108, 62 };

using StatePtr = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

StatePtr stateIn(xkb_keymap *keymap, unsigned group)
{
    StatePtr state(xkb_state_new(keymap), &xkb_state_unref);
    if (state)
        xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, group);
    return state;
}

bool isModifierSymbol(xkb_keysym_t symbol)
{
    return symbol == XKB_KEY_Shift_L || symbol == XKB_KEY_Shift_R || symbol == XKB_KEY_ISO_Level3_Shift
        || symbol == XKB_KEY_ISO_Level5_Shift;
}

} // namespace

LayoutKeymap::LayoutKeymap(xkb_keymap *keymap, unsigned group, QString name, std::function<bool(int)> usable)
    : m_keymap(keymap)
    , m_group(group)
    , m_name(std::move(name))
    , m_usable(std::move(usable))
{
    findModifierKeys();
}

LayoutKeymap::~LayoutKeymap()
{
    xkb_keymap_unref(m_keymap);
}

xkb_keymap *LayoutKeymap::keymapRef() const
{
    return xkb_keymap_ref(m_keymap);
}

std::unique_ptr<LayoutKeymap> LayoutKeymap::compile(
    const QString &layout, const QString &variant, const QString &name, std::function<bool(int)> usable)
{
    if (layout.isEmpty())
        return nullptr; // the library would take "us" for it
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context)
        return nullptr;
    // An unknown name is answered by returning null; the library's own
    // messages about it would only clutter the program's log.
    xkb_context_set_log_level(context, XKB_LOG_LEVEL_CRITICAL);
    const QByteArray layoutName = layout.toUtf8(), variantName = variant.toUtf8();
    const xkb_rule_names names { "evdev", "pc105", layoutName.constData(), variantName.constData(), nullptr };
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (!keymap)
        return nullptr;
    return std::make_unique<LayoutKeymap>(keymap, 0, name, std::move(usable));
}

void LayoutKeymap::findModifierKeys()
{
    const StatePtr base = stateIn(m_keymap, m_group);
    if (!base)
        return;
    std::vector<int> keys(preferredModifierKeys.begin(), preferredModifierKeys.end());
    for (xkb_keycode_t key = xkb_keymap_min_keycode(m_keymap); key <= xkb_keymap_max_keycode(m_keymap); ++key)
        keys.push_back(int(key));
    for (const int key : keys) {
        if (!usable(key) || !isModifierSymbol(xkb_state_key_get_one_sym(base.get(), xkb_keycode_t(key))))
            continue;
        const StatePtr pressed = stateIn(m_keymap, m_group);
        xkb_state_update_key(pressed.get(), xkb_keycode_t(key), XKB_KEY_DOWN);
        const xkb_mod_mask_t mods = xkb_state_serialize_mods(pressed.get(), XKB_STATE_MODS_DEPRESSED);
        if (std::popcount(mods) == 1 && !m_modifierKeys.contains(mods))
            m_modifierKeys.insert(mods, key);
    }
}

std::optional<KeyStroke> LayoutKeymap::stroke(std::uint32_t keysym) const
{
    const auto cached = m_strokes.constFind(keysym);
    if (cached != m_strokes.constEnd())
        return cached.value();
    const std::optional<KeyStroke> found = find(keysym);
    m_strokes.insert(keysym, found);
    return found;
}

std::optional<KeyStroke> LayoutKeymap::find(std::uint32_t keysym) const
{
    const StatePtr base = stateIn(m_keymap, m_group);
    if (!base || keysym == XKB_KEY_NoSymbol)
        return std::nullopt;
    std::optional<KeyStroke> best;
    for (xkb_keycode_t key = xkb_keymap_min_keycode(m_keymap); key <= xkb_keymap_max_keycode(m_keymap);
         ++key) {
        if (!usable(int(key)))
            continue;
        // The group this key shows in the group in use (keys with fewer
        // groups wrap, as the state machine does it).
        const xkb_layout_index_t layout = xkb_state_key_get_layout(base.get(), key);
        if (layout == XKB_LAYOUT_INVALID)
            continue;
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(m_keymap, key, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t *symbols = nullptr;
            if (xkb_keymap_key_get_syms_by_level(m_keymap, key, layout, level, &symbols) != 1
                || symbols[0] != keysym)
                continue;
            std::array<xkb_mod_mask_t, 16> masks {};
            std::size_t count
                = xkb_keymap_key_get_mods_for_level(m_keymap, key, layout, level, masks.data(), masks.size());
            if (level == 0 && count < masks.size())
                masks[count++] = 0;
            std::sort(masks.begin(), masks.begin() + count,
                [](xkb_mod_mask_t a, xkb_mod_mask_t b) { return std::popcount(a) < std::popcount(b); });
            for (std::size_t i = 0; i < count; ++i) {
                if (best && int(best->modifiers.size()) <= std::popcount(masks[i]))
                    break;
                // Only modifiers that a held key sets: never Caps Lock or Num Lock.
                KeyStroke candidate { {}, int(key) };
                bool reachable = true;
                for (xkb_mod_mask_t bits = masks[i]; bits && reachable; bits &= bits - 1) {
                    const auto modifier = m_modifierKeys.constFind(bits & (~bits + 1u));
                    reachable = modifier != m_modifierKeys.constEnd();
                    if (reachable)
                        candidate.modifiers.push_back(modifier.value());
                }
                if (!reachable)
                    continue;
                const StatePtr check = stateIn(m_keymap, m_group);
                for (const int modifier : candidate.modifiers)
                    xkb_state_update_key(check.get(), xkb_keycode_t(modifier), XKB_KEY_DOWN);
                if (xkb_state_key_get_one_sym(check.get(), key) == keysym)
                    best = candidate;
            }
        }
        if (best && best->modifiers.empty())
            break;
    }
    return best;
}

int LayoutKeymap::spareKey() const
{
    for (xkb_keycode_t key = xkb_keymap_max_keycode(m_keymap);
         key >= xkb_keymap_min_keycode(m_keymap) && key > 0; --key) {
        if (usable(int(key)) && xkb_keymap_num_layouts_for_key(m_keymap, key) == 0)
            return int(key);
    }
    return 0;
}

} // namespace omvara::outputs::keys
