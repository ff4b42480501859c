// SPDX-License-Identifier: GPL-3.0-or-later
// The flood of the reception benchmark through a whole run, without and with
// the line outputs: a writer thread plays the device on a pseudo-terminal,
// the run reads, processes and prints every value (to /dev/null); with
// outputs, every line also goes to the record file and every value to a
// mosquitto broker that the benchmark starts on 127.0.0.1.
//
// Counters: lines_per_s (until the last line reached the view), cpu_us_per_line
// (the whole process without the writer thread, until the outputs have written
// and published everything, so their threads count), drain_ms (from the last
// line in the view until the outputs were done), lost (values the broker's
// queue dropped or could not publish in time; 0 is the goal).
#include "BenchApp.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/run/Run.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/util/ProcessProperties.h"
#include "portlink/Console.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

using bench::app;
using bench::cpuSeconds;

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepting(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// A mosquitto broker for the whole benchmark program.
class Broker
{
public:
    Broker()
    {
        const QString config = m_dir.filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        m_port = freePort();
        QByteArray text = "listener " + QByteArray::number(m_port) + " 127.0.0.1\nallow_anonymous true\n";
        if (::geteuid() == 0)
            text += "user root\n";
        file.write(text);
        file.close();
        m_process.start(QStringLiteral("mosquitto"), { QStringLiteral("-c"), config });
        if (!m_process.waitForStarted(5000))
            return;
        for (int i = 0; i < 250 && !accepting(m_port); ++i)
            std::this_thread::sleep_for(20ms);
        m_ready = accepting(m_port);
    }
    ~Broker()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    bool ready() const { return m_ready; }
    int port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_ready = false;
};

Broker &broker()
{
    static Broker instance;
    return instance;
}

class CountingView : public omvara::run::RunObserver, public omvara::run::RunQuestions
{
public:
    void logEvent(const QString &message) override
    {
        if (message.contains(QStringLiteral("Linked to the broker")))
            connected = true;
    }
    void logImportantEvent(const QString &message) override
    {
        std::lock_guard lock(mutex);
        important.append(message);
    }
    void lineReceived(const omvara::processing::DataLine &) override
    {
        lines.fetch_add(1, std::memory_order_relaxed);
    }

    bool goOnWithoutKeyboard(const QString &) override { return true; }
    void capsLockOn() override { }
    void soundFailed(const QString &) override { }
    void deviceWarning(const QString &, const QString &) override { }
    void cannotStart(omvara::run::StartFailure, const QString &) override { }

    // Values the broker's queue dropped or could not publish, as its events count them.
    long lost()
    {
        std::lock_guard lock(mutex);
        long dropped = 0, unpublished = 0;
        static const QRegularExpression droppedText(QStringLiteral("\\): ([0-9]+) value\\(s\\) dropped"));
        static const QRegularExpression unpublishedText(
            QStringLiteral("^([0-9]+) value\\(s\\) were not published"));
        for (const QString &m : important) {
            if (const auto d = droppedText.match(m); d.hasMatch())
                dropped = std::max(dropped, d.captured(1).toLong());
            if (const auto u = unpublishedText.match(m); u.hasMatch())
                unpublished += u.captured(1).toLong();
        }
        return dropped + unpublished;
    }

    std::atomic<long> lines { 0 };
    std::atomic<bool> connected { false };
    std::mutex mutex;
    QStringList important;
};

void pumpUntil(const std::function<bool()> &done, Clock::time_point deadline)
{
    if (done())
        return;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || Clock::now() >= deadline)
            loop.quit();
    });
    check.start(1);
    loop.exec();
}

const QByteArray record = "+    12.345 g    \r\n"; // 20 bytes with CR LF, as the reception flood

// Arg 0: count of records; arg 1: 0 without, 1 with the record file and the broker.
void BM_RunFlood(benchmark::State &state)
{
    app();
    const long count = state.range(0);
    const bool outputs = state.range(1) != 0;
    if (outputs && !broker().ready()) {
        state.SkipWithError("mosquitto could not be started");
        return;
    }
    QByteArray burst;
    for (long i = 0; i < count; ++i)
        burst += record;
    std::FILE *devNull = std::fopen("/dev/null", "w");
    double wall = 0, cpu = 0, drain = 0;
    long lines = 0, lost = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        omvara::sim::PseudoTerminal device;
        omvara::config::Config config = Instrument::GENERIC.getDefaultConfig();
        config.setInstrument(Instrument::GENERIC);
        config.setPort(device.devicePath());
        config.setInputTerminator(10);
        if (outputs) {
            config.setRecordFile(dir.filePath(QStringLiteral("flood-{date}.csv")));
            config.setMqttUrl(QStringLiteral("mqtt://127.0.0.1:%1/bench/flood").arg(broker().port()));
        }
        CountingView view;
        omvara::run::Run::Options options;
        options.print = true;
        options.printTo = devNull;
        options.sound = false;
        omvara::run::Run run(std::move(config), std::move(options), view, view);
        if (!run.start()) {
            state.SkipWithError("the run did not start");
            break;
        }
        if (outputs)
            pumpUntil([&] { return view.connected.load(); }, Clock::now() + 10s);

        std::atomic<double> writerCpu { 0 };
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto t0 = Clock::now();
        std::thread writer([&] {
            const double w0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            device.write(burst);
            writerCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - w0;
        });
        pumpUntil([&] { return view.lines.load() >= count; }, Clock::now() + 60s);
        const auto t1 = Clock::now();
        writer.join();
        run.stop();
        pumpUntil([&] { return run.state().ended(); }, Clock::now() + 10s);
        run.waitForOutputs();
        const auto t2 = Clock::now();
        const double cpu1 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        wall += std::chrono::duration<double>(t1 - t0).count();
        drain += std::chrono::duration<double, std::milli>(t2 - t1).count();
        cpu += cpu1 - cpu0 - writerCpu;
        lines += view.lines.load();
        lost += view.lost();
    }
    std::fclose(devNull);
    state.counters["lines_per_s"] = double(lines) / wall;
    state.counters["cpu_us_per_line"] = cpu / double(lines) * 1e6;
    state.counters["drain_ms"] = drain / double(state.iterations());
    state.counters["lost"] = double(lost);
}
BENCHMARK(BM_RunFlood)
    ->ArgNames({ "records", "outputs" })
    ->Args({ 20000, 0 })
    ->Args({ 20000, 1 })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
