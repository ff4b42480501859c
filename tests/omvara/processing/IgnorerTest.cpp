// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/Ignorer.h"

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"

#include <gtest/gtest.h>

#include <vector>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::processing::DataLine;
using omvara::processing::Ignorer;
using omvara::util::Decimal;

namespace {

DataLine lineAt(const QString &value, long long microseconds, qint32 count = 1)
{
    return DataLine(value + QStringLiteral("\r\n"), value, count,
        DataLine::Instant(std::chrono::microseconds(microseconds)), false);
}

struct Arrival
{
    const char *value;
    long long ms;
    bool typed;
};

struct SequenceCase
{
    const char *name;
    const char *timeLimit;
    const char *difference;
    const ConfigHelper::Instrument *instrument;
    std::vector<Arrival> arrivals;
};

class IgnorerSequence : public ::testing::TestWithParam<SequenceCase>
{
};

TEST_P(IgnorerSequence, process_suppressesRepeatsWithinTimeAndDifference)
{
    const SequenceCase &c = GetParam();
    Config config;
    config.setInstrument(*c.instrument);
    config.setIgnoreTimeLimit(QString::fromLatin1(c.timeLimit));
    config.setIgnoreDifference(QString::fromLatin1(c.difference));
    Ignorer ignorer(config);
    qint32 count = 0;
    for (const Arrival &a : c.arrivals) {
        DataLine line = lineAt(QString::fromLatin1(a.value), a.ms * 1000, ++count);
        ignorer.process(line);
        EXPECT_EQ(line.hasValue(), a.typed)
            << c.name << ": line " << count << " (" << a.value << " at " << a.ms << " ms)";
        if (a.typed) {
            EXPECT_EQ(line.getProcessedData(), QString::fromLatin1(a.value));
        }
    }
}

const ConfigHelper::Instrument *const kNumber = &ConfigHelper::Instrument::GENERIC;
const ConfigHelper::Instrument *const kText = &ConfigHelper::Instrument::BARCODE;

INSTANTIATE_TEST_SUITE_P(Table, IgnorerSequence,
    ::testing::Values(SequenceCase { "within time", "500", "", kNumber,
                          { { "12.30", 0, true }, { "12.30", 400, false }, { "12.30", 800, false } } },
        SequenceCase { "beyond time", "500", "", kNumber, { { "12.30", 0, true }, { "12.30", 600, true } } },
        SequenceCase {
            "exactly the limit", "500", "", kNumber, { { "12.30", 0, true }, { "12.30", 500, false } } },
        SequenceCase { "no limit", "", "", kNumber,
            { { "12.30", 0, true }, { "12.30", 3'600'000, false }, { "12.31", 3'600'001, true } } },
        SequenceCase {
            "unparseable limit is none", "abc", "", kNumber, { { "7", 0, true }, { "7", 99'999, false } } },
        SequenceCase {
            "difference inside", "", "0.05", kNumber, { { "12.30", 0, true }, { "12.34", 10, false } } },
        SequenceCase {
            "difference at the edge", "", "0.05", kNumber, { { "12.30", 0, true }, { "12.35", 10, false } } },
        SequenceCase {
            "difference outside", "", "0.05", kNumber, { { "12.30", 0, true }, { "12.36", 10, true } } },
        SequenceCase { "difference with commas", "", "0.05", kNumber,
            { { "12,30", 0, true }, { "12,34", 10, false }, { "12,40", 20, true } } },
        SequenceCase { "difference is symmetric", "", "0.05", kNumber,
            { { "12.34", 0, true }, { "12.30", 10, false } } },
        SequenceCase { "exact text compare", "", "", kNumber,
            { { "12.3", 0, true }, { "12.30", 10, true }, { "12.30", 20, false } } },
        SequenceCase { "comma difference setting is unparseable", "", "0,5", kNumber,
            { { "12.3", 0, true }, { "12.4", 10, true } } },
        SequenceCase { "text instrument compares exactly", "", "0.5", kText,
            { { "12.3", 0, true }, { "12.4", 10, true }, { "12.4", 20, false } } },
        // Each value is compared with its predecessor, so a slow drift stays suppressed.
        SequenceCase { "drift follows predecessor", "", "0.05", kNumber,
            { { "12.30", 0, true }, { "12.34", 10, false }, { "12.38", 20, false },
                { "12.42", 30, false } } },
        SequenceCase { "time and difference both needed", "500", "0.05", kNumber,
            { { "1.00", 0, true }, { "1.02", 100, false }, { "1.03", 700, true }, { "1.20", 800, true } } },
        SequenceCase { "non-number values never within a difference", "", "0.05", kNumber,
            { { "abc", 0, true }, { "abc", 10, true } } }));

TEST(Ignorer, process_lineWithoutValue_neitherSuppressedNorRemembered)
{
    Ignorer ignorer(0, Decimal());
    DataLine first = lineAt(QStringLiteral("5"), 0);
    ignorer.process(first);
    DataLine empty = lineAt(QStringLiteral(""), 10);
    ignorer.process(empty);
    EXPECT_FALSE(empty.hasValue());
    ASSERT_TRUE(ignorer.getLastData().has_value());
    EXPECT_EQ(ignorer.getLastData()->getProcessedData(), QStringLiteral("5"));
    DataLine again = lineAt(QStringLiteral("5"), 20);
    ignorer.process(again);
    EXPECT_FALSE(again.hasValue());
    // lastData keeps its value even though the line itself was cleared.
    EXPECT_EQ(ignorer.getLastData()->getProcessedData(), QStringLiteral("5"));
    EXPECT_EQ(ignorer.getLastData()->getInstant(), again.getInstant());
}

TEST(Ignorer, inTime_countsWholeMillisecondsRemainderDropped)
{
    Ignorer ignorer(500, Decimal());
    DataLine first = lineAt(QStringLiteral("1"), 0);
    ignorer.process(first);
    EXPECT_TRUE(ignorer.inTime(lineAt(QStringLiteral("1"), 500'999))); // 500.999 ms counts as 500
    EXPECT_FALSE(ignorer.inTime(lineAt(QStringLiteral("1"), 501'000)));
}

TEST(Ignorer, construction_readsSettings)
{
    Config config;
    config.setInstrument(ConfigHelper::Instrument::GENERIC);
    config.setIgnoreTimeLimit(QStringLiteral("250"));
    config.setIgnoreDifference(QStringLiteral("0.010"));
    const Ignorer ignorer(config);
    EXPECT_EQ(ignorer.getTimeLimit(), 250);
    EXPECT_TRUE(ignorer.getDifference().identicalTo(Decimal::parse("0.010")));
    EXPECT_FALSE(ignorer.getLastData().has_value());

    config.setInstrument(ConfigHelper::Instrument::BARCODE);
    EXPECT_EQ(Ignorer(config).getDifference().signum(), 0);
}

} // namespace
