// SPDX-License-Identifier: GPL-3.0-or-later
// Faults through the whole program without a window: the device vanishing
// mid-line and mid-run, stored settings that are corrupt or cut short, a
// stop signal while the port is still being opened, and the record file's
// disk filling up.
#include "ProgramRun.h"
#include "RunRecords.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/modes/HeadlessRunner.h"
#include "omvara/sim/PseudoTerminal.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::portReady;
using headless_test::Program;
using omvara::sim::PseudoTerminal;
using run_records::numbers;
using run_records::records;

namespace {

const QString deviceLost = QStringLiteral("The serial device was lost");
const QString unsentData = QStringLiteral("Data received after the last terminator was not sent:");
const QString invalidSetting = QStringLiteral("An invalid stored setting was replaced by its default value.");

class HeadlessFault : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
    }
    QString prefsFile() const { return dir.filePath(QStringLiteral("prefs.txt")); }
    QStringList run(const QString &port) const
    {
        return { "--prefs-file", prefsFile(), "--headless", "--print", port };
    }
    QTemporaryDir dir;
};

} // namespace

// The device goes away after the program has read a half line (and, second
// case, while it is still reading a flood): the run ends by itself with the
// device-lost message and exit status 1, every value is printed once and in
// order, the half line is reported as unsent data, never printed. A new run
// on a fresh device (a pseudo-terminal cannot come back at the same path)
// works.
TEST_F(HeadlessFault, deviceLostMidLineAndMidRun_endsWithItsMessageAndStatus_nothingPrintedTwice)
{
    struct Case
    {
        const char *name;
        int sent;
        bool waitUntilRead; // else the device vanishes while the program still reads
    };
    for (const Case &c : { Case { "after a half line", 300, true }, Case { "mid-run", 3000, false } }) {
        SCOPED_TRACE(c.name);
        auto device = std::make_unique<PseudoTerminal>(false);
        Program program(run(device->devicePath()));
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        device->write(records(1, c.sent) + "30");
        if (c.waitUntilRead) {
            ASSERT_TRUE(device->waitUntilRead(10s));
            ASSERT_TRUE(program.waitForLines(c.sent)) << qPrintable(program.err);
        }
        device.reset();
        EXPECT_EQ(program.finish(30s), 1) << qPrintable(program.err);
        EXPECT_EQ(program.err.count(deviceLost), 1) << qPrintable(program.err);
        const QStringList printed = program.lines();
        EXPECT_EQ(printed, numbers(1, int(printed.size())));
        if (c.waitUntilRead) {
            EXPECT_EQ(printed.size(), c.sent);
            EXPECT_TRUE(program.err.contains(unsentData + QStringLiteral(" 30\n")))
                << qPrintable(program.err);
        } else {
            // What arrived after the last whole line, if anything, is a start of the next record.
            const qsizetype at = program.err.indexOf(unsentData);
            if (at >= 0) {
                const QString rest = program.err.mid(at + unsentData.size() + 1).section(u'\n', 0, 0);
                const QString next = QString::number(printed.size() + 1) + QStringLiteral(" g<13>");
                EXPECT_TRUE(next.startsWith(rest)) << qPrintable(rest);
            }
        }
        EXPECT_FALSE(program.err.contains(QStringLiteral("Stopped."))) << qPrintable(program.err);
    }

    PseudoTerminal fresh(false);
    Program again(run(fresh.devicePath()));
    ASSERT_TRUE(again.waitForLog(portReady)) << qPrintable(again.err);
    fresh.write("42 g\r");
    ASSERT_TRUE(again.waitForLines(1)) << qPrintable(again.err);
    again.signal(SIGTERM);
    EXPECT_EQ(again.finish(), 0) << qPrintable(again.err);
    EXPECT_EQ(again.lines(), QStringList { "42" });
}

// Seven data bits with odd parity (the settings of some balances) on a
// pseudo-terminal, which keeps 8 data bits without parity: every run opens
// the port, not only the first (the C library reports a change the driver
// did not take only once nothing else changed).
TEST_F(HeadlessFault, sevenDataBitsOddParityOnAPseudoTerminal_everyRunOpensThePort)
{
    PseudoTerminal device;
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        Program program({ "--prefs-file", prefsFile(), "--headless", "--print", "--set", "dataBits=2",
            "--set", "parity=1", "--set", "bitRate=4", device.devicePath() });
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        EXPECT_TRUE(program.err.contains(QStringLiteral("7 data bits"))) << qPrintable(program.err);
        device.write(records(i, i));
        ASSERT_TRUE(program.waitForLines(1)) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), numbers(i, i));
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_FALSE(program.err.contains(QStringLiteral("Configure failed"))) << qPrintable(program.err);
    }
}

// Stored settings that are damaged: the program starts with the defaults,
// says that an invalid setting was replaced (or, for a file it cannot read
// at all, that it uses the defaults), reads values as the defaults say, and
// leaves the file byte for byte as it was (only a save replaces it).
TEST_F(HeadlessFault, corruptOrTruncatedSettingsFile_startsWithDefaultsAndTheMessage_fileUntouched)
{
    const QByteArray valid = "#FilePreferences\n#2026-01-01T00:00:00Z\n"
                             "com.brindlecote.Omvara.instrument=SARTORIUS\n"
                             "com.brindlecote.Omvara.inputTerminator=10\n"
                             "com.brindlecote.Omvara.decimalPlaces=2\n";
    const QString unreadable = QStringLiteral("The stored settings cannot be read (");
    struct Case
    {
        const char *name;
        QByteArray bytes;
        QString message;
    };
    QByteArray noise;
    for (int i = 0; i < 512; ++i)
        noise += char((i * 151 + 7) % 256);
    const Case cases[] = {
        { "cut inside a value", valid.left(valid.indexOf("SARTORIUS") + 5), invalidSetting },
        { "cut inside an escape", "#FilePreferences\ncom.brindlecote.Omvara.instrument=SART\\u00",
            invalidSetting },
        { "binary noise with a damaged entry", noise + "\ncom.brindlecote.Omvara.instrument=SARTOR\xff\n",
            invalidSetting },
        { "NUL bytes in a value", QByteArray("com.brindlecote.Omvara.instrument=SARTORIUS\0\0\n", 46),
            unreadable },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            QFile f(prefsFile());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_EQ(f.write(c.bytes), c.bytes.size());
        }
        PseudoTerminal device(false);
        Program program(run(device.devicePath()));
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        EXPECT_TRUE(program.err.contains(c.message)) << qPrintable(program.err);
        device.write("  12.5 g\r");
        EXPECT_TRUE(program.waitForLines(1)) << qPrintable(program.err);
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), QStringList { "12.5" }); // the default instrument, terminator and places
        QFile f(prefsFile());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.bytes);
    }
}

// SIGTERM while a slow driver is still opening the port: the run stops as
// soon as the open returns (status 0, "Stopped."), the port ends closed,
// nothing is read. Before, the signal's default action ended the process.
TEST_F(HeadlessFault, stopSignalWhileThePortIsOpening_stopsTheRun_andThePortEndsClosed)
{
    auto native = std::make_shared<portlink::testing::SimulatedNative>();
    auto &com = native->addPort(QStringLiteral("COM7"));
    com.holdOpen();
    portlink::testing::ScopedNativeSide side(native);
    omvara::config::ConfigStore::useFileStore(prefsFile());

    bool held = false;
    std::thread stopper([&] {
        held = com.waitUntilOpenHeld(20s);
        if (held)
            ::kill(::getpid(), SIGTERM);
        std::this_thread::sleep_for(20ms);
        com.feed("9.5 g\r");
        com.releaseOpen();
    });
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = omvara::modes::HeadlessRunner::run({ "--headless", "--print", "COM7" });
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    stopper.join();
    ASSERT_TRUE(held);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("Stopped."), std::string::npos) << err;
    EXPECT_FALSE(com.isOpen());
    EXPECT_EQ(com.openCount(), 1);
    EXPECT_TRUE(com.calls().contains(QStringLiteral("SerClosePort"))) << qPrintable(com.calls().join(u' '));
}

namespace {

// Fills the file system of `folder` until a write fails with ENOSPC; false
// when it does not fill.
bool fillDisk(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/filler"));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    char block[4096];
    std::memset(block, 'f', sizeof block);
    bool full = false;
    for (int i = 0; i < 10000 && !full; ++i)
        full = ::write(fd, block, sizeof block) < 0 && errno == ENOSPC;
    while (full && ::write(fd, block, 1) == 1) { }
    ::close(fd);
    return full;
}

QStringList recordedValues(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList values;
    const QStringList rows = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < rows.size(); ++i)
        values.append(rows[i].section(u',', 4, 4));
    return values;
}

} // namespace

// The disk under the record file fills up during a run (a small tmpfs in a
// private mount namespace, so that it holds for root too): the failure is an
// event, once; the run goes on printing; when space is back the rows that
// waited are written, then the later ones, in order, none twice.
TEST_F(HeadlessFault, recordFileOnAFullDisk_toldOnce_runGoesOn_rowsFollowWhenSpaceIsBack)
{
    const QString disk = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    const QString record = disk + QStringLiteral("/records.csv");
    PseudoTerminal device(false);
    QStringList unshare = { "--mount", "--propagation", "private" };
    if (::geteuid() != 0)
        unshare << "--map-root-user";
    // The program runs in a mount namespace of its own with a 256 KiB tmpfs on `disk`.
    Program program(QStringLiteral("unshare"),
        unshare
            + QStringList { "sh", "-c", "mount -t tmpfs -o size=256k,mode=0755 tmpfs \"$0\" && exec \"$@\"",
                disk, QStringLiteral(OMVARA_EXE), "--prefs-file", prefsFile(), "--headless", "--print",
                "--set", "recordFile=" + record, device.devicePath() });
    if (!program.waitForLog(portReady)) {
        if (program.err.contains(QStringLiteral("unshare")) || program.err.contains(QStringLiteral("mount")))
            GTEST_SKIP() << "no private mount namespace here: " << qPrintable(program.err);
        FAIL() << qPrintable(program.err);
    }
    // What the program sees of the disk, from outside its namespace.
    const QString seen = QStringLiteral("/proc/%1/root%2").arg(program.pid()).arg(disk);
    ASSERT_TRUE(program.waitFor([&] { return QFile::exists(seen + QStringLiteral("/records.csv")); }))
        << "the file (its header) is written at the start\n"
        << qPrintable(program.err);
    ASSERT_TRUE(fillDisk(seen));

    // More than the file's last page holds, so that writing must fail.
    device.write(run_records::records(1, 300));
    ASSERT_TRUE(program.waitForLines(300)) << qPrintable(program.err);
    const QString failed = QStringLiteral("Cannot write the record file");
    ASSERT_TRUE(program.waitForLog(failed)) << qPrintable(program.err);
    const int kept = int(recordedValues(seen + QStringLiteral("/records.csv")).size());
    EXPECT_LT(kept, 300);

    ASSERT_TRUE(QFile::remove(seen + QStringLiteral("/filler")));
    device.write(run_records::records(301, 320));
    ASSERT_TRUE(program.waitForLines(320)) << qPrintable(program.err);
    const QString file = seen + QStringLiteral("/records.csv");
    ASSERT_TRUE(program.waitFor([&] { return recordedValues(file).size() >= 320; }))
        << recordedValues(seen + QStringLiteral("/records.csv")).size() << "\n"
        << qPrintable(program.err);
    EXPECT_EQ(recordedValues(seen + QStringLiteral("/records.csv")), numbers(1, 320));
    EXPECT_EQ(program.err.count(failed), 1) << qPrintable(program.err);
    EXPECT_TRUE(program.err.contains(QStringLiteral("is written again"))) << qPrintable(program.err);
    EXPECT_EQ(program.lines(), numbers(1, 320)) << "the run went on";
    program.signal(SIGTERM);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
}

// The headless runner prepares the process as the window does: whatever the
// machine's locale, numbers and dates are English from its first step on.
TEST(HeadlessProcess, germanMachineLocale_runnerSetsEnglishBeforeAnythingElse)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ::testing::internal::CaptureStderr();
    const int status = omvara::modes::HeadlessRunner::run({ "--headless", "--no-such-option" });
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 2);
    EXPECT_EQ(QLocale().toString(1234.5, 'f', 1), QStringLiteral("1,234.5"));
}
