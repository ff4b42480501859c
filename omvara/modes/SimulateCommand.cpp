// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/SimulateCommand.h"

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/RequestSettings.h"
#include "omvara/sim/InstrumentSimulator.h"
#include "omvara/sim/PseudoTerminal.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

namespace omvara::modes {

using Instrument = config::ConfigHelper::Instrument;
using sim::InstrumentSimulator;
using sim::PseudoTerminal;

namespace {

std::atomic<bool> stopRequested { false };

extern "C" void onStopSignal(int)
{
    stopRequested = true;
}

void usage(std::FILE *err)
{
    std::fputs("Usage: omvara --simulate INSTRUMENT [--interval MS] [--count N] [--sequence]\n"
               "                         [--on-request [--request-command TEXT]]\n"
               "Simulates an instrument on a new pseudo-terminal: prints the terminal's path,\n"
               "waits until a program opens it, then sends a record every MS milliseconds\n"
               "(default 1000; 0: as fast as it is read), N records in all (default: until\n"
               "interrupted). With --sequence the records carry the readings 1, 2, 3, ...\n"
               "With --on-request it sends one record for each request it receives: the\n"
               "instrument's own request command, or TEXT (escapes \\r \\n \\t \\e \\xHH \\\\).\n",
        err);
}

bool parseNumber(const QString &text, int minimum, int &value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < minimum)
        return false;
    value = v;
    return true;
}

// Sleeps up to `duration`, in small steps so that a stop signal ends it soon.
void pause(std::chrono::milliseconds duration)
{
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (!stopRequested && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            deadline - std::chrono::steady_clock::now(), std::chrono::milliseconds(10)));
}

} // namespace

int runSimulator(const QStringList &args, std::FILE *out, std::FILE *err)
{
    QString instrument;
    int interval = 1000;
    int count = -1;
    bool counting = false;
    bool onRequest = false;
    std::optional<QString> requestText;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--simulate") && hasValue && instrument.isEmpty()) {
            instrument = args[++i];
        } else if (arg == QLatin1String("--interval") && hasValue) {
            if (!parseNumber(args[++i], 0, interval)) {
                std::fprintf(err, "omvara: --interval needs a number of milliseconds, not \"%s\"\n",
                    qPrintable(args[i]));
                return 2;
            }
        } else if (arg == QLatin1String("--sequence")) {
            counting = true;
        } else if (arg == QLatin1String("--on-request")) {
            onRequest = true;
        } else if (arg == QLatin1String("--request-command") && hasValue) {
            requestText = args[++i];
        } else if (arg == QLatin1String("--count") && hasValue) {
            if (!parseNumber(args[++i], 0, count)) {
                std::fprintf(
                    err, "omvara: --count needs a number of records, not \"%s\"\n", qPrintable(args[i]));
                return 2;
            }
        } else {
            std::fprintf(err, "omvara: unexpected argument \"%s\"\n", qPrintable(arg));
            usage(err);
            return 2;
        }
    }
    if (instrument.isEmpty()) {
        usage(err);
        return 2;
    }
    if (!Instrument::valid(instrument)) {
        std::fprintf(err, "omvara: unknown instrument \"%s\"; one of:", qPrintable(instrument));
        for (const Instrument *i : Instrument::values())
            std::fprintf(err, " %s", qPrintable(i->name()));
        std::fputs("\n", err);
        return 2;
    }

    QByteArray request;
    if (requestText && !onRequest) {
        std::fputs("omvara: --request-command goes with --on-request\n", err);
        return 2;
    }
    if (onRequest) {
        QString problem;
        const std::optional<QByteArray> decoded = requestText
            ? config::RequestCommand::decode(*requestText, &problem)
            : std::optional<QByteArray>(Instrument::valueOf(instrument).getDataCommand().toLatin1());
        if (!decoded) {
            std::fprintf(
                err, "omvara: --request-command \"%s\": %s\n", qPrintable(*requestText), qPrintable(problem));
            return 2;
        }
        request = *decoded;
        if (request.isEmpty()) {
            std::fprintf(err, "omvara: %s has no request command of its own; give --request-command TEXT\n",
                qPrintable(instrument));
            return 2;
        }
    }

    InstrumentSimulator simulator(instrument, counting);
    PseudoTerminal terminal(false);
    std::fprintf(out, "%s\n", qPrintable(terminal.devicePath()));
    std::fflush(out);

    stopRequested = false;
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt
    {
    }, oldTerm {};
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);

    int sent = 0;
    int status = 0;
    QByteArray received; // bytes from the program not yet taken as a request
    try {
        while (!stopRequested && (count < 0 || sent < count)) {
            if (!terminal.isPortOpen()) {
                std::fprintf(
                    err, "%s: waiting for a program to open the port\n", qPrintable(terminal.devicePath()));
                while (!stopRequested && !terminal.waitForPortOpen(std::chrono::milliseconds(100))) { }
                // The program discards what was waiting when it opened the port; give it time to do so.
                if (!onRequest)
                    pause(std::chrono::milliseconds(std::max(interval, 300)));
                received.clear();
                continue;
            }
            if (onRequest) {
                // One record for each request received; what comes before
                // a request (or is no request at all) is dropped.
                received += terminal.readSent(std::chrono::milliseconds(100));
                const qsizetype at = received.indexOf(request);
                if (at < 0) {
                    received = received.right(request.size() - 1);
                    continue;
                }
                received.remove(0, at + request.size());
            }
            // A program that stopped reading (or closed the port) must not
            // hold the simulator: a stop signal ends the write, a closed port
            // sends it back to waiting (the record is lost with the port).
            if (!terminal.write(
                    simulator.nextRecord(), [&] { return stopRequested || !terminal.isPortOpen(); }))
                continue;
            ++sent;
            if (!onRequest && (count < 0 || sent < count))
                pause(std::chrono::milliseconds(interval));
        }
        // Closing the device side loses what the program has not read yet.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!stopRequested && terminal.isPortOpen() && terminal.pendingBytes() > 0
            && std::chrono::steady_clock::now() < deadline)
            pause(std::chrono::milliseconds(10));
        pause(std::chrono::milliseconds(100));
    } catch (const std::exception &e) {
        std::fprintf(err, "omvara: %s\n", e.what());
        status = 1;
    }
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    std::fprintf(err, "%s: %d records sent\n", qPrintable(terminal.devicePath()), sent);
    return status;
}

} // namespace omvara::modes
