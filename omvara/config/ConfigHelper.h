// SPDX-License-Identifier: GPL-3.0-or-later
// The value sets of the settings.
#pragma once

#include "omvara/util/Decimal.h"

#include <QLatin1String>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <stdexcept>

namespace omvara::util {
class Bundle;
}

namespace omvara::config {

// An unknown constant name given to valueOf(). Callers that read stored names
// test them with valid() first.
class UnknownConstantError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

// The value set of every user setting, as nested types. The constants of a
// set are unique objects with static storage, constant-initialised (usable
// from any static initialiser and any thread); compare them by address or by
// ordinal. values() lists them in display order; ordinals count from 0 in
// that order. Labels that come from the bundle "omvara.config.ConfigBundle"
// are looked up when asked for (toString()), so a missing key surfaces there;
// start-up checks every key of requiredKeys() before that.
class ConfigHelper
{
public:
    ConfigHelper() = delete;

    static constexpr const char *BundleName = "omvara.config.ConfigBundle";
    // The bundle of setting labels and instrument help texts.
    static const util::Bundle &getBundle();
    // Every key of the bundle that this module reads.
    static QStringList requiredKeys();

    // Base-10 32-bit signed integer: optional "+" or "-", then ASCII digits
    // only, no blanks. "-0" and "+7" parse; " 5", "5 ", "" and "1e3" do not.
    static std::optional<qint32> parseInteger(QStringView text);

    // Common part of every constant: its name and its position.
    class Constant
    {
    public:
        Constant(const Constant &) = delete;
        Constant &operator=(const Constant &) = delete;

        int ordinal() const { return m_ordinal; }
        QString name() const { return QString::fromLatin1(m_name); }
        QLatin1String latin1Name() const { return QLatin1String(m_name); }

    protected:
        constexpr Constant(int ordinal, const char *name)
            : m_ordinal(ordinal)
            , m_name(name)
        {
        }
        ~Constant() = default;

    private:
        int m_ordinal;
        const char *m_name;
    };

    // A display label: a literal text or a key of the bundle.
    struct Label
    {
        const char *text;
        bool fromBundle;
        QString resolve() const;
    };

    class BitRates;
    class DataBits;
    class Parity;
    class StopBits;
    class InputTerminator;
    class StartWith;
    class OutputTerminator;
    class Sound;
    class RoundingMethod;
    class MathOperation;
    class DecimalSeparator;
    class EditPosition;
    class EditOperation;
    class Connect;
    class KeyboardType;
    class KeyMapType;
    class InstrumentType;
    class Instrument; // the catalogue, in Instrument.h

    class RemoveCharacters;
    class MathOperand;
    class IgnoreTimeLimit;
    class IgnoreDifference;
    class EditNumCharacters;
    class Delay;
    class DecimalPlaces;
    class CustomRegEx;
};

// ---- Serial line settings: stored by ordinal; the label is the value text.

class ConfigHelper::BitRates final : public ConfigHelper::Constant
{
public:
    static const BitRates BR_110, BR_150, BR_300, BR_600, BR_1200, BR_2400, BR_4800, BR_9600, BR_19200,
        BR_38400, BR_57600, BR_115200, BR_230400, BR_460800, BR_921600;

    static QList<const BitRates *> values();
    static const BitRates &valueOf(QStringView name);
    static int getDefaultIndex() { return 7; }
    static bool valid(int index);
    // The value text at that ordinal; "" outside the range.
    static QString getValue(int index);

    QString value() const { return QString::fromLatin1(m_value); }
    QString toString() const { return value(); }

private:
    constexpr BitRates(int ordinal, const char *name, const char *value)
        : Constant(ordinal, name)
        , m_value(value)
    {
    }
    const char *m_value;
};

class ConfigHelper::DataBits final : public ConfigHelper::Constant
{
public:
    static const DataBits LN_5BITS, LN_6BITS, LN_7BITS, LN_8BITS;

    static QList<const DataBits *> values();
    static const DataBits &valueOf(QStringView name);
    static int getDefaultIndex() { return 3; }
    static bool valid(int index);
    static QString getValue(int index);

    QString value() const { return QString::fromLatin1(m_value); }
    QString toString() const { return value(); }

private:
    constexpr DataBits(int ordinal, const char *name, const char *value)
        : Constant(ordinal, name)
        , m_value(value)
    {
    }
    const char *m_value;
};

class ConfigHelper::Parity final : public ConfigHelper::Constant
{
public:
    static const Parity NONE, ODD, EVEN, MARK, SPACE;

    static QList<const Parity *> values();
    static const Parity &valueOf(QStringView name);
    static int getDefaultIndex() { return 0; }
    static bool valid(int index);
    // The constant name at that ordinal; "" outside the range.
    static QString getValue(int index);

    QString value() const { return name(); }
    QString toString() const { return name(); }

private:
    constexpr Parity(int ordinal, const char *name)
        : Constant(ordinal, name)
    {
    }
};

class ConfigHelper::StopBits final : public ConfigHelper::Constant
{
public:
    static const StopBits ST_1BITS, ST_2BITS;

    static QList<const StopBits *> values();
    static const StopBits &valueOf(QStringView name);
    static int getDefaultIndex() { return 0; }
    static bool valid(int index);
    static QString getValue(int index);

    QString value() const { return QString::fromLatin1(m_value); }
    QString toString() const { return value(); }

private:
    constexpr StopBits(int ordinal, const char *name, const char *value)
        : Constant(ordinal, name)
        , m_value(value)
    {
    }
    const char *m_value;
};

// The byte that ends a received line. The setting is a number (any code
// 0-255); the constants only name three common ones. Selecting the code in a
// combo box (named constant or bare number) belongs to the window's controls.
class ConfigHelper::InputTerminator final : public ConfigHelper::Constant
{
public:
    static const InputTerminator EOT, LF, CR;

    static QList<const InputTerminator *> values();
    static const InputTerminator &valueOf(QStringView name);
    static qint32 getDefault() { return 13; }
    static bool valid(qint32 code) { return code >= 0 && code <= 255; }
    // The constant with that code, or nullptr.
    static const InputTerminator *getByCode(qint32 code);

    qint32 getCode() const { return m_code; }
    QString toString() const { return QString::fromLatin1(m_label); }

private:
    constexpr InputTerminator(int ordinal, const char *name, const char *label, qint32 code)
        : Constant(ordinal, name)
        , m_label(label)
        , m_code(code)
    {
    }
    const char *m_label;
    qint32 m_code;
};

// ---- Settings stored by constant name.

// Key typed before each value.
class ConfigHelper::StartWith final : public ConfigHelper::Constant
{
public:
    static const StartWith NONE, ENTER, TAB, RIGHT, DOWN, DELETE, MULTIPLY, F1, F2, F3, F4, F5, F6, F7, F8,
        F9, F10, F11, F12;

    static QList<const StartWith *> values();
    static const StartWith &valueOf(QStringView name);
    static const StartWith &getDefault() { return NONE; }
    static bool valid(QStringView name);

    // The virtual key code to type; 0 for none.
    qint32 getKeyCode() const { return m_keyCode; }
    QString toString() const { return m_label.resolve(); }

private:
    constexpr StartWith(int ordinal, const char *name, Label label, qint32 keyCode)
        : Constant(ordinal, name)
        , m_label(label)
        , m_keyCode(keyCode)
    {
    }
    Label m_label;
    qint32 m_keyCode;
};

// Key typed after each value.
class ConfigHelper::OutputTerminator final : public ConfigHelper::Constant
{
public:
    static const OutputTerminator NONE, ENTER, TAB, RIGHT, DOWN;

    static QList<const OutputTerminator *> values();
    static const OutputTerminator &valueOf(QStringView name);
    static const OutputTerminator &getDefault() { return NONE; }
    static bool valid(QStringView name);

    qint32 getKeyCode() const { return m_keyCode; }
    QString toString() const { return m_label.resolve(); }

private:
    constexpr OutputTerminator(int ordinal, const char *name, Label label, qint32 keyCode)
        : Constant(ordinal, name)
        , m_label(label)
        , m_keyCode(keyCode)
    {
    }
    Label m_label;
    qint32 m_keyCode;
};

// Percussion stroke played for each typed value.
class ConfigHelper::Sound final : public ConfigHelper::Constant
{
public:
    static const Sound NONE, RIDE_BELL, COWBELL, HIGH_AGOGO, LOW_AGOGO, CLAVES, OPEN_TRIANGLE;

    static QList<const Sound *> values();
    static const Sound &valueOf(QStringView name);
    static const Sound &getDefault() { return NONE; }
    static bool valid(QStringView name);

    // General MIDI percussion key number; 0 means silent.
    qint32 getPercussionNumber() const { return m_percussionNumber; }
    QString toString() const { return m_label.resolve(); }

private:
    constexpr Sound(int ordinal, const char *name, Label label, qint32 percussionNumber)
        : Constant(ordinal, name)
        , m_label(label)
        , m_percussionNumber(percussionNumber)
    {
    }
    Label m_label;
    qint32 m_percussionNumber;
};

class ConfigHelper::RoundingMethod final : public ConfigHelper::Constant
{
public:
    static const RoundingMethod CEILING, DOWN, FLOOR, HALF_DOWN, HALF_EVEN, HALF_UP, UP;

    static QList<const RoundingMethod *> values();
    static const RoundingMethod &valueOf(QStringView name);
    static const RoundingMethod &getDefault() { return HALF_UP; }
    static bool valid(QStringView name);

    util::RoundingMode getRoundingMode() const { return m_mode; }
    QString toString() const { return QString::fromLatin1(m_label); }

private:
    constexpr RoundingMethod(int ordinal, const char *name, const char *label, util::RoundingMode mode)
        : Constant(ordinal, name)
        , m_label(label)
        , m_mode(mode)
    {
    }
    const char *m_label;
    util::RoundingMode m_mode;
};

// The remaining name-stored sets carry only a label.
#define OMVARA_LABELLED_SET_BODY(Type)                                                                       \
public:                                                                                                      \
    static QList<const Type *> values();                                                                     \
    static const Type &valueOf(QStringView name);                                                            \
    static bool valid(QStringView name);                                                                     \
    QString toString() const                                                                                 \
    {                                                                                                        \
        return m_label.resolve();                                                                            \
    }                                                                                                        \
                                                                                                             \
private:                                                                                                     \
    constexpr Type(int ordinal, const char *name, Label label)                                               \
        : Constant(ordinal, name)                                                                            \
        , m_label(label)                                                                                     \
    {                                                                                                        \
    }                                                                                                        \
    Label m_label;

class ConfigHelper::MathOperation final : public ConfigHelper::Constant
{
public:
    static const MathOperation NONE, MULTIPLY, DIVIDE;
    static const MathOperation &getDefault() { return NONE; }
    OMVARA_LABELLED_SET_BODY(MathOperation)
};

class ConfigHelper::DecimalSeparator final : public ConfigHelper::Constant
{
public:
    static const DecimalSeparator DOT, COMMA;
    static const DecimalSeparator &getDefault() { return DOT; }
    OMVARA_LABELLED_SET_BODY(DecimalSeparator)
};

class ConfigHelper::EditPosition final : public ConfigHelper::Constant
{
public:
    static const EditPosition FIRST, LAST;
    static const EditPosition &getDefault() { return FIRST; }
    OMVARA_LABELLED_SET_BODY(EditPosition)
};

class ConfigHelper::EditOperation final : public ConfigHelper::Constant
{
public:
    static const EditOperation REMOVE, KEEP;
    static const EditOperation &getDefault() { return REMOVE; }
    OMVARA_LABELLED_SET_BODY(EditOperation)
};

// How the port is chosen.
class ConfigHelper::Connect final : public ConfigHelper::Constant
{
public:
    static const Connect MANUAL, AUTO;
    static const Connect &getDefault() { return MANUAL; }
    OMVARA_LABELLED_SET_BODY(Connect)
};

// Keyboard layout of the target computer. The stored name of the default is
// "QUERTY" (sic); stored files rely on it.
class ConfigHelper::KeyboardType final : public ConfigHelper::Constant
{
public:
    static const KeyboardType QUERTY, AZERTY;
    static const KeyboardType &getDefault() { return QUERTY; }

    // Each character keyboard output can type on this layout for the
    // instrument's character repertoire, with the virtual key codes that type
    // it (two codes: Shift held while the second key is pressed). A new map
    // on every call. Defined with the keyboard output (KeyboardTypeKeymap.cpp).
    using KeyMap = QMap<char32_t, QList<qint32>>;
    KeyMap getKeymap(const KeyMapType &keyMapType) const;

    OMVARA_LABELLED_SET_BODY(KeyboardType)
};

#undef OMVARA_LABELLED_SET_BODY

// ---- Properties of instruments (no labels; toString() gives the name).

// Which characters keyboard output must be able to type.
class ConfigHelper::KeyMapType final : public ConfigHelper::Constant
{
public:
    // ALL_PRINTABLE: every printable character, beyond any table; the
    // characters of ALPHANUMERIC_COMPLETE keep its keys.
    static const KeyMapType NUMERIC, ALPHANUMERIC_BASIC, ALPHANUMERIC_COMPLETE, ALL_PRINTABLE;

    static QList<const KeyMapType *> values();
    static const KeyMapType &valueOf(QStringView name);
    static bool valid(QStringView name);
    QString toString() const { return name(); }

private:
    constexpr KeyMapType(int ordinal, const char *name)
        : Constant(ordinal, name)
    {
    }
};

// NUMBER devices deliver numbers (full processing chain); TEXT devices
// deliver text that is typed as received.
class ConfigHelper::InstrumentType final : public ConfigHelper::Constant
{
public:
    static const InstrumentType NUMBER, TEXT;

    static QList<const InstrumentType *> values();
    static const InstrumentType &valueOf(QStringView name);
    static bool valid(QStringView name);
    QString toString() const { return name(); }

private:
    constexpr InstrumentType(int ordinal, const char *name)
        : Constant(ordinal, name)
    {
    }
};

// ---- Free-text settings. The empty text always means "not set" and is
// valid; the stored text is the setting unchanged (valueOf is the identity).

// Characters removed from each value; every one must be a single byte (<= U+00FF).
class ConfigHelper::RemoveCharacters final
{
public:
    RemoveCharacters() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// Multiplier or divisor: a decimal number, but not the exact text "0".
class ConfigHelper::MathOperand final
{
public:
    MathOperand() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// Milliseconds within which a repeated value is suppressed; integer > 0.
class ConfigHelper::IgnoreTimeLimit final
{
public:
    IgnoreTimeLimit() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// Largest difference (in the value's unit) still counted as a repeat; decimal > 0.
class ConfigHelper::IgnoreDifference final
{
public:
    IgnoreDifference() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// Number of characters the edit step keeps or removes; integer 1-99.
class ConfigHelper::EditNumCharacters final
{
public:
    EditNumCharacters() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// Milliseconds between key events; integer 0-1000.
class ConfigHelper::Delay final
{
public:
    Delay() = delete;
    static QString getDefault() { return QStringLiteral("20"); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// Digits after the decimal separator; integer 0-7.
class ConfigHelper::DecimalPlaces final
{
public:
    DecimalPlaces() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

// A user's own value pattern. Valid when it compiles with the program's
// pattern semantics (LinePattern) and its first unescaped "(" stands before
// its first unescaped ")" (escaped: directly preceded by a backslash), and
// it is at most MaxLength characters long: compiling costs time in proportion
// to the text (a pasted megabyte would hold the window for seconds), and the
// engine refuses far shorter patterns than that as too large anyway.
class ConfigHelper::CustomRegEx final
{
public:
    static constexpr int MaxLength = 4096;

    CustomRegEx() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text) { return problem(text).isEmpty(); }
    // Why `text` is not a valid custom pattern (too long, does not compile,
    // uses a construct that cannot be matched exactly, has no group); "" when
    // it is valid.
    static QString problem(const QString &text);
    // For a valid pattern whose meaning may surprise (a POSIX class name
    // such as [:digit:] inside a class, which is not that class here): what
    // it means and what to write instead; "" otherwise.
    static QString note(const QString &text);
    static QString valueOf(const QString &stored) { return stored; }
};

} // namespace omvara::config
