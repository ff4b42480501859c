// SPDX-License-Identifier: GPL-3.0-or-later
// The value of one hexadecimal digit, as escapes in texts and patterns spell it.
#pragma once

#include <QChar>

namespace omvara::util {

// 0-15 for 0-9, a-f and A-F; -1 for any other character.
constexpr int hexDigitValue(char32_t c) noexcept
{
    if (c >= U'0' && c <= U'9')
        return int(c - U'0');
    if (c >= U'a' && c <= U'f')
        return int(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return int(c - U'A') + 10;
    return -1;
}

constexpr int hexDigitValue(QChar c) noexcept
{
    return hexDigitValue(char32_t(c.unicode()));
}

} // namespace omvara::util
