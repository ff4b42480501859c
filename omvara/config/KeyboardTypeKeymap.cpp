// SPDX-License-Identifier: GPL-3.0-or-later
// The key maps of keyboard output: which keys type which character on each
// keyboard layout. Key codes are the virtual key codes of keyboard output
// (omvara/outputs/keys/KeyCodes.h).
#include "omvara/config/ConfigHelper.h"

namespace omvara::config {

namespace {

constexpr qint32 shift = 16;
constexpr qint32 space = 32;
constexpr qint32 comma = 44;
constexpr qint32 minus = 45;
constexpr qint32 period = 46;
constexpr qint32 digit0 = 48;
constexpr qint32 semicolon = 59;
constexpr qint32 letterA = 65;
constexpr qint32 keypadMultiply = 106;
constexpr qint32 keypadAdd = 107;
constexpr qint32 keypadDivide = 111;
constexpr qint32 colon = 513;
constexpr qint32 slash = 47;
constexpr qint32 equals = 61;
constexpr qint32 openBracket = 91;
constexpr qint32 backSlash = 92;
constexpr qint32 closeBracket = 93;
constexpr qint32 backQuote = 192;
constexpr qint32 quote = 222;

struct Entry
{
    char32_t character;
    QList<qint32> keys;
};

// The ASCII signs beyond ALPHANUMERIC_COMPLETE that keys of the keyboard
// type's layout print, so that they are typed by position too where the
// desktop's layout is not known. Every other printable character is typed
// as itself by the backends that can (Keybot).
QList<Entry> usSigns()
{
    return { { U'!', { shift, digit0 + 1 } }, { U'@', { shift, digit0 + 2 } },
        { U'#', { shift, digit0 + 3 } }, { U'$', { shift, digit0 + 4 } }, { U'%', { shift, digit0 + 5 } },
        { U'^', { shift, digit0 + 6 } }, { U'&', { shift, digit0 + 7 } }, { U'(', { shift, digit0 + 9 } },
        { U')', { shift, digit0 } }, { U'_', { shift, minus } }, { U'=', { equals } },
        { U'[', { openBracket } }, { U']', { closeBracket } }, { U'{', { shift, openBracket } },
        { U'}', { shift, closeBracket } }, { U'\\', { backSlash } }, { U'|', { shift, backSlash } },
        { U';', { semicolon } }, { U'\'', { quote } }, { U'"', { shift, quote } }, { U'<', { shift, comma } },
        { U'>', { shift, period } }, { U'?', { shift, slash } }, { U'`', { backQuote } },
        { U'~', { shift, backQuote } } };
}

// French layout: the digit row without Shift, and the signs of the keys
// the key codes reach.
QList<Entry> frenchSigns()
{
    return { { U'&', { digit0 + 1 } }, { U'\u00e9', { digit0 + 2 } }, { U'"', { digit0 + 3 } },
        { U'\'', { digit0 + 4 } }, { U'(', { digit0 + 5 } }, { U'\u00e8', { digit0 + 7 } },
        { U'_', { digit0 + 8 } }, { U'\u00e7', { digit0 + 9 } }, { U'\u00e0', { digit0 } },
        { U';', { semicolon } }, { U'=', { equals } }, { U'?', { shift, comma } } };
}

} // namespace

ConfigHelper::KeyboardType::KeyMap ConfigHelper::KeyboardType::getKeymap(const KeyMapType &keyMapType) const
{
    const bool azerty = this == &AZERTY;
    KeyMap map;
    for (qint32 i = 0; i < 10; ++i) {
        map.insert(
            U'0' + char32_t(i), azerty ? QList<qint32> { shift, digit0 + i } : QList<qint32> { digit0 + i });
    }
    map.insert(U'-', { azerty ? digit0 + 6 : minus });
    map.insert(U'+', { keypadAdd });
    map.insert(U',', { comma });
    map.insert(U'.', azerty ? QList<qint32> { shift, semicolon } : QList<qint32> { period });

    if (&keyMapType == &KeyMapType::NUMERIC)
        return map;

    for (qint32 i = 0; i < 26; ++i)
        map.insert(U'A' + char32_t(i), { shift, letterA + i });
    if (&keyMapType == &KeyMapType::ALPHANUMERIC_BASIC)
        return map;

    for (qint32 i = 0; i < 26; ++i)
        map.insert(U'a' + char32_t(i), { letterA + i });
    map.insert(U'*', { keypadMultiply });
    map.insert(U'/', { keypadDivide });
    map.insert(U' ', { space });
    map.insert(U':', azerty ? QList<qint32> { colon } : QList<qint32> { shift, semicolon });
    if (&keyMapType == &KeyMapType::ALPHANUMERIC_COMPLETE)
        return map;

    for (const Entry &entry : azerty ? frenchSigns() : usSigns())
        map.insert(entry.character, entry.keys);
    return map;
}

} // namespace omvara::config
