// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the documentation's pictures: omvara_screenshots FOLDER (scripts/screenshots).
#include "RunsTestSupport.h"
#include "Screenshots.h"

#include <QTextStream>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        QTextStream(stderr) << "usage: omvara_screenshots FOLDER\n";
        return 2;
    }
    runs_test::app();
    const QStringList written = runs_test::renderScreenshots(QString::fromLocal8Bit(argv[1]));
    QTextStream out(stdout);
    for (const QString &file : written)
        out << file << '\n';
    return written.isEmpty() ? 1 : 0;
}
