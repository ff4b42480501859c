// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/Editor.h"

#include "omvara/config/Config.h"

#include <gtest/gtest.h>

using omvara::config::Config;
using omvara::processing::Editor;
using Op = omvara::config::ConfigHelper::EditOperation;
using Pos = omvara::config::ConfigHelper::EditPosition;

namespace {

const QString kGrin = QString::fromUtf8("\xF0\x9F\x98\x80"); // one code point, two UTF-16 units

struct EditCase
{
    const Op *operation;
    const Pos *position;
    int n;
    QString value;
    QString expected;
};

class EditorTable : public ::testing::TestWithParam<EditCase>
{
};

TEST_P(EditorTable, edit_keepsOrRemovesCharactersAtOneEnd)
{
    const EditCase &c = GetParam();
    EXPECT_EQ(Editor(*c.operation, *c.position, c.n).edit(c.value), c.expected)
        << c.operation->name().toStdString() << " " << c.position->name().toStdString() << " " << c.n
        << " on " << c.value.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, EditorTable,
    ::testing::Values(
        EditCase { &Op::REMOVE, &Pos::FIRST, 1, QStringLiteral("+12.345"), QStringLiteral("12.345") },
        EditCase { &Op::KEEP, &Pos::LAST, 3, QStringLiteral("+12.345"), QStringLiteral("345") },
        EditCase { &Op::REMOVE, &Pos::LAST, 2, QStringLiteral("+12.345"), QStringLiteral("+12.3") },
        EditCase { &Op::KEEP, &Pos::FIRST, 3, QStringLiteral("+12.345"), QStringLiteral("+12") },
        EditCase { &Op::REMOVE, &Pos::FIRST, 4, QStringLiteral("12.3"), QStringLiteral("") },
        EditCase { &Op::REMOVE, &Pos::FIRST, 9, QStringLiteral("12.3"), QStringLiteral("") },
        EditCase { &Op::REMOVE, &Pos::LAST, 4, QStringLiteral("12.3"), QStringLiteral("") },
        EditCase { &Op::REMOVE, &Pos::LAST, 9, QStringLiteral("12.3"), QStringLiteral("") },
        EditCase { &Op::KEEP, &Pos::FIRST, 9, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::KEEP, &Pos::LAST, 9, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::KEEP, &Pos::FIRST, 4, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::KEEP, &Pos::LAST, 4, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::REMOVE, &Pos::FIRST, 3, QStringLiteral("12.3"), QStringLiteral("3") },
        EditCase { &Op::KEEP, &Pos::LAST, 1, QStringLiteral("12.3"), QStringLiteral("3") },
        EditCase { &Op::REMOVE, &Pos::FIRST, 0, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::KEEP, &Pos::FIRST, 0, QStringLiteral("12.3"), QStringLiteral("12.3") },
        // A count below zero cannot come from a valid setting; it changes nothing.
        EditCase { &Op::REMOVE, &Pos::FIRST, -2, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::KEEP, &Pos::LAST, -2, QStringLiteral("12.3"), QStringLiteral("12.3") },
        EditCase { &Op::REMOVE, &Pos::LAST, 3, QStringLiteral(""), QStringLiteral("") },
        // A surrogate pair is one character and is never split.
        EditCase { &Op::REMOVE, &Pos::FIRST, 1, kGrin + QStringLiteral("12"), QStringLiteral("12") },
        EditCase { &Op::KEEP, &Pos::LAST, 2, QStringLiteral("1") + kGrin + u'2', kGrin + u'2' },
        EditCase {
            &Op::KEEP, &Pos::FIRST, 2, QStringLiteral("1") + kGrin + u'2', QStringLiteral("1") + kGrin },
        EditCase { &Op::REMOVE, &Pos::LAST, 1, QStringLiteral("12") + kGrin, QStringLiteral("12") },
        EditCase { &Op::KEEP, &Pos::FIRST, 3, QStringLiteral("1") + kGrin + u'2',
            QStringLiteral("1") + kGrin + u'2' },
        EditCase { &Op::REMOVE, &Pos::FIRST, 3, QStringLiteral("1") + kGrin + u'2', QStringLiteral("") }));

TEST(Editor, edit_null_givesNull)
{
    EXPECT_TRUE(Editor(Op::REMOVE, Pos::FIRST, 2).edit(QString()).isNull());
    EXPECT_TRUE(Editor(Op::KEEP, Pos::LAST, 2).edit(QString()).isNull());
}

TEST(Editor, fromConfig_takesOperationPositionAndCount)
{
    Config config;
    config.setEditOperation(Op::KEEP);
    config.setEditPosition(Pos::LAST);
    config.setEditNumCharacters(QStringLiteral("3"));
    EXPECT_EQ(Editor(config).edit(QStringLiteral("+12.345")), QStringLiteral("345"));
    config.setEditNumCharacters(QStringLiteral(""));
    EXPECT_EQ(Editor(config).getNumCharacters(), 0);
    EXPECT_EQ(Editor(config).edit(QStringLiteral("+12.345")), QStringLiteral("+12.345"));
}

} // namespace
