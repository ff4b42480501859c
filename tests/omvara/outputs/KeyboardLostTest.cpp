// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard backend lost during a run: a private X server (Xvfb) that the
// X11 backend types into is killed while values keep arriving.
#include "PrivateXServer.h"
#include "RecordingView.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/x11/X11KeyInjector.h"
#include "omvara/util/Bundle.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using omvara::outputs::Keybot;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

QString workerText(const char *key)
{
    return omvara::util::Bundle::get(QStringLiteral("omvara.worker.WorkerBundle"))
        .getString(QString::fromLatin1(key));
}

int countNotTyped(const QStringList &important)
{
    const QString text = workerText("values.not.typed");
    const qsizetype at = text.indexOf(QStringLiteral("%s"));
    int sum = 0;
    for (const QString &m : important)
        if (m.startsWith(text.left(at)))
            sum += m.mid(at).section(u' ', 0, 0).toInt();
    return sum;
}

} // namespace

// The display goes away while values keep coming: the loss is reported once
// (instead of Xlib ending the whole program), the values after it are
// dropped and reported, and Stop still ends the keyboard thread at once.
TEST(KeyboardLost, xDisplayClosedDuringARun_reportedOnce_laterValuesNotTyped_noCrashNoHang)
{
    PrivateXServer server;
    const QString display = server.display();
    if (display.isEmpty())
        GTEST_SKIP() << "no Xvfb to start a private X server";
    std::unique_ptr<omvara::outputs::keys::KeyInjector> injector;
    for (int attempt = 0; attempt < 100 && !injector; ++attempt) {
        try {
            injector = omvara::outputs::keys::openX11KeyInjector(display);
        } catch (const omvara::outputs::keys::KeyboardUnavailableError &e) {
            if (QString::fromStdString(e.what()).contains(QStringLiteral("XTest")))
                GTEST_SKIP() << e.what();
            std::this_thread::sleep_for(50ms);
        }
    }
    ASSERT_TRUE(injector) << "the X11 backend cannot open " << qPrintable(display);

    RecordingView view;
    Keybot bot(&view, KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, 10, 0, std::move(injector));
    bot.start();
    bot.enqueue(QStringLiteral("12"));
    bot.enqueue(QStringLiteral("34"));
    for (int i = 0; i < 200 && bot.waiting() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(view.important().isEmpty()) << qPrintable(view.important().join(u'\n'));

    server.kill();
    constexpr int after = 20;
    for (int i = 0; i < after; ++i) {
        bot.enqueue(QString::number(50 + i));
        std::this_thread::sleep_for(5ms);
    }
    const QString lostText = workerText("keyboard.lost").section(QStringLiteral("%s"), 0, 0);
    const auto lostReports = [&] {
        int n = 0;
        for (const QString &m : view.important())
            n += m.startsWith(lostText) ? 1 : 0;
        return n;
    };
    for (int i = 0; i < 1000 && (lostReports() == 0 || bot.waiting() > 0); ++i)
        std::this_thread::sleep_for(10ms);
    const auto stopStarted = std::chrono::steady_clock::now();
    bot.stop();
    bot.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStarted, 10s) << "Stop did not end the keyboard thread";

    EXPECT_EQ(lostReports(), 1) << qPrintable(view.important().join(u'\n'));
    // At most the value being typed when the loss showed went to the dead
    // display; every later one is reported as not typed.
    EXPECT_GE(countNotTyped(view.important()), after - 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_LE(countNotTyped(view.important()), after);
    EXPECT_EQ(bot.waiting(), 0u);
}
