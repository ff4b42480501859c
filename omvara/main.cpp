// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/ExtractionDemo.h"
#include "omvara/modes/HeadlessRunner.h"
#include "omvara/modes/SimulateCommand.h"
#include "omvara/modes/StoreCommands.h"
#include "omvara/outputs/keys/KeyInjectors.h"
#include "omvara/util/SignalStop.h"
#include "omvara/util/Version.h"
#include "omvara/window/RadezoZiDad.h"

#include <QCoreApplication>
#include <QTextStream>

#include <optional>

int main(int argc, char *argv[])
{
    // Every mode (window, headless, simulator): a connection the other end
    // dropped is a lost connection, never the end of the program.
    omvara::util::ignoreBrokenPipe();
    // The window needs a QApplication: this one is replaced when no command-line
    // mode takes over.
    std::optional<QCoreApplication> app(std::in_place, argc, argv);
    QTextStream out(stdout);
    QStringList args = app->arguments().mid(1);
    if (args.contains(QStringLiteral("--version"))) {
        out << omvara::util::versionInformation();
        return 0;
    }
    if (args.contains(QStringLiteral("--help"))) {
        out << "Usage: omvara [OPTION]... [PORT]\n"
               "Types data records from a serial instrument into the focused application.\n"
               "Without a mode option the window opens; PORT replaces the list of ports.\n\n"
               "  --demo             show value extraction on every sample line of the instrument\n"
               "                     catalogue and exit\n"
            << omvara::modes::storeCommandsHelp() << omvara::modes::HeadlessRunner::help()
            << omvara::outputs::keys::KeyInjectors::commandLineHelp()
            << "  --help             display this help and exit\n"
               "  --version          output version information and exit\n"
            << omvara::util::helpEpilogue();
        return 0;
    }
    QString keyboardProblem;
    if (!omvara::outputs::keys::KeyInjectors::takeCommandLineOption(args, &keyboardProblem)) {
        QTextStream(stderr) << "omvara: " << keyboardProblem << "\n";
        return 2;
    }
    if (args.contains(QStringLiteral("--demo"))) {
        for (const QString &argument : args) {
            if (argument != QLatin1String("--demo") && argument.startsWith(QLatin1Char('-'))) {
                QTextStream(stderr) << "omvara: " << omvara::util::unknownOptionText(argument) << "\n";
                return 2;
            }
        }
        return omvara::modes::runExtractionDemo(out);
    }
    if (args.contains(QStringLiteral("--simulate")))
        return omvara::modes::runSimulator(args);
    QTextStream err(stderr);
    if (const auto status
        = omvara::modes::runStoreCommands(args, QCoreApplication::applicationDirPath(), out, err))
        return *status;
    if (omvara::modes::HeadlessRunner::wants(args))
        return omvara::modes::HeadlessRunner::run(args);
    app.reset();
    // Refuses options it does not know and a missing display before anything opens.
    return omvara::RadezoZiDad::main(argc, argv, args);
}
