// SPDX-License-Identifier: GPL-3.0-or-later
// Counting records (`omvara --simulate ... --sequence`): every record carries
// its own number, which the instrument's processing gives back, so a long run
// can tell a lost, repeated or reordered record.
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/processing/LineProcessor.h"
#include "omvara/sim/InstrumentRecords.h"
#include "omvara/sim/InstrumentSimulator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using omvara::sim::InstrumentRecords;
using omvara::sim::InstrumentSimulator;
using Instrument = omvara::config::ConfigHelper::Instrument;
using InstrumentType = omvara::config::ConfigHelper::InstrumentType;

// Through the whole per-line chain with the instrument's default line end and
// no decimals (as a run with --set decimalPlaces=0 has it), every counting
// record gives back its number: small, with a carry, and wider than the
// fields of the usual readings.
TEST(SequenceRecords, everyInstrument_givesBackTheCountThroughItsOwnProcessing)
{
    const qint64 counts[] = { 1, 9, 10, 99, 100, 12345, 999999, 1000000, 9999999 };
    for (const Instrument *instrument : Instrument::values()) {
        omvara::config::Config config = instrument->getDefaultConfig();
        config.setInstrument(instrument);
        config.setDecimalPlaces(QStringLiteral("0"));
        const bool numbers = &instrument->getInstrumentType() != &InstrumentType::TEXT;
        const omvara::processing::LineProcessor processor(config, numbers);
        InstrumentSimulator simulator(instrument->name(), true);
        for (const qint64 count : counts) {
            const QByteArray record = InstrumentRecords::record(
                InstrumentRecords::countBody(instrument->name(), count), config.getInputTerminator());
            EXPECT_EQ(processor.process(QString::fromLatin1(record)).processedData, QString::number(count))
                << qPrintable(instrument->name()) << ": " << record.constData();
        }
        // The simulator's counting records are exactly these, from 1 on, with nothing before.
        const QList<QByteArray> first = simulator.firstRecords(3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(first[i],
                InstrumentRecords::record(
                    InstrumentRecords::countBody(instrument->name(), i + 1), config.getInputTerminator()))
                << qPrintable(instrument->name());
    }
}

// --interval 0 sends as fast as the port is read; a reader that stops
// reading with the terminal's buffer full must not hold the simulator after
// its stop signal (it used to wait in write() for ever).
TEST(SequenceRecords, commandLine_fullSpeedSequence_arrivesInOrder_andAStopEndsAWriteThatWaitsForTheReader)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE *out = ::fdopen(pipeFds[1], "w");
    std::FILE *err = std::tmpfile();
    int status = -1;
    std::thread simulator([&] {
        status = omvara::sim::runSimulator(
            { "--simulate", "GENERIC", "--interval", "0", "--sequence" }, out, err);
        std::fclose(out);
    });
    char path[256] = {};
    std::FILE *in = ::fdopen(pipeFds[0], "r");
    ASSERT_NE(std::fgets(path, sizeof path, in), nullptr);
    path[std::strcspn(path, "\n")] = 0;
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << path;
    QByteArray expected;
    for (int n = 1; n <= 2000; ++n)
        expected
            += InstrumentRecords::record(InstrumentRecords::countBody(QStringLiteral("GENERIC"), n), '\r');
    QByteArray got;
    while (got.size() < expected.size()) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 5000) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    EXPECT_EQ(got.left(expected.size()), expected);
    // Stop reading: the simulator fills the terminal's buffer and waits in write().
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(::getpid(), SIGINT); // caught by the simulator's handler
    simulator.join();
    ::close(fd);
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(status, 0);
}
