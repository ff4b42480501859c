// SPDX-License-Identifier: GPL-3.0-or-later
// The program end to end without a window: a device (a test-owned
// pseudo-terminal or the built-in simulator) sends records, `omvara --headless
// --print` reads them and prints the values on its standard output.
#include "ProgramRun.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::portReady;
using headless_test::Program;
using omvara::sim::PseudoTerminal;

namespace {

class Headless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
    }
    // Keeps every run away from the user's own settings.
    QStringList storeArgs() const { return { "--prefs-file", dir.filePath("prefs.txt") }; }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Headless, recordsThroughThePort_printTheProcessedValues_forSeveralInstrumentsAndSettings)
{
    struct Case
    {
        const char *name;
        QStringList settings;
        QByteArray sent;
        QStringList printed;
    };
    const Case cases[] = {
        { "Sartorius, 2 places", { "instrument=SARTORIUS", "inputTerminator=10", "decimalPlaces=2" },
            "+    12.345 g  \r\n-      1.230 g  \r\n    High        \r\n+    100.5 g  \r\n",
            { "12.35", "-1.23", "100.5" } },
        { "generic, times 1000, comma, 1 place",
            { "mathOperation=MULTIPLY", "mathOperand=1000", "decimalPlaces=1", "decimalSeparator=COMMA" },
            "    0.5 kg\r  1,2345 kg\r", { "500,0", "1234,5" } },
        { "Kern MPS, LF", { "instrument=KERN_MPS", "inputTerminator=10" },
            "N  60.24 kg\r\nNET  WEIGHT  3.3kg\r\nG  1.0 kg\r\n", { "60.24", "3.3" } },
        { "barcode reader, text as read", { "instrument=BARCODE_ALPHA" }, "LOT42X\rlot\rA1 B2\r",
            { "LOT42X", "A1" } },
        { "repeats suppressed", { "ignoreDuplicates=true" }, "12.5 g\r12.5 g\r13 g\r12.5 g\r",
            { "12.5", "13", "12.5" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PseudoTerminal device(false);
        QStringList args = storeArgs() + QStringList { "--headless", "--print" };
        for (const QString &s : c.settings)
            args << "--set" << s;
        args << device.devicePath();
        Program program(args);
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        device.write(c.sent);
        EXPECT_TRUE(program.waitForLines(int(c.printed.size()))) << qPrintable(program.err);
        ASSERT_TRUE(device.waitUntilRead(5s));
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), c.printed) << qPrintable(program.err);
        EXPECT_FALSE(program.err.contains(QStringLiteral("Error [WW]"))) << qPrintable(program.err);
    }
}

TEST_F(Headless, simulatorToHeadless_printsTheSimulatedValues_andTheEndOfTheDeviceEndsTheRun)
{
    Program simulator({ "--simulate", "KEYENCE_IL", "--interval", "20", "--count", "5" });
    ASSERT_TRUE(simulator.waitForLines(1)) << qPrintable(simulator.err);
    const QString path = simulator.lines().first();
    Program reader(storeArgs()
        + QStringList {
            "--headless", "--print", "--set", "instrument=KEYENCE_IL", "--set", "inputTerminator=10", path });
    EXPECT_EQ(simulator.finish(30s), 0) << qPrintable(simulator.err);
    EXPECT_EQ(reader.finish(), 1) << qPrintable(reader.err); // the device went away
    EXPECT_EQ(reader.lines(), (QStringList { "-99.998", "123.567", "12.345", "12.346" }))
        << qPrintable(reader.err);
    EXPECT_TRUE(reader.err.contains(QStringLiteral("device was lost"))) << qPrintable(reader.err);
}

TEST_F(Headless, stopBySignal_reportsUnsentDataAndExitsZero)
{
    for (const int sig : { SIGINT, SIGTERM }) {
        PseudoTerminal device(false);
        Program program(storeArgs() + QStringList { "--headless", "--print", device.devicePath() });
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        device.write("1.5 g\r2.7");
        ASSERT_TRUE(program.waitForLines(1));
        ASSERT_TRUE(device.waitUntilRead(5s));
        // The port may have taken "2.7" from the driver together with the
        // first line and not yet handed it to the line buffer; a Stop in
        // between drops it like bytes still waiting in the driver. Give the
        // reader time to take it.
        std::this_thread::sleep_for(300ms);
        program.signal(sig);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), QStringList { "1.5" });
        EXPECT_TRUE(program.err.contains(QStringLiteral(" 2.7\n"))) << qPrintable(program.err);
        EXPECT_TRUE(program.err.contains(QStringLiteral("Stopped."))) << qPrintable(program.err);
    }
}

// The context switches of every thread of process `pid` so far: each is a
// wake-up of a thread (or its preemption while awake).
static long contextSwitches(qint64 pid)
{
    long total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.contains("ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    }
    return total;
}

// An open port on which nothing arrives costs nothing: every thread of the
// program sleeps until a record comes or the run is stopped (a reader that
// polled the port would wake hundreds of times a second), and both end the
// sleep at once.
TEST_F(Headless, idleRun_sleepsWithoutWakingUp_untilARecordOrAStopComes)
{
    PseudoTerminal device(false);
    Program program(storeArgs() + QStringList { "--headless", "--print", device.devicePath() });
    ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
    std::this_thread::sleep_for(300ms); // the start-up settles
    const long before = contextSwitches(program.pid());
    std::this_thread::sleep_for(2s);
    const long wakeUps = contextSwitches(program.pid()) - before;
    EXPECT_LT(wakeUps, 10) << "wake-ups in 2 s of an idle run";

    device.write("4.5 g\r");
    EXPECT_TRUE(program.waitForLines(1)) << qPrintable(program.err);
    const auto stop = std::chrono::steady_clock::now();
    program.signal(SIGTERM);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 2s);
    EXPECT_EQ(program.lines(), QStringList { "4.5" });
}

TEST_F(Headless, badSettingsAndPorts_endWithTheirStatus)
{
    {
        PseudoTerminal device(false);
        Program program(storeArgs()
            + QStringList { "--headless", "--print", "--set", "inputTerminator=300", device.devicePath() });
        EXPECT_EQ(program.finish(), 2);
        EXPECT_TRUE(program.err.contains(QStringLiteral("inputTerminator"))) << qPrintable(program.err);
        EXPECT_FALSE(program.err.contains(portReady)); // refused before any port was opened
        EXPECT_TRUE(program.out.isEmpty());
    }
    {
        Program program(storeArgs() + QStringList { "--headless", "--print", "--bogus" });
        EXPECT_EQ(program.finish(), 2);
    }
    // Settings refused before the port opens, each with its reason: a value
    // longer than the store holds (for any key), a record file that cannot
    // be opened.
    struct Refused
    {
        QString assignment;
        QString reason;
    };
    const Refused refused[] = {
        { "customRegEx=" + QString(9000, u'x'), "at most 8192" },
        { "port=" + QString(9000, u'x'), "at most 8192" },
        { "recordFile=" + dir.filePath("missing/records.csv"),
            "The record file " + dir.filePath("missing/records.csv")
                + " cannot be opened (No such file or directory)" },
    };
    for (const Refused &r : refused) {
        PseudoTerminal device(false);
        Program program(storeArgs()
            + QStringList { "--headless", "--print", "--set", r.assignment, device.devicePath() });
        EXPECT_EQ(program.finish(), 2) << qPrintable(program.err.left(300));
        EXPECT_TRUE(program.err.contains(r.reason)) << qPrintable(program.err.left(300));
        EXPECT_FALSE(program.err.contains(portReady)) << qPrintable(program.err.left(300));
        EXPECT_TRUE(program.out.isEmpty());
    }
    {
        // One hotkey cannot ask two connections for readings.
        PseudoTerminal one(false), two(false);
        Program program(storeArgs()
            + QStringList { "--headless", "--print", "--set", "requestHotkey=F9", "--connection",
                "a=" + one.devicePath(), "--connection", "b=" + two.devicePath() });
        EXPECT_EQ(program.finish(), 2) << qPrintable(program.err);
        EXPECT_TRUE(
            program.err.contains("connections \"a\" and \"b\" both ask for readings with the hotkey F9"))
            << qPrintable(program.err);
        EXPECT_FALSE(program.err.contains(portReady)) << qPrintable(program.err);
    }
    {
        Program program(storeArgs() + QStringList { "--headless", "--print", "/dev/omvara-no-such-port" });
        EXPECT_EQ(program.finish(), 1);
        EXPECT_TRUE(program.err.contains(QStringLiteral("/dev/omvara-no-such-port: SerOpenPort failed: ")))
            << qPrintable(program.err);
        EXPECT_TRUE(program.out.isEmpty()) << qPrintable(program.out);
    }
}

// A user's pattern means what it means in its dialect, from the command line
// to the printed value: (?m) lines end at CR LF too, a refused construct is
// named, and a POSIX class name inside a class is noted once.
TEST_F(Headless, customPatterns_readAsTheirDialect_endToEnd)
{
    {
        PseudoTerminal device(false);
        Program program(storeArgs()
            + QStringList { "--headless", "--print", "--set", "inputTerminator=4", "--set",
                "customRegEx=(?m)^NET\\s+([\\d.]+)$", device.devicePath() });
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        device.write("GROSS 13.0\r\nNET 12.5\r\n\x04NET 7\r\x04");
        EXPECT_TRUE(program.waitForLines(2)) << qPrintable(program.err);
        ASSERT_TRUE(device.waitUntilRead(5s));
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), (QStringList { "12.5", "7" })) << qPrintable(program.err);
    }
    for (const char *refused : { "customRegEx=a{,3}(\\d)", "customRegEx=(?U)(\\w+)" }) {
        Program program(storeArgs()
            + QStringList { "--headless", "--print", "--set", refused, "/dev/omvara-no-such-port" });
        EXPECT_EQ(program.finish(), 2);
        const QString construct
            = QByteArrayView(refused).contains("{,3}") ? QStringLiteral("\"{,3}\"") : QStringLiteral("\"U\"");
        EXPECT_TRUE(program.err.contains(
            QStringLiteral("for setting customRegEx: The pattern cannot be used as written: ") + construct))
            << qPrintable(program.err);
    }
    {
        PseudoTerminal device(false);
        Program program(storeArgs()
            + QStringList {
                "--headless", "--print", "--set", "customRegEx=([[:digit:]]+)", device.devicePath() });
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_EQ(program.err.count(QStringLiteral("\\p{Digit}")), 1) << qPrintable(program.err);
    }
}

TEST_F(Headless, listAndDetect_workOnTheNamedPseudoTerminals)
{
    PseudoTerminal first(false);
    PseudoTerminal second(false);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SERIAL_PORT_LIST"), first.devicePath() + u':' + second.devicePath());
    {
        Program program(storeArgs() + QStringList { "--list-ports" }, env);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        const QStringList lines = program.lines();
        ASSERT_EQ(lines.size(), 2) << qPrintable(program.out);
        EXPECT_TRUE(lines[0].contains(first.devicePath()));
        EXPECT_TRUE(lines[1].contains(second.devicePath()));
    }
    {
        // Pseudo-terminals have no handshake lines: nothing answers.
        Program program(storeArgs() + QStringList { "--detect" }, env);
        EXPECT_EQ(program.finish(30s), 1) << qPrintable(program.err);
        EXPECT_TRUE(program.out.contains(first.devicePath()));
        EXPECT_TRUE(program.out.contains(second.devicePath()));
        EXPECT_EQ(program.out.count(QStringLiteral("Confidence: 0")), 2) << qPrintable(program.out);
        EXPECT_TRUE(program.lines().last().startsWith(QStringLiteral("Could not detect")))
            << qPrintable(program.out);
    }
}

// Two connections in one headless run, each on its pseudo-terminal with its
// own stamp: values print as NAME<TAB>VALUE and the record file names each
// row's connection; a third connection on the first one's port (through a
// link) is refused while the others go on; one device going away ends that
// connection alone; SIGINT then stops the other and the exit status is 0.
TEST_F(Headless, twoConnections_printNamedValues_eachEndsAlone)
{
    std::optional<PseudoTerminal> scale(std::in_place, false);
    PseudoTerminal gauge(false);
    const QString link = dir.filePath(QStringLiteral("scale-link"));
    ASSERT_TRUE(QFile::link(scale->devicePath(), link));
    const QString record = dir.filePath(QStringLiteral("rows.csv"));
    Program program(storeArgs()
        + QStringList { "--headless", "--print", "--set", "recordFile=" + record, "--set",
            "g_2:stampAfter= mm", "--connection", "bal-1=" + scale->devicePath(), "--connection",
            "g_2=" + gauge.devicePath(), "--connection", "again=" + link });
    ASSERT_TRUE(program.waitFor([&] { return program.err.count(headless_test::portReady) >= 2; }))
        << qPrintable(program.err);
    ASSERT_TRUE(program.waitForLog(QStringLiteral("is in use by the connection \"bal-1\"")))
        << qPrintable(program.err);
    scale->write("1.5 g\r");
    ASSERT_TRUE(program.waitForLines(1)) << qPrintable(program.err);
    gauge.write("2.25 g\r");
    ASSERT_TRUE(program.waitForLines(2)) << qPrintable(program.err);
    scale.reset(); // unplugged
    ASSERT_TRUE(program.waitForLog(QStringLiteral("[bal-1] The serial device was lost")))
        << qPrintable(program.err);
    std::this_thread::sleep_for(300ms);
    gauge.write("3 g\r");
    ASSERT_TRUE(program.waitForLines(3)) << qPrintable(program.err);
    ASSERT_TRUE(gauge.waitUntilRead(5s));
    program.signal(SIGINT);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
    EXPECT_EQ(program.lines(), (QStringList { "bal-1\t1.5", "g_2\t2.25 mm", "g_2\t3 mm" }))
        << qPrintable(program.err);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    ASSERT_GE(rows.size(), 4) << file.fileName().toStdString();
    EXPECT_EQ(rows[0], "time,port,instrument,raw,value,status,typed,connection\r");
    EXPECT_TRUE(rows[1].endsWith(",1.5,printed,1.5,bal-1\r")) << rows[1].constData();
    EXPECT_TRUE(rows[2].endsWith(",2.25,printed,2.25 mm,g_2\r")) << rows[2].constData();
}
