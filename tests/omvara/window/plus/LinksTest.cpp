// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/links/JLabelHtml.h"
#include "omvara/window/links/LinkMouseListener.h"
#include "omvara/window/links/LinkRunner.h"
#include "omvara/window/links/OpenHyperlinkInBrowser.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

using omvara::MessageBoxes;
using omvara::links::JLabelHtml;
using omvara::links::OpenHyperlinkInBrowser;

namespace {

void app()
{
    static int argc = 1;
    static char name[] = "omvara_plus_tests";
    static char *argv[] = { name, nullptr };
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

const QString LINKED
    = QStringLiteral("<html>See <a href=\"https://example.org/help\">the help</a> page</html>");

// Installs a browser stand-in and a message recorder for one test.
class LinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        OpenHyperlinkInBrowser::setBrowsingSupportedOverride([this] { return browsing.load(); });
        OpenHyperlinkInBrowser::setBrowser([this](const QUrl &url) {
            std::lock_guard lock(mutex);
            opened << url.toString();
            return browserSucceeds.load();
        });
        MessageBoxes::setResponder([this](const MessageBoxes::Request &r) {
            messages << r.text;
            return MessageBoxes::Reply {};
        });
    }
    void TearDown() override
    {
        OpenHyperlinkInBrowser::setBrowsingSupportedOverride({});
        OpenHyperlinkInBrowser::setBrowser({});
        OpenHyperlinkInBrowser::setDisableActiveLink(false);
        MessageBoxes::setResponder({});
    }
    QStringList openedUrls()
    {
        std::lock_guard lock(mutex);
        return opened;
    }
    bool waitFor(const std::function<bool()> &condition)
    {
        QDeadlineTimer deadline(5000);
        while (!condition() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return condition();
    }

    std::atomic<bool> browsing { true };
    std::atomic<bool> browserSucceeds { true };
    std::mutex mutex;
    QStringList opened;
    QStringList messages;
};

} // namespace

TEST(OpenHyperlinkInBrowserTest, markers_buildAndRecogniseLinks)
{
    EXPECT_EQ(OpenHyperlinkInBrowser::htmlIfy(QStringLiteral("x")), QStringLiteral("<html>x</html>"));
    EXPECT_EQ(OpenHyperlinkInBrowser::linkIfy(QStringLiteral("https://a.b")),
        QStringLiteral("<a href=\"https://a.b\">https://a.b</a>"));
    const struct
    {
        QString text;
        bool hasLink;
        QString plain;
    } cases[] = {
        { LINKED, true, QStringLiteral("https://example.org/help") },
        { OpenHyperlinkInBrowser::htmlIfy(OpenHyperlinkInBrowser::linkIfy(QStringLiteral("u"))), true,
            QStringLiteral("u") },
        // Without the html frame there is no link, and the text comes back unchanged.
        { QStringLiteral("See <a href=\"https://x\">x</a>"), false,
            QStringLiteral("See <a href=\"https://x\">x</a>") },
        { QStringLiteral("plain text"), false, QStringLiteral("plain text") },
        { QString(), false, QString() },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(OpenHyperlinkInBrowser::containsHyperlink(c.text), c.hasLink) << c.text.toStdString();
        EXPECT_EQ(OpenHyperlinkInBrowser::getPlainLink(c.text), c.plain) << c.text.toStdString();
    }
}

TEST(OpenHyperlinkInBrowserTest, stripLinks_leavesTheVisibleTexts)
{
    EXPECT_EQ(OpenHyperlinkInBrowser::stripLinks(LINKED), QStringLiteral("<html>See the help page</html>"));
    EXPECT_EQ(OpenHyperlinkInBrowser::stripLinks(
                  QStringLiteral("<html><a href=\"a\">one</a> and <a href=\"b\">two</a></html>")),
        QStringLiteral("<html>one and two</html>"));
}

TEST_F(LinkTest, labelOnAPlatformThatCannotBrowse_showsOnlyTheTextAndIgnoresClicks)
{
    browsing = false;
    JLabelHtml label;
    label.setText(LINKED);
    EXPECT_EQ(label.text(), QStringLiteral("<html>See the help page</html>"));
    label.resize(200, 30);
    QTest::mouseClick(&label, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(openedUrls().isEmpty());
}

TEST_F(LinkTest, disabledLinks_areShownAsPlainText)
{
    OpenHyperlinkInBrowser::setDisableActiveLink(true);
    JLabelHtml label;
    label.setText(LINKED);
    EXPECT_FALSE(label.text().contains(QStringLiteral("href")));
}

TEST_F(LinkTest, clickOnALinkedLabel_opensTheLinkInTheBrowser)
{
    JLabelHtml label;
    label.setText(LINKED);
    EXPECT_EQ(label.text(), LINKED);
    label.resize(200, 30);
    QTest::mouseClick(&label, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !openedUrls().isEmpty(); }));
    EXPECT_EQ(openedUrls(), QStringList { QStringLiteral("https://example.org/help") });
    // A successful start reports nothing.
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(LinkTest, browserRefusing_endsInTheProblemMessage)
{
    browserSucceeds = false;
    OpenHyperlinkInBrowser::openHyperlink(QUrl(QStringLiteral("https://example.org")));
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages, QStringList { omvara::links::LinkRunner::FAILURE_TEXT });
}

TEST_F(LinkTest, malformedAddress_behavesLikeAFailureToOpen)
{
    omvara::links::LinkMouseListener listener;
    QLabel label(QStringLiteral("<html><a href=\"not a url\">x</a></html>"));
    listener.mouseClicked(label);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_TRUE(openedUrls().isEmpty());
}

TEST_F(LinkTest, statusLabelChangingToALink_becomesClickable)
{
    JLabelHtml label;
    label.setText(QStringLiteral("Ready"));
    label.setText(LINKED);
    label.resize(200, 30);
    QTest::mouseClick(&label, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !openedUrls().isEmpty(); }));
}
