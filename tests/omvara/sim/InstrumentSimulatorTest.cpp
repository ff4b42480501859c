// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/sim/InstrumentSimulator.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/LinePattern.h"
#include "omvara/sim/InstrumentRecords.h"

#include <gtest/gtest.h>

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
