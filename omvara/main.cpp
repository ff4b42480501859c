// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/Version.h"
#include "omvara/config/StoreCommands.h"
#include "omvara/headless/HeadlessRunner.h"
#include "omvara/headless/KeyboardValueOutput.h"
#include "omvara/sim/InstrumentSimulator.h"
#include "omvara/worker/ExtractionDemo.h"
#include "omvara/worker/keys/KeyInjectors.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--version"))) {
        out << "omvara " << omvara::programVersion() << "\n";
        return 0;
    }
    QString keyboardProblem;
    if (!omvara::worker::keys::KeyInjectors::takeCommandLineOption(args, &keyboardProblem)) {
        QTextStream(stderr) << "omvara: " << keyboardProblem << "\n";
        return 2;
    }
    omvara::headless::KeyboardValueOutput::install();
    if (args.contains(QStringLiteral("--demo")))
        return omvara::worker::runExtractionDemo(out);
    if (args.contains(QStringLiteral("--simulate")))
        return omvara::sim::runSimulator(args);
    QTextStream err(stderr);
    if (const auto status = omvara::config::runStoreCommands(args, QCoreApplication::applicationDirPath(), out, err))
        return *status;
    if (omvara::headless::HeadlessRunner::wants(args))
        return omvara::headless::HeadlessRunner::run(args);
    out << "Usage: omvara [OPTION]... [PORT]\n"
           "Types data records from a serial instrument into the focused application.\n\n"
           "  --help      display this help and exit\n"
           "  --demo      show value extraction on every sample line of the instrument catalogue\n"
           "  --version   output version information and exit\n"
        << omvara::config::storeCommandsHelp() << omvara::headless::HeadlessRunner::help()
        << omvara::worker::keys::KeyInjectors::commandLineHelp();
    return 0;
}
