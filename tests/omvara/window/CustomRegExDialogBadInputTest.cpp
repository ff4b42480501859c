// SPDX-License-Identifier: GPL-3.0-or-later
// The custom pattern dialog on hostile input: OK never spends unbounded time
// on the window's thread. A text over the length limit is refused with its own
// message before anything is compiled; patterns the engine refuses (too large,
// nested too deeply) get the invalid-pattern message; a pattern that would be
// costly to match is accepted, since matching happens at reception, where its
// work per line is bounded.
#include "WindowTestSupport.h"

#include "omvara/config/ConfigHelper.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/window/CustomRegExDialog.h"

#include <QClipboard>
#include <QGuiApplication>
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
    const QString tooLong
        = omvara::texts::WindowTexts::format("invalid.expression.too.long", QString::number(max));
    const QString invalid = omvara::texts::WindowTexts::text("invalid.expression");
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
            const QStringList messages = answers.texts(Kind::Message);
            ASSERT_EQ(messages.size(), 1);
            // An invalid pattern's message goes on with what is wrong with it.
            EXPECT_TRUE(messages[0] == c.message || messages[0].startsWith(c.message + u'\n'))
                << messages[0].toStdString();
        }
    }
    EXPECT_TRUE(tooLong.contains(QString::number(max))) << tooLong.toStdString();
}

// A paste that would make the pattern too long is refused with the too-long
// message and leaves the field as it was (laying out a pasted megabyte on one
// wrapped line would hold the window for minutes); a paste within the limit
// goes in.
TEST(CustomRegExDialogBadInput, pastingTooMuch_isRefusedAndTheFieldKept)
{
    omvara::testing::app();
    const int max = config::ConfigHelper::CustomRegEx::MaxLength;
    const struct
    {
        const char *name;
        QString pasted;
        bool refused;
    } cases[] = {
        { "a megabyte", QString(1024 * 1024, u'.'), true },
        { "just over with what is there", QString(max - 2, u'a'), true },
        { "up to the limit", QString(max - 3, u'a'), false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedAnswers answers;
        config::Config config;
        CustomRegExDialog dialog(nullptr, config);
        dialog.show();
        dialog.regExTextArea->setPlainText(QStringLiteral("(1)"));
        dialog.regExTextArea->moveCursor(QTextCursor::End);
        QGuiApplication::clipboard()->setText(c.pasted);
        dialog.regExTextArea->paste();
        if (c.refused) {
            EXPECT_EQ(dialog.regExTextArea->toPlainText(), QStringLiteral("(1)"));
            EXPECT_EQ(answers.texts(Kind::Message),
                QStringList { omvara::texts::WindowTexts::format(
                    "invalid.expression.too.long", QString::number(max)) });
        } else {
            EXPECT_EQ(dialog.regExTextArea->toPlainText().size(), max);
            EXPECT_TRUE(answers.requests.empty());
        }
    }
}
