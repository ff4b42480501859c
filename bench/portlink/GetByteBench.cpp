// SPDX-License-Identifier: GPL-3.0-or-later
// The reading loop calls getByte() once per received byte and once per empty
// poll; it must answer at once, without blocking, whether or not data waits.
#include "portlink/SerialPortLocal.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <benchmark/benchmark.h>

#include <pty.h>
#include <unistd.h>

using namespace portlink;

namespace {

// An empty poll on a pseudo-terminal through the real terminal interface.
void BM_GetByteIdlePty(benchmark::State &state)
{
    testing::ScopedConsoleCapture quiet;
    testing::ScopedNativeSide native(compiledNative());
    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    {
        SerialPortLocal port { SerialConfig(QString::fromLocal8Bit(name)) };
        for (auto _ : state)
            benchmark::DoNotOptimize(port.getByte());
    }
    ::close(slave);
    ::close(master);
}
BENCHMARK(BM_GetByteIdlePty);

// Byte-by-byte reading of data waiting on a pseudo-terminal.
void BM_GetByteWaitingPty(benchmark::State &state)
{
    testing::ScopedConsoleCapture quiet;
    testing::ScopedNativeSide native(compiledNative());
    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    {
        SerialPortLocal port { SerialConfig(QString::fromLocal8Bit(name)) };
        const char record[] = "ST,GS,+00012.50  g\r\n";
        for (auto _ : state) {
            state.PauseTiming();
            (void)::write(master, record, sizeof record - 1);
            ::usleep(200);
            state.ResumeTiming();
            int n = 0;
            while (port.getByte() >= 0)
                ++n;
            benchmark::DoNotOptimize(n);
        }
    }
    ::close(slave);
    ::close(master);
}
BENCHMARK(BM_GetByteWaitingPty);

} // namespace

BENCHMARK_MAIN();
