// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine against real pseudo-terminals: what a device sends is
// written to the device side, the worker reads the port side.
#include "ReceptionTestSupport.h"

#include "omvara/processing/LineProcessor.h"
#include "omvara/reception/WeightWorkerBarcode.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/sim/InstrumentSimulator.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/ProcessProperties.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using namespace reception_test;
using omvara::config::Config;
using omvara::processing::DataLine;
using omvara::processing::LineProcessor;
using omvara::reception::WeightWorker;
using omvara::sim::InstrumentSimulator;
using omvara::sim::PseudoTerminal;
using omvara::texts::WorkerTexts;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

enum class Arrival { Whole, ByteByByte, SplitAcrossPauses };

const char *arrivalName(Arrival a)
{
    switch (a) {
    case Arrival::Whole:
        return "whole";
    case Arrival::ByteByByte:
        return "byte by byte";
    case Arrival::SplitAcrossPauses:
        return "split across pauses";
    }
    return "";
}

void send(PseudoTerminal &pty, const QList<QByteArray> &records, Arrival arrival)
{
    switch (arrival) {
    case Arrival::Whole:
        pty.write(records.join());
        break;
    case Arrival::ByteByByte:
        pty.writeSlowly(records.join(), 100us);
        break;
    case Arrival::SplitAcrossPauses:
        for (const QByteArray &record : records) {
            const qsizetype half = record.size() / 2;
            pty.write(record.left(half));
            std::this_thread::sleep_for(12ms); // longer than any idle pause
            pty.write(record.mid(half));
        }
        break;
    }
}

// Cuts a byte stream after every terminator byte; a rest without terminator is dropped.
QStringList cut(const QByteArray &stream, int terminator)
{
    QStringList lines;
    QString current;
    for (const char c : stream) {
        current += QChar(char16_t(quint8(c)));
        if (quint8(c) == terminator) {
            lines.append(current);
            current.clear();
        }
    }
    return lines;
}

class Reception : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
        pty = std::make_unique<PseudoTerminal>();
    }

    // Starts a run of the variant the instrument asks for.
    void start(Config &config)
    {
        worker = omvara::reception::createWeightWorker(config, view);
        worker->execute();
    }

    // Waits for `count` lines, then stops the run and waits for its end.
    void collectAndStop(std::size_t count)
    {
        EXPECT_TRUE(runUntil([&] { return view.lines.size() >= count; }))
            << "got " << view.lines.size() << " of " << count << " lines";
        stop();
    }

    void stop()
    {
        worker->cancel(true);
        ASSERT_TRUE(runUntilDone(*worker));
    }

    std::unique_ptr<PseudoTerminal> pty;
    RecordingView view;
    std::unique_ptr<WeightWorker> worker;
};

} // namespace

// Every instrument of the catalogue, its records arriving in one piece, byte by
// byte and split across idle pauses: each line is cut exactly at the terminator,
// counted from 1, and processed as the run's settings say.
TEST_F(Reception, everyInstrument_everyArrival_cutsLinesAtTheTerminatorAndProcessesEach)
{
    for (const Arrival arrival : { Arrival::Whole, Arrival::ByteByByte, Arrival::SplitAcrossPauses }) {
        for (const Instrument *instrument : Instrument::values()) {
            SCOPED_TRACE(std::string(qPrintable(instrument->name())) + ", " + arrivalName(arrival));
            view.clear();
            Config config = configFor(*instrument, pty->devicePath());
            InstrumentSimulator simulator(instrument->name());
            const QList<QByteArray> records = simulator.firstRecords(12);
            const QStringList expectedRaw = cut(records.join(), config.getInputTerminator());

            // A pseudo-terminal carries 8-bit characters without parity only
            // (the terminal layer refuses 7-bit and parity framing on it).
            config.setDataBits(omvara::config::ConfigHelper::DataBits::LN_8BITS.ordinal());
            config.setParity(omvara::config::ConfigHelper::Parity::NONE.ordinal());
            start(config);
            send(*pty, records, arrival);
            collectAndStop(std::size_t(expectedRaw.size()));

            const bool text
                = &instrument->getInstrumentType() == &omvara::config::ConfigHelper::InstrumentType::TEXT;
            LineProcessor oracle(config, !text);
            ASSERT_EQ(view.lines.size(), std::size_t(expectedRaw.size()));
            for (qsizetype i = 0; i < expectedRaw.size(); ++i) {
                const DataLine &line = view.lines[std::size_t(i)];
                EXPECT_EQ(line.rawData(), expectedRaw[i]);
                EXPECT_EQ(line.getCount(), i + 1);
                EXPECT_FALSE(line.isError());
                EXPECT_EQ(line.getProcessedData(), oracle.process(expectedRaw[i]).processedData);
            }
            EXPECT_TRUE(view.find(QStringLiteral("Error [WW]")).empty());
            EXPECT_TRUE(view.find(omvara::texts::WorkerTexts::text("unsent.data")).empty());
            EXPECT_EQ(view.connectedChanges, (std::vector<bool> { true, false }));
            worker.reset();
        }
    }
}

TEST_F(Reception, lineEnds_CR_LF_CRLF_withEitherTerminator)
{
    struct Case
    {
        const char *sent;
        int terminator;
        QStringList raw;
        const char *unsent; // what stays in the buffer at stop, "" for nothing
    };
    const Case cases[] = {
        { "12.5 g\r\n13.5 g\r\n", 10, { "12.5 g\r\n", "13.5 g\r\n" }, "" },
        { "12.5 g\r\n13.5 g\r\n", 13, { "12.5 g\r", "\n13.5 g\r" }, "<10>" },
        { "12.5 g\n13.5 g\n", 10, { "12.5 g\n", "13.5 g\n" }, "" },
        { "12.5 g\r13.5 g\r", 13, { "12.5 g\r", "13.5 g\r" }, "" },
        { "12.5 g\r13.5 g\r", 10, {}, "12.5 g<13>13.5 g<13>" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.sent) + " / " + std::to_string(c.terminator));
        view.clear();
        Config config = configFor(Instrument::GENERIC, pty->devicePath());
        config.setInputTerminator(c.terminator);
        start(config);
        pty->write(c.sent);
        ASSERT_TRUE(pty->waitUntilRead(5s));
        std::this_thread::sleep_for(30ms); // several idle pauses: the worker has taken every byte
        collectAndStop(std::size_t(c.raw.size()));
        ASSERT_EQ(view.lines.size(), std::size_t(c.raw.size()));
        for (qsizetype i = 0; i < c.raw.size(); ++i) {
            EXPECT_EQ(view.lines[std::size_t(i)].rawData(), c.raw[i]);
            EXPECT_EQ(view.lines[std::size_t(i)].getProcessedData(), i == 0 ? "12.5" : "13.5");
        }
        const auto unsent = view.find(omvara::texts::WorkerTexts::text("unsent.data"));
        if (QString::fromLatin1(c.unsent).isEmpty()) {
            EXPECT_TRUE(unsent.empty());
        } else {
            ASSERT_EQ(unsent.size(), 1u);
            EXPECT_EQ(unsent[0].text,
                omvara::texts::WorkerTexts::text("unsent.data") + u' ' + QString::fromLatin1(c.unsent));
            EXPECT_TRUE(unsent[0].important);
        }
        worker.reset();
    }
}

TEST_F(Reception, plainLineWithCRLF_givesTheDocumentedRecord)
{
    Config config = configFor(Instrument::GENERIC, pty->devicePath());
    config.setInputTerminator(10);
    start(config);
    pty->write("  12.30 kg\r\n");
    pty->write("\r\n"); // a line without a value is still delivered
    collectAndStop(2);
    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[0].rawData(), "  12.30 kg\r\n");
    EXPECT_EQ(view.lines[0].getRawData(), "  12.30 kg<13><10>");
    EXPECT_EQ(view.lines[0].getProcessedData(), "12.30");
    EXPECT_EQ(view.lines[0].getCount(), 1);
    EXPECT_FALSE(view.lines[1].hasValue());
    EXPECT_EQ(view.lines[1].getCount(), 2);
}

// A line that fails is reported and dropped with its characters; the next line
// is read on its own (kept, they would make every later line fail too).
TEST_F(Reception, aFailingLine_isReportedAndDropped_andTheNextLineStillDeliversItsValue)
{
    Config config = configFor(Instrument::GENERIC, pty->devicePath());
    config.setCustomRegEx(QStringLiteral("([0-9.]+)"));
    start(config);
    pty->write("12.3.4 g\r5.5 g\r6.25 g\r");
    collectAndStop(2);
    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[0].getProcessedData(), "5.5");
    EXPECT_EQ(view.lines[0].rawData(), "5.5 g\r");
    EXPECT_EQ(view.lines[0].getCount(), 2); // the failed line was counted
    EXPECT_EQ(view.lines[1].getProcessedData(), "6.25");
    const auto errors = view.find(QStringLiteral("Error [WW]: "));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].important);
    EXPECT_TRUE(errors[0].text.startsWith(QStringLiteral("Error [WW]: ")));
    EXPECT_GT(errors[0].text.size(), 13);
}

TEST_F(Reception, textInstrument_keepsTheValueAsExtracted)
{
    Config config = configFor(Instrument::BARCODE, pty->devicePath());
    config.setCustomRegEx(QStringLiteral("([A-Z0-9 ]+)"));
    start(config);
    ASSERT_NE(dynamic_cast<omvara::reception::WeightWorkerBarcode *>(worker.get()), nullptr);
    pty->write("AB 12\r 0042\r");
    collectAndStop(2);
    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[0].getProcessedData(), "AB 12");
    EXPECT_EQ(view.lines[1].getProcessedData(), " 0042");
}

TEST_F(Reception, bytesWithoutTerminatorAtStop_areReportedAsUnsentAndThePortIsClosed)
{
    Config config = configFor(Instrument::GENERIC, pty->devicePath());
    start(config);
    pty->write("1.5 g\r12.3\x01");
    ASSERT_TRUE(pty->waitUntilRead(5s));
    // Read from the driver is not yet in the line buffer: allow for a busy machine.
    std::this_thread::sleep_for(300ms);
    collectAndStop(1);
    const auto unsent = view.find(omvara::texts::WorkerTexts::text("unsent.data"));
    ASSERT_EQ(unsent.size(), 1u);
    EXPECT_EQ(unsent[0].text, omvara::texts::WorkerTexts::text("unsent.data") + QStringLiteral(" 12.3<1>"));
    EXPECT_TRUE(unsent[0].important);
    EXPECT_EQ(view.find(omvara::texts::WorkerTexts::text("stopped")).size(), 1u);
    EXPECT_EQ(view.connectedChanges, (std::vector<bool> { true, false }));
    // Closed: a new run can open the same port at once.
    RecordingView second;
    auto again = omvara::reception::createWeightWorker(config, second);
    again.reset();
}

// A line over the limit is dropped whole: its tail up to the next terminator
// is no record (its " 99" was once typed), the next line is.
TEST_F(Reception, anOverlongLine_isDroppedUpToItsTerminator_withAnImportantEvent_andReadingGoesOn)
{
    Config config = configFor(Instrument::GENERIC, pty->devicePath());
    config.setInputTerminator(10);
    start(config);
    pty->write("W 12.5 kg " + QByteArray(70000, 'x') + " 99\n" + "3.5\n");
    collectAndStop(1);
    const auto capped = view.find(QString::number(WeightWorker::MaxLineLength));
    ASSERT_EQ(capped.size(), 1u);
    EXPECT_TRUE(capped[0].important);
    EXPECT_TRUE(capped[0].text.contains(QStringLiteral("(code 10)"))) << capped[0].text.toStdString();
    EXPECT_EQ(view.values(), QStringList { "3.5" });
    EXPECT_EQ(view.lines[0].rawData(), "3.5\n");
    EXPECT_EQ(view.lines[0].getCount(), 1);
    EXPECT_TRUE(view.find(omvara::texts::WorkerTexts::text("unsent.data")).empty());
}

TEST_F(Reception, aVanishingDevice_endsTheRunWithAnImportantEntry)
{
    Config config = configFor(Instrument::GENERIC, pty->devicePath());
    start(config);
    pty->write("1.5 g\r2.5");
    ASSERT_TRUE(pty->waitUntilRead(5s));
    ASSERT_TRUE(runUntil([&] { return view.lines.size() == 1; }));
    pty.reset(); // the device side closes: a hang-up for the port
    ASSERT_TRUE(runUntilDone(*worker));
    EXPECT_TRUE(worker->deviceWasLost());
    const auto lost = view.find(omvara::texts::WorkerTexts::text("device.lost"));
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_TRUE(lost[0].important);
    EXPECT_EQ(view.find(omvara::texts::WorkerTexts::text("unsent.data")).size(), 1u);
    EXPECT_EQ(view.connectedChanges, (std::vector<bool> { true, false }));
}

TEST_F(Reception, noPort_failsWithTheNullPortText_andOpensNothing)
{
    Config config = configFor(Instrument::GENERIC, QString());
    try {
        omvara::reception::createWeightWorker(config, view);
        FAIL() << "no error";
    } catch (const std::exception &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), omvara::texts::WorkerTexts::text("null.port.error"));
    }
    EXPECT_TRUE(view.connectedChanges.empty());
}

TEST_F(Reception, aPortThatCannotBeOpened_failsWithThePortLibrarysMessage)
{
    Config config = configFor(Instrument::GENERIC, QStringLiteral("/dev/omvara-no-such-port"));
    try {
        omvara::reception::createWeightWorker(config, view);
        FAIL() << "no error";
    } catch (const std::exception &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(
            QStringLiteral("/dev/omvara-no-such-port: SerOpenPort failed: ")))
            << e.what();
    }
    EXPECT_TRUE(view.connectedChanges.empty());
}
