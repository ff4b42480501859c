// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/headless/HeadlessRunner.h"

#include "omvara/Version.h"
#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/headless/HeadlessLog.h"
#include "omvara/headless/SettingsOverrides.h"
#include "omvara/headless/SignalStop.h"
#include "omvara/util/FriendlyPortUtil.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/worker/AutoPortWorker.h"
#include "omvara/worker/Ignorer.h"
#include "omvara/worker/WeightWorkers.h"
#include "portlink/Console.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/SerialPortLocal.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>
#include <optional>

namespace omvara::headless {

namespace {

HeadlessRunner::KeyboardOutputFactory &keyboardFactory()
{
    static HeadlessRunner::KeyboardOutputFactory factory;
    return factory;
}

enum class Command { Run, ListPorts, Detect };

struct Options
{
    Command command = Command::Run;
    bool print = false;
    QString port;
    SettingsOverrides overrides;
};

void fail(const QString &message)
{
    std::fprintf(stderr, "omvara: %s\n", qPrintable(message));
    std::fflush(stderr);
}

// Options of other commands that the runner accepts and leaves alone.
bool isStoreOption(const QString &argument)
{
    return argument == QLatin1String("--prefs-file");
}

std::optional<Options> parse(const QStringList &arguments)
{
    Options options;
    bool commandSeen = false;
    const auto command = [&](Command c) {
        if (commandSeen && options.command != c) {
            fail(QStringLiteral("give one of --headless, --list-ports and --detect"));
            return false;
        }
        commandSeen = true;
        options.command = c;
        return true;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        QString problem;
        if (a == QLatin1String("--headless")) {
            if (!command(Command::Run))
                return std::nullopt;
        } else if (a == QLatin1String("--list-ports")) {
            if (!command(Command::ListPorts))
                return std::nullopt;
        } else if (a == QLatin1String("--detect")) {
            if (!command(Command::Detect))
                return std::nullopt;
        } else if (a == QLatin1String("--print")) {
            options.print = true;
        } else if (a == QLatin1String("--set") || a.startsWith(QLatin1String("--set="))) {
            QString assignment;
            if (a == QLatin1String("--set")) {
                if (i + 1 >= arguments.size()) {
                    fail(QStringLiteral("--set needs KEY=VALUE"));
                    return std::nullopt;
                }
                assignment = arguments[++i];
            } else {
                assignment = a.mid(6);
            }
            if (!options.overrides.add(assignment, &problem)) {
                fail(problem);
                return std::nullopt;
            }
        } else if (isStoreOption(a)) {
            ++i; // its value; the store commands have taken the option already
        } else if (a.startsWith(QLatin1String("--prefs-file="))) {
        } else if (a.startsWith(QLatin1String("-"))) {
            fail(QStringLiteral("unknown option \"%1\"").arg(a));
            return std::nullopt;
        } else if (options.port.isEmpty()) {
            options.port = a;
        } else {
            fail(QStringLiteral("more than one port given: \"%1\" and \"%2\"").arg(options.port, a));
            return std::nullopt;
        }
    }
    return options;
}

// What the run shows: the event log on the error output, values to the output.
class HeadlessView : public worker::WeightWorkerView
{
public:
    HeadlessLog log;
    ValueOutput *output = nullptr;
    worker::Ignorer *ignorer = nullptr;
    bool connected = false;

    void logEvent(const QString &message) override { log.logEvent(message); }
    void logImportantEvent(const QString &message) override { log.logImportantEvent(message); }
    void setConnectedInGUI(bool on) override { connected = on; }
    void showDataLine(worker::DataLine &line) override
    {
        if (ignorer)
            ignorer->process(line);
        const QString raw = line.getRawData();
        if (line.hasValue())
            log.logAt(line.getDateTime(), raw + QStringLiteral("  -> ") + line.getProcessedData());
        else
            log.logAt(line.getDateTime(), raw + QStringLiteral("  (ignored)"));
        if (output && line.hasValue())
            output->put(line.getProcessedData());
    }
};

void prepareProcess()
{
    // The standard output carries only what the command prints (values, ports);
    // the serial layer's progress lines join the log on the error output.
    portlink::Console::setSink([](const QString &line) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
        std::fflush(stderr);
    });
    util::ProcessProperties::set(QStringLiteral("VERSION"), programVersion());
    util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
    util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
}

// The ports to offer: the one named on the command line, else the discovered ones.
QStringList portList(const Options &options)
{
    if (!options.port.isEmpty())
        return { options.port };
    try {
        return portlink::SerialPortLocal::getPortList();
    } catch (const portlink::IoError &e) {
        fail(QStringLiteral("error listing the serial ports: ") + e.message());
        return {};
    }
}

int listPorts(const Options &options)
{
    const QStringList ports = portList(options);
    if (ports.isEmpty()) {
        fail(QStringLiteral("no serial port found"));
        return 1;
    }
    QStringList shown = ports;
    try {
        util::FriendlyPortUtil::update();
        if (util::FriendlyPortUtil::portInfoListIsPopulated()) {
            shown.clear();
            for (const QString &port : ports)
                shown.append(util::FriendlyPortUtil::getFriendlyPortName(port));
        }
    } catch (const std::exception &) {
        // No driver data on this system: the bare names.
    }
    for (const QString &name : shown)
        std::printf("%s\n", qPrintable(name));
    std::fflush(stdout);
    return 0;
}

class DetectionView : public worker::AutoPortWorkerView
{
public:
    std::optional<QString> selected;
    void setButtonToCancel() override { }
    void setButtonToClose() override { }
    void selectPort(const QString &portName) override { selected = portName; }
    void appendMessage(const QString &text, MessageStyle) override
    {
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
    }
};

int detect(const Options &options)
{
    const QStringList ports = portList(options);
    DetectionView view;
    worker::AutoPortWorker detection(ports, view);
    SignalStop stop;
    QObject::connect(&stop, &SignalStop::stopRequested, &detection, [&] { detection.cancel(true); });
    QEventLoop loop;
    QObject::connect(&detection, &worker::AutoPortWorker::finished, &loop, &QEventLoop::quit);
    detection.execute();
    loop.exec();
    if (detection.isCancelled())
        return 0;
    return view.selected ? 0 : 1;
}

int runOnce(const Options &options)
{
    HeadlessView view;
    std::unique_ptr<ValueOutput> output;
    config::Config config;
    {
        std::optional<config::ConfigStore> store;
        store.emplace(QCoreApplication::applicationDirPath());
        bool valid = true;
        try {
            valid = options.overrides.load(config, &*store, portList(options));
        } catch (const std::exception &e) {
            view.logImportantEvent(QStringLiteral("The stored settings cannot be read (%1); using the defaults.")
                                       .arg(QString::fromUtf8(e.what())));
            config = config::Config();
            valid = options.overrides.load(config, nullptr, portList(options));
        }
        if (!valid)
            view.logImportantEvent(
                QStringLiteral("An invalid stored setting was replaced by its default value."));
        if (!options.port.isEmpty())
            config.setPort(options.port);
    }

    if (options.print) {
        output = std::make_unique<PrintOutput>();
    } else if (keyboardFactory()) {
        try {
            output = keyboardFactory()(config, view);
        } catch (const std::exception &e) {
            fail(QStringLiteral("the keyboard output cannot be used: ") + QString::fromUtf8(e.what()));
            return 1;
        }
    } else {
        fail(QStringLiteral("this build has no keyboard output; use --print"));
        return 2;
    }

    std::optional<worker::Ignorer> ignorer;
    if (config.ignoreDuplicates) {
        ignorer.emplace(config);
        view.ignorer = &*ignorer;
    }
    view.output = output.get();

    // Watched from before the port is opened: SIGINT or SIGTERM while a slow
    // driver opens it stops the run once the open returns, instead of ending
    // the process with the port half set up.
    SignalStop stop;
    bool stopRequested = false;
    std::unique_ptr<worker::WeightWorker> worker;
    QObject::connect(&stop, &SignalStop::stopRequested, &stop, [&] {
        stopRequested = true;
        if (worker)
            worker->cancel(true);
    });
    try {
        worker = worker::createWeightWorker(config, view);
    } catch (const portlink::NativeLibraryError &e) {
        fail(e.message());
        return 2;
    } catch (const std::exception &e) {
        fail(QString::fromUtf8(e.what()));
        return 1;
    }
    output->start();
    const auto *instrument = config.getInstrument();
    view.logEvent(QStringLiteral("Instrument: ")
        + (instrument ? instrument->getLabel() : config::ConfigHelper::Instrument::getDefault().getLabel()));
    if (!config.getCustomRegEx().isEmpty())
        view.logEvent(QStringLiteral("Custom regEx: ") + config.getCustomRegEx());
    view.logEvent(options.print ? QStringLiteral("Values go to the standard output.")
                                : QStringLiteral("Values are typed on the keyboard."));

    QEventLoop loop;
    QObject::connect(worker.get(), &worker::WeightWorker::finished, &loop, &QEventLoop::quit);
    QCoreApplication::processEvents(); // a signal that came during the open
    if (stopRequested)
        worker->cancel(true); // the run does not start; done() reports it as stopped
    worker->execute();
    loop.exec();
    output->stop();

    if (worker->isCancelled())
        return 0;
    return 1; // the run ended by itself: device lost or a failure, both logged
}

} // namespace

void HeadlessRunner::setKeyboardOutputFactory(KeyboardOutputFactory factory)
{
    keyboardFactory() = std::move(factory);
}

bool HeadlessRunner::wants(const QStringList &arguments)
{
    return arguments.contains(QLatin1String("--headless")) || arguments.contains(QLatin1String("--list-ports"))
        || arguments.contains(QLatin1String("--detect"));
}

int HeadlessRunner::run(const QStringList &arguments)
{
    prepareProcess();
    const std::optional<Options> options = parse(arguments);
    if (!options)
        return 2;
    try {
        switch (options->command) {
        case Command::ListPorts:
            return listPorts(*options);
        case Command::Detect:
            return detect(*options);
        case Command::Run:
            return runOnce(*options);
        }
    } catch (const portlink::NativeLibraryError &e) {
        fail(e.message());
        return 2;
    }
    return 2;
}

QString HeadlessRunner::help()
{
    return QStringLiteral(
        "  --headless [PORT]  run without a window: read PORT (or the stored port) with the\n"
        "                     stored settings until SIGINT/SIGTERM; the event log goes to stderr\n"
        "  --print            with --headless: print each value on stdout instead of typing it\n"
        "  --set KEY=VALUE    with --headless: replace one stored setting for this run\n"
        "                     (keys as stored, e.g. instrument=SARTORIUS inputTerminator=10)\n"
        "  --list-ports       print the serial ports with their driver names and exit\n"
        "  --detect           find the port a device answers on (handshake lines) and exit\n"
        "  --simulate NAME    simulate the instrument NAME on a new pseudo-terminal\n"
        "                     [--interval MS] [--count N] [--sequence]; prints the terminal's\n"
        "                     path first; --sequence: the readings count 1, 2, 3, ...\n");
}

} // namespace omvara::headless
