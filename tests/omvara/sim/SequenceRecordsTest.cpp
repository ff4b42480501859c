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
