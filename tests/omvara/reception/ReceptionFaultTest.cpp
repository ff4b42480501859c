// SPDX-License-Identifier: GPL-3.0-or-later
// Faults during a run, with the keyboard output attached as in a real run:
// the device vanishing mid-line and mid-run, Stop while values wait for the
// keyboard and while a line is half received, Stop while the port is opening.
// Every value must be typed at most once and in order; what is not typed is
// reported.
#include "ReceptionTestSupport.h"
#include "RunRecords.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Bundle.h"
#include "omvara/util/ProcessProperties.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"
#include "tests/support/RecordingKeyInjector.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace std::chrono_literals;
using namespace reception_test;
using namespace run_records;
using omvara::config::Config;
using omvara::outputs::Keybot;
using omvara::outputs::keys::KeyEvent;
using omvara::outputs::keys::RecordingKeyInjector;
using omvara::reception::WeightWorker;
using omvara::sim::PseudoTerminal;
using omvara::texts::WorkerTexts;
using Instrument = omvara::config::ConfigHelper::Instrument;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

// A run as the window makes it: every delivered value goes to the keyboard.
class TypingView : public RecordingView
{
public:
    Keybot *keybot = nullptr;
    void showDataLine(omvara::processing::DataLine &line) override
    {
        RecordingView::showDataLine(line);
        if (keybot)
            keybot->enqueue(line.getProcessedData());
    }
};

class ReceptionFault : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        setProgramProperties();
    }
    void TearDown() override { stopRun(); }

    // Starts a run on `port` with the keyboard output typing into the recorder.
    // With `slowKeys` each key event takes a millisecond, so the keyboard falls behind.
    void startRun(const QString &port, bool slowKeys = false)
    {
        view.clear();
        auto injector = std::make_unique<RecordingKeyInjector>();
        keys = injector.get();
        if (slowKeys)
            keys->onEvent([](const KeyEvent &) { std::this_thread::sleep_for(1ms); });
        keybot = std::make_unique<Keybot>(
            &view, KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, 0, std::move(injector));
        view.keybot = keybot.get();
        config = configFor(Instrument::GENERIC, port);
        worker = omvara::reception::createWeightWorker(config, view);
        keybot->start();
        worker->execute();
    }

    // Stop as the window does it: the worker is cancelled, then the keyboard output stops.
    void stopRun()
    {
        if (worker) {
            worker->cancel(true);
            EXPECT_TRUE(runUntilDone(*worker));
        }
        if (keybot) {
            keybot->stop();
            keybot->join();
        }
        // Lines handled after Stop reach a stopped keyboard output (reported, not typed).
        QCoreApplication::processEvents();
        worker.reset();
        view.keybot = nullptr;
    }

    // Waits until the keyboard has typed `count` values.
    bool waitTyped(qsizetype count)
    {
        return runUntil([&] { return typedValues(keys->events()).size() >= count; });
    }

    TypingView view;
    Config config;
    RecordingKeyInjector *keys = nullptr;
    std::unique_ptr<Keybot> keybot;
    std::unique_ptr<WeightWorker> worker;
};

} // namespace

// The device goes away in the middle of a line: the run ends by itself with
// one important "device lost" entry, the half line is reported as unsent data
// (never typed), every whole line was typed once, and a new run on a fresh
// device works at once.
TEST_F(ReceptionFault, deviceLostMidLine_endsTheRunWithItsMessage_halfLineReportedNotTyped_nextRunWorks)
{
    auto device = std::make_unique<PseudoTerminal>();
    startRun(device->devicePath());
    device->write("1 g\r2 g\r3");
    ASSERT_TRUE(device->waitUntilRead(5s));
    ASSERT_TRUE(waitTyped(2)) << qPrintable(view.values().join(u',')) << keys->events().size();
    std::this_thread::sleep_for(20ms); // several idle pauses: the "3" is in the line buffer
    device.reset(); // the device side closes: a hang-up for the port
    ASSERT_TRUE(runUntilDone(*worker));
    EXPECT_TRUE(worker->deviceWasLost());

    const auto lost = view.find(omvara::texts::WorkerTexts::text("device.lost"));
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_TRUE(lost[0].important);
    const auto unsent = view.find(omvara::texts::WorkerTexts::text("unsent.data"));
    ASSERT_EQ(unsent.size(), 1u);
    EXPECT_EQ(unsent[0].text, omvara::texts::WorkerTexts::text("unsent.data") + QStringLiteral(" 3"));
    EXPECT_TRUE(view.find(omvara::texts::WorkerTexts::text("stopped")).empty()) << "the run ended by itself";
    EXPECT_EQ(view.connectedChanges, (std::vector<bool> { true, false }));
    stopRun();
    EXPECT_EQ(typedValues(keys->events()), (QStringList { "1", "2" }));

    // The same path cannot come back for a pseudo-terminal; a fresh device
    // stands for the replugged one.
    PseudoTerminal fresh;
    startRun(fresh.devicePath());
    fresh.write("7 g\r");
    ASSERT_TRUE(waitTyped(1));
    stopRun();
    EXPECT_EQ(typedValues(keys->events()), QStringList { "7" });
    EXPECT_TRUE(view.find(omvara::texts::WorkerTexts::text("device.lost")).empty());
}

// The device goes away while it floods the port: whatever arrived is a
// prefix of what was sent, in order and without repeats, typed once each,
// and the half line (if it arrived) is a start of the next record.
TEST_F(ReceptionFault, deviceLostWhileFlooding_deliversAnInOrderPrefix_typedOnce)
{
    for (const int sent : { 400, 3000 }) {
        SCOPED_TRACE(sent);
        auto device = std::make_unique<PseudoTerminal>();
        startRun(device->devicePath());
        device->write(records(1, 50));
        ASSERT_TRUE(runUntil([&] { return view.lines.size() >= 20; }));
        device->write(records(51, sent) + QByteArray::number(sent + 1).left(2));
        device.reset(); // at once: the worker is somewhere in the stream
        ASSERT_TRUE(runUntilDone(*worker));
        EXPECT_TRUE(worker->deviceWasLost());
        EXPECT_EQ(view.find(omvara::texts::WorkerTexts::text("device.lost")).size(), 1u);

        const QStringList delivered = view.values();
        EXPECT_GE(delivered.size(), 20);
        EXPECT_EQ(delivered, numbers(1, int(delivered.size())));
        for (std::size_t i = 0; i < view.lines.size(); ++i)
            EXPECT_EQ(view.lines[i].getCount(), qint32(i + 1));
        const auto unsent = view.find(omvara::texts::WorkerTexts::text("unsent.data"));
        ASSERT_LE(unsent.size(), 1u);
        if (!unsent.empty()) {
            const QString rest
                = unsent[0].text.mid(omvara::texts::WorkerTexts::text("unsent.data").size() + 1);
            const QString next = QString::number(delivered.size() + 1) + QStringLiteral(" g<13>");
            EXPECT_TRUE(next.startsWith(rest)) << qPrintable(rest);
        }
        ASSERT_TRUE(waitTyped(delivered.size()));
        stopRun();
        EXPECT_EQ(typedValues(keys->events()), delivered);
    }
}

// Stop while values wait for the keyboard: the value being typed is finished,
// the waiting ones are dropped and reported with their number, nothing is
// typed twice or after Stop, and the next run types only its own values.
TEST_F(ReceptionFault, stopWithValuesQueued_finishesTheCurrentValue_dropsAndReportsTheRest)
{
    PseudoTerminal device;
    startRun(device.devicePath(), true);
    device.write(records(1, 60));
    ASSERT_TRUE(runUntil([&] { return view.lines.size() == 60; }));
    ASSERT_TRUE(waitTyped(1));
    stopRun();
    const QStringList typed = typedValues(keys->events());
    ASSERT_LT(typed.size(), 60) << "the keyboard was not behind; nothing was queued";
    EXPECT_EQ(typed, numbers(1, int(typed.size()))); // whole values, in order, once each
    EXPECT_EQ(droppedValues(view.important()), 60 - typed.size());
    EXPECT_EQ(keybot->waiting(), 0u);

    const qsizetype before = keys->events().size();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(keys->events().size(), std::size_t(before)) << "keys after Stop";

    startRun(device.devicePath());
    device.write("999 g\r");
    ASSERT_TRUE(waitTyped(1));
    stopRun();
    EXPECT_EQ(typedValues(keys->events()), QStringList { "999" });
}

// Stop while a line is half received: its characters are reported as unsent
// data and nothing of it is typed.
TEST_F(ReceptionFault, stopDuringAHalfLine_reportsItAsUnsent_andTypesNothingOfIt)
{
    PseudoTerminal device;
    startRun(device.devicePath());
    device.write("5 g\r61.2");
    ASSERT_TRUE(device.waitUntilRead(5s));
    ASSERT_TRUE(waitTyped(1));
    // Bytes read from the driver with the first line may not be in the line
    // buffer yet: allow for a busy machine.
    std::this_thread::sleep_for(300ms);
    stopRun();
    EXPECT_EQ(typedValues(keys->events()), QStringList { "5" });
    const auto unsent = view.find(omvara::texts::WorkerTexts::text("unsent.data"));
    ASSERT_EQ(unsent.size(), 1u);
    EXPECT_EQ(unsent[0].text, omvara::texts::WorkerTexts::text("unsent.data") + QStringLiteral(" 61.2"));
    EXPECT_TRUE(unsent[0].important);
    EXPECT_EQ(view.find(omvara::texts::WorkerTexts::text("stopped")).size(), 1u);
    EXPECT_EQ(droppedValues(view.important()), 0);
}
