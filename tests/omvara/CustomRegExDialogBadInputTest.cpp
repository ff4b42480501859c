// SPDX-License-Identifier: GPL-3.0-or-later
// The custom pattern dialog on hostile input: OK never spends unbounded time
// on the window's thread. A text over the length limit is refused with its own
// message before anything is compiled; patterns the engine refuses (too large,
// nested too deeply) get the invalid-pattern message; a pattern that would be
// costly to match is accepted, since matching happens at reception, where its
// work per line is bounded.
#include "WindowTestSupport.h"

#include "omvara/CustomRegExDialog.h"
#include "omvara/WindowTexts.h"
#include "omvara/config/ConfigHelper.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace omvara;
using omvara::testing::ScriptedAnswers;
using Kind = omvara::MessageBoxes::Kind;

namespace {

QString repeated(const char *piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += QString::fromLatin1(piece);
    return text;
}

} // namespace

TEST(CustomRegExDialogBadInput, hostilePatterns_areAnsweredWithoutHoldingTheWindow)
{
    omvara::testing::app();
    const int max = config::ConfigHelper::CustomRegEx::MaxLength;
    const QString tooLong = WindowTexts::format("invalid.expression.too.long", QString::number(max));
    const QString invalid = WindowTexts::text("invalid.expression");
    const struct
    {
        const char *name;
        QString pattern;
        QString message; // empty: accepted
    } cases[] = {
        { "pasted text", "(" + QString(64 * 1024, u'.') + ")", tooLong },
        { "pasted nesting", repeated("((", 16 * 1024), tooLong },
        { "one over the limit", "(" + QString(max - 1, u'a') + ")", tooLong },
        { "at the limit", "(" + QString(max - 2, u'a') + ")", QString() },
        { "nested too deeply", repeated("(", 1500) + "a" + repeated(")", 1500), invalid },
        { "compiles too large", "(" + repeated(".", 3000) + ")", invalid },
        { "costly to match", QStringLiteral("((a+)+)b"), QString() },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedAnswers answers;
        config::Config config;
        CustomRegExDialog dialog(nullptr, config);
        dialog.setResult(QStringLiteral("(old)"));
        dialog.show();
        dialog.regExTextArea->setPlainText(c.pattern);
        dialog.okButton->click();
        if (c.message.isEmpty()) {
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.getResult(), c.pattern);
            EXPECT_TRUE(answers.requests.empty());
        } else {
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(dialog.getResult(), QStringLiteral("(old)"));
            EXPECT_EQ(answers.texts(Kind::Message), QStringList { c.message });
        }
    }
    EXPECT_TRUE(tooLong.contains(QString::number(max))) << tooLong.toStdString();
}
