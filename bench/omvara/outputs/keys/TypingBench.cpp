// SPDX-License-Identifier: GPL-3.0-or-later
// How fast values typed by the keyboard output reach an X client, and
// whether every character arrives, in order. A window of our own receives the
// key events and decodes them with the server's keymap.
#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/x11/X11KeyInjector.h"
#include "omvara/reception/WeightWorkerView.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using namespace omvara::outputs;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

class QuietView : public omvara::reception::WeightWorkerView
{
public:
    void logEvent(const QString &) override { }
    void logImportantEvent(const QString &) override { ++reports; }
    void setConnectedInGUI(bool) override { }
    void showDataLine(omvara::processing::DataLine &) override { }
    std::atomic<int> reports = 0;
};

// A focused window that collects the characters of its key presses.
class Receiver
{
public:
    Receiver()
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return;
        const int screen = DefaultScreen(m_display);
        m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(m_display, m_window, KeyPressMask | ExposureMask | StructureNotifyMask);
        XMapRaised(m_display, m_window);
        XEvent event;
        do
            XNextEvent(m_display, &event);
        while (event.type != MapNotify);
        XWarpPointer(m_display, None, m_window, 0, 0, 0, 0, 50, 50);
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }
    ~Receiver()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool ok() const { return m_display != nullptr; }

    // Collects until `count` characters have arrived or nothing arrived for 2 s.
    std::string collect(std::size_t count)
    {
        std::string text;
        auto lastArrival = std::chrono::steady_clock::now();
        while (
            text.size() < count && std::chrono::steady_clock::now() - lastArrival < std::chrono::seconds(2)) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type != KeyPress)
                    continue;
                char buffer[8];
                KeySym sym;
                const int n = XLookupString(&event.xkey, buffer, sizeof buffer, &sym, nullptr);
                text.append(buffer, static_cast<std::size_t>(n));
                lastArrival = std::chrono::steady_clock::now();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return text;
    }

private:
    Display *m_display = nullptr;
    Window m_window = 0;
};

// Typing `characters` characters (values of 10 with a terminator) with a
// delay of range(0) ms. Reports characters per second and how many were
// lost or arrived out of place.
void BM_TypeIntoX11Window(benchmark::State &state)
{
    const int delay = static_cast<int>(state.range(0));
    const std::size_t characters = static_cast<std::size_t>(state.range(1));
    if (!getenv("DISPLAY")) {
        state.SkipWithError("no X display");
        return;
    }
    Receiver receiver;
    if (!receiver.ok()) {
        state.SkipWithError("cannot open the display");
        return;
    }
    // Digits, signs, capitals and small letters: plain and shifted keys.
    const QString alphabet = QStringLiteral("0123456789-+.,AbCdEfGhIjKlMnOpQrStUvWxYz:*/");
    QStringList values;
    std::string expected;
    for (std::size_t i = 0; expected.size() < characters; ++i) {
        QString value;
        for (int j = 0; j < 9; ++j)
            value
                += alphabet[static_cast<qsizetype>((i * 9 + static_cast<std::size_t>(j)) % alphabet.size())];
        values << value;
        expected += value.toStdString() + "\t";
    }

    for (auto _ : state) {
        QuietView view;
        Keybot bot(&view, KeyboardType::QUERTY, KeyMapType::ALPHANUMERIC_COMPLETE, 0, 9, delay,
            keys::openX11KeyInjector());
        const auto begin = std::chrono::steady_clock::now();
        bot.start();
        for (const QString &value : values)
            bot.enqueue(value);
        const std::string received = receiver.collect(expected.size());
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        bot.stop();
        bot.join();

        std::size_t misplaced = 0;
        for (std::size_t i = 0; i < std::min(received.size(), expected.size()); ++i)
            misplaced += received[i] != expected[i];
        state.counters["chars"] = static_cast<double>(expected.size());
        state.counters["chars_per_second"] = static_cast<double>(received.size()) / seconds;
        state.counters["lost"]
            = static_cast<double>(expected.size() > received.size() ? expected.size() - received.size() : 0);
        state.counters["misplaced"] = static_cast<double>(misplaced);
        state.counters["reports"] = view.reports.load();
    }
}

// 30 readings as a balance sends them into a spreadsheet column, each with
// Enter, at a delay of range(0) ms: with doubled digits ("1000", "0.001",
// "12.345", "-12.50") when range(1) is 1, without ("12.5", "-0.37", "1204",
// "9.81") when it is 0. Reports the time from the first value handed over to
// the last character received.
void BM_TypeThirtyReadings(benchmark::State &state)
{
    const int delay = static_cast<int>(state.range(0));
    const bool doubled = state.range(1) != 0;
    if (!getenv("DISPLAY")) {
        state.SkipWithError("no X display");
        return;
    }
    Receiver receiver;
    if (!receiver.ok()) {
        state.SkipWithError("cannot open the display");
        return;
    }
    const QStringList kinds = doubled ? QStringList { "1000", "0.001", "12.345", "-12.50" }
                                      : QStringList { "12.5", "-0.37", "1204", "9.81" };
    QStringList values;
    std::string expected;
    for (int i = 0; i < 30; ++i) {
        values << kinds[i % kinds.size()];
        expected += values.last().toStdString() + "\r";
    }
    double totalMs = 0, lost = 0, wrong = 0;
    for (auto _ : state) {
        QuietView view;
        Keybot bot(
            &view, KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, 10, delay, keys::openX11KeyInjector());
        const auto begin = std::chrono::steady_clock::now();
        bot.start();
        for (const QString &value : values)
            bot.enqueue(value);
        const std::string received = receiver.collect(expected.size());
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        bot.stop();
        bot.join();
        totalMs += seconds * 1000;
        lost
            += static_cast<double>(expected.size() > received.size() ? expected.size() - received.size() : 0);
        wrong += received == expected ? 0 : 1;
    }
    // Per iteration: the typing time, characters lost, runs that arrived wrong.
    state.counters["ms_for_30"] = benchmark::Counter(totalMs, benchmark::Counter::kAvgIterations);
    state.counters["lost"] = lost;
    state.counters["wrong_runs"] = wrong;
}

} // namespace

BENCHMARK(BM_TypeThirtyReadings)
    ->Args({ 0, 1 })
    ->Args({ 0, 0 })
    ->Args({ 20, 1 })
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Delay 0: 10,000 characters. Delay 20 ms (the default) costs at least 40 ms
// per plain and 80 ms per shifted character, so 500 characters (about half a
// minute) show its rate.
BENCHMARK(BM_TypeIntoX11Window)
    ->Args({ 0, 10000 })
    ->Args({ 20, 500 })
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

BENCHMARK_MAIN();
