// SPDX-License-Identifier: GPL-3.0-or-later
// The Wayland virtual keyboard's own key map: each symbol it is asked for is
// on a key that types it, as libxkbcommon reads the key map the compositor
// gets, within the key codes X11 programs can use, also past the last free
// key code (the key used longest ago is given away, never one held down).
#include "omvara/outputs/keys/virtualkeyboard/OwnKeymap.h"
#include "omvara/outputs/keys/LayoutKeymap.h"

#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon.h>

using namespace omvara::outputs::keys;

namespace {

std::unique_ptr<LayoutKeymap> compiled(const OwnKeymap &own)
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    const QByteArray text = own.text();
    xkb_keymap *keymap = xkb_keymap_new_from_string(
        context, text.constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return keymap ? std::make_unique<LayoutKeymap>(keymap, 0, QStringLiteral("own")) : nullptr;
}

} // namespace

TEST(OwnKeymap, everySymbolAsked_isTypedByItsOwnKey_alsoPastTheLastKeyCode)
{
    OwnKeymap own;
    const int held = own.add(XKB_KEY_Return);
    EXPECT_EQ(held, 36); // Enter where a PC keyboard has it
    // The key maps' characters come with their other case; a character
    // beyond them is asked for alone, to be typed without modifiers.
    std::vector<xkb_keysym_t> symbols { XKB_KEY_a, XKB_KEY_A, XKB_KEY_Z, XKB_KEY_minus, XKB_KEY_plus,
        XKB_KEY_asterisk, XKB_KEY_Tab, xkb_utf32_to_keysym(U'€'), xkb_utf32_to_keysym(U'ß'),
        xkb_utf32_to_keysym(U'Ä'), xkb_utf32_to_keysym(U'µ'), xkb_utf32_to_keysym(U'ä') };
    const std::size_t firstAlone = 7;
    for (char32_t c = U'\u4e00'; c < U'\u4e00' + 300; ++c)
        symbols.push_back(xkb_utf32_to_keysym(c));
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "symbol " << i << " 0x" << std::hex << symbols[i]);
        const int key = own.add(
            symbols[i], [&](int code) { return code == held; }, i >= firstAlone);
        ASSERT_GE(key, 9);
        ASSERT_LE(key, 255);
        own.used(held);
        if (i > 12 && i % 40 != 0 && i + 1 != symbols.size())
            continue; // compiling every key map would only take time
        const std::unique_ptr<LayoutKeymap> keymap = compiled(own);
        ASSERT_TRUE(keymap) << own.text().constData();
        const std::optional<KeyStroke> stroke = keymap->stroke(symbols[i]);
        ASSERT_TRUE(stroke);
        EXPECT_EQ(stroke->key, key);
        // Only a capital letter asked for with its small one takes Shift.
        const bool shifted = symbols[i] == XKB_KEY_A || symbols[i] == XKB_KEY_Z;
        EXPECT_EQ(
            stroke->modifiers, shifted ? std::vector<int> { OwnKeymap::shiftKey } : std::vector<int> {});
        const std::optional<KeyStroke> enter = keymap->stroke(XKB_KEY_Return);
        ASSERT_TRUE(enter) << "a key held down is never given away";
        EXPECT_EQ(enter->key, held);
    }
    // The modifier keys are the keyboard's own and cannot be asked for.
    EXPECT_EQ(own.add(XKB_KEY_Shift_L), 0);
}
