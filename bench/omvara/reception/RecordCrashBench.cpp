// SPDX-License-Identifier: GPL-3.0-or-later
// How many rows of the record file a crash loses: `omvara --headless --print`
// reads a flood of counting records from a pseudo-terminal (a writer thread
// sends them as fast as they are taken) with a record file, and is killed
// with SIGKILL once it has printed a given number of values. Every value it
// printed has been settled; the rows of those values missing from the file
// are what the crash lost.
//
// The program is the one built beside the benchmark, or the one named by
// the environment variable OMVARA_PROGRAM (to compare builds).
//
// Counters: printed (values printed before the kill), missing_max and
// missing_mean (printed values without their row, over the repetitions),
// lines_per_s (the flood's rate as printed).
#include "BenchApp.h"
#include "omvara/sim/PseudoTerminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

QByteArray records(int first, int last)
{
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += QByteArray::number(i) + " g\r";
    return out;
}

// The values with a row in the record file at `path`.
QSet<QByteArray> recordedValues(const QString &path)
{
    QSet<QByteArray> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    for (const QByteArray &row : file.readAll().split('\n')) {
        const QList<QByteArray> cells = row.split(',');
        if (cells.size() == 6 && cells[5].startsWith("printed"))
            values.insert(cells[4]);
    }
    return values;
}

void BM_RowsLostToAKill(benchmark::State &state)
{
    const int killAfter = int(state.range(0));
    double missingSum = 0;
    double missingMax = 0;
    double rateSum = 0;
    qsizetype printedSum = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("records.csv"));
        omvara::sim::PseudoTerminal device(false);
        QProcess program;
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.setStandardErrorFile(QProcess::nullDevice());
        const QString executable
            = qEnvironmentVariable("OMVARA_PROGRAM", QStringLiteral(OMVARA_BENCH_PROGRAM));
        program.start(executable,
            { QStringLiteral("--prefs-file"), dir.filePath(QStringLiteral("prefs.txt")),
                QStringLiteral("--headless"), QStringLiteral("--print"), QStringLiteral("--set"),
                QStringLiteral("recordFile=") + record, device.devicePath() });
        if (!program.waitForStarted(10000)) {
            state.SkipWithError("the program did not start");
            return;
        }
        std::atomic<bool> stop { false };
        std::thread writer([&] {
            for (int first = 1; !stop; first += 1000)
                if (!device.write(records(first, first + 999), [&] { return stop.load(); }))
                    break;
        });
        QByteArray out;
        qsizetype printed = 0;
        Clock::time_point firstValue;
        const auto deadline = Clock::now() + 60s;
        while (printed < killAfter && Clock::now() < deadline && program.state() == QProcess::Running) {
            program.waitForReadyRead(100);
            out += program.readAllStandardOutput();
            const qsizetype now = out.count('\n');
            if (printed == 0 && now > 0)
                firstValue = Clock::now();
            printed = now;
        }
        const auto killedAt = Clock::now();
        ::kill(pid_t(program.processId()), SIGKILL);
        program.waitForFinished(10000);
        out += program.readAllStandardOutput();
        stop = true;
        writer.join();
        // Whole lines only: the kill may cut the last one.
        const QSet<QByteArray> recorded = recordedValues(record);
        QList<QByteArray> values = out.split('\n');
        values.removeLast();
        printed = values.size();
        double missing = 0;
        for (const QByteArray &value : values)
            missing += recorded.contains(value) ? 0 : 1;
        missingSum += missing;
        missingMax = std::max(missingMax, missing);
        printedSum += printed;
        rateSum += double(printed) / std::chrono::duration<double>(killedAt - firstValue).count();
    }
    const double n = double(state.iterations());
    state.counters["printed"] = double(printedSum) / n;
    state.counters["missing_max"] = missingMax;
    state.counters["missing_mean"] = missingSum / n;
    state.counters["lines_per_s"] = rateSum / n;
}

} // namespace

BENCHMARK(BM_RowsLostToAKill)->Arg(20000)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    bench::app();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
