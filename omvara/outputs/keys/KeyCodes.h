// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Virtual key codes of the keyboard output: the key codes the settings,
// the key maps and the start and terminator keys are written in.
namespace omvara::outputs::keys::vk {

inline constexpr int Backspace = 8;
inline constexpr int Tab = 9;
inline constexpr int Enter = 10;
inline constexpr int Shift = 16;
inline constexpr int Control = 17;
inline constexpr int Alt = 18;
inline constexpr int CapsLock = 20;
inline constexpr int Escape = 27;
inline constexpr int Space = 32;
inline constexpr int PageUp = 33;
inline constexpr int PageDown = 34;
inline constexpr int End = 35;
inline constexpr int Home = 36;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int Comma = 44;
inline constexpr int Minus = 45;
inline constexpr int Period = 46;
inline constexpr int Slash = 47;
inline constexpr int Digit0 = 48; // to Digit0 + 9
inline constexpr int Semicolon = 59;
inline constexpr int Equals = 61;
inline constexpr int LetterA = 65; // to LetterA + 25
inline constexpr int OpenBracket = 91;
inline constexpr int BackSlash = 92;
inline constexpr int CloseBracket = 93;
inline constexpr int Numpad0 = 96; // to Numpad0 + 9
inline constexpr int Multiply = 106; // numeric keypad
inline constexpr int Add = 107; // numeric keypad
inline constexpr int Subtract = 109; // numeric keypad
inline constexpr int Decimal = 110; // numeric keypad
inline constexpr int Divide = 111; // numeric keypad
inline constexpr int F1 = 112; // to F1 + 11
inline constexpr int Delete = 127;
inline constexpr int Insert = 155;
inline constexpr int BackQuote = 192;
inline constexpr int Quote = 222;
inline constexpr int Colon = 513;

// The key that types one character as itself, whatever key of whichever
// layout carries it: CharacterBase + the character's code point. For the
// characters no key of the keyboard type's layout prints (an "@" on AZERTY,
// "\u00b5", "\u20ac", CJK); backends that know the desktop's layout look the
// character up there or bind a spare key to it.
inline constexpr int CharacterBase = 0x01000000;
constexpr int character(char32_t c)
{
    return CharacterBase + int(c);
}
constexpr bool isCharacter(int keyCode)
{
    return keyCode >= CharacterBase && keyCode <= CharacterBase + 0x10FFFF;
}
constexpr char32_t characterOf(int keyCode)
{
    return char32_t(keyCode - CharacterBase);
}

} // namespace omvara::outputs::keys::vk
