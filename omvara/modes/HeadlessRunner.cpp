// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/HeadlessRunner.h"

#include "omvara/util/ProcessSetup.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Connections.h"
#include "omvara/modes/HeadlessLog.h"
#include "omvara/modes/SettingsOverrides.h"
#include "omvara/reception/AutoPortWorker.h"
#include "omvara/run/Run.h"
#include "omvara/run/SharedOutputs.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/util/SignalStop.h"
#include "omvara/util/Version.h"
#include "portlink/Console.h"
#include "portlink/FriendlyPortUtil.h"
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/doctor/PortDoctor.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>
#include <optional>

namespace omvara::modes {

namespace {

using util::SignalStop;

enum class Command { Run, ListPorts, Detect, Doctor };

struct Options
{
    Command command = Command::Run;
    bool print = false;
    QString port;
    SettingsOverrides overrides;
    // --connection NAME=PORT, in the order given.
    QList<QPair<QString, QString>> connections;
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

// The value of option `name` at arguments[*i], given as "NAME VALUE" (which
// moves *i on) or "NAME=VALUE"; nothing when `a` is another option, or (with
// the failure told, `*missing` set) when the value is missing.
std::optional<QString> optionValue(
    const QStringList &arguments, qsizetype *i, QLatin1String name, const char *form, bool *missing)
{
    const QString &a = arguments[*i];
    if (a.startsWith(name + u'='))
        return a.mid(name.size() + 1);
    if (a != name)
        return std::nullopt;
    if (*i + 1 >= arguments.size()) {
        fail(QStringLiteral("%1 needs %2").arg(name, QLatin1String(form)));
        *missing = true;
        return std::nullopt;
    }
    return arguments[++*i];
}

std::optional<Options> parse(const QStringList &arguments)
{
    Options options;
    bool commandSeen = false;
    const auto command = [&](Command c) {
        if (commandSeen && options.command != c) {
            fail(QStringLiteral("give one of --headless, --list-ports, --detect and --doctor"));
            return false;
        }
        commandSeen = true;
        options.command = c;
        return true;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        QString problem;
        bool missing = false;
        if (a == QLatin1String("--headless")) {
            if (!command(Command::Run))
                return std::nullopt;
        } else if (a == QLatin1String("--list-ports")) {
            if (!command(Command::ListPorts))
                return std::nullopt;
        } else if (a == QLatin1String("--detect")) {
            if (!command(Command::Detect))
                return std::nullopt;
        } else if (a == QLatin1String("--doctor")) {
            if (!command(Command::Doctor))
                return std::nullopt;
        } else if (a == QLatin1String("--print")) {
            options.print = true;
        } else if (const auto assignment
            = optionValue(arguments, &i, QLatin1String("--set"), "KEY=VALUE", &missing)) {
            if (!options.overrides.add(*assignment, &problem)) {
                fail(problem);
                return std::nullopt;
            }
        } else if (missing) {
            return std::nullopt;
        } else if (const auto connection
            = optionValue(arguments, &i, QLatin1String("--connection"), "NAME=PORT", &missing)) {
            const QString &assignment = *connection;
            const qsizetype eq = assignment.indexOf(u'=');
            const QString name = assignment.left(eq);
            if (eq <= 0 || eq + 1 == assignment.size()) {
                fail(QStringLiteral("--connection needs NAME=PORT, not \"%1\"").arg(assignment));
                return std::nullopt;
            }
            if (const QString why = config::ConnectionName::problem(name); !why.isEmpty()) {
                fail(QStringLiteral("--connection \"%1\": %2").arg(assignment, why));
                return std::nullopt;
            }
            for (const auto &c : std::as_const(options.connections))
                if (c.first == name) {
                    fail(QStringLiteral("--connection %1 is given twice").arg(name));
                    return std::nullopt;
                }
            options.connections.append({ name, assignment.mid(eq + 1) });
        } else if (missing) {
            return std::nullopt;
        } else if (isStoreOption(a)) {
            ++i; // its value; the store commands have taken the option already
        } else if (a.startsWith(QLatin1String("--prefs-file="))) {
        } else if (a.startsWith(QLatin1String("-"))) {
            fail(util::unknownOptionText(a));
            return std::nullopt;
        } else if (options.port.isEmpty()) {
            options.port = a;
        } else {
            fail(QStringLiteral("more than one port given: \"%1\" and \"%2\"").arg(options.port, a));
            return std::nullopt;
        }
    }
    if (!options.port.isEmpty() && !options.connections.isEmpty()) {
        fail(QStringLiteral("give the port with --connection NAME=PORT, not as \"%1\"").arg(options.port));
        return std::nullopt;
    }
    return options;
}

// What a run shows without a window: the event log on the error output with
// each received line and its value; the questions answered there too.
class HeadlessView : public run::RunObserver, public run::RunQuestions
{
public:
    // `mark` begins every entry of this run ("[balance-1] " when several
    // connections run); the log is shared by them.
    explicit HeadlessView(HeadlessLog &log, QString mark = {})
        : log(log)
        , mark(std::move(mark))
    {
    }
    HeadlessLog &log;
    const QString mark;
    // Set when the run did not start: the exit status.
    int failureStatus = 0;

    void logEvent(const QString &message) override { log.logEvent(mark + message); }
    void logImportantEvent(const QString &message) override { log.logImportantEvent(mark + message); }
    void fail(const QString &message) { modes::fail(mark + message); }
    void runStarted(const run::RunStart &start) override
    {
        if (start.typing) {
            logEvent(QStringLiteral("Keyboard output started. Keyboard layout: ")
                + start.config.getKeyboardType().toString() + QStringLiteral(" (") + start.keyboardBackend
                + QStringLiteral(", desktop layout ") + start.keyboardLayout + QLatin1Char(')'));
            if (!start.keyboardChoice.isEmpty())
                logEvent(QStringLiteral("Keyboard output: ") + start.keyboardChoice);
            if (!start.keyboardWarning.isEmpty())
                logImportantEvent(start.keyboardWarning);
        }
        const auto *instrument = start.config.getInstrument();
        logEvent(QStringLiteral("Instrument: ")
            + (instrument ? instrument->getLabel()
                          : config::ConfigHelper::Instrument::getDefault().getLabel()));
        if (!start.config.getCustomRegEx().isEmpty())
            logEvent(QStringLiteral("Custom regEx: ") + start.config.getCustomRegEx());
        logEvent(start.printing ? QStringLiteral("Values go to the standard output.")
                                : QStringLiteral("Values are typed on the keyboard."));
    }
    void lineReceived(const processing::DataLine &line) override
    {
        const QString raw = line.getRawData();
        const QString value = line.getProcessedData();
        QString entry;
        entry.reserve(mark.size() + raw.size() + value.size() + 12);
        entry += mark;
        entry += raw;
        if (line.hasValue()) {
            entry += QLatin1String("  -> ");
            entry += value;
        } else {
            entry += QLatin1String("  (ignored)");
        }
        log.gatherAt(line.getInstant(), entry);
    }
    void linesShown() override { log.flush(); }

    void stateChanged(const run::RunState &state) override
    {
        // Nobody is there to look at the field a cut value went to.
        if (state.ended() && state.end == run::RunState::End::Cut && !cutTold) {
            cutTold = true;
            fail(state.reason);
        }
    }
    bool cutTold = false;

    bool goOnWithoutKeyboard(const QString &reason) override
    {
        // Before the port is opened: a run that is not to type says so with --print.
        fail(QStringLiteral("the keyboard output cannot be used: ") + reason
            + QStringLiteral(" To run without typing, use --print."));
        failureStatus = 2;
        return false;
    }
    void capsLockOn() override
    {
        logImportantEvent(QStringLiteral(
            "Caps Lock is on. Please turn it off, or letters will be typed in the wrong case."));
    }
    void soundFailed(const QString &reason) override { logImportantEvent(reason); }
    void deviceWarning(const QString &, const QString &message) override { logImportantEvent(message); }
    void cannotStart(run::StartFailure failure, const QString &message) override
    {
        fail(message);
        failureStatus = failure == run::StartFailure::NoSerialLibrary ? 2 : 1;
    }
    // A record that cannot be written is a setting to mend (the port is not opened).
    bool goOnWithoutRecord(const QString &reason) override
    {
        fail(reason);
        failureStatus = 2;
        return false;
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
    util::prepareProcess();
}

// The ports to offer: the one named on the command line, else the discovered ones.
QStringList portList(const Options &options)
{
    if (!options.port.isEmpty())
        return { options.port };
    try {
        return portlink::PortRegistry::getPortList();
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
        portlink::FriendlyPortUtil::update();
        if (portlink::FriendlyPortUtil::portInfoListIsPopulated()) {
            shown.clear();
            for (const QString &port : ports)
                shown.append(portlink::FriendlyPortUtil::getFriendlyPortName(port));
        }
    } catch (const std::exception &) {
        // No driver data on this system: the bare names.
    }
    for (const QString &name : shown)
        std::printf("%s\n", qPrintable(name));
    std::fflush(stdout);
    return 0;
}

class DetectionView : public reception::AutoPortWorkerView
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
    reception::AutoPortWorker detection(ports, view);
    SignalStop stop;
    QObject::connect(&stop, &SignalStop::stopRequested, &detection, [&] { detection.cancel(true); });
    QEventLoop loop;
    QObject::connect(&detection, &reception::AutoPortWorker::finished, &loop, &QEventLoop::quit);
    detection.execute();
    loop.exec();
    if (detection.isCancelled())
        return 0;
    return view.selected ? 0 : 1;
}

// Says why the port (or each USB serial adapter) cannot be used, and how to
// mend it. Reads the system only: no device is opened.
int doctor(const Options &options)
{
    const portlink::doctor::LocalSystemView system;
    std::vector<portlink::doctor::Diagnosis> found;
    if (options.port.isEmpty())
        found = portlink::doctor::diagnoseAdapters(system);
    else
        found.push_back(portlink::doctor::diagnosePort(options.port, system));
    bool inTheWay = false;
    for (std::size_t i = 0; i < found.size(); ++i) {
        std::printf("%s%s", i ? "\n" : "", qPrintable(portlink::doctor::describe(found[i])));
        inTheWay = inTheWay || found[i].standsInTheWay();
    }
    std::fflush(stdout);
    return inTheWay ? 1 : 0;
}

int runOnce(const Options &options)
{
    HeadlessLog log;
    HeadlessView loading(log);
    QStringList named;
    for (const auto &c : options.connections)
        named << c.first;
    config::Connections stored;
    {
        std::optional<config::ConfigStore> store;
        store.emplace(QCoreApplication::applicationDirPath());
        bool valid = true;
        QString replaced, problem;
        QStringList notes;
        const QStringList ports = options.connections.isEmpty() ? portList(options) : QStringList();
        try {
            valid = options.overrides.loadConnections(
                stored, &*store, ports, named, &problem, &replaced, &notes);
        } catch (const std::exception &e) {
            loading.logImportantEvent(
                QStringLiteral("The stored settings cannot be read (%1); using the defaults.")
                    .arg(QString::fromUtf8(e.what())));
            problem.clear();
            valid = options.overrides.loadConnections(
                stored, nullptr, ports, named, &problem, &replaced, &notes);
        }
        if (!problem.isEmpty()) {
            fail(problem);
            return 2;
        }
        if (!valid) {
            loading.logImportantEvent(
                QStringLiteral("An invalid stored setting was replaced by its default value."));
            for (const QString &line : replaced.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                loading.logImportantEvent(QStringLiteral("  ") + line);
        }
        for (const QString &note : notes)
            loading.logImportantEvent(QStringLiteral("Note on a setting: ") + note);
    }
    // The connections of this run: the first, or those named on the command line.
    std::vector<config::Config> configs;
    if (options.connections.isEmpty()) {
        configs.push_back(std::move(stored.first()));
        if (!options.port.isEmpty())
            configs.back().setPort(options.port);
    } else {
        for (const auto &[name, port] : options.connections) {
            configs.push_back(stored.find(name)->copyConfig());
            configs.back().setPort(port);
        }
    }
    const bool several = configs.size() > 1;
    if (several) {
        std::vector<const config::Config *> running;
        for (const config::Config &config : configs)
            running.push_back(&config);
        if (const QString clash = config::hotkeyClash(running); !clash.isEmpty()) {
            fail(clash);
            return 2;
        }
    }

    // Watched from before the port is opened: SIGINT or SIGTERM while a slow
    // driver opens it stops the run once the open returns, instead of ending
    // the process with the port half set up.
    SignalStop stop;
    bool stopAsked = false;
    const auto stopPending = [&stop, &stopAsked] { return stopAsked = stopAsked || stop.takePending(); };
    // Several connections share the keyboard (in turns), the record file,
    // the broker, and may not share a port.
    const std::shared_ptr<run::SharedOutputs> shared
        = several ? std::make_shared<run::SharedOutputs>() : nullptr;
    std::vector<std::unique_ptr<HeadlessView>> views;
    std::vector<std::unique_ptr<run::Run>> runs; // those started (or that tried)
    QEventLoop loop;
    const auto allEnded = [&runs] {
        return std::all_of(runs.begin(), runs.end(), [](const auto &r) { return r->state().ended(); });
    };
    bool lastStopped = false;
    int failure = 0; // the status of connections that could not start
    // Also while a run starts (a network port being connected, the desktop's question).
    QObject::connect(&stop, &SignalStop::stopRequested, &loop, [&runs] {
        for (const auto &run : runs)
            run->stop();
    });
    for (config::Config &config : configs) {
        if (stopPending())
            break;
        views.push_back(std::make_unique<HeadlessView>(
            log, several ? QStringLiteral("[%1] ").arg(config.getConnectionName()) : QString()));
        HeadlessView &view = *views.back();
        run::Run::Options runOptions;
        runOptions.print = options.print;
        runOptions.printNames = several;
        runOptions.shared = shared;
        runOptions.sound = false; // a run without a window makes no sound
        runOptions.endAtCut = true; // nobody can look at the field and resume
        // Nobody may be at the desktop to answer its question about typing.
        runOptions.permissionWait = std::chrono::minutes(2);
        runOptions.stopRequested = stopPending;
        runs.push_back(std::make_unique<run::Run>(std::move(config), std::move(runOptions), view, view));
        run::Run &run = *runs.back();
        QObject::connect(&run, &run::Run::ended, &loop, [&, r = &run] {
            lastStopped = r->state().end == run::RunState::End::Stopped;
            if (allEnded())
                loop.quit();
        });
        if (run.start())
            continue;
        const int status = run.state().end == run::RunState::End::Stopped ? 0 : view.failureStatus;
        // One connection, or a setting to mend before any port opens (the
        // keyboard, the record file): nothing runs.
        if (!several || status == 2) {
            for (const auto &other : runs)
                other->stop();
            for (const auto &other : runs)
                other->waitForOutputs();
            return status;
        }
        // A port that cannot be opened ends that connection alone.
        failure = std::max(failure, status);
    }
    QObject::connect(&stop, &SignalStop::readingRequested, &loop, [&runs] {
        for (const auto &run : runs)
            run->request(run::RequestOrigin::Signal);
    });
    if (stopAsked)
        for (const auto &run : runs)
            run->stop();
    const bool anyStarted
        = std::any_of(runs.begin(), runs.end(), [](const auto &r) { return !r->state().ended(); });
    if (!allEnded())
        loop.exec();
    for (const auto &run : runs)
        run->waitForOutputs();
    if (!anyStarted)
        return stopAsked ? 0 : failure;
    return lastStopped ? 0 : 1;
}

} // namespace

bool HeadlessRunner::wants(const QStringList &arguments)
{
    return arguments.contains(QLatin1String("--headless"))
        || arguments.contains(QLatin1String("--list-ports")) || arguments.contains(QLatin1String("--detect"))
        || arguments.contains(QLatin1String("--doctor"));
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
        case Command::Doctor:
            return doctor(*options);
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
        "                     stored settings until SIGINT/SIGTERM; the event log goes to stderr;\n"
        "                     SIGUSR1 asks the instrument for a reading\n"
        "  --print            with --headless: print each value on stdout instead of typing it\n"
        "  --set KEY=VALUE    with --headless or the window: replace one stored setting for\n"
        "                     this run (keys as stored, e.g. instrument=SARTORIUS\n"
        "                     inputTerminator=10); --set NAME:KEY=VALUE replaces it for the\n"
        "                     connection NAME only\n"
        "  --connection NAME=PORT  with --headless or the window, repeated: these connections,\n"
        "                     each on its port; a name not stored starts from a copy of the\n"
        "                     first connection's settings; with several, --print writes\n"
        "                     NAME<TAB>VALUE\n"
        "  --list-ports       print the serial ports with their driver names and exit\n"
        "  --detect           find the port a device answers on (handshake lines) and exit\n"
        "  --doctor [PORT]    say what stands in the way of using PORT (or every USB serial\n"
        "                     adapter) and how to mend it; opens no device; exit status 0\n"
        "                     when nothing stands in the way, 1 otherwise\n"
        "  --simulate NAME    simulate the instrument NAME on a new pseudo-terminal\n"
        "                     [--interval MS] [--count N] [--sequence]; prints the terminal's\n"
        "                     path first; --sequence: the readings count 1, 2, 3, ...;\n"
        "                     --on-request [--request-command TEXT]: a record only in answer\n"
        "                     to the instrument's request command (or TEXT)\n");
}

} // namespace omvara::modes
