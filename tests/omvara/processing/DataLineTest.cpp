// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/DataLine.h"

#include <gtest/gtest.h>

using omvara::processing::DataLine;

namespace {

struct ControlCase
{
    QString text;
    QString expected;
};

class TransformControlChars : public ::testing::TestWithParam<ControlCase>
{
};

TEST_P(TransformControlChars, transformControlChars_printableKept_othersAsDecimalCode)
{
    EXPECT_EQ(DataLine::transformControlChars(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TransformControlChars,
    ::testing::Values(ControlCase { QStringLiteral("  12.30 kg\r\n"), QStringLiteral("  12.30 kg<13><10>") },
        ControlCase { QString(QChar(0xB0)), QStringLiteral("<176>") },
        ControlCase { QString(QChar(0xFF)), QStringLiteral("<255>") },
        ControlCase { QStringLiteral(" ~"), QStringLiteral(" ~") },
        ControlCase { QString(QChar(0x7F)), QStringLiteral("<127>") },
        ControlCase { QString(QChar(0x1F)), QStringLiteral("<31>") },
        ControlCase { QString(QChar(0)) + QStringLiteral("\tA"), QStringLiteral("<0><9>A") },
        ControlCase { QString(QChar(0x20AC)), QStringLiteral("<8364>") },
        ControlCase { QString::fromUtf8("\xF0\x9F\x98\x80"), QStringLiteral("<128512>") },
        ControlCase { QString(QChar(0xD800)) + u'x', QStringLiteral("<55296>x") },
        ControlCase { QString(), QString() }));

DataLine::Instant at(long long microseconds)
{
    return DataLine::Instant(std::chrono::microseconds(microseconds));
}

TEST(DataLine, getRawData_isTransformed_rawDataAsReceived)
{
    const DataLine line(QStringLiteral("  12.30 kg\r\n"), QStringLiteral("12.30"), 1, at(0), false);
    EXPECT_EQ(line.getRawData(), QStringLiteral("  12.30 kg<13><10>"));
    EXPECT_EQ(line.rawData(), QStringLiteral("  12.30 kg\r\n"));
    EXPECT_EQ(line.getProcessedData(), QStringLiteral("12.30"));
    EXPECT_EQ(line.getCount(), 1);
    EXPECT_FALSE(line.isError());
}

TEST(DataLine, hasValue_falseForEmptyOrNullValue)
{
    EXPECT_TRUE(DataLine(QStringLiteral("x\n"), QStringLiteral("0"), 1, at(0), false).hasValue());
    EXPECT_FALSE(DataLine(QStringLiteral("x\n"), QStringLiteral(""), 1, at(0), false).hasValue());
    EXPECT_FALSE(DataLine(QStringLiteral("x\n"), QString(), 1, at(0), false).hasValue());
    EXPECT_FALSE(DataLine().hasValue());
}

TEST(DataLine, copy_isIndependentOfLaterDeletion)
{
    DataLine line(QStringLiteral("7\r"), QStringLiteral("7"), 3, at(1234), true);
    const DataLine kept = line.copy();
    line.deleteProcessedData();
    EXPECT_FALSE(line.hasValue());
    EXPECT_TRUE(line.getProcessedData().isEmpty());
    EXPECT_EQ(kept.getProcessedData(), QStringLiteral("7"));
    EXPECT_EQ(kept.getCount(), 3);
    EXPECT_EQ(kept.getInstant(), at(1234));
    EXPECT_TRUE(kept.isError());
    EXPECT_EQ(kept.rawData(), QStringLiteral("7\r"));
}

TEST(DataLine, getDateTime_sameInstantInLocalTime)
{
    const DataLine line(QString(), QString(), 1, at(1'700'000'000'123'999), false);
    const QDateTime dt = line.getDateTime();
    EXPECT_EQ(dt.toMSecsSinceEpoch(), 1'700'000'000'123);
    EXPECT_EQ(dt.timeSpec(), Qt::LocalTime);
}

} // namespace
