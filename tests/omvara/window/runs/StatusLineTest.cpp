// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunsTestSupport.h"

#include "omvara/update/UpdateWorker.h"
#include "omvara/util/Bundle.h"
#include "omvara/window/StatusLine.h"
#include "omvara/window/links/JLabelHtml.h"

#include <gtest/gtest.h>

#include <thread>

using runs_test::runUntil;

namespace {

QString text(const char *key)
{
    return omvara::util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

class StatusLineTest : public runs_test::WithApp, public ::testing::Test
{
protected:
    void SetUp() override { runs_test::app(); }
    omvara::links::JLabelHtml label;
    omvara::StatusLine status { &label };
};

TEST_F(StatusLineTest, UpdateTextsShowWhileStopped)
{
    status.setStatusText(text("checking.for.update"));
    EXPECT_EQ(status.text(), text("checking.for.update"));
    status.setStatusText(text("update.check.failed"));
    EXPECT_EQ(status.text(), text("update.check.failed"));
}

TEST_F(StatusLineTest, RunKeepsItsStatusAndAnUpdateNoticeWaitsForStop)
{
    status.setRunning(true);
    status.showText(text("switch.to.target.application"));
    status.setStatusText(text("checking.for.update"));
    status.setStatusText(omvara::update::UpdateWorker::updateAvailableText());
    status.setStatusText(text("RadezoZiDadFrame2.statusJLabel.text"));
    EXPECT_EQ(status.text(), text("switch.to.target.application"));

    status.setRunning(false);
    status.showIdleText();
    // As the label shows it (links are made clickable on the way).
    omvara::links::JLabelHtml expected;
    expected.setText(omvara::update::UpdateWorker::updateAvailableText());
    EXPECT_EQ(status.text(), expected.text());
}

TEST_F(StatusLineTest, IdleTextIsTheNormalTextWithoutNotice)
{
    status.setRunning(true);
    status.setStatusText(text("update.check.failed"));
    status.setRunning(false);
    status.showIdleText();
    EXPECT_EQ(status.text(), text("RadezoZiDadFrame2.statusJLabel.text"));
}

TEST_F(StatusLineTest, TextFromAnotherThreadArrivesOnTheEventThread)
{
    std::thread other([this] { status.setStatusText(QStringLiteral("from elsewhere")); });
    other.join();
    EXPECT_NE(status.text(), QStringLiteral("from elsewhere")) << "not set from the other thread";
    EXPECT_TRUE(runUntil([&] { return status.text() == QStringLiteral("from elsewhere"); }));
}

} // namespace
