// SPDX-License-Identifier: GPL-3.0-or-later
// The check of a user's pattern on hostile input: huge texts, deep nesting,
// patterns the engine refuses as too large. Each is answered, none crashes,
// and a text over the length limit is refused before it is compiled.
#include "omvara/config/ConfigHelper.h"

#include <gtest/gtest.h>

using omvara::config::ConfigHelper;

namespace {

QString repeated(const char *piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += QString::fromLatin1(piece);
    return text;
}

} // namespace

TEST(CustomRegExBadInput, hostilePatterns_areAnsweredByTheRules)
{
    const int max = ConfigHelper::CustomRegEx::MaxLength;
    const struct
    {
        const char *name;
        QString pattern;
        bool valid;
    } cases[] = {
        { "at the length limit", "(" + QString(max - 2, u'a') + ")", true },
        { "one over the limit", "(" + QString(max - 1, u'a') + ")", false },
        { "a pasted megabyte", "(" + QString(1024 * 1024, u'.') + ")", false },
        { "nesting the engine refuses", repeated("(", 1500) + "a" + repeated(")", 1500), false },
        { "nesting the engine accepts", repeated("(", 200) + "a" + repeated(")", 200), true },
        { "compiles too large", "(" + repeated(".", 3000) + ")", false },
        { "repeats too large", QStringLiteral("((?:(?:a{65535}){65535}){65535})"), false },
        { "NUL and high characters", QString::fromLatin1("(\0\xff\x80)", 5), true },
        { "exponential to match, fine to compile", QStringLiteral("((a+)+)b"), true },
        { "an unfinished verb", QStringLiteral("(*LIMIT_MATCH=)(a)"), false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConfigHelper::CustomRegEx::valid(c.pattern), c.valid) << c.name;
}
