// SPDX-License-Identifier: GPL-3.0-or-later
// The settings of codes: how received bytes are read as text, and what the
// control characters of a code (GS, RS, EOT) become when it is typed.
#pragma once

#include "omvara/config/ConfigHelper.h"

#include <QList>
#include <QString>
#include <QStringView>

namespace omvara::config {

// How the bytes of a received line are read as text. LATIN_1 (the default)
// takes each byte as the character of the same code; the others decode
// multi-byte codes (QR and Data Matrix readers send UTF-8, Shift_JIS, ...).
// The line terminator is a byte whatever the encoding. Stored by name.
class InputEncoding final : public ConfigHelper::Constant
{
public:
    static const InputEncoding LATIN_1, UTF_8, SHIFT_JIS, EUC_JP, GB18030, EUC_KR, BIG5, WINDOWS_1252;

    static QList<const InputEncoding *> values();
    static const InputEncoding &valueOf(QStringView name);
    static const InputEncoding &getDefault() { return LATIN_1; }
    // A name of the list whose encoding Qt can decode on this system.
    static bool valid(QStringView name) { return problem(name).isEmpty(); }
    // Why `name` cannot be taken: no encoding of the list, or one Qt cannot
    // decode here (named); "" when it can.
    static QString problem(QStringView name);

    // The name the decoder knows the encoding by ("Shift_JIS").
    const char *codecName() const { return m_codec; }
    // Qt can decode it on this system.
    bool available() const;
    QString toString() const { return QString::fromLatin1(m_label); }

private:
    constexpr InputEncoding(int ordinal, const char *name, const char *label, const char *codec)
        : Constant(ordinal, name)
        , m_label(label)
        , m_codec(codec)
    {
    }
    const char *m_label;
    const char *m_codec;
};

// What GS (0x1D), RS (0x1E) and EOT (0x04) inside a value become when it is
// typed: left out (the default), a key (ControlKey), a text (ControlText),
// or the character itself where the keyboard backend can type it.
class ControlCharacters final : public ConfigHelper::Constant
{
public:
    static const ControlCharacters REMOVE, KEY, TEXT, CHARACTER;

    static QList<const ControlCharacters *> values();
    static const ControlCharacters &valueOf(QStringView name);
    static const ControlCharacters &getDefault() { return REMOVE; }
    static bool valid(QStringView name);
    QString toString() const { return QString::fromLatin1(m_label); }

    // The characters the setting is about.
    static bool isControl(char32_t c) { return c == 0x1D || c == 0x1E || c == 0x04; }
    // "GS", "RS" or "EOT"; "" for any other character.
    static QString nameOf(char32_t c);

private:
    constexpr ControlCharacters(int ordinal, const char *name, const char *label)
        : Constant(ordinal, name)
        , m_label(label)
    {
    }
    const char *m_label;
};

// The key ControlCharacters::KEY types for each control character.
class ControlKey final : public ConfigHelper::Constant
{
public:
    static const ControlKey TAB, ENTER;

    static QList<const ControlKey *> values();
    static const ControlKey &valueOf(QStringView name);
    static const ControlKey &getDefault() { return TAB; }
    static bool valid(QStringView name);
    qint32 getKeyCode() const { return m_keyCode; }
    QString toString() const { return QString::fromLatin1(m_label); }

private:
    constexpr ControlKey(int ordinal, const char *name, const char *label, qint32 keyCode)
        : Constant(ordinal, name)
        , m_label(label)
        , m_keyCode(keyCode)
    {
    }
    const char *m_label;
    qint32 m_keyCode;
};

// The text ControlCharacters::TEXT types for each control character;
// "{name}" in it stands for the character's name (GS, RS, EOT). Valid: at
// most MaxLength characters, none of them a control character.
class ControlText final
{
public:
    static constexpr int MaxLength = 64;

    ControlText() = delete;
    static QString getDefault() { return QStringLiteral("<{name}>"); }
    static bool valid(const QString &text);
    // What `text` types for the control character `c`.
    static QString expand(const QString &text, char32_t c);
};

// The symbology identifier a reader may put before a code ("]C1" GS1-128,
// "]d2" GS1 DataMatrix, "]Q3" QR Code): "]", a letter and a letter or digit.
// Its length at the start of `value`; 0 when the value does not begin with one.
qsizetype symbologyIdLength(QStringView value);

} // namespace omvara::config
