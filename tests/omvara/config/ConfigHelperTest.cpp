// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/ConfigHelper.h"
#include "omvara/util/Bundle.h"

#include <gtest/gtest.h>

#include <functional>

using omvara::config::ConfigHelper;
using omvara::config::UnknownConstantError;

namespace {

// Names and labels of a set in values() order.
template <class E> QStringList namesOf()
{
    QStringList names;
    for (const E *c : E::values())
        names << c->name();
    return names;
}

template <class E> QStringList labelsOf()
{
    QStringList labels;
    for (const E *c : E::values())
        labels << c->toString();
    return labels;
}

template <class E> void expectOrdinalsAreListPositions()
{
    const auto all = E::values();
    for (int i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]->ordinal(), i) << all[i]->name().toStdString();
        EXPECT_EQ(&E::valueOf(all[i]->name()), all[i]);
    }
}

} // namespace

TEST(ConfigHelperSets, values_listConstantsInDisplayOrder)
{
    EXPECT_EQ(namesOf<ConfigHelper::BitRates>(),
        QStringList({ "BR_110", "BR_150", "BR_300", "BR_600", "BR_1200", "BR_2400", "BR_4800", "BR_9600",
            "BR_19200", "BR_38400", "BR_57600", "BR_115200", "BR_230400", "BR_460800", "BR_921600" }));
    EXPECT_EQ(labelsOf<ConfigHelper::BitRates>(),
        QStringList({ "110", "150", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600",
            "115200", "230400", "460800", "921600" }));
    EXPECT_EQ(labelsOf<ConfigHelper::DataBits>(), QStringList({ "5", "6", "7", "8" }));
    EXPECT_EQ(labelsOf<ConfigHelper::Parity>(), QStringList({ "NONE", "ODD", "EVEN", "MARK", "SPACE" }));
    EXPECT_EQ(labelsOf<ConfigHelper::StopBits>(), QStringList({ "1", "2" }));
    EXPECT_EQ(labelsOf<ConfigHelper::InputTerminator>(), QStringList({ "4 <EOT>", "10 <LF>", "13 <CR>" }));
    EXPECT_EQ(namesOf<ConfigHelper::StartWith>(),
        QStringList({ "NONE", "ENTER", "TAB", "RIGHT", "DOWN", "DELETE", "MULTIPLY", "F1", "F2", "F3", "F4",
            "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12" }));
    EXPECT_EQ(
        namesOf<ConfigHelper::OutputTerminator>(), QStringList({ "NONE", "ENTER", "TAB", "RIGHT", "DOWN" }));
    EXPECT_EQ(labelsOf<ConfigHelper::Sound>(),
        QStringList({ "None", "Ride Bell", "Cowbell", "High Agogo", "Low Agogo", "Claves", "Triangle" }));
    EXPECT_EQ(labelsOf<ConfigHelper::RoundingMethod>(),
        QStringList({ "ceiling", "down", "floor", "half down", "half even", "half up", "up" }));
    EXPECT_EQ(namesOf<ConfigHelper::MathOperation>(), QStringList({ "NONE", "MULTIPLY", "DIVIDE" }));
    EXPECT_EQ(namesOf<ConfigHelper::DecimalSeparator>(), QStringList({ "DOT", "COMMA" }));
    EXPECT_EQ(namesOf<ConfigHelper::EditPosition>(), QStringList({ "FIRST", "LAST" }));
    EXPECT_EQ(namesOf<ConfigHelper::EditOperation>(), QStringList({ "REMOVE", "KEEP" }));
    EXPECT_EQ(namesOf<ConfigHelper::Connect>(), QStringList({ "MANUAL", "AUTO" }));
    EXPECT_EQ(namesOf<ConfigHelper::KeyboardType>(), QStringList({ "QUERTY", "AZERTY" }));
    EXPECT_EQ(labelsOf<ConfigHelper::KeyMapType>(),
        QStringList({ "NUMERIC", "ALPHANUMERIC_BASIC", "ALPHANUMERIC_COMPLETE", "ALL_PRINTABLE" }));
    EXPECT_EQ(labelsOf<ConfigHelper::InstrumentType>(), QStringList({ "NUMBER", "TEXT" }));
}

TEST(ConfigHelperSets, ordinals_matchListPositionAndValueOfFindsEachConstant)
{
    expectOrdinalsAreListPositions<ConfigHelper::BitRates>();
    expectOrdinalsAreListPositions<ConfigHelper::DataBits>();
    expectOrdinalsAreListPositions<ConfigHelper::Parity>();
    expectOrdinalsAreListPositions<ConfigHelper::StopBits>();
    expectOrdinalsAreListPositions<ConfigHelper::InputTerminator>();
    expectOrdinalsAreListPositions<ConfigHelper::StartWith>();
    expectOrdinalsAreListPositions<ConfigHelper::OutputTerminator>();
    expectOrdinalsAreListPositions<ConfigHelper::Sound>();
    expectOrdinalsAreListPositions<ConfigHelper::RoundingMethod>();
    expectOrdinalsAreListPositions<ConfigHelper::MathOperation>();
    expectOrdinalsAreListPositions<ConfigHelper::DecimalSeparator>();
    expectOrdinalsAreListPositions<ConfigHelper::EditPosition>();
    expectOrdinalsAreListPositions<ConfigHelper::EditOperation>();
    expectOrdinalsAreListPositions<ConfigHelper::Connect>();
    expectOrdinalsAreListPositions<ConfigHelper::KeyboardType>();
    expectOrdinalsAreListPositions<ConfigHelper::KeyMapType>();
    expectOrdinalsAreListPositions<ConfigHelper::InstrumentType>();
}

TEST(ConfigHelperSets, valueOf_unknownOrWrongCaseName_isAnError)
{
    EXPECT_THROW(ConfigHelper::KeyboardType::valueOf(u"QWERTY"), UnknownConstantError);
    EXPECT_THROW(ConfigHelper::Sound::valueOf(u"none"), UnknownConstantError);
    EXPECT_THROW(ConfigHelper::BitRates::valueOf(u""), UnknownConstantError);
    try {
        ConfigHelper::Connect::valueOf(u"SOMETIMES");
        FAIL();
    } catch (const UnknownConstantError &e) {
        EXPECT_STREQ(e.what(), "No enum constant ConfigHelper.Connect.SOMETIMES");
    }
}

TEST(ConfigHelperSets, defaults_areTheTabledOnes)
{
    EXPECT_EQ(ConfigHelper::BitRates::getDefaultIndex(), 7);
    EXPECT_EQ(ConfigHelper::DataBits::getDefaultIndex(), 3);
    EXPECT_EQ(ConfigHelper::Parity::getDefaultIndex(), 0);
    EXPECT_EQ(ConfigHelper::StopBits::getDefaultIndex(), 0);
    EXPECT_EQ(ConfigHelper::InputTerminator::getDefault(), 13);
    EXPECT_EQ(&ConfigHelper::StartWith::getDefault(), &ConfigHelper::StartWith::NONE);
    EXPECT_EQ(&ConfigHelper::OutputTerminator::getDefault(), &ConfigHelper::OutputTerminator::NONE);
    EXPECT_EQ(&ConfigHelper::Sound::getDefault(), &ConfigHelper::Sound::NONE);
    EXPECT_EQ(&ConfigHelper::RoundingMethod::getDefault(), &ConfigHelper::RoundingMethod::HALF_UP);
    EXPECT_EQ(&ConfigHelper::MathOperation::getDefault(), &ConfigHelper::MathOperation::NONE);
    EXPECT_EQ(&ConfigHelper::DecimalSeparator::getDefault(), &ConfigHelper::DecimalSeparator::DOT);
    EXPECT_EQ(&ConfigHelper::EditPosition::getDefault(), &ConfigHelper::EditPosition::FIRST);
    EXPECT_EQ(&ConfigHelper::EditOperation::getDefault(), &ConfigHelper::EditOperation::REMOVE);
    EXPECT_EQ(&ConfigHelper::Connect::getDefault(), &ConfigHelper::Connect::MANUAL);
    EXPECT_EQ(&ConfigHelper::KeyboardType::getDefault(), &ConfigHelper::KeyboardType::QUERTY);
}

TEST(ConfigHelperSets, ordinalSets_validAndGetValue_guardTheRange)
{
    struct Row
    {
        int index;
        bool valid;
        const char *value;
    };
    const Row rows[] = { { -1, false, "" }, { 0, true, "110" }, { 7, true, "9600" }, { 14, true, "921600" },
        { 15, false, "" }, { INT_MIN, false, "" }, { INT_MAX, false, "" } };
    for (const Row &r : rows) {
        EXPECT_EQ(ConfigHelper::BitRates::valid(r.index), r.valid) << r.index;
        EXPECT_EQ(ConfigHelper::BitRates::getValue(r.index), QString::fromLatin1(r.value)) << r.index;
    }
    EXPECT_EQ(ConfigHelper::Parity::getValue(4), "SPACE");
    EXPECT_EQ(ConfigHelper::Parity::getValue(5), "");
    EXPECT_FALSE(ConfigHelper::Parity::valid(5));
    EXPECT_EQ(ConfigHelper::DataBits::getValue(3), "8");
    EXPECT_FALSE(ConfigHelper::DataBits::valid(4));
    EXPECT_EQ(ConfigHelper::StopBits::getValue(1), "2");
    EXPECT_FALSE(ConfigHelper::StopBits::valid(2));
    EXPECT_TRUE(ConfigHelper::StopBits::getValue(-1).isEmpty());
}

TEST(ConfigHelperSets, inputTerminator_acceptsEveryByteAndNamesThree)
{
    EXPECT_TRUE(ConfigHelper::InputTerminator::valid(0));
    EXPECT_TRUE(ConfigHelper::InputTerminator::valid(255));
    EXPECT_FALSE(ConfigHelper::InputTerminator::valid(256));
    EXPECT_FALSE(ConfigHelper::InputTerminator::valid(-1));
    EXPECT_EQ(ConfigHelper::InputTerminator::getByCode(10), &ConfigHelper::InputTerminator::LF);
    EXPECT_EQ(ConfigHelper::InputTerminator::getByCode(4), &ConfigHelper::InputTerminator::EOT);
    EXPECT_EQ(ConfigHelper::InputTerminator::getByCode(13), &ConfigHelper::InputTerminator::CR);
    EXPECT_EQ(ConfigHelper::InputTerminator::getByCode(3), nullptr);
}

TEST(ConfigHelperSets, keyCodesPercussionAndRoundingModes_areTheTabledOnes)
{
    using SW = ConfigHelper::StartWith;
    const QList<qint32> startCodes { 0, 10, 9, 39, 40, 127, 106, 112, 113, 114, 115, 116, 117, 118, 119, 120,
        121, 122, 123 };
    QList<qint32> got;
    for (const SW *c : SW::values())
        got << c->getKeyCode();
    EXPECT_EQ(got, startCodes);
    EXPECT_EQ(SW::F12.getKeyCode(), 123);
    EXPECT_EQ(SW::MULTIPLY.toString(), "*");
    EXPECT_EQ(SW::F7.toString(), "F7");

    got.clear();
    for (const auto *c : ConfigHelper::OutputTerminator::values())
        got << c->getKeyCode();
    EXPECT_EQ(got, QList<qint32>({ 0, 10, 9, 39, 40 }));

    got.clear();
    for (const auto *c : ConfigHelper::Sound::values())
        got << c->getPercussionNumber();
    EXPECT_EQ(got, QList<qint32>({ 0, 53, 56, 67, 68, 75, 81 }));

    using RM = ConfigHelper::RoundingMethod;
    using omvara::util::RoundingMode;
    EXPECT_EQ(RM::CEILING.getRoundingMode(), RoundingMode::CEILING);
    EXPECT_EQ(RM::DOWN.getRoundingMode(), RoundingMode::DOWN);
    EXPECT_EQ(RM::FLOOR.getRoundingMode(), RoundingMode::FLOOR);
    EXPECT_EQ(RM::HALF_DOWN.getRoundingMode(), RoundingMode::HALF_DOWN);
    EXPECT_EQ(RM::HALF_EVEN.getRoundingMode(), RoundingMode::HALF_EVEN);
    EXPECT_EQ(RM::HALF_UP.getRoundingMode(), RoundingMode::HALF_UP);
    EXPECT_EQ(RM::UP.getRoundingMode(), RoundingMode::UP);
}

TEST(ConfigHelperSets, nameStoredSets_validExactlyForConstantNames)
{
    EXPECT_TRUE(ConfigHelper::KeyboardType::valid(u"QUERTY"));
    EXPECT_FALSE(ConfigHelper::KeyboardType::valid(u"QWERTY"));
    EXPECT_TRUE(ConfigHelper::StartWith::valid(u"F10"));
    EXPECT_FALSE(ConfigHelper::OutputTerminator::valid(u"F10"));
    EXPECT_FALSE(ConfigHelper::OutputTerminator::valid(u"DELETE"));
    EXPECT_FALSE(ConfigHelper::RoundingMethod::valid(u"half up"));
    EXPECT_FALSE(ConfigHelper::Sound::valid(u""));
    EXPECT_FALSE(ConfigHelper::Sound::valid(u"NONE "));
}

TEST(ConfigHelperBundle, everyRequiredKeyIsShippedAndLabelsComeFromIt)
{
    const auto &bundle = ConfigHelper::getBundle();
    EXPECT_EQ(bundle.missingKeys(ConfigHelper::requiredKeys()), QStringList());
    EXPECT_TRUE(ConfigHelper::requiredKeys().contains("keyboardType.azerty"));
    EXPECT_TRUE(ConfigHelper::requiredKeys().contains("aandd.em.defaultmessage"));
    EXPECT_EQ(ConfigHelper::StartWith::ENTER.toString(), bundle.getString("enter"));
    EXPECT_EQ(ConfigHelper::OutputTerminator::NONE.toString(), bundle.getString("key.none"));
    EXPECT_EQ(ConfigHelper::KeyboardType::QUERTY.toString(), bundle.getString("keyboardType.default"));
}

TEST(ConfigHelperBundle, missingLabelKey_surfacesAsMissingResource)
{
    const QMap<QString, QString> damaged = { { "enter", "Enter" } };
    omvara::util::Bundle::install(ConfigHelper::BundleName, &damaged);
    EXPECT_EQ(ConfigHelper::StartWith::ENTER.toString(), "Enter");
    EXPECT_THROW(ConfigHelper::StartWith::TAB.toString(), omvara::util::MissingResourceError);
    omvara::util::Bundle::install(ConfigHelper::BundleName, nullptr);
    EXPECT_NO_THROW(ConfigHelper::StartWith::TAB.toString());
}

// ---- text settings

namespace {

struct TextCase
{
    const char *text;
    bool valid;
};

void expectValidity(const char *setting, const std::function<bool(const QString &)> &valid,
    std::initializer_list<TextCase> cases)
{
    for (const TextCase &c : cases)
        EXPECT_EQ(valid(QString::fromUtf8(c.text)), c.valid) << setting << " \"" << c.text << '"';
}

} // namespace

TEST(ConfigHelperTextSettings, integerSettings_followSyntaxAndBounds)
{
    expectValidity("Delay", ConfigHelper::Delay::valid,
        { { "", true }, { "20", true }, { "0", true }, { "1000", true }, { "1001", false }, { "-0", true },
            { "+7", true }, { "-1", false }, { " 5", false }, { "5 ", false }, { "1e2", false },
            { "1.0", false }, { "+", false }, { "-", false }, { "0x10", false }, { "\xd9\xa3", false },
            { "2147483648", false }, { "99999999999999999999", false } });
    expectValidity("DecimalPlaces", ConfigHelper::DecimalPlaces::valid,
        { { "", true }, { "0", true }, { "7", true }, { "8", false }, { "-1", false }, { "007", true } });
    expectValidity("EditNumCharacters", ConfigHelper::EditNumCharacters::valid,
        { { "", true }, { "0", false }, { "1", true }, { "99", true }, { "100", false } });
    expectValidity("IgnoreTimeLimit", ConfigHelper::IgnoreTimeLimit::valid,
        { { "", true }, { "0", false }, { "1", true }, { "2147483647", true }, { "2147483648", false },
            { "-5", false }, { "0.5", false } });
}

TEST(ConfigHelperTextSettings, decimalSettings_followDecimalSyntax)
{
    expectValidity("MathOperand", ConfigHelper::MathOperand::valid,
        { { "", true }, { "0", false }, { "0.0", true }, { "00", true }, { "-0", true }, { "2,5", false },
            { "1e3", true }, { "2E-4", true }, { ".5", true }, { "5.", true }, { "-1.25", true },
            { "+3", true }, { ".", false }, { "1e", false }, { "e3", false }, { " 1", false },
            { "1 ", false }, { "1.2.3", false }, { "abc", false } });
    expectValidity("IgnoreDifference", ConfigHelper::IgnoreDifference::valid,
        { { "", true }, { "0", false }, { "0.000", false }, { "0.001", true }, { "-0.001", false },
            { "1e-3", true }, { "2,5", false } });
}

TEST(ConfigHelperTextSettings, removeCharacters_acceptsLatin1Only)
{
    expectValidity("RemoveCharacters", ConfigHelper::RemoveCharacters::valid,
        { { "", true }, { "kg g", true }, { "\xc3\xa4\xc3\xb6\xc3\xbf", true }, { "\xe2\x82\xac", false },
            { "a\xe2\x82\xac", false } });
}

TEST(ConfigHelperTextSettings, customRegEx_needsAGroupBeforeItsFirstClosingParenthesis)
{
    expectValidity("CustomRegEx", ConfigHelper::CustomRegEx::valid,
        { { "", true }, { "([0-9]+)", true }, { "[0-9]+", false }, { R"(\([0-9]+\))", false },
            { "([0-9]+", false }, { R"(\)([0-9]+))", true }, { "[)]([0-9]+)", false }, { ")(", false },
            { "a(b)c", true }, { R"(N.*?(\d+)\s*kg)", true }, { "(?:x)(\\d)", true }, { "([0-9]+)[", false },
            { "(a{2,1})", false } });
}

TEST(ConfigHelperTextSettings, defaults_areValidAndEmptyButForDelay)
{
    EXPECT_EQ(ConfigHelper::Delay::getDefault(), "20");
    EXPECT_TRUE(ConfigHelper::Delay::valid(ConfigHelper::Delay::getDefault()));
    for (const QString &d : { ConfigHelper::RemoveCharacters::getDefault(),
             ConfigHelper::MathOperand::getDefault(), ConfigHelper::IgnoreTimeLimit::getDefault(),
             ConfigHelper::IgnoreDifference::getDefault(), ConfigHelper::EditNumCharacters::getDefault(),
             ConfigHelper::DecimalPlaces::getDefault(), ConfigHelper::CustomRegEx::getDefault() }) {
        EXPECT_TRUE(d.isEmpty());
        EXPECT_FALSE(d.isNull());
    }
}

TEST(ConfigHelperTextSettings, parseInteger_coversThe32BitRange)
{
    EXPECT_EQ(ConfigHelper::parseInteger(u"2147483647"), 2147483647);
    EXPECT_EQ(ConfigHelper::parseInteger(u"-2147483648"), INT_MIN);
    EXPECT_EQ(ConfigHelper::parseInteger(u"-2147483649"), std::nullopt);
    EXPECT_EQ(ConfigHelper::parseInteger(u"+0"), 0);
    EXPECT_EQ(ConfigHelper::parseInteger(u""), std::nullopt);
    EXPECT_EQ(ConfigHelper::parseInteger(u"--1"), std::nullopt);
}
