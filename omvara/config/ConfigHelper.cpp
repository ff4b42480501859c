// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/ConfigHelper.h"

#include "omvara/config/Instrument.h"
#include "omvara/config/LinePattern.h"
#include "omvara/util/Bundle.h"

#include <array>
#include <limits>

namespace omvara::config {

using util::RoundingMode;

namespace {

template <class E, std::size_t N> QList<const E *> listOf(const std::array<const E *, N> &all)
{
    return QList<const E *>(all.begin(), all.end());
}

template <class E, std::size_t N> const E *findByName(const std::array<const E *, N> &all, QStringView name)
{
    for (const E *c : all)
        if (c->latin1Name() == name)
            return c;
    return nullptr;
}

template <class E, std::size_t N>
const E &requireByName(const std::array<const E *, N> &all, QStringView name, const char *typeName)
{
    if (const E *c = findByName(all, name))
        return *c;
    throw UnknownConstantError(QStringLiteral("No enum constant ConfigHelper.%1.%2")
                                   .arg(QLatin1String(typeName), name.toString())
                                   .toStdString());
}

template <class E, std::size_t N> QString valueAt(const std::array<const E *, N> &all, int index)
{
    if (index < 0 || index >= static_cast<int>(N))
        return QStringLiteral("");
    return all[static_cast<std::size_t>(index)]->value();
}

// Integer text settings: empty, or a 32-bit integer within [low, high].
bool integerWithin(const QString &text, qint64 low, qint64 high)
{
    if (text.isEmpty())
        return true;
    const std::optional<qint32> n = ConfigHelper::parseInteger(text);
    return n && *n >= low && *n <= high;
}

constexpr qint64 IntMax = std::numeric_limits<qint32>::max();

} // namespace

// ---------------------------------------------------------------- helpers

const util::Bundle &ConfigHelper::getBundle()
{
    return util::Bundle::get(QLatin1String(BundleName));
}

QString ConfigHelper::Label::resolve() const
{
    if (fromBundle)
        return getBundle().getString(QLatin1String(text));
    return QString::fromUtf8(text);
}

std::optional<qint32> ConfigHelper::parseInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'-' || text[0] == u'+')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate negatively so that the most negative value fits.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > IntMax + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > IntMax)
        return std::nullopt;
    return static_cast<qint32>(value);
}

// ---------------------------------------------------------------- serial line sets

constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_110 { 0, "BR_110", "110" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_150 { 1, "BR_150", "150" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_300 { 2, "BR_300", "300" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_600 { 3, "BR_600", "600" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_1200 { 4, "BR_1200", "1200" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_2400 { 5, "BR_2400", "2400" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_4800 { 6, "BR_4800", "4800" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_9600 { 7, "BR_9600", "9600" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_19200 { 8, "BR_19200", "19200" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_38400 { 9, "BR_38400", "38400" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_57600 { 10, "BR_57600", "57600" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_115200 { 11, "BR_115200", "115200" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_230400 { 12, "BR_230400", "230400" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_460800 { 13, "BR_460800", "460800" };
constinit const ConfigHelper::BitRates ConfigHelper::BitRates::BR_921600 { 14, "BR_921600", "921600" };

namespace {
using BR = ConfigHelper::BitRates;
constexpr std::array<const BR *, 15> allBitRates { &BR::BR_110, &BR::BR_150, &BR::BR_300, &BR::BR_600,
    &BR::BR_1200, &BR::BR_2400, &BR::BR_4800, &BR::BR_9600, &BR::BR_19200, &BR::BR_38400, &BR::BR_57600,
    &BR::BR_115200, &BR::BR_230400, &BR::BR_460800, &BR::BR_921600 };
} // namespace

QList<const BR *> BR::values()
{
    return listOf(allBitRates);
}
const BR &BR::valueOf(QStringView name)
{
    return requireByName(allBitRates, name, "BitRates");
}
bool BR::valid(int index)
{
    return index >= 0 && index < static_cast<int>(allBitRates.size());
}
QString BR::getValue(int index)
{
    return valueAt(allBitRates, index);
}

constinit const ConfigHelper::DataBits ConfigHelper::DataBits::LN_5BITS { 0, "LN_5BITS", "5" };
constinit const ConfigHelper::DataBits ConfigHelper::DataBits::LN_6BITS { 1, "LN_6BITS", "6" };
constinit const ConfigHelper::DataBits ConfigHelper::DataBits::LN_7BITS { 2, "LN_7BITS", "7" };
constinit const ConfigHelper::DataBits ConfigHelper::DataBits::LN_8BITS { 3, "LN_8BITS", "8" };

namespace {
using DB = ConfigHelper::DataBits;
constexpr std::array<const DB *, 4> allDataBits { &DB::LN_5BITS, &DB::LN_6BITS, &DB::LN_7BITS,
    &DB::LN_8BITS };
} // namespace

QList<const DB *> DB::values()
{
    return listOf(allDataBits);
}
const DB &DB::valueOf(QStringView name)
{
    return requireByName(allDataBits, name, "DataBits");
}
bool DB::valid(int index)
{
    return index >= 0 && index < static_cast<int>(allDataBits.size());
}
QString DB::getValue(int index)
{
    return valueAt(allDataBits, index);
}

constinit const ConfigHelper::Parity ConfigHelper::Parity::NONE { 0, "NONE" };
constinit const ConfigHelper::Parity ConfigHelper::Parity::ODD { 1, "ODD" };
constinit const ConfigHelper::Parity ConfigHelper::Parity::EVEN { 2, "EVEN" };
constinit const ConfigHelper::Parity ConfigHelper::Parity::MARK { 3, "MARK" };
constinit const ConfigHelper::Parity ConfigHelper::Parity::SPACE { 4, "SPACE" };

namespace {
using PA = ConfigHelper::Parity;
constexpr std::array<const PA *, 5> allParities { &PA::NONE, &PA::ODD, &PA::EVEN, &PA::MARK, &PA::SPACE };
} // namespace

QList<const PA *> PA::values()
{
    return listOf(allParities);
}
const PA &PA::valueOf(QStringView name)
{
    return requireByName(allParities, name, "Parity");
}
bool PA::valid(int index)
{
    return index >= 0 && index < static_cast<int>(allParities.size());
}
QString PA::getValue(int index)
{
    return valueAt(allParities, index);
}

constinit const ConfigHelper::StopBits ConfigHelper::StopBits::ST_1BITS { 0, "ST_1BITS", "1" };
constinit const ConfigHelper::StopBits ConfigHelper::StopBits::ST_2BITS { 1, "ST_2BITS", "2" };

namespace {
using SB = ConfigHelper::StopBits;
constexpr std::array<const SB *, 2> allStopBits { &SB::ST_1BITS, &SB::ST_2BITS };
} // namespace

QList<const SB *> SB::values()
{
    return listOf(allStopBits);
}
const SB &SB::valueOf(QStringView name)
{
    return requireByName(allStopBits, name, "StopBits");
}
bool SB::valid(int index)
{
    return index >= 0 && index < static_cast<int>(allStopBits.size());
}
QString SB::getValue(int index)
{
    return valueAt(allStopBits, index);
}

// ---------------------------------------------------------------- input terminator

constinit const ConfigHelper::InputTerminator ConfigHelper::InputTerminator::EOT { 0, "EOT", "4 <EOT>", 4 };
constinit const ConfigHelper::InputTerminator ConfigHelper::InputTerminator::LF { 1, "LF", "10 <LF>", 10 };
constinit const ConfigHelper::InputTerminator ConfigHelper::InputTerminator::CR { 2, "CR", "13 <CR>", 13 };

namespace {
using IT = ConfigHelper::InputTerminator;
constexpr std::array<const IT *, 3> allInputTerminators { &IT::EOT, &IT::LF, &IT::CR };
} // namespace

QList<const IT *> IT::values()
{
    return listOf(allInputTerminators);
}
const IT &IT::valueOf(QStringView name)
{
    return requireByName(allInputTerminators, name, "InputTerminator");
}
const IT *IT::getByCode(qint32 code)
{
    for (const IT *c : allInputTerminators)
        if (c->getCode() == code)
            return c;
    return nullptr;
}

// ---------------------------------------------------------------- keys

constinit const ConfigHelper::StartWith ConfigHelper::StartWith::NONE { 0, "NONE", { "key.none", true }, 0 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::ENTER { 1, "ENTER", { "enter", true }, 10 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::TAB { 2, "TAB", { "tab", true }, 9 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::RIGHT { 3, "RIGHT", { "right", true }, 39 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::DOWN { 4, "DOWN", { "down", true }, 40 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::DELETE { 5, "DELETE", { "delete", true },
    127 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::MULTIPLY { 6, "MULTIPLY", { "*", false },
    106 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F1 { 7, "F1", { "F1", false }, 112 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F2 { 8, "F2", { "F2", false }, 113 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F3 { 9, "F3", { "F3", false }, 114 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F4 { 10, "F4", { "F4", false }, 115 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F5 { 11, "F5", { "F5", false }, 116 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F6 { 12, "F6", { "F6", false }, 117 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F7 { 13, "F7", { "F7", false }, 118 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F8 { 14, "F8", { "F8", false }, 119 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F9 { 15, "F9", { "F9", false }, 120 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F10 { 16, "F10", { "F10", false }, 121 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F11 { 17, "F11", { "F11", false }, 122 };
constinit const ConfigHelper::StartWith ConfigHelper::StartWith::F12 { 18, "F12", { "F12", false }, 123 };

namespace {
using SW = ConfigHelper::StartWith;
constexpr std::array<const SW *, 19> allStartWith { &SW::NONE, &SW::ENTER, &SW::TAB, &SW::RIGHT, &SW::DOWN,
    &SW::DELETE, &SW::MULTIPLY, &SW::F1, &SW::F2, &SW::F3, &SW::F4, &SW::F5, &SW::F6, &SW::F7, &SW::F8,
    &SW::F9, &SW::F10, &SW::F11, &SW::F12 };
} // namespace

QList<const SW *> SW::values()
{
    return listOf(allStartWith);
}
const SW &SW::valueOf(QStringView name)
{
    return requireByName(allStartWith, name, "StartWith");
}
bool SW::valid(QStringView name)
{
    return findByName(allStartWith, name) != nullptr;
}

constinit const ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::NONE { 0, "NONE",
    { "key.none", true }, 0 };
constinit const ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::ENTER { 1, "ENTER",
    { "enter", true }, 10 };
constinit const ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::TAB { 2, "TAB",
    { "tab", true }, 9 };
constinit const ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::RIGHT { 3, "RIGHT",
    { "right", true }, 39 };
constinit const ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::DOWN { 4, "DOWN",
    { "down", true }, 40 };

namespace {
using OT = ConfigHelper::OutputTerminator;
constexpr std::array<const OT *, 5> allOutputTerminators { &OT::NONE, &OT::ENTER, &OT::TAB, &OT::RIGHT,
    &OT::DOWN };
} // namespace

QList<const OT *> OT::values()
{
    return listOf(allOutputTerminators);
}
const OT &OT::valueOf(QStringView name)
{
    return requireByName(allOutputTerminators, name, "OutputTerminator");
}
bool OT::valid(QStringView name)
{
    return findByName(allOutputTerminators, name) != nullptr;
}

// ---------------------------------------------------------------- sound

constinit const ConfigHelper::Sound ConfigHelper::Sound::NONE { 0, "NONE", { "sound.none", true }, 0 };
constinit const ConfigHelper::Sound ConfigHelper::Sound::RIDE_BELL { 1, "RIDE_BELL", { "Ride Bell", false },
    53 };
constinit const ConfigHelper::Sound ConfigHelper::Sound::COWBELL { 2, "COWBELL", { "Cowbell", false }, 56 };
constinit const ConfigHelper::Sound ConfigHelper::Sound::HIGH_AGOGO { 3, "HIGH_AGOGO",
    { "High Agogo", false }, 67 };
constinit const ConfigHelper::Sound ConfigHelper::Sound::LOW_AGOGO { 4, "LOW_AGOGO", { "Low Agogo", false },
    68 };
constinit const ConfigHelper::Sound ConfigHelper::Sound::CLAVES { 5, "CLAVES", { "Claves", false }, 75 };
constinit const ConfigHelper::Sound ConfigHelper::Sound::OPEN_TRIANGLE { 6, "OPEN_TRIANGLE",
    { "Triangle", false }, 81 };

namespace {
using SO = ConfigHelper::Sound;
constexpr std::array<const SO *, 7> allSounds { &SO::NONE, &SO::RIDE_BELL, &SO::COWBELL, &SO::HIGH_AGOGO,
    &SO::LOW_AGOGO, &SO::CLAVES, &SO::OPEN_TRIANGLE };
} // namespace

QList<const SO *> SO::values()
{
    return listOf(allSounds);
}
const SO &SO::valueOf(QStringView name)
{
    return requireByName(allSounds, name, "Sound");
}
bool SO::valid(QStringView name)
{
    return findByName(allSounds, name) != nullptr;
}

// ---------------------------------------------------------------- rounding

constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::CEILING { 0, "CEILING", "ceiling",
    RoundingMode::CEILING };
constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::DOWN { 1, "DOWN", "down",
    RoundingMode::DOWN };
constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::FLOOR { 2, "FLOOR", "floor",
    RoundingMode::FLOOR };
constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::HALF_DOWN { 3, "HALF_DOWN",
    "half down", RoundingMode::HALF_DOWN };
constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::HALF_EVEN { 4, "HALF_EVEN",
    "half even", RoundingMode::HALF_EVEN };
constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::HALF_UP { 5, "HALF_UP", "half up",
    RoundingMode::HALF_UP };
constinit const ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::UP { 6, "UP", "up",
    RoundingMode::UP };

namespace {
using RM = ConfigHelper::RoundingMethod;
constexpr std::array<const RM *, 7> allRoundingMethods { &RM::CEILING, &RM::DOWN, &RM::FLOOR, &RM::HALF_DOWN,
    &RM::HALF_EVEN, &RM::HALF_UP, &RM::UP };
} // namespace

QList<const RM *> RM::values()
{
    return listOf(allRoundingMethods);
}
const RM &RM::valueOf(QStringView name)
{
    return requireByName(allRoundingMethods, name, "RoundingMethod");
}
bool RM::valid(QStringView name)
{
    return findByName(allRoundingMethods, name) != nullptr;
}

// ---------------------------------------------------------------- labelled sets

constinit const ConfigHelper::MathOperation ConfigHelper::MathOperation::NONE { 0, "NONE",
    { "math.none", true } };
constinit const ConfigHelper::MathOperation ConfigHelper::MathOperation::MULTIPLY { 1, "MULTIPLY",
    { "multiply", true } };
constinit const ConfigHelper::MathOperation ConfigHelper::MathOperation::DIVIDE { 2, "DIVIDE",
    { "divide", true } };

constinit const ConfigHelper::DecimalSeparator ConfigHelper::DecimalSeparator::DOT { 0, "DOT",
    { "dot", true } };
constinit const ConfigHelper::DecimalSeparator ConfigHelper::DecimalSeparator::COMMA { 1, "COMMA",
    { "comma", true } };

constinit const ConfigHelper::EditPosition ConfigHelper::EditPosition::FIRST { 0, "FIRST",
    { "edit.first", true } };
constinit const ConfigHelper::EditPosition ConfigHelper::EditPosition::LAST { 1, "LAST",
    { "edit.last", true } };

constinit const ConfigHelper::EditOperation ConfigHelper::EditOperation::REMOVE { 0, "REMOVE",
    { "edit.remove", true } };
constinit const ConfigHelper::EditOperation ConfigHelper::EditOperation::KEEP { 1, "KEEP",
    { "edit.keep", true } };

constinit const ConfigHelper::Connect ConfigHelper::Connect::MANUAL { 0, "MANUAL", { "manual", true } };
constinit const ConfigHelper::Connect ConfigHelper::Connect::AUTO { 1, "AUTO", { "auto", true } };

constinit const ConfigHelper::KeyboardType ConfigHelper::KeyboardType::QUERTY { 0, "QUERTY",
    { "keyboardType.default", true } };
constinit const ConfigHelper::KeyboardType ConfigHelper::KeyboardType::AZERTY { 1, "AZERTY",
    { "keyboardType.azerty", true } };

namespace {
using MO = ConfigHelper::MathOperation;
using DS = ConfigHelper::DecimalSeparator;
using EP = ConfigHelper::EditPosition;
using EO = ConfigHelper::EditOperation;
using CO = ConfigHelper::Connect;
using KT = ConfigHelper::KeyboardType;
constexpr std::array<const MO *, 3> allMathOperations { &MO::NONE, &MO::MULTIPLY, &MO::DIVIDE };
constexpr std::array<const DS *, 2> allDecimalSeparators { &DS::DOT, &DS::COMMA };
constexpr std::array<const EP *, 2> allEditPositions { &EP::FIRST, &EP::LAST };
constexpr std::array<const EO *, 2> allEditOperations { &EO::REMOVE, &EO::KEEP };
constexpr std::array<const CO *, 2> allConnects { &CO::MANUAL, &CO::AUTO };
constexpr std::array<const KT *, 2> allKeyboardTypes { &KT::QUERTY, &KT::AZERTY };
} // namespace

QList<const MO *> MO::values()
{
    return listOf(allMathOperations);
}
const MO &MO::valueOf(QStringView name)
{
    return requireByName(allMathOperations, name, "MathOperation");
}
bool MO::valid(QStringView name)
{
    return findByName(allMathOperations, name) != nullptr;
}

QList<const DS *> DS::values()
{
    return listOf(allDecimalSeparators);
}
const DS &DS::valueOf(QStringView name)
{
    return requireByName(allDecimalSeparators, name, "DecimalSeparator");
}
bool DS::valid(QStringView name)
{
    return findByName(allDecimalSeparators, name) != nullptr;
}

QList<const EP *> EP::values()
{
    return listOf(allEditPositions);
}
const EP &EP::valueOf(QStringView name)
{
    return requireByName(allEditPositions, name, "EditPosition");
}
bool EP::valid(QStringView name)
{
    return findByName(allEditPositions, name) != nullptr;
}

QList<const EO *> EO::values()
{
    return listOf(allEditOperations);
}
const EO &EO::valueOf(QStringView name)
{
    return requireByName(allEditOperations, name, "EditOperation");
}
bool EO::valid(QStringView name)
{
    return findByName(allEditOperations, name) != nullptr;
}

QList<const CO *> CO::values()
{
    return listOf(allConnects);
}
const CO &CO::valueOf(QStringView name)
{
    return requireByName(allConnects, name, "Connect");
}
bool CO::valid(QStringView name)
{
    return findByName(allConnects, name) != nullptr;
}

QList<const KT *> KT::values()
{
    return listOf(allKeyboardTypes);
}
const KT &KT::valueOf(QStringView name)
{
    return requireByName(allKeyboardTypes, name, "KeyboardType");
}
bool KT::valid(QStringView name)
{
    return findByName(allKeyboardTypes, name) != nullptr;
}

// ---------------------------------------------------------------- instrument properties

constinit const ConfigHelper::KeyMapType ConfigHelper::KeyMapType::NUMERIC { 0, "NUMERIC" };
constinit const ConfigHelper::KeyMapType ConfigHelper::KeyMapType::ALPHANUMERIC_BASIC { 1,
    "ALPHANUMERIC_BASIC" };
constinit const ConfigHelper::KeyMapType ConfigHelper::KeyMapType::ALPHANUMERIC_COMPLETE { 2,
    "ALPHANUMERIC_COMPLETE" };
constinit const ConfigHelper::KeyMapType ConfigHelper::KeyMapType::ALL_PRINTABLE { 3, "ALL_PRINTABLE" };

constinit const ConfigHelper::InstrumentType ConfigHelper::InstrumentType::NUMBER { 0, "NUMBER" };
constinit const ConfigHelper::InstrumentType ConfigHelper::InstrumentType::TEXT { 1, "TEXT" };

namespace {
using KM = ConfigHelper::KeyMapType;
using IY = ConfigHelper::InstrumentType;
constexpr std::array<const KM *, 4> allKeyMapTypes { &KM::NUMERIC, &KM::ALPHANUMERIC_BASIC,
    &KM::ALPHANUMERIC_COMPLETE, &KM::ALL_PRINTABLE };
constexpr std::array<const IY *, 2> allInstrumentTypes { &IY::NUMBER, &IY::TEXT };
} // namespace

QList<const KM *> KM::values()
{
    return listOf(allKeyMapTypes);
}
const KM &KM::valueOf(QStringView name)
{
    return requireByName(allKeyMapTypes, name, "KeyMapType");
}
bool KM::valid(QStringView name)
{
    return findByName(allKeyMapTypes, name) != nullptr;
}

QList<const IY *> IY::values()
{
    return listOf(allInstrumentTypes);
}
const IY &IY::valueOf(QStringView name)
{
    return requireByName(allInstrumentTypes, name, "InstrumentType");
}
bool IY::valid(QStringView name)
{
    return findByName(allInstrumentTypes, name) != nullptr;
}

// ---------------------------------------------------------------- text settings

bool ConfigHelper::RemoveCharacters::valid(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

bool ConfigHelper::MathOperand::valid(const QString &text)
{
    if (text.isEmpty())
        return true;
    if (text == u"0")
        return false;
    return util::Decimal::tryParse(text).has_value();
}

bool ConfigHelper::IgnoreTimeLimit::valid(const QString &text)
{
    return integerWithin(text, 1, IntMax);
}

bool ConfigHelper::IgnoreDifference::valid(const QString &text)
{
    if (text.isEmpty())
        return true;
    const std::optional<util::Decimal> d = util::Decimal::tryParse(text);
    return d && d->signum() > 0;
}

bool ConfigHelper::EditNumCharacters::valid(const QString &text)
{
    return integerWithin(text, 1, 99);
}
bool ConfigHelper::Delay::valid(const QString &text)
{
    return integerWithin(text, 0, 1000);
}
bool ConfigHelper::DecimalPlaces::valid(const QString &text)
{
    return integerWithin(text, 0, 7);
}

QString ConfigHelper::CustomRegEx::problem(const QString &text)
{
    if (text.isEmpty())
        return QString();
    if (text.size() > MaxLength)
        return QStringLiteral("The pattern is longer than %1 characters.").arg(MaxLength);
    QString error;
    if (!LinePattern::compile(text, &error).isValid())
        return error;
    auto firstUnescaped = [&](QChar wanted) -> qsizetype {
        for (qsizetype i = 0; i < text.size(); ++i)
            if (text[i] == wanted && (i == 0 || text[i - 1] != u'\\'))
                return i;
        return -1;
    };
    const qsizetype open = firstUnescaped(u'(');
    const qsizetype close = firstUnescaped(u')');
    if (open >= 0 && close >= 0 && open < close)
        return QString();
    return QStringLiteral("The pattern has no group in parentheses for the value.");
}

QString ConfigHelper::CustomRegEx::note(const QString &text)
{
    if (text.isEmpty() || text.size() > MaxLength)
        return QString();
    return LinePattern::classNameNote(text);
}

// ---------------------------------------------------------------- bundle keys

QStringList ConfigHelper::requiredKeys()
{
    QStringList keys { QStringLiteral("key.none"), QStringLiteral("enter"), QStringLiteral("tab"),
        QStringLiteral("right"), QStringLiteral("down"), QStringLiteral("delete"),
        QStringLiteral("sound.none"), QStringLiteral("math.none"), QStringLiteral("multiply"),
        QStringLiteral("divide"), QStringLiteral("dot"), QStringLiteral("comma"),
        QStringLiteral("edit.first"), QStringLiteral("edit.last"), QStringLiteral("edit.remove"),
        QStringLiteral("edit.keep"), QStringLiteral("manual"), QStringLiteral("auto"),
        QStringLiteral("keyboardType.default"), QStringLiteral("keyboardType.azerty") };
    keys += Instrument::bundleKeys();
    keys.removeDuplicates();
    return keys;
}

} // namespace omvara::config
