// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/Version.h"
#include "omvara/config/StoreCommands.h"
#include "omvara/worker/ExtractionDemo.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--version"))) {
        out << "omvara " << omvara::programVersion() << "\n";
        return 0;
    }
    if (args.contains(QStringLiteral("--demo")))
        return omvara::worker::runExtractionDemo(out);
    QTextStream err(stderr);
    if (const auto status = omvara::config::runStoreCommands(args, QCoreApplication::applicationDirPath(), out, err))
        return *status;
    out << "Usage: omvara [OPTION]... [PORT]\n"
           "Types data records from a serial instrument into the focused application.\n\n"
           "  --help      display this help and exit\n"
           "  --demo      show value extraction on every sample line of the instrument catalogue\n"
           "  --version   output version information and exit\n"
        << omvara::config::storeCommandsHelp();
    return 0;
}
