// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/Remover.h"

#include <gtest/gtest.h>

using omvara::processing::Remover;

namespace {

const QString kGrin = QString::fromUtf8("\xF0\x9F\x98\x80"); // one code point, two UTF-16 units

struct RemoveCase
{
    QString value;
    QString characters;
    QString expected;
};

class RemoverTable : public ::testing::TestWithParam<RemoveCase>
{
};

TEST_P(RemoverTable, remove_charactersUsedAsSet)
{
    const RemoveCase &c = GetParam();
    EXPECT_EQ(Remover(c.characters).remove(c.value), c.expected)
        << c.value.toStdString() << " without " << c.characters.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, RemoverTable,
    ::testing::Values(RemoveCase { QStringLiteral("12.3kg"), QStringLiteral("kg"), QStringLiteral("12.3") },
        RemoveCase { QStringLiteral("12.3kg"), QStringLiteral("gk"), QStringLiteral("12.3") },
        RemoveCase { QStringLiteral("12.3kg"), QStringLiteral("K"), QStringLiteral("12.3kg") },
        RemoveCase { QStringLiteral("12.345"), QStringLiteral("."), QStringLiteral("12345") },
        RemoveCase { QStringLiteral("12.3kg"), QStringLiteral("ggkkgg"), QStringLiteral("12.3") },
        // Not a substring search: "3k" removes every 3 and every k.
        RemoveCase { QStringLiteral("3k13.3k"), QStringLiteral("3k"), QStringLiteral("1.") },
        RemoveCase { QStringLiteral("kg"), QStringLiteral("gk"), QStringLiteral("") },
        RemoveCase { QStringLiteral("N 12\xE4"), QStringLiteral("\xE4N "), QStringLiteral("12") },
        RemoveCase { QStringLiteral("12") + QChar(0x20AC), QString(QChar(0x20AC)), QStringLiteral("12") },
        RemoveCase { QStringLiteral("a") + kGrin + u'b', kGrin, QStringLiteral("ab") },
        // Half of a pair in the set never cuts a pair in the value.
        RemoveCase {
            QStringLiteral("a") + kGrin + u'b', QString(kGrin[0]), QStringLiteral("a") + kGrin + u'b' },
        RemoveCase {
            QStringLiteral("a") + QChar(0xD83D) + u'b', QString(QChar(0xD83D)), QStringLiteral("ab") },
        RemoveCase { QStringLiteral("12.3"), QStringLiteral(""), QStringLiteral("12.3") },
        RemoveCase { QStringLiteral(""), QStringLiteral("kg"), QStringLiteral("") }));

TEST(Remover, remove_null_givesNull)
{
    EXPECT_TRUE(Remover(QStringLiteral("kg")).remove(QString()).isNull());
    EXPECT_TRUE(Remover(QString()).remove(QString()).isNull());
}

} // namespace
