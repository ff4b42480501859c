// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/CodeSettings.h"

#include <QStringDecoder>

#include <array>

namespace omvara::config {

using IE = InputEncoding;
using CC = ControlCharacters;
using CK = ControlKey;

constinit const IE IE::LATIN_1 { 0, "LATIN_1", "Latin-1", "ISO-8859-1" };
constinit const IE IE::UTF_8 { 1, "UTF_8", "UTF-8", "UTF-8" };
constinit const IE IE::SHIFT_JIS { 2, "SHIFT_JIS", "Shift_JIS", "Shift_JIS" };
constinit const IE IE::EUC_JP { 3, "EUC_JP", "EUC-JP", "EUC-JP" };
constinit const IE IE::GB18030 { 4, "GB18030", "GB18030", "GB18030" };
constinit const IE IE::EUC_KR { 5, "EUC_KR", "EUC-KR", "EUC-KR" };
constinit const IE IE::BIG5 { 6, "BIG5", "Big5", "Big5" };
constinit const IE IE::WINDOWS_1252 { 7, "WINDOWS_1252", "Windows-1252", "windows-1252" };

constinit const CC CC::REMOVE { 0, "REMOVE", "leave out" };
constinit const CC CC::KEY { 1, "KEY", "type a key" };
constinit const CC CC::TEXT { 2, "TEXT", "type a text" };
constinit const CC CC::CHARACTER { 3, "CHARACTER", "type the character" };

constinit const CK CK::TAB { 0, "TAB", "Tab", 9 };
constinit const CK CK::ENTER { 1, "ENTER", "Enter", 10 };

namespace {

constexpr std::array<const IE *, 8> allEncodings { &IE::LATIN_1, &IE::UTF_8, &IE::SHIFT_JIS, &IE::EUC_JP,
    &IE::GB18030, &IE::EUC_KR, &IE::BIG5, &IE::WINDOWS_1252 };
constexpr std::array<const CC *, 4> allControlCharacters { &CC::REMOVE, &CC::KEY, &CC::TEXT, &CC::CHARACTER };
constexpr std::array<const CK *, 2> allControlKeys { &CK::TAB, &CK::ENTER };

template <typename T, std::size_t N>
const T *findByName(const std::array<const T *, N> &all, QStringView name)
{
    for (const T *c : all)
        if (c->latin1Name() == name)
            return c;
    return nullptr;
}

template <typename T, std::size_t N>
const T &requireByName(const std::array<const T *, N> &all, QStringView name, const char *type)
{
    if (const T *c = findByName(all, name))
        return *c;
    throw UnknownConstantError(
        QStringLiteral("No enum constant %1.%2").arg(QLatin1String(type), name.toString()).toStdString());
}

template <typename T, std::size_t N> QList<const T *> listOf(const std::array<const T *, N> &all)
{
    return QList<const T *>(all.begin(), all.end());
}

} // namespace

QList<const IE *> IE::values()
{
    return listOf(allEncodings);
}
const IE &IE::valueOf(QStringView name)
{
    return requireByName(allEncodings, name, "InputEncoding");
}

QString IE::problem(QStringView name)
{
    const IE *encoding = findByName(allEncodings, name);
    if (!encoding)
        return QStringLiteral("%1 is no encoding of the list.").arg(name.toString());
    if (!encoding->available())
        return QStringLiteral("Qt cannot decode %1 on this system.").arg(encoding->toString());
    return QString();
}

bool IE::available() const
{
    return this == &LATIN_1 || QStringDecoder(m_codec).isValid();
}

QList<const CC *> CC::values()
{
    return listOf(allControlCharacters);
}
const CC &CC::valueOf(QStringView name)
{
    return requireByName(allControlCharacters, name, "ControlCharacters");
}
bool CC::valid(QStringView name)
{
    return findByName(allControlCharacters, name) != nullptr;
}

QString CC::nameOf(char32_t c)
{
    switch (c) {
    case 0x1D:
        return QStringLiteral("GS");
    case 0x1E:
        return QStringLiteral("RS");
    case 0x04:
        return QStringLiteral("EOT");
    default:
        return QString();
    }
}

QList<const CK *> CK::values()
{
    return listOf(allControlKeys);
}
const CK &CK::valueOf(QStringView name)
{
    return requireByName(allControlKeys, name, "ControlKey");
}
bool CK::valid(QStringView name)
{
    return findByName(allControlKeys, name) != nullptr;
}

bool ControlText::valid(const QString &text)
{
    if (text.size() > MaxLength)
        return false;
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            return false;
    }
    return true;
}

QString ControlText::expand(const QString &text, char32_t c)
{
    QString typed = text;
    return typed.replace(QLatin1String("{name}"), ControlCharacters::nameOf(c));
}

qsizetype symbologyIdLength(QStringView value)
{
    const auto letter = [](QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
    const auto digit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (value.size() >= 3 && value[0] == u']' && letter(value[1]) && (letter(value[2]) || digit(value[2])))
        return 3;
    return 0;
}

} // namespace omvara::config
