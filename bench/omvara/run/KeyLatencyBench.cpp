// SPDX-License-Identifier: GPL-3.0-or-later
// A whole run typing into a real X window: a pseudo-terminal plays the
// device, the run reads it and types each value through the X11 keyboard
// backend, and a focused window of this program's own notes when each
// KeyPress reaches it. Needs an X display (Xvfb is fine).
//
// Counters: latency_median_us and latency_p99_us (terminator written ->
// first KeyPress of its value in the window), records, key_delay_ms.
#include "BenchApp.h"
#include "omvara/config/Instrument.h"
#include "omvara/run/Run.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/util/ProcessProperties.h"
#include "portlink/Console.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/select.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using bench::app;

// A window that has the keyboard focus and notes the arrival of every KeyPress.
class KeyWindow
{
public:
    KeyWindow()
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return;
        const int screen = DefaultScreen(m_display);
        m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, 0, 200, 100, 0,
            BlackPixel(m_display, screen), WhitePixel(m_display, screen));
        XSelectInput(m_display, m_window, KeyPressMask | StructureNotifyMask);
        XMapRaised(m_display, m_window);
        for (XEvent e;;) {
            XNextEvent(m_display, &e);
            if (e.type == MapNotify)
                break;
        }
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
        m_reader = std::thread([this] { read(); });
    }
    ~KeyWindow()
    {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool ready() const { return m_display != nullptr; }
    std::vector<Clock::time_point> presses() const
    {
        std::lock_guard lock(m_mutex);
        return m_presses;
    }

private:
    void read()
    {
        const int fd = ConnectionNumber(m_display);
        while (!m_stop) {
            while (XPending(m_display) > 0) {
                XEvent e;
                XNextEvent(m_display, &e);
                if (e.type == KeyPress) {
                    const auto now = Clock::now();
                    std::lock_guard lock(m_mutex);
                    m_presses.push_back(now);
                }
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(fd, &readable);
            timeval timeout { 0, 20000 };
            ::select(fd + 1, &readable, nullptr, nullptr, &timeout);
        }
    }

    Display *m_display = nullptr;
    Window m_window = 0;
    std::thread m_reader;
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_presses;
};

class QuietView : public omvara::run::RunObserver, public omvara::run::RunQuestions
{
public:
    void logEvent(const QString &) override { }
    void logImportantEvent(const QString &) override { }
    void lineReceived(const omvara::processing::DataLine &) override { }
    bool goOnWithoutKeyboard(const QString &) override { return false; }
    void capsLockOn() override { }
    void soundFailed(const QString &) override { }
    void deviceWarning(const QString &, const QString &) override { }
    void cannotStart(omvara::run::StartFailure, const QString &) override { }
};

bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(200us);
    }
    return true;
}

void BM_TerminatorToKeyPress(benchmark::State &state)
{
    app();
    const int keyDelay = int(state.range(0));
    const int records = int(state.range(1));
    KeyWindow window;
    if (!window.ready()) {
        state.SkipWithError("no X display");
        return;
    }
    omvara::sim::PseudoTerminal device;
    omvara::config::Config config = omvara::config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    config.setPort(device.devicePath());
    config.setDelay(QString::number(keyDelay));
    QuietView view;
    omvara::run::Run::Options options;
    options.sound = false;
    omvara::run::Run run(std::move(config), std::move(options), view, view);
    if (!run.start()) {
        state.SkipWithError("the run did not start (keyboard or port)");
        return;
    }
    // One value first: how many presses a value makes, and everything warm.
    device.write("12.5 g\r");
    if (!waitFor([&] { return !window.presses().empty(); }, 5s)) {
        state.SkipWithError("no key reached the window");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * keyDelay + 300));
    const size_t perValue = window.presses().size();

    std::vector<double> latencies;
    for (auto _ : state) {
        for (int i = 0; i < records; ++i) {
            const size_t before = window.presses().size();
            const auto written = Clock::now();
            device.write("12.5 g\r");
            if (!waitFor([&] { return window.presses().size() >= before + perValue; }, 10s)) {
                state.SkipWithError("a value did not arrive whole");
                return;
            }
            latencies.push_back(
                std::chrono::duration<double, std::micro>(window.presses()[before] - written).count());
            // The value's last release and the delay after it.
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * keyDelay + 5));
        }
    }
    run.stop();
    waitFor([&] { return run.state().ended(); }, 5s);
    std::sort(latencies.begin(), latencies.end());
    state.counters["records"] = double(latencies.size());
    state.counters["key_delay_ms"] = keyDelay;
    state.counters["latency_median_us"] = latencies[latencies.size() / 2];
    state.counters["latency_p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
}
BENCHMARK(BM_TerminatorToKeyPress)
    ->Args({ 20, 60 })
    ->Args({ 0, 200 })
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
