// SPDX-License-Identifier: GPL-3.0-or-later
// Reception and port detection against the simulated native serial side:
// handshake lines, parity and framing errors, ports that fail.
#include "ReceptionTestSupport.h"

#include "omvara/reception/AutoPortWorker.h"
#include "omvara/reception/WeightWorkerAnd.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Interruption.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using namespace reception_test;
using omvara::config::Config;
using omvara::reception::AutoPortWorker;
using omvara::reception::WeightWorker;
using omvara::reception::WeightWorkerAnd;
using omvara::texts::WorkerTexts;
using portlink::testing::ScopedNativeSide;
using portlink::testing::SimLine;
using portlink::testing::SimRule;
using portlink::testing::SimulatedNative;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

class Simulated : public ::testing::Test
{
protected:
    void SetUp() override { app(); }

    std::shared_ptr<SimulatedNative> native = std::make_shared<SimulatedNative>();
    std::unique_ptr<ScopedNativeSide> scope;
    RecordingView view;

    void install() { scope = std::make_unique<ScopedNativeSide>(native); }
};

} // namespace

TEST_F(Simulated, opening_followsTheDocumentedSequenceAndLogsThePortAndLines)
{
    auto &com = native->addPort(QStringLiteral("COM4"));
    com.setLine(SimLine::DSR, SimRule::On);
    com.feed("stale 9.9 g\r"); // waiting before the run: discarded
    install();
    Config config = configFor(Instrument::SARTORIUS, QStringLiteral("COM4"));
    {
        auto worker = omvara::reception::createWeightWorker(config, view);
        EXPECT_EQ(com.calls().mid(0, 2), (QStringList { "SerOpenPort", "SerConfigure" }));
        const QStringList calls = com.calls();
        const qsizetype flush = calls.indexOf(QStringLiteral("SerRxFlush"));
        ASSERT_GE(flush, 0);
        EXPECT_EQ(calls.mid(flush, 5),
            (QStringList { "SerRxFlush", "SerSetRTS(0)", "SerSetDTR(1)", "SerSigDSR", "SerSigCTS" }));
        const auto entries = view.entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].text,
            omvara::texts::WorkerTexts::format(
                omvara::texts::WorkerTexts::text("port.opened"), { "COM4", "1200", "7", "1", "ODD" }));
        EXPECT_EQ(entries[1].text, QStringLiteral("RTS: off, DTR: on. DSR: on, CTS: off."));
        EXPECT_EQ(view.connectedChanges, (std::vector<bool> { true }));
        worker->execute();
        com.feed("+    1.5 g  \r\n");
        ASSERT_TRUE(runUntil([&] { return view.lines.size() == 1; }));
        worker->cancel(true);
        ASSERT_TRUE(runUntilDone(*worker));
    }
    EXPECT_EQ(view.values(), (QStringList { "1.5" }));
    EXPECT_FALSE(com.isOpen());
}

// A parity or framing error marks the line whose bytes it came with, and only that line.
TEST_F(Simulated, lineErrors_markOnlyTheirLine_andAreLoggedOnce)
{
    struct Case
    {
        const Instrument *instrument;
        bool framing;
        QString logged;
        bool split; // the line's bytes arrive in two bursts, the error in the first
    };
    const Case cases[] = {
        { &Instrument::GENERIC, false, omvara::texts::WorkerTexts::text("parity.error"), false },
        { &Instrument::GENERIC, false, omvara::texts::WorkerTexts::text("parity.error"), true },
        { &Instrument::GENERIC, true, omvara::texts::WorkerTexts::text("framing.error"), true },
        { &Instrument::BARCODE, false, QStringLiteral("Parity Error"), false },
        { &Instrument::BARCODE, true, QStringLiteral("Framing Error"), true },
    };
    auto &com = native->addPort(QStringLiteral("COM5"));
    install();
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.logged));
        view.clear();
        Config config = configFor(*c.instrument, QStringLiteral("COM5"));
        auto worker = omvara::reception::createWeightWorker(config, view);
        worker->execute();
        com.feed("1 g\r");
        if (c.framing)
            com.feedWithFramingError("2");
        else
            com.feedWithParityError("2");
        if (c.split) {
            ASSERT_TRUE(com.waitUntilDrained(5s));
            std::this_thread::sleep_for(20ms); // an idle pause or more between the bursts
        }
        com.feed(" g\r3 g\r");
        ASSERT_TRUE(runUntil([&] { return view.lines.size() == 3; }));
        worker->cancel(true);
        ASSERT_TRUE(runUntilDone(*worker));
        EXPECT_FALSE(view.lines[0].isError());
        EXPECT_TRUE(view.lines[1].isError());
        EXPECT_FALSE(view.lines[2].isError());
        const auto logged = view.find(c.logged);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_TRUE(logged[0].important);
        EXPECT_EQ(logged[0].text, c.logged);
    }
}

TEST_F(Simulated, aAndDBalance_signalCheck_warnsForEachUnusualCombination)
{
    struct Case
    {
        SimRule dsr;
        SimRule cts;
        const char *warning; // nullptr: no warning
    };
    const Case cases[] = {
        { SimRule::FollowDTR, SimRule::FollowRTS, nullptr },
        { SimRule::On, SimRule::On, nullptr },
        { SimRule::On, SimRule::Off, "and.error.unusual" },
        { SimRule::Off, SimRule::On, "and.error.dataset.not.ready" },
        { SimRule::Off, SimRule::FollowRTS, "and.error.dataset.not.ready" },
        { SimRule::Off, SimRule::Off, "and.error.not.connected" },
    };
    auto &com = native->addPort(QStringLiteral("COM6"));
    install();
    for (const Instrument *instrument : { &Instrument::AND, &Instrument::AND_EM }) {
        for (const Case &c : cases) {
            SCOPED_TRACE(
                std::string(qPrintable(instrument->name())) + " " + (c.warning ? c.warning : "none"));
            com.setLine(SimLine::DSR, c.dsr);
            com.setLine(SimLine::CTS, c.cts);
            view.clear();
            Config config = configFor(*instrument, QStringLiteral("COM6"));
            QStringList shown;
            auto worker = omvara::reception::createWeightWorker(
                config, view, [&](const QString &title, const QString &message) {
                    EXPECT_EQ(title, omvara::texts::WorkerTexts::text("warning"));
                    shown.append(message);
                });
            ASSERT_NE(dynamic_cast<WeightWorkerAnd *>(worker.get()), nullptr);
            if (c.warning)
                EXPECT_EQ(shown, QStringList { omvara::texts::WorkerTexts::text(c.warning) });
            else
                EXPECT_TRUE(shown.isEmpty());
            EXPECT_TRUE(com.rts());
            EXPECT_TRUE(com.dtr());
            // The run starts all the same.
            worker->execute();
            com.feed("ST,+00012.34  g\r\n");
            EXPECT_TRUE(runUntil([&] { return view.lines.size() == 1; }));
            worker->cancel(true);
            ASSERT_TRUE(runUntilDone(*worker));
            EXPECT_EQ(view.values(), QStringList { "12.34" });
        }
    }
    // AND_SIMPLE has no handshake: a plain worker, no check.
    view.clear();
    Config simple = configFor(Instrument::AND_SIMPLE, QStringLiteral("COM6"));
    auto worker = omvara::reception::createWeightWorker(
        simple, view, [](const QString &, const QString &) { ADD_FAILURE() << "no check expected"; });
    EXPECT_EQ(dynamic_cast<WeightWorkerAnd *>(worker.get()), nullptr);
}

TEST_F(Simulated, aAndDWarningWithoutPresenter_goesToTheLogAsImportant)
{
    native->addPort(QStringLiteral("COM6"));
    install();
    Config config = configFor(Instrument::AND, QStringLiteral("COM6"));
    auto worker = omvara::reception::createWeightWorker(config, view);
    const auto warned = view.find(omvara::texts::WorkerTexts::text("and.error.not.connected"));
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_TRUE(warned[0].important);
}

// ---- Port detection

namespace {

struct DetectionRun
{
    RecordingDetectionView view;
    std::unique_ptr<AutoPortWorker> worker;
};

void detect(DetectionRun &run, const QStringList &ports)
{
    run.worker = std::make_unique<AutoPortWorker>(ports, run.view);
    run.worker->setSleeper([](std::chrono::milliseconds) { omvara::util::Interruption::sleep(1ms); });
    run.view.setButtonToCancel();
    run.worker->execute();
    ASSERT_TRUE(runUntilDone(*run.worker));
}

QStringList confidences(const QStringList &messages)
{
    QStringList c;
    const QString prefix = omvara::texts::WorkerTexts::text("confidence") + u' ';
    for (const QString &m : messages)
        if (m.startsWith(prefix))
            c.append(m.mid(prefix.size()));
    return c;
}

} // namespace

TEST_F(Simulated, detection_scoresEachWiringAndSelectsTheFirstBest)
{
    struct Port
    {
        const char *name;
        SimRule dsr;
        SimRule cts;
        const char *confidence;
    };
    const Port ports[] = {
        { "COM1", SimRule::Off, SimRule::Off, "0" },
        { "COM2", SimRule::Off, SimRule::On, "1" }, // CTS on only
        { "COM4", SimRule::FollowDTR, SimRule::FollowRTS, "2" }, // loop-back cable
        { "COM5", SimRule::FollowDTR, SimRule::Off, "1" },
        { "COM3", SimRule::On, SimRule::FollowRTS, "1" }, // would be 3, but COM3 counts as 1
        { "COM7", SimRule::On, SimRule::Off, "1" },
        { "COM8", SimRule::On, SimRule::FollowRTS, "3" }, // DSR on and following: a device
        { "COM9", SimRule::On, SimRule::On, "3" }, // a tie: the earlier port stays
    };
    QStringList names;
    for (const Port &p : ports) {
        auto &com = native->addPort(QString::fromLatin1(p.name));
        com.setLine(SimLine::DSR, p.dsr);
        com.setLine(SimLine::CTS, p.cts);
        names.append(QString::fromLatin1(p.name));
    }
    install();
    DetectionRun run;
    detect(run, names);
    QStringList expected;
    for (const Port &p : ports)
        expected.append(QString::fromLatin1(p.confidence));
    EXPECT_EQ(confidences(run.view.messages), expected);
    EXPECT_EQ(run.view.messages.first(), omvara::texts::WorkerTexts::text("auto.port.detection.started"));
    EXPECT_TRUE(run.view.messages.contains(
        omvara::texts::WorkerTexts::text("testing.port.0").replace("{0}", "COM4")));
    EXPECT_EQ(run.view.selected, QStringList { "COM8" });
    EXPECT_EQ(
        run.view.messages.last(), omvara::texts::WorkerTexts::text("best.port") + QStringLiteral(" COM8"));
    EXPECT_TRUE(run.view.emphasised.back());
    EXPECT_EQ(run.view.button, "Close");
    for (const Port &p : ports)
        EXPECT_FALSE(native->port(QString::fromLatin1(p.name))->isOpen()) << p.name;
}

TEST_F(Simulated, detection_allZero_reportsNoPortAndSelectsNothing)
{
    native->addPort(QStringLiteral("COM1"));
    native->addPort(QStringLiteral("COM2"));
    install();
    DetectionRun run;
    detect(run, { "COM1", "COM2" });
    EXPECT_EQ(confidences(run.view.messages), (QStringList { "0", "0" }));
    EXPECT_TRUE(run.view.selected.isEmpty());
    EXPECT_EQ(run.view.messages.last(), omvara::texts::WorkerTexts::text("could.not.auto.detect.port"));
    EXPECT_TRUE(run.view.emphasised.back());
}

TEST_F(Simulated, detection_aPortThatFails_isReportedAndSkipped)
{
    native->addPort(QStringLiteral("COM1")).failOpen(1002);
    auto &good = native->addPort(QStringLiteral("COM2"));
    good.setLine(SimLine::DSR, SimRule::FollowDTR);
    good.setLine(SimLine::CTS, SimRule::FollowRTS);
    install();
    DetectionRun run;
    detect(run, { "COM1", "COM2" });
    EXPECT_TRUE(run.view.messages.contains(QStringLiteral("COM1: SerOpenPort failed: Port is in use")));
    EXPECT_EQ(confidences(run.view.messages), QStringList { "2" });
    EXPECT_EQ(run.view.selected, QStringList { "COM2" });
}

TEST_F(Simulated, detection_cancelDuringTheThirdPort_selectsNothingAndSaysStopped)
{
    for (const char *name : { "COM1", "COM2", "COM4" }) {
        auto &com = native->addPort(QString::fromLatin1(name));
        com.setLine(SimLine::DSR, SimRule::On);
        com.setLine(SimLine::CTS, SimRule::FollowRTS);
    }
    install();
    RecordingDetectionView view;
    AutoPortWorker worker({ "COM1", "COM2", "COM4" }, view);
    // Two pauses per port on this wiring; the third port's first pause lasts
    // until the cancel ends it.
    std::atomic<int> pauses { 0 };
    worker.setSleeper([&](std::chrono::milliseconds) {
        omvara::util::Interruption::sleep(++pauses > 4 ? std::chrono::milliseconds(60s) : 1ms);
    });
    worker.execute();
    const QString third = omvara::texts::WorkerTexts::text("testing.port.0").replace("{0}", "COM4");
    ASSERT_TRUE(runUntil([&] { return view.messages.contains(third); }));
    EXPECT_TRUE(worker.cancel(true));
    ASSERT_TRUE(runUntilDone(worker));
    EXPECT_TRUE(view.selected.isEmpty());
    EXPECT_EQ(view.messages.last(), omvara::texts::WorkerTexts::text("stopped"));
    EXPECT_FALSE(native->port(QStringLiteral("COM4"))->isOpen());
}
