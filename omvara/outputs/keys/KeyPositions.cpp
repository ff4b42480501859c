// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/KeyPositions.h"

#include "omvara/outputs/keys/KeyCodes.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace omvara::outputs::keys {

namespace {

constexpr std::array<int, 26> usLetters
    = { KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M, KEY_N,
          KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z };
constexpr std::array<int, 10> digits
    = { KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9 };
constexpr std::array<int, 10> keypadDigits
    = { KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4, KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9 };
constexpr std::array<int, 12> functionKeys
    = { KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F5, KEY_F6, KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12 };

// Keys that are in the same place on every layout we support.
constexpr std::array<std::pair<int, int>, 29> commonKeys = { {
    { vk::Backspace, KEY_BACKSPACE },
    { vk::Tab, KEY_TAB },
    { vk::Enter, KEY_ENTER },
    { vk::Shift, KEY_LEFTSHIFT },
    { vk::Control, KEY_LEFTCTRL },
    { vk::Alt, KEY_LEFTALT },
    { vk::CapsLock, KEY_CAPSLOCK },
    { vk::Escape, KEY_ESC },
    { vk::Space, KEY_SPACE },
    { vk::PageUp, KEY_PAGEUP },
    { vk::PageDown, KEY_PAGEDOWN },
    { vk::End, KEY_END },
    { vk::Home, KEY_HOME },
    { vk::Left, KEY_LEFT },
    { vk::Up, KEY_UP },
    { vk::Right, KEY_RIGHT },
    { vk::Down, KEY_DOWN },
    { vk::Multiply, KEY_KPASTERISK },
    { vk::Add, KEY_KPPLUS },
    { vk::Subtract, KEY_KPMINUS },
    { vk::Decimal, KEY_KPDOT },
    { vk::Divide, KEY_KPSLASH },
    { vk::Delete, KEY_DELETE },
    { vk::Insert, KEY_INSERT },
    { vk::Equals, KEY_EQUAL },
    { vk::OpenBracket, KEY_LEFTBRACE },
    { vk::BackSlash, KEY_BACKSLASH },
    { vk::CloseBracket, KEY_RIGHTBRACE },
    { vk::BackQuote, KEY_GRAVE },
} };

// Punctuation keys whose place depends on the layout.
constexpr std::array<std::pair<int, int>, 6> usPunctuation = { {
    { vk::Comma, KEY_COMMA },
    { vk::Minus, KEY_MINUS },
    { vk::Period, KEY_DOT },
    { vk::Slash, KEY_SLASH },
    { vk::Semicolon, KEY_SEMICOLON },
    { vk::Quote, KEY_APOSTROPHE },
} };

// French layout: "," sits on the US "m" key, ";" on the US "," key, ":" on
// the US "." key, "-" on the digit-6 key; "." and "/" have no key of their
// own (they are shifted ";" and ":").
constexpr std::array<std::pair<int, int>, 4> frenchPunctuation = { {
    { vk::Comma, KEY_M },
    { vk::Minus, KEY_6 },
    { vk::Semicolon, KEY_COMMA },
    { vk::Colon, KEY_DOT },
} };

template <std::size_t N> int lookup(const std::array<std::pair<int, int>, N> &table, int keyCode)
{
    const auto it
        = std::find_if(table.begin(), table.end(), [keyCode](const auto &p) { return p.first == keyCode; });
    return it == table.end() ? 0 : it->second;
}

int frenchLetter(int index)
{
    // A and Q, Z and W trade places; M moves to the US ";" key.
    switch ('A' + index) {
    case 'A':
        return KEY_Q;
    case 'Q':
        return KEY_A;
    case 'Z':
        return KEY_W;
    case 'W':
        return KEY_Z;
    case 'M':
        return KEY_SEMICOLON;
    default:
        return usLetters[index];
    }
}

struct Printed
{
    int keyCode;
    char32_t plain;
    char32_t shifted;
};

// US keyboard: what the punctuation keys print.
constexpr std::array<Printed, 11> usPrinted = { {
    { vk::Comma, U',', U'<' },
    { vk::Minus, U'-', U'_' },
    { vk::Period, U'.', U'>' },
    { vk::Slash, U'/', U'?' },
    { vk::Semicolon, U';', U':' },
    { vk::Equals, U'=', U'+' },
    { vk::OpenBracket, U'[', U'{' },
    { vk::BackSlash, U'\\', U'|' },
    { vk::CloseBracket, U']', U'}' },
    { vk::BackQuote, U'`', U'~' },
    { vk::Quote, U'\'', U'"' },
} };
constexpr std::u32string_view usShiftedDigits = U")!@#$%^&*(";

// French keyboard: the punctuation keys the key codes reach (see
// frenchPunctuation), and the digit row, which needs Shift for the digits.
constexpr std::array<Printed, 5> frenchPrinted = { {
    { vk::Comma, U',', U'?' },
    { vk::Minus, U'-', U'6' },
    { vk::Semicolon, U';', U'.' },
    { vk::Colon, U':', U'/' },
    { vk::Equals, U'=', U'+' },
} };
constexpr std::u32string_view frenchPlainDigits = U"\u00e0&\u00e9\"'(-\u00e8_\u00e7";

} // namespace

int physicalKey(int keyCode, KeyLayout layout)
{
    if (keyCode >= vk::Digit0 && keyCode < vk::Digit0 + 10)
        return digits[keyCode - vk::Digit0];
    if (keyCode >= vk::Numpad0 && keyCode < vk::Numpad0 + 10)
        return keypadDigits[keyCode - vk::Numpad0];
    if (keyCode >= vk::F1 && keyCode < vk::F1 + 12)
        return functionKeys[keyCode - vk::F1];
    if (keyCode >= vk::LetterA && keyCode < vk::LetterA + 26)
        return layout == KeyLayout::French ? frenchLetter(keyCode - vk::LetterA)
                                           : usLetters[keyCode - vk::LetterA];
    if (const int common = lookup(commonKeys, keyCode))
        return common;
    return layout == KeyLayout::French ? lookup(frenchPunctuation, keyCode) : lookup(usPunctuation, keyCode);
}

std::vector<int> allPhysicalKeys()
{
    std::vector<int> keys;
    for (int layout = 0; layout < 2; ++layout) {
        for (int code = 0; code < 1024; ++code) {
            const int key = physicalKey(code, layout == 0 ? KeyLayout::Us : KeyLayout::French);
            if (key > 0 && std::find(keys.begin(), keys.end(), key) == keys.end())
                keys.push_back(key);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

char32_t printedCharacter(int keyCode, bool shifted, KeyLayout layout)
{
    const bool french = layout == KeyLayout::French;
    if (keyCode >= vk::Digit0 && keyCode < vk::Digit0 + 10) {
        const int digit = keyCode - vk::Digit0;
        if (french)
            return shifted ? U'0' + char32_t(digit) : frenchPlainDigits[std::size_t(digit)];
        return shifted ? usShiftedDigits[std::size_t(digit)] : U'0' + char32_t(digit);
    }
    if (keyCode >= vk::LetterA && keyCode < vk::LetterA + 26)
        return (shifted ? U'A' : U'a') + char32_t(keyCode - vk::LetterA);
    if (keyCode == vk::Space)
        return U' ';
    const auto find = [keyCode](const auto &table) -> const Printed * {
        const auto it = std::find_if(
            table.begin(), table.end(), [keyCode](const Printed &p) { return p.keyCode == keyCode; });
        return it == table.end() ? nullptr : &*it;
    };
    const Printed *printed = french ? find(frenchPrinted) : find(usPrinted);
    if (!printed)
        return 0;
    return shifted ? printed->shifted : printed->plain;
}

} // namespace omvara::outputs::keys
