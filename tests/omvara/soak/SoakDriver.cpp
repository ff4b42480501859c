// SPDX-License-Identifier: GPL-3.0-or-later
// The soak: the instrument simulator sends counting records as fast as they
// are read, `omvara --headless --print` prints their values, and this driver
// checks that every value arrives exactly once and in order, samples the
// reader's memory, threads and open files all along, and stops it with SIGINT.
//
//   omvara_soak --omvara PATH [--records N] [--instrument NAME] [--terminator BYTE]
//               [--sample-ms MS] [--rss-growth-mib MIB]
//
// --rss-growth-mib: how much more the reader may hold in the last tenth of the
// records than in the first (default 8; 0 only reports it, for builds whose
// allocator keeps freed memory, such as the address sanitizer's).
// Prints a report and, last, one line "soak: key=value ..." for scripts.
// Exit status 0 when everything held, 1 when something did not, 2 for a bad
// command line.
#include "ProcessProbe.h"
#include "SoakTally.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using omvara::soak::ProcessSample;
using omvara::soak::SequenceTally;

namespace {

struct Options
{
    std::string omvara;
    long records = 20000;
    std::string instrument = "SARTORIUS";
    int terminator = 10;
    int sampleMs = 100;
    long rssGrowthMiB = 8; // 0: report only
};

// A child process with its standard output and error on pipes.
struct Child
{
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    std::optional<int> status; // the exit status once reaped (-1: killed by a signal)
};

Child spawn(const std::vector<std::string> &args)
{
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        std::perror("soak: pipe");
        std::exit(1);
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("soak: fork");
        std::exit(1);
    }
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        const int nul = ::open("/dev/null", O_RDONLY);
        ::dup2(nul, 0);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::perror("soak: exec");
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);
    return Child { pid, out[0], err[0], std::nullopt };
}

// Waits up to `timeout` for the child to end; true when it did.
bool reap(Child &child, Clock::duration timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!child.status) {
        int status = 0;
        const pid_t r = ::waitpid(child.pid, &status, WNOHANG);
        if (r == child.pid)
            child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        else if (Clock::now() >= deadline)
            return false;
        else
            std::this_thread::sleep_for(5ms);
    }
    return true;
}

void killAndReap(Child &child)
{
    if (child.pid > 0 && !child.status) {
        ::kill(child.pid, SIGCONT);
        ::kill(child.pid, SIGKILL);
        reap(child, 10s);
    }
}

// Reads what a pipe has and hands on each complete line. Returns false at the end of the stream.
template <typename OnLine> bool drain(int &fd, std::string &pending, OnLine onLine)
{
    if (fd < 0)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            pending.append(buffer, size_t(n));
            size_t start = 0;
            for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
                onLine(std::string_view(pending).substr(start, nl - start));
            pending.erase(0, start);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (!pending.empty())
            onLine(std::string_view(pending));
        pending.clear();
        ::close(fd);
        fd = -1;
        return false;
    }
}

// The last lines of a log, and its important ("! ") entries.
struct LogTail
{
    std::deque<std::string> last;
    std::vector<std::string> important;
    long importantCount = 0;
    bool stopped = false;
    bool portReady = false;

    void take(std::string_view line)
    {
        if (line.find("Stopped.") != std::string_view::npos)
            stopped = true;
        if (line.find("RTS: off, DTR: on.") != std::string_view::npos)
            portReady = true;
        if (line.size() > 9 && line.substr(9, 2) == "! ") {
            ++importantCount;
            if (important.size() < 5)
                important.emplace_back(line);
        }
        last.emplace_back(line);
        if (last.size() > 12)
            last.pop_front();
    }
    void print(const char *name) const
    {
        std::printf("--- last lines of %s:\n", name);
        for (const std::string &l : last)
            std::printf("    %s\n", l.c_str());
    }
};

struct Sample
{
    long values; // values printed when the sample was taken
    ProcessSample process;
};

int usage()
{
    std::fputs("usage: omvara_soak --omvara PATH [--records N] [--instrument NAME] [--terminator BYTE]\n"
               "                   [--sample-ms MS] [--rss-growth-mib MIB]\n",
        stderr);
    return 2;
}

std::optional<Options> parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const char *v = argv[++i];
        if (a == "--omvara")
            o.omvara = v;
        else if (a == "--records")
            o.records = std::atol(v);
        else if (a == "--instrument")
            o.instrument = v;
        else if (a == "--terminator")
            o.terminator = std::atoi(v);
        else if (a == "--sample-ms")
            o.sampleMs = std::atoi(v);
        else if (a == "--rss-growth-mib")
            o.rssGrowthMiB = std::atol(v);
        else
            return std::nullopt;
    }
    if (o.omvara.empty() || o.records < 1 || o.records > 9'999'999 || o.sampleMs < 1 || o.rssGrowthMiB < 0)
        return std::nullopt;
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    const std::optional<Options> parsed = parse(argc, argv);
    if (!parsed)
        return usage();
    const Options &o = *parsed;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);

    char dirTemplate[] = "/tmp/omvara-soak-XXXXXX";
    if (!::mkdtemp(dirTemplate)) {
        std::perror("soak: mkdtemp");
        return 1;
    }
    const std::string prefs = std::string(dirTemplate) + "/prefs.txt";
    std::vector<std::string> failures;

    // The simulator, held stopped until the reader has opened the port and
    // discarded what was waiting there, so that record 1 is the first it reads.
    Child simulator = spawn({ o.omvara, "--simulate", o.instrument, "--interval", "0", "--sequence" });
    std::string path, simOutPending, simErrPending;
    LogTail simLog;
    for (const auto deadline = Clock::now() + 60s; path.empty() && Clock::now() < deadline;) {
        pollfd p { simulator.out, POLLIN, 0 };
        ::poll(&p, 1, 100);
        drain(simulator.out, simOutPending, [&](std::string_view line) {
            if (path.empty())
                path = std::string(line);
        });
        drain(simulator.err, simErrPending, [&](std::string_view line) { simLog.take(line); });
        if (simulator.out < 0)
            break;
    }
    if (path.empty()) {
        std::printf("soak: the simulator printed no terminal path\n");
        simLog.print("the simulator's log");
        killAndReap(simulator);
        return 1;
    }
    ::kill(simulator.pid, SIGSTOP);
    for (const auto deadline = Clock::now() + 10s; omvara::soak::processState(simulator.pid) != 'T';) {
        if (Clock::now() >= deadline) {
            std::printf("soak: the simulator did not stop for the start\n");
            killAndReap(simulator);
            return 1;
        }
        std::this_thread::sleep_for(1ms);
    }

    Child reader = spawn(
        { o.omvara, "--headless", "--print", "--prefs-file", prefs, "--set", "instrument=" + o.instrument,
            "--set", "inputTerminator=" + std::to_string(o.terminator), "--set", "decimalPlaces=0", path });
    SequenceTally tally;
    LogTail readerLog;
    std::string outPending, errPending;
    std::vector<Sample> samples;
    const auto takeValue = [&](std::string_view line) { tally.take(line); };
    const auto takeLog = [&](std::string_view line) { readerLog.take(line); };

    for (const auto deadline = Clock::now() + 60s; !readerLog.portReady;) {
        pollfd p { reader.err, POLLIN, 0 };
        ::poll(&p, 1, 100);
        const bool open = drain(reader.err, errPending, takeLog);
        drain(reader.out, outPending, takeValue);
        if (!open || Clock::now() >= deadline)
            break;
    }
    if (!readerLog.portReady) {
        std::printf("soak: the reader did not open %s\n", path.c_str());
        readerLog.print("the reader's log");
        killAndReap(reader);
        killAndReap(simulator);
        return 1;
    }
    ::kill(simulator.pid, SIGCONT);

    // Read until the reader ends; SIGINT once every record up to N has arrived.
    const auto start = Clock::now();
    auto lastSample = Clock::time_point {};
    auto lastProgress = Clock::now();
    std::int64_t lastLines = 0;
    std::optional<Clock::time_point> stopSent;
    double seconds = 0;
    while (reader.out >= 0 || reader.err >= 0) {
        pollfd p[3] = { { reader.out, POLLIN, 0 }, { reader.err, POLLIN, 0 }, { simulator.err, POLLIN, 0 } };
        ::poll(p, 3, 20);
        drain(reader.out, outPending, takeValue);
        drain(reader.err, errPending, takeLog);
        drain(simulator.err, simErrPending, [&](std::string_view line) { simLog.take(line); });
        const auto now = Clock::now();
        if (!stopSent && now - lastSample >= std::chrono::milliseconds(o.sampleMs)) {
            if (const auto s = omvara::soak::sampleProcess(reader.pid))
                samples.push_back({ long(tally.lines()), *s });
            lastSample = now;
        }
        if (!stopSent && tally.highest() >= o.records) {
            seconds = std::chrono::duration<double>(now - start).count();
            if (const auto s = omvara::soak::sampleProcess(reader.pid))
                samples.push_back({ long(tally.lines()), *s });
            ::kill(reader.pid, SIGINT);
            stopSent = now;
        }
        if (tally.lines() != lastLines) {
            lastLines = tally.lines();
            lastProgress = now;
        } else if (!stopSent && now - lastProgress > 60s) {
            failures.push_back("no value for 60 s after " + std::to_string(tally.lines()) + " values");
            ::kill(reader.pid, SIGINT);
            stopSent = now;
        }
        if (stopSent && now - *stopSent > 60s) {
            failures.push_back("the reader did not end within 60 s of SIGINT");
            break;
        }
    }
    if (!reap(reader, 30s)) {
        failures.push_back("the reader did not end after SIGINT");
        killAndReap(reader);
    }
    ::kill(simulator.pid, SIGINT);
    if (!reap(simulator, 30s)) {
        failures.push_back("the simulator did not end on SIGINT");
        killAndReap(simulator);
    }
    drain(simulator.err, simErrPending, [&](std::string_view line) { simLog.take(line); });

    // What arrived.
    const std::int64_t n = o.records;
    const std::int64_t missing = tally.missing(std::max<std::int64_t>(n, tally.highest()));
    const std::int64_t lost = missing + tally.duplicated() + tally.outOfOrder() + tally.garbled();
    if (tally.highest() < n)
        failures.push_back(
            "only " + std::to_string(tally.highest()) + " of " + std::to_string(n) + " records arrived");
    if (lost > 0)
        failures.push_back("values missing, repeated, out of order or garbled");
    if (reader.status != 0)
        failures.push_back(
            "the reader's exit status was " + std::to_string(reader.status.value_or(-1)) + ", not 0");
    if (!readerLog.stopped)
        failures.push_back("the reader's log has no \"Stopped.\"");

    // What the reader held: after the first tenth of the records (start-up
    // done), threads and descriptors must not grow, and resident memory in the
    // last tenth must stay within the given growth over the first tenth.
    long peakKiB = 0, firstTenthKiB = 0, lastTenthKiB = 0;
    int fdsWarm = -1, fdsMax = -1, threadsWarm = -1, threadsMax = -1;
    for (const Sample &s : samples) {
        peakKiB = std::max(peakKiB, s.process.peakKiB);
        if (s.values <= n / 10)
            firstTenthKiB = std::max(firstTenthKiB, s.process.rssKiB);
        if (s.values >= n - n / 10)
            lastTenthKiB = std::max(lastTenthKiB, s.process.rssKiB);
        if (s.values > n / 10) {
            if (fdsWarm < 0) {
                fdsWarm = s.process.fds;
                threadsWarm = s.process.threads;
            }
            fdsMax = std::max(fdsMax, s.process.fds);
            threadsMax = std::max(threadsMax, s.process.threads);
        }
    }
    const bool steady = fdsWarm >= 0 && fdsMax <= fdsWarm && threadsMax <= threadsWarm;
    if (fdsWarm < 0)
        failures.push_back("no sample of the reader after its first tenth");
    else if (!steady)
        failures.push_back("descriptors or threads grew during the run");
    const bool bounded = firstTenthKiB > 0 && lastTenthKiB > 0;
    const long growthKiB = bounded ? lastTenthKiB - firstTenthKiB : 0;
    if (bounded && o.rssGrowthMiB > 0 && growthKiB > o.rssGrowthMiB * 1024)
        failures.push_back("resident memory grew by " + std::to_string(growthKiB / 1024)
            + " MiB from the first to the last tenth");

    std::printf("soak: %s, %ld records, simulator -> %s --headless --print\n", o.instrument.c_str(),
        o.records, o.omvara.c_str());
    std::printf("values printed %lld (highest %lld, all of 1..%lld arrived); missing %lld, duplicated %lld, "
                "out of order %lld, garbled %lld\n",
        (long long)tally.lines(), (long long)tally.highest(), (long long)tally.complete(), (long long)missing,
        (long long)tally.duplicated(), (long long)tally.outOfOrder(), (long long)tally.garbled());
    std::printf(
        "time to record %ld: %.1f s, %.0f records/s\n", o.records, seconds, seconds > 0 ? n / seconds : 0.0);
    std::printf(
        "reader: peak RSS %.1f MiB; RSS first tenth %.1f MiB, last tenth %.1f MiB; fds %d..%d, threads "
        "%d..%d after warm-up; %zu samples\n",
        peakKiB / 1024.0, firstTenthKiB / 1024.0, lastTenthKiB / 1024.0, fdsWarm, fdsMax, threadsWarm,
        threadsMax, samples.size());
    std::printf("reader: exit status %d, %s; %ld important log entries\n", reader.status.value_or(-1),
        readerLog.stopped ? "\"Stopped.\" logged" : "no \"Stopped.\"", readerLog.importantCount);
    for (const std::string &l : readerLog.important)
        std::printf("    %s\n", l.c_str());
    if (!failures.empty()) {
        for (const std::string &f : failures)
            std::printf("FAILED: %s\n", f.c_str());
        readerLog.print("the reader's log");
        simLog.print("the simulator's log");
    }
    std::printf(
        "soak: records=%ld printed=%lld missing=%lld duplicated=%lld out_of_order=%lld garbled=%lld "
        "lost=%lld seconds=%.1f rate=%.0f peak_rss_kib=%ld rss_first_kib=%ld rss_last_kib=%ld fds=%d..%d "
        "threads=%d..%d steady=%d exit=%d stopped=%d held=%d\n",
        o.records, (long long)tally.lines(), (long long)missing, (long long)tally.duplicated(),
        (long long)tally.outOfOrder(), (long long)tally.garbled(), (long long)lost, seconds,
        seconds > 0 ? n / seconds : 0.0, peakKiB, firstTenthKiB, lastTenthKiB, fdsWarm, fdsMax, threadsWarm,
        threadsMax, steady ? 1 : 0, reader.status.value_or(-1), readerLog.stopped ? 1 : 0,
        failures.empty() ? 1 : 0);
    std::error_code ignored;
    std::filesystem::remove_all(dirTemplate, ignored);
    return failures.empty() ? 0 : 1;
}
