// SPDX-License-Identifier: GPL-3.0-or-later
#include "LocalHttpServer.h"

#include "omvara/update/ReadRemoteUpdate.h"
#include "omvara/update/UpdateWorker.h"
#include "omvara/util/Bundle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>

using namespace std::chrono_literals;
using omvara::update::ReadRemoteUpdate;
using omvara::update::UpdateWorker;
using omvara::update::UpdateWorkerView;
using omvara::util::BackgroundTaskBase;
using omvara::util::Bundle;

namespace {

QString text(const char *key)
{
    return Bundle::get("omvara.Omvara").getString(QString::fromLatin1(key));
}

// Stands in for the main window: records every status text and whether it
// arrived on the event thread.
class RecordingView : public UpdateWorkerView
{
public:
    QStringList texts;
    bool allOnEventThread = true;

    void setStatusText(const QString &t) override
    {
        allOnEventThread
            = allOnEventThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        texts.append(t);
    }
};

// Runs the event loop until the task has finished (at most 10 s); `after`
// runs once the loop is going.
bool runUntilDone(BackgroundTaskBase &task, std::function<void()> after = {})
{
    if (task.isDone())
        return true;
    QEventLoop loop;
    QObject::connect(&task, &BackgroundTaskBase::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    if (after)
        QTimer::singleShot(0, &loop, after);
    loop.exec();
    return task.isDone();
}

QByteArray versionFile(const QByteArray &english)
{
    return "<versions><version2_en>" + english + "</version2_en></versions>";
}

enum class Outcome { Available, Normal, Failed };

struct WorkerCase
{
    const char *name;
    QByteArray body;
    int status;
    Outcome outcome;
};

class UpdateWorkerStatus : public testing::TestWithParam<WorkerCase>
{
};

TEST_P(UpdateWorkerStatus, showsCheckingThenTheVerdictOnTheEventThread)
{
    const WorkerCase &c = GetParam();
    LocalHttpServer server(LocalHttpServer::Mode::Answer, c.body, c.status);
    ASSERT_TRUE(server.listening());
    RecordingView view;
    UpdateWorker worker(&view, server.url(), "2016.2.3.4", "en");
    worker.execute();
    ASSERT_TRUE(runUntilDone(worker));

    QStringList expected { text("checking.for.update") };
    if (c.outcome == Outcome::Failed)
        expected.append(text("update.check.failed"));
    expected.append(c.outcome == Outcome::Available ? UpdateWorker::updateAvailableText()
                                                    : text("RadezoZiDadFrame2.statusJLabel.text"));
    EXPECT_EQ(view.texts, expected);
    EXPECT_TRUE(view.allOnEventThread);
    EXPECT_EQ(worker.get(), c.outcome == Outcome::Available);
    EXPECT_EQ(server.requests(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateWorkerStatus,
    testing::Values(WorkerCase { "newer", versionFile("2016.2.3.5"), 200, Outcome::Available },
        WorkerCase { "equal", versionFile("2016.2.3.4"), 200, Outcome::Normal },
        WorkerCase { "missingTag", "<versions/>", 200, Outcome::Normal },
        WorkerCase { "plainNumberRemote", versionFile("2017"), 200, Outcome::Failed },
        WorkerCase { "notFound", versionFile("2016.2.3.5"), 404, Outcome::Failed }),
    [](const testing::TestParamInfo<WorkerCase> &info) { return std::string(info.param.name); });

TEST(UpdateWorker, noServer_reportsTheFailureThenTheNormalText)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    RecordingView view;
    UpdateWorker worker(
        &view, QStringLiteral("http://127.0.0.1:%1/version.xml").arg(port), "2016.2.3.4", "en");
    worker.execute();
    ASSERT_TRUE(runUntilDone(worker));
    EXPECT_EQ(view.texts,
        (QStringList { text("checking.for.update"), text("update.check.failed"),
            text("RadezoZiDadFrame2.statusJLabel.text") }));
    EXPECT_FALSE(worker.get());
}

// Closing the window while the site keeps silent must not wait for the
// time-outs: cancelling ends the check at once and leaves the normal text.
TEST(UpdateWorker, cancelWhileTheServerIsSilent_endsQuicklyWithTheNormalText)
{
    LocalHttpServer server(LocalHttpServer::Mode::Silent);
    ASSERT_TRUE(server.listening());
    RecordingView view;
    UpdateWorker worker(&view, server.url(), "2016.2.3.4", "en");
    worker.execute();
    QElapsedTimer clock;
    ASSERT_TRUE(runUntilDone(worker, [&] {
        QTimer::singleShot(200ms, [&] {
            clock.start();
            worker.cancel(true);
        });
    }));
    EXPECT_LT(clock.elapsed(), 1500);
    ASSERT_FALSE(view.texts.isEmpty());
    EXPECT_EQ(view.texts.last(), text("RadezoZiDadFrame2.statusJLabel.text"));
    EXPECT_FALSE(view.texts.contains(text("update.check.failed")));
}

TEST(UpdateWorker, updateAvailableText_linksToTheProductSite)
{
    const QString t = UpdateWorker::updateAvailableText();
    const QString site = ReadRemoteUpdate::productSite() + "/";
    EXPECT_TRUE(t.startsWith("<html>")) << t.toStdString();
    EXPECT_TRUE(t.endsWith("</html>")) << t.toStdString();
    EXPECT_TRUE(t.contains("<a href=\"" + site + "\">" + site + "</a>")) << t.toStdString();
    EXPECT_FALSE(t.contains("{0}"));
}

TEST(UpdateWorker, nullView_isRefused)
{
    EXPECT_THROW(
        UpdateWorker(nullptr, "http://127.0.0.1:1/version.xml", "2016.2.3.4", "en"), std::invalid_argument);
}

} // namespace
