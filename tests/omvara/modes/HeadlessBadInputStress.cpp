// SPDX-License-Identifier: GPL-3.0-or-later
// Larger bad input through the whole program, for scripts/lib/stress/40-badinput
// (not run by ctest): megabytes of binary noise between good records, many
// 1 MiB lines without a terminator, a terminator in every byte, and many long
// lines that make the value pattern backtrack badly. A test-owned
// pseudo-terminal feeds `omvara --headless --print`; every good record's
// value must be printed exactly once, in order, and the program's peak
// resident memory must stay bounded. Each case prints one result line:
//   STRESS-ROW<TAB>what<TAB>tried<TAB>held<TAB>lost<TAB>test
// OMVARA_STRESS_QUICK=1 shortens every case.
#include "ProgramRun.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using headless_test::app;
using omvara::sim::PseudoTerminal;

namespace {

// Resident memory above this counts as unbounded (a run holds about 30 MiB).
constexpr qint64 RssBoundKiB = 256 * 1024;
const QString CustomPattern = QStringLiteral("\\s*GOOD\\s*([0-9.]+)");

bool quick()
{
    return qEnvironmentVariableIntValue("OMVARA_STRESS_QUICK") == 1;
}

// Random bytes 0-255 without "G" (only good records hold "GOOD"); CR only when allowed.
QByteArray noise(qsizetype length, std::mt19937 &random, bool withTerminators)
{
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(length, '\0');
    for (char &b : bytes) {
        int c = byte(random);
        if (c == 'G' || (!withTerminators && c == '\r'))
            c = 'g';
        b = char(c);
    }
    return bytes;
}

// One headless run on a pseudo-terminal. Standard error is read as it comes
// and only its notable lines are kept (a terminator in every byte logs a line
// for each byte).
class HeadlessRun
{
public:
    explicit HeadlessRun(const QString &prefsFile)
    {
        m_process.start(QStringLiteral(OMVARA_EXE),
            { "--prefs-file", prefsFile, "--headless", "--print", "--set", "customRegEx=" + CustomPattern,
                m_device.devicePath() });
        m_process.waitForStarted(10000);
    }
    ~HeadlessRun()
    {
        if (m_writer.joinable()) {
            m_process.kill();
            m_writer.join();
        }
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool waitFor(const std::function<bool()> &done, std::chrono::seconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            collect();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= deadline || m_process.state() == QProcess::NotRunning) {
                collect();
                return done();
            }
            m_process.waitForReadyRead(20);
        }
    }

    // Sends `bytes` from another thread while this one reads the output.
    void send(QByteArray bytes)
    {
        m_writer = std::thread([this, bytes = std::move(bytes)] { m_device.write(bytes); });
    }

    // Waits for `count` values and for the port to be read empty, then stops
    // the run by SIGTERM; false when that did not happen in time.
    bool finish(qsizetype count, std::chrono::seconds timeout)
    {
        const bool all = waitFor([&] { return values.size() >= count; }, timeout);
        if (m_writer.joinable()) {
            if (!all)
                m_process.kill(); // the writer may wait for a reader that is gone
            m_writer.join();
        }
        const bool read = m_device.waitUntilRead(10s);
        peakKiB = readPeakKiB();
        ::kill(pid_t(m_process.processId()), SIGTERM);
        const bool ended = m_process.waitForFinished(30000);
        collect();
        exitCode = ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        return all && read && ended;
    }

    bool ready()
    {
        return waitFor([&] { return m_ready; }, 10s);
    }

    QStringList values;
    QStringList notable; // errors and buffer caps
    qint64 errLines = 0;
    qint64 caps = 0;
    qint64 errors = 0;
    qint64 peakKiB = 0;
    int exitCode = -1;

private:
    void collect()
    {
        m_out += m_process.readAllStandardOutput();
        for (qsizetype nl; (nl = m_out.indexOf('\n')) >= 0; m_out.remove(0, nl + 1))
            values.append(QString::fromUtf8(m_out.left(nl)));
        m_err += m_process.readAllStandardError();
        qsizetype start = 0;
        for (qsizetype nl; (nl = m_err.indexOf('\n', start)) >= 0; start = nl + 1) {
            const QByteArrayView line(m_err.constData() + start, nl - start);
            ++errLines;
            if (line.contains("RTS: off, DTR: on."))
                m_ready = true;
            const bool cap = line.contains("65536");
            const bool error = line.contains("Error [WW]");
            caps += cap;
            errors += error;
            if ((cap || error) && notable.size() < 50)
                notable.append(QString::fromUtf8(line));
        }
        m_err.remove(0, start);
    }

    qint64 readPeakKiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }

    PseudoTerminal m_device { false };
    QProcess m_process;
    std::thread m_writer;
    QByteArray m_out;
    QByteArray m_err;
    bool m_ready = false;
};

// Good records are "GOOD <n>.25"; the program prints "<n>.25".
struct Goods
{
    QByteArray next()
    {
        ++count;
        expected.append(QString::number(count) + QStringLiteral(".25"));
        return "GOOD " + QByteArray::number(count) + ".25\r";
    }
    int count = 0;
    QStringList expected;
};

// Good records missing, wrong or extra in `printed`, position by position.
qint64 lostOrWrong(const QStringList &printed, const QStringList &expected)
{
    qint64 lost = 0;
    for (qsizetype i = 0; i < std::max(printed.size(), expected.size()); ++i)
        lost += printed.value(i) != expected.value(i);
    return lost;
}

void row(const QString &what, const QString &tried, const QString &held, qint64 lost, const char *test)
{
    std::printf("STRESS-ROW\t%s\t%s\t%s\t%lld\t%s\n", qPrintable(what), qPrintable(tried), qPrintable(held),
        static_cast<long long>(lost), test);
    std::fflush(stdout);
}

class BadInputStress : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
    }

    // Runs `stream` through the program and reports one row; `extra` checks
    // the run's log and returns how many of its expectations failed.
    void runCase(const QString &what, const QString &tried, const QByteArray &stream, const Goods &goods,
        const char *test, std::chrono::seconds timeout, const std::function<qint64(HeadlessRun &)> &extra,
        const QString &heldExtra)
    {
        HeadlessRun run(dir.filePath("prefs.txt"));
        ASSERT_TRUE(run.ready()) << "the program did not open the port";
        const auto start = std::chrono::steady_clock::now();
        run.send(stream);
        const bool finished = run.finish(goods.expected.size(), timeout);
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        qint64 lost = lostOrWrong(run.values, goods.expected);
        const qint64 extraFailed = extra(run);
        const bool bounded = run.peakKiB > 0 && run.peakKiB <= RssBoundKiB;
        EXPECT_TRUE(finished) << qPrintable(what);
        EXPECT_EQ(run.exitCode, 0) << qPrintable(what);
        EXPECT_EQ(lost, 0) << qPrintable(what) << "\n" << qPrintable(run.notable.join(u'\n'));
        EXPECT_EQ(extraFailed, 0) << qPrintable(what) << "\n" << qPrintable(run.notable.join(u'\n'));
        EXPECT_TRUE(bounded) << qPrintable(what) << ": peak " << run.peakKiB << " KiB";
        if (lost == 0 && (!finished || run.exitCode != 0 || extraFailed != 0 || !bounded))
            lost = 1;
        row(what, tried,
            QStringLiteral(
                "every good record's value exactly once, in order (%1 records); %2peak RSS %3 MiB; %4 s")
                .arg(goods.count)
                .arg(heldExtra)
                .arg(double(run.peakKiB) / 1024, 0, 'f', 1)
                .arg(seconds, 0, 'f', 1),
            lost, test);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(BadInputStress, binaryNoiseWithGoodRecords)
{
    const qsizetype total = quick() ? 2 * 1024 * 1024 : 32 * 1024 * 1024;
    std::mt19937 random(1);
    Goods goods;
    QByteArray stream;
    stream.reserve(total + 1024 * 1024);
    while (stream.size() < total)
        stream += noise(random() % 1000, random, true) + '\r' + goods.next();
    runCase(
        QStringLiteral("binary noise (NUL, CR, 0x80-0xFF) with good records between"),
        QStringLiteral("%1 bytes").arg(stream.size()), stream, goods,
        "omvara_headless_badinput_stress BadInputStress.binaryNoiseWithGoodRecords", 600s,
        [](HeadlessRun &run) { return run.errors; }, QStringLiteral("no line error; "));
}

TEST_F(BadInputStress, manyMegabyteLinesWithoutTerminator)
{
    const int lines = quick() ? 4 : 64;
    std::mt19937 random(2);
    Goods goods;
    QByteArray stream;
    for (int i = 0; i < lines; ++i)
        stream += noise(1024 * 1024, random, false) + '\r' + goods.next();
    const qint64 capsExpected = qint64(lines) * (1024 * 1024 / 65536);
    runCase(
        QStringLiteral("1 MiB lines without terminator, a good record after each"),
        QStringLiteral("%1 lines").arg(lines), stream, goods,
        "omvara_headless_badinput_stress BadInputStress.manyMegabyteLinesWithoutTerminator", 600s,
        [&](HeadlessRun &run) { return std::abs(run.caps - capsExpected) + run.errors; },
        QStringLiteral("line buffer capped %1 times, each logged; ").arg(capsExpected));
}

TEST_F(BadInputStress, aTerminatorInEveryByte)
{
    const qsizetype bytes = quick() ? 200000 : 2000000;
    Goods goods;
    QByteArray stream;
    const int blocks = 10;
    for (int i = 0; i < blocks; ++i)
        stream += QByteArray(bytes / blocks, '\r') + goods.next();
    runCase(
        QStringLiteral("a terminator in every byte, good records between"),
        QStringLiteral("%1 bytes").arg(bytes), stream, goods,
        "omvara_headless_badinput_stress BadInputStress.aTerminatorInEveryByte", 900s,
        [&](HeadlessRun &run) { return run.errors; }, QStringLiteral("an empty line for each byte; "));
}

TEST_F(BadInputStress, costlyLinesBetweenGoodRecords)
{
    const int lines = quick() ? 6 : 100;
    Goods goods;
    QByteArray stream;
    // Blanks that almost make a value: every start position scans to the end.
    const QByteArray costly = QByteArray(60000, ' ') + "GOOD\r";
    for (int i = 0; i < lines; ++i)
        stream += goods.next() + costly;
    stream += goods.next();
    runCase(
        QStringLiteral("long lines on which the pattern backtracks badly"),
        QStringLiteral("%1 lines").arg(lines), stream, goods,
        "omvara_headless_badinput_stress BadInputStress.costlyLinesBetweenGoodRecords", 900s,
        [&](HeadlessRun &run) {
            qint64 named = 0;
            for (const QString &n : run.notable)
                named += n.contains(CustomPattern);
            return std::abs(run.errors - lines) + (named == std::min<qint64>(run.errors, 50) ? 0 : 1);
        },
        QStringLiteral("each long line failed on its own, error naming the pattern; "));
}
