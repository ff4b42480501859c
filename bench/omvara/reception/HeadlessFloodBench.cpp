// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program under a flood: `omvara --headless --print` reads records
// of 20 bytes from pseudo-terminals, each written by a thread of its own as
// fast as the port takes them, and prints every value to a pipe that the
// benchmark drains; its event log goes to another pipe, drained too.
//
// BM_FloodOneConnection: one port, the program's usual command line.
// BM_FloodFourConnections: four ports flooded at the same time, one run per
// port in one process (--connection a=PORT ... d=PORT).
//
// Every record carries its own number, so the benchmark checks that every
// value arrived once, in order (per connection).
//
// Counters: lines_per_s (all connections together, from the first byte
// written to the last value read), cpu_us_per_line (the program's processor
// time, every thread, from the first byte until it has ended after SIGTERM),
// lost (values that did not arrive, or arrived twice or out of order; 0 is
// the goal).
//
// OMVARA_BENCH_PROGRAM names another build of the program to measure (the
// four-connection case needs one that knows --connection);
// OMVARA_BENCH_RECORDS the records written to each port (default 200000).
#include "omvara/sim/PseudoTerminal.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

QByteArray programPath()
{
    const QByteArray chosen = qgetenv("OMVARA_BENCH_PROGRAM");
    return chosen.isEmpty() ? QByteArray(OMVARA_BENCH_PROGRAM) : chosen;
}

long recordsPerPort()
{
    const long chosen = qEnvironmentVariableIntValue("OMVARA_BENCH_RECORDS");
    return chosen > 0 ? chosen : 200000;
}

// Records 1..count, 20 bytes each with CR LF: "+       1234567 g\r\n".
QByteArray records(long count)
{
    QByteArray out;
    out.reserve(count * 20);
    char record[32];
    for (long i = 1; i <= count; ++i) {
        std::snprintf(record, sizeof record, "+%14ld g\r\n", i);
        out.append(record, 20);
    }
    return out;
}

// Processor time (seconds) of every thread of `pid` so far.
double processCpu(pid_t pid)
{
    double seconds = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            seconds += schedstat.readAll().split(' ').value(0).toDouble() * 1e-9;
    }
    return seconds;
}

// A pipe read by a thread of its own until its writer closes it.
class Drain
{
public:
    Drain()
    {
        if (::pipe2(m_fds, O_CLOEXEC) != 0)
            throw std::runtime_error(std::strerror(errno));
    }
    ~Drain()
    {
        closeWriteEnd();
        join();
        ::close(m_fds[0]);
    }
    // Waits until the writer has closed the pipe and everything was read.
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    int writeEnd() const { return m_fds[1]; }
    void closeWriteEnd()
    {
        if (m_fds[1] >= 0)
            ::close(m_fds[1]);
        m_fds[1] = -1;
    }
    // Keeps what it reads (`keep`), counting lines, or drops it.
    void start(bool keep)
    {
        m_thread = std::thread([this, keep] {
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::read(m_fds[0], buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                long lines = 0;
                for (const char *p = buffer;
                     (p = static_cast<const char *>(std::memchr(p, '\n', size_t(buffer + n - p)))); ++p)
                    ++lines;
                {
                    std::lock_guard lock(m_mutex);
                    if (keep)
                        m_text.append(buffer, n);
                    else if (m_text.size() < 65536)
                        m_text.append(buffer, std::min<qsizetype>(n, 65536 - m_text.size()));
                }
                if (lines > 0) {
                    m_lastLineAt.store(Clock::now().time_since_epoch().count());
                    m_lines.fetch_add(lines);
                }
            }
        });
    }
    long lines() const { return m_lines.load(); }
    Clock::time_point lastLineAt() const { return Clock::time_point(Clock::duration(m_lastLineAt.load())); }
    QByteArray text()
    {
        std::lock_guard lock(m_mutex);
        return m_text;
    }

private:
    int m_fds[2] { -1, -1 };
    std::thread m_thread;
    std::mutex m_mutex;
    QByteArray m_text;
    std::atomic<long> m_lines { 0 };
    std::atomic<Clock::rep> m_lastLineAt { 0 };
};

struct Outcome
{
    double seconds = 0; // first byte written to the last value read
    double cpuSeconds = 0; // the program's, from the first byte to its end
    long values = 0; // values printed
    long lost = 0; // values missing, doubled or out of order
    QString error;
};

// Values that are not the numbers 1..count once each in order, per connection
// (`names` empty: lines are bare values).
long countLost(const QByteArray &printed, const QStringList &names, long count)
{
    std::vector<long> expected(std::size_t(std::max<qsizetype>(names.size(), 1)), 1);
    long wrong = 0;
    for (const QByteArray &line : printed.split('\n')) {
        if (line.isEmpty())
            continue;
        QByteArray value = line;
        std::size_t which = 0;
        if (!names.isEmpty()) {
            const qsizetype tab = line.indexOf('\t');
            which = std::size_t(names.indexOf(QString::fromUtf8(line.left(tab))));
            if (tab < 0 || which >= expected.size()) {
                ++wrong;
                continue;
            }
            value = line.mid(tab + 1);
        }
        bool ok = false;
        const long number = value.trimmed().toLong(&ok);
        if (!ok || number != expected[which])
            ++wrong;
        if (ok && number >= expected[which])
            expected[which] = number + 1;
    }
    long missing = 0;
    for (long next : expected)
        missing += count + 1 - std::min(next, count + 1);
    return wrong + missing;
}

// One whole run: the program on `ports` pseudo-terminals (named a, b, ...
// when `named`), each flooded with `count` records.
Outcome flood(int ports, bool named, long count)
{
    Outcome outcome;
    QTemporaryDir dir;
    std::vector<std::unique_ptr<omvara::sim::PseudoTerminal>> devices;
    QStringList names;
    std::vector<QByteArray> arguments { programPath(), "--prefs-file",
        dir.filePath(QStringLiteral("prefs.txt")).toLocal8Bit(), "--headless", "--print", "--set",
        "inputTerminator=10" };
    for (int i = 0; i < ports; ++i) {
        devices.push_back(std::make_unique<omvara::sim::PseudoTerminal>(false));
        const QByteArray path = devices.back()->devicePath().toLocal8Bit();
        if (named) {
            names << QString(QChar(u'a' + i));
            arguments.push_back("--connection");
            arguments.push_back(names.back().toLatin1() + '=' + path);
        } else {
            arguments.push_back(path);
        }
    }
    Drain out, log;
    std::vector<char *> argv;
    for (QByteArray &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out.writeEnd(), STDOUT_FILENO);
        ::dup2(log.writeEnd(), STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    out.closeWriteEnd();
    log.closeWriteEnd();
    out.start(true);
    log.start(false);
    if (child < 0) {
        outcome.error = QStringLiteral("fork failed");
        return outcome;
    }

    // Each run logs this once its port is open and emptied of older bytes.
    const auto started = [&] { return log.text().count("Values go to the standard output.") >= ports; };
    const auto startDeadline = Clock::now() + 30s;
    while (!started() && Clock::now() < startDeadline && ::waitpid(child, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(10ms);
    if (!started()) {
        outcome.error = QStringLiteral("the program did not start: ") + QString::fromLocal8Bit(log.text());
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return outcome;
    }

    const QByteArray burst = records(count);
    const double cpuBefore = processCpu(child);
    const auto t0 = Clock::now();
    std::atomic<bool> giveUp { false };
    std::vector<std::thread> writers;
    for (auto &device : devices)
        writers.emplace_back([&, d = device.get()] { d->write(burst, [&] { return giveUp.load(); }); });
    const long expected = count * ports;
    // Until every value is in, or nothing came for ten seconds.
    auto lastProgress = Clock::now();
    long seen = 0;
    while (out.lines() < expected && Clock::now() - lastProgress < 10s) {
        std::this_thread::sleep_for(1ms);
        if (out.lines() != seen) {
            seen = out.lines();
            lastProgress = Clock::now();
        }
    }
    const auto t1 = out.lastLineAt();
    giveUp = true;
    for (auto &writer : writers)
        writer.join();
    ::kill(child, SIGTERM);
    int status = 0;
    rusage usage {};
    ::wait4(child, &status, 0, &usage);
    out.join(); // the program has ended: everything it printed has been read
    outcome.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6 - cpuBefore;
    outcome.seconds = std::chrono::duration<double>(t1 - t0).count();
    const QByteArray printed = out.text();
    outcome.values = out.lines();
    outcome.lost = countLost(printed, names, count);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        outcome.error = QStringLiteral("the program ended with status %1").arg(status);
    return outcome;
}

void report(benchmark::State &state, int ports, bool named)
{
    const long count = recordsPerPort();
    double seconds = 0, cpu = 0;
    long values = 0, lost = 0;
    for (auto _ : state) {
        const Outcome outcome = flood(ports, named, count);
        if (!outcome.error.isEmpty()) {
            state.SkipWithError(outcome.error.toStdString().c_str());
            return;
        }
        state.SetIterationTime(outcome.seconds);
        seconds += outcome.seconds;
        cpu += outcome.cpuSeconds;
        values += outcome.values;
        lost += outcome.lost;
    }
    state.counters["lines_per_s"] = double(values) / seconds;
    state.counters["cpu_us_per_line"] = cpu / double(values) * 1e6;
    state.counters["lost"] = double(lost);
}

void BM_FloodOneConnection(benchmark::State &state)
{
    report(state, 1, false);
}
BENCHMARK(BM_FloodOneConnection)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void BM_FloodFourConnections(benchmark::State &state)
{
    report(state, 4, true);
}
BENCHMARK(BM_FloodFourConnections)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

} // namespace

BENCHMARK_MAIN();
