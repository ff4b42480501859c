// SPDX-License-Identifier: GPL-3.0-or-later
// Bad input end to end: a test-owned pseudo-terminal sends binary noise, a
// megabyte without a terminator, a terminator in every byte and lines that
// make the value pattern backtrack badly, with good records between them;
// `omvara --headless --print` must print exactly the good records' values.
#include "ProgramRun.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::portReady;
using headless_test::Program;
using omvara::sim::PseudoTerminal;

namespace {

// Random bytes 0-255 (NUL, CR and 0x80-0xFF included) without a "G", so that
// only the good records hold "GOOD".
QByteArray noise(int length, std::mt19937 &random)
{
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(length, '\0');
    for (char &b : bytes) {
        const int c = byte(random);
        b = char(c == 'G' ? 'g' : c);
    }
    return bytes;
}

} // namespace

TEST(HeadlessBadInput, noiseOverlongLinesAndTerminatorsBetweenRecords_printExactlyTheGoodValues)
{
    app();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::mt19937 random(42);
    int next = 0;
    QStringList expected;
    const auto good = [&] {
        ++next;
        expected.append(QString::number(next) + QStringLiteral(".25"));
        return "GOOD " + QByteArray::number(next) + ".25\r";
    };
    QByteArray stream;
    for (int i = 0; i < 50; ++i)
        stream += noise(int(random() % 500), random) + '\r' + good();
    QByteArray megabyte = noise(1024 * 1024, random);
    megabyte.replace('\r', '\n');
    stream += megabyte + '\r' + good();
    stream += QByteArray(20000, '\r') + good();
    stream += good();
    // Blanks that almost make a number: costly for the pattern, no value.
    stream += QByteArray(60000, ' ') + "GOOD\r" + good();

    PseudoTerminal device(false);
    Program program({ "--prefs-file", dir.filePath("prefs.txt"), "--headless", "--print", "--set",
        "customRegEx=\\s*GOOD\\s*([0-9.]+)", device.devicePath() });
    ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
    // Written from another thread while this one reads the program's output:
    // the program stops reading the port while its output waits to be read.
    std::thread writer([&] { device.write(stream); });
    EXPECT_TRUE(program.waitFor([&] { return program.lines().size() >= expected.size(); }, 60s))
        << qPrintable(program.err.right(2000));
    writer.join();
    ASSERT_TRUE(device.waitUntilRead(10s));
    program.signal(SIGTERM);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err.right(2000));
    EXPECT_EQ(program.lines().join(u' '), expected.join(u' ')) << qPrintable(program.err.right(2000));
    // The megabyte filled the line buffer 16 times; the costly line failed on its own.
    EXPECT_EQ(program.err.count(QStringLiteral("65536")), 16) << qPrintable(program.err.right(2000));
    EXPECT_EQ(program.err.count(QStringLiteral("Error [WW]")), 1) << qPrintable(program.err.right(2000));
    EXPECT_TRUE(program.err.contains(QStringLiteral("\\s*GOOD\\s*([0-9.]+)")))
        << qPrintable(program.err.right(2000));
}
