// SPDX-License-Identifier: GPL-3.0-or-later
// How line_chain_fuzzer reads its input, shared with the seed writer: eight setting bytes,
// then the bytes received from the device.
//
//   byte 0  instrument: index into the catalogue
//   byte 1  value pattern: below the number of custom patterns one of them, else the
//           instrument's own
//   byte 2  decimal places (9 choices, the last "" = none), rounding method (7), separator (2)
//   byte 3  arithmetic (3 operations), operand (5)
//   byte 4  edit operation (2), position (2), number of characters (6, the first "")
//   byte 5  characters to remove
//   byte 6  duplicate suppression on/off, time limit (4), difference (4), time between lines (4)
//   byte 7  input terminator: 0 the instrument's own, else one of a few others
//
// Every choice is a value the settings accept (the fuzzer checks its tables at start-up).
#pragma once

#include "omvara/config/Config.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/Instrument.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace omvara::fuzz::linechain {

using config::ConfigHelper;

constexpr std::size_t SettingBytes = 8;

// Patterns users type: a plain number before a unit, everything before a comma, a
// group that may stay out of the match, a look-ahead, a group after an anchor,
// alternatives, a character class with characters above 0x7F, an end anchor.
inline const std::array<const char *, 8> CustomPatterns = {
    R"(([-+]?\d+[.,]?\d*)\s*(?:kg|g|lb))",
    R"(^([^,]*),)",
    R"((x)?(\d+))",
    R"((\d+)(?=\s*kg))",
    R"(W:\s*(.*)$)",
    R"((\d+|[A-F]+))",
    "([\\x{B0}\\x{B5}\\x{E9}0-9.]+)",
    R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s*$)",
};
constexpr int PatternChoices = 16; // byte 1 modulo this; at or above CustomPatterns.size(): own pattern

inline const std::array<const char *, 9> Places = { "0", "1", "2", "3", "4", "5", "6", "7", "" };
inline const std::array<const ConfigHelper::RoundingMethod *, 7> Methods
    = { &ConfigHelper::RoundingMethod::CEILING, &ConfigHelper::RoundingMethod::DOWN,
          &ConfigHelper::RoundingMethod::FLOOR, &ConfigHelper::RoundingMethod::HALF_DOWN,
          &ConfigHelper::RoundingMethod::HALF_EVEN, &ConfigHelper::RoundingMethod::HALF_UP,
          &ConfigHelper::RoundingMethod::UP };
inline const std::array<const ConfigHelper::MathOperation *, 3> Operations
    = { &ConfigHelper::MathOperation::NONE, &ConfigHelper::MathOperation::MULTIPLY,
          &ConfigHelper::MathOperation::DIVIDE };
inline const std::array<const char *, 5> Operands = { "2", "0.5", "1000", "-1.25", "0.001" };
inline const std::array<const char *, 6> EditCounts = { "", "1", "2", "3", "5", "99" };
// Latin-1 texts (each byte one character, as the settings allow).
inline const std::array<const char *, 10> RemoveSets
    = { "", " ", "kg", ".", ",", "+-", "0", "\xB0\xB5", "\r\n", "0123456789" };
inline const std::array<const char *, 4> TimeLimits = { "", "1", "50", "100000" };
inline const std::array<const char *, 4> Differences = { "", "0.01", "1", "0.5" };
inline const std::array<int, 4> GapsMs = { 0, 1, 20, 1000 };
inline const std::array<int, 8> Terminators = { -1, 13, 10, 4, 0, 3, 0xFF, 0x20 }; // -1: the instrument's own

struct Settings
{
    const ConfigHelper::Instrument *instrument = nullptr;
    int pattern = -1; // index into CustomPatterns, -1 for the instrument's own
    int gapMs = 0;
};

inline QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

// Fills `config` from the eight setting bytes.
inline Settings decode(const std::uint8_t *b, config::Config &config)
{
    using H = ConfigHelper;
    const auto instruments = H::Instrument::values();
    Settings s;
    s.instrument = instruments[b[0] % instruments.size()];
    config = s.instrument->getDefaultConfig();
    config.setInstrument(s.instrument);

    const int pattern = b[1] % PatternChoices;
    if (pattern < int(CustomPatterns.size())) {
        s.pattern = pattern;
        config.setCustomRegEx(QString::fromUtf8(CustomPatterns[pattern]));
    }

    config.setDecimalPlaces(latin1(Places[b[2] % 9]));
    config.setRoundingMethod(*Methods[(b[2] / 9) % 7]);
    config.setDecimalSeparator((b[2] / 63) % 2 ? H::DecimalSeparator::COMMA : H::DecimalSeparator::DOT);

    config.setMathOperation(*Operations[b[3] % 3]);
    config.setMathOperand(latin1(Operands[(b[3] / 3) % Operands.size()]));

    config.setEditOperation(b[4] % 2 ? H::EditOperation::KEEP : H::EditOperation::REMOVE);
    config.setEditPosition((b[4] / 2) % 2 ? H::EditPosition::LAST : H::EditPosition::FIRST);
    config.setEditNumCharacters(latin1(EditCounts[(b[4] / 4) % EditCounts.size()]));

    config.setRemoveCharacters(latin1(RemoveSets[b[5] % RemoveSets.size()]));

    config.setIgnoreDuplicates(b[6] % 2 == 1);
    config.setIgnoreTimeLimit(latin1(TimeLimits[(b[6] / 2) % 4]));
    config.setIgnoreDifference(latin1(Differences[(b[6] / 8) % 4]));
    s.gapMs = GapsMs[(b[6] / 32) % 4];

    const int terminator = Terminators[b[7] % Terminators.size()];
    if (terminator >= 0)
        config.setInputTerminator(terminator);
    return s;
}

// The setting bytes of the plain run of an instrument (its own pattern and terminator,
// no rounding, arithmetic, edit, removal or suppression), and of one with rounding to two
// places with a comma, a multiplication and suppression of repeats.
inline std::array<std::uint8_t, SettingBytes> plainSettings(int instrumentIndex)
{
    return { std::uint8_t(instrumentIndex), std::uint8_t(PatternChoices - 1), 8, 0, 0, 0, 0, 0 };
}
inline std::array<std::uint8_t, SettingBytes> busySettings(int instrumentIndex)
{
    // places "2" + HALF_UP (5 × 9) + comma (63); MULTIPLY with operand "0.5" (1 + 3);
    // suppression on, limit "100000" (3 × 2), difference "0.01" (1 × 8), 20 ms apart (2 × 32).
    return { std::uint8_t(instrumentIndex), std::uint8_t(PatternChoices - 1), 2 + 45 + 63, 4, 0, 0,
        1 + 6 + 8 + 64, 0 };
}

} // namespace omvara::fuzz::linechain
