// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine against a pseudo-terminal, the way a run reads a real
// port: a writer thread plays the device, the worker reads and completes the
// lines, the event loop of this thread hands them to a counting view.
//
// Counters: lines_per_s, cpu_us_per_line (worker and event thread together,
// the writer's own time left out), cpu_percent (of one core), latency_median_us
// and latency_p99_us (terminator written -> line in the view).
//
// The idle benchmarks measure whole processes with a port open on which
// nothing arrives, over OMVARA_BENCH_IDLE_SECONDS (default 15): the program
// (`omvara --headless --print`, and the window started with a run, which
// needs an X display), beside a loop that reads the port without blocking and
// sleeps 0-4 ms whenever nothing is waiting, the usual polling design.
// Counters: cpu_percent (of one core, every thread), wakeups_per_s (context
// switches of every thread: each is a thread woken, or preempted while it
// runs). OMVARA_BENCH_PROGRAM names another build of the program to measure.
#include "BenchApp.h"
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/reception/WeightWorkers.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/util/ProcessProperties.h"
#include "portlink/Console.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <csignal>
#include <cstdint>

#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

using bench::app;
using bench::cpuSeconds;

// Counts lines and notes when each arrived.
class CountingView : public omvara::reception::WeightWorkerView
{
public:
    void logEvent(const QString &) override { }
    void logImportantEvent(const QString &) override { }
    void setConnectedInGUI(bool) override { }
    void showDataLine(omvara::processing::DataLine &) override
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
    std::unique_ptr<omvara::reception::WeightWorker> worker;

    Run()
    {
        app();
        config.setInstrument(Instrument::GENERIC);
        config.setPort(device.devicePath());
        config.setInputTerminator(10);
        worker = omvara::reception::createWeightWorker(config, view);
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
            latencies.push_back(
                std::chrono::duration<double, std::micro>(run.view.arrivals[i] - written[i]).count());
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["latency_median_us"] = latencies[latencies.size() / 2];
    state.counters["latency_p99_us"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(BM_ReceptionLatency)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// --- idle cost of whole processes -------------------------------------------

// Processor time (ns) and context switches of every thread of `pid` so far.
struct ProcessTally
{
    double cpuSeconds = 0;
    long switches = 0;
};

ProcessTally tally(qint64 pid)
{
    ProcessTally t;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            t.cpuSeconds += schedstat.readAll().split(' ').value(0).toDouble() * 1e-9;
        QFile status(tasks.filePath(task) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.contains("ctxt_switches:"))
                t.switches += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    }
    return t;
}

std::chrono::seconds idleSpan()
{
    const int seconds = qEnvironmentVariableIntValue("OMVARA_BENCH_IDLE_SECONDS");
    return std::chrono::seconds(seconds > 0 ? seconds : 15);
}

QString programPath()
{
    const QString chosen = qEnvironmentVariable("OMVARA_BENCH_PROGRAM");
    return chosen.isEmpty() ? QStringLiteral(OMVARA_BENCH_PROGRAM) : chosen;
}

// Measures process `pid` over the idle span, after a second to settle, and
// reports its cost on `state`.
void measureIdle(benchmark::State &state, qint64 pid)
{
    std::this_thread::sleep_for(1s);
    const ProcessTally before = tally(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(idleSpan());
    const ProcessTally after = tally(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    state.counters["cpu_percent"] = (after.cpuSeconds - before.cpuSeconds) / wall * 100;
    state.counters["wakeups_per_s"] = double(after.switches - before.switches) / wall;
}

// The program on an idle port; `arguments` come before the port.
void measureProgram(benchmark::State &state, const QStringList &arguments, const QProcessEnvironment &env)
{
    app();
    for (auto _ : state) {
        omvara::sim::PseudoTerminal device(false);
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(programPath(), arguments + QStringList { device.devicePath() });
        if (!program.waitForStarted(10000) || !device.waitForPortOpen(20s)) {
            state.SkipWithError("the program did not open the port");
            program.kill();
            program.waitForFinished(5000);
            return;
        }
        measureIdle(state, program.processId());
        ::kill(pid_t(program.processId()), SIGTERM);
        if (!program.waitForFinished(10000))
            program.kill();
    }
}

void BM_IdleHeadless(benchmark::State &state)
{
    QTemporaryDir dir;
    measureProgram(state,
        { QStringLiteral("--prefs-file"), dir.filePath(QStringLiteral("prefs.txt")),
            QStringLiteral("--headless"), QStringLiteral("--print") },
        QProcessEnvironment::systemEnvironment());
}
BENCHMARK(BM_IdleHeadless)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The window with a run started at once (connect automatically), typing into
// the X display's focus. Under Xvfb: scripts/lib/with-display.
void BM_IdleWindow(benchmark::State &state)
{
    if (qEnvironmentVariable("DISPLAY").isEmpty()) {
        state.SkipWithError("no X display (run under scripts/lib/with-display)");
        return;
    }
    QTemporaryDir dir;
    const QString prefs = dir.filePath(QStringLiteral("prefs.txt"));
    QFile file(prefs);
    if (!file.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the settings file");
        return;
    }
    file.write("#FilePreferences\n"
               "com.brindlecote.Omvara.connect=AUTO\n"
               "com.brindlecote.Omvara.checkForUpdates=false\n"
               "com.brindlecote.Omvara.minimizeToTray=false\n"
               "com.brindlecote.Omvara.abortAutoStartWhenPrevPortNotAvailable=false\n");
    file.close();
    measureProgram(
        state, { QStringLiteral("--prefs-file"), prefs }, QProcessEnvironment::systemEnvironment());
}
BENCHMARK(BM_IdleWindow)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The polling design: non-blocking reads, and a pause of 0-4 ms (drawn at
// random) whenever nothing is waiting. In a process of its own, as a program
// built that way would run.
void BM_IdlePollingLoop(benchmark::State &state)
{
    app();
    for (auto _ : state) {
        omvara::sim::PseudoTerminal device(false);
        const QByteArray path = device.devicePath().toLocal8Bit();
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            std::uint32_t random = 12345;
            char byte = 0;
            for (;;) {
                if (fd >= 0 && ::read(fd, &byte, 1) > 0)
                    continue;
                random = random * 1103515245u + 12345u;
                const timespec pause { 0, long((random >> 16) % 5) * 1000000L };
                ::nanosleep(&pause, nullptr);
            }
        }
        if (child < 0 || !device.waitForPortOpen(10s)) {
            state.SkipWithError("the polling loop did not start");
            return;
        }
        measureIdle(state, child);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
}
BENCHMARK(BM_IdlePollingLoop)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
