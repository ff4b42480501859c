// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine against a pseudo-terminal, the way a run reads a real
// port: a writer thread plays the device, the worker reads and completes the
// lines, the event loop of this thread hands them to a counting view.
//
// Counters: lines_per_s, cpu_us_per_line (worker and event thread together,
// the writer's own time left out), cpu_percent (of one core), latency_median_us
// and latency_p99_us (terminator written -> line in the view).
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/worker/WeightWorkers.h"
#include "portlink/Console.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <time.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_reception_bench";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance = [] {
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
        portlink::Console::setSink([](const QString &) { });
        return new QCoreApplication(argc, argv);
    }();
    return *instance;
}

double cpuSeconds(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Counts lines and notes when each arrived.
class CountingView : public omvara::worker::WeightWorkerView
{
public:
    void logEvent(const QString &) override { }
    void logImportantEvent(const QString &) override { }
    void setConnectedInGUI(bool) override { }
    void showDataLine(omvara::worker::DataLine &) override
    {
        arrivals.push_back(Clock::now());
        lines.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<long> lines { 0 };
    std::vector<Clock::time_point> arrivals;
};

// One run on a fresh pseudo-terminal.
struct Run
{
    omvara::sim::PseudoTerminal device;
    omvara::config::Config config = Instrument::GENERIC.getDefaultConfig();
    CountingView view;
    std::unique_ptr<omvara::worker::WeightWorker> worker;

    Run()
    {
        app();
        config.setInstrument(Instrument::GENERIC);
        config.setPort(device.devicePath());
        config.setInputTerminator(10);
        worker = omvara::worker::createWeightWorker(config, view);
        worker->execute();
    }
    ~Run()
    {
        worker->cancel(true);
        while (!worker->isDone())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    // Runs the event loop (sleeping between events) until `lines` lines arrived or the deadline.
    void pumpUntil(long lines, Clock::time_point deadline)
    {
        if (view.lines.load() >= lines)
            return;
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (view.lines.load() >= lines || Clock::now() >= deadline)
                loop.quit();
        });
        check.start(1);
        loop.exec();
    }
};

const QByteArray record = "+    12.345 g    \r\n"; // 20 bytes with CR LF

// Records written as fast as the port takes them.
void BM_ReceptionFlood(benchmark::State &state)
{
    const long count = state.range(0);
    QByteArray burst;
    for (long i = 0; i < count; ++i)
        burst += record;
    double wall = 0, cpu = 0;
    long lines = 0;
    for (auto _ : state) {
        Run run;
        std::atomic<double> writerCpu { 0 };
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto t0 = Clock::now();
        std::thread writer([&] {
            const double w0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            run.device.write(burst);
            writerCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - w0;
        });
        run.pumpUntil(count, Clock::now() + 60s);
        const auto t1 = Clock::now();
        writer.join();
        const double cpu1 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        wall += std::chrono::duration<double>(t1 - t0).count();
        cpu += cpu1 - cpu0 - writerCpu;
        lines += run.view.lines.load();
    }
    state.counters["lines_per_s"] = double(lines) / wall;
    state.counters["cpu_us_per_line"] = cpu / double(lines) * 1e6;
}
BENCHMARK(BM_ReceptionFlood)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// 921600 bit/s with 10 bits per byte: 92160 bytes/s, 4608 records of 20 bytes per second.
void BM_ReceptionAt921600(benchmark::State &state)
{
    constexpr int perSecond = 921600 / 10 / 20;
    constexpr auto slice = 10ms; // written in slices, as a UART FIFO would deliver them
    constexpr int perSlice = perSecond / 100;
    double wall = 0, cpu = 0;
    long lines = 0;
    for (auto _ : state) {
        Run run;
        std::atomic<double> writerCpu { 0 };
        QByteArray chunk;
        for (int i = 0; i < perSlice; ++i)
            chunk += record;
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto t0 = Clock::now();
        std::thread writer([&] {
            const double w0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            auto next = Clock::now();
            for (int s = 0; s < 200; ++s) { // two seconds
                run.device.write(chunk);
                next += slice;
                std::this_thread::sleep_until(next);
            }
            writerCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - w0;
        });
        run.pumpUntil(long(perSlice) * 200, Clock::now() + 30s);
        writer.join();
        const auto t1 = Clock::now();
        const double cpu1 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        wall += std::chrono::duration<double>(t1 - t0).count();
        cpu += cpu1 - cpu0 - writerCpu;
        lines += run.view.lines.load();
    }
    state.counters["lines_per_s"] = double(lines) / wall;
    state.counters["cpu_percent"] = cpu / wall * 100;
    state.counters["cpu_us_per_line"] = cpu / double(lines) * 1e6;
}
BENCHMARK(BM_ReceptionAt921600)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Single records at irregular intervals; the time from writing the terminator
// to the line reaching the view.
void BM_ReceptionLatency(benchmark::State &state)
{
    constexpr int samples = 400;
    std::vector<double> latencies;
    for (auto _ : state) {
        Run run;
        std::vector<Clock::time_point> written;
        for (int i = 0; i < samples; ++i) {
            run.device.write(record.left(record.size() - 1));
            std::this_thread::sleep_for(std::chrono::microseconds(300 + (i * 7919) % 2500));
            written.push_back(Clock::now());
            run.device.write("\n");
            run.pumpUntil(i + 1, Clock::now() + 5s);
        }
        for (int i = 0; i < samples && i < int(run.view.arrivals.size()); ++i)
            latencies.push_back(std::chrono::duration<double, std::micro>(run.view.arrivals[i] - written[i]).count());
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["latency_median_us"] = latencies[latencies.size() / 2];
    state.counters["latency_p99_us"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(BM_ReceptionLatency)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// An open port on which nothing arrives.
void BM_ReceptionIdle(benchmark::State &state)
{
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        Run run;
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(3s); // nothing arrives, so nothing waits for the event loop
        wall += std::chrono::duration<double>(Clock::now() - t0).count();
        cpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    }
    state.counters["cpu_percent"] = cpu / wall * 100;
}
BENCHMARK(BM_ReceptionIdle)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
