// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/KeyPositions.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/LayoutKeyInjector.h"

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <utility>

using namespace omvara::outputs::keys;

namespace {

struct Position
{
    int keyCode;
    int us;
    int french;
};

// Each virtual key code and the key that carries its symbol on a US and on a
// French keyboard (0: no key of its own).
const Position positions[] = {
    { vk::Digit0, KEY_0, KEY_0 },
    { vk::Digit0 + 1, KEY_1, KEY_1 },
    { vk::Digit0 + 9, KEY_9, KEY_9 },
    { vk::LetterA, KEY_A, KEY_Q },
    { vk::LetterA + 'Q' - 'A', KEY_Q, KEY_A },
    { vk::LetterA + 'Z' - 'A', KEY_Z, KEY_W },
    { vk::LetterA + 'W' - 'A', KEY_W, KEY_Z },
    { vk::LetterA + 'M' - 'A', KEY_M, KEY_SEMICOLON },
    { vk::LetterA + 'K' - 'A', KEY_K, KEY_K },
    { vk::Shift, KEY_LEFTSHIFT, KEY_LEFTSHIFT },
    { vk::Space, KEY_SPACE, KEY_SPACE },
    { vk::Comma, KEY_COMMA, KEY_M },
    { vk::Minus, KEY_MINUS, KEY_6 },
    { vk::Period, KEY_DOT, 0 },
    { vk::Semicolon, KEY_SEMICOLON, KEY_COMMA },
    { vk::Colon, 0, KEY_DOT },
    { vk::Multiply, KEY_KPASTERISK, KEY_KPASTERISK },
    { vk::Add, KEY_KPPLUS, KEY_KPPLUS },
    { vk::Divide, KEY_KPSLASH, KEY_KPSLASH },
    { vk::Enter, KEY_ENTER, KEY_ENTER },
    { vk::Tab, KEY_TAB, KEY_TAB },
    { vk::Right, KEY_RIGHT, KEY_RIGHT },
    { vk::Down, KEY_DOWN, KEY_DOWN },
    { vk::Delete, KEY_DELETE, KEY_DELETE },
    { vk::F1, KEY_F1, KEY_F1 },
    { vk::F1 + 9, KEY_F10, KEY_F10 },
    { vk::F1 + 10, KEY_F11, KEY_F11 },
    { vk::F1 + 11, KEY_F12, KEY_F12 },
    { vk::CapsLock, KEY_CAPSLOCK, KEY_CAPSLOCK },
    { 0, 0, 0 },
    { -1, 0, 0 },
    { 124, 0, 0 }, // F13: no key
    { 1000, 0, 0 },
};

} // namespace

TEST(KeyPositions, everyCode_landsOnTheKeyCarryingItsSymbol)
{
    for (const Position &p : positions) {
        EXPECT_EQ(physicalKey(p.keyCode, KeyLayout::Us), p.us) << "US, code " << p.keyCode;
        EXPECT_EQ(physicalKey(p.keyCode, KeyLayout::French), p.french) << "French, code " << p.keyCode;
    }
}

TEST(KeyPositions, allPhysicalKeys_coversBothLayoutsWithoutDuplicates)
{
    const std::vector<int> keys = allPhysicalKeys();
    for (const Position &p : positions) {
        for (int key : { p.us, p.french }) {
            if (key > 0) {
                EXPECT_EQ(std::count(keys.begin(), keys.end(), key), 1) << "key " << key;
            }
        }
    }
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
}

// A backend that knows the desktop's layout types the character a key map
// entry stands for: what the entry's keys print on the keyboard type's
// layout, or for the keypad keys their own symbol with the character as the
// fall-back. Every entry of the complete maps must come back as its own
// character (Latin-1 keysyms are the code points), or that backend would
// type a different one.
TEST(KeyPositions, everyKeyMapEntry_standsForItsOwnCharacterOnTheKeyboardTypesLayout)
{
    using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
    using KeyMapType = omvara::config::ConfigHelper::KeyMapType;
    for (const auto &[type, layout] : { std::pair { &KeyboardType::QUERTY, KeyLayout::Us },
             std::pair { &KeyboardType::AZERTY, KeyLayout::French } }) {
        for (const KeyMapType *repertoire :
            { &KeyMapType::ALPHANUMERIC_COMPLETE, &KeyMapType::ALL_PRINTABLE }) {
            const KeyboardType::KeyMap map = type->getKeymap(*repertoire);
            for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
                const QList<qint32> &codes = entry.value();
                const bool shifted = codes.size() == 2 && codes.front() == vk::Shift;
                const std::vector<std::uint32_t> symbols = keysymsFor(codes.back(), shifted, layout);
                ASSERT_FALSE(symbols.empty())
                    << type->name().toStdString() << ": '" << char(entry.key()) << "'";
                EXPECT_EQ(symbols.back(), entry.key())
                    << type->name().toStdString() << ": '" << char(entry.key()) << "'";
            }
        }
    }
}
