// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowTestSupport.h"

#include "omvara/texts/WindowTexts.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Interruption.h"
#include "omvara/window/AutoPortDialog.h"
#include "omvara/window/CustomRegExDialog.h"
#include "omvara/window/IgnoreDialog.h"
#include "omvara/window/SettingRules.h"
#include "portlink/FriendlyPortUtil.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace omvara;
using omvara::testing::ScriptedAnswers;
using Kind = omvara::MessageBoxes::Kind;

namespace {

class DialogTest : public ::testing::Test
{
protected:
    void SetUp() override { omvara::testing::app(); }
    config::Config config;
};

struct IgnoreCase
{
    const char *timeLimit;
    const char *difference;
    bool accepted;
    const char *storedDifference;
};

class IgnoreDialogTest : public DialogTest, public ::testing::WithParamInterface<IgnoreCase>
{
};

} // namespace

TEST_P(IgnoreDialogTest, ok_acceptsValidLimitsAndStaysOpenOtherwise)
{
    ScriptedAnswers answers;
    const IgnoreCase &c = GetParam();
    IgnoreDialog dialog(nullptr, config);
    dialog.setResults(QStringLiteral("800"), QStringLiteral("0.1"));
    dialog.show();
    dialog.ignoreTimeLimitTextField->setText(QString::fromLatin1(c.timeLimit));
    dialog.ignoreDifferenceTextField->setText(QString::fromLatin1(c.difference));
    dialog.okButton->click();
    if (c.accepted) {
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.getTimeLimitResult(), QString::fromLatin1(c.timeLimit));
        EXPECT_EQ(dialog.getDifferenceResult(), QString::fromLatin1(c.storedDifference));
        EXPECT_TRUE(answers.requests.empty());
    } else {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(
            answers.texts(Kind::Message), QStringList { omvara::texts::WindowTexts::text("ignore.error") });
        EXPECT_EQ(dialog.getTimeLimitResult(), QStringLiteral("800"));
        EXPECT_EQ(dialog.getDifferenceResult(), QStringLiteral("0.1"));
        EXPECT_EQ(dialog.ignoreDifferenceTextField->text(), QString::fromLatin1(c.difference));
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, IgnoreDialogTest,
    ::testing::Values(IgnoreCase { "1500", "0,5", true, "0.5" }, IgnoreCase { "1", "0.001", true, "0.001" },
        IgnoreCase { "", "", true, "" }, IgnoreCase { "1500", "0", false, nullptr },
        IgnoreCase { "1500", "-1", false, nullptr }, IgnoreCase { "0", "0.5", false, nullptr },
        IgnoreCase { "-5", "", false, nullptr }, IgnoreCase { "1.5", "", false, nullptr },
        IgnoreCase { "", "abc", false, nullptr }),
    [](const ::testing::TestParamInfo<IgnoreCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(DialogTest, ignoreDialogCancel_keepsTheResults)
{
    IgnoreDialog dialog(nullptr, config);
    dialog.setResults(QStringLiteral("800"), QStringLiteral("0.1"));
    dialog.show();
    dialog.ignoreTimeLimitTextField->setText(QStringLiteral("5"));
    dialog.cancelButton->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.getTimeLimitResult(), QStringLiteral("800"));
}

struct PatternCase
{
    const char *pattern;
    bool accepted;
};

class CustomRegExDialogTest : public DialogTest, public ::testing::WithParamInterface<PatternCase>
{
};

TEST_P(CustomRegExDialogTest, ok_acceptsValidPatternsAndKeepsInvalidOnesOpen)
{
    ScriptedAnswers answers;
    CustomRegExDialog dialog(nullptr, config);
    dialog.setResult(QStringLiteral("(old)"));
    dialog.show();
    dialog.regExTextArea->setPlainText(QString::fromLatin1(GetParam().pattern));
    dialog.okButton->click();
    if (GetParam().accepted) {
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.getResult(), QString::fromLatin1(GetParam().pattern));
    } else {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.getResult(), QStringLiteral("(old)"));
        // The message names the problem after the general text.
        const QStringList messages = answers.texts(Kind::Message);
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith(omvara::texts::WindowTexts::text("invalid.expression") + u'\n'))
            << messages[0].toStdString();
        EXPECT_GT(messages[0].size(), omvara::texts::WindowTexts::text("invalid.expression").size() + 1);
        EXPECT_EQ(dialog.regExTextArea->toPlainText(), QString::fromLatin1(GetParam().pattern));
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, CustomRegExDialogTest,
    ::testing::Values(PatternCase { "", true }, PatternCase { "W:\\s*([0-9.]+)", true },
        PatternCase { "([0-9]", false }, PatternCase { ")x(", false }, PatternCase { "[a-", false }),
    [](const ::testing::TestParamInfo<PatternCase> &info) { return "case" + std::to_string(info.index); });

// "[[:digit:]]" is valid but holds ":", "d", "i", "g" and "t": the dialog
// says so and suggests \p{Digit}; OK takes the pattern all the same. A
// construct the dialect refuses is named in the message.
TEST_F(DialogTest, customRegEx_posixClassNameIsWarnedAbout_refusedConstructIsNamed)
{
    for (const auto answer : { MessageBoxes::Answer::Cancel, MessageBoxes::Answer::Ok }) {
        ScriptedAnswers answers;
        answers.answer(answer);
        CustomRegExDialog dialog(nullptr, config);
        dialog.show();
        dialog.regExTextArea->setPlainText(QStringLiteral("([[:digit:]]+)"));
        dialog.okButton->click();
        const QStringList questions = answers.texts(Kind::OkCancel);
        ASSERT_EQ(questions.size(), 1);
        EXPECT_TRUE(questions[0].contains(QStringLiteral("\\p{Digit}"))) << questions[0].toStdString();
        EXPECT_TRUE(questions[0].contains(QStringLiteral("\"[:digit:]\" is a class of the characters")))
            << questions[0].toStdString();
        EXPECT_EQ(dialog.isVisible(), answer == MessageBoxes::Answer::Cancel);
        EXPECT_EQ(dialog.getResult(),
            answer == MessageBoxes::Answer::Ok ? QStringLiteral("([[:digit:]]+)") : QString());
    }
    ScriptedAnswers answers;
    CustomRegExDialog dialog(nullptr, config);
    dialog.show();
    dialog.regExTextArea->setPlainText(QStringLiteral("a{,3}(\\d)"));
    dialog.okButton->click();
    EXPECT_TRUE(dialog.isVisible());
    const QStringList messages = answers.texts(Kind::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("\"{,3}\""))) << messages[0].toStdString();
}

TEST(SettingRulesTest, inputTerminator_acceptsCodesFrom0To255Only)
{
    const std::vector<std::pair<const char *, std::optional<int>>> cases = { { "0", 0 }, { "9", 9 },
        { "255", 255 }, { "256", std::nullopt }, { "-1", std::nullopt }, { "1e2", std::nullopt },
        { " 9", std::nullopt }, { "", std::nullopt }, { "99999999999", std::nullopt } };
    for (const auto &[typed, expected] : cases)
        EXPECT_EQ(SettingRules::parseInputTerminator(QString::fromLatin1(typed)), expected) << typed;
}

// ---- Port detection dialog over the simulated serial side.

namespace {

class AutoPortDialogTest : public DialogTest
{
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        portlink::FriendlyPortUtil::reset();
    }
    void TearDown() override { portlink::FriendlyPortUtil::reset(); }

    std::shared_ptr<portlink::testing::SimulatedNative> native
        = std::make_shared<portlink::testing::SimulatedNative>();
    QStringList selected;
};

// No pauses: the detection runs at full speed.
void noSleep(std::chrono::milliseconds)
{
}

} // namespace

TEST_F(AutoPortDialogTest, detection_selectsTheAnsweringPortAndEmphasisesTheResult)
{
    using portlink::testing::SimLine;
    using portlink::testing::SimRule;
    native->addPort(QStringLiteral("COM1"));
    auto &loop = native->addPort(QStringLiteral("COM4"));
    loop.setLine(SimLine::DSR, SimRule::FollowDTR);
    loop.setLine(SimLine::CTS, SimRule::FollowRTS);
    portlink::testing::ScopedNativeSide side(native);

    AutoPortDialog dialog(
        nullptr, { QStringLiteral("COM1"), QStringLiteral("COM4") },
        [this](const QString &name) { selected << name; }, &noSleep);
    EXPECT_EQ(dialog.button->text(), QStringLiteral("Cancel"));
    ASSERT_TRUE(omvara::testing::runUntil([&] { return !dialog.isDetectionRunning(); }));
    EXPECT_EQ(selected, QStringList { QStringLiteral("COM4") });
    EXPECT_EQ(dialog.button->text(), QStringLiteral("Close"));
    const QString bestLine = omvara::texts::WorkerTexts::text("best.port") + QStringLiteral(" COM4");
    EXPECT_TRUE(dialog.messages().contains(bestLine)) << dialog.messages().toStdString();
    // The result line stands out.
    QTextCursor cursor = dialog.messageArea->document()->find(bestLine);
    ASSERT_FALSE(cursor.isNull());
    EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);
}

TEST_F(AutoPortDialogTest, noAnsweringPort_selectsNothing)
{
    native->addPort(QStringLiteral("COM1"));
    portlink::testing::ScopedNativeSide side(native);
    AutoPortDialog dialog(
        nullptr, { QStringLiteral("COM1") }, [this](const QString &name) { selected << name; }, &noSleep);
    ASSERT_TRUE(omvara::testing::runUntil([&] { return !dialog.isDetectionRunning(); }));
    EXPECT_TRUE(selected.isEmpty());
    EXPECT_TRUE(dialog.messages().contains(omvara::texts::WorkerTexts::text("could.not.auto.detect.port")));
}

TEST_F(AutoPortDialogTest, buttonWhileRunning_cancelsAndReportsStopped)
{
    native->addPort(QStringLiteral("COM1"));
    portlink::testing::ScopedNativeSide side(native);
    // Each pause waits until interrupted, so the cancel always lands mid-test.
    AutoPortDialog dialog(
        nullptr, { QStringLiteral("COM1") }, [this](const QString &name) { selected << name; },
        [](std::chrono::milliseconds) { util::Interruption::sleep(std::chrono::seconds(30)); });
    dialog.show();
    dialog.button->click();
    EXPECT_EQ(dialog.button->text(), QStringLiteral("Close"));
    ASSERT_TRUE(omvara::testing::runUntil([&] { return !dialog.isDetectionRunning(); }));
    EXPECT_TRUE(selected.isEmpty());
    EXPECT_TRUE(dialog.messages().contains(omvara::texts::WorkerTexts::text("stopped")));
    dialog.button->click();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(WindowTextsTest, everyKeyTheWindowReads_isInTheBundle)
{
    const QStringList keys = omvara::texts::WindowTexts::requiredKeys();
    EXPECT_GT(keys.size(), 100);
    for (const QString &key : keys)
        EXPECT_NO_THROW(omvara::texts::WindowTexts::text(key)) << key.toStdString();
    // Texts that end in a separator keep it, so appended failure texts do not run into them.
    EXPECT_TRUE(omvara::texts::WindowTexts::text("autosave.error").endsWith(QLatin1Char(' ')));
}
