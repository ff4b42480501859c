// SPDX-License-Identifier: GPL-3.0-or-later
// The reception path under load: a device floods a pseudo-terminal with
// numbered records at full speed while runs are started and stopped over and
// over. Each run reads on its own thread, hands its lines to the event thread,
// which logs them and queues their values for a keyboard thread; the event
// log is written from all three threads.
#include "../reception/ReceptionTestSupport.h"
#include "LoadSupport.h"

#include "omvara/modes/HeadlessLog.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/reception/WeightWorker.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/ProcessProperties.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace reception_test;
using namespace load_test;
using omvara::config::Config;
using omvara::modes::HeadlessLog;
using omvara::outputs::Keybot;
using omvara::outputs::keys::RecordingKeyInjector;
using omvara::processing::DataLine;
using omvara::sim::PseudoTerminal;
using omvara::texts::WorkerTexts;
using Instrument = omvara::config::ConfigHelper::Instrument;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

// Writes "#1 g\r#2 g\r..." to the device side as fast as the port side takes
// it, on its own thread, until stop(). Never blocks for long: the writer goes
// on while no run has the port open (the terminal's buffer fills and waits).
class Flood
{
public:
    explicit Flood(PseudoTerminal &pty)
        : m_fd(pty.deviceFd())
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_thread = std::thread([this] { run(); });
    }
    ~Flood() { stop(); }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // The system error that ended the writer early, or empty (after stop()).
    const std::string &error() const { return m_error; }

private:
    void run()
    {
        long next = 1;
        QByteArray pending;
        while (!m_stop) {
            if (pending.isEmpty()) {
                for (int i = 0; i < 64; ++i, ++next)
                    pending += '#' + QByteArray::number(next) + " g\r";
            }
            const ssize_t n = ::write(m_fd, pending.constData(), size_t(pending.size()));
            if (n > 0) {
                pending.remove(0, n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_error = std::strerror(errno);
                return;
            }
            pollfd p { m_fd, POLLOUT, 0 };
            ::poll(&p, 1, 10);
        }
    }

    int m_fd;
    std::atomic<bool> m_stop { false };
    std::string m_error;
    std::thread m_thread;
};

// What a run shows: the event log goes to a file through the headless log,
// values go to the keyboard output, as in a headless run.
class LoadView : public omvara::reception::WeightWorkerView
{
public:
    explicit LoadView(std::FILE *logFile)
        : m_log(logFile)
    {
    }

    void logEvent(const QString &message) override { m_log.logEvent(message); }
    void logImportantEvent(const QString &message) override
    {
        m_log.logImportantEvent(message);
        std::lock_guard lock(m_mutex);
        m_important.append(message);
    }
    void setConnectedInGUI(bool on) override { connected.push_back(on); }
    void showDataLine(DataLine &line) override
    {
        m_log.logAt(
            line.getDateTime(), line.getRawData() + QStringLiteral("  -> ") + line.getProcessedData());
        if (!line.hasValue())
            return;
        values.append(line.getProcessedData());
        if (keybot)
            keybot->enqueue(line.getProcessedData());
    }
    QStringList important() const
    {
        std::lock_guard lock(m_mutex);
        return m_important;
    }

    Keybot *keybot = nullptr;
    QStringList values; // event thread
    std::vector<bool> connected;

private:
    HeadlessLog m_log;
    mutable std::mutex m_mutex;
    QStringList m_important;
};

class ReceptionLoad : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        run_records::setProgramProperties();
    }
};

} // namespace

// Each run is stopped after a drawn number of values (sometimes at once, while
// the port is still being opened and flushed), mid-line most of the time.
// Within a run no record is lost; over all runs every value is delivered at
// most once and in order (records consumed at a Stop are gone, never repeated);
// the keyboard types exactly the delivered values that Stop did not drop and
// reports the dropped ones; every log entry lands whole.
TEST_F(ReceptionLoad, floodedPort_stoppedAndRestartedOverAndOver_deliversAndTypesEachValueOnceInOrder)
{
    constexpr int Rounds = 24;
    const unsigned seed = std::random_device {}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> valuesPerRun(0, 160);

    std::FILE *logFile = std::tmpfile();
    ASSERT_NE(logFile, nullptr);
    PseudoTerminal pty;
    Config config = configFor(Instrument::BARCODE, pty.devicePath());
    config.setCustomRegEx(QStringLiteral("#([0-9]+)")); // a record cut at a Stop has no value
    Flood flood(pty);

    long last = 0; // the last value delivered by any run
    int delivered = 0;
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE("run " + std::to_string(round + 1));
        LoadView view(logFile);
        auto injector = std::make_unique<RecordingKeyInjector>();
        RecordingKeyInjector *keys = injector.get();
        Keybot keybot(&view, KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, 0, std::move(injector));
        view.keybot = &keybot;
        keybot.start();

        auto worker = omvara::reception::createWeightWorker(config, view);
        worker->execute();
        const int wanted = valuesPerRun(random);
        ASSERT_TRUE(runUntil([&] { return view.values.size() >= wanted; }, 60s))
            << view.values.size() << " of " << wanted << " values";
        worker->cancel(true);
        ASSERT_TRUE(runUntilDone(*worker));
        keybot.stop();
        keybot.join();

        // Delivered: consecutive within the run, above everything delivered before.
        for (qsizetype i = 0; i < view.values.size(); ++i) {
            const long value = view.values[i].toLong();
            if (i == 0)
                ASSERT_GT(value, last) << "a value came again or out of order";
            else
                ASSERT_EQ(value, last + 1) << "a record was lost within the run";
            last = value;
        }
        delivered += int(view.values.size());
        // Typed: the delivered values in order, whole, up to the ones Stop dropped.
        const QStringList typed = typedValues(keys->events());
        ASSERT_LE(typed.size(), view.values.size());
        EXPECT_EQ(typed, view.values.mid(0, typed.size()));
        EXPECT_EQ(droppedValues(view.important()), view.values.size() - typed.size());
        EXPECT_EQ(view.connected, (std::vector<bool> { true, false }));
        EXPECT_FALSE(worker->deviceWasLost());
        EXPECT_EQ(keybot.waiting(), 0u);
    }
    flood.stop();
    EXPECT_EQ(flood.error(), "");
    EXPECT_GT(delivered, 0);

    // Every entry of the shared log is whole: a time stamp, then its text on one line.
    const QRegularExpression entry(QStringLiteral("^[0-9]{2}:[0-9]{2}:[0-9]{2} ."));
    const QStringList lines = fileLines(logFile);
    EXPECT_GE(lines.size(), delivered);
    for (const QString &line : lines)
        ASSERT_TRUE(entry.match(line).hasMatch()) << line.toStdString();
    std::fclose(logFile);
}
