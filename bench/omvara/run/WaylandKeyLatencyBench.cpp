// SPDX-License-Identifier: GPL-3.0-or-later
// A whole run typing on a real Wayland compositor: a pseudo-terminal plays
// the device, the run reads it and types each value through the keyboard
// output the choice takes in a Wayland session (the virtual keyboard where
// the compositor offers it), and a focused window of this program's own, a
// plain Wayland client, notes when each key press reaches it. Needs a
// Wayland session: scripts/lib/with-sway runs it on a headless sway.
//
// BM_TerminatorToKey: latency_median_us and latency_p99_us (terminator
// written -> first key press of its value in the window), records.
// BM_CharactersPerSecond: a burst of records at delay 0; chars_per_s from
// the first key press to the last, lost (key presses that did not arrive).
// backend: 1 when the keys went through the virtual keyboard.
#include "BenchApp.h"
#include "omvara/config/Instrument.h"
#include "omvara/run/Run.h"
#include "omvara/sim/PseudoTerminal.h"

#include "xdg-shell-client.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using bench::app;

// A toplevel window that takes the keyboard focus and notes the arrival of
// every key press, on a thread of its own.
class KeyWindow
{
public:
    KeyWindow()
    {
        m_display = wl_display_connect(nullptr);
        if (!m_display)
            return;
        wl_registry *registry = wl_display_get_registry(m_display);
        static const wl_registry_listener registryListener {
            [](void *data, wl_registry *r, uint32_t name, const char *interface, uint32_t version) {
                auto *self = static_cast<KeyWindow *>(data);
                if (!std::strcmp(interface, wl_compositor_interface.name))
                    self->m_compositor = static_cast<wl_compositor *>(
                        wl_registry_bind(r, name, &wl_compositor_interface, 4));
                else if (!std::strcmp(interface, wl_shm_interface.name))
                    self->m_shm = static_cast<wl_shm *>(wl_registry_bind(r, name, &wl_shm_interface, 1));
                else if (!std::strcmp(interface, xdg_wm_base_interface.name))
                    self->m_wmBase
                        = static_cast<xdg_wm_base *>(wl_registry_bind(r, name, &xdg_wm_base_interface, 1));
                else if (!std::strcmp(interface, wl_seat_interface.name) && !self->m_seat)
                    self->m_seat = static_cast<wl_seat *>(
                        wl_registry_bind(r, name, &wl_seat_interface, std::min(version, 5u)));
            },
            [](void *, wl_registry *, uint32_t) {}
        };
        wl_registry_add_listener(registry, &registryListener, this);
        wl_display_roundtrip(m_display);
        if (!m_compositor || !m_shm || !m_wmBase || !m_seat)
            return;
        static const xdg_wm_base_listener wmBaseListener { [](void *, xdg_wm_base *base, uint32_t serial) {
            xdg_wm_base_pong(base, serial);
        } };
        xdg_wm_base_add_listener(m_wmBase, &wmBaseListener, this);
        static const wl_keyboard_listener keyboardListener { [](void *, wl_keyboard *, uint32_t, int32_t fd,
                                                                 uint32_t) { ::close(fd); },
            [](void *data, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {
                static_cast<KeyWindow *>(data)->m_focused = true;
            },
            [](void *data, wl_keyboard *, uint32_t, wl_surface *) {
                static_cast<KeyWindow *>(data)->m_focused = false;
            },
            [](void *data, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t state) {
                if (state != WL_KEYBOARD_KEY_STATE_PRESSED)
                    return;
                const auto now = Clock::now();
                auto *self = static_cast<KeyWindow *>(data);
                std::lock_guard lock(self->m_mutex);
                self->m_presses.push_back(now);
            },
            [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
            [](void *, wl_keyboard *, int32_t, int32_t) {} };
        m_keyboard = wl_seat_get_keyboard(m_seat);
        wl_keyboard_add_listener(m_keyboard, &keyboardListener, this);

        m_surface = wl_compositor_create_surface(m_compositor);
        m_xdgSurface = xdg_wm_base_get_xdg_surface(m_wmBase, m_surface);
        static const xdg_surface_listener surfaceListener { [](void *data, xdg_surface *surface,
                                                                uint32_t serial) {
            xdg_surface_ack_configure(surface, serial);
            static_cast<KeyWindow *>(data)->m_configured = true;
        } };
        xdg_surface_add_listener(m_xdgSurface, &surfaceListener, this);
        m_toplevel = xdg_surface_get_toplevel(m_xdgSurface);
        xdg_toplevel_set_title(m_toplevel, "omvara key latency");
        wl_surface_commit(m_surface);
        while (!m_configured && wl_display_dispatch(m_display) >= 0) { }
        // Something to show: a small white buffer.
        const int width = 200, height = 100, stride = width * 4, size = stride * height;
        const int fd = memfd_create("omvara-bench-buffer", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, size) < 0)
            return;
        void *pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (pixels != MAP_FAILED) {
            std::memset(pixels, 0xff, size);
            munmap(pixels, size);
        }
        wl_shm_pool *pool = wl_shm_create_pool(m_shm, fd, size);
        m_buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        ::close(fd);
        wl_surface_attach(m_surface, m_buffer, 0, 0);
        wl_surface_commit(m_surface);
        wl_display_roundtrip(m_display);
        m_reader = std::thread([this] { read(); });
    }
    ~KeyWindow()
    {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_display)
            wl_display_disconnect(m_display);
    }
    bool ready() const { return m_reader.joinable(); }
    bool focused() const { return m_focused; }
    // The error that ended the window's connection (the compositor closes a
    // client that falls too far behind), or 0.
    int lostConnection() const { return m_lostConnection; }
    std::vector<Clock::time_point> presses() const
    {
        std::lock_guard lock(m_mutex);
        return m_presses;
    }
    size_t count() const
    {
        std::lock_guard lock(m_mutex);
        return m_presses.size();
    }

private:
    void read()
    {
        const int fd = wl_display_get_fd(m_display);
        while (!m_stop) {
            while (wl_display_prepare_read(m_display) != 0)
                wl_display_dispatch_pending(m_display);
            wl_display_flush(m_display);
            pollfd readable { fd, POLLIN, 0 };
            if (::poll(&readable, 1, 20) > 0)
                wl_display_read_events(m_display);
            else
                wl_display_cancel_read(m_display);
            wl_display_dispatch_pending(m_display);
            if (const int error = wl_display_get_error(m_display)) {
                m_lostConnection = error;
                return;
            }
        }
    }

    wl_display *m_display = nullptr;
    wl_compositor *m_compositor = nullptr;
    wl_shm *m_shm = nullptr;
    xdg_wm_base *m_wmBase = nullptr;
    wl_seat *m_seat = nullptr;
    wl_keyboard *m_keyboard = nullptr;
    wl_surface *m_surface = nullptr;
    xdg_surface *m_xdgSurface = nullptr;
    xdg_toplevel *m_toplevel = nullptr;
    wl_buffer *m_buffer = nullptr;
    bool m_configured = false;
    std::atomic<bool> m_focused { false };
    std::atomic<int> m_lostConnection { 0 };
    std::thread m_reader;
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_presses;
};

class QuietView : public omvara::run::RunObserver, public omvara::run::RunQuestions
{
public:
    void logEvent(const QString &) override { }
    void logImportantEvent(const QString &message) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
    void lineReceived(const omvara::processing::DataLine &) override { }
    void runStarted(const omvara::run::RunStart &start) override { backend = start.keyboardBackend; }
    bool goOnWithoutKeyboard(const QString &) override { return false; }
    void capsLockOn() override { }
    void soundFailed(const QString &) override { }
    void deviceWarning(const QString &, const QString &) override { }
    void cannotStart(omvara::run::StartFailure, const QString &) override { }
    QString backend;
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

// A run on a text instrument that types each record as it stands.
struct TypingRun
{
    explicit TypingRun(int keyDelay)
    {
        const auto &instrument = omvara::config::ConfigHelper::Instrument::BARCODE_ALPHA_COMPLETE;
        omvara::config::Config config = instrument.getDefaultConfig();
        config.setInstrument(instrument);
        config.setInputTerminator(13);
        config.setPort(device.devicePath());
        config.setDelay(QString::number(keyDelay));
        config.setCustomRegEx(QStringLiteral("(.+)"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        omvara::run::Run::Options options;
        options.sound = false;
        run = std::make_unique<omvara::run::Run>(std::move(config), std::move(options), view, view);
    }
    ~TypingRun()
    {
        run->stop();
        waitFor([&] { return run->state().ended(); }, 5s);
    }
    omvara::sim::PseudoTerminal device;
    QuietView view;
    std::unique_ptr<omvara::run::Run> run;
};

// The window ready and focused, the run started and warm (one value typed).
bool prepare(benchmark::State &state, KeyWindow &window, TypingRun &typing, const QByteArray &record)
{
    if (!window.ready()) {
        state.SkipWithError("no Wayland display with a seat and xdg-shell");
        return false;
    }
    if (!waitFor([&] { return window.focused(); }, 5s)) {
        state.SkipWithError("the window did not get the keyboard focus");
        return false;
    }
    if (!typing.run->start()) {
        state.SkipWithError("the run did not start (keyboard or port)");
        return false;
    }
    state.counters["virtual_keyboard"] = typing.view.backend == QLatin1String("virtual-keyboard") ? 1 : 0;
    typing.device.write(record);
    if (!waitFor([&] { return window.count() >= size_t(record.size()); }, 5s)) {
        state.SkipWithError(
            QStringLiteral("the first value did not reach the window (%1 of %2 key presses, through %3)")
                .arg(window.count())
                .arg(record.size())
                .arg(typing.view.backend)
                .toStdString()
                .c_str());
        return false;
    }
    std::this_thread::sleep_for(300ms);
    return true;
}

void BM_TerminatorToKey(benchmark::State &state)
{
    app();
    const int records = int(state.range(0));
    KeyWindow window;
    TypingRun typing(0);
    // "12.5 g" and the terminator: 6 characters and Enter, 7 key presses.
    const QByteArray record("12.5 g\r");
    if (!prepare(state, window, typing, record))
        return;
    const size_t perValue = window.count();
    std::vector<double> latencies;
    for (auto _ : state) {
        for (int i = 0; i < records; ++i) {
            const size_t before = window.count();
            const auto written = Clock::now();
            typing.device.write(record);
            if (!waitFor([&] { return window.count() >= before + perValue; }, 10s)) {
                state.SkipWithError("a value did not arrive whole");
                return;
            }
            latencies.push_back(
                std::chrono::duration<double, std::micro>(window.presses()[before] - written).count());
            std::this_thread::sleep_for(5ms);
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["records"] = double(latencies.size());
    state.counters["latency_median_us"] = latencies[latencies.size() / 2];
    state.counters["latency_p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
}
BENCHMARK(BM_TerminatorToKey)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CharactersPerSecond(benchmark::State &state)
{
    app();
    const int records = int(state.range(0));
    KeyWindow window;
    TypingRun typing(0);
    // Ten characters, three of them with Shift, and Enter: 11 key presses.
    const QByteArray record("Ab12Cd34Ef\r");
    if (!prepare(state, window, typing, record))
        return;
    const size_t before = window.count();
    const size_t expected = size_t(records) * size_t(record.size());
    QByteArray burst;
    for (int i = 0; i < records; ++i)
        burst += record;
    for (auto _ : state) {
        typing.device.write(burst);
        waitFor([&] { return window.count() >= before + expected; }, 60s);
        std::this_thread::sleep_for(300ms); // nothing more arrives
    }
    const std::vector<Clock::time_point> presses = window.presses();
    const size_t arrived = presses.size() - before;
    state.counters["characters"] = double(expected);
    state.counters["lost"] = double(expected) - double(arrived);
    state.counters["window_disconnected"] = window.lostConnection() ? 1 : 0;
    if (arrived >= 2) {
        const double seconds = std::chrono::duration<double>(presses.back() - presses[before]).count();
        state.counters["chars_per_s"] = double(arrived - 1) / seconds;
    }
}
BENCHMARK(BM_CharactersPerSecond)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
