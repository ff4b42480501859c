// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/Version.h"

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
    out << "Usage: omvara [OPTION]... [PORT]\n"
           "Types data records from a serial instrument into the focused application.\n\n"
           "  --help      display this help and exit\n"
           "  --version   output version information and exit\n";
    return 0;
}
