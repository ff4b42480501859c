// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace omvara {

// What the window accepts where a setting is typed, without any widget.
// Each accept function returns the text to store, or nothing for input the
// setting refuses (the setting then keeps its last valid value).
namespace SettingRules {

// A decimal number, "," read as "."; the stored text has ".".
std::optional<QString> acceptMathOperand(const QString &typed);
// Digits after the separator: empty or 0-7.
std::optional<QString> acceptDecimalPlaces(const QString &typed);
// Characters the edit step keeps or removes: empty or 1-99.
std::optional<QString> acceptEditNumCharacters(const QString &typed);
// Characters to remove: each a single byte.
std::optional<QString> acceptRemoveCharacters(const QString &typed);
// Milliseconds between keystrokes: empty or 0-1000.
std::optional<QString> acceptDelay(const QString &typed);

// A terminator typed as a number: a base-10 integer from 0 to 255.
std::optional<int> parseInputTerminator(const QString &typed);

// The duplicate-suppression limits as typed: time limit empty or an integer
// > 0, difference empty or a decimal > 0 with "," read as ".". Returns the
// texts to store (difference with ".").
std::optional<std::pair<QString, QString>> acceptIgnoreLimits(
    const QString &timeLimit, const QString &difference);

// ---- Record file and broker

// The record file: empty (off) or a path, "{date}" and "{user}" allowed.
// Blanks around it are dropped.
std::optional<QString> acceptRecordFile(const QString &typed);
// The broker: empty (off) or "mqtt[s]://[user@]host[:port]/topic"; blanks
// around it are dropped.
std::optional<QString> acceptMqttUrl(const QString &typed);
// The broker's certificate authorities: empty (the system's) or a path.
std::optional<QString> acceptMqttCaFile(const QString &typed);

// ---- Stamps beside the value

// A stamp as typed, blanks included (they are typed too).
std::optional<QString> acceptStamp(const QString &typed);
// What is wrong with a stamp that acceptStamp refuses ("unknown token {user}").
QString stampProblem(const QString &typed);

} // namespace SettingRules

} // namespace omvara
