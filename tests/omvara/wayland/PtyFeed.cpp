// SPDX-License-Identifier: GPL-3.0-or-later
// omvara_pty_feed [--after-line] FILE: a serial device for the shell rigs.
// Creates a pseudo-terminal and prints the path of its port side; once a
// program has opened the port (and, with --after-line, a line has arrived on
// the standard input), writes each line of FILE as one record ended by a
// carriage return, then waits until everything has been read and stays until
// it is ended (SIGTERM), so the port does not go away under the reader.
// Exit status 1 when the port is not opened within 60 s or FILE cannot be read.
#include "omvara/sim/PseudoTerminal.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <unistd.h>

using namespace std::chrono_literals;

int main(int argc, char **argv)
{
    const bool afterLine = argc == 3 && QByteArray(argv[1]) == "--after-line";
    if (argc != 2 && !afterLine) {
        std::fprintf(stderr, "usage: omvara_pty_feed [--after-line] FILE\n");
        return 2;
    }
    const char *path = argv[argc - 1];
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "omvara_pty_feed: cannot read %s\n", path);
        return 1;
    }
    QByteArray records;
    for (QByteArray line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            records += line + '\r';
    }
    omvara::sim::PseudoTerminal device(false);
    std::printf("%s\n", qPrintable(device.devicePath()));
    std::fflush(stdout);
    if (!device.waitForPortOpen(60s)) {
        std::fprintf(stderr, "omvara_pty_feed: nobody opened %s\n", qPrintable(device.devicePath()));
        return 1;
    }
    if (afterLine) {
        char line[80];
        if (!std::fgets(line, sizeof line, stdin))
            return 1;
    }
    device.write(records);
    device.waitUntilRead(60s);
    for (;;)
        ::pause();
}
