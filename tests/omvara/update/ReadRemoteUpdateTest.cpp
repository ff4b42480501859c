// SPDX-License-Identifier: GPL-3.0-or-later
#include "LocalHttpServer.h"

#include "omvara/update/ReadRemoteUpdate.h"
#include "omvara/util/Interruption.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;
using omvara::update::ReadRemoteUpdate;
using omvara::update::UpdateCheckError;
using omvara::util::InterruptedError;
using omvara::util::InterruptibleThread;

namespace {

QByteArray versionFile(const QByteArray &english)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<versions>\n"
           "  <version2_de>2099.9.9.9</version2_de>\n"
           "  <version2_en>"
        + english
        + "</version2_en>\n"
          "</versions>\n";
}

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

struct AnswerCase
{
    const char *name;
    QByteArray body;
    bool newer;
    QString remoteVersion;
};

class CheckAgainstLocalServer : public testing::TestWithParam<AnswerCase>
{
};

TEST_P(CheckAgainstLocalServer, readsTheLanguageElementAndCompares)
{
    const AnswerCase &c = GetParam();
    LocalHttpServer server(LocalHttpServer::Mode::Answer, c.body);
    ASSERT_TRUE(server.listening());
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    EXPECT_EQ(update.check(), c.newer);
    EXPECT_EQ(update.remoteVersion(), c.remoteVersion);
    EXPECT_EQ(update.content(), QString::fromUtf8(c.body));
    EXPECT_EQ(server.requests(), 1);
    EXPECT_TRUE(server.lastRequest().startsWith("GET /version.xml HTTP/1.1\r\n"))
        << server.lastRequest().constData();
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckAgainstLocalServer,
    testing::Values(AnswerCase { "newer", versionFile("2016.2.3.5"), true, "2016.2.3.5" },
        AnswerCase { "equal", versionFile("2016.2.3.4"), false, "2016.2.3.4" },
        AnswerCase { "older", versionFile("2015.12.31.1"), false, "2015.12.31.1" },
        AnswerCase { "missingTag", "<versions><version2_de>2099.0.0.0</version2_de></versions>", false, "" },
        AnswerCase { "emptyBody", "", false, "" }),
    [](const testing::TestParamInfo<AnswerCase> &info) { return std::string(info.param.name); });

TEST(ReadRemoteUpdate, check_unparsableRemoteVersion_fails)
{
    LocalHttpServer server(LocalHttpServer::Mode::Answer, versionFile("2017"));
    ASSERT_TRUE(server.listening());
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    EXPECT_THROW(update.check(), UpdateCheckError);
    EXPECT_EQ(update.remoteVersion(), "2017");
}

TEST(ReadRemoteUpdate, readURLContent_httpErrorStatus_fails)
{
    LocalHttpServer server(LocalHttpServer::Mode::Answer, versionFile("2016.2.3.5"), 404);
    ASSERT_TRUE(server.listening());
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    EXPECT_THROW(update.readURLContent(), UpdateCheckError);
}

TEST(ReadRemoteUpdate, readURLContent_noServer_failsAtOnce)
{
    ReadRemoteUpdate update(
        QStringLiteral("http://127.0.0.1:%1/version.xml").arg(closedPort()), "2016.2.3.4", "en");
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(update.readURLContent(), UpdateCheckError);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST(ReadRemoteUpdate, readURLContent_onlyHttpAndHttpsAddresses)
{
    for (const char *url :
        { "file:///etc/hostname", "ftp://127.0.0.1/version.xml", "version.xml", "http:///version.xml", "" }) {
        ReadRemoteUpdate update(QString::fromLatin1(url), "2016.2.3.4", "en");
        EXPECT_THROW(update.readURLContent(), UpdateCheckError) << url;
    }
}

TEST(ReadRemoteUpdate, readURLContent_serverThatNeverAnswers_givesUpAfterFiveSeconds)
{
    LocalHttpServer server(LocalHttpServer::Mode::Silent);
    ASSERT_TRUE(server.listening());
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(update.readURLContent(), UpdateCheckError);
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 4500);
    EXPECT_LT(elapsed, 8000);
    EXPECT_EQ(server.requests(), 1);
}

TEST(ReadRemoteUpdate, readURLContent_answerThatStalls_givesUpAfterTheReadTimeout)
{
    LocalHttpServer server(LocalHttpServer::Mode::HeadersThenStall, versionFile("2016.2.3.5"));
    ASSERT_TRUE(server.listening());
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    update.setTimeouts(2000, 300);
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(update.readURLContent(), UpdateCheckError);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 2000);
}

// The read limit is about silence, not about the whole transfer: an answer
// that keeps coming, byte by byte, is read to the end even when it takes
// much longer than the limit.
TEST(ReadRemoteUpdate, readURLContent_slowButSteadyAnswer_isReadToTheEnd)
{
    const QByteArray body = "<version2_en>2016.2.3.5</version2_en>";
    LocalHttpServer server(LocalHttpServer::Mode::Trickle, body);
    ASSERT_TRUE(server.listening());
    server.trickleMs = 40; // 37 bytes: about 1.5 s in all
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    update.setTimeouts(1000, 400);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(update.check());
    EXPECT_GT(clock.elapsed(), 1000);
    EXPECT_EQ(update.content(), QString::fromLatin1(body));
}

TEST(ReadRemoteUpdate, readURLContent_hugeAnswer_isRefused)
{
    LocalHttpServer server(LocalHttpServer::Mode::HeadersThenStall, versionFile("2016.2.3.5"));
    ASSERT_TRUE(server.listening());
    server.contentLengthOverride = ReadRemoteUpdate::MAX_CONTENT_BYTES * 64;
    ReadRemoteUpdate update(server.url(), "2016.2.3.4", "en");
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(update.readURLContent(), UpdateCheckError);
    EXPECT_LT(clock.elapsed(), 3000);
}

// Interrupting the thread that waits for a silent server ends the wait at
// once, so closing the program never waits for the update check.
TEST(ReadRemoteUpdate, readURLContent_interruptedThread_stopsWaiting)
{
    LocalHttpServer server(LocalHttpServer::Mode::Silent);
    ASSERT_TRUE(server.listening());
    const QString url = server.url();

    std::atomic<bool> finished { false };
    std::atomic<bool> interrupted { false };
    std::atomic<qint64> sinceInterrupt { -1 };
    QElapsedTimer clock;
    InterruptibleThread fetch([&] {
        ReadRemoteUpdate update(url, "2016.2.3.4", "en");
        try {
            update.readURLContent();
        } catch (const InterruptedError &) {
            interrupted = true;
        } catch (...) {
        }
        sinceInterrupt = clock.isValid() ? clock.elapsed() : -1;
        finished = true;
    });

    // The server lives on this thread: serve it while the fetch waits.
    QEventLoop loop;
    QTimer::singleShot(300ms, &loop, [&] {
        clock.start();
        fetch.interrupt();
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished || (clock.isValid() && clock.elapsed() > 4000))
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    fetch.join();

    EXPECT_TRUE(interrupted);
    EXPECT_GE(sinceInterrupt, 0);
    EXPECT_LT(sinceInterrupt, 1000);
}

} // namespace
