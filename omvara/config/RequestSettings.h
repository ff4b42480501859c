// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the settings for readings on request and for settled readings.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace omvara::config {

// The text sent to ask the instrument for a reading, as the user writes it:
// characters stand for themselves, and the escapes \r, \n, \t, \e (ESC),
// \xHH (two hexadecimal digits) and \\ for the bytes that cannot be typed.
// Every character must be a single byte (up to U+00FF). Empty: the
// instrument's own command (Instrument::getDataCommand()), if it has one.
class RequestCommand final
{
public:
    RequestCommand() = delete;
    static QString getDefault() { return QString(); }
    static bool valid(const QString &text) { return decode(text).has_value(); }
    // The bytes `text` stands for; nothing when it is not valid, with the
    // reason in `problem` (English).
    static std::optional<QByteArray> decode(const QString &text, QString *problem = nullptr);
    // The bytes written the way the setting is written (for the log).
    static QString encode(const QByteArray &bytes);
};

// Milliseconds between requests while a run is going; 0: no interval.
class RequestInterval final
{
public:
    static constexpr int Off = 0;
    static constexpr int Minimum = 50;
    static constexpr int Maximum = 3600000;

    RequestInterval() = delete;
    static int getDefault() { return Off; }
    static bool valid(qint64 ms) { return ms == Off || (ms >= Minimum && ms <= Maximum); }
};

// How many equal values in a row make a settled reading: 1 hands on every value.
class StableReadings final
{
public:
    static constexpr int Minimum = 1;
    static constexpr int Maximum = 99;

    StableReadings() = delete;
    static int getDefault() { return 1; }
    static bool valid(qint64 n) { return n >= Minimum && n <= Maximum; }
};

// A global hotkey in the portable key-sequence text ("F9", "Ctrl+Alt+W"):
// modifiers Ctrl, Alt, Shift and Meta, each at most once, joined by '+' to
// one key: a letter, a digit, F1 to F35, or one of the named keys (Space,
// Tab, Return, Enter, Esc, Backspace, Ins, Del, Home, End, PgUp, PgDown,
// Left, Up, Right, Down, Pause, Print, ScrollLock, Menu). A letter, a digit,
// Space, Tab, Return, Enter or Backspace needs Ctrl, Alt or Meta: taken
// globally on its own it would be taken from every application (and from
// the values Omvara types itself). Empty: no hotkey.
class RequestHotkey final
{
public:
    enum Modifier { Shift = 1, Ctrl = 2, Alt = 4, Meta = 8 };
    struct Chord
    {
        int modifiers = 0; // Modifier bits
        QString key; // as written in the portable text: "W", "7", "F9", "PgUp", ...
    };

    RequestHotkey() = delete;
    static QString getDefault() { return QString(); }
    static bool valid(const QString &text) { return text.isEmpty() || parse(text).has_value(); }
    // The chord of a non-empty text; nothing when it is not valid, with the
    // reason in `problem` (English).
    static std::optional<Chord> parse(const QString &text, QString *problem = nullptr);
};

} // namespace omvara::config
