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
    return map;
}

} // namespace omvara::config
