// SPDX-License-Identifier: GPL-3.0-or-later
// Readings on request through the whole program: a test-owned
// pseudo-terminal plays a device that sends a record only when asked, and
// `omvara --headless --print` asks it (interval, SIGUSR1) and prints the values.
#include "ProgramRun.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::portReady;
using headless_test::Program;
using omvara::sim::PseudoTerminal;

namespace {

// A device that answers each `request` with the next reading 1, 2, 3, ...
// ("N g" and CR) on its own thread, and keeps what it was sent.
class AnsweringDevice
{
public:
    explicit AnsweringDevice(QByteArray request)
        : m_request(std::move(request))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~AnsweringDevice()
    {
        m_stop = true;
        m_thread.join();
    }

    QString path() const { return m_terminal.devicePath(); }
    // Everything the program wrote to the port.
    QByteArray received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    int answers() const { return m_answers.load(); }
    // When each request arrived.
    std::vector<std::chrono::steady_clock::time_point> times() const
    {
        std::lock_guard lock(m_mutex);
        return m_times;
    }

private:
    void run()
    {
        qsizetype from = 0;
        while (!m_stop) {
            const QByteArray bytes = m_terminal.readSent(20ms);
            if (bytes.isEmpty())
                continue;
            std::lock_guard lock(m_mutex);
            m_received += bytes;
            for (qsizetype at; (at = m_received.indexOf(m_request, from)) >= 0;) {
                from = at + m_request.size();
                m_times.push_back(std::chrono::steady_clock::now());
                m_terminal.write(QByteArray::number(++m_answers) + " g\r");
            }
        }
    }

    const QByteArray m_request;
    PseudoTerminal m_terminal { false };
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::vector<std::chrono::steady_clock::time_point> m_times;
    std::atomic<int> m_answers { 0 };
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

class HeadlessRequests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
    }
    QStringList args(const AnsweringDevice &device, const QStringList &settings) const
    {
        QStringList a { "--prefs-file", dir.filePath("prefs.txt"), "--headless", "--print" };
        for (const QString &s : settings)
            a << "--set" << s;
        return a << device.path();
    }

    QTemporaryDir dir;
};

} // namespace

// Every 250 ms for 2 s: 8 requests, give or take one; each answered reading
// is printed.
TEST_F(HeadlessRequests, interval_sendsARequestEveryInterval_andPrintsEachAnswer)
{
    AnsweringDevice device("SI\r\n");
    Program program(args(device, { "requestCommand=SI\\r\\n", "requestInterval=250" }));
    ASSERT_TRUE(program.waitFor([&] { return device.answers() >= 1; })) << qPrintable(program.err);
    const auto first = device.times().front();
    std::this_thread::sleep_until(first + 2s + 100ms);
    int inWindow = 0;
    for (const auto &t : device.times())
        inWindow += t > first && t <= first + 2s;
    EXPECT_GE(inWindow, 7) << qPrintable(program.err);
    EXPECT_LE(inWindow, 9) << qPrintable(program.err);
    program.signal(SIGTERM);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
    ASSERT_GE(program.lines().size(), 8);
    EXPECT_EQ(program.lines().mid(0, 3), (QStringList { "1", "2", "3" }));
    EXPECT_TRUE(program.err.contains(QStringLiteral("(interval): SI\\r\\n"))) << qPrintable(program.err);
}

// SIGUSR1 asks once per signal: exactly one reading each; the instrument's
// own command when no command is set; nothing at all with the defaults.
TEST_F(HeadlessRequests, sigusr1_oneReadingPerSignal_instrumentCommandByDefault_noneWithoutCommand)
{
    struct Case
    {
        const char *name;
        QStringList settings;
        QByteArray request; // what the device answers to
        int signals;
        QStringList printed;
    };
    const Case cases[] = {
        { "own command", { "requestCommand=Q\\x05" }, "Q\x05", 3, { "1", "2", "3" } },
        { "Mitutoyo's own", { "instrument=MITUTOYO", "customRegEx=([0-9]+)" }, "1\r", 2, { "1", "2" } },
        { "no command", {}, "\r", 2, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AnsweringDevice device(c.request);
        Program program(args(device, c.settings));
        ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
        ASSERT_TRUE(program.waitForLog(QStringLiteral("Values go to the standard output.")));
        for (int i = 1; i <= c.signals; ++i) {
            program.signal(SIGUSR1);
            if (!c.printed.isEmpty()) {
                ASSERT_TRUE(program.waitForLines(i)) << qPrintable(program.err);
            }
        }
        program.waitFor([] { return false; }, 700ms); // room for a second reading that must not come
        program.signal(SIGTERM);
        EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
        EXPECT_EQ(program.lines(), c.printed) << qPrintable(program.err);
        if (c.printed.isEmpty()) {
            EXPECT_TRUE(device.received().isEmpty()) << device.received().toStdString();
            EXPECT_EQ(program.err.count(QStringLiteral("there is no request command")), 1)
                << qPrintable(program.err);
        } else {
            EXPECT_EQ(device.received(), c.request.repeated(c.signals));
        }
    }
}

// With the defaults nothing is ever sent to the device.
TEST_F(HeadlessRequests, defaults_sendNothing)
{
    AnsweringDevice device("\r");
    Program program(args(device, { "instrument=SARTORIUS" }));
    ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
    program.waitFor([] { return false; }, 1500ms);
    program.signal(SIGTERM);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
    EXPECT_TRUE(device.received().isEmpty()) << device.received().toStdString();
    EXPECT_FALSE(program.err.contains(QStringLiteral("request"), Qt::CaseInsensitive))
        << qPrintable(program.err);
}
