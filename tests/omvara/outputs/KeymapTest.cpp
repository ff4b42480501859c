// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/ConfigHelper.h"

#include <gtest/gtest.h>

using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

constexpr int Shift = 16;
const QList<qint32> none; // not typeable

struct Row
{
    char32_t character;
    QList<qint32> querty;
    QList<qint32> azerty;
};

// The entries every key map has.
const Row everyMap[] = {
    { U'0', { 48 }, { Shift, 48 } },
    { U'1', { 49 }, { Shift, 49 } },
    { U'5', { 53 }, { Shift, 53 } },
    { U'7', { 55 }, { Shift, 55 } },
    { U'9', { 57 }, { Shift, 57 } },
    { U'-', { 45 }, { 54 } },
    { U'+', { 107 }, { 107 } },
    { U',', { 44 }, { 44 } },
    { U'.', { 46 }, { Shift, 59 } },
};

// Capital letters: ALPHANUMERIC_BASIC and ALPHANUMERIC_COMPLETE.
const Row capitals[] = {
    { U'A', { Shift, 65 }, { Shift, 65 } },
    { U'M', { Shift, 77 }, { Shift, 77 } },
    { U'Z', { Shift, 90 }, { Shift, 90 } },
};

// ALPHANUMERIC_COMPLETE only.
const Row complete[] = {
    { U'a', { 65 }, { 65 } },
    { U'q', { 81 }, { 81 } },
    { U'z', { 90 }, { 90 } },
    { U'*', { 106 }, { 106 } },
    { U'/', { 111 }, { 111 } },
    { U' ', { 32 }, { 32 } },
    { U':', { Shift, 59 }, { 513 } },
};

// Never in any map.
const char32_t neverTyped[]
    = { U';', U'\r', U'\n', U'\t', U'_', U'=', U'(', U'%', U'é', U'Ä', U'€', U'\U0001F600' };

void expectRows(const KeyboardType::KeyMap &map, const KeyboardType &type, const Row *begin, const Row *end,
    bool present, const char *where)
{
    for (const Row *row = begin; row != end; ++row) {
        const QList<qint32> &expected = &type == &KeyboardType::AZERTY ? row->azerty : row->querty;
        EXPECT_EQ(map.value(row->character, none), present ? expected : none)
            << where << ' ' << type.name().toStdString() << " U+" << std::hex << unsigned(row->character);
    }
}

} // namespace

TEST(KeyboardTypeGetKeymap, everyLayoutAndRepertoire_matchesTheTables)
{
    for (const KeyboardType *type : { &KeyboardType::QUERTY, &KeyboardType::AZERTY }) {
        for (const KeyMapType *repertoire :
            { &KeyMapType::NUMERIC, &KeyMapType::ALPHANUMERIC_BASIC, &KeyMapType::ALPHANUMERIC_COMPLETE }) {
            SCOPED_TRACE(repertoire->name().toStdString());
            const KeyboardType::KeyMap map = type->getKeymap(*repertoire);
            const bool letters = repertoire != &KeyMapType::NUMERIC;
            const bool all = repertoire == &KeyMapType::ALPHANUMERIC_COMPLETE;
            expectRows(map, *type, std::begin(everyMap), std::end(everyMap), true, "base");
            expectRows(map, *type, std::begin(capitals), std::end(capitals), letters, "capitals");
            expectRows(map, *type, std::begin(complete), std::end(complete), all, "complete");
            for (char32_t c : neverTyped)
                EXPECT_FALSE(map.contains(c)) << "U+" << std::hex << unsigned(c);
            // 10 digits and 4 signs; 26 capitals; 26 small letters and 4 signs.
            EXPECT_EQ(map.size(), 14 + (letters ? 26 : 0) + (all ? 30 : 0));
        }
    }
}

TEST(KeyboardTypeGetKeymap, everyLetter_isShiftedWhenCapitalAndPlainWhenSmall)
{
    const KeyboardType::KeyMap map = KeyboardType::QUERTY.getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE);
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(map.value(U'A' + char32_t(i)), (QList<qint32> { Shift, 65 + i }));
        EXPECT_EQ(map.value(U'a' + char32_t(i)), (QList<qint32> { 65 + i }));
    }
}

TEST(KeyboardTypeGetKeymap, eachCall_givesANewMap)
{
    KeyboardType::KeyMap first = KeyboardType::QUERTY.getKeymap(KeyMapType::NUMERIC);
    first.insert(U'x', { 88 });
    EXPECT_FALSE(KeyboardType::QUERTY.getKeymap(KeyMapType::NUMERIC).contains(U'x'));
}
