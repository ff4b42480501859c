// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine on bad input through a real pseudo-terminal: binary
// noise, NUL and high bytes, a megabyte without a terminator, a terminator
// every byte, and lines that make the value pattern backtrack badly. Good
// records between them must still give exactly their values.
#include "ReceptionTestSupport.h"

#include "omvara/processing/LineProcessor.h"
#include "omvara/processing/ValueExtractor.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/util/ProcessProperties.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace std::chrono_literals;
using namespace reception_test;
using omvara::config::Config;
using omvara::processing::LineProcessor;
using omvara::reception::WeightWorker;
using omvara::sim::PseudoTerminal;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

// Values are taken only from "GOOD <n>"; noise never holds a "G".
const QString GoodPattern = QStringLiteral("GOOD ([0-9]+)");

QByteArray goodRecord(int n)
{
    return "GOOD " + QByteArray::number(n) + '\r';
}

// `length` random bytes 0-255 (NUL, CR and 0x80-0xFF included), never a "G".
QByteArray noise(int length, std::mt19937 &random)
{
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(length, '\0');
    for (char &b : bytes) {
        int c = byte(random);
        b = char(c == 'G' ? 'g' : c);
    }
    return bytes;
}

class ReceptionBadInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
        pty = std::make_unique<PseudoTerminal>();
        config = configFor(Instrument::GENERIC, pty->devicePath());
        config.setCustomRegEx(GoodPattern);
    }

    void start()
    {
        worker = omvara::reception::createWeightWorker(config, view);
        worker->execute();
    }

    // Writes `bytes` from another thread: the run may wait for this (event)
    // thread to take its lines before it reads on.
    void send(const QByteArray &bytes)
    {
        writer = std::thread([this, bytes] { pty->write(bytes); });
    }

    void TearDown() override
    {
        if (writer.joinable())
            writer.join();
    }

    // What the run must deliver for good records 1..count, each on its own.
    QStringList expectedValues(int count) const
    {
        const LineProcessor processor(config, true);
        QStringList values;
        for (int n = 1; n <= count; ++n)
            values.append(processor.process(QString::fromLatin1(goodRecord(n))).processedData);
        return values;
    }

    // The values delivered (lines without a value left out), once `count`
    // of them arrived; stops the run.
    QStringList valuesAfter(int count)
    {
        const auto nonEmpty = [&] {
            QStringList v = view.values();
            v.removeAll(QString());
            return v;
        };
        EXPECT_TRUE(runUntil([&] { return nonEmpty().size() >= count; }, 60s))
            << "got " << nonEmpty().size() << " of " << count;
        if (writer.joinable())
            writer.join();
        EXPECT_TRUE(pty->waitUntilRead(10s));
        runUntil([] { return false; }, 50ms);
        worker->cancel(true);
        EXPECT_TRUE(runUntilDone(*worker));
        return nonEmpty();
    }

    std::unique_ptr<PseudoTerminal> pty;
    Config config;
    RecordingView view;
    std::unique_ptr<WeightWorker> worker;
    std::thread writer;
};

} // namespace

// Binary noise (NUL, CR and 0x80-0xFF included) between good records: every
// good record gives exactly its value, once and in order, whatever the noise
// cut into lines before it.
TEST_F(ReceptionBadInput, binaryNoiseBetweenRecords_everyGoodRecordGivesExactlyItsValue)
{
    std::mt19937 random(7);
    start();
    const int records = 200;
    QByteArray stream;
    for (int n = 1; n <= records; ++n)
        stream += noise(int(random() % 700), random) + '\r' + goodRecord(n);
    send(stream);
    EXPECT_EQ(valuesAfter(records), expectedValues(records));
    EXPECT_TRUE(view.find(QStringLiteral("Error [WW]")).empty());
}

// NUL and high bytes inside the good records' own lines are ordinary characters.
TEST_F(ReceptionBadInput, nulAndHighBytesAroundTheValue_doNotHideIt)
{
    start();
    send(QByteArray("\0\0\xff\x80GOOD 1\r", 11) + QByteArray("\xfe\0GOOD 2\x80\0\r", 12) + goodRecord(3));
    EXPECT_EQ(valuesAfter(3), expectedValues(3));
}

// A megabyte without a terminator: the line buffer is capped (one important
// event for each full buffer, naming the terminator setting), and the good
// records that follow give exactly their values.
TEST_F(ReceptionBadInput, aMegabyteWithoutTerminator_isCappedAndReadingGoesOn)
{
    std::mt19937 random(11);
    start();
    QByteArray megabyte = noise(1024 * 1024, random);
    megabyte.replace('\r', 'x');
    send(megabyte + '\r' + goodRecord(1) + goodRecord(2));
    EXPECT_EQ(valuesAfter(2), expectedValues(2));
    const auto capped = view.find(QString::number(WeightWorker::MaxLineLength));
    EXPECT_EQ(capped.size(), std::size_t(1024 * 1024 / WeightWorker::MaxLineLength));
    for (const auto &entry : capped) {
        EXPECT_TRUE(entry.important);
        EXPECT_TRUE(entry.text.contains(QStringLiteral("13"))) << entry.text.toStdString();
    }
}

// A terminator in every byte: each is a line of its own (counted, no value),
// and the good records after them give exactly their values.
TEST_F(ReceptionBadInput, aTerminatorEveryByte_givesEmptyLinesAndThenTheValues)
{
    start();
    const int empties = 5000;
    send(QByteArray(empties, '\r') + goodRecord(1) + goodRecord(2));
    EXPECT_EQ(valuesAfter(2), expectedValues(2));
    ASSERT_EQ(view.lines.size(), std::size_t(empties + 2));
    EXPECT_EQ(view.lines.back().getCount(), empties + 2);
    EXPECT_TRUE(view.find(QStringLiteral("Error [WW]")).empty());
}

// Long lines on which the instrument's own pattern backtracks badly (blanks
// that almost make a number): each such line fails on its own with an
// important error naming the pattern, instead of stalling reception, and the
// good records around them give exactly their values.
TEST_F(ReceptionBadInput, linesThatBacktrackBadly_failOneByOne_andTheRecordsAroundThemArrive)
{
    config.setCustomRegEx(QString());
    const QString pattern = Instrument::GENERIC.getRegEx();
    start();
    const QByteArray costly = QByteArray(WeightWorker::MaxLineLength - 10, ' ') + '\r';
    const int costlyLines = 3;
    QByteArray stream = "1.5 g\r";
    for (int i = 0; i < costlyLines; ++i)
        stream += costly;
    stream += "2.5 g\r";
    send(stream);
    EXPECT_EQ(valuesAfter(2), (QStringList { "1.5", "2.5" }));
    const auto errors = view.find(QStringLiteral("Error [WW]"));
    ASSERT_EQ(errors.size(), std::size_t(costlyLines));
    for (const auto &e : errors) {
        EXPECT_TRUE(e.important);
        EXPECT_TRUE(e.text.contains(pattern)) << e.text.toStdString();
    }
}
