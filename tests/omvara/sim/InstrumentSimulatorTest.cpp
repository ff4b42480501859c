// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/sim/InstrumentSimulator.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/LinePattern.h"
#include "omvara/sim/InstrumentRecords.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using omvara::config::LinePattern;
using omvara::sim::InstrumentRecords;
using omvara::sim::InstrumentSimulator;
using Instrument = omvara::config::ConfigHelper::Instrument;

// Every record the simulator sends ends with the instrument's own terminator,
// so a run with the instrument's default settings completes every record.
TEST(InstrumentSimulator, everyInstrument_endsEveryRecordWithItsDefaultTerminator)
{
    for (const Instrument *instrument : Instrument::values()) {
        InstrumentSimulator simulator(instrument->name());
        const int terminator = instrument->getDefaultConfig().getInputTerminator();
        EXPECT_EQ(simulator.terminator(), terminator) << qPrintable(instrument->name());
        for (const QByteArray &record : simulator.firstRecords(30)) {
            ASSERT_FALSE(record.isEmpty());
            EXPECT_EQ(quint8(record.back()), terminator)
                << qPrintable(instrument->name()) << " " << record.constData();
        }
    }
}

// The simulated readings must be what the instrument's own pattern finds a
// value in; otherwise the simulator would only show "ignored" lines.
TEST(InstrumentSimulator, everyReadingButAnOverload_yieldsAValueWithTheInstrumentsPattern)
{
    for (const Instrument *instrument : Instrument::values()) {
        const QRegularExpression pattern = LinePattern::compile(instrument->getRegEx());
        ASSERT_TRUE(pattern.isValid()) << qPrintable(instrument->name());
        for (const omvara::sim::Reading &reading : InstrumentRecords::readingCycle(instrument->name())) {
            const QByteArray body = InstrumentRecords::format(instrument->name(), reading);
            const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(body));
            if (reading.overload)
                continue;
            EXPECT_TRUE(
                match.hasMatch() && !match.captured(instrument->getCaptureGroup()).trimmed().isEmpty())
                << qPrintable(instrument->name()) << ": " << body.constData();
        }
    }
}

TEST(InstrumentSimulator, startsWithTheCatalogueSamplesThenCyclesReadings)
{
    InstrumentSimulator simulator(QStringLiteral("KEYENCE_IL"));
    const QList<QByteArray> records = simulator.firstRecords(4);
    EXPECT_EQ(records[0], QByteArray("DR,08,-99.998\r\n")); // the sample's CR gets its LF
    EXPECT_EQ(records[3], QByteArray("DR,02,+12.345\r\n"));
    EXPECT_THROW(InstrumentSimulator(QStringLiteral("NO_SUCH_SCALE")), std::invalid_argument);
}

TEST(InstrumentSimulator, commandLine_refusesBadArgumentsWithStatus2)
{
    struct Case
    {
        QStringList args;
    };
    const Case cases[] = {
        { { "--simulate" } },
        { { "--simulate", "NO_SUCH_SCALE" } },
        { { "--simulate", "SARTORIUS", "--interval", "soon" } },
        { { "--simulate", "SARTORIUS", "--count", "-1" } },
        { { "--simulate", "SARTORIUS", "--colour", "red" } },
    };
    for (const Case &c : cases) {
        std::FILE *sink = std::tmpfile();
        EXPECT_EQ(omvara::sim::runSimulator(c.args, sink, sink), 2) << qPrintable(c.args.join(u' '));
        std::fclose(sink);
    }
}

TEST(InstrumentSimulator, commandLine_printsThePathThenSendsCountRecordsOnceThePortIsOpen)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE *out = ::fdopen(pipeFds[1], "w");
    std::FILE *err = std::tmpfile();
    int status = -1;
    std::thread simulator([&] {
        status = omvara::sim::runSimulator(
            { "--simulate", "SARTORIUS", "--interval", "5", "--count", "3" }, out, err);
        std::fclose(out);
    });
    char path[256] = {};
    std::FILE *in = ::fdopen(pipeFds[0], "r");
    ASSERT_NE(std::fgets(path, sizeof path, in), nullptr);
    path[std::strcspn(path, "\n")] = 0;
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << path;
    QByteArray got;
    const QList<QByteArray> expected = InstrumentSimulator(QStringLiteral("SARTORIUS")).firstRecords(3);
    const QByteArray all = expected.join();
    while (got.size() < all.size()) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 3000) <= 0)
            break;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    simulator.join();
    ::close(fd);
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(got, all);
}
